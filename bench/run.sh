#!/bin/sh
# The benchmarks, all in one run: builds a release build of its own, makes
# the corpora, measures building, extracting, the stub under Wine and the
# decoders side by side with their peers (bench/benchmarks.py), and writes
# docs/benchmarks.md and docs/images/benchmarks.png.
#
# Usage: bench/run.sh [BENCH_DIR]   (default /tmp/dravik-bench: the build in
#   BENCH_DIR/build, the corpora in BENCH_DIR/work, made once and never
#   committed; delete BENCH_DIR/work to make them again)
# Environment: RUNS (repetitions of each timing, default 3), OUT_DIR (where
#   extraction writes, default a folder in /dev/shm).
# bench/wine_extract.sh reruns the Wine measurement alone.
set -eu
case ${1:-} in -h|--help) sed -n '2,13p' "$0" | cut -c3-; exit 0 ;; esac
src=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-/tmp/dravik-bench}
"$src/bench/prepare.sh" "$bench"
python3 "$src/bench/benchmarks.py" all "$bench"
