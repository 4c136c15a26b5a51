#!/usr/bin/env python3
"""Writes the three stand-in product files of the benchmark package, with the
sizes of the package in use: Orlocast.exe 2,227,736 bytes, readme.txt 5,054
bytes, OrloCastOnTheShow.pdf 453,201 bytes (package: 2,686,459 bytes).

The contents are deterministic. The program is the stand-in product padded
with a mix of repeated text and pseudo-random bytes (roughly what a real
program compresses like); the readme is text; the document is pseudo-random
bytes, as a PDF's compressed streams are.
    make_bench_files.py STAND_IN_EXE OUT_DIR
"""
import os
import sys

SIZES = {"Orlocast.exe": 2227736, "readme.txt": 5054, "OrloCastOnTheShow.pdf": 453201}


def pseudo_random(length, seed):
    out = bytearray(length)
    x = seed
    for i in range(length):
        x = (x * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


def main():
    stand_in, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    exe = open(stand_in, "rb").read()
    text = (b"Orlo-Cast broadcast stream server by Fenmarch. Configure the stream, "
            b"the encoder and the listeners in the settings window.\r\n")
    body = bytearray(exe)
    chunk = 0
    while len(body) < SIZES["Orlocast.exe"]:
        # Alternate 16 KB of text-like and 16 KB of random-like bytes.
        if chunk % 2 == 0:
            body += (text * (16384 // len(text) + 1))[:16384]
        else:
            body += pseudo_random(16384, chunk)
        chunk += 1
    files = {
        "Orlocast.exe": bytes(body[:SIZES["Orlocast.exe"]]),
        "readme.txt": (text * (SIZES["readme.txt"] // len(text) + 1))[:SIZES["readme.txt"]],
        "OrloCastOnTheShow.pdf": b"%PDF-1.4\n" + pseudo_random(SIZES["OrloCastOnTheShow.pdf"] - 9, 7),
    }
    for name, data in files.items():
        assert len(data) == SIZES[name], name
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
