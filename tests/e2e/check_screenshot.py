#!/usr/bin/env python3
"""Checks a screenshot of trails-viewer: the scene's look on a real device.

    check_screenshot.py FILE.png WIDTH HEIGHT

The PNG is read with nothing but zlib (every chunk's CRC is checked too, so
the viewer's own encoder is tested on the way). What the scene must show
after a few hundred ticks and two frames:

- a black background: the clear colour is opaque black and most of the grid
  is still dark, so a good part of the picture is exactly (0, 0, 0);
- trails in the particles' colours: particle red is 100 to 255, green about
  half of it and blue at most 65, so red is the strongest channel in nearly
  every lit pixel;
- glow: every particle's 9 x 9 halo on the half-resolution layer is opaque and
  bright, and shows as solid blobs a few pixels wide. Without the glow layer
  the full layer alone, two frames after set-up, is a sparse scatter of
  refreshed cells, in which a fully lit 3 x 3 square is rare (about one lit
  pixel in a thousand centres one; with the glow about one in four does).
"""
import struct
import sys
import zlib

LIT = 32  # a channel this bright or brighter makes a pixel lit
MIN_BLACK_FRACTION = 0.30
MIN_LIT_FRACTION = 0.02
MAX_LIT_FRACTION = 0.90
MIN_RED_STRONGEST = 0.80
MIN_BLOB_CORES_PER_LIT = 0.05


def read_png(path):
    """Returns width, height and rows of (r, g, b) bytes of an 8-bit RGB PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG signature")
    pos = 8
    header = None
    idat = b""
    seen_end = False
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            raise ValueError("bad CRC in chunk %r" % kind)
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            seen_end = True
            break
        pos += 12 + length
    if header is None or not seen_end:
        raise ValueError("missing IHDR or IEND")
    width, height, depth, colour, compression, filtering, interlace = header
    if (depth, colour, compression, filtering, interlace) != (8, 2, 0, 0, 0):
        raise ValueError("not 8-bit RGB without interlace: %r" % (header,))
    raw = zlib.decompress(idat)  # checks the Adler-32 as well
    stride = width * 3
    if len(raw) != height * (stride + 1):
        raise ValueError("image data holds %d bytes, want %d" % (len(raw), height * (stride + 1)))
    rows = []
    previous = bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - 3] if i >= 3 else 0
            up = previous[i]
            up_left = previous[i - 3] if i >= 3 else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - up_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else up_left)
                row[i] = (row[i] + predictor) & 255
            elif kind != 0:
                raise ValueError("unknown filter %d in row %d" % (kind, y))
        rows.append(bytes(row))
        previous = row
    return width, height, rows


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    path, want_width, want_height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    width, height, rows = read_png(path)
    failures = []
    if (width, height) != (want_width, want_height):
        failures.append("size %dx%d, want %dx%d" % (width, height, want_width, want_height))

    black = lit_count = red_strongest = 0
    lit = []
    for row in rows:
        flags = []
        for x in range(width):
            r, g, b = row[3 * x], row[3 * x + 1], row[3 * x + 2]
            brightest = max(r, g, b)
            if brightest == 0:
                black += 1
            is_lit = brightest >= LIT
            flags.append(is_lit)
            if is_lit:
                lit_count += 1
                if r >= g and r >= b:
                    red_strongest += 1
        lit.append(flags)

    cores = 0
    for y in range(1, height - 1):
        above, here, below = lit[y - 1], lit[y], lit[y + 1]
        for x in range(1, width - 1):
            if (here[x] and here[x - 1] and here[x + 1] and above[x - 1] and above[x] and above[x + 1]
                    and below[x - 1] and below[x] and below[x + 1]):
                cores += 1

    pixels = width * height
    black_fraction = black / pixels
    lit_fraction = lit_count / pixels
    red_fraction = red_strongest / max(lit_count, 1)
    core_fraction = cores / max(lit_count, 1)
    print("%s: %dx%d, black %.3f, lit %.3f, red strongest in %.3f of lit, 3x3 lit blobs %.3f of lit"
          % (path, width, height, black_fraction, lit_fraction, red_fraction, core_fraction))

    if black_fraction < MIN_BLACK_FRACTION:
        failures.append("only %.3f of the pixels are black: no black background" % black_fraction)
    if not MIN_LIT_FRACTION <= lit_fraction <= MAX_LIT_FRACTION:
        failures.append("%.3f of the pixels are lit, want %.2f to %.2f" % (lit_fraction, MIN_LIT_FRACTION,
                                                                          MAX_LIT_FRACTION))
    if red_fraction < MIN_RED_STRONGEST:
        failures.append("red is the strongest channel in only %.3f of the lit pixels" % red_fraction)
    if core_fraction < MIN_BLOB_CORES_PER_LIT:
        failures.append("only %.3f of the lit pixels centre a lit 3x3 square: no glow" % core_fraction)
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
