#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' contents.

make_zip.py OUT.zip EPOCH FOLDER NAME...

Stores FOLDER/NAME for each NAME, in the order given, under NAME. Every entry
gets the same time (EPOCH, seconds since 1970, taken as UTC), the same
attributes (an ordinary file with only the archive bit, made on "MS-DOS"), and
is deflated at level 9: no time of the build, no owner, no order of a
directory listing reaches the archive.
"""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) < 5:
        sys.exit('usage: make_zip.py OUT.zip EPOCH FOLDER NAME...')
    out, epoch, folder, names = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    # The zip format's times start in 1980 and count seconds in twos.
    when = time.gmtime(max(epoch, 315532800))
    date_time = (when.tm_year, when.tm_mon, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec - when.tm_sec % 2)
    tmp = out + '.part'
    with zipfile.ZipFile(tmp, 'w') as z:
        for name in names:
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20
            with open(os.path.join(folder, name), 'rb') as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(tmp, out)


if __name__ == '__main__':
    main()
