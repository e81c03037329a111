#!/usr/bin/env python3
"""Makes res/parlox.ico (16, 32 and 48 pixels, 32-bit colour with alpha) from the icon's PNGs of
those sizes in res/icons/hicolor (rendered from res/parlox.svg by res/icons/make_icons.sh).

Plain Python, no imaging library: reads the 8-bit PNG, scales it by nearest neighbour and writes
each size as a bottom-up BGRA bitmap with its AND mask, which every Windows version reads.
Usage: scripts/make-icon.py [hicolor folder] [target.ico]
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48)


def read_png(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    chunks, at = {}, 8
    idat = b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IDAT":
            idat += body
        else:
            chunks[kind] = body
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert depth == 8 and colour in (2, 3, 6), "needs an 8-bit palette, RGB or RGBA PNG"
    channels = {2: 3, 3: 1, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                guess = left + up - corner
                near = min((abs(guess - left), 0, left), (abs(guess - up), 1, up),
                           (abs(guess - corner), 2, corner))
                line[i] = (line[i] + near[2]) & 255
        rows.append(line)
        previous = line
    palette = chunks.get(b"PLTE", b"")
    alpha = chunks.get(b"tRNS", b"")
    pixels = []
    for line in rows:
        out = []
        for x in range(width):
            if colour == 3:
                index = line[x]
                r, g, b = palette[3 * index:3 * index + 3]
                a = alpha[index] if index < len(alpha) else 255
            else:
                r, g, b = line[x * channels:x * channels + 3]
                a = line[x * channels + 3] if channels == 4 else 255
            out.append((r, g, b, a))
        pixels.append(out)
    return width, height, pixels


def bitmap(width, height, pixels, size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour, mask_stride = bytearray(), ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = pixels[y * height // size][x * width // size]
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + mask


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "res/icons/hicolor"
    target = sys.argv[2] if len(sys.argv) > 2 else "res/parlox.ico"
    images = []
    for size in SIZES:
        width, height, pixels = read_png(f"{folder}/{size}x{size}/apps/org.example.Parlox.png")
        images.append(bitmap(width, height, pixels, size))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    open(target, "wb").write(out + b"".join(images))


if __name__ == "__main__":
    main()
