"""Writes a PNG page as an uncompressed 24-bit bottom-up BMP at 300 dpi, the page bitmap the
splitters hand to the OCR program. Standard library only: 8-bit or 1/2/4-bit paletted and
grey PNGs, and 8-bit RGB, not interlaced.

usage: python3 page-bitmap.py in.png out.bmp"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(path + ": not a PNG file")
    pos, idat, palette = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if interlace or colour not in (0, 2, 3) or (colour == 2 and depth != 8):
        raise SystemExit(path + ": unsupported PNG layout")
    channels = 3 if colour == 2 else 1
    bits = depth * channels
    stride = (width * bits + 7) // 8
    step = max(1, bits // 8)
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b, c = previous[i], previous[i - step] if i >= step else 0
            if kind == 1: line[i] = (line[i] + a) & 255
            elif kind == 2: line[i] = (line[i] + b) & 255
            elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    if colour == 2:
        return width, height, [bytes(r) for r in rows]
    if palette is None:
        top = (1 << depth) - 1
        palette = [(v * 255 // top,) * 3 for v in range(top + 1)]
    per_byte = 8 // depth
    table = [bytes(rgb) for rgb in palette]
    out = []
    for line in rows:
        pixels = bytearray()
        for x in range(width):
            index = (line[x // per_byte] >> (8 - depth * (x % per_byte + 1))) & ((1 << depth) - 1)
            pixels += table[index]
        out.append(bytes(pixels))
    return width, height, out


def write_bmp(path, width, height, rows, dpi=300):
    row_size = (width * 3 + 3) & ~3
    pad = b"\0" * (row_size - width * 3)
    ppm = round(dpi / 0.0254)
    image = bytearray()
    for rgb in reversed(rows):
        bgr = bytearray(rgb)
        bgr[0::3], bgr[2::3] = rgb[2::3], rgb[0::3]
        image += bgr + pad
    header = struct.pack("<2sIHHI", b"BM", 54 + len(image), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(image), ppm, ppm, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + image)


if __name__ == "__main__":
    write_bmp(sys.argv[2], *read_png(sys.argv[1]))
