#!/usr/bin/env python3
"""Writes the seed corpus of the deflate decoder's fuzz target into inflate/:
small raw deflate streams made by zlib (stored, fixed, dynamic, Huffman-only
and run-length blocks; one of them over more than a window), so that the
fuzzer starts from valid streams of every block type.

Run from this folder: python3 make_inflate_corpus.py
"""
import os
import random
import zlib

TEXT = b"The decoder keeps the last 32 KiB of output in its window.\n" * 12
rng = random.Random(1951)
NOISE = bytes(rng.randrange(256) for _ in range(600))
RUNS = b"a" * 300 + b"b" * 40 + bytes(range(64)) * 3
LONG = (TEXT + NOISE) * 60  # more than one 32 KiB window

SEEDS = [
    ("stored", TEXT[:200], 0, zlib.Z_DEFAULT_STRATEGY),
    ("fixed", TEXT[:120], 6, zlib.Z_FIXED),
    ("dynamic_text", TEXT, 9, zlib.Z_DEFAULT_STRATEGY),
    ("dynamic_noise", NOISE, 9, zlib.Z_DEFAULT_STRATEGY),
    ("huffman_only", TEXT[:300], 9, zlib.Z_HUFFMAN_ONLY),
    ("rle", RUNS, 9, zlib.Z_RLE),
    ("empty", b"", 9, zlib.Z_DEFAULT_STRATEGY),
    ("long", LONG, 1, zlib.Z_DEFAULT_STRATEGY),
]

os.makedirs("inflate", exist_ok=True)
for name, data, level, strategy in SEEDS:
    z = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    with open(os.path.join("inflate", name + ".raw"), "wb") as f:
        f.write(z.compress(data) + z.flush())
