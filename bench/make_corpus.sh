#!/bin/sh
# Assembles the decoder benchmark's corpus, about 100 MB of mixed files, and
# zips it with zip -9: text and source code (/usr/include, text files under
# /usr/share), executables (/usr/bin), shared libraries (/usr/lib) and 8 MiB
# of incompressible bytes from a fixed seed. Files are taken in sorted order
# up to a fixed byte budget per kind, so the same machine gives the same
# corpus every time.
#
# Usage: make_corpus.sh OUTPUT_DIR   (writes OUTPUT_DIR/corpus.zip)
set -eu
out=$1
tree=$out/corpus
rm -rf "$tree" "$out/corpus.zip"
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
find /usr/include -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.def' \) | take headers $((30 * MB))
find /usr/share -type f \( -name '*.txt' -o -name '*.py' -o -name '*.pl' -o -name '*.html' \
     -o -name '*.xml' -o -name '*.css' -o -name '*.js' -o -name '*.md' \) | take text $((15 * MB))
find /usr/bin -type f | take executables $((22 * MB))
find /usr/lib -type f -name '*.so*' | take libraries $((25 * MB))
python3 -c "
import random, sys
sys.stdout.buffer.write(random.Random(1951).randbytes(8 * 1024 * 1024))" > "$tree/random.bin"

(cd "$out" && zip -9 -r -X -q corpus.zip corpus)
echo "corpus: $(du -sb "$tree" | cut -f1) bytes in $(find "$tree" -type f | wc -l) files;" \
     "corpus.zip $(stat -c %s "$out/corpus.zip") bytes"
