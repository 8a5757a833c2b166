#!/usr/bin/env python3
"""Crafts hostile archives for every archive family varnok-cli knows.

Why it is built this way:
- Every archive is packed here, byte by byte, with struct and zlib from the standard library: no archiver is
  needed to make them, the same bytes come out on every machine, and a header can say exactly the lie a case
  needs (a count larger than the file, a pointer to itself, a name no archiver would write).
- One small packer per family turns a list of members into an archive. The cases are written against those
  packers, so a family's hazards read as a list of members and a few field overrides, not as offsets.
- A member carries what the run must find for it: extracted in the destination with its content ("ok"),
  written inside the destination with a warning ("warn", for absolute, drive and UNC names), refused with an
  error naming it ("refuse"), found somewhere in the destination by its content ("found", for names whose
  shown form depends on the code page), or no claim beyond the safety checks every run gets ("any").
- Absolute names point into the case's own sandbox (work/<case>/outside/...), never at a real system path:
  the suite runs as whatever user builds the program, root included.
- A case is one archive file in its own sandbox folder; run_hostile.py creates the sandbox, runs the commands
  and checks the outcome. Running this file alone writes the archives and a manifest to a folder.
"""

import base64
import functools
import hashlib
import json
import os
import struct
import sys
import zlib

# ------------------------------------------------------------------------------------------------ common

DOS_DATE = ((2020 - 1980) << 9) | (1 << 5) | 1  # 2020-01-01
DOS_TIME = 12 << 11                              # 12:00:00
DOS_STAMP = (DOS_DATE << 16) | DOS_TIME          # date in the high half, as ZIP, ARJ and LZH keep it
UNIX_TIME = 1577880000                           # 2020-01-01 12:00 UTC


def u8(v):
    return struct.pack("<B", v & 0xFF)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def u64(v):
    return struct.pack("<Q", v & 0xFFFFFFFFFFFFFFFF)


def crc32(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def _crc16_table():
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
        table.append(c)
    return table


_CRC16 = _crc16_table()


def crc16(data):
    """CRC-16 with the reflected polynomial 0xA001 and start 0, as ARC, LZH and ZOO keep it."""
    c = 0
    for b in data:
        c = (c >> 8) ^ _CRC16[(c ^ b) & 0xFF]
    return c


def deflate(data, level=9):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


@functools.lru_cache(maxsize=None)
def deflate_zeros(total, chunk=1 << 20):
    """A raw deflate stream of `total` zero bytes, made a chunk at a time."""
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    zero = bytes(chunk)
    out = []
    left = total
    crc = 0
    while left:
        n = min(left, chunk)
        out.append(c.compress(zero[:n]))
        crc = zlib.crc32(zero[:n], crc)
        left -= n
    out.append(c.flush())
    return b"".join(out), crc & 0xFFFFFFFF


def cstr(s, n):
    """A fixed-size, zero-padded field (cut to fit)."""
    return s[:n].ljust(n, b"\0")


def lzw_pack(codes, max_bits=16):
    """Packs compress (.Z) LZW codes as the classic compress writes them: 9-bit codes to start with, one bit
    more each time the decoder's table reaches the current width, codes in groups of eight, each group padded
    to whole bytes when the width changes. No block-mode clear code is used, so the table fills up and then
    stays. Any code up to the next free one is valid; literals alone are always valid."""
    out = bytearray(b"\x1f\x9d" + bytes([max_bits]))
    bits, nbits, acc = 9, 0, 0
    free = 256
    group = bytearray()
    seg_bits = 0
    for i, code in enumerate(codes):
        acc |= code << nbits
        nbits += bits
        seg_bits += bits
        while nbits >= 8:
            group.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
        if i > 0 and free < (1 << max_bits):
            free += 1
        # The decoder widens its codes once its next free entry no longer fits: the rest of the group
        # (of `bits` bytes) is skipped.
        if free > (1 << bits) - 1 and bits < max_bits and i > 0:
            if nbits:
                group.append(acc & 0xFF)
                acc, nbits = 0, 0
            pad = (-len(group)) % bits
            group.extend(bytes(pad))
            out += group
            group = bytearray()
            seg_bits = 0
            bits += 1
    if nbits:
        group.append(acc & 0xFF)
    out += group
    return bytes(out)


def compress_z(data):
    """A compress (.Z) stream of `data`, every byte its own literal code."""
    return lzw_pack(list(data))


def lzw_zero_bomb(top_code, repeats):
    """A compress stream that decodes to a run of zero bytes far longer than itself: every code after the
    first is the entry the decoder is about to define (one zero longer each time), then the longest entry
    `repeats` times more."""
    codes = [0] + list(range(256, top_code + 1)) + [top_code] * repeats
    length = 1 + sum(range(2, top_code - 256 + 3)) + repeats * (top_code - 256 + 2)
    return lzw_pack(codes), length


# -------------------------------------------------------------------------------------------- members


class M:
    """One member of a crafted archive and what the run must find for it."""

    def __init__(self, name, data=b"", how="ok", at=None, kind="file", target=b"", shown=None, token=None,
                 test=None, **opts):
        self.name = name if isinstance(name, bytes) else name.encode()
        self.data = data if isinstance(data, bytes) else data.encode()
        self.how = how        # ok | warn | refuse | found | any
        # ok: the path in the destination (the name, unless said); warn: the tail of that path
        self.at = at if at is not None or how != "ok" else self.name.decode("latin-1")
        self.kind = kind      # file | dir | symlink | hardlink
        self.target = target if isinstance(target, bytes) else target.encode()
        # The name as the program shows it (decoded, "\" read as "/" where the family does): stderr, the
        # listing and the test report are matched against it. None when it cannot be foretold.
        self.shown = shown
        self.token = token    # refuse: a unique piece of the name that must not turn up anywhere
        # What `test` says of it: "pass", "fail" or None (no claim). By default an entry that must come out
        # passes and one refused for its name fails; an entry refused only because a link is in its way
        # passes, since testing writes nothing.
        self.test = test if test is not None else {"ok": "pass", "warn": "pass", "found": "pass",
                                                   "refuse": "fail"}.get(how)
        self.opts = opts      # family-specific field overrides
        self.encrypted = bool(opts.get("encrypted"))  # the only entries a password may be talked of for

    def manifest(self):
        return {"name": self.name.decode("latin-1"), "how": self.how, "at": self.at, "kind": self.kind,
                "shown": self.shown, "token": self.token, "data": self.data.decode("latin-1")}


class Case:
    """One archive in its own sandbox and the outcome its commands must have."""

    def __init__(self, cid, family, fname, data, members=(), cmds=("list", "test", "extract"),
                 exits=None, errors=None, stderr_has=(), max_output=100 << 20, ident=None, list_only=False,
                 planted=(), dest_empty=False, fifos=(), note=""):
        self.id = cid
        self.family = family      # as `varnok-cli formats` names it
        self.fname = fname
        self.data = data
        self.members = list(members)
        self.cmds = list(cmds)
        # command -> allowed exit statuses; by default 0 or 1.
        self.exits = dict(exits or {})
        # command -> True (an error must be reported), False (none may be), None (either)
        self.errors = dict(errors or {})
        self.stderr_has = list(stderr_has)  # (command, text) pairs
        self.max_output = max_output        # bytes the destination may hold (allocated blocks)
        self.ident = ident                  # the type `identify` must print (a set of names), None = family
        self.list_only = list_only
        self.planted = list(planted)        # paths outside the sandbox that must not appear
        self.dest_empty = dest_empty        # nothing at all may be extracted
        self.fifos = list(fifos)            # FIFOs the sandbox gets (paths relative to it), standing for devices
        self.note = note

    def manifest(self):
        return {"id": self.id, "family": self.family, "file": self.fname, "cmds": self.cmds,
                "members": [m.manifest() for m in self.members], "note": self.note}


def esc(s):
    """The name as varnok-cli prints it, for names of printable ASCII, controls and bidi marks."""
    out = []
    for ch in s:
        cp = ord(ch)
        if cp < 0x20 or cp == 0x7F or 0x80 <= cp <= 0x9F:
            out.append("\\x%02X" % cp)
        elif 0x202A <= cp <= 0x202E or 0x2066 <= cp <= 0x2069 or cp in (0x200E, 0x200F, 0x061C):
            out.append("\\u{%04X}" % cp)
        elif ch == "\\":
            out.append("\\\\")
        else:
            out.append(ch)
    return "".join(out)


class Ctx:
    """Where a case's sandbox lies: absolute names are made to point into it."""

    def __init__(self, work):
        self.work = os.path.abspath(work)

    def box(self, cid):
        return os.path.join(self.work, cid)


def content(cid, name):
    return ("%s: %s\n" % (cid, name if isinstance(name, str) else name.decode("latin-1"))).encode()


def name_set(ctx, cid, t, slash=True, backslash_separates=True, fit=None):
    """The benign and hostile names of one name field: two control entries that must come out, the
    traversal forms that must be refused and the absolute forms that must be written inside the destination
    with a warning. `t` is a short token unique to the case; `fit` the longest name the field holds."""
    box = ctx.box(cid)
    sep = (lambda s: s.replace("\\", "/")) if backslash_separates else (lambda s: s)
    names = []

    def add(m):
        if fit is None or len(m.name) <= fit:
            names.append(m)

    def ok(n, at=None):
        add(M(n, content(cid, n), "ok", at=at or n, shown=n))

    def refuse(n, token):
        add(M(n, content(cid, n), "refuse", shown=sep(n), token=token))

    def warn(n, tail):
        add(M(n, content(cid, n), "warn", at=tail, shown=sep(n)))

    ok(t + "ok.txt")
    if slash:
        ok("sub/" + t + "ok2.txt")
    refuse("../" + t + "u1.txt", t + "u1")
    refuse("../../" + t + "u2.txt", t + "u2")
    refuse("a/../../" + t + "mid.txt", t + "mid")
    refuse("..\\" + t + "bs.txt", t + "bs")
    refuse("..", None)
    if fit is None or len(box) + 20 <= fit:
        warn(box + "/outside/" + t + "abs.txt", "outside/" + t + "abs.txt")
    warn("C:\\" + t + "drv.txt", t + "drv.txt")
    warn("\\\\srv\\shr\\" + t + "unc.txt", "shr/" + t + "unc.txt")
    return names


def planted_for(ctx, cid, members):
    """Where the traversal names would land if they were followed, outside the sandbox."""
    box = ctx.box(cid)
    dest = os.path.join(box, "dest")
    out = []
    for m in members:
        if m.how != "refuse":
            continue
        n = m.name.decode("latin-1").replace("\\", "/")
        for base in (dest, box):
            p = os.path.normpath(os.path.join(base, n))
            if not (p + "/").startswith(box + "/"):
                out.append(p)
    return sorted(set(out))


def control_set(cid, fit=None, utf8=True):
    """Names with terminal controls, a bidi override and bytes that are not UTF-8: they must come out (their
    content found in the destination) and never reach the terminal raw. Without `utf8` the family's names are
    read in a DOS code page, and the override's bytes are other characters there."""
    raw = [
        (b"c-esc-\x1b[2J\x1b]0;pwn\x07.txt", "c-esc-\x1b[2J\x1b]0;pwn\x07.txt"),
        (b"c-cr-\rvisible.txt", "c-cr-\rvisible.txt"),
        (b"c-bel-\x07\x08\x7f.txt", "c-bel-\x07\x08\x7f.txt"),
        ("c-bidi-\u202etxt.exe".encode(), "c-bidi-\u202etxt.exe"),
        (b"c-csi-\xc2\x9b31m.txt", None),
        (b"c-bad-\xff\xfe\xc3.txt", None),
    ]
    out = []
    for n, shown in raw:
        if not utf8 and shown is not None and any(ord(ch) > 0x7F for ch in shown):
            shown = None
        if fit is not None and len(n) > fit:
            n = n[:fit]
            shown = None
        out.append(M(n, content(cid, n), "found", shown=shown))
    return out


# ---------------------------------------------------------------------------------------------------- ZIP


def zip_pack(members, central=True, eocd=None, cd_extra=b"", prefix=b"", zip64_eocd=None, comment=b""):
    """A ZIP archive of the members. Member options (m.opts): method, lname/cname (local and central names),
    mode (Unix mode), lextra/cextra, csize/usize/crc (overrides, both headers), offset (central offset
    override), flags, made_by, skip_local, zip64 (sizes put into a ZIP64 field)."""
    local = bytearray()
    recs = []
    for m in members:
        o = m.opts
        data = m.data
        method = o.get("method", 0)
        if m.kind == "symlink":
            data = m.target
        packed = deflate(data) if method == 8 and "packed" not in o else o.get("packed", data)
        crc = o.get("crc", crc32(data))
        csize = o.get("csize", len(packed))
        usize = o.get("usize", len(data))
        lname = o.get("lname", m.name)
        cname = o.get("cname", m.name)
        flags = o.get("flags", 0) | (1 if o.get("encrypted") else 0)
        mode = o.get("mode")
        if mode is None:
            mode = 0o120777 if m.kind == "symlink" else (0o40755 if m.kind == "dir" else 0o100644)
        lextra = o.get("lextra", b"")
        cextra = o.get("cextra", b"")
        z64 = o.get("zip64")
        if z64:
            f = b"".join(u64(v) for v in z64)
            lextra = lextra + u16(1) + u16(len(f)) + f
            cextra = cextra + u16(1) + u16(len(f)) + f
        offset = len(prefix) + len(local)
        if not o.get("skip_local"):
            local += (u32(0x04034B50) + u16(20) + u16(flags) + u16(method) + u32(DOS_STAMP) + u32(crc) +
                      u32(csize) + u32(usize) + u16(len(lname)) + u16(len(lextra)) + lname + lextra + packed)
        recs.append((m, cname, flags, method, crc, csize, usize, cextra, mode, o.get("offset", offset)))
    cd = bytearray()
    for m, cname, flags, method, crc, csize, usize, cextra, mode, offset in recs:
        made_by = m.opts.get("made_by", (3 << 8) | 30)
        ext = (mode << 16) | (0x10 if m.kind == "dir" else 0)
        cd += (u32(0x02014B50) + u16(made_by) + u16(20) + u16(flags) + u16(method) + u32(DOS_STAMP) +
               u32(crc) + u32(csize) + u32(usize) + u16(len(cname)) + u16(len(cextra)) + u16(0) + u16(0) +
               u16(0) + u32(ext) + u32(offset) + cname + cextra)
    cd += cd_extra
    out = bytearray(prefix) + local
    if not central:
        return bytes(out)
    cd_off = len(out)
    out += cd
    e = {"count": len(recs), "total": len(recs), "size": len(cd), "offset": cd_off, "clen": len(comment)}
    e.update(eocd or {})
    if zip64_eocd is not None:
        z = {"count": len(recs), "size": len(cd), "offset": cd_off}
        z.update(zip64_eocd)
        rec_off = len(out)
        out += (u32(0x06064B50) + u64(44) + u16(45) + u16(45) + u32(0) + u32(0) + u64(z["count"]) +
                u64(z["count"]) + u64(z["size"]) + u64(z["offset"]))
        out += u32(0x07064B50) + u32(0) + u64(z.get("locator", rec_off)) + u32(1)
    out += (u32(0x06054B50) + u16(0) + u16(0) + u16(e["count"]) + u16(e["total"]) + u32(e["size"]) +
            u32(e["offset"]) + u16(e["clen"]) + comment)
    return bytes(out)


def unicode_path(stored, path):
    f = u8(1) + u32(crc32(stored)) + path
    return u16(0x7075) + u16(len(f)) + f


def zip_cases(ctx):
    cases = []
    fam = "ZIP"

    # Names in the headers every reader takes: central and local alike.
    cid = "zip-names"
    ms = name_set(ctx, cid, "z")
    ms.append(M("", b"empty name", "any"))
    cases.append(Case(cid, fam, "a.zip", zip_pack(ms), ms, cmds=("list", "json", "test", "extract", "overwrite"),
                      planted=planted_for(ctx, cid, ms)))

    # The same entries deflated, a second reader path (data read through the inflater).
    cid = "zip-names-deflated"
    ms = name_set(ctx, cid, "d")
    for m in ms:
        m.opts["method"] = 8
    cases.append(Case(cid, fam, "a.zip", zip_pack(ms), ms, planted=planted_for(ctx, cid, ms)))

    # No central directory: the local headers are walked, and their names count.
    cid = "zip-names-local"
    ms = name_set(ctx, cid, "l")
    cases.append(Case(cid, fam, "a.zip", zip_pack(ms, central=False), ms, planted=planted_for(ctx, cid, ms)))

    # The central name is the entry's name: a hostile local name behind a benign central one is not used,
    # and a hostile central name behind a benign local one is refused.
    cid = "zip-names-mismatch"
    hostile = [m for m in name_set(ctx, cid, "m") if m.how != "ok"]
    ms = []
    for i, h in enumerate(hostile):
        benign = "m%dbenign.txt" % i
        ms.append(M(benign, content(cid, benign), "ok", at=benign, shown=benign, lname=h.name))
        h.opts["lname"] = benign.encode()
        ms.append(h)
    cases.append(Case(cid, fam, "a.zip", zip_pack(ms), ms, planted=planted_for(ctx, cid, ms)))

    # The Info-ZIP Unicode path field names the entry when its check value matches the stored name.
    cid = "zip-names-unicode"
    ms = []
    for i, h in enumerate(name_set(ctx, cid, "u")):
        stored = ("u%dstored.txt" % i).encode()
        h.opts["cname"] = h.opts["lname"] = stored
        h.opts["cextra"] = h.opts["lextra"] = unicode_path(stored, h.name)
        ms.append(h)
    cases.append(Case(cid, fam, "a.zip", zip_pack(ms), ms, planted=planted_for(ctx, cid, ms)))

    # The same names in a JAR (its own extractor) and a self-extractor (a program in front of the archive).
    cid = "zip-names-jar"
    ms = name_set(ctx, cid, "j")
    cases.append(Case(cid, fam, "a.jar", zip_pack(ms), ms, planted=planted_for(ctx, cid, ms),
                      ident={"Java JAR"}))
    cid = "zip-names-sfx"
    ms = name_set(ctx, cid, "x")
    stub = bytearray(4096)
    stub[0:2] = b"MZ"
    stub[2:4] = u16(0)
    stub[4:6] = u16(8)  # an image of 8 pages of 512 bytes: the overlay starts at 4096
    stub[0x18:0x1A] = u16(0x40)
    cases.append(Case(cid, fam, "a.exe", zip_pack(ms, prefix=bytes(stub)), ms,
                      planted=planted_for(ctx, cid, ms), ident={"ZIP SFX"}))

    cid = "zip-control-names"
    ms = control_set(cid)
    cases.append(Case(cid, fam, "a.zip", zip_pack(ms), ms, cmds=("list", "json", "test", "extract")))

    # Links: a Unix-mode symbolic link pointing out, and entries written through it.
    cases.append(zip_links(ctx))

    # A deflate stream of zeros far larger than itself.
    data, crc = deflate_zeros(256 << 20)
    ms = [M("before.txt", b"before\n", "ok", at="before.txt", shown="before.txt"),
          M("bomb.bin", b"", "any", method=8, packed=data, crc=crc, usize=256 << 20)]
    cases.append(Case("zip-bomb-deflate", fam, "a.zip", zip_pack(ms), ms))

    # Many central entries sharing one local record: refused as a whole before anything is written.
    one, crc = deflate_zeros(1 << 20)
    kernel = (u32(0x04034B50) + u16(20) + u16(0) + u16(8) + u32(DOS_STAMP) + u32(crc) + u32(len(one)) +
              u32(1 << 20) + u16(6) + u16(0) + b"k0.bin" + one)
    cd = bytearray()
    n = 2000
    for i in range(n):
        nm = b"k%d.bin" % i
        cd += (u32(0x02014B50) + u16(0x31E) + u16(20) + u16(0) + u16(8) + u32(DOS_STAMP) + u32(crc) +
               u32(len(one)) + u32(1 << 20) + u16(len(nm)) + u16(0) * 4 + u32(0o100644 << 16) + u32(0) + nm)
    data = kernel + cd + (u32(0x06054B50) + u16(0) * 2 + u16(n) * 2 + u32(len(cd)) + u32(len(kernel)) + u16(0))
    cases.append(Case("zip-overlap-shared", fam, "a.zip", data, [], dest_empty=True,
                      errors={"test": True, "extract": True}, stderr_has=[("extract", "overlap")]))

    # Overlap by quoting: every entry's data runs on over the local headers of the entries after it.
    body = bytearray()
    offs = []
    for i in range(50):
        offs.append(len(body))
        nm = b"q%02d.bin" % i
        body += (u32(0x04034B50) + u16(20) + u16(0) + u16(0) + u32(DOS_STAMP) + u32(0) + u32(0) + u32(0) +
                 u16(len(nm)) + u16(0) + nm)
    body += b"Z" * 1000
    cd = bytearray()
    for i, off in enumerate(offs):
        nm = b"q%02d.bin" % i
        span = len(body) - (off + 30 + len(nm))
        cd += (u32(0x02014B50) + u16(0x31E) + u16(20) + u16(0) + u16(0) + u32(DOS_STAMP) +
               u32(crc32(bytes(body[off + 30 + len(nm):]))) + u32(span) + u32(span) + u16(len(nm)) +
               u16(0) * 4 + u32(0o100644 << 16) + u32(off) + nm)
    data = bytes(body) + cd + (u32(0x06054B50) + u16(0) * 2 + u16(len(offs)) * 2 + u32(len(cd)) +
                               u32(len(body)) + u16(0))
    cases.append(Case("zip-overlap-quoted", fam, "a.zip", data, [], dest_empty=True,
                      errors={"test": True, "extract": True}, stderr_has=[("extract", "overlap")]))

    # Declared sizes far beyond the data: the benign entry still comes out, the liars fail, all quickly.
    ms = [M("fine.txt", b"fine\n", "ok", at="fine.txt", shown="fine.txt"),
          M("u32max.bin", b"sixteen bytes!!\n", "any", usize=0xFFFFFFFF),
          M("z64-2p63.bin", b"y" * 16, "any", usize=0xFFFFFFFF, csize=0xFFFFFFFF, zip64=(1 << 63, 16)),
          M("z64-max.bin", b"w" * 16, "any", usize=0xFFFFFFFF, csize=0xFFFFFFFF,
            zip64=(0xFFFFFFFFFFFFFFFF, 16))]
    cases.append(Case("zip-sizes-lie", fam, "a.zip", zip_pack(ms), ms,
                      errors={"test": True, "extract": True}))
    # A packed size past the end of the file, on the last entry (on any other it would claim the records
    # after it, and the archive is then refused as overlapping).
    for cid, liar in (("zip-csize-lie", M("csize32max.bin", b"x" * 16, "any", csize=0xFFFFFFFF - 1)),
                      ("zip64-csize-lie", M("z64-csize-max.bin", b"v" * 16, "any", usize=0xFFFFFFFF,
                                            csize=0xFFFFFFFF, zip64=(16, 0xFFFFFFFFFFFFFFFF)))):
        ms = [M("fine.txt", b"fine\n", "ok", at="fine.txt", shown="fine.txt"), liar]
        cases.append(Case(cid, fam, "a.zip", zip_pack(ms), ms))

    # Names no file system takes: one component of 65535 bytes, and 3000 folders deep.
    cid = "zip-names-toolong"
    ms = [M("zt-ok.txt", content(cid, "zt-ok.txt"), "ok"),
          M("n" * 65000 + ".txt", b"long\n", "any"),
          M("d/" * 3000 + "deep.txt", b"deep\n", "any"),
          M("zt-ok2.txt", content(cid, "zt-ok2.txt"), "ok")]
    cases.append(Case(cid, fam, "a.zip", zip_pack(ms), ms, errors={"extract": True}))

    cases += zip_structure_cases(ctx)
    return cases


def zip_links(ctx):
    cid = "zip-links"
    box = ctx.box(cid)
    ms = [
        M("zlok.txt", content(cid, "zlok.txt"), "ok", at="zlok.txt", shown="zlok.txt"),
        M("lnk", kind="symlink", target="../outside", how="any"),
        M("lnk/zlthrough.txt", b"PWNED\n", "refuse", shown="lnk/zlthrough.txt", token="zlthrough", test="pass"),
        M("alnk", kind="symlink", target=box + "/outside", how="any"),
        M("alnk/zlthrough2.txt", b"PWNED\n", "refuse", shown="alnk/zlthrough2.txt", token="zlthrough2",
          test="pass"),
        M("dlnk", kind="symlink", target="../outside/canary.txt", how="any"),
        M("dlnk", b"PWNED\n", "any"),
        M("ulnk", kind="symlink", target="../../" + cid + "/outside", how="any"),
        M("ulnk/zlthrough4.txt", b"PWNED\n", "refuse", shown="ulnk/zlthrough4.txt", token="zlthrough4",
          test="pass"),
        M("nest/up", kind="symlink", target="../..", how="any"),
        M("nest/up/outside/zlthrough3.txt", b"PWNED\n", "refuse", shown="nest/up/outside/zlthrough3.txt",
          token="zlthrough3", test="pass"),
    ]
    return Case(cid, "ZIP", "a.zip", zip_pack(ms), ms, cmds=("list", "test", "extract", "overwrite"))


def zip_structure_cases(ctx):
    fam = "ZIP"
    cases = []
    base = [M("s1.txt", b"first entry\n", "any"), M("s2.txt", b"second entry, a little longer\n", "any"),
            M("s3.txt", b"third\n" * 50, "any", method=8)]
    good = zip_pack(base)
    cd_off = struct.unpack("<I", good[-6:-2])[0]
    cd_size = struct.unpack("<I", good[-10:-6])[0]

    def add(cid, data, note, **kw):
        cases.append(Case(cid, fam, "a.zip", data, [], note=note, **kw))

    add("zip-cd-count-huge", zip_pack(base, eocd={"count": 0xFFFE, "total": 0xFFFE}),
        "the end record counts far more entries than there are")
    add("zip-cd-offset-past-end", zip_pack(base, eocd={"offset": 0x7FFFFFF0}), "directory offset past the end")
    add("zip-cd-offset-zero", zip_pack(base, eocd={"offset": 0}), "directory offset at the first local header")
    add("zip-cd-offset-self", zip_pack(base, eocd={"offset": len(good) - 22}), "directory offset at the end record")
    add("zip-cd-offset-mid", zip_pack(base, eocd={"offset": cd_off + 7}), "directory offset inside a record")
    add("zip-cd-size-huge", zip_pack(base, eocd={"size": 0xFFFFFFF0}), "directory size far past the end")
    add("zip-cd-size-zero", zip_pack(base, eocd={"size": 0}), "directory size 0")
    add("zip-eocd-comment-long", zip_pack(base, eocd={"clen": 0xFFFF}), "end-record comment past the end")
    # ZIP64 records whose counts, sizes and offsets lie, and a locator that points at itself.
    add("zip64-count-max", zip_pack(base, eocd={"count": 0xFFFF, "total": 0xFFFF, "size": 0xFFFFFFFF,
                                                  "offset": 0xFFFFFFFF},
                                    zip64_eocd={"count": 0xFFFFFFFFFFFFFFFF}), "ZIP64 entry count 2^64-1")
    add("zip64-size-max", zip_pack(base, eocd={"size": 0xFFFFFFFF, "offset": 0xFFFFFFFF},
                                   zip64_eocd={"size": 0xFFFFFFFFFFFFFFFF}), "ZIP64 directory size 2^64-1")
    add("zip64-offset-max", zip_pack(base, eocd={"size": 0xFFFFFFFF, "offset": 0xFFFFFFFF},
                                     zip64_eocd={"offset": 0xFFFFFFFFFFFFFFF0}), "ZIP64 directory offset huge")
    add("zip64-locator-self", zip_pack(base, eocd={"offset": 0xFFFFFFFF},
                                       zip64_eocd={"locator": len(good) + 56 - 22}),
        "ZIP64 locator pointing at itself")
    # Central records whose lengths run past the directory.
    bad = [M("n1.txt", b"one\n", "any"), M("n2.txt", b"two\n", "any")]
    for cid, opt in (("zip-cd-extra-past-end", {"cextra": u16(0x5455) + u16(0xFFF0)}),
                     ("zip-cd-zip64-short", {"cextra": u16(1) + u16(4) + u32(7), "usize": 0xFFFFFFFF,
                                             "csize": 0xFFFFFFFF}),
                     ("zip-local-name-past-end", {"lname": b"n2.txt", "lextra": b""})):
        ms = [M(m.name, m.data, "any", **(opt if m.name == b"n2.txt" else {})) for m in bad]
        data = zip_pack(ms)
        if cid == "zip-local-name-past-end":
            # The second local header's name length runs far past the end.
            at = data.find(b"PK\x03\x04", 1)
            data = data[:at + 26] + u16(0xFFFF) + data[at + 28:]
        add(cid, data, "a length field past its record")
    cd_name = zip_pack(bad)
    at = cd_name.find(b"PK\x01\x02")
    add("zip-cd-name-past-end", cd_name[:at + 28] + u16(0xFFFF) + cd_name[at + 30:], "central name length 0xFFFF")
    # A streamed entry (sizes after the data) whose descriptor never comes, without a directory.
    ms = [M("stream.bin", b"streamed data " * 100, "any", method=8, flags=8, csize=0, usize=0, crc=0)]
    add("zip-stream-no-descriptor", zip_pack(ms, central=False), "data descriptor never found")
    # A local header whose ZIP64 packed size wraps the walk back to the start.
    ms = [M("w1.txt", b"w1\n", "any", csize=0xFFFFFFFF, usize=0xFFFFFFFF, zip64=(3, 0xFFFFFFFFFFFFFFF0))]
    add("zip-local-wrap", zip_pack(ms, central=False), "local walk with a wrapping size")
    # Cut short at every interesting place.
    cuts = sorted({1, 4, 20, 29, 30, 40, 60, 100, cd_off - 1, cd_off, cd_off + 10, cd_off + cd_size - 1,
                   len(good) - 22, len(good) - 10, len(good) - 1})
    for c in cuts:
        if 0 < c < len(good):
            add("zip-cut-%04d" % c, good[:c], "truncated at %d of %d" % (c, len(good)),
                cmds=("list", "test", "extract"), ident=None if c >= len(good) - 22 else {"*"})
    return cases


# ---------------------------------------------------------------------------------------------------- TAR


def tar_num(v, n):
    """A numeric field: octal when it fits, base-256 otherwise."""
    s = b"%o" % v
    if len(s) <= n - 1:
        return s.rjust(n - 1, b"0") + b"\0"
    return bytes([0x80]) + v.to_bytes(n - 1, "big")


def tar_header(name=b"", size=0, typeflag=b"0", linkname=b"", mode=0o644, magic="ustar", prefix=b"",
               mtime=UNIX_TIME, over=None):
    h = bytearray(512)
    h[0:100] = cstr(name, 100)
    h[100:108] = tar_num(mode, 8)
    h[108:116] = tar_num(0, 8)
    h[116:124] = tar_num(0, 8)
    h[124:136] = tar_num(size, 12)
    h[136:148] = tar_num(mtime, 12)
    h[156:157] = typeflag
    h[157:257] = cstr(linkname, 100)
    if magic == "ustar":
        h[257:265] = b"ustar\x0000"
    elif magic == "gnu":
        h[257:265] = b"ustar  \x00"
    if magic:
        h[265:297] = cstr(b"root", 32)
        h[297:329] = cstr(b"root", 32)
        h[345:500] = cstr(prefix, 155)
    for off, val in (over or {}).items():
        h[off:off + len(val)] = val
    h[148:156] = b" " * 8
    h[148:156] = b"%06o\0 " % sum(h)
    return bytes(h)


def pad512(b):
    return b + bytes((-len(b)) % 512)


def pax_record(key, value):
    key = key if isinstance(key, bytes) else key.encode()
    value = value if isinstance(value, bytes) else value.encode()
    body = b" " + key + b"=" + value + b"\n"
    n = len(body) + 1
    while len(str(n)) + len(body) != n:
        n = len(str(n)) + len(body)
    return str(n).encode() + body


def pax(records, typeflag=b"x"):
    data = b"".join(pax_record(k, v) for k, v in records)
    return tar_header(b"PaxHeaders/x", len(data), typeflag) + pad512(data)


def gnu_long(name, typeflag=b"L"):
    data = name + b"\0"
    return tar_header(b"././@LongLink", len(data), typeflag, magic="gnu") + pad512(data)


def tar_pack(members, end=True):
    """A TAR of the members. Member options: field (name | prefix | L | pax), magic, typeflag, size (the
    header's size field), over (raw header bytes by offset), pre (records put in front), raw (the whole
    member's bytes)."""
    out = bytearray()
    for m in members:
        o = m.opts
        if "raw" in o:
            out += o["raw"]
            continue
        out += o.get("pre", b"")
        field = o.get("field", "name")
        typeflag = o.get("typeflag", {"file": b"0", "dir": b"5", "symlink": b"2", "hardlink": b"1"}[m.kind])
        data = m.data if m.kind == "file" else b""
        size = o.get("size", len(data))
        magic = o.get("magic", "ustar")
        name, prefix, link = m.name, b"", m.target
        if field == "prefix":
            cut = m.name.rfind(b"/")
            prefix, name = m.name[:cut], m.name[cut + 1:]
        elif field == "L":
            out += gnu_long(m.name)
            name, magic = b"placeholder-name", "gnu"
        elif field == "pax":
            out += pax([("path", m.name)])
            name = b"placeholder-name"
        if o.get("link_field") == "K":
            out += gnu_long(m.target, b"K")
            link, magic = b"placeholder-link", "gnu"
        elif o.get("link_field") == "pax":
            out += pax([("linkpath", m.target)])
            link = b"placeholder-link"
        out += tar_header(name, size, typeflag, link, mode=o.get("mode", 0o644), magic=magic, prefix=prefix,
                          over=o.get("over"))
        out += pad512(data)
    if end:
        out += bytes(1024)
    return bytes(out)


def tar_name_cases(ctx, wrap=None):
    """TAR names in each field; `wrap` makes the TAR a .tgz or .tar.Z read as a stream."""
    cases = []
    fields = (("name", 100), ("prefix", 255), ("L", None), ("pax", None))
    for field, fit in fields:
        cid = "tar-names-" + field + ("-" + wrap if wrap else "")
        t = "t" + field[0].lower()
        ms = name_set(ctx, cid, t, backslash_separates=False, fit=fit)
        if field == "prefix":
            # Only names with a folder part go into the prefix field.
            ms = [m for m in ms if b"/" in m.name and len(m.name) - m.name.rfind(b"/") <= 100 and
                  m.name.rfind(b"/") <= 155]
        for m in ms:
            m.opts["field"] = field if m.how != "ok" else "name"
        data = tar_pack(ms)
        fname = "a.tar"
        if wrap == "tgz":
            data, fname = gzip_pack(data), "a.tgz"
        elif wrap == "taz":
            data, fname = compress_z(data), "a.tar.Z"
        cases.append(Case(cid, "GZip" if wrap else "TAR", fname, data, ms, planted=planted_for(ctx, cid, ms),
                          cmds=("list", "json", "test", "extract", "overwrite"), ident={"GZip"} if wrap else None))
    return cases


def tar_link_cases(ctx, wrap=None):
    cid = "tar-links" + ("-" + wrap if wrap else "")
    box = ctx.box(cid)
    ms = [
        M("tlok.txt", content(cid, "tlok.txt"), "ok", at="tlok.txt", shown="tlok.txt"),
        M("lnk", kind="symlink", target="../outside", how="any"),
        M("lnk/tlthrough.txt", b"PWNED\n", "refuse", shown="lnk/tlthrough.txt", token="tlthrough", test="pass"),
        M("alnk", kind="symlink", target=box + "/outside", how="any"),
        M("alnk/sub", kind="dir", how="any"),
        M("alnk/sub/tlthrough2.txt", b"PWNED\n", "refuse", shown="alnk/sub/tlthrough2.txt", token="tlthrough2",
          test="pass"),
        M("klnk", kind="symlink", target=box + "/outside", how="any", link_field="K"),
        M("klnk/tlthrough3.txt", b"PWNED\n", "refuse", shown="klnk/tlthrough3.txt", token="tlthrough3",
          test="pass"),
        # Hard links to files outside, by relative and absolute path and through pax and GNU long links.
        M("hl1", kind="hardlink", target="../outside/canary.txt", how="refuse", shown="hl1", token=None),
        M("hl2", kind="hardlink", target=box + "/outside/canary.txt", how="refuse", shown="hl2"),
        M("hl3", kind="hardlink", target="../outside/canary.txt", how="refuse", shown="hl3", link_field="pax"),
        M("hl4", kind="hardlink", target=box + "/outside/canary.txt", how="refuse", shown="hl4", link_field="K"),
        # Then files of the same names: written (or kept) in the destination, never through a link.
        M("hl1", b"PWNED\n", "any"),
        M("hl2", b"PWNED\n", "any"),
        # A link to a file of this archive is fine; a link over it must not make the file write outside.
        M("tlok2.txt", content(cid, "tlok2.txt"), "any"),
        M("hlok", kind="hardlink", target="tlok2.txt", how="any"),
        M("dlnk", kind="symlink", target="../outside/canary.txt", how="any"),
        M("dlnk", b"PWNED\n", "any"),
        M("up", kind="symlink", target="..", how="any"),
        M("up/outside/tlthrough4.txt", b"PWNED\n", "refuse", shown="up/outside/tlthrough4.txt",
          token="tlthrough4", test="pass"),
        M("ulnk", kind="symlink", target="../../" + cid + "/outside", how="any"),
        M("ulnk/tlthrough5.txt", b"PWNED\n", "refuse", shown="ulnk/tlthrough5.txt", token="tlthrough5",
          test="pass"),
        M("hl5", kind="hardlink", target="../../" + cid + "/outside/canary.txt", how="refuse", shown="hl5"),
    ]
    data = tar_pack(ms)
    fname = "a.tar"
    if wrap == "tgz":
        data, fname = gzip_pack(data), "a.tgz"
    return Case(cid, "GZip" if wrap else "TAR", fname, data, ms, cmds=("list", "test", "extract", "overwrite"),
                ident={"GZip"} if wrap else None)


def gnu_sparse(name, real, chunks, stored, ext_chunks=()):
    """An old GNU sparse member (type S): up to four map entries in the header, more in extension blocks."""
    over = {386 + i * 24: tar_num(off, 12) + tar_num(n, 12) for i, (off, n) in enumerate(chunks[:4])}
    over[483] = tar_num(real, 12)
    exts = [ext_chunks[i:i + 21] for i in range(0, len(ext_chunks), 21)]
    if exts:
        over[482] = b"\x01"
    h = tar_header(name, len(stored), b"S", magic="gnu", over=over)
    blocks = b""
    for k, part in enumerate(exts):
        b = bytearray(512)
        for i, (off, n) in enumerate(part):
            b[i * 24:i * 24 + 24] = tar_num(off, 12) + tar_num(n, 12)
        b[504] = 1 if k + 1 < len(exts) else 0
        blocks += bytes(b)
    return h + blocks + pad512(stored)


def pax_sparse_01(name, real, chunks, stored):
    m = ",".join("%d,%d" % c for c in chunks)
    return (pax([("GNU.sparse.major", "0"), ("GNU.sparse.minor", "1"), ("GNU.sparse.name", name),
                 ("GNU.sparse.realsize", str(real)), ("GNU.sparse.map", m)]) +
            tar_header(b"GNUSparseFile.0/" + name, len(stored)) + pad512(stored))


def pax_sparse_10(name, real, chunks, stored):
    mp = pad512(("%d\n" % len(chunks) + "".join("%d\n%d\n" % c for c in chunks)).encode())
    body = mp + stored
    return (pax([("GNU.sparse.major", "1"), ("GNU.sparse.minor", "0"), ("GNU.sparse.name", name),
                 ("GNU.sparse.realsize", str(real))]) +
            tar_header(b"GNUSparseFile.0/" + name, len(body)) + pad512(body))


def tar_cases(ctx):
    cases = tar_name_cases(ctx) + [tar_link_cases(ctx)]
    fam = "TAR"
    cid = "tar-control-names"
    ms = control_set(cid, fit=99)
    cases.append(Case(cid, fam, "a.tar", tar_pack(ms), ms, cmds=("list", "json", "test", "extract")))

    # Sparse maps declaring files of a TiB and of 2^62 bytes in all three layouts: seconds, no disk.
    tib, huge = 1 << 40, 1 << 62
    stored = b"S" * 512
    for cid, rec in (
            ("tar-sparse-gnu-1tib", gnu_sparse(b"sg1.bin", tib, [(0, 512)], stored)),
            ("tar-sparse-gnu-2p62", gnu_sparse(b"sg2.bin", huge, [(huge - 512, 512)], stored)),
            ("tar-sparse-pax01-1tib", pax_sparse_01(b"sp1.bin", tib, [(tib // 2, 512)], stored)),
            ("tar-sparse-pax01-2p62", pax_sparse_01(b"sp2.bin", huge, [(0, 512), (huge - 512, 0)], stored)),
            ("tar-sparse-pax10-1tib", pax_sparse_10(b"sx1.bin", tib, [(tib - 512, 512)], stored)),
            ("tar-sparse-pax10-2p62", pax_sparse_10(b"sx2.bin", huge, [(0, 512)], stored)),
            ("tar-sparse-gnu-many", gnu_sparse(b"sgm.bin", tib, [(0, 0)] * 4, b"",
                                               ext_chunks=[(i * (1 << 28), 0) for i in range(1, 21000)])),
            # Maps that lead backwards, past the file's end or account for more than is stored.
            ("tar-sparse-backwards", gnu_sparse(b"sb.bin", tib, [(1 << 30, 256), (0, 256)], stored)),
            ("tar-sparse-past-real", gnu_sparse(b"sr.bin", 1024, [(0, 512), (1 << 50, 512)], stored)),
            ("tar-sparse-more-than-stored", pax_sparse_01(b"sm.bin", tib, [(0, 1 << 40)], stored)),
            ("tar-sparse-pax10-count-huge",
             pax([("GNU.sparse.major", "1"), ("GNU.sparse.minor", "0"), ("GNU.sparse.name", "sc.bin"),
                  ("GNU.sparse.realsize", "1")]) +
             tar_header(b"GNUSparseFile.0/sc.bin", 512) + pad512(b"999999999999999999\n"))):
        data = tar_pack([M("sok.txt", b"sparse neighbour\n")]) [:-1024] + rec + bytes(1024)
        ms = [M("sok.txt", b"sparse neighbour\n", "ok", at="sok.txt", shown="sok.txt")]
        cases.append(Case(cid, fam, "a.tar", data, ms))
    # The same huge map read out of a compressed stream.
    cases.append(Case("tgz-sparse-1tib", "GZip", "a.tgz",
                      gzip_pack(gnu_sparse(b"zs.bin", tib, [(tib - 512, 512)], stored) + bytes(1024)), [],
                      ident={"GZip"}))

    # Hard links to a file that could not be written get a copy of its data each: a small archive must not
    # write far more than it holds.
    links = [M("t", b"a file where a folder is needed\n", "any"), M("t/big.bin", noise(9, 1 << 20), "any")]
    links += [M("h%03d" % i, kind="hardlink", target="t/big.bin", how="any") for i in range(120)]
    cases.append(Case("tar-hardlink-copies", fam, "a.tar", tar_pack(links), [],
                      note="120 hard links to a MiB that failed to extract"))

    # Size fields that are garbage, overflow or say more than any file holds.
    def sized(cid, over=None, pre=b"", note=""):
        data = (tar_pack([M("first.txt", b"first\n")], end=False) + pre +
                tar_header(b"victim.bin", 5, over=over) + pad512(b"hello") + bytes(1024))
        cases.append(Case(cid, fam, "a.tar", data, [M("first.txt", b"first\n", "ok", at="first.txt",
                                                      shown="first.txt")], note=note))

    sized("tar-size-garbage", {124: b"12x45\0      "}, note="size field with a non-octal digit")
    sized("tar-size-octal-full", {124: b"777777777777"}, note="12 octal digits without a terminator")
    sized("tar-size-octal-over", {124: b"7" * 12}, note="octal larger than 8 GiB")
    sized("tar-size-b256-huge", {124: b"\x80" + b"\xff" * 11}, note="base-256 2^88-1")
    sized("tar-size-b256-2p63", {124: b"\x80" + (1 << 63).to_bytes(11, "big")}, note="base-256 2^63")
    sized("tar-size-b256-neg", {124: b"\xff" * 12}, note="base-256 negative")
    sized("tar-size-b256-2p63m1", {124: b"\x80" + ((1 << 63) - 1).to_bytes(11, "big")}, note="2^63-1")
    sized("tar-pax-size-overflow", pre=pax([("size", "9" * 30)]), note="pax size with 30 digits")
    sized("tar-pax-size-2p64", pre=pax([("size", str(1 << 64))]), note="pax size 2^64")
    sized("tar-pax-size-2p63m1", pre=pax([("size", str((1 << 63) - 1))]), note="pax size 2^63-1")
    sized("tar-pax-size-neg", pre=pax([("size", "-512")]), note="negative pax size")
    sized("tar-pax-reclen-huge", pre=tar_header(b"PaxHeaders/x", 30, b"x") + pad512(b"999999999999 path=x\n"),
          note="pax record length past its data")
    sized("tar-pax-reclen-zero", pre=tar_header(b"PaxHeaders/x", 12, b"x") + pad512(b"0 path=zero\n"),
          note="pax record length 0")
    sized("tar-pax-size-1tib", pre=pax([("size", str(1 << 40))]), note="pax size of a TiB with 5 bytes")
    sized("tar-longname-huge", pre=tar_header(b"././@LongLink", 1 << 40, b"L", magic="gnu"),
          note="GNU long name of a TiB")
    sized("tar-meta-loop", pre=pax([("comment", "x")]) * 70, note="70 pax records in front of one entry")
    sized("tar-longname-empty", pre=gnu_long(b""), note="an empty GNU long name")
    sized("tar-global-path", pre=pax([("path", "../gpath.txt"), ("size", "0")], b"g"),
          note="a name and size in a global record")
    sized("tar-checksum-bad", {148: b"0000000\0"}, note="wrong header checksum")
    sized("tar-header-name-zero", {0: b"\0"}, note="a header whose name field starts with a zero byte")
    good = tar_pack([M("c1.txt", b"one\n" * 200), M("c2.txt", b"two\n")])
    for c in (100, 148, 511, 512, 700, 1024, 1535, 1536, 2047, 2048, len(good) - 1):
        cases.append(Case("tar-cut-%04d" % c, fam, "a.tar", good[:c], [], note="truncated at %d" % c,
                          ident={"*"}))
    return cases


# --------------------------------------------------------------------------------------------------- GZIP


def gzip_pack(data, name=None, flags=0, extra=None, comment=None, trailer=None, method=8, raw=None):
    fl = flags | (0x08 if name is not None else 0) | (0x04 if extra is not None else 0) | \
        (0x10 if comment is not None else 0)
    out = bytearray(b"\x1f\x8b" + bytes([method, fl]) + u32(0) + b"\x00\x03")
    if extra is not None:
        out += u16(len(extra)) + extra
    if name is not None:
        out += name + b"\0"
    if comment is not None:
        out += comment + b"\0"
    out += raw if raw is not None else deflate(data)
    out += trailer if trailer is not None else u32(crc32(data)) + u32(len(data))
    return bytes(out)


def gzip_cases(ctx):
    fam = "GZip"
    cases = []
    # One stored name per archive: each hostile form on its own.
    for i in range(len(name_set(ctx, "gz-name", "g", backslash_separates=False))):
        cid = "gz-name-%02d" % i
        m = name_set(ctx, cid, "g", backslash_separates=False)[i]
        cases.append(Case(cid, fam, "a.gz", gzip_pack(m.data, name=m.name), [m],
                          cmds=("list", "test", "extract", "overwrite"), planted=planted_for(ctx, cid, [m])))
    for i, m in enumerate(control_set("gz-ctl")):
        cid = "gz-control-%d" % i
        m = M(m.name, content(cid, m.name), "found", shown=m.shown)
        cases.append(Case(cid, fam, "a.gz", gzip_pack(m.data, name=m.name), [m],
                          cmds=("list", "json", "test", "extract")))
    # The name some writers put after the data.
    cid = "gz-trailing-name"
    data = b"trailing name\n"
    body = gzip_pack(data)
    tail = b"../gztrail.txt"
    cases.append(Case(cid, fam, "a.gz", body + tail + b"\x1f\x8b\x00\x00" + u32(len(tail)),
                      [M(tail, data, "any", token="gztrail")], planted=planted_for(ctx, cid, [M(tail, b"", "refuse")])))
    # A deflate bomb of zeros.
    raw, crc = deflate_zeros(256 << 20)
    cases.append(Case("gz-bomb-deflate", fam, "bomb.gz", gzip_pack(b"", name=b"bomb.bin", raw=raw,
                                                                    trailer=u32(crc) + u32(256 << 20)), [],
                      errors={"test": False, "extract": False}))
    cases.append(Case("gz-isize-lie", fam, "a.gz", gzip_pack(b"small\n", name=b"isize.txt",
                                                             trailer=u32(crc32(b"small\n")) + u32(0xFFFFFFFF)), []))
    # An LZW stream of 110 KB that decodes to a GiB of zeros.
    z, n = lzw_zero_bomb(46600, 0)
    cases.append(Case("z-bomb-lzw", fam, "bomb.Z", z, [], note="%d bytes decode to %d" % (len(z), n)))
    z, n = lzw_zero_bomb(2000, 4000)
    cases.append(Case("z-bomb-lzw-repeat", fam, "rep.Z", z, [], note="%d bytes decode to %d" % (len(z), n)))
    # Header fields that lie.
    def add(cid, data, note, fname="a.gz"):
        cases.append(Case(cid, fam, fname, data, [], note=note, ident={"*"}))
    add("gz-fname-unterminated", b"\x1f\x8b\x08\x08" + u32(0) + b"\x00\x03" + b"n" * 5000, "name runs to the end")
    add("gz-fextra-past-end", gzip_pack(b"x", extra=b"ab")[:10] + u16(0xFFFF) + b"ab" + deflate(b"x") + bytes(8),
        "extra field length past the end")
    add("gz-fhcrc-only", gzip_pack(b"", flags=0x02)[:12], "header CRC flag and nothing after it")
    add("gz-method-7", gzip_pack(b"abc", method=7), "an unknown method")
    add("gz-deflate-garbage", gzip_pack(b"", raw=b"\xff" * 64), "invalid deflate data")
    add("gz-members-many", b"".join(gzip_pack(b"m%d\n" % i) for i in range(3000)), "3000 members")
    add("gz-truncated", gzip_pack(b"truncated " * 1000)[:200], "cut inside the deflate data")
    add("z-maxbits-31", b"\x1f\x9d\x1f" + b"\xff" * 64, "compress with 31-bit codes", "a.Z")
    add("z-maxbits-8", b"\x1f\x9d\x08" + b"\xff" * 64, "compress with 8-bit codes", "a.Z")
    add("z-code-ahead", lzw_pack([65, 300, 301, 999]), "codes past the next free entry", "a.Z")
    add("z-block-clear-loop", b"\x1f\x9d\x90" + lzw_pack([256] * 500)[3:], "nothing but clear codes", "a.Z")
    add("taz-truncated", compress_z(tar_pack([M("zz.txt", b"z" * 3000)]))[:2000], "a .tar.Z cut short", "a.tar.Z")
    cases += tar_name_cases(ctx, "tgz") + tar_name_cases(ctx, "taz")[:1] + [tar_link_cases(ctx, "tgz")]
    return cases


# ---------------------------------------------------------------------------------------------------- LZH


def lzh_checksum(b):
    return sum(b) & 0xFF


def lzh_level0(m):
    o = m.opts
    name = o.get("hname", m.name)
    data = m.data
    method = o.get("method", b"-lh0-")
    body = (method + u32(o.get("packed", len(data))) + u32(o.get("orig", len(data))) + u32(DOS_STAMP) +
            u8(0x20) + u8(0) + u8(len(name)) + name + u16(crc16(data)))
    body += o.get("tail", b"")
    hsize = o.get("hsize", len(body))
    return bytes([hsize & 0xFF, lzh_checksum(body)]) + body + data


def lzh_exts_bytes(exts, last_next=0):
    """Extension headers: each counts its type byte, its data and the next one's size field."""
    sizes = [1 + len(p) + 2 for _, p in exts]
    out = bytearray()
    for i, (t, p) in enumerate(exts):
        nxt = sizes[i + 1] if i + 1 < len(exts) else last_next
        out += bytes([t]) + p + u16(nxt)
    return sizes[0] if sizes else 0, bytes(out)


def lzh_level1(m):
    o = m.opts
    name = o.get("hname", m.name)
    data = m.data if m.kind == "file" else b""
    method = o.get("method", b"-lhd-" if m.kind != "file" else b"-lh0-")
    exts = list(o.get("exts", []))
    first, extb = lzh_exts_bytes(exts, o.get("last_next", 0))
    first = o.get("first", first)
    body = (method + u32(o.get("packed", len(data) + len(extb))) + u32(o.get("orig", len(data))) + u32(DOS_STAMP) +
            u8(0x20) +
            u8(1) + u8(len(name)) + name + u16(crc16(data)) + o.get("os", b"U") + u16(first))
    return bytes([len(body), lzh_checksum(body)]) + body + extb + data


def lzh_level2(m):
    o = m.opts
    data = m.data if m.kind == "file" else b""
    method = o.get("method", b"-lhd-" if m.kind != "file" else b"-lh0-")
    # Writers put the header's own CRC-16 first (computed with its field zero), then the name.
    exts = [(0x00, b"\0\0")] + list(o.get("exts", [(0x01, m.name)]))
    first, extb = lzh_exts_bytes(exts, o.get("last_next", 0))
    first = o.get("first", first)
    total = o.get("total", 26 + len(extb))
    fixed = (u16(total) + method + u32(o.get("packed", len(data))) + u32(o.get("orig", len(data))) + u32(UNIX_TIME) +
             u8(0x20) +
             u8(2) + u16(crc16(data)) + o.get("os", b"U") + u16(first))
    head = fixed + extb
    head = head[:27] + u16(crc16(head)) + head[29:]
    return head + data


def lzh_pack(members, level=2):
    out = bytearray()
    for m in members:
        lv = m.opts.get("level", level)
        out += {0: lzh_level0, 1: lzh_level1, 2: lzh_level2}[lv](m)
    return bytes(out) + b"\0"


def split_dir(name):
    """LZH folder names: "\xff" between the parts, in the folder extension."""
    cut = name.rfind(b"/")
    if cut < 0:
        return b"", name
    return name[:cut + 1].replace(b"/", b"\xff"), name[cut + 1:]


def utf16(s):
    return b"\xff\xff".join(p.encode("utf-16-le") for p in s.split("/"))


def lzh_cases(ctx):
    fam = "LZH/LHA"
    cases = []
    # Level 0: the name field, "\" or 0xFF between folders.
    cid = "lzh-names-level0"
    ms = name_set(ctx, cid, "h", fit=200)
    for m in ms:
        m.opts["level"] = 0
    cases.append(Case(cid, fam, "a.lzh", lzh_pack(ms), ms, planted=planted_for(ctx, cid, ms),
                      cmds=("list", "json", "test", "extract", "overwrite")))
    # Level 1: the name field, with the folder in its own extension.
    cid = "lzh-names-level1"
    ms = name_set(ctx, cid, "i", fit=200)
    for m in ms:
        d, b = split_dir(m.name)
        m.opts.update(level=1, hname=b, exts=[(0x02, d)] if d else [])
    cases.append(Case(cid, fam, "a.lzh", lzh_pack(ms), ms, planted=planted_for(ctx, cid, ms)))
    # Level 2: the name extension alone, then name and folder extensions.
    cid = "lzh-names-level2"
    ms = name_set(ctx, cid, "k")
    cases.append(Case(cid, fam, "a.lzh", lzh_pack(ms), ms, planted=planted_for(ctx, cid, ms)))
    cid = "lzh-names-dirext"
    ms = name_set(ctx, cid, "e")
    for m in ms:
        d, b = split_dir(m.name)
        m.opts["exts"] = [(0x01, b)] + ([(0x02, d)] if d else [])
    cases.append(Case(cid, fam, "a.lzh", lzh_pack(ms), ms, planted=planted_for(ctx, cid, ms)))
    # The UTF-16 name and folder extensions.
    cid = "lzh-names-utf16"
    ms = name_set(ctx, cid, "w")
    for m in ms:
        n = m.name.decode()
        cut = n.rfind("/")
        exts = [(0x44, utf16(n[cut + 1:]))]
        if cut >= 0:
            exts.append((0x45, utf16(n[:cut])))
        m.opts["exts"] = exts
    cases.append(Case(cid, fam, "a.lzh", lzh_pack(ms), ms, planted=planted_for(ctx, cid, ms)))
    cid = "lzh-control-names"
    ms = control_set(cid)
    cases.append(Case(cid, fam, "a.lzh", lzh_pack(ms), ms, cmds=("list", "json", "test", "extract")))
    # LHa for Unix symbolic links ("name|target" folder entries) and entries written through them.
    cid = "lzh-links"
    box = ctx.box(cid)
    ms = [M("hlok.txt", content(cid, "hlok.txt"), "ok", at="hlok.txt", shown="hlok.txt"),
          M("lnk|../outside", kind="symlink", how="any"),
          M("lnk/hlthrough.txt", b"PWNED\n", "refuse", shown="lnk/hlthrough.txt", token="hlthrough", test="pass"),
          M(("alnk|" + box + "/outside").encode(), kind="symlink", how="any"),
          M("alnk/hlthrough2.txt", b"PWNED\n", "refuse", shown="alnk/hlthrough2.txt", token="hlthrough2",
            test="pass"),
          M("dlnk|../outside/canary.txt", kind="symlink", how="any", level=1, hname=b"dlnk|../outside/canary.txt"),
          M("dlnk", b"PWNED\n", "any"),
          M("ulnk|../../" + cid + "/outside", kind="symlink", how="any"),
          M("ulnk/hlthrough3.txt", b"PWNED\n", "refuse", shown="ulnk/hlthrough3.txt", token="hlthrough3",
            test="pass")]
    cases.append(Case(cid, fam, "a.lzh", lzh_pack(ms), ms, cmds=("list", "test", "extract", "overwrite")))

    # Extension chains: size 0 ends them; sizes past the end, too small, or a chain too long must not hang.
    def add(cid, data, note):
        cases.append(Case(cid, fam, "a.lzh", data, [M("ok0.txt", b"zero\n", "any")], note=note, ident={"*"}))

    first = lzh_level0(M("ok0.txt", b"zero\n"))
    add("lzh-ext-size-past-end", first + lzh_level2(M("e.txt", b"e", first=0xFFF0)) + b"\0", "extension past the end")
    add("lzh-ext-size-small", first + lzh_level2(M("e.txt", b"e", first=2)) + b"\0", "extension of 2 bytes")
    add("lzh-ext-chain-long", first + lzh_level2(M("e.txt", b"e", exts=[(0x01, b"e.txt")] + [(0x7E, b"")] * 300)) +
        b"\0", "300 extensions")
    add("lzh-ext-next-huge", first + lzh_level2(M("e.txt", b"e", last_next=0xFFFF)) + b"\0",
        "the last extension names a next one past the end")
    add("lzh-level1-ext-gt-packed", first + lzh_level1(M("e.txt", b"e", exts=[(0x02, b"d\xff")], packed=1)) + b"\0",
        "level-1 extensions larger than the packed size")
    add("lzh-hsize-small", first + bytes([10, 0]) + b"-lh0-" + bytes(30), "header size 10")
    add("lzh-namelen-past", first + lzh_level0(M("e.txt", b"e", tail=b"", hsize=30)) + b"\0", "name past the header")
    add("lzh-level2-total-small", first + lzh_level2(M("e.txt", b"e", total=10)) + b"\0", "level-2 total 10")
    add("lzh-level2-total-huge", first + lzh_level2(M("e.txt", b"e", total=0xFFFF)) + b"\0", "level-2 total past end")
    add("lzh-level3", first + u16(4) + b"-lh0-" + u32(1) + u32(1) + u32(0) + u8(0x20) + u8(3) + u16(0) + b"U" +
        u32(0xFFFFFFF0) + u32(0xFFFF) + b"\0", "level 3 with sizes past the end")
    add("lzh-level9", first + lzh_level2(M("e.txt", b"e"))[:20] + b"\x09" + bytes(40), "an unknown level")
    add("lzh-packed-huge", first + lzh_level2(M("e.txt", b"e", packed=0xFFFFFFFF)) + b"\0", "packed size 2^32-1")
    add("lzh-lh5-garbage", first + lzh_level2(M("e.txt", b"\xff" * 300, method=b"-lh5-")) + b"\0",
        "lh5 data that is noise")
    good = lzh_pack([M("c1.txt", b"one\n" * 50), M("c2.txt", b"two\n")])
    for c in (1, 2, 10, 21, 25, 30, 40, 60, len(good) - 10, len(good) - 2):
        cases.append(Case("lzh-cut-%03d" % c, fam, "a.lzh", good[:c], [], note="truncated at %d" % c, ident={"*"}))
    return cases


# ---------------------------------------------------------------------------------------------------- ARJ


def arj_block(basic):
    return b"\x60\xea" + u16(len(basic)) + basic + u32(crc32(basic)) + u16(0)


def arj_main(name=b"a.arj"):
    basic = (bytes([30, 11, 1, 2, 0x10, 0, 2, 0]) + u32(DOS_STAMP) + u32(DOS_STAMP) + u32(0) + u32(0) + u16(0) +
             u16(0) + u16(0) + name + b"\0" + b"\0")
    return arj_block(basic)


def arj_file(m):
    o = m.opts
    data = m.data if m.kind == "file" else b""
    ftype = 3 if m.kind == "dir" else 0
    host = o.get("host", 2)
    basic = (bytes([30, 11, 1, host, 0x01 if o.get("encrypted") else 0, o.get("method", 0), ftype, 0]) +
             u32(DOS_STAMP) +
             u32(o.get("packed", len(data))) + u32(o.get("orig", len(data))) + u32(crc32(data)) + u16(0) +
             u16(o.get("mode", 0o644) if host == 2 else 0x20) + u16(0) + m.name + b"\0" + b"\0")
    blk = arj_block(basic)
    if o.get("bad_crc"):
        blk = blk[:4 + len(basic)] + u32(0xDEADBEEF) + blk[-2:]
    if "exts" in o:
        blk = blk[:-2] + o["exts"]
    return blk + data


def arj_pack(members):
    return arj_main() + b"".join(arj_file(m) for m in members) + b"\x60\xea\x00\x00"


def arj_cases(ctx):
    fam = "ARJ"
    cases = []
    for host, tag in ((0, "dos"), (2, "unix")):
        cid = "arj-names-" + tag
        ms = name_set(ctx, cid, "a" + tag[0], backslash_separates=True)
        for m in ms:
            m.opts["host"] = host
            if host == 2:
                m.shown = m.name.decode()  # only DOS archivers wrote "\" between folders
        cases.append(Case(cid, fam, "a.arj", arj_pack(ms), ms, planted=planted_for(ctx, cid, ms),
                          cmds=("list", "json", "test", "extract", "overwrite")))
    cid = "arj-control-names"
    ms = control_set(cid)
    cases.append(Case(cid, fam, "a.arj", arj_pack(ms), ms, cmds=("list", "json", "test", "extract")))

    def add(cid, data, note):
        cases.append(Case(cid, fam, "a.arj", data, [], note=note, ident={"*"}))

    ok = M("ok.txt", b"fine\n")
    add("arj-basic-size-huge", arj_main() + arj_file(ok) + b"\x60\xea" + u16(0xFFFF) + bytes(100), "basic size 0xFFFF")
    add("arj-basic-size-small", arj_main() + b"\x60\xea" + u16(10) + bytes(20), "basic size 10")
    add("arj-first-size-big", arj_main() + arj_block(bytes([200]) + bytes(40)), "first header size past the basic header")
    add("arj-crc-bad", arj_main() + arj_file(M("b.txt", b"bad", bad_crc=True)) + arj_file(ok) + b"\x60\xea\0\0",
        "a header whose CRC does not hold")
    add("arj-ext-chain", arj_main() + arj_file(M("e.txt", b"e", exts=(u16(8) + bytes(12)) * 100 + u16(0))) +
        b"\x60\xea\0\0", "100 extended headers")
    add("arj-ext-past-end", arj_main() + arj_file(M("e.txt", b"e", exts=u16(0xFFFF))), "extended header past the end")
    add("arj-packed-huge", arj_main() + arj_file(M("p.txt", b"p", packed=0xFFFFFFFF)) + b"\x60\xea\0\0",
        "packed size 2^32-1")
    add("arj-orig-huge", arj_main() + arj_file(M("o.txt", b"p", orig=0xFFFFFFFF)) + b"\x60\xea\0\0",
        "original size 2^32-1 for one stored byte")
    add("arj-method4-garbage", arj_main() + arj_file(M("g.txt", b"\xff" * 100, method=4, orig=5000)) + b"\x60\xea\0\0",
        "method 4 data that is noise")
    add("arj-no-main", arj_file(ok) + b"\x60\xea\0\0", "no main header")
    good = arj_pack([M("c1.txt", b"one\n" * 40), M("c2.txt", b"two\n")])
    for c in (3, 4, 10, 40, 60, 80, 120, len(good) - 3, len(good) - 1):
        cases.append(Case("arj-cut-%03d" % c, fam, "a.arj", good[:c], [], note="truncated at %d" % c, ident={"*"}))
    return cases


# ---------------------------------------------------------------------------------------------------- ZOO

ZOO_TAG = 0xFDC4A7DC


def zoo_pack(members, fix=None):
    """A ZOO 2.x archive: the archive header, then a chain of directory entries each followed by its data,
    the chain ended by an empty entry. fix(index, entry_pos, positions) may return a `next` override."""
    start = 48
    head = cstr(b"ZOO 2.10 Archive.\x1a", 20) + u32(ZOO_TAG) + u32(start) + u32((-start) & 0xFFFFFFFF) + \
        bytes([2, 0, 1]) + u32(0) + u16(0)
    head = head.ljust(start, b"\0")
    # First the layout, then the bytes: each entry must know where the next one starts.
    blobs = []
    for m in members:
        o = m.opts
        long_name = o.get("long", b"")
        dirname = o.get("dir", b"")
        mode = o.get("mode", 0o644)
        var = bytes([len(long_name), len(dirname)]) + long_name + dirname + u16(o.get("system", 0)) + \
            bytes([mode & 0xFF, (mode >> 8) & 0xFF, 0x40]) + u16(0) + u16(0)
        if not long_name and not dirname and not o.get("var"):
            var = b""
        blobs.append((m, var))
    pos = start
    positions = []
    for m, var in blobs:
        positions.append(pos)
        pos += 56 + len(var) + len(m.data)
    end_pos = pos
    out = bytearray(head)
    for i, (m, var) in enumerate(blobs):
        o = m.opts
        here = positions[i]
        nxt = positions[i + 1] if i + 1 < len(positions) else end_pos
        if fix:
            nxt = fix(i, here, positions, nxt)
        data_pos = o.get("data_pos", here + 56 + len(var))
        short = o.get("short", m.name)
        e = (u32(ZOO_TAG) + bytes([2, o.get("method", 0)]) + u32(nxt) + u32(data_pos) + u16(DOS_DATE) +
             u16(DOS_TIME) + u16(crc16(m.data)) + u32(o.get("orig", len(m.data))) + u32(o.get("packed", len(m.data))) +
             bytes([2, 1, o.get("deleted", 0), 0]) + u32(0) + u16(0) + cstr(short, 13) +
             u16(o.get("varlen", len(var))) + b"\x7f" + u16(0))
        out += e + var + m.data
    out += u32(ZOO_TAG) + bytes(52)
    return bytes(out)


def zoo_cases(ctx):
    fam = "ZOO"
    cases = []
    cid = "zoo-names-short"
    ms = name_set(ctx, cid, "o", fit=12)
    cases.append(Case(cid, fam, "a.zoo", zoo_pack(ms), ms, planted=planted_for(ctx, cid, ms),
                      cmds=("list", "json", "test", "extract", "overwrite")))
    cid = "zoo-names-long"
    ms = name_set(ctx, cid, "n", fit=255)
    for i, m in enumerate(ms):
        m.opts.update(long=m.name, short=b"short%d.txt" % i)
    cases.append(Case(cid, fam, "a.zoo", zoo_pack(ms), ms, planted=planted_for(ctx, cid, ms)))
    cid = "zoo-names-dir"
    ms = [m for m in name_set(ctx, cid, "r", fit=255) if b"/" in m.name or b"\\" in m.name]
    for m in ms:
        cut = max(m.name.rfind(b"/"), m.name.rfind(b"\\"))
        m.opts.update(dir=m.name[:cut], short=m.name[cut + 1:])
    ms.append(M("rok.txt", content(cid, "rok.txt"), "ok", at="rok.txt", shown="rok.txt"))
    cases.append(Case(cid, fam, "a.zoo", zoo_pack(ms), ms, planted=planted_for(ctx, cid, ms)))
    cid = "zoo-control-names"
    ms = control_set(cid)
    for i, m in enumerate(ms):
        m.opts.update(long=m.name, short=b"ctl%d.txt" % i)
    cases.append(Case(cid, fam, "a.zoo", zoo_pack(ms), ms, cmds=("list", "json", "test", "extract")))

    three = [M("z1.txt", b"one\n"), M("z2.txt", b"two\n"), M("z3.txt", b"three\n")]

    # Entries sharing their data: the directory chain is small, the data once, what comes out many times.
    blob = noise(77, 1 << 20)
    many = [M("zok.txt", b"fine\n", "any")] + [M("share%04d.bin" % i, b"", "any") for i in range(300)]
    data = bytearray(zoo_pack(many, None))
    at = len(data)
    data += blob
    # Point every sharing entry at the one blob.
    blob_crc = crc16(blob)
    for i in range(300):
        rec = data.find(b"share%04d.bin" % i)
        e = rec - 38
        data[e + 10:e + 14] = u32(at)
        data[e + 18:e + 20] = u16(blob_crc)
        data[e + 20:e + 24] = u32(len(blob))
        data[e + 24:e + 28] = u32(len(blob))
    cases.append(Case("zoo-overlap-shared", fam, "a.zoo", bytes(data), [],
                      errors={"test": True, "extract": True}, note="300 entries of one MiB sharing their data"))

    def add(cid, data, note):
        cases.append(Case(cid, fam, "a.zoo", data, [], note=note, ident={"*"}))

    add("zoo-next-self", zoo_pack(three, lambda i, p, ps, n: p if i == 1 else n), "a next pointer to itself")
    add("zoo-next-back", zoo_pack(three, lambda i, p, ps, n: ps[0] if i == 2 else n), "a next pointer back to the first")
    add("zoo-next-past-end", zoo_pack(three, lambda i, p, ps, n: 0x7FFFFFF0 if i == 0 else n), "next past the end")
    deleted = [M("d1.txt", b"d", deleted=1), M("d2.txt", b"e", deleted=1)]
    add("zoo-deleted-loop", zoo_pack(deleted, lambda i, p, ps, n: ps[0] if i == 1 else n),
        "deleted entries whose chain loops")
    add("zoo-data-past-end", zoo_pack([M("p.txt", b"pp", data_pos=0x7FFFFFF0)]), "data offset past the end")
    add("zoo-packed-huge", zoo_pack([M("p.txt", b"pp", packed=0xFFFFFFFF, orig=0xFFFFFFFF)]), "sizes 2^32-1")
    add("zoo-varlen-huge", zoo_pack([M("v.txt", b"vv", varlen=4000, long=b"x", var=True)]), "variable part past the end")
    add("zoo-lzw-garbage", zoo_pack([M("g.txt", b"\xff" * 200, method=1, orig=100000)]), "LZW data that is noise")
    add("zoo-lh5-garbage", zoo_pack([M("h.txt", b"\xff" * 200, method=2, orig=100000)]), "lh5 data that is noise")
    hdr = bytearray(zoo_pack(three))
    hdr[24:28] = u32(0x7FFFFFF0)
    hdr[28:32] = u32((-0x7FFFFFF0) & 0xFFFFFFFF)
    add("zoo-first-past-end", bytes(hdr), "first entry past the end")
    hdr = bytearray(zoo_pack(three))
    hdr[28:32] = u32(5)
    add("zoo-first-minus-bad", bytes(hdr), "first-entry check that does not hold")
    good = zoo_pack(three)
    for c in (20, 41, 48, 60, 104, 110, 170, len(good) - 30, len(good) - 1):
        cases.append(Case("zoo-cut-%03d" % c, fam, "a.zoo", good[:c], [], note="truncated at %d" % c, ident={"*"}))
    return cases


# ---------------------------------------------------------------------------------------------------- ARC


def arc_member(m):
    o = m.opts
    method = o.get("method", 30 if m.kind == "dir" else 2)
    data = b"" if m.kind == "dir" else m.data
    h = (b"\x1a" + bytes([method]) + cstr(m.name, 13) + u32(o.get("packed", len(data))) + u16(DOS_DATE) +
         u16(DOS_TIME) + u16(crc16(data)) + u32(o.get("orig", len(data))))
    return h + data


def arc_pack(members, end=True):
    out = bytearray()
    for m in members:
        if m.opts.get("enddir"):
            out += b"\x1a\x1f"
            continue
        out += arc_member(m)
    return bytes(out) + (b"\x1a\x00" if end else b"")


def arc_cases(ctx):
    fam = "ARC/PAK"
    cases = []
    cid = "arc-names"
    ms = name_set(ctx, cid, "c", fit=12)
    cases.append(Case(cid, fam, "a.arc", arc_pack(ms), ms, planted=planted_for(ctx, cid, ms),
                      cmds=("list", "json", "test", "extract", "overwrite")))
    # Folder entries build longer names: an empty folder name makes them absolute, ".." ones lead out.
    cid = "arc-names-dirs"
    box = ctx.box(cid)
    parts = box.strip("/").split("/") + ["outside"]
    ms = [M("cdok.txt", content(cid, "cdok.txt"), "ok", at="cdok.txt", shown="cdok.txt")]
    if all(len(p) <= 12 for p in parts):
        ms.append(M("", kind="dir", how="any"))
        ms += [M(p, kind="dir", how="any") for p in parts]
        full = box + "/outside/cdabs.txt"
        ms.append(M("cdabs.txt", content(cid, full), "warn", at="outside/cdabs.txt", shown=full))
        ms += [M("", enddir=True, how="any")] * (len(parts) + 1)
    ms += [M("..", kind="dir", how="any"), M("..", kind="dir", how="any"),
           M("cdup.txt", content(cid, "../../cdup.txt"), "refuse", shown="../../cdup.txt", token="cdup"),
           M("", enddir=True, how="any"), M("", enddir=True, how="any")]
    cases.append(Case(cid, fam, "a.arc", arc_pack(ms), [m for m in ms if m.how != "any"],
                      planted=[os.path.normpath(os.path.join(box, "dest", "../../cdup.txt"))]))
    cid = "arc-control-names"
    ms = control_set(cid, fit=12)
    ms = [M("plain.txt", b"plain\n", "ok", at="plain.txt", shown="plain.txt")] + ms
    cases.append(Case(cid, fam, "a.arc", arc_pack(ms), ms, cmds=("list", "json", "test", "extract")))

    ok = M("ok.txt", b"fine\n")

    def add(cid, data, note):
        cases.append(Case(cid, fam, "a.arc", data, [], note=note, ident={"*"}))

    add("arc-packed-huge", arc_pack([ok, M("p.txt", b"pp", packed=0xFFFFFFFF)]), "packed size 2^32-1")
    add("arc-orig-huge", arc_pack([ok, M("o.txt", b"pp", orig=0xFFFFFFFF)]), "original size 2^32-1")
    add("arc-dirs-deep", arc_pack([ok] + [M("d%d" % i, kind="dir") for i in range(100)] + [ok]), "100 nested folders")
    add("arc-enddir-without-dir", arc_pack([ok, M("", enddir=True), M("o2.txt", b"two\n")]),
        "end of a folder that was never opened")
    for meth, what in ((3, "packed"), (4, "squeezed"), (8, "crunched"), (9, "squashed")):
        add("arc-method%d-garbage" % meth, arc_pack([ok, M("g.txt", b"\xff" * 300, method=meth, orig=100000)]),
            "%s data that is noise" % what)
    add("arc-squeeze-tree-loop", arc_pack([ok, M("q.txt", u16(2) + (u16(1) + u16(0)) * 2 + b"\x00" * 40, method=4,
                                                 orig=100000)]), "a squeeze tree whose nodes point at each other")
    good = arc_pack([M("c1.txt", b"one\n" * 30), M("c2.txt", b"two\n")])
    for c in (1, 2, 10, 28, 29, 60, 150, len(good) - 2, len(good) - 1):
        cases.append(Case("arc-cut-%03d" % c, fam, "a.arc", good[:c], [], note="truncated at %d" % c, ident={"*"}))
    return cases


# ----------------------------------------------------------------------------------------------------- BH


def bh_member(m):
    o = m.opts
    name = m.name
    data = b"" if m.kind == "dir" else m.data
    attr = 0x10 if m.kind == "dir" else 0x20
    fixed = (b"BH\x05\x07" + u16(o.get("hsize", 37 + len(name))) + u8(37) + u8(3) + u8(1) +
             u8(1 if o.get("encrypted") else 0) +
             u8(o.get("method", 0)) + u32(DOS_STAMP) + u32(o.get("packed", len(data))) + u32(o.get("orig", len(data))) +
             u32(crc32(data)) + u16(attr) + u32(0) + u16(o.get("namelen", len(name))) + u16(o.get("extra", 0)))
    return fixed + name + data


def bh_pack(members):
    return b"".join(bh_member(m) for m in members) + b"BH\x05\x07\x00\x00"


def bh_cases(ctx):
    fam = "BH"
    cases = []
    cid = "bh-names"
    ms = name_set(ctx, cid, "b")
    cases.append(Case(cid, fam, "a.bh", bh_pack(ms), ms, planted=planted_for(ctx, cid, ms),
                      cmds=("list", "json", "test", "extract", "overwrite")))
    cid = "bh-control-names"
    ms = control_set(cid, utf8=False)
    cases.append(Case(cid, fam, "a.bh", bh_pack(ms), ms, cmds=("list", "json", "test", "extract")))
    raw, crc = deflate_zeros(128 << 20)
    bomb = (b"BH\x05\x07" + u16(37 + 8) + u8(37) + u8(3) + u8(1) + u8(0) + u8(2) + u32(DOS_STAMP) + u32(len(raw)) +
            u32(128 << 20) + u32(crc) + u16(0x20) + u32(0) + u16(8) + u16(0) + b"bomb.bin" + raw)
    cases.append(Case("bh-bomb-deflate", fam, "a.bh", bh_pack([M("bok.txt", b"ok\n", "ok", at="bok.txt",
                                                                 shown="bok.txt")])[:-6] + bomb + b"BH\x05\x07\0\0",
                      [M("bok.txt", b"ok\n", "ok", at="bok.txt", shown="bok.txt")]))

    def add(cid, data, note):
        cases.append(Case(cid, fam, "a.bh", data, [], note=note, ident={"*"}))

    ok = M("ok.txt", b"fine\n")
    add("bh-namelen-past-end", bh_pack([ok, M("n.txt", b"n", namelen=0xFFFF)]), "name length past the end")
    add("bh-extra-past-end", bh_pack([ok, M("x.txt", b"x", extra=0xFFFF)]), "extra length past the end")
    add("bh-packed-huge", bh_pack([ok, M("p.txt", b"p", packed=0xFFFFFFFF)]), "packed size 2^32-1")
    add("bh-orig-huge", bh_pack([ok, M("o.txt", b"p", orig=0xFFFFFFFF)]), "original size 2^32-1")
    add("bh-hsize-zero-first", bh_pack([M("z.txt", b"z", hsize=0), ok]), "header size 0 on the first header")
    add("bh-fused-garbage", bh_pack([ok, M("f.txt", b"\xff" * 200, method=1, orig=100000)]), "method 1 noise")
    add("bh-deflate-garbage", bh_pack([ok, M("d.txt", b"\xff" * 200, method=2, orig=100000)]), "deflate noise")
    good = bh_pack([M("c1.txt", b"one\n" * 20), M("c2.txt", b"two\n")])
    for c in (3, 5, 20, 36, 37, 60, len(good) - 7, len(good) - 1):
        cases.append(Case("bh-cut-%03d" % c, fam, "a.bh", good[:c], [], note="truncated at %d" % c, ident={"*"}))
    return cases


# ---------------------------------------------------------------------------------------------------- UUE


def uu_line(chunk, table=None):
    def ch(v):
        return table[v] if table else (chr(v + 32) if v else "`")
    s = ch(len(chunk))
    for i in range(0, len(chunk), 3):
        g = chunk[i:i + 3].ljust(3, b"\0")
        v = (g[0] << 16) | (g[1] << 8) | g[2]
        s += "".join(ch((v >> k) & 63) for k in (18, 12, 6, 0))
    return s


XXE = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def uue_block(name, data, kind="uu", mode="644"):
    if kind == "b64":
        body = base64.encodebytes(data).decode()
        return "begin-base64 %s %s\n%s====\n" % (mode, name, body)
    if kind == "mime":
        return ("Content-Type: application/octet-stream; name=\"%s\"\nContent-Transfer-Encoding: base64\n"
                "Content-Disposition: attachment; filename=\"%s\"\n\n%s\n" % (name, name,
                                                                              base64.encodebytes(data).decode()))
    table = XXE if kind == "xx" else None
    lines = [uu_line(data[i:i + 45], table) for i in range(0, len(data), 45)]
    zero = table[0] if table else "`"
    return "begin %s %s\n%s\n%s\nend\n" % (mode, name, "\n".join(lines), zero)


def uue_pack(members, kind="uu"):
    text = "Some mail text in front.\n\n"
    for m in members:
        text += uue_block(m.name.decode("latin-1"), m.data, m.opts.get("kind", kind), m.opts.get("mode", "644")) + "\n"
    return text.encode("latin-1")


def uue_cases(ctx):
    fam = "UUE"
    cases = []
    for kind in ("uu", "xx", "b64", "mime"):
        cid = "uue-names-" + kind
        ms = name_set(ctx, cid, "q" + kind[0], backslash_separates=False)
        ms = [m for m in ms if m.name != b".." or kind != "mime"]
        if kind == "mime":
            for m in ms:
                if b'"' in m.name:
                    m.how = "any"
        cases.append(Case(cid, fam, "a.%s" % ("xxe" if kind == "xx" else "uue"), uue_pack(ms, kind), ms,
                          planted=planted_for(ctx, cid, ms), cmds=("list", "json", "test", "extract", "overwrite")))
    cid = "uue-control-names"
    ms = [m for m in control_set(cid) if b"\r" not in m.name]
    cases.append(Case(cid, fam, "a.uue", uue_pack(ms), ms, cmds=("list", "json", "test", "extract")))

    def add(cid, text, note):
        cases.append(Case(cid, fam, "a.uue", text if isinstance(text, bytes) else text.encode("latin-1"), [],
                          note=note, ident={"*"}))

    add("uue-no-end", "begin 644 noend.txt\n" + uu_line(b"abc") + "\n", "no end line")
    add("uue-line-long-count", "begin 644 lc.txt\nM" + "!" * 10 + "\n`\nend\n", "a line shorter than its count")
    add("uue-only-begin", "begin 644 ob.txt", "a begin line and nothing else")
    add("uue-size-huge", "size 999999999999999999\nbegin 644 sz.txt\n" + uu_line(b"abc") + "\n`\nend\n",
        "a size line of 10^18")
    add("uue-b64-garbage", "begin-base64 644 bg.txt\n" + "!!!!****" * 100 + "\n====\n", "base64 noise")
    add("uue-begins-many", "".join("begin 644 m%d.txt\n`\nend\n" % i for i in range(2000)), "2000 empty files")
    add("uue-begins-no-end", "".join("begin 644 n%d.txt\nMabc\n" % i for i in range(30000)),
        "30000 begin lines, none with its end")
    add("uue-mime-parts-many", "".join("Content-Type: text/plain; name=\"p%d.txt\"\nContent-Transfer-Encoding: "
                                       "base64\n\naGVsbG8K\n\n" % i for i in range(3000)), "3000 MIME parts")
    add("uue-table-short", "table\nabc\ndef\nbegin 644 t.txt\nhabc\nend\n", "an XXE table too short")
    add("uue-mime-folded", "Content-Type: text/plain;\n name=\"../fold.txt\"\nContent-Transfer-Encoding: base64\n"
        "\naGVsbG8K\n", "a folded MIME header naming a path outside")
    return cases


# ------------------------------------------------------------------------------ listed-only families


def cab_pack(members, flags=0, next_cab=b"", files_override=None, folders=1):
    extra = b""
    if flags & 0x0002:
        extra += next_cab + b"\0" + b"disk\0"
    hdr_len = 36 + len(extra) + 8 * folders
    files = bytearray()
    for m in members:
        files += u32(len(m.data)) + u32(0) + u16(0) + u16(DOS_DATE) + u16(DOS_TIME) + u16(0x20) + m.name + b"\0"
    data = b"".join(m.data for m in members)
    cfdata = u32(0) + u16(len(data)) + u16(len(data)) + data
    total = hdr_len + len(files) + len(cfdata)
    count = files_override if files_override is not None else len(members)
    head = (b"MSCF" + u32(0) + u32(total) + u32(0) + u32(hdr_len) + u32(0) + bytes([3, 1]) + u16(folders) + u16(count) +
            u16(flags) + u16(1) + u16(0))
    folder = (u32(hdr_len + len(files)) + u16(1) + u16(0)) * folders
    return head + extra + folder + bytes(files) + cfdata


def rar4_block(btype, flags, body):
    size = 7 + len(body)
    h = bytes([btype]) + u16(flags) + u16(size) + body
    return u16(crc32(h) & 0xFFFF) + h


def rar4_pack(members):
    out = bytearray(b"Rar!\x1a\x07\x00")
    out += rar4_block(0x73, 0, bytes(6))
    for m in members:
        o = m.opts
        body = (u32(o.get("packed", len(m.data))) + u32(o.get("orig", len(m.data))) + u8(3) + u32(crc32(m.data)) +
                u32(DOS_STAMP) + u8(29) + u8(0x30) + u16(len(m.name)) + u32(0o100644 if m.kind == "file" else 0o40755) +
                m.name)
        flags = 0x8000 | o.get("flags", 0) | (0x00E0 if m.kind == "dir" else 0)
        out += rar4_block(0x74, flags, body) + m.data
    out += rar4_block(0x7B, 0x4000, b"")
    return bytes(out)


def vint(v):
    out = bytearray()
    while True:
        b = v & 0x7F
        v >>= 7
        if v:
            out.append(b | 0x80)
        else:
            out.append(b)
            return bytes(out)


def rar5_block(body, data_size=None):
    h = body
    size = vint(len(h))
    blk = size + h
    return u32(crc32(blk)) + blk


def rar5_pack(members):
    out = bytearray(b"Rar!\x1a\x07\x01\x00")
    out += rar5_block(vint(1) + vint(0) + vint(0))
    for m in members:
        o = m.opts
        body = (vint(2) + vint(0x02) + vint(o.get("packed", len(m.data))) + vint(0x04 if m.kind == "file" else 0x01) +
                vint(o.get("orig", len(m.data))) + vint(0o644) + u32(crc32(m.data)) + vint(0) + vint(1) +
                vint(len(m.name)) + m.name)
        out += rar5_block(body) + m.data
    out += rar5_block(vint(5) + vint(0) + vint(0))
    return bytes(out)


def ace_block(d):
    return u16((~crc32(d)) & 0xFFFF) + u16(len(d)) + d


def ace_pack(members):
    out = bytearray(ace_block(bytes([0]) + u16(0) + b"**ACE**" + bytes([20, 20, 0, 0]) + u32(DOS_STAMP) + bytes(8)))
    for m in members:
        o = m.opts
        d = (bytes([1]) + u16(0x0001 | o.get("flags", 0)) + u32(o.get("packed", len(m.data))) +
             u32(o.get("orig", len(m.data))) + u32(DOS_STAMP) + u32(0x10 if m.kind == "dir" else 0x20) +
             u32(crc32(m.data)) + bytes([0, 0]) + u16(0) + u16(0) + u16(len(m.name)) + m.name)
        out += ace_block(d) + m.data
    return bytes(out)


def ha_pack(members, count=None):
    out = bytearray(b"HA" + u16(len(members) if count is None else count))
    for m in members:
        o = m.opts
        path, _, base = m.name.rpartition(b"/")
        out += (bytes([0x20 | (14 if m.kind == "dir" else 0)]) + u32(o.get("packed", len(m.data))) +
                u32(len(m.data)) + u32(crc32(m.data)) + u32(UNIX_TIME) + path.replace(b"/", b"\xff") + b"\0" +
                base + b"\0" + bytes([2]) + u16(0) + m.data)
    return bytes(out)


def msgz_pack(members, dirs=(b"",), table=255):
    head = bytearray(255)
    head[0:4] = b"\x13\x5d\x65\x8c"
    head[41:45] = u32(table)
    tbl = bytearray()
    for d in dirs:
        tbl += u16(0) + u16(6 + len(d)) + u16(0) + d
    tbl += u16(0)  # the first two bytes of the end record; its length field starts the first entry
    entries = bytearray()
    for m in members:
        o = m.opts
        rec = (u16(o.get("dir", 0)) + u32(len(m.data)) + u32(len(m.data)) + u32(0) + u32(DOS_STAMP) + u32(0x20) +
               u16(o.get("reclen", 29 + len(m.name))) + u32(0) + bytes([len(m.name)]) + m.name)
        entries += rec
    return bytes(head) + bytes(tbl) + bytes(entries) + bytes(64)


def listed_cases(ctx):
    """CAB, RAR, ACE, HA and MsGZ are listed, not extracted: their names must be listed escaped, their damage
    end in a clean error, and extract and test refuse them without writing anything."""
    cases = []

    def names(cid, t):
        ms = name_set(ctx, cid, t) + control_set(cid, utf8=tag in ("rar", "rar5"))
        for m in ms:
            m.how = "listed"
        return ms

    packers = (("CAB", "cab", cab_pack, True), ("RAR", "rar", rar4_pack, True), ("RAR", "rar5", rar5_pack, False),
               ("ACE", "ace", ace_pack, True), ("HA", "ha", ha_pack, True), ("MsGZ", "msgz", msgz_pack, True))
    for fam, tag, pack, backslash in packers:
        cid = tag + "-names"
        ms = names(cid, tag[0])
        for m in ms:
            if m.shown is not None and not backslash and b"\\" in m.name:
                m.shown = m.name.decode("latin-1")
            if tag == "ha" and m.shown is not None and "\\" in m.name.decode("latin-1"):
                m.shown = None  # HA stores its folder apart; a "\" stays part of the name
        ext = "rar" if tag == "rar5" else tag
        cases.append(Case(cid, fam, "a." + ext, pack(ms), ms, list_only=True, cmds=("list", "json", "test", "extract"),
                          exits={"list": {0}, "test": {1}, "extract": {1}}, dest_empty=True))

    def add(fam, cid, fname, data, note):
        cases.append(Case(cid, fam, fname, data, [], list_only=True, note=note, ident={"*"}, dest_empty=True,
                          cmds=("list", "test", "extract")))

    one = [M("one.txt", b"one\n"), M("two.txt", b"two\n")]
    add("CAB", "cab-count-huge", "a.cab", cab_pack(one, files_override=0xFFFF), "65535 files declared, two stored")
    add("CAB", "cab-folders-huge", "a.cab", cab_pack(one, folders=1)[:26] + u16(0xFFFF) + cab_pack(one)[28:],
        "65535 folders declared")
    add("CAB", "cab-next-self", "a.cab", cab_pack(one, flags=0x0002, next_cab=b"a.cab"), "the next cabinet is itself")
    add("CAB", "cab-next-outside", "a.cab", cab_pack(one, flags=0x0002, next_cab=b"../outside/canary.txt"),
        "the next cabinet is a file outside")
    add("CAB", "cab-next-fifo", "a.cab", cab_pack(one, flags=0x0002, next_cab=b"outside/next.cab"),
        "the next cabinet is a FIFO (as a device or a pipe on the system would be): opening it must not block")
    cases[-1].fifos = ["outside/next.cab"]
    add("CAB", "cab-strings-unterminated", "a.cab", cab_pack(one, flags=0x0002, next_cab=b"n" * 600)[:400],
        "the next cabinet's name runs to the end")
    add("CAB", "cab-files-offset-past", "a.cab", cab_pack(one)[:16] + u32(0x7FFFFFF0) + cab_pack(one)[20:],
        "file records past the end")
    add("RAR", "rar-size-small", "a.rar", b"Rar!\x1a\x07\x00" + u16(0) + b"\x73" + u16(0) + u16(3), "header size 3")
    add("RAR", "rar-packed-huge", "a.rar", rar4_pack([M("p.txt", b"p", packed=0xFFFFFFFF)] + one),
        "packed size 2^32-1")
    add("RAR", "rar-split-after", "a.rar", rar4_pack([M("s.txt", b"s", flags=0x0002)]), "continued in a missing volume")
    add("RAR", "rar-crc-bad", "a.rar", rar4_pack(one)[:20] + b"\x00\x00" + rar4_pack(one)[22:], "a header CRC that fails")
    add("RAR", "rar5-vint-long", "a.rar", b"Rar!\x1a\x07\x01\x00" + u32(0) + b"\xff" * 12, "a size of twelve bytes")
    add("RAR", "rar5-size-huge", "a.rar", b"Rar!\x1a\x07\x01\x00" + u32(0) + vint(1 << 40) + bytes(20),
        "a header size of a TiB")
    add("RAR", "rar5-packed-huge", "a.rar", rar5_pack([M("p.txt", b"p", packed=(1 << 63))] + one), "packed size 2^63")
    add("ACE", "ace-size-past-end", "a.ace", ace_pack(one)[:-40] + u16(0) + u16(0xFFFF) + bytes(20),
        "a header size past the end")
    add("ACE", "ace-packed-huge", "a.ace", ace_pack([M("p.txt", b"p", packed=0xFFFFFFFF)] + one), "packed size 2^32-1")
    add("ACE", "ace-split-after", "a.ace", ace_pack([M("s.txt", b"s", flags=0x2000)]), "continued in a missing volume")
    add("HA", "ha-count-huge", "a.ha", ha_pack(one, count=0xFFFF), "65535 entries declared, two stored")
    add("HA", "ha-packed-huge", "a.ha", ha_pack([M("p.txt", b"p", packed=0xFFFFFFFF)] + one), "packed size 2^32-1")
    add("HA", "ha-names-unterminated", "a.ha", b"HA" + u16(1) + bytes(17) + b"n" * 2000, "a name without its end")
    add("MsGZ", "msgz-table-past-end", "a.msgz", msgz_pack(one, table=0x7FFFFFF0), "folder table past the end")
    add("MsGZ", "msgz-table-loop", "a.msgz", msgz_pack(one, dirs=[b"d" * 20] * 3000), "3000 folder records")
    add("MsGZ", "msgz-dir-index-huge", "a.msgz", msgz_pack([M("i.txt", b"i", dir=0xFFFF)]), "a folder index past the table")
    add("MsGZ", "msgz-reclen-small", "a.msgz", msgz_pack([M("r.txt", b"r", reclen=1)] * 50), "records of one byte")
    two = [M("c1.txt", b"one\n" * 20), M("c2.txt", b"two\n")]
    for fam, tag, fname, pack in (("CAB", "cab", "a.cab", cab_pack), ("RAR", "rar", "a.rar", rar4_pack),
                                  ("RAR", "rar5", "a.rar", rar5_pack), ("ACE", "ace", "a.ace", ace_pack),
                                  ("HA", "ha", "a.ha", ha_pack), ("MsGZ", "msgz", "a.msgz", msgz_pack)):
        good = pack(two)
        for c in sorted({4, 8, 12, 20, 36, 44, 60, len(good) // 2, len(good) - 40, len(good) - 1}):
            if 0 < c < len(good):
                add(fam, "%s-cut-%03d" % (tag, c), fname, good[:c], "truncated at %d of %d" % (c, len(good)))
    return cases


# ------------------------------------------------------------------------------------------- decoders


def noise(seed, n):
    """Deterministic noise: SHA-256 in counter mode."""
    out = bytearray()
    i = 0
    while len(out) < n:
        out += hashlib.sha256(b"%d:%d" % (seed, i)).digest()
        i += 1
    return bytes(out[:n])


def noise_streams(seed):
    """What a decoder is fed: short and long noise, runs of one byte value, noise behind a zero byte."""
    return [noise(seed, 37), noise(seed + 1, 3000), b"\xff" * 700, b"\x00" * 700, b"\x00" + noise(seed + 2, 900),
            b"\x80" * 3 + noise(seed + 3, 200)]


def mutations(stream, count=10):
    """A valid stream with one byte changed at spread-out places, and cut short at some of them."""
    out = []
    for k in range(count):
        at = (len(stream) * (2 * k + 1)) // (2 * count)
        b = bytearray(stream)
        b[at] ^= 0x5A + k
        out.append(bytes(b))
    out += [stream[:len(stream) * k // 4] for k in (1, 2, 3)]
    return out


SAMPLE = b"".join(b"line %05d of the sample text, with words that repeat: archive, header, entry.\n" % i
                  for i in range(400))


def codec_cases(ctx):
    """Each family's decoders fed noise and damaged streams (declared size 1 MiB): every run must end in time
    without a crash; what comes out is bounded by the declared size."""
    cases = []
    big = 1 << 20

    def add(cid, fam, fname, data, note):
        cases.append(Case(cid, fam, fname, data, [], note=note, ident={"*"}))

    for method, flags in ((1, 0), (2, 0), (3, 0), (4, 0), (5, 0), (6, 0), (6, 2), (6, 4), (6, 6), (8, 0), (9, 0)):
        ms = [M("m%d-%d.bin" % (method, i), b"", "any", method=method, flags=flags, packed=d, crc=0, usize=big)
              for i, d in enumerate(noise_streams(method * 10 + flags))]
        add("zip-method%d%s-noise" % (method, "-f%d" % flags if flags else ""), "ZIP", "a.zip", zip_pack(ms),
            "method %d (flags %d) fed noise" % (method, flags))
    good = deflate(SAMPLE)
    ms = [M("dm%02d.bin" % i, b"", "any", method=8, packed=d, crc=crc32(SAMPLE), usize=len(SAMPLE))
          for i, d in enumerate(mutations(good))]
    add("zip-deflate-mutated", "ZIP", "a.zip", zip_pack(ms), "a valid deflate stream with a byte changed, cut short")
    for i, d in enumerate(mutations(good)[:4]):
        add("gz-deflate-mutated-%d" % i, "GZip", "a.gz", gzip_pack(SAMPLE, name=b"m.txt", raw=d),
            "a valid deflate stream with a byte changed")
    z = compress_z(SAMPLE)
    for i, d in enumerate(mutations(z, 4)):
        add("z-mutated-%d" % i, "GZip", "a.Z", d, "a valid compress stream with a byte changed or cut short")
    for bits in (9, 12, 16):
        add("z-noise-%d" % bits, "GZip", "a.Z", b"\x1f\x9d" + bytes([0x80 | bits]) + noise(bits, 5000),
            "compress with %d-bit codes fed noise" % bits)
    for method in (b"-lh1-", b"-lh2-", b"-lh3-", b"-lh4-", b"-lh5-", b"-lh6-", b"-lh7-", b"-lhx-", b"-lzs-", b"-lz5-",
                   b"-pm2-"):
        ms = [M("h%d.bin" % i, d, "any", method=method, orig=big) for i, d in enumerate(noise_streams(method[3]))]
        add("lzh%s-noise" % method.decode().strip("-").replace("-", ""), "LZH/LHA", "a.lzh", lzh_pack(ms),
            "%s fed noise" % method.decode())
    for method in (1, 2, 3, 4):
        ms = [M("j%d.bin" % i, d, "any", method=method, orig=big) for i, d in enumerate(noise_streams(100 + method))]
        add("arj-method%d-noise" % method, "ARJ", "a.arj", arj_pack(ms), "method %d fed noise" % method)
    for method in (1, 2):
        ms = [M("o%d.bin" % i, d, "any", method=method, orig=big) for i, d in enumerate(noise_streams(200 + method))]
        add("zoo-method%d-noise" % method, "ZOO", "a.zoo", zoo_pack(ms), "method %d fed noise" % method)
    for method in (3, 4, 5, 6, 7, 8, 9):
        ms = [M("plain.txt", b"plain\n")] + [M("c%d.bin" % i, d, "any", method=method, orig=big)
                                             for i, d in enumerate(noise_streams(300 + method))]
        add("arc-method%d-noise" % method, "ARC/PAK", "a.arc", arc_pack(ms), "method %d fed noise" % method)
    for method in (10, 11):
        ms = [M("k%d.bin" % i, d, "any", method=method, orig=big) for i, d in enumerate(noise_streams(400 + method))]
        add("pak-method%d-noise" % method, "ARC/PAK", "a.pak", arc_pack(ms), "PAK method %d fed noise" % method)
    for method in (1, 2):
        ms = [M("b%d.bin" % i, d, "any", method=method, orig=big) for i, d in enumerate(noise_streams(500 + method))]
        add("bh-method%d-noise" % method, "BH", "a.bh", bh_pack(ms), "method %d fed noise" % method)
    ms = [M("bm%02d.bin" % i, d, "any", method=2, orig=len(SAMPLE)) for i, d in enumerate(mutations(good))]
    add("bh-deflate-mutated", "BH", "a.bh", bh_pack(ms), "a valid deflate stream with a byte changed, cut short")
    return cases


# ------------------------------------------------------------------------------------------- encryption


def encrypted_cases(ctx):
    """An encrypted entry (whose data are noise) between plain ones, no password given and no terminal to ask:
    the encrypted one fails saying a password is wanted, the plain ones come out and never hear of one."""
    cases = []
    aes = u16(0x9901) + u16(7) + u16(2) + b"AE" + u8(3) + u16(0)

    def plain(cid, n):
        return M(n, content(cid, n), "ok")

    for fam, cid, fname, pack, secret in (
            ("ZIP", "zip-encrypted", "a.zip", zip_pack, M("secret.bin", b"", "any", encrypted=True,
                                                           packed=noise(1, 300), usize=288, crc=0x12345678)),
            ("ZIP", "zip-encrypted-aes", "a.zip", zip_pack, M("aes.bin", b"", "any", encrypted=True, method=99,
                                                               packed=noise(2, 300), usize=270,
                                                               cextra=aes, lextra=aes)),
            ("ZIP", "zip-encrypted-deflated", "a.zip", zip_pack, M("sdef.bin", b"", "any", encrypted=True, method=8,
                                                                    packed=noise(3, 300), usize=5000, crc=1)),
            ("BH", "bh-encrypted", "a.bh", bh_pack, M("secret.bin", noise(4, 300), "any", encrypted=True,
                                                      orig=288)),
            ("ARJ", "arj-encrypted", "a.arj", arj_pack, M("secret.bin", noise(5, 300), "any", encrypted=True))):
        ms = [plain(cid, "before.txt"), secret, plain(cid, "after.txt")]
        cases.append(Case(cid, fam, fname, pack(ms), ms, errors={"test": True, "extract": True}))
    return cases


# ------------------------------------------------------------------------------------- modes and times


def mode_cases(ctx):
    """Set-id bits and special file types in the stored modes: files come out as plain files without the
    set-id bits, devices and FIFOs not at all (run_hostile checks every destination for both)."""
    cases = []

    def ms(cid, **kw):
        return [M("setid.sh", content(cid, "setid"), "ok", mode=0o6755, **kw),
                M("sticky.txt", content(cid, "sticky"), "ok", mode=0o1777, **kw),
                M("none.txt", content(cid, "none"), "ok", mode=0, **kw)]

    z = ms("zip-modes") + [M("fifo", b"fifo\n", "any", mode=0o10644), M("chr", b"chr\n", "any", mode=0o20644),
                           M("blk", b"blk\n", "any", mode=0o60644), M("sock", b"sock\n", "any", mode=0o140644),
                           M("setid-dir", kind="dir", how="any", mode=0o46777),
                           M("setid-dir/in.txt", content("zip-modes", "in"), "ok")]
    cases.append(Case("zip-modes", "ZIP", "a.zip", zip_pack(z), z))
    t = ms("tar-modes") + [M("dev-c", b"", "any", typeflag=b"3"), M("dev-b", b"", "any", typeflag=b"4"),
                           M("fifo", b"", "any", typeflag=b"6"), M("contig.txt", b"contiguous\n", "ok", typeflag=b"7"),
                           M("unknown.txt", b"unknown type\n", "ok", typeflag=b"Z"),
                           M("setid-dir", kind="dir", how="any", mode=0o6777),
                           M("setid-dir/in.txt", content("tar-modes", "in"), "ok")]
    cases.append(Case("tar-modes", "TAR", "a.tar", tar_pack(t), t))
    for m in (l := ms("lzh-modes")):
        m.opts["exts"] = [(0x01, m.name), (0x50, u16(m.opts["mode"] | 0o100000))]
    cases.append(Case("lzh-modes", "LZH/LHA", "a.lzh", lzh_pack(l), l))
    a = ms("arj-modes", host=2)
    cases.append(Case("arj-modes", "ARJ", "a.arj", arj_pack(a), a))
    o = ms("zoo-modes", var=True)
    cases.append(Case("zoo-modes", "ZOO", "a.zoo", zoo_pack(o), o))
    u = [M("setid.sh", content("uue-modes", "setid"), "ok", mode="6755"),
         M("b64setid.sh", content("uue-modes", "b64"), "ok", mode="7777", kind="b64")]
    cases.append(Case("uue-modes", "UUE", "a.uue", uue_pack(u), u))
    return cases


def time_cases(ctx):
    """Time stamps at and past the ends of their fields: listed, tested and extracted without harm."""
    cases = []
    big = b"\x80" + ((1 << 63) - 1).to_bytes(11, "big")
    small = b"\xff\x80" + bytes(10)
    t = [M("b256-max.txt", b"a\n", "ok", over={136: big}), M("b256-min.txt", b"b\n", "ok", over={136: small}),
         M("pax-big.txt", b"c\n", "ok", pre=pax([("mtime", "922337203685477579")])),
         M("pax-neg.txt", b"d\n", "ok", pre=pax([("mtime", "-922337203685477579.999")])),
         M("pax-frac.txt", b"e\n", "ok", pre=pax([("mtime", "1.9999999999999999999999")])),
         M("octal-max.txt", b"f\n", "ok", over={136: b"77777777777\0"})]
    cases.append(Case("tar-times", "TAR", "a.tar", tar_pack(t), t, errors={"list": False, "test": False}))
    ut = u16(0x5455) + u16(5) + u8(1) + u32(0x7FFFFFFF)
    ut2 = u16(0x5455) + u16(5) + u8(1) + u32(0x80000000)
    z = [M("ut-max.txt", b"a\n", "ok", cextra=ut, lextra=ut), M("ut-min.txt", b"b\n", "ok", cextra=ut2, lextra=ut2)]
    data = bytearray(zip_pack(z))
    for sig in (b"PK\x03\x04", b"PK\x01\x02"):
        at = data.find(sig)
        while at >= 0:
            off = at + (10 if sig == b"PK\x03\x04" else 12)
            data[off:off + 4] = b"\xff\xff\xff\xff"  # month 15, day 31, 31:63:62
            at = data.find(sig, at + 4)
    cases.append(Case("zip-times", "ZIP", "a.zip", bytes(data), z, errors={"list": False, "test": False}))
    g = bytearray(gzip_pack(b"gzip time\n", name=b"g.txt"))
    g[4:8] = b"\xff\xff\xff\xff"
    cases.append(Case("gz-times", "GZip", "a.gz", bytes(g), [M("g.txt", b"gzip time\n", "ok")],
                      errors={"list": False, "test": False}))
    lz = bytearray(lzh_pack([M("l2-max.txt", b"l2\n", "ok")]))
    lz[15:19] = b"\xff\xff\xff\xff"
    total = struct.unpack("<H", lz[0:2])[0]
    lz[27:29] = u16(0)
    lz[27:29] = u16(crc16(bytes(lz[:total])))  # the header's own check, over the header with it zero
    cases.append(Case("lzh-times", "LZH/LHA", "a.lzh", bytes(lz), [M("l2-max.txt", b"l2\n", "ok")],
                      errors={"list": False, "test": False}))
    return cases


# ------------------------------------------------------------------------------------------- empty names


def empty_name_cases(ctx):
    """An entry whose name is empty cannot be extracted; that must be said (test and extract report it),
    and the entries around it still come out."""
    packs = (("ZIP", "zip", "a.zip", zip_pack, {}), ("LZH/LHA", "lzh0", "a.lzh", lzh_pack, {"level": 0}),
             ("LZH/LHA", "lzh2", "a.lzh", lzh_pack, {}), ("ARJ", "arj", "a.arj", arj_pack, {}),
             ("ZOO", "zoo", "a.zoo", zoo_pack, {}), ("ARC/PAK", "arc", "a.arc", arc_pack, {}),
             ("BH", "bh", "a.bh", bh_pack, {}), ("TAR", "tar", "a.tar", tar_pack, {}))
    cases = []
    for fam, tag, fname, pack, opts in packs:
        cid = tag + "-name-empty"
        # A TAR header without a name is damage that ends the walk; elsewhere the next entry still comes out.
        ms = [M(tag + "-e1.txt", content(cid, "e1"), "ok", **opts), M("", b"no name\n", "any", **opts),
              M(tag + "-e2.txt", content(cid, "e2"), "any" if tag == "tar" else "ok", **opts)]
        cases.append(Case(cid, fam, fname, pack(ms), ms, errors={"test": True, "extract": True}))
    return cases


# ------------------------------------------------------------------------------------------------ all


def all_cases(work):
    ctx = Ctx(work)
    cases = []
    for make in (zip_cases, tar_cases, gzip_cases, lzh_cases, arj_cases, zoo_cases, arc_cases, bh_cases, uue_cases,
                 listed_cases, empty_name_cases, codec_cases, encrypted_cases, mode_cases, time_cases):
        cases += make(ctx)
    ids = [c.id for c in cases]
    dup = {i for i in ids if ids.count(i) > 1}
    if dup:
        raise SystemExit("duplicate case ids: %s" % ", ".join(sorted(dup)))
    return cases


def main():
    if len(sys.argv) != 2:
        print("usage: craft.py OUTDIR  (writes OUTDIR/<case>/<archive> and OUTDIR/manifest.json)", file=sys.stderr)
        return 2
    out = sys.argv[1]
    cases = all_cases(out)
    for c in cases:
        d = os.path.join(out, c.id)
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, c.fname), "wb") as f:
            f.write(c.data)
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump([c.manifest() for c in cases], f, indent=1)
    print("%d archives written to %s" % (len(cases), out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
