#!/usr/bin/env python3
"""crlf.py IN OUT: copies a text file with Windows line ends (CRLF)."""
import sys

if len(sys.argv) != 3:
    sys.exit('usage: crlf.py IN OUT')
text = open(sys.argv[1], encoding='utf-8').read().replace('\r\n', '\n')
with open(sys.argv[2], 'w', encoding='utf-8', newline='\r\n') as out:
    out.write(text)
