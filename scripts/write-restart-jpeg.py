#!/usr/bin/env python3
"""Writes a baseline JPEG with restart markers, or with one scan per component, for the decoder
tests.

ImageMagick (6.9) cannot set a restart interval, so the files that need one are written
here: a plain baseline encoder (floating-point DCT, the example quantisation tables of
ITU T.81 Annex K scaled like libjpeg's quality setting, Huffman tables taken from a JPEG that
ImageMagick wrote). Greyscale or YCbCr 4:2:0. With "separate" (and an interval of 0) each
component is coded in a scan of its own, block by block over its own area, as ImageMagick never
writes a sequential file.

usage: write-restart-jpeg.py IN.ppm|IN.pgm TABLES.jpg INTERVAL QUALITY OUT.jpg [separate]
"""
import math
import struct
import sys

LUMA_Q = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
          14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
          18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
          49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
CHROMA_Q = [17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
            24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99] + [99] * 32

ZIGZAG = sorted(range(64), key=lambda i: (i // 8 + i % 8,
                                           (i // 8) if (i // 8 + i % 8) % 2 else (i % 8)))


def read_pnm(path):
    data = open(path, 'rb').read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b'#':
            pos = data.index(b'\n', pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    kind, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    assert maxval == 255, 'expects 8-bit samples'
    channels = 3 if kind == b'P6' else 1
    assert kind in (b'P5', b'P6')
    pixels = data[pos:pos + width * height * channels]
    return width, height, channels, pixels


def huffman_tables(path):
    """(class, id) -> {symbol: (code, length)} from the DHT segments of a JPEG."""
    data = open(path, 'rb').read()
    tables = {}
    pos = 2
    while pos < len(data):
        marker = data[pos + 1]
        length = struct.unpack('>H', data[pos + 2:pos + 4])[0]
        if marker == 0xC4:
            seg = data[pos + 4:pos + 2 + length]
            i = 0
            while i < len(seg):
                tc, th = seg[i] >> 4, seg[i] & 15
                counts = seg[i + 1:i + 17]
                values = seg[i + 17:i + 17 + sum(counts)]
                codes, code, k = {}, 0, 0
                for n in range(1, 17):
                    for _ in range(counts[n - 1]):
                        codes[values[k]] = (code, n)
                        code += 1
                        k += 1
                    code <<= 1
                tables[(tc, th)] = (codes, seg[i:i + 17 + sum(counts)])
                i += 17 + sum(counts)
        if marker == 0xDA:
            break
        pos += 2 + length
    return tables


def scaled(table, quality):
    scale = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [min(255, max(1, (q * scale + 50) // 100)) for q in table]


COS = [[math.cos((2 * x + 1) * u * math.pi / 16) for x in range(8)] for u in range(8)]


def fdct(block):
    """8x8 samples (level-shifted) to 64 coefficients in natural order."""
    rows = [[sum(block[y * 8 + x] * COS[u][x] for x in range(8)) for u in range(8)]
            for y in range(8)]
    out = [0.0] * 64
    for v in range(8):
        for u in range(8):
            s = sum(rows[y][u] * COS[v][y] for y in range(8))
            cu = math.sqrt(0.5) if u == 0 else 1.0
            cv = math.sqrt(0.5) if v == 0 else 1.0
            out[v * 8 + u] = 0.25 * cu * cv * s
    return out


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, length):
        for i in range(length - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)
                self.acc, self.n = 0, 0

    def flush(self):
        while self.n:
            self.put(1, 1)


def magnitude(value):
    size = abs(value).bit_length()
    bits = value if value >= 0 else value + (1 << size) - 1
    return size, bits


def main():
    src, tables_from, interval, quality, dest = sys.argv[1:6]
    interval, quality = int(interval), int(quality)
    separate = sys.argv[6:] == ['separate']
    assert not (separate and interval)
    width, height, channels, pixels = read_pnm(src)
    tables = huffman_tables(tables_from)
    qtabs = [scaled(LUMA_Q, quality), scaled(CHROMA_Q, quality)]

    def sample(c, x, y):
        x, y = min(x, width - 1), min(y, height - 1)  # edges replicated into the padding
        p = pixels[(y * width + x) * channels:(y * width + x + 1) * channels]
        if channels == 1:
            return p[0]
        r, g, b = p
        return [0.299 * r + 0.587 * g + 0.114 * b,
                -0.168736 * r - 0.331264 * g + 0.5 * b + 128,
                0.5 * r - 0.418688 * g - 0.081312 * b + 128][c]

    ncomp = channels
    hmax = 2 if ncomp == 3 else 1
    mcus_x, mcus_y = -(-width // (8 * hmax)), -(-height // (8 * hmax))
    writer = BitWriter()
    preds = [0] * ncomp
    restart = 0

    def block(c, bx, by, step):
        """Coefficients of the block at (bx, by) in component c's own block grid."""
        samples = []
        for y in range(8):
            for x in range(8):
                px, py = (bx * 8 + x) * step, (by * 8 + y) * step
                total = sum(sample(c, px + i, py + j) for j in range(step) for i in range(step))
                samples.append(total / (step * step) - 128)
        q = qtabs[0 if c == 0 else 1]
        coef = fdct(samples)
        return [int(round(coef[ZIGZAG[k]] / q[ZIGZAG[k]])) for k in range(64)]

    def encode(c, coefs):
        dc_codes = tables[(0, 0 if c == 0 else 1)][0]
        ac_codes = tables[(1, 0 if c == 0 else 1)][0]
        size, bits = magnitude(coefs[0] - preds[c])
        preds[c] = coefs[0]
        writer.put(*dc_codes[size])
        writer.put(bits, size)
        run = 0
        for k in range(1, 64):
            if coefs[k] == 0:
                run += 1
                continue
            while run > 15:
                writer.put(*ac_codes[0xF0])
                run -= 16
            size, bits = magnitude(coefs[k])
            writer.put(*ac_codes[run << 4 | size])
            writer.put(bits, size)
            run = 0
        if run:
            writer.put(*ac_codes[0x00])

    scans = []
    if separate:
        for c in range(ncomp):
            step = 1 if c == 0 else hmax
            wide, high = -(-width // step), -(-height // step)
            writer = BitWriter()
            for by in range(-(-high // 8)):
                for bx in range(-(-wide // 8)):
                    encode(c, block(c, bx, by, step))
            writer.flush()
            scans.append(([c], writer.out))
        mcus_y = 0
    count = 0
    for my in range(mcus_y):
        for mx in range(mcus_x):
            if interval and count and count % interval == 0:
                writer.flush()
                writer.out += bytes([0xFF, 0xD0 + restart])
                restart = (restart + 1) % 8
                preds = [0] * ncomp
            count += 1
            for v in range(hmax):
                for h in range(hmax):
                    encode(0, block(0, mx * hmax + h, my * hmax + v, 1))
            for c in range(1, ncomp):
                encode(c, block(c, mx, my, 2))
    if not separate:
        writer.flush()
        scans.append((list(range(ncomp)), writer.out))

    out = bytearray(b'\xFF\xD8')
    for i in range(2 if ncomp == 3 else 1):
        out += b'\xFF\xDB' + struct.pack('>HB', 67, i) + bytes(qtabs[i][z] for z in ZIGZAG)
    comps = b''.join(bytes([c + 1, (0x22 if ncomp == 3 else 0x11) if c == 0 else 0x11,
                            0 if c == 0 else 1]) for c in range(ncomp))
    out += b'\xFF\xC0' + struct.pack('>HBHHB', 8 + 3 * ncomp, 8, height, width, ncomp) + comps
    for key in [(0, 0), (1, 0)] + ([(0, 1), (1, 1)] if ncomp == 3 else []):
        body = tables[key][1]
        out += b'\xFF\xC4' + struct.pack('>H', 2 + len(body)) + body
    out += b'\xFF\xDD' + struct.pack('>HH', 4, interval)
    for comps_in_scan, data in scans:
        sos = b''.join(bytes([c + 1, 0x00 if c == 0 else 0x11]) for c in comps_in_scan)
        out += b'\xFF\xDA' + struct.pack('>HB', 6 + 2 * len(comps_in_scan), len(comps_in_scan))
        out += sos + bytes([0, 63, 0]) + data
    out += b'\xFF\xD9'
    open(dest, 'wb').write(out)


if __name__ == '__main__':
    main()
