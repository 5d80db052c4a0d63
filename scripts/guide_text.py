#!/usr/bin/env python3
"""Turns the user guide (Markdown) into README.txt for the release zip.

guide_text.py docs/guide.md README.txt

Plain text for Notepad: ASCII, Windows line ends (CRLF), headings underlined,
tables laid out in columns, code blocks indented, pictures named by their
captions (the zip carries no pictures), and the Markdown marks (`, **) taken
out. Fails on a character outside ASCII, so that what Notepad shows is never
a guess at the encoding.
"""
import re
import sys
import textwrap

WIDTH = 78


def inline(text):
    text = re.sub(r'!\[([^\]]*)\]\([^)]*\)', r'[Picture: \1]', text)
    text = re.sub(r'\[([^\]]*)\]\([^)]*\)', r'\1', text)
    text = text.replace('**', '')
    text = re.sub(r'`([^`]*)`', r'\1', text)
    return text


def table(rows):
    cells = [[inline(c.strip()) for c in r.strip().strip('|').split('|')] for r in rows]
    cells = [r for r in cells if not all(re.fullmatch(r':?-+:?', c) for c in r)]
    n = max(len(r) for r in cells)
    cells = [r + [''] * (n - len(r)) for r in cells]
    widths = [max(len(r[i]) for r in cells) for i in range(n)]
    if sum(widths) + 2 * (n - 1) <= WIDTH:
        out = ['  '.join(c.ljust(w) for c, w in zip(r, widths)).rstrip() for r in cells]
        out.insert(1, '  '.join('-' * w for w in widths))
        return out
    # Too wide for columns: one block per row, "heading: value" per cell.
    out = []
    for r in cells[1:]:
        out.append('* ' + r[0])
        for head, c in zip(cells[0][1:], r[1:]):
            out.extend(textwrap.wrap('%s: %s' % (head, c), WIDTH, initial_indent='    ',
                                     subsequent_indent='      ', break_on_hyphens=False))
    return out


def convert(md):
    out = []
    lines = md.replace('\r\n', '\n').split('\n')
    i = 0
    while i < len(lines):
        line = lines[i]
        fence = re.match(r'^(\s*)```', line)
        if fence:
            i += 1
            while i < len(lines) and not lines[i].strip().startswith('```'):
                out.append('    ' + lines[i][len(fence.group(1)):])
                i += 1
            i += 1
            continue
        if line.startswith('|'):
            rows = []
            while i < len(lines) and lines[i].startswith('|'):
                rows.append(lines[i])
                i += 1
            out.extend(table(rows))
            continue
        heading = re.match(r'^(#{1,6})\s+(.*)$', line)
        if heading:
            level, title = len(heading.group(1)), inline(heading.group(2))
            if level == 1:
                out += ['=' * len(title), title, '=' * len(title)]
            elif level == 2:
                out += [title, '=' * len(title)]
            else:
                out += [title, '-' * len(title)]
            i += 1
            continue
        out.append(inline(line).rstrip())
        i += 1
    while out and not out[-1]:
        out.pop()
    return '\r\n'.join(out) + '\r\n'


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: guide_text.py GUIDE.md OUT.txt')
    text = convert(open(sys.argv[1], encoding='utf-8').read())
    bad = sorted({c for c in text if ord(c) > 126 or (ord(c) < 32 and c not in '\r\n')})
    if bad:
        sys.exit('guide_text.py: characters outside printable ASCII in the guide: %r' % bad)
    with open(sys.argv[2], 'wb') as f:
        f.write(text.encode('ascii'))


if __name__ == '__main__':
    main()
