#!/usr/bin/env python3
"""Draws the program icon and writes it as a Windows .ico file.

    scripts/make-icons.py                 writes res/quenlo.ico
    scripts/make-icons.py --check         exits 1 when res/quenlo.ico differs from what it would write
    scripts/make-icons.py --preview X.png also writes every image side by side as a PNG (for a look)

The icon is a printer with a sheet of paper and a red warning badge. It is drawn from a few shapes
with 8x8 supersampling and stored in the nine images both icon groups of the program use:
32x32 in 2, 16 and 256 colours and 24-bit, 16x16 in 16 and 256 colours and 32-bit (alpha),
48x48 in 256 colours and 32-bit. Images without alpha carry their transparency in the AND mask.
Standard library only; the output is the same byte for byte on every run.
"""

import argparse
import pathlib
import struct
import sys
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
ICO_PATH = ROOT / "res" / "quenlo.ico"

# (size, bits per pixel), in the order the icon directory lists them.
IMAGES = [(32, 1), (32, 4), (32, 8), (32, 24), (16, 4), (16, 8), (16, 32), (48, 8), (48, 32)]

SUPERSAMPLE = 8

# Colours (r, g, b).
BODY = (51, 102, 153)
BODY_DARK = (0, 51, 102)
PAPER = (255, 255, 255)
PAPER_EDGE = (120, 120, 120)
SLOT = (16, 24, 36)
BADGE = (212, 40, 32)
WHITE = (255, 255, 255)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# Shapes in painting order, in unit coordinates (0..1, y down).
SHAPES = [
    (rect(0.25, 0.05, 0.75, 0.44), PAPER_EDGE),  # sheet waiting on top
    (rect(0.29, 0.09, 0.71, 0.44), PAPER),
    (rect(0.35, 0.17, 0.65, 0.20), PAPER_EDGE),  # printed lines
    (rect(0.35, 0.25, 0.60, 0.28), PAPER_EDGE),
    (rounded_rect(0.04, 0.34, 0.96, 0.82, 0.09), BODY_DARK),  # printer body with its rim
    (rounded_rect(0.08, 0.38, 0.92, 0.78, 0.06), BODY),
    (rect(0.16, 0.60, 0.84, 0.66), SLOT),  # output slot
    (circle(0.72, 0.72, 0.27), WHITE),  # warning badge with a white ring
    (circle(0.72, 0.72, 0.22), BADGE),
    (rounded_rect(0.685, 0.56, 0.755, 0.76, 0.03), WHITE),  # "!"
    (circle(0.72, 0.83, 0.042), WHITE),
]


def render(size):
    """Returns rows (top first) of (r, g, b, a) with 8-bit components, straight alpha."""
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc_r = acc_g = acc_b = hits = 0
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    colour = None
                    for inside, c in SHAPES:
                        if inside(x, y):
                            colour = c
                    if colour is not None:
                        acc_r += colour[0]
                        acc_g += colour[1]
                        acc_b += colour[2]
                        hits += 1
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                a = round(255 * hits / (n * n))
                row.append((round(acc_r / hits), round(acc_g / hits), round(acc_b / hits), a))
        rows.append(row)
    return rows


def palette_for(bpp):
    if bpp == 1:
        return [(0, 0, 0), (255, 255, 255)]
    vga = [
        (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
        (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
        (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
        (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
    ]  # fmt: skip
    if bpp == 4:
        return vga
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    greys = [(v, v, v) for v in (8 + 10 * i for i in range(24))]
    return vga + cube + greys


def nearest(palette, colour, cache):
    index = cache.get(colour)
    if index is None:
        index = min(
            range(len(palette)),
            key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)),
        )
        cache[colour] = index
    return index


def pack_row(values, bpp):
    """Packs one row of pixel values (indices, or byte tuples for 24/32 bits), padded to 4 bytes."""
    out = bytearray()
    if bpp >= 24:
        for v in values:
            out += bytes(v)
    else:
        per_byte = 8 // bpp
        for i in range(0, len(values), per_byte):
            b = 0
            for j in range(per_byte):
                v = values[i + j] if i + j < len(values) else 0
                b |= v << (8 - bpp * (j + 1))
            out.append(b)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def dib(size, bpp, pixels):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask, rows bottom-up."""
    palette = palette_for(bpp) if bpp <= 8 else []
    cache = {}
    xor_rows = []
    and_rows = []
    for row in reversed(pixels):
        if bpp == 32:
            # Straight alpha; fully transparent pixels are black.
            xor_rows.append(pack_row([(b, g, r, a) if a else (0, 0, 0, 0) for r, g, b, a in row], 32))
            mask = [1 if a == 0 else 0 for _, _, _, a in row]
        else:
            # No alpha: a pixel is drawn when at least half covered, and then fully opaque.
            opaque = [a >= 128 for _, _, _, a in row]
            if bpp == 24:
                values = [(b, g, r) if o else (0, 0, 0) for (r, g, b, _), o in zip(row, opaque)]
            else:
                values = [
                    nearest(palette, (r, g, b), cache) if o else 0
                    for (r, g, b, _), o in zip(row, opaque)
                ]
            xor_rows.append(pack_row(values, bpp))
            mask = [0 if o else 1 for o in opaque]
        and_rows.append(pack_row(mask, 1))
    xor = b"".join(xor_rows)
    and_mask = b"".join(and_rows)
    header = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(xor) + len(and_mask), 0, 0, len(palette), 0
    )
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + pal + xor + and_mask


def build_ico():
    rendered = {}
    blobs = []
    for size, bpp in IMAGES:
        if size not in rendered:
            rendered[size] = render(size)
        blobs.append(dib(size, bpp, rendered[size]))
    out = bytearray(struct.pack("<HHH", 0, 1, len(IMAGES)))
    offset = 6 + 16 * len(IMAGES)
    for (size, bpp), blob in zip(IMAGES, blobs):
        colours = 1 << bpp if bpp < 8 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out), rendered


def write_preview(path, rendered):
    """All sizes side by side over a light grey background, 4x enlarged."""
    scale = 4
    sizes = sorted(rendered)
    gap = 8
    width = sum(s * scale for s in sizes) + gap * (len(sizes) + 1)
    height = max(sizes) * scale + 2 * gap
    bg = (224, 224, 224)
    canvas = [[bg] * width for _ in range(height)]
    x0 = gap
    for s in sizes:
        for y in range(s * scale):
            for x in range(s * scale):
                r, g, b, a = rendered[s][y // scale][x // scale]
                canvas[gap + y][x0 + x] = tuple(
                    (c * a + k * (255 - a)) // 255 for c, k in zip((r, g, b), bg)
                )
        x0 += s * scale + gap
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in canvas)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    pathlib.Path(path).write_bytes(png)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare with res/quenlo.ico")
    parser.add_argument("--preview", metavar="PNG", help="also write a PNG preview")
    parser.add_argument("--output", default=str(ICO_PATH), help="where to write the .ico")
    args = parser.parse_args()

    ico, rendered = build_ico()
    if args.preview:
        write_preview(args.preview, rendered)
    target = pathlib.Path(args.output)
    if args.check:
        if not target.exists() or target.read_bytes() != ico:
            print(f"{target} is out of date: run scripts/make-icons.py", file=sys.stderr)
            return 1
        return 0
    target.write_bytes(ico)
    return 0


if __name__ == "__main__":
    sys.exit(main())
