#!/usr/bin/env python3
"""The acceptance tree and the Linux-side truths about it.

  tree.py make ROOT [--files N] [--large-mib M]   build the tree under ROOT
  tree.py snapshot ROOT OUT.json                  SHA-256 and mtime of every file's data
  tree.py same ROOT BEFORE.json [--except L.txt]  data and mtimes unchanged since BEFORE
                                                  (but for the files L.txt lists)
  tree.py streams ROOT present|absent|valid       every file's z stream holds OpenSSL's
                                                  64-byte Whirlpool (present), or none (absent),
                                                  or one of the two for each file (valid)
  tree.py corrupt ROOT K OUT.txt [--seed S]       flip one bit in K random files, keep mtimes
                                                  (the seed is printed)

Everything here reads the NTFS volume through ntfs-3g with Windows stream
semantics, so FILE:z is the file's alternate data stream, read independently
of Wine and of Kestrin.
"""
import hashlib, json, os, random, subprocess, sys

NAMES = ["photo", "Urlaub Bild", "naïve café", "Ωmega", "journal 2024", "scan",
         "отчёт", "データ", "résumé", "notes"]


def all_files(root):
    out = []
    for d, dirs, files in os.walk(root):
        dirs.sort()
        for f in sorted(files):
            if ":" in f or f.startswith(".kestrin"):
                continue
            out.append(os.path.join(d, f))
    return out


def make(root, nfiles, large_mib):
    rnd = random.Random(20261208)
    os.makedirs(root, exist_ok=True)
    made = 0
    depth_dirs = [root]
    # Nested folders: 40 folders per level-1, each with subfolders three deep.
    while made < nfiles:
        parent = rnd.choice(depth_dirs)
        if parent.count(os.sep) - root.count(os.sep) < 4 and rnd.random() < 0.05:
            d = os.path.join(parent, "%s %d" % (rnd.choice(NAMES), len(depth_dirs)))
            os.makedirs(d, exist_ok=True)
            depth_dirs.append(d)
            continue
        kind = made % 10
        name = "%s %05d" % (rnd.choice(NAMES), made)
        if kind == 0:
            data = b""                                  # empty file
        elif kind == 1:
            data = rnd.randbytes(65536)                 # exactly one read
        elif kind == 2:
            name = "." + name                           # hidden, system dot-file
            data = rnd.randbytes(rnd.randrange(1, 300))
        else:
            data = rnd.randbytes(rnd.randrange(1, 8192))
        path = os.path.join(parent, name + ".bin")
        with open(path, "wb") as f:
            f.write(data)
        if kind == 2:
            # Hidden and system in NTFS terms, as ntfs-3g exposes the attributes.
            os.setxattr(path, "system.ntfs_attrib_be", (0x20 | 0x02 | 0x04).to_bytes(4, "big"))
        made += 1
    # Large files, written in pieces so memory stays small.
    big = os.path.join(root, "large files")
    os.makedirs(big, exist_ok=True)
    left = large_mib
    i = 0
    chunk = rnd.randbytes(1 << 20)
    while left > 0:
        size = min(left, 256)
        with open(os.path.join(big, "archive %d.dat" % i), "wb") as f:
            for k in range(size):
                f.write(chunk[k % 251:] + chunk[:k % 251])
        left -= size
        i += 1
    print("made %d small files in %d folders and %d MiB of large files" % (made, len(depth_dirs), large_mib))


def snapshot(root, out):
    snap = {}
    for p in all_files(root):
        h = hashlib.sha256()
        with open(p, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
        st = os.stat(p)
        snap[os.path.relpath(p, root)] = [h.hexdigest(), st.st_mtime_ns, st.st_size]
    with open(out, "w") as f:
        json.dump(snap, f)
    print("snapshot of %d files" % len(snap))


def same(root, before, exempt=()):
    with open(before) as f:
        old = json.load(f)
    for rel in exempt:
        if old.pop(rel, None) is None:
            print("NOT IN THE SNAPSHOT %s" % rel)
            return 1
    bad = 0
    for rel, (sha, mtime, size) in old.items():
        p = os.path.join(root, rel)
        h = hashlib.sha256()
        with open(p, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
        st = os.stat(p)
        if h.hexdigest() != sha or st.st_mtime_ns != mtime or st.st_size != size:
            bad += 1
            if bad <= 10:
                print("CHANGED %s: expected sha %s mtime %d, got %s %d" % (rel, sha[:16], mtime, h.hexdigest()[:16], st.st_mtime_ns))
    print("unchanged: %d of %d" % (len(old) - bad, len(old)))
    return 0 if bad == 0 else 1


def whirlpool_all(paths):
    """OpenSSL's Whirlpool of each path, many files per openssl process."""
    out = {}
    for i in range(0, len(paths), 500):
        batch = paths[i:i + 500]
        r = subprocess.run(["openssl", "dgst", "-provider", "legacy", "-provider", "default",
                            "-whirlpool", "-r"] + batch, capture_output=True, check=True)
        for line in r.stdout.decode("utf-8", "surrogateescape").splitlines():
            digest, name = line.split(" ", 1)
            out[name.lstrip("*")] = digest
    return out


def streams(root, expect):
    files = all_files(root)
    bad = 0
    if expect in ("present", "valid"):
        digests = whirlpool_all(files)
    present = 0
    for p in files:
        sp = p + ":z"
        exists = os.path.exists(sp)
        if expect == "absent":
            if exists:
                bad += 1
                if bad <= 10: print("STREAM PRESENT %s" % p)
            continue
        data = open(sp, "rb").read() if exists else None
        if data is None and expect == "valid":
            continue
        present += data is not None
        if data is None or len(data) != 64 or data.hex() != digests.get(p):
            bad += 1
            if bad <= 10:
                print("BAD STREAM %s: expected %s, got %s" % (p, digests.get(p, "?")[:32], "absent" if data is None else "%d bytes %s" % (len(data), data.hex()[:32])))
    print("streams %s: %d of %d as expected (%d streams present)" % (expect, len(files) - bad, len(files), present))
    return 0 if bad == 0 else 1


def corrupt(root, k, out, seed=None):
    if seed is None:
        seed = random.SystemRandom().randrange(1, 2**31)
    print("corrupt: seed %d (--seed %d repeats it)" % (seed, seed))
    rnd = random.Random(seed)
    files = [p for p in all_files(root) if os.path.getsize(p) > 0]
    chosen = rnd.sample(files, k)
    with open(out, "w") as f:
        for p in chosen:
            st = os.stat(p)
            with open(p, "r+b") as g:
                pos = rnd.randrange(st.st_size)
                g.seek(pos)
                b = g.read(1)[0]
                g.seek(pos)
                g.write(bytes([b ^ (1 << rnd.randrange(8))]))
            os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))
            f.write(os.path.relpath(p, root) + "\n")
    print("flipped one bit in %d files" % k)


def main(argv):
    cmd, root = argv[1], argv[2]
    if cmd == "make":
        nfiles = int(argv[argv.index("--files") + 1]) if "--files" in argv else 20000
        large = int(argv[argv.index("--large-mib") + 1]) if "--large-mib" in argv else 1024
        make(root, nfiles, large)
        return 0
    if cmd == "snapshot":
        snapshot(root, argv[3]); return 0
    if cmd == "same":
        exempt = []
        if "--except" in argv:
            with open(argv[argv.index("--except") + 1]) as f:
                exempt = [line.rstrip("\n") for line in f if line.strip()]
        return same(root, argv[3], exempt)
    if cmd == "streams":
        return streams(root, argv[3])
    if cmd == "corrupt":
        seed = int(argv[argv.index("--seed") + 1]) if "--seed" in argv else None
        corrupt(root, int(argv[3]), argv[4], seed); return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
