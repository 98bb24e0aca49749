#!/usr/bin/python3
"""Draws the program's icon and writes it as res/prompt.ico.

The icon is a monitor whose screen carries a circular restart arrow. The file
holds eight images: 32 and 16 px at 16 colours, 48, 32 and 16 px at 256
colours, and 48, 32 and 16 px at 32-bit colour with alpha. The ICO container
is written here by hand because Pillow only writes 32-bit or PNG entries.

The result is committed, so a build never needs Pillow.
Run: /usr/bin/python3 scripts/makeIcon.py [output.ico]
"""

import math
import os
import struct
import sys

from PIL import Image, ImageDraw

# (size in px, bits per pixel), in the order they appear in the file.
IMAGES = [
    (32, 4), (16, 4),
    (48, 8), (32, 8), (16, 8),
    (48, 32), (32, 32), (16, 32),
]

# The standard 16-colour palette, so the 4-bit images look right on any
# display that can show 16 colours.
VGA_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Below this alpha a pixel is transparent in the AND mask and the
# palettised images.
ALPHA_CUTOFF = 128

SUPERSAMPLE = 8

# Geometry per image size, in pixels: each size has its own layout so that
# edges fall on whole pixels instead of blurring when scaled.
#   bezel, screen, stand, base: boxes (x0, y0, x1, y1)
#   ring: centre x, centre y, outer radius, stroke width, arrow head length
LAYOUTS = {
    48: dict(bezel=(2, 5, 46, 38), screen=(5, 8, 43, 35), stand=(20, 38, 28, 42),
             base=(12, 42, 36, 46), corner=3, ring=(24, 21.5, 10.5, 3.5, 5.5)),
    32: dict(bezel=(1, 3, 31, 26), screen=(3, 5, 29, 24), stand=(13, 26, 19, 28),
             base=(8, 28, 24, 31), corner=2, ring=(16, 14.5, 7, 2.5, 4)),
    16: dict(bezel=(0, 1, 16, 13), screen=(1, 2, 15, 12), stand=(6, 13, 10, 14),
             base=(3, 14, 13, 16), corner=1, ring=(8, 7, 4, 1.5, 2.5)),
}

# Colours of the drawing; the 16-colour images use entries of VGA_PALETTE.
TRUE_COLOURS = dict(bezel=(48, 48, 56), screen=(0, 96, 200), arrow=(255, 255, 255),
                    stand=(112, 112, 120), base=(64, 64, 72))
VGA_COLOURS = dict(bezel=(0, 0, 0), screen=(0, 0, 255), arrow=(255, 255, 255),
                   stand=(128, 128, 128), base=(0, 0, 0))


def drawMaster(size, colours):
    """The icon drawn at SUPERSAMPLE times `size`."""
    lay = LAYOUTS[size]
    k = SUPERSAMPLE
    img = Image.new("RGBA", (size * k, size * k), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)

    def box(b):
        return [b[0] * k, b[1] * k, b[2] * k - 1, b[3] * k - 1]

    def fill(name):
        return colours[name] + (255,)

    # Stand and base first, so the bezel covers the stand's top.
    d.rectangle(box(lay["stand"]), fill=fill("stand"))
    d.rounded_rectangle(box(lay["base"]), radius=lay["corner"] * k, fill=fill("base"))
    d.rounded_rectangle(box(lay["bezel"]), radius=lay["corner"] * k, fill=fill("bezel"))
    d.rectangle(box(lay["screen"]), fill=fill("screen"))

    # Restart arrow: an open ring with a head at its clockwise end.
    cx, cy, outer, width, head = (v * k for v in lay["ring"])
    gapStart, gapEnd = -75.0, -20.0  # degrees, clockwise from east
    d.arc([cx - outer, cy - outer, cx + outer, cy + outer],
          start=gapEnd, end=gapStart + 360.0, fill=fill("arrow"), width=round(width))
    mid = outer - width / 2.0
    a = math.radians(gapStart)
    baseX, baseY = cx + mid * math.cos(a), cy + mid * math.sin(a)
    tx, ty = -math.sin(a), math.cos(a)  # direction of travel, clockwise
    nx, ny = math.cos(a), math.sin(a)
    half = head * 0.8
    d.polygon([
        (baseX - tx * head * 0.2 + tx * head, baseY - ty * head * 0.2 + ty * head),
        (baseX - tx * head * 0.2 + nx * half, baseY - ty * head * 0.2 + ny * half),
        (baseX - tx * head * 0.2 - nx * half, baseY - ty * head * 0.2 - ny * half),
    ], fill=fill("arrow"))
    return img


def render(size, colours):
    # BOX averages whole supersampled cells: no ringing at the edges.
    return drawMaster(size, colours).resize((size, size), Image.BOX)


def renderHard(size, colours):
    """Each pixel takes the colour covering most of its cell: hard edges
    for the 16-colour images, which cannot show blends."""
    master = drawMaster(size, colours)
    k = SUPERSAMPLE
    src = master.load()
    out = Image.new("RGBA", (size, size))
    dst = out.load()
    for y in range(size):
        for x in range(size):
            counts = {}
            for v in range(y * k, (y + 1) * k):
                for u in range(x * k, (x + 1) * k):
                    c = src[u, v] if src[u, v][3] >= ALPHA_CUTOFF else (0, 0, 0, 0)
                    counts[c] = counts.get(c, 0) + 1
            dst[x, y] = max(sorted(counts), key=counts.get)
    return out


def rowBytes(width, bits):
    return ((width * bits + 31) // 32) * 4


def packRows(size, bits, values):
    """Bottom-up rows of `bits`-wide values, each row padded to 4 bytes."""
    out = bytearray()
    stride = rowBytes(size, bits)
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            v = values[y * size + x]
            bit = x * bits
            row[bit // 8] |= v << (8 - bits - bit % 8)
        out += row
    return bytes(out)


def andMask(img):
    alpha = img.getchannel("A").getdata()
    return packRows(img.width, 1, [1 if a < ALPHA_CUTOFF else 0 for a in alpha])


def nearest(palette, rgb):
    r, g, b = rgb
    return min(range(len(palette)),
               key=lambda i: (palette[i][0] - r) ** 2 + (palette[i][1] - g) ** 2 + (palette[i][2] - b) ** 2)


def palettised(img, bits):
    """Palette and per-pixel indices; transparent pixels take index 0."""
    pixels = list(img.getdata())
    if bits == 4:
        indices = [0 if a < ALPHA_CUTOFF else VGA_PALETTE.index((r, g, b)) for r, g, b, a in pixels]
        return VGA_PALETTE, indices
    # 256 colours: black stays at index 0 for the transparent pixels, the
    # opaque pixels get an adaptive palette of up to 255 colours.
    opaque = Image.new("RGB", img.size, (0, 0, 0))
    opaque.paste(img.convert("RGB"), mask=img.getchannel("A").point(lambda a: 255 if a >= ALPHA_CUTOFF else 0))
    q = opaque.quantize(colors=255, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    flat = q.getpalette()[:255 * 3]
    palette = [(0, 0, 0)] + [tuple(flat[i:i + 3]) for i in range(0, len(flat), 3)]
    palette += [(0, 0, 0)] * (256 - len(palette))
    qdata = list(q.getdata())
    indices = [0 if a < ALPHA_CUTOFF else qdata[i] + 1 for i, (_, _, _, a) in enumerate(pixels)]
    return palette, indices


def bitmapHeader(size, bits, imageBytes):
    # biHeight covers the XOR and AND bitmaps together.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, imageBytes, 0, 0, 0, 0)


def iconImage(size, bits):
    img = renderHard(size, VGA_COLOURS) if bits == 4 else render(size, TRUE_COLOURS)
    mask = andMask(img)
    if bits == 32:
        bgra = [(b, g, r, a) for r, g, b, a in img.getdata()]
        rows = bytearray()
        for y in range(size - 1, -1, -1):
            for b, g, r, a in bgra[y * size:(y + 1) * size]:
                rows += bytes((b, g, r, a))
        xor, table = bytes(rows), b""
    else:
        palette, indices = palettised(img, bits)
        table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
        xor = packRows(size, bits, indices)
    return bitmapHeader(size, bits, len(xor) + len(mask)) + table + xor + mask


def icoFile(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for (size, bits), data in images:
        colours = 1 << bits if bits < 8 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(data), offset)
        blobs += data
        offset += len(data)
    return header + entries + blobs


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "res", "prompt.ico")
    images = [((size, bits), iconImage(size, bits)) for size, bits in IMAGES]
    with open(out, "wb") as f:
        f.write(icoFile(images))
    print("wrote %s (%d images)" % (out, len(images)))


if __name__ == "__main__":
    main()
