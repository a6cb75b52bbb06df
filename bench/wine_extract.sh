#!/bin/sh
# The stub under Wine alone: the x64 self-extractor of the corpus (or SFX.exe,
# built for x64) extracted unattended with /auto FOLDER under 64-bit Wine,
# against dravik-sfx extract of the same file, taking turns; prints the table
# that docs/benchmarks.md shows. Reruns one row of bench/run.sh, for work on
# the stub's speed; it does not rewrite the document.
#
# Usage: bench/wine_extract.sh [BENCH_DIR [SFX.exe]]   (default /tmp/dravik-bench)
# Environment: RUNS (default 3).
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-/tmp/dravik-bench}
"$src/bench/prepare.sh" "$bench"
if [ $# -lt 2 ]; then  # made again each time: the stub may have changed
  "$bench/build/builder/dravik-sfx" build -q --arch x64 -o "$bench/work/corpus-x64.exe" --zip "$bench/work/corpus.zip"
fi
python3 "$src/bench/benchmarks.py" wine "$bench" ${2:+"$2"}
