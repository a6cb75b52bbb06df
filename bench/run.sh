#!/bin/sh
# Builds and runs the decoder benchmark, then counts instructions with
# callgrind for each decoder on a ~5 MB slice of the corpus.
#
# Usage: bench/run.sh [BUILD_DIR]   (default /tmp/build-bench; the corpus is
# made there once, under bench/, and never committed)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/build-bench}
[ -f "$build/build.ninja" ] || cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" inflate_bench >/dev/null
bench=$build/bench/inflate_bench
corpus=$build/bench/corpus.zip
[ -f "$corpus" ] || "$src/bench/make_corpus.sh" "$build/bench"

echo "== throughput, whole corpus"
"$bench" "$corpus" --runs 5

echo "== callgrind, first ~5 MB of output"
slice=5000000
counts=""
for decoder in ours zlib libdeflate; do
  out=$build/bench/callgrind.$decoder
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='*DecodeAll*' \
    "$bench" "$corpus" --limit $slice --runs 1 --no-check --decoder $decoder >/dev/null 2>&1
  n=$(sed -n 's/^summary: *//p' "$out")
  counts="$counts $n"
  printf '%-10s %14s instructions\n' "$decoder" "$n"
done
set -- $counts
awk -v o="$1" -v z="$2" -v l="$3" \
  'BEGIN { printf "ours / zlib:       %.2f\nours / libdeflate: %.2f\n", o / z, o / l }'
