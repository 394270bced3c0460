#!/usr/bin/env python3
"""Draws SETUP.EXE's icon (setup/win32/setup.ico): a speaker sending out sound waves on a blue
tile, as on the frame's bitmap. 32x32 and 16x16 images in 16 colours, which Windows NT 3.51 draws
too. Run it after a change of the drawing."""
import math
import os
import struct

# The 16 colours of the standard VGA palette; the drawing uses four of them.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
NAVY, BLUE, YELLOW, WHITE = 4, 12, 11, 15


def colour(u, v):
    """The colour at (u, v) of the unit square, v downwards; None outside the tile."""
    if not (0.03 <= u <= 0.97 and 0.03 <= v <= 0.97):
        return None
    if 0.16 <= u <= 0.32 and 0.38 <= v <= 0.62:
        return WHITE  # the speaker's magnet
    if 0.32 <= u <= 0.52 and abs(v - 0.5) <= 0.12 + (u - 0.32) * 1.2:
        return WHITE  # its cone
    radius = math.hypot(u - 0.45, v - 0.5)
    angle = abs(math.atan2(v - 0.5, u - 0.45))
    if angle < 0.75 and any(abs(radius - r) < 0.045 for r in (0.22, 0.34, 0.46)):
        return YELLOW
    return BLUE if v < 0.5 else NAVY


def image(size):
    rows, mask = [], []
    for y in reversed(range(size)):  # bottom row first
        pixels = [colour((x + 0.5) / size, (y + 0.5) / size) for x in range(size)]
        row = bytes((pixels[x] or 0) << 4 | (pixels[x + 1] or 0) for x in range(0, size, 2))
        rows.append(row + bytes(-len(row) % 4))
        bits = 0
        for x in range(size):
            bits = bits << 1 | (pixels[x] is None)
        row = bits.to_bytes(size // 8, "big")
        mask.append(row + bytes(-len(row) % 4))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + colours + b"".join(rows) + b"".join(mask)


def main():
    images = [(size, image(size)) for size in (32, 16)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = len(data) + 16 * len(images)
    for size, bits in images:
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(bits), offset)
        offset += len(bits)
    data += b"".join(bits for _, bits in images)
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "setup", "win32", "setup.ico"), "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
