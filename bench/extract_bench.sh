#!/usr/bin/env bash
# Extraction side by side: dravik-sfx extract of a self-extractor made with
# `build --zip` from the corpus archive (zip -9), against Info-ZIP unzip,
# 7z and Python's zipfile on the same archive; then an archive of 20,000
# small files in nested folders. Prints each tool's best time of a few runs,
# the ratios to unzip, and dravik-sfx's peak memory (/usr/bin/time -v).
#
# Usage: bench/extract_bench.sh [BUILD_DIR]   (default /tmp/build-bench)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/build-bench}
[ -f "$build/build.ninja" ] || cmake -S "$src" -B "$build" -G Ninja >/dev/null
ninja -C "$build" dravik-sfx >/dev/null
sfx_tool=$build/builder/dravik-sfx
work=$build/bench/extract
# Extracting into memory (tmpfs) measures the tools rather than the disk;
# OUT_DIR chooses another place.
out_dir=${OUT_DIR:-/dev/shm/dravik-extract-bench}
corpus=$build/bench/corpus.zip
[ -f "$corpus" ] || "$src/bench/make_corpus.sh" "$build/bench"
mkdir -p "$work"
runs=${RUNS:-3}

# Best wall time of `runs` runs of a command that extracts into $out_dir.
best_time() {
  local best=""
  for _ in $(seq "$runs"); do
    rm -rf "$out_dir"
    mkdir -p "$out_dir"
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    local t
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

compare() {
  local title=$1 zip=$2 sfx=$3
  "$sfx_tool" build -o "$sfx" --zip "$zip"
  local ours unzip7 sevenz python
  ours=$(best_time "$sfx_tool" extract "$sfx" -d "$out_dir" --overwrite)
  unzip7=$(best_time unzip -o -q "$zip" -d "$out_dir")
  sevenz=$(best_time 7z x -y -o"$out_dir" "$zip")
  python=$(best_time python3 -c "import zipfile,sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" "$zip" "$out_dir")
  echo "== $title"
  printf '%-22s %8.3f s\n' "dravik-sfx extract" "$ours" "unzip -o -q" "$unzip7" "7z x" "$sevenz" \
    "python zipfile" "$python"
  printf 'ratio to unzip: dravik-sfx %.2f, 7z %.2f, zipfile %.2f\n' \
    "$(echo "$ours / $unzip7" | bc -l)" "$(echo "$sevenz / $unzip7" | bc -l)" "$(echo "$python / $unzip7" | bc -l)"
  rm -rf "$out_dir"
  mkdir -p "$out_dir"
  /usr/bin/time -v "$sfx_tool" extract "$sfx" -d "$out_dir" --overwrite 2>&1 >/dev/null |
    sed -n 's/.*Maximum resident set size (kbytes): /dravik-sfx peak memory (KiB): /p'
}

compare "corpus (about 100 MB, zip -9)" "$corpus" "$work/corpus.exe"

small=$work/small.zip
if [ ! -f "$small" ]; then
  python3 - "$work/small-src" <<'PY'
import os, random, sys
random.seed(7)
root = sys.argv[1]
for i in range(20000):
    folder = os.path.join(root, "d%02d" % (i % 40), "e%02d" % (i % 13), "f%d" % (i % 5))
    os.makedirs(folder, exist_ok=True)
    words = " ".join(random.choice(["alpha", "beta", "gamma", "delta", str(i)]) for _ in range(random.randint(40, 800)))
    with open(os.path.join(folder, "file%05d.txt" % i), "w") as f:
        f.write(words)
PY
  (cd "$work/small-src" && zip -q -9 -r "$small" .)
fi
compare "20,000 small files in nested folders (zip -9)" "$small" "$work/small.exe"
