#!/usr/bin/env python3
"""Writes the seed inputs of the ZIP method fuzzers into fuzz/corpus/<target>/.

Deflate seeds come from Python's zlib; shrink, reduce and implode seeds from the small encoders below, which
follow PKWARE's application note. Each seed starts with the control bytes its fuzzer reads first.
"""
import os
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus")

SAMPLES = [
    b"",
    b"a",
    b"hello hello hello hello, world\n" * 3,
    bytes(range(256)) + bytes(range(255, -1, -1)),
    (b"The quick brown fox jumps over the lazy dog. " * 40)[:1500],
    bytes([0]) * 700 + b"tail" + bytes([144]) * 9 + bytes([144, 0, 144]) * 5,
    bytes((i * 7919 >> 3) & 0xFF for i in range(1200)),
]


class Bits:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, count):  # least significant bit first
        for i in range(count):
            self.acc |= ((value >> i) & 1) << self.n
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                self.acc = 0
                self.n = 0

    def code(self, value, length):  # most significant bit first
        for i in range(length - 1, -1, -1):
            self.put((value >> i) & 1, 1)

    def finish(self):
        if self.n:
            self.put(0, 8 - self.n)
        return bytes(self.out)


def shrink(data):
    """LZW with 9..13-bit codes, widened with 256,1 when a code needs it; no partial clears."""
    b = Bits()
    table = {}
    free = 257
    width = 9
    w = None

    def emit(code):
        nonlocal width
        while code >= (1 << width):
            b.put(256, width)
            b.put(1, width)
            width += 1
        b.put(code, width)

    for c in data:
        if w is None:
            w = c
            continue
        key = (w, c)
        if key in table:
            w = table[key]
        else:
            emit(w)
            if free < 8192:
                table[key] = free
                free += 1
            w = c
    if w is not None:
        emit(w)
    return b.finish()


def matches(data, window, min_len, max_len):
    """Greedy LZ77 parse: ("lit", byte) or ("match", distance, length)."""
    i = 0
    out = []
    while i < len(data):
        best_len, best_dist = 0, 0
        for dist in range(1, min(window, i) + 1):
            n = 0
            while n < max_len and i + n < len(data) and data[i + n] == data[i + n - dist]:
                n += 1
            if n > best_len:
                best_len, best_dist = n, dist
        if best_len >= min_len:
            out.append(("match", best_dist, best_len))
            i += best_len
        else:
            out.append(("lit", data[i]))
            i += 1
    return out


def reduce(data, factor):
    """Expander escapes (DLE = 144) with copies, then follower sets of the escaped stream."""
    length_bits = 8 - factor
    mask = (1 << length_bits) - 1
    escaped = bytearray()
    pos = 0

    def literal(c):
        escaped.extend(bytes([144, 0]) if c == 144 else bytes([c]))

    for item in matches(data, (1 << factor) * 256, 3, mask + 255 + 3):
        if item[0] == "lit":
            literal(item[1])
            pos += 1
            continue
        _, dist, length = item
        l, d = length - 3, dist - 1
        v = ((d >> 8) << length_bits) | min(l, mask)
        if v == 0:  # V = 0 would read as a literal 144: send the bytes as literals
            for k in range(length):
                literal(data[pos + k])
        else:
            escaped.append(144)
            escaped.append(v)
            if min(l, mask) == mask:
                escaped.append(l - mask)
            escaped.append(d & 0xFF)
        pos += length
    # Follower sets: up to 32 most frequent followers per byte value.
    counts = [dict() for _ in range(256)]
    last = 0
    for c in escaped:
        counts[last][c] = counts[last].get(c, 0) + 1
        last = c
    sets = [sorted(cnt, key=lambda k: -cnt[k])[:32] for cnt in counts]
    b = Bits()
    for v in range(255, -1, -1):
        b.put(len(sets[v]), 6)
        for c in sets[v]:
            b.put(c, 8)
    last = 0
    for c in escaped:
        s = sets[last]
        if not s:
            b.put(c, 8)
        elif c in s:
            bits = 1
            while (1 << bits) < len(s):
                bits += 1
            b.put(0, 1)
            b.put(s.index(c), bits)
        else:
            b.put(1, 1)
            b.put(c, 8)
        last = c
    return b.finish()


def implode(data, big_window, literal_tree):
    """Uniform trees (8-bit literal codes, 6-bit length and distance codes) and a greedy parse."""
    low_bits = 7 if big_window else 6
    minimum = 3 if literal_tree else 2
    b = Bits()
    if literal_tree:
        for byte in [15] + [0xF7] * 16:
            b.put(byte, 8)
    for _ in range(2):
        for byte in [3] + [0xF5] * 4:
            b.put(byte, 8)
    for item in matches(data, 8192 if big_window else 4096, minimum, minimum + 63 + 255):
        if item[0] == "lit":
            b.put(1, 1)
            if literal_tree:
                b.code(255 - item[1], 8)
            else:
                b.put(item[1], 8)
            continue
        _, dist, length = item
        d = dist - 1
        b.put(0, 1)
        b.put(d & ((1 << low_bits) - 1), low_bits)
        b.code(63 - (d >> low_bits), 6)
        l = min(length - minimum, 63)
        b.code(63 - l, 6)
        if l == 63:
            b.put(length - minimum - 63, 8)
    return b.finish()


def deflate_raw(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()


def deflate64_fixed_seed():
    """A fixed-code Deflate64 block using length code 285 (16 extra bits) and distance code 0."""
    b = Bits()
    b.put(1, 1)
    b.put(1, 2)
    b.code(0x30 + ord("x"), 8)  # literal x
    b.code(0xC0 + 5, 8)  # 285: length 3 + 1000
    b.put(1000, 16)
    b.code(0, 5)  # distance 1
    b.code(0, 7)  # end of block
    return b.finish()


def write(target, name, payload):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(payload)


def main():
    for i, s in enumerate(SAMPLES):
        for level, strategy in [(0, 0), (1, 0), (9, 0), (6, zlib.Z_FIXED), (6, zlib.Z_HUFFMAN_ONLY)]:
            raw = deflate_raw(s, level, strategy)
            write("fuzz_inflate", f"s{i}_l{level}_st{strategy}", bytes([0]) + raw)
            if level == 9:
                write("fuzz_deflate64", f"s{i}_l9", bytes([3]) + raw)
        write("fuzz_unshrink", f"s{i}", bytes([min(len(s) // 997 + 1, 254), 0]) + shrink(s))
        for factor in range(1, 5):
            size_code = min(len(s) // 1531 + 1, 62)
            write("fuzz_unreduce", f"s{i}_f{factor}", bytes([(size_code << 2) | (factor - 1), 0]) + reduce(s, factor))
        for big in (False, True):
            for lit in (False, True):
                flags = (2 if big else 0) | (4 if lit else 0)
                size_code = min(len(s) // 2039 + 1, 30)
                write("fuzz_explode", f"s{i}_{flags}", bytes([(size_code << 3) | flags, 0]) + implode(s, big, lit))
    for i, s in enumerate(SAMPLES):
        for control in (0x00, 0x05, 0x0A, 0x83):  # each strength; piece sizes; a cancel
            write("fuzz_deflate_roundtrip", f"s{i}_c{control:02x}", bytes([control, 0]) + s)
    write("fuzz_deflate_roundtrip", "repeated", bytes([0x02, 0xFF]) + SAMPLES[4])
    write("fuzz_deflate64", "fixed285", bytes([1]) + deflate64_fixed_seed())
    # The partial-clear sequence of the unit tests: A B 257 A 256,2 B C 259 257.
    b = Bits()
    for code in [65, 66, 257, 65, 256, 2, 66, 67, 259, 257]:
        b.put(code, 9)
    write("fuzz_unshrink", "partial_clear", bytes([1, 0]) + b.finish())


if __name__ == "__main__":
    main()
