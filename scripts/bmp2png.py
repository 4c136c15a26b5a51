#!/usr/bin/env python3
"""Turns the BMP screenshots of a test run into PNG files beside them.

  bmp2png.py FOLDER [NAME...]

Every *.bmp in FOLDER (uncompressed, 24 or 32 bits per pixel) becomes a
*.png of the same name. With NAMEs, each of them must have been among the
screenshots (as PREFIX-NAME.bmp for any prefix), or the run fails. Uses only
the standard library.
"""
import glob
import os
import struct
import sys
import zlib


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("%s: not a BMP file" % path)
    (offset,) = struct.unpack_from("<I", data, 10)
    (header_size, width, height, _planes, bits, compression) = struct.unpack_from("<IiiHHI", data, 14)
    if compression != 0 or bits not in (24, 32):
        raise ValueError("%s: only uncompressed 24- and 32-bit pictures are read" % path)
    top_down = height < 0
    height = abs(height)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(height):
        source = y if top_down else height - 1 - y
        start = offset + source * stride
        line = data[start:start + width * step]
        row = bytearray(width * 3)
        row[0::3] = line[2::step]
        row[1::3] = line[1::step]
        row[2::3] = line[0::step]
        rows.append(bytes(row))
    return width, height, rows


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def write_png(path, width, height, rows):
    raw = b"".join(b"\x00" + row for row in rows)
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    folder, wanted = argv[1], argv[2:]
    pictures = sorted(glob.glob(os.path.join(folder, "*.bmp")))
    for bmp in pictures:
        width, height, rows = read_bmp(bmp)
        png = bmp[:-4] + ".png"
        write_png(png, width, height, rows)
        print("%s: %d x %d" % (png, width, height))
    names = [os.path.basename(p)[:-4] for p in pictures]
    missing = [w for w in wanted if not any(n.endswith("-" + w) for n in names)]
    if missing:
        sys.exit("bmp2png: no screenshot of: " + ", ".join(missing))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
