#!/usr/bin/env python3
"""Draws Kestrin's icon and writes it as a .ico file.

make_icon.py OUT.ico

One 48 x 48 image, 32 bits per pixel with alpha: a shield in a kestrel's
russet and slate, with a light check mark across it, for a tool that guards
files. Edges are smoothed by 4 x 4 supersampling. The image is a 40-byte
BITMAPINFOHEADER, 9,216 bytes of BGRA rows (bottom row first) and a 384-byte
AND mask (48 rows of 8 bytes), 9,640 bytes in all.
"""
import math
import struct
import sys

SIZE = 48
SUB = 4


def inside_shield(x, y):
    """The shield: a flat top with rounded corners, straight sides, and two
    arcs meeting in a point at the bottom. Coordinates in pixels, y down."""
    left, right, top, mid, bottom = 6.0, 42.0, 4.0, 26.0, 45.0
    if y < top or y > bottom or x < left or x > right:
        return False
    r = 5.0
    for cx in (left + r, right - r):
        beyond = x < cx if cx == left + r else x > cx
        if beyond and y < top + r and (x - cx) ** 2 + (y - (top + r)) ** 2 > r * r:
            return False
    if y <= mid:
        return True
    # Below mid the sides curve in to the point at (24, bottom).
    t = (y - mid) / (bottom - mid)
    half = 18.0 * math.cos(t * math.pi / 2) ** 0.8
    return abs(x - 24.0) <= half


def near_segment(px, py, ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return (px - qx) ** 2 + (py - qy) ** 2 <= (width / 2) ** 2


def in_check(x, y):
    return (near_segment(x, y, 14.0, 24.0, 21.0, 32.0, 5.0) or
            near_segment(x, y, 21.0, 32.0, 35.0, 14.0, 5.0))


def colour_at(x, y):
    """Colour (r, g, b, a) of one sample point."""
    if not inside_shield(x, y):
        return (0, 0, 0, 0)
    # A thin dark rim: points close to the outline.
    rim = any(not inside_shield(x + dx, y + dy)
              for dx, dy in ((1.3, 0), (-1.3, 0), (0, 1.3), (0, -1.3)))
    if rim:
        return (46, 52, 64, 255)
    if in_check(x, y):
        return (250, 246, 236, 255)
    # Russet above, slate below, as a kestrel's back and tail.
    t = (y - 4.0) / 41.0
    top, low = (196, 98, 45), (70, 88, 112)
    shade = 1.0 - 0.18 * (x - 6.0) / 36.0
    return tuple(int((top[i] * (1 - t) + low[i] * t) * shade) for i in range(3)) + (255,)


def render():
    pixels = []
    for row in range(SIZE):
        line = []
        for col in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUB):
                for sx in range(SUB):
                    r, g, b, a = colour_at(col + (sx + 0.5) / SUB, row + (sy + 0.5) / SUB)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUB * SUB
            alpha = acc[3] / n
            if alpha > 0:
                colour = [int(round(acc[i] / acc[3])) for i in range(3)]
            else:
                colour = [0, 0, 0]
            line.append((colour[0], colour[1], colour[2], int(round(alpha))))
        pixels.append(line)
    return pixels


def ico_bytes(pixels):
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):          # bottom row first
        bits = 0
        for col, (r, g, b, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits |= 1 << (SIZE - 1 - col)
        mask += bits.to_bytes(SIZE // 8, 'big') + b'\0\0'   # rows padded to 4 bytes
    image = header + bytes(colour) + bytes(mask)
    assert len(header) == 40 and len(colour) == 9216 and len(mask) == 384
    assert len(image) == 9640
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_icon.py OUT.ico')
    with open(sys.argv[1], 'wb') as out:
        out.write(ico_bytes(render()))


if __name__ == '__main__':
    main()
