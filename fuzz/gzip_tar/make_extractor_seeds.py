#!/usr/bin/env python3
"""Writes the seed inputs of the extractor fuzzers into fuzz/corpus/<target>/.

fuzz_unarc (ARC and PAK archives), fuzz_unzoo (ZOO), fuzz_ungzip and fuzz_gzip_members (gzip, also with a TAR
inside, and compress), fuzz_untar (TAR in the GNU, pax and ustar layouts) and fuzz_uudecode (UUE, XXE, Base64
and MIME text). Everything is built here from small samples; compress seeds need the compress program.
"""
import base64
import binascii
import gzip
import io
import os
import shutil
import struct
import subprocess
import tarfile
import tempfile
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus")

TEXT = b"The quick brown fox jumps over the lazy dog.\n" * 6
RUNS = b"a" * 300 + b"\x90" * 5 + b"bbbb\x90\x00"


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def write(target, name, data):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# ---- ARC and PAK


def arc_pack(data):
    out = bytearray()
    i = 0
    while i < len(data):
        b = data[i]
        run = 1
        while b != 0x90 and i + run < len(data) and data[i + run] == b and run < 255:
            run += 1
        out.append(b)
        if b == 0x90:
            out.append(0)
        if run >= 3:
            out += bytes([0x90, run])
            i += run
        else:
            i += 1
    return bytes(out)


def arc_entry(method, name, data, packed=None, key=b""):
    if packed is None:
        packed = arc_pack(data) if method == 3 else data
    if key:
        packed = bytes(b ^ key[i % len(key)] for i, b in enumerate(packed))
    h = bytes([0x1A, method]) + name.ljust(13, b"\0")[:13]
    h += struct.pack("<IHHH", len(packed), 0x5A8C, 0x6B20, crc16(data))
    if method != 1:
        h += struct.pack("<I", len(data))
    return h + packed


def arc_seeds():
    end = b"\x1a\x00"
    write("fuzz_unarc", "stored_packed", arc_entry(2, b"A.TXT", TEXT) + arc_entry(3, b"RUNS", RUNS) + end)
    write("fuzz_unarc", "old_stored", arc_entry(1, b"OLD", b"old stored header\n") + arc_entry(2, b"B", b"b" * 30) + end)
    write("fuzz_unarc", "garbled", arc_entry(2, b"G.TXT", TEXT, key=b"X") + arc_entry(3, b"H", RUNS, key=b"X") + end)
    folder_body = arc_entry(2, b"IN.TXT", b"inside the folder\n") + b"\x1a\x1f"
    folder = bytes([0x1A, 30]) + b"DIR".ljust(13, b"\0") + struct.pack("<IHHHI", len(folder_body), 0x5A8C, 0x6B20, 0, 0)
    write("fuzz_unarc", "pak_folder", arc_entry(2, b"TOP", b"top\n") + folder + folder_body + arc_entry(2, b"LAST", b"l" * 25) + end)


# ---- ZOO


def zoo_archive(items):
    """items: (short name, long name, folder, method, data, compressed data, mode)"""
    a = bytearray(b"ZOO 2.10 Archive.\x1a".ljust(20, b"\0"))
    a += struct.pack("<IIi", 0xFDC4A7DC, 64, -64) + bytes([2, 1, 1]) + bytes(64 - 35)
    for short, long_, folder, method, data, packed, mode in items:
        var = bytes([len(long_) + 1 if long_ else 0, len(folder) + 1 if folder else 0])
        var += (long_ + b"\0" if long_ else b"") + (folder + b"\0" if folder else b"")
        attr = (mode | (1 << 22)) if mode is not None else 0
        var += b"\0\0" + struct.pack("<I", attr)[:3] + b"\0\0\0\0"
        pos = len(a)
        nxt = pos + 56 + len(var) + len(packed)
        e = struct.pack("<IBBIIHHHIIBBBBIH", 0xFDC4A7DC, 2, method, nxt, pos + 56 + len(var), 0x5A8C, 0x6B20,
                        crc16(data), len(data), len(packed), 2, 1, 0, 0, 0, 0)
        e += short.ljust(13, b"\0")[:13] + struct.pack("<HBH", len(var), 0x7F, 0)
        a += e + var + packed
    a += struct.pack("<IB", 0xFDC4A7DC, 2) + bytes(51)
    return bytes(a)


def zoo_lzw_single(byte):
    # Codes clear (256), the byte, end (257), 9 bits each, least significant bit first.
    bits = 256 | (byte << 9) | (257 << 18)
    return bits.to_bytes(4, "little")


def zoo_seeds():
    write("fuzz_unzoo", "stored", zoo_archive([(b"A.TXT", b"", b"", 0, TEXT, TEXT, None)]))
    write("fuzz_unzoo", "folders_modes", zoo_archive([
        (b"LONGNA~1.TXT", b"long name.txt", b"src/util", 0, b"long\n", b"long\n", 0o644),
        (b"B", b"", b"docs", 0, b"", b"", 0o755)]))
    write("fuzz_unzoo", "lzw", zoo_archive([(b"ONE", b"", b"", 1, b"A", zoo_lzw_single(65), None)]))


# ---- gzip, compress


def gz(data, name=None):
    buf = io.BytesIO()
    with gzip.GzipFile(filename=name or "", mode="wb", fileobj=buf, mtime=1500000000) as f:
        f.write(data)
    return buf.getvalue()


def small_tar(fmt):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=fmt) as t:
        def add(name, data=b"", kind=tarfile.REGTYPE, link="", mode=0o644):
            ti = tarfile.TarInfo(name)
            ti.type = kind
            ti.size = len(data) if kind == tarfile.REGTYPE else 0
            ti.linkname = link
            ti.mode = mode
            ti.mtime = 1500000000
            t.addfile(ti, io.BytesIO(data) if kind == tarfile.REGTYPE else None)
        add("docs", kind=tarfile.DIRTYPE, mode=0o755)
        add("docs/a.txt", TEXT)
        add("docs/" + "/".join("folder-%02d" % i for i in range(12)) + "/long.txt", b"long\n")
        add("link", kind=tarfile.SYMTYPE, link="docs/a.txt")
        add("hard", kind=tarfile.LNKTYPE, link="docs/a.txt")
        add("tool.sh", b"#!/bin/sh\n", mode=0o755)
    return buf.getvalue()


def gzip_seeds():
    for target in ("fuzz_ungzip", "fuzz_gzip_members"):
        write(target, "named", gz(TEXT, "notes.txt"))
        write(target, "members", gz(TEXT) + gz(RUNS) + gz(b""))
        write(target, "stored_block", b"\x1f\x8b\x08\x1e" + bytes(6) + b"\x02\x00xy" + b"name\0" + b"comment\0"
              + struct.pack("<H", zlib.crc32(b"\x1f\x8b\x08\x1e" + bytes(6) + b"\x02\x00xyname\0comment\0") & 0xFFFF)
              + zlib.compress(TEXT, 0)[2:-4] + struct.pack("<II", zlib.crc32(TEXT), len(TEXT)))
    write("fuzz_ungzip", "tgz", gz(small_tar(tarfile.GNU_FORMAT)))
    if shutil.which("compress"):
        with tempfile.TemporaryDirectory() as d:
            for name, data in (("text.Z", TEXT * 4), ("tar.Z", small_tar(tarfile.USTAR_FORMAT))):
                p = os.path.join(d, "in")
                with open(p, "wb") as f:
                    f.write(data)
                out = subprocess.run(["compress", "-c", p], capture_output=True).stdout
                write("fuzz_ungzip", name, out)


def tar_seeds():
    for name, fmt in (("gnu", tarfile.GNU_FORMAT), ("pax", tarfile.PAX_FORMAT), ("ustar", tarfile.USTAR_FORMAT)):
        data = small_tar(fmt)
        # The end-of-archive zero blocks of tarfile's 10 KiB record are not needed to reach every path.
        write("fuzz_untar", name, data.rstrip(b"\0").ljust((len(data.rstrip(b"\0")) + 511) // 512 * 512 + 1024, b"\0"))


# ---- encoded text


def uu_lines(data, alphabet=None):
    lines = []
    for i in range(0, len(data), 45):
        line = binascii.b2a_uu(data[i:i + 45], backtick=True).rstrip(b"\n")
        if alphabet:
            uu = bytes([0x60]) + bytes(range(0x21, 0x60))
            line = bytes(alphabet[uu.index(c)] for c in line)
        lines.append(line)
    lines.append(b"`" if not alphabet else alphabet[:1])
    return b"\n".join(lines) + b"\n"


def uue_seeds():
    xx = b"+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
    write("fuzz_uudecode", "uue", b"Some text before.\n\nbegin 644 a.txt\n" + uu_lines(TEXT) + b"end\n")
    write("fuzz_uudecode", "two_files", b"begin 755 one\n" + uu_lines(b"x") + b"end\n\nbegin 600 dir/two\n"
          + uu_lines(RUNS) + b"end\n" + str(len(RUNS)).encode() + b" bytes\n")
    write("fuzz_uudecode", "xxe_table", b"table\n" + xx[:32] + b"\n" + xx[32:] + b"\nbegin 644 x.bin\n"
          + uu_lines(TEXT, xx) + b"end\n")
    b64 = base64.encodebytes(TEXT)
    write("fuzz_uudecode", "begin_base64", b"begin-base64 644 b.txt\n" + b64 + b"====\n")
    write("fuzz_uudecode", "mime", b"MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"B\"\n\n--B\n"
          b"Content-Type: application/octet-stream;\n name=\"m.bin\"\nContent-Transfer-Encoding: base64\n"
          b"Content-Disposition: attachment; filename=\"m.bin\"\n\n" + b64 + b"--B--\n")


if __name__ == "__main__":
    arc_seeds()
    zoo_seeds()
    gzip_seeds()
    tar_seeds()
    uue_seeds()
