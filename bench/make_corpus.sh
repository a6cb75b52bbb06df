#!/bin/sh
# Assembles a benchmark corpus from files of this machine and zips it with
# zip -9. Files are taken in sorted order up to a fixed byte budget per kind
# (each at most 8 MiB), so the same machine gives the same corpus every time.
# Corpora are made where the benchmarks run and never committed.
#
#   mixed     (OUTPUT_DIR/corpus, about 100 MB) text and source code
#             (/usr/include, text files under /usr/share), executables
#             (/usr/bin), shared libraries (/usr/lib) and 8 MiB of
#             incompressible bytes from a fixed seed
#   software  (OUTPUT_DIR/software, about 50 MB) what an installer carries:
#             executables and shared libraries from /usr/lib, Python
#             sources, and files that are compressed already (.gz, .png,
#             .jar, .xz, .zip, .jpg under /usr/share)
#
# Usage: make_corpus.sh OUTPUT_DIR [mixed|software]   (default mixed; writes
# the tree and, beside it, the tree's name with .zip)
set -eu
out=$1
kind=${2:-mixed}
case $kind in
  mixed) name=corpus ;;
  software) name=software ;;
  *) echo "make_corpus.sh: unknown corpus $kind" >&2; exit 64 ;;
esac
tree=$out/$name
rm -rf "$tree" "$out/$name.zip"
mkdir -p "$tree"

# take KIND BUDGET_BYTES: copies regular files named on stdin (sorted, each
# at most 8 MiB) into $tree/KIND until the budget is spent.
take() {
  kind=$1 budget=$2 used=0 n=0
  mkdir -p "$tree/$kind"
  LC_ALL=C sort | while IFS= read -r f; do
    [ -f "$f" ] && [ ! -L "$f" ] && [ -r "$f" ] || continue
    size=$(stat -c %s "$f")
    [ "$size" -gt 0 ] && [ "$size" -le 8388608 ] || continue
    [ $((used + size)) -le "$budget" ] || continue
    n=$((n + 1))
    cp "$f" "$tree/$kind/$(printf %05d $n)_$(basename "$f")"
    used=$((used + size))
  done
}

MB=1048576
if [ "$kind" = mixed ]; then
  find /usr/include -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.def' \) | take headers $((30 * MB))
  find /usr/share -type f \( -name '*.txt' -o -name '*.py' -o -name '*.pl' -o -name '*.html' \
       -o -name '*.xml' -o -name '*.css' -o -name '*.js' -o -name '*.md' \) | take text $((15 * MB))
  find /usr/bin -type f | take executables $((22 * MB))
  find /usr/lib -type f -name '*.so*' | take libraries $((25 * MB))
  python3 -c "
import random, sys
sys.stdout.buffer.write(random.Random(1951).randbytes(8 * 1024 * 1024))" > "$tree/random.bin"
else
  find /usr/lib -type f -perm -u+x ! -name '*.so*' | take executables $((15 * MB))
  find /usr/lib/x86_64-linux-gnu -type f -name '*.so*' | take libraries $((20 * MB))
  find /usr/lib/python3* -type f -name '*.py' | take sources $((10 * MB))
  find /usr/share -type f \( -name '*.gz' -o -name '*.png' -o -name '*.jar' -o -name '*.xz' \
       -o -name '*.zip' -o -name '*.jpg' \) | take compressed $((5 * MB))
fi

(cd "$out" && zip -9 -r -X -q "$name.zip" "$name")
echo "$name: $(du -sb "$tree" | cut -f1) bytes in $(find "$tree" -type f | wc -l) files;" \
     "$name.zip $(stat -c %s "$out/$name.zip") bytes"
