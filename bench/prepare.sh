#!/bin/sh
# What the benchmarks need, made once under BENCH_DIR: a release build
# (dravik-sfx with both stubs, and the decoder benchmark) in BENCH_DIR/build,
# and the two corpora with their zip -9 archives in BENCH_DIR/work.
#
# Usage: bench/prepare.sh BENCH_DIR
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
bench=$1
build=$bench/build
work=$bench/work
# A build made from another checkout (a worktree, an older clone) would
# measure that checkout's code: it is made again from this one.
if [ -f "$build/CMakeCache.txt" ] &&
   ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$src" "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
[ -f "$build/build.ninja" ] || cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" dravik-sfx inflate_bench >/dev/null
mkdir -p "$work"
[ -f "$work/corpus.zip" ] || "$src/bench/make_corpus.sh" "$work" mixed
[ -f "$work/software.zip" ] || "$src/bench/make_corpus.sh" "$work" software
