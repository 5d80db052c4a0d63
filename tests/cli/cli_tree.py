#!/usr/bin/env python3
"""The Linux side of the kestrin-cli tests: makes the test tree on the NTFS
volume and reports what Linux sees there (data, last-write times in ns, and
every FILE:z stream read through the ntfs-3g mount), with OpenSSL's
Whirlpool as the truth for every digest. Prints JSON or a verdict; exits 1
with the reason when a check fails."""
import json, os, random, subprocess, sys, hashlib
from datetime import datetime


def files_below(root):
    out = []
    for d, dirs, names in os.walk(root):
        dirs.sort()
        for n in sorted(names):
            if ':' in n:
                continue
            out.append(os.path.join(d, n))
    return out


def rel(root, p):
    return os.path.relpath(p, root)


def make(root, large_mib):
    """Nested folders, non-ASCII names, empty files, files of exactly 65,536
    bytes, and `large_mib` MiB in a few larger files."""
    rng = random.Random(12)
    os.makedirs(root, exist_ok=True)
    folders = ['', 'alpha', 'alpha/beta', 'alpha/beta/gamma deep', 'Ünïcödé Ordner', 'Ünïcödé Ordner/日本語',
               'Ünïcödé Ordner/日本語/Ελληνικά', 'emoji 📷 photos', 'spaces and, commas; [brackets]']
    for f in folders:
        os.makedirs(os.path.join(root, f), exist_ok=True)
    n = 0
    for i, f in enumerate(folders):
        base = os.path.join(root, f)
        for j in range(6):
            size = [0, 1, 63, 64, 65536, rng.randrange(100, 200000)][j]
            name = ['empty', 'one', 'sixty-three', 'sixty-four', 'exactly-65536', 'random'][j]
            name = '%s-%d%s.bin' % (name, i, ['', ' ü', '日', '', 'é', ''][j])
            with open(os.path.join(base, name), 'wb') as fh:
                fh.write(rng.randbytes(size))
            n += 1
    left = large_mib * 1048576
    k = 0
    while left > 0:
        size = min(left, [48, 64, 80][k % 3] * 1048576 + 12345)
        with open(os.path.join(root, folders[k % len(folders)], 'large-%d.dat' % k), 'wb') as fh:
            chunk = rng.randbytes(1048576)
            written = 0
            while written < size:
                m = min(len(chunk), size - written)
                fh.write(chunk[:m])
                written += m
        left -= size
        k += 1
        n += 1
    print(n)


def whirlpool(path):
    r = subprocess.run(['openssl', 'dgst', '-provider', 'legacy', '-provider', 'default', '-whirlpool', '-r', path],
                       capture_output=True, text=True, check=True)
    return r.stdout.split()[0].lower()


def truth(root, out):
    t = {rel(root, p): whirlpool(p) for p in files_below(root)}
    with open(out, 'w') as fh:
        json.dump(t, fh)
    print(len(t))


def stream(p):
    try:
        with open(p + ':z', 'rb') as fh:
            return fh.read().hex()
    except FileNotFoundError:
        return None


def file_states(root):
    """{relative path: [size, sha256 of the data, last-write time in ns]}"""
    s = {}
    for p in files_below(root):
        st = os.stat(p)
        with open(p, 'rb') as fh:
            h = hashlib.sha256()
            for chunk in iter(lambda: fh.read(1 << 20), b''):
                h.update(chunk)
        s[rel(root, p)] = [st.st_size, h.hexdigest(), st.st_mtime_ns]
    return s


def snapshot(root, out):
    s = file_states(root)
    with open(out, 'w') as fh:
        json.dump(s, fh)
    print(len(s))


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


def same(root, snap):
    """Data and last-write times (ns) exactly as in the snapshot."""
    with open(snap) as fh:
        before = json.load(fh)
    now = file_states(root)
    if before.keys() != now.keys():
        fail('the set of files changed')
    bad = [k for k in before if before[k] != now[k]]
    if bad:
        fail('%d files changed data or time, e.g. %s: %s -> %s' % (len(bad), bad[0], before[bad[0]], now[bad[0]]))
    print('same: %d files' % len(now))


def streams(root, truth_file, expect, exceptions):
    """expect: 'truth' (every file's stream holds OpenSSL's digest of its
    data), 'absent' (no file has a stream); `exceptions` (comma-separated
    relative paths, or '') are left out and printed with what they hold."""
    with open(truth_file) as fh:
        t = json.load(fh)
    skip = set(x for x in exceptions.split(',') if x)
    paths = files_below(root)
    if set(rel(root, p) for p in paths) != set(t):
        fail('the set of files differs from the truth')
    n = 0
    for p in paths:
        r = rel(root, p)
        s = stream(p)
        if r in skip:
            print('%s: %s' % (r, 'absent' if s is None else s))
            continue
        if expect == 'truth' and s != t[r]:
            fail('%s: stream %s, OpenSSL %s' % (r, s, t[r]))
        if expect == 'absent' and s is not None:
            fail('%s: stream still present (%s)' % (r, s))
        n += 1
    print('streams %s: %d files' % (expect, n))


def flip(root, count, out):
    """Flips one bit in `count` files (chosen by a fixed seed among the
    non-empty ones) and puts their last-write times back."""
    rng = random.Random(7)
    cands = [p for p in files_below(root) if os.path.getsize(p) > 0]
    chosen = rng.sample(cands, count)
    for p in chosen:
        st = os.stat(p)
        pos = rng.randrange(st.st_size)
        with open(p, 'r+b') as fh:
            fh.seek(pos)
            b = fh.read(1)
            fh.seek(pos)
            fh.write(bytes([b[0] ^ (1 << rng.randrange(8))]))
        os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))
    with open(out, 'w') as fh:
        json.dump([rel(root, p) for p in chosen], fh)
    print('\n'.join(rel(root, p) for p in chosen))


def report(report_file, stdout_file, code, command):
    """The report parses as JSON and agrees with the printed findings and the
    exit code."""
    with open(report_file, encoding='utf-8') as fh:
        r = json.load(fh)
    with open(stdout_file, encoding='utf-8', newline='') as fh:
        lines = [l for l in fh.read().split('\r\n') if l]
    printed = []
    for l in lines:
        status, sep, path = l.partition('  ')
        if status == 'summary':
            continue
        if not sep:
            fail('not a finding line: %r' % l)
        printed.append({'status': status, 'path': path})
    if r['command'] != command:
        fail('command %r' % r['command'])
    if r['exit_code'] != int(code):
        fail('exit code %r in the report, %s from the process' % (r['exit_code'], code))
    if r['findings'] != printed:
        fail('findings differ from the printed lines: %d vs %d' % (len(r['findings']), len(printed)))
    for key in ('start', 'end'):
        if not r[key].endswith('Z'):
            fail('%s not UTC: %r' % (key, r[key]))
        datetime.fromisoformat(r[key].replace('Z', '+00:00'))
    if r['end'] < r['start']:
        fail('end before start')
    for s in set(f['status'] for f in printed) | set(r['counts']) - {'files', 'matched', 'written', 'deleted', 'carried'}:
        got = sum(1 for f in printed if f['status'] == s)
        if r['counts'].get(s, 0) != got:
            fail('count of %s: %r in the report, %d printed' % (s, r['counts'].get(s), got))
    if not isinstance(r['bytes_hashed'], int) or not isinstance(r['targets'], list) or not r['version']:
        fail('malformed fields')
    print('report ok: %d findings, exit %s' % (len(printed), code))


def unstream(root):
    for p in files_below(root):
        try:
            os.remove(p + ':z')
        except FileNotFoundError:
            pass


def stale_of(digest_hex):
    b = bytearray.fromhex(digest_hex)
    b[0] ^= 0xFF
    return b.hex()


def stale(root, truth_file):
    """Every file gets a 64-byte digest that no longer matches (the true one
    with its first byte inverted), as after a change of content."""
    with open(truth_file) as fh:
        t = json.load(fh)
    for p in files_below(root):
        with open(p + ':z', 'wb') as fh:
            fh.write(bytes.fromhex(stale_of(t[rel(root, p)])))


def record_bytes(digest_hex, size, units):
    """The digest record as the README lays it out."""
    import struct
    return struct.pack('<IQQ', 1, size, units) + bytes.fromhex(digest_hex)[:16]


def read_record(p):
    try:
        with open(p + ':z.rec', 'rb') as fh:
            return fh.read()
    except FileNotFoundError:
        return None


def edited(root, truth_file):
    """Every file gets a stale digest and a record bound to it that says
    another last-write time: what update takes for an edited file."""
    stale(root, truth_file)
    for p in files_below(root):
        with open(p + ':z', 'rb') as fh:
            z = fh.read().hex()
        with open(p + ':z.rec', 'wb') as fh:
            fh.write(record_bytes(z, os.path.getsize(p), 0))


def times(root, out):
    with open(out, 'w') as fh:
        json.dump({rel(root, p): [os.stat(p).st_size, os.stat(p).st_mtime_ns] for p in files_below(root)}, fh)


def after(root, truth_file, mode, times_file, quiet=False):
    """What an interrupted or killed run may leave. create: no stream, or
    exactly OpenSSL's digest; rewrite: the old 64 bytes or OpenSSL's digest;
    update: that, and a whole record, the new one wherever it is bound to
    the new digest.
    After a kill (mode *-kill) a created stream may also be empty, but no
    stream has any other length and no rewritten stream is empty. Sizes never
    change, last-write times only under a kill. Prints "new old absent empty
    moved" counts."""
    with open(truth_file) as fh:
        t = json.load(fh)
    with open(times_file) as fh:
        tm = json.load(fh)
    counts = {'new': 0, 'old': 0, 'absent': 0, 'empty': 0, 'moved': 0}
    for p in files_below(root):
        r = rel(root, p)
        st = os.stat(p)
        if st.st_size != tm[r][0]:
            fail('%s: size %d -> %d' % (r, tm[r][0], st.st_size))
        if st.st_mtime_ns != tm[r][1]:
            # A kill between the stream's write (which moves the file's time)
            # and the time's restoring leaves it moved: only a kill may.
            if not mode.endswith('-kill'):
                fail('%s: last-write time %d -> %d' % (r, tm[r][1], st.st_mtime_ns))
            counts['moved'] += 1
        s = stream(p)
        if mode.startswith('update'):
            # Each stream whole, old or new; a record bound to the "z"
            # beside it is the one written with it.
            rec = read_record(p)
            if rec is None or len(rec) != 36:
                fail('%s: record %s' % (r, 'absent' if rec is None else '%d bytes' % len(rec)))
            units = tm[r][1] // 100 + 116444736000000000
            if s == t[r] and rec[20:] == bytes.fromhex(s)[:16] and rec != record_bytes(s, tm[r][0], units):
                fail('%s: the new record says %s' % (r, rec.hex()))
            if s == stale_of(t[r]) and rec != record_bytes(s, tm[r][0], 0) and rec[20:] == bytes.fromhex(s)[:16]:
                fail('%s: the old digest with another record %s' % (r, rec.hex()))
            if s not in (t[r], stale_of(t[r])):
                fail('%s: update left %s' % (r, s))
            counts['new' if s == t[r] else 'old'] += 1
            continue
        if s == t[r]:
            counts['new'] += 1
        elif s is None and mode.startswith('create'):
            counts['absent'] += 1
        elif s == '' and mode == 'create-kill':
            counts['empty'] += 1
        elif s == stale_of(t[r]) and mode.startswith('rewrite'):
            counts['old'] += 1
        else:
            fail('%s: %s left %s' % (r, mode, 'no stream' if s is None else '%d bytes: %s' % (len(s) // 2, s[:40])))
    if not quiet:
        print('%(new)d %(old)d %(absent)d %(empty)d %(moved)d' % counts)
    return counts


def reset(root, truth_file, times_file, kind):
    """The state a create (no streams) or a rewrite (stale streams) starts
    from; then sizes and times are noted."""
    if kind == 'rewrite':
        stale(root, truth_file)
    elif kind == 'update':
        edited(root, truth_file)
    else:
        unstream(root)
    times(root, times_file)


def step(root, truth_file, times_file, mode, report_args, next_kind):
    """One interrupted run's checks in one go: the report (REPORT OUT CODE
    CMD, or '-'), what the run left (mode, or 'none'), then the reset for the
    next run (create, rewrite or none)."""
    if report_args[0] != '-':
        report(*report_args)
    if mode != 'none':
        c = after(root, truth_file, mode, times_file, quiet=True)
        print('%(new)d %(old)d %(absent)d %(empty)d %(moved)d' % c)
    if next_kind != 'none':
        reset(root, truth_file, times_file, next_kind)


if __name__ == '__main__':
    cmd, args = sys.argv[1], sys.argv[2:]
    {'make': lambda: make(args[0], int(args[1])),
     'truth': lambda: truth(args[0], args[1]),
     'snapshot': lambda: snapshot(args[0], args[1]),
     'same': lambda: same(args[0], args[1]),
     'streams': lambda: streams(args[0], args[1], args[2], args[3] if len(args) > 3 else ''),
     'flip': lambda: flip(args[0], int(args[1]), args[2]),
     'report': lambda: report(args[0], args[1], args[2], args[3]),
     'unstream': lambda: unstream(args[0]),
     'stale': lambda: stale(args[0], args[1]),
     'times': lambda: times(args[0], args[1]),
     'after': lambda: after(args[0], args[1], args[2], args[3]),
     'reset': lambda: reset(args[0], args[1], args[2], args[3]),
     'step': lambda: step(args[0], args[1], args[2], args[3], args[4:8] if args[4] != '-' else ['-'],
                          args[8] if args[4] != '-' else args[5]),
     }[cmd]()
