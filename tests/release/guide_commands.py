#!/usr/bin/env python3
"""Runs the user guide's kestrin-cli command lines as they are written.

guide_commands.py core|manifest

Every line of a ```console or ```bat block of docs/guide.md that starts with
`kestrin-cli `, and the command inside a `schtasks /TR "..."`, is
run under Wine against a photo folder on the NTFS test volume that Wine sees
as D:\\Photos, the folder the guide's examples name. What each command did
is judged by Linux through the mount (the `z` streams against OpenSSL's
Whirlpool, the files' data and times) and by the exit codes the guide
documents. `core` covers check/create/rewrite/list/remove/show/--version,
`manifest` the export/verify/import round trip.

Exit 0 when every command did what the guide says, 1 when one did not (or
the NTFS volume is not mounted), 77 (skipped) when kestrin-cli.exe is not
built here.
"""
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys

SKIP = 77
build = os.environ.get('KESTRIN_BUILD_DIR', '')
source = os.environ.get('KESTRIN_SOURCE_DIR', '')
ntfs = os.environ.get('KESTRIN_NTFS_DIR', '')
CLI = os.environ.get('KESTRIN_CLI_EXE', '')  # empty: this build has no kestrin-cli
WINE_RUN = os.path.join(source, 'scripts', 'wine-run.sh')
PHOTOS = ['2023/beach.jpg', '2023/harbour.jpg', '2024/garden.jpg', '2024/kestrel.jpg', '2024/video/holiday.mp4']
failures = []


def skip(why):
    print('SKIPPED: ' + why)
    sys.exit(SKIP)


def expect(cond, what):
    print(('ok    ' if cond else 'FAIL  ') + what)
    if not cond:
        failures.append(what)
    return cond


# --- the guide's command lines --------------------------------------------

def split_windows(line):
    """Splits a command line as Windows programs do for these simple lines:
    blanks separate, double quotes group and are removed."""
    args, cur, quoted, any_ = [], '', False, False
    for c in line:
        if c == '"':
            quoted, any_ = not quoted, True
        elif c in ' \t' and not quoted:
            if cur or any_:
                args.append(cur)
            cur, any_ = '', False
        else:
            cur += c
    if cur or any_:
        args.append(cur)
    return args


def guide_command_lines(text):
    """The kestrin-cli argument lists the guide shows, in order."""
    found = []
    for block in re.finditer(r'^```(console|bat)\n(.*?)^```', text, re.S | re.M):
        for line in block.group(2).splitlines():
            line = line.strip()
            if line.startswith('kestrin-cli '):
                found.append(split_windows(line)[1:])
            elif line.lower().startswith('schtasks ') and '/TR ' in line:
                tr = re.search(r'/TR "((?:[^"\\]|\\.)*)"', line)
                if not expect(tr is not None, 'the schtasks line has a /TR "..." command'):
                    continue
                command = split_windows(tr.group(1).replace('\\"', '"'))
                expect(command[0].lower().endswith('\\kestrin-cli.exe'),
                       'the scheduled task runs kestrin-cli.exe (%s)' % command[0])
                found.append(command[1:])
    return found


# --- the world as Linux sees it -------------------------------------------

def sh(script, check=True):
    r = subprocess.run(['sh', '-c', script], capture_output=True, text=True)
    if check and r.returncode != 0:
        raise RuntimeError('shell failed: %s\n%s' % (script, r.stderr))
    return r.stdout


def whirlpool(path):
    out = sh('openssl dgst -provider legacy -provider default -whirlpool -r "$0"'.replace('$0', path.replace('"', '\\"')))
    return out[:128]


def stream_hex(path):
    try:
        with open(path + ':z', 'rb') as f:
            return f.read().hex()
    except OSError:
        return None


def state(folder):
    """{relative path: (stream hex or None, sha256 of data, mtime ns)}."""
    r = {}
    for dirpath, _, files in os.walk(folder):
        for name in files:
            p = os.path.join(dirpath, name)
            rel = os.path.relpath(p, folder).replace(os.sep, '/')
            with open(p, 'rb') as f:
                data = hashlib.sha256(f.read()).hexdigest()
            r[rel] = (stream_hex(p), data, os.stat(p).st_mtime_ns)
    return r


def make_photos(folder, with_digests=True):
    """The guide's photo folder, the same bytes every time, each file with
    its Whirlpool digest stored by Linux (OpenSSL) as its `z` stream."""
    if os.path.exists(folder):
        shutil.rmtree(folder)
    rnd = random.Random(14)
    for i, rel in enumerate(PHOTOS):
        p = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, 'wb') as f:
            f.write(rnd.randbytes(20000 + 7919 * i))
        os.utime(p, ns=(1600000000123456700 + i, 1600000000123456700 + i))
        if with_digests:
            with open(p + ':z', 'wb') as f:
                f.write(bytes.fromhex(whirlpool(p)))


def alter(path):
    """Flips one bit and puts the last-write time back: a silent change."""
    st = os.stat(path)
    with open(path, 'r+b') as f:
        f.seek(1000)
        b = f.read(1)
        f.seek(1000)
        f.write(bytes([b[0] ^ 0x10]))
    os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))


# --- running the program ---------------------------------------------------

SAVED_DRIVES = {}


def drive(letter, target):
    """Points Wine's drive LETTER: at target (None: puts back what was there)."""
    link = os.path.join(os.environ['WINEPREFIX'], 'dosdevices', letter + ':')
    if letter not in SAVED_DRIVES:
        SAVED_DRIVES[letter] = os.readlink(link) if os.path.islink(link) else None
    if os.path.islink(link):
        os.remove(link)
    if target is None:
        target = SAVED_DRIVES[letter]
    if target:
        os.symlink(target, link)


def to_linux(win):
    """D:\\... and E:\\... as the test maps them."""
    m = re.match(r'^([DdEe]):\\(.*)$', win)
    if not m:
        return None
    return os.path.join(ROOTS[m.group(1).upper()], m.group(2).replace('\\', '/'))


def run(args):
    r = subprocess.run([WINE_RUN, CLI] + args, capture_output=True, timeout=600)
    out = r.stdout.decode('utf-8', 'replace').replace('\r\n', '\n')
    err = r.stderr.decode('utf-8', 'replace').replace('\r\n', '\n')
    print('$ kestrin-cli %s\n  exit %d\n%s%s' % (' '.join(args), r.returncode,
          ''.join('  | ' + l + '\n' for l in out.splitlines()),
          ''.join('  ! ' + l + '\n' for l in err.splitlines()[-5:])))
    return r.returncode, out


def targets(args):
    """The path arguments (after the command and its options)."""
    rest, skip_next = [], False
    for a in args[1:]:
        if skip_next:
            skip_next = False
        elif a == '--report':
            skip_next = True
        elif not a.startswith('--'):
            rest.append(a)
    return rest


def option(args, name):
    return args[args.index(name) + 1] if name in args else None


def report_ok(args, code, what):
    path = option(args, '--report')
    if not path:
        return None
    linux = to_linux(path)
    try:
        with open(linux, encoding='utf-8') as f:
            rep = json.load(f)
    except (OSError, ValueError) as e:
        expect(False, '%s: the report %s is JSON (%s)' % (what, path, e))
        return None
    expect(isinstance(rep, dict), '%s: the report is one JSON object' % what)
    codes = []

    def exit_codes(v):
        if isinstance(v, dict):
            for key, x in v.items():
                if 'exit' in key.lower() and isinstance(x, int):
                    codes.append(x)
                exit_codes(x)
        elif isinstance(v, list):
            for x in v:
                exit_codes(x)
    exit_codes(rep)
    expect(codes == [code], '%s: the report carries the exit code %d (found %s)' % (what, code, codes))
    return json.dumps(rep)


def under(rel, target_rel):
    return target_rel == '' or rel == target_rel or rel.startswith(target_rel + '/')


def photos_rel(win):
    linux = to_linux(win)
    if not linux:
        return None
    rel = os.path.relpath(linux, PHOTOS_DIR).replace(os.sep, '/')
    return '' if rel == '.' else rel


def all_correct(folder, only=''):
    """Every file below `only` carries OpenSSL's Whirlpool of its data (and
    there is at least one such file)."""
    s = state(folder)
    chosen = [r for r in s if under(r, only)]
    return bool(chosen) and all(s[r][0] == whirlpool(os.path.join(folder, r)) for r in chosen)


# --- what each command must do --------------------------------------------

def task_store():
    """Where Wine's Task Scheduler keeps the definitions of \\Kestrin."""
    return os.path.join(os.environ['WINEPREFIX'], 'drive_c', 'windows', 'system32', 'tasks', 'Kestrin')


def seed_task(name):
    """A definition in the task store, as Wine's Task Scheduler leaves one."""
    os.makedirs(task_store(), exist_ok=True)
    with open(os.path.join(task_store(), name), 'w', encoding='utf-8-sig') as f:
        f.write('<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">'
                '<RegistrationInfo><Description>seeded</Description></RegistrationInfo></Task>\n')


def schedule_or_shell(args, what):
    """schedule and shell. Wine 8's Task Scheduler keeps neither the actions
    nor the triggers of a task, so registering ends 3 there; the definition
    the command would register is written with --xml and its command line
    run as it stands. --list and --remove are run against a definition put
    in Wine's task store."""
    import xml.etree.ElementTree as ET
    cmd = args[0]
    if cmd == 'shell':
        code, out = run(args)
        expect(code == 0, '%s: 0 (got %d)' % (what, code))
        code, out = run(['shell', '--uninstall'])
        expect(code == 0, '%s: shell --uninstall after it: 0 (got %d)' % (what, code))
        return
    if '--list' in args or '--remove' in args:
        name = option(args, '--remove') or 'Weekly check'
        seed_task(name)
        code, out = run(args)
        expect(code == 0, '%s: 0 (got %d)' % (what, code))
        if '--list' in args:
            expect(name in out, '%s: lists the task' % what)
        else:
            expect(not os.path.exists(os.path.join(task_store(), name)), '%s: the task is gone' % what)
        if os.path.exists(os.path.join(task_store(), name)):
            os.remove(os.path.join(task_store(), name))
        return
    code, out = run(args)
    expect(code in (0, 3), '%s: 0, or 3 where the Task Scheduler keeps no command (got %d)' % (what, code))
    xml_win = 'D:\\task.xml'
    code, out = run(['schedule', '--xml', xml_win] + args[1:])
    if not expect(code == 0, '%s --xml: 0 (got %d)' % (what, code)):
        return
    ns = {'t': 'http://schemas.microsoft.com/windows/2004/02/mit/task'}
    root = ET.parse(to_linux(xml_win)).getroot()
    command = root.find('t:Actions/t:Exec/t:Command', ns).text
    arguments = split_windows(root.find('t:Actions/t:Exec/t:Arguments', ns).text)
    expect(command.lower().endswith('\\kestrin-cli.exe'), '%s: the task runs kestrin-cli.exe (%s)' % (what, command))
    expect(arguments[:3] == ['update', '--notify', '--event-log'], '%s: the task runs update --notify --event-log' % what)
    expect(arguments[-1] == 'D:\\Photos', '%s: the task names D:\\Photos' % what)
    if '--slices' in args:
        expect('--slice' in arguments and arguments[arguments.index('--slice') + 1] == 'week/' + option(args, '--slices'),
               '%s: the task takes this week\'s slice' % what)
    code, out = run(arguments)
    expect(code == 0, '%s: the task\'s command line ends 0 on the good photos (got %d)' % (what, code))
    expect(all_correct(PHOTOS_DIR), '%s: every stream is OpenSSL\'s Whirlpool of the data' % what)


def core(args, version):
    what = 'kestrin-cli ' + ' '.join(args)
    cmd = args[0]
    make_photos(PHOTOS_DIR)
    before = state(PHOTOS_DIR)
    if cmd in ('schedule', 'shell'):
        schedule_or_shell(args, what)
        after = state(PHOTOS_DIR)
        expect(all(after[r][1:] == before[r][1:] for r in before) and set(after) == set(before),
               '%s: data and last-write times unchanged' % what)
        return
    paths = targets(args)
    rels = [photos_rel(p) for p in paths]
    if cmd != '--version':
        if not expect(all(r is not None and not r.startswith('..') for r in rels),
                      '%s: its paths lie in the guide\'s photo folder' % what):
            return

    if cmd == '--version':
        code, out = run(args)
        expect(code == 0 and out.strip() == 'kestrin-cli ' + version, '%s prints "kestrin-cli %s"' % (what, version))
    elif cmd == 'check':
        code, out = run(args)
        expect(code == 0, '%s: 0 when every digest matches (got %d)' % (what, code))
        report_ok(args, code, what)
        victim = 'Photos/2024/kestrel.jpg'
        alter(os.path.join(ROOTS['D'], victim))
        code, out = run(args)
        expect(code == 1, '%s: 1 after a silent change (got %d)' % (what, code))
        expect(re.search(r'^altered\s+D:\\Photos\\2024\\kestrel\.jpg$', out, re.M) is not None,
               '%s: names the altered photo' % what)
        rep = report_ok(args, code, what)
        if rep is not None:
            expect('kestrel.jpg' in rep and 'altered' in rep, '%s: the report names the altered photo' % what)
        after = state(PHOTOS_DIR)
        expect(all(after[r][0] == before[r][0] for r in before), '%s: no stream changed' % what)
    elif cmd == 'create':
        for rel in PHOTOS[::2]:
            os.remove(os.path.join(PHOTOS_DIR, rel) + ':z')
        code, out = run(args)
        expect(code == 0, '%s: 0 when every digest was written (got %d)' % (what, code))
        expect(all(all_correct(PHOTOS_DIR, r) for r in rels), '%s: every stream is OpenSSL\'s Whirlpool' % what)
    elif cmd == 'rewrite':
        for r in rels:
            for rel in before:
                if under(rel, r):
                    alter(os.path.join(PHOTOS_DIR, rel))
        changed = state(PHOTOS_DIR)
        code, out = run(args)
        expect(code == 0, '%s: 0 when every digest was rewritten (got %d)' % (what, code))
        expect(all(all_correct(PHOTOS_DIR, r) for r in rels), '%s: the new digests are OpenSSL\'s Whirlpool' % what)
        after = state(PHOTOS_DIR)
        expect(all(after[r][1:] == changed[r][1:] for r in after), '%s: data and last-write times kept' % what)
    elif cmd == 'update':
        code, out = run(args)
        expect(code == 0, '%s: 0 when every digest matches (got %d)' % (what, code))
        victim = os.path.join(ROOTS['D'], 'Photos/2024/kestrel.jpg')
        with open(victim, 'ab') as f:
            f.write(b'edited')
        code, out = run(args)
        expect(code == 0, '%s: 0 after an edit (got %d)' % (what, code))
        expect(re.search(r'^updated\s+D:\\Photos\\2024\\kestrel\.jpg$', out, re.M) is not None,
               '%s: names the edited photo as updated' % what)
        expect(all_correct(PHOTOS_DIR), '%s: every stream is OpenSSL\'s Whirlpool of the data' % what)
        report_ok(args, code, what)
        alter(victim)
        code, out = run(args)
        expect(code == 1, '%s: 1 after a silent change (got %d)' % (what, code))
        expect(re.search(r'^corrupt\s+D:\\Photos\\2024\\kestrel\.jpg$', out, re.M) is not None,
               '%s: names the silently changed photo corrupt' % what)
    elif cmd == 'list':
        code, out = run(args)
        expect(code == 0, '%s: 0 when every file carries a digest (got %d)' % (what, code))
        os.remove(os.path.join(PHOTOS_DIR, '2023/beach.jpg') + ':z')
        code, out = run(args)
        expect(code == 2, '%s: 2 when a file carries none (got %d)' % (what, code))
        expect(re.search(r'^no-digest\s+D:\\Photos\\2023\\beach\.jpg$', out, re.M) is not None,
               '%s: names the file without a digest' % what)
    elif cmd == 'show':
        code, out = run(args)
        linux = to_linux(paths[0])
        expect(code == 0, '%s: 0 for a file with a digest (got %d)' % (what, code))
        expect(stream_hex(linux) in out and paths[0] in out, '%s: prints the stream Linux reads, and the path' % what)
    elif cmd == 'remove':
        code, out = run(args)
        expect(code == 0, '%s: 0 when every digest was deleted (got %d)' % (what, code))
        after = state(PHOTOS_DIR)
        expect(all((after[r][0] is None) == any(under(r, t) for t in rels) for r in after),
               '%s: exactly the streams below its paths are gone' % what)
    else:
        expect(False, '%s: the guide shows a command this test does not know' % what)
        return
    after = state(PHOTOS_DIR)
    expect(set(after) == set(before), '%s: no file appeared or vanished' % what)
    if cmd != 'rewrite':
        expect(all(after[r][1:] == before[r][1:] or cmd in ('check', 'update') and r.endswith('kestrel.jpg')
                   for r in before), '%s: data and last-write times unchanged' % what)


def manifest(lines):
    by = {}
    for args in lines:
        if args and args[0] in ('export', 'verify', 'import'):
            by.setdefault(args[0], args)
    for c in ('export', 'verify', 'import'):
        if not expect(c in by, 'the guide shows kestrin-cli %s' % c):
            return
    make_photos(PHOTOS_DIR)
    code, _ = run(by['export'])
    expect(code == 0, 'export: 0 (got %d)' % code)
    man = to_linux(by['export'][1])
    expect(man is not None and os.path.isfile(man), 'export wrote the manifest %s' % by['export'][1])
    copy = to_linux(by['verify'][1])
    copy_dir = os.path.dirname(copy)
    for attempt in ('plain', 'altered'):
        if os.path.exists(copy_dir):
            shutil.rmtree(copy_dir)
        # Linux copies data only: the copy carries no streams, as on exFAT.
        sh('cp -r "%s" "%s"' % (PHOTOS_DIR, copy_dir))
        expect(stream_hex(os.path.join(copy_dir, PHOTOS[0])) is None, 'the copy carries no streams')
        if attempt == 'altered':
            alter(os.path.join(copy_dir, '2024/garden.jpg'))
        code, out = run(by['verify'])
        if attempt == 'plain':
            expect(code == 0, 'verify of a faithful copy: 0 (got %d)' % code)
        else:
            expect(code == 1, 'verify of a copy with a changed photo: 1 (got %d)' % code)
            expect(re.search(r'^altered\s+.*garden\.jpg$', out, re.M) is not None, 'verify names the changed photo')
    shutil.rmtree(copy_dir)
    sh('cp -r "%s" "%s"' % (PHOTOS_DIR, copy_dir))
    code, _ = run(by['import'])
    expect(code == 0, 'import into a faithful copy: 0 (got %d)' % code)
    expect(all(all_correct(copy_dir, r) for r in PHOTOS), 'import gave every copied photo its OpenSSL digest')


def main():
    global ROOTS, PHOTOS_DIR
    group = sys.argv[1] if len(sys.argv) > 1 else 'core'
    with open(os.path.join(source, 'docs', 'guide.md'), encoding='utf-8') as f:
        lines = guide_command_lines(f.read())
    with open(os.path.join(source, 'res', 'version.h'), encoding='utf-8') as f:
        version = re.search(r'#define KESTRIN_VERSION_TEXT "([^"]*)"', f.read()).group(1)
    print('%d kestrin-cli command lines in the guide' % len(lines))
    expect(len(lines) >= 10, 'the guide\'s command lines were found')
    if not CLI:
        skip('this build has no kestrin-cli target')
    if not os.path.isfile(CLI):
        skip('kestrin-cli.exe has not been built (%s)' % CLI)
    if not (ntfs and os.path.isfile(os.path.join(ntfs, '.kestrin-volume'))):
        print('FAIL  the NTFS test volume is not mounted (its fixture should have mounted it)')
        sys.exit(1)
    if 'WINEPREFIX' not in os.environ:
        os.environ['WINEPREFIX'] = os.path.join(build, 'wineprefix')
    ROOTS = {'D': os.path.join(ntfs, 'guide-cli-d'), 'E': os.path.join(ntfs, 'guide-cli-e')}
    PHOTOS_DIR = os.path.join(ROOTS['D'], 'Photos')
    for r in ROOTS.values():
        shutil.rmtree(r, ignore_errors=True)
        os.makedirs(r)
    drive('d', ROOTS['D'])
    drive('e', ROOTS['E'])
    try:
        if group == 'manifest':
            manifest(lines)
        else:
            ran = 0
            for args in lines:
                if args and args[0] in ('export', 'verify', 'import'):
                    continue
                core(args, version)
                ran += 1
            expect(ran >= 8, '%d of the guide\'s command lines ran' % ran)
    finally:
        drive('d', None)
        drive('e', None)
    print('%d failed' % len(failures))
    for f in failures:
        print('  ' + f)
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
