#!/usr/bin/env python3
"""Checks that a 32-bit Windows executable can load on Windows 2000.

  check-win2000-imports.py EXE ALLOWLIST [--omit DLL!Function]

Fails (exit 1) when the PE header declares a subsystem other than Windows
GUI or an OS or subsystem version above 5.0, when the image cannot be moved
(no relocations, or address-space randomisation not asked for) or is not
marked for data execution prevention, when a function is imported
by ordinal, or when an imported function is not in ALLOWLIST (lines
DLL!Function; '#' starts a comment). --omit drops one allowlist line, so
that the check can show that it notices a missing entry.
"""
import struct
import sys


def fail(message):
    print("check-win2000-imports: " + message)
    sys.exit(1)


def read_pe(path):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        fail("%s: no MZ header" % path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail("%s: no PE signature" % path)
    machine, sections, _, _, _, optional_size, characteristics = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if machine != 0x14C or magic != 0x10B:
        fail("%s: not a 32-bit x86 image (machine %#x, magic %#x)" % (path, machine, magic))
    os_major, os_minor = struct.unpack_from("<HH", data, optional + 40)
    sub_major, sub_minor = struct.unpack_from("<HH", data, optional + 48)
    subsystem, dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
    directories = struct.unpack_from("<I", data, optional + 92)[0]
    import_rva = struct.unpack_from("<I", data, optional + 96 + 8)[0] if directories > 1 else 0
    relocations = struct.unpack_from("<I", data, optional + 96 + 5 * 8 + 4)[0] if directories > 5 else 0
    # Relocations kept (file header flag 1 clear, a non-empty table), and
    # DYNAMIC_BASE (0x40) and NX_COMPAT (0x100) set.
    movable = not characteristics & 1 and relocations > 0 and dll_characteristics & 0x40
    protected = dll_characteristics & 0x100
    table = optional + optional_size
    section_list = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    def offset_of(rva):
        for _, virtual_size, address, raw_size, raw_offset in section_list:
            if address <= rva < address + max(virtual_size, raw_size):
                return rva - address + raw_offset
        fail("%s: address %#x lies in no section" % (path, rva))

    def text_at(rva):
        start = offset_of(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    imports = []
    descriptor = offset_of(import_rva) if import_rva else None
    while descriptor is not None:
        lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", data, descriptor)
        if name_rva == 0:
            break
        dll = text_at(name_rva)
        entry = offset_of(lookup or thunk)
        while True:
            value = struct.unpack_from("<I", data, entry)[0]
            if value == 0:
                break
            if value & 0x80000000:
                imports.append((dll, "#%d" % (value & 0xFFFF)))
            else:
                imports.append((dll, text_at(value + 2)))
            entry += 4
        descriptor += 20
    return (os_major, os_minor), (sub_major, sub_minor), subsystem, imports, movable, protected


def main(argv):
    if len(argv) not in (3, 5) or (len(argv) == 5 and argv[3] != "--omit"):
        print(__doc__)
        return 2
    exe, allowlist_path = argv[1], argv[2]
    allowed = set()
    for line in open(allowlist_path, encoding="ascii"):
        line = line.split("#", 1)[0].strip()
        if line:
            dll, _, function = line.partition("!")
            allowed.add((dll.lower(), function))
    if len(argv) == 5:
        dll, _, function = argv[4].partition("!")
        if (dll.lower(), function) not in allowed:
            print("check-win2000-imports: --omit %s is not in the allowlist" % argv[4])
            return 2
        allowed.discard((dll.lower(), function))

    os_version, subsystem_version, subsystem, imports, movable, protected = read_pe(exe)
    problems = []
    if subsystem != 2:
        problems.append("subsystem %d, not Windows GUI (2)" % subsystem)
    if os_version > (5, 0):
        problems.append("OS version %d.%d is above 5.0" % os_version)
    if subsystem_version > (5, 0):
        problems.append("subsystem version %d.%d is above 5.0" % subsystem_version)
    if not movable:
        problems.append("the image cannot be moved: relocations or DYNAMIC_BASE missing")
    if not protected:
        problems.append("NX_COMPAT is not set")
    if not imports:
        problems.append("no imports found: the import table was not read")
    for dll, function in imports:
        if (dll.lower(), function) not in allowed:
            problems.append("%s!%s is not known to exist on Windows 2000" % (dll, function))
    for problem in problems:
        print("check-win2000-imports: " + problem)
    if problems:
        return 1
    print("check-win2000-imports: OS %d.%d, subsystem %d.%d, %d imports, all on Windows 2000"
          % (os_version + subsystem_version + (len(imports),)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
