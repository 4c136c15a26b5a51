#!/usr/bin/env python3
"""Package variants for the installer tests, made on the build host.

  package_variant.py zeros OUT SIZE          a file of SIZE zero bytes
  package_variant.py damage IN OUT ENTRY     IN with the first stored byte of
                                             entry ENTRY flipped (all bits)

The package starts with three 156-byte entries; an entry's data offset is the
little-endian 32-bit value at byte 128 of the entry.
"""
import struct
import sys


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def main(argv):
    if len(argv) == 4 and argv[1] == "zeros":
        write(argv[2], bytes(int(argv[3])))
        return 0
    if len(argv) == 5 and argv[1] == "damage":
        with open(argv[2], "rb") as source:
            package = bytearray(source.read())
        entry = int(argv[4])
        if not 0 <= entry < 3 or len(package) < 468:
            sys.exit("package_variant: no such entry or not a package")
        (offset,) = struct.unpack_from("<I", package, 156 * entry + 128)
        if offset >= len(package):
            sys.exit("package_variant: entry %d starts outside the package" % entry)
        package[offset] ^= 0xFF
        write(argv[3], bytes(package))
        return 0
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
