#!/usr/bin/env python3
"""Tells whether a program is fit to ship in the release zip.

pe_check.py PROGRAM.exe

It must be a 32-bit (i386, PE32) Windows program whose header carries no
build time (TimeDateStamp 0), with no debug directory, a resource directory
without a time, and imports from Windows' own DLLs only. Prints what is wrong
and exits 1, else prints a one-line summary and exits 0.
"""
import struct
import sys

# DLLs every Windows that Kestrin runs on has in its system folder.
WINDOWS_DLLS = {
    'advapi32.dll', 'comctl32.dll', 'comdlg32.dll', 'gdi32.dll', 'kernel32.dll',
    'msvcrt.dll', 'ntdll.dll', 'ole32.dll', 'oleaut32.dll', 'shell32.dll',
    'shlwapi.dll', 'user32.dll', 'uxtheme.dll', 'version.dll',
}


def rva_to_offset(sections, rva):
    for vaddr, vsize, raw, rawsize in sections:
        if vaddr <= rva < vaddr + max(vsize, rawsize):
            return rva - vaddr + raw
    return None


def c_string(data, at):
    end = data.index(b'\0', at)
    return data[at:end].decode('ascii', 'replace')


def check(path):
    data = open(path, 'rb').read()
    problems = []
    if data[:2] != b'MZ':
        return ['not a Windows program (no MZ header)'], ''
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        return ['no PE signature'], ''
    machine, nsections, stamp, _, _, opt_size, _ = struct.unpack_from('<HHIIIHH', data, pe + 4)
    if machine != 0x14C:
        problems.append('machine 0x%04x, not i386 (0x014c)' % machine)
    if stamp != 0:
        problems.append('the PE header carries a time (TimeDateStamp 0x%08x)' % stamp)
    opt = pe + 24
    magic = struct.unpack_from('<H', data, opt)[0]
    if magic != 0x10B:
        return problems + ['optional header magic 0x%04x, not PE32' % magic], ''
    ndirs = struct.unpack_from('<I', data, opt + 92)[0]
    dirs = [struct.unpack_from('<II', data, opt + 96 + 8 * i) for i in range(min(ndirs, 16))]
    sections = []
    sec = opt + opt_size
    for i in range(nsections):
        vsize, vaddr, rawsize, raw = struct.unpack_from('<IIII', data, sec + 40 * i + 8)
        sections.append((vaddr, vsize, raw, rawsize))

    dlls = []
    if len(dirs) > 1 and dirs[1][0]:
        at = rva_to_offset(sections, dirs[1][0])
        while at is not None:
            lookup, istamp, _, name_rva, _ = struct.unpack_from('<IIIII', data, at)
            if name_rva == 0:
                break
            dlls.append(c_string(data, rva_to_offset(sections, name_rva)))
            at += 20
    for dll in dlls:
        if dll.lower() not in WINDOWS_DLLS:
            problems.append('imports %s, which Windows does not bring' % dll)
    if len(dirs) > 2 and dirs[2][0]:
        at = rva_to_offset(sections, dirs[2][0])
        rstamp = struct.unpack_from('<I', data, at + 4)[0]
        if rstamp != 0:
            problems.append('the resource directory carries a time (0x%08x)' % rstamp)
    if len(dirs) > 6 and dirs[6][1]:
        problems.append('a debug directory (which carries a time) is present')
    return problems, 'PE32 i386, no time, imports ' + ', '.join(dlls)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: pe_check.py PROGRAM.exe')
    problems, summary = check(sys.argv[1])
    for p in problems:
        print('%s: %s' % (sys.argv[1], p), file=sys.stderr)
    if problems:
        sys.exit(1)
    print('%s: %s' % (sys.argv[1], summary))


if __name__ == '__main__':
    main()
