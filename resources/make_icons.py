#!/usr/bin/env python3
"""Draws the program's two icons and writes them as 32x32, 16-colour .ico files.

ruvo.ico (107): a USB stick with a progress bar on its label and a green arrow
coming down into it: a device taking an update.
ruvo-small.ico (108): the same idea with fewer, bolder shapes, so that it still
reads when the system shrinks it to 16x16 in the caption.

Run from anywhere: python3 resources/make_icons.py (writes next to itself).
"""
import os
import struct

SIZE = 32

# The standard 16-colour palette, as (red, green, blue), with one letter each.
PALETTE = [
    ("k", (0, 0, 0)), ("r", (128, 0, 0)), ("g", (0, 128, 0)), ("y", (128, 128, 0)),
    ("b", (0, 0, 128)), ("m", (128, 0, 128)), ("c", (0, 128, 128)), ("s", (192, 192, 192)),
    ("d", (128, 128, 128)), ("R", (255, 0, 0)), ("G", (0, 255, 0)), ("Y", (255, 255, 0)),
    ("B", (0, 0, 255)), ("M", (255, 0, 255)), ("C", (0, 255, 255)), ("w", (255, 255, 255)),
]
INDEX = {letter: i for i, (letter, _) in enumerate(PALETTE)}
CLEAR = "."


class Canvas:
    def __init__(self):
        self.rows = [[CLEAR] * SIZE for _ in range(SIZE)]

    def fill(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.rows[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.rows[y0][x] = self.rows[y1][x] = colour
        for y in range(y0, y1 + 1):
            self.rows[y][x0] = self.rows[y][x1] = colour

    def box(self, x0, y0, x1, y1, inside, edge):
        self.fill(x0, y0, x1, y1, inside)
        self.frame(x0, y0, x1, y1, edge)

    def arrow_down(self, centre, top, shaft_half, head_top, head_half, tip, inside, edge):
        """Arrow pointing down, symmetric about the line between columns centre and centre + 1."""
        spans = []
        for y in range(top, head_top):
            spans.append((y, centre - shaft_half + 1, centre + shaft_half))

        rows = tip - head_top + 1
        for i, y in enumerate(range(head_top, tip + 1)):
            half = max(1, head_half - (head_half * i) // (rows - 1))
            spans.append((y, centre - half + 1, centre + half))
        for y, x0, x1 in spans:
            for x in range(x0, x1 + 1):
                self.rows[y][x] = inside
        # Outline: every arrow pixel next to a pixel outside the arrow.
        inside_set = {(x, y) for y, x0, x1 in spans for x in range(x0, x1 + 1)}
        for (x, y) in inside_set:
            if any((x + dx, y + dy) not in inside_set for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                self.rows[y][x] = edge

    def text(self):
        return "\n".join("".join(row) for row in self.rows)


def stick(c, label):
    """USB stick lying along the bottom, plug on the left."""
    c.box(1, 20, 8, 27, "s", "k")            # metal plug
    c.fill(3, 22, 5, 22, "d")                # its two contact windows
    c.fill(3, 25, 5, 25, "d")
    c.box(8, 18, 30, 29, "B", "k")           # body
    c.fill(9, 19, 29, 19, "C")               # light along the top edge
    c.fill(27, 21, 28, 22, "G")              # activity light
    if label:
        c.box(11, 22, 25, 27, "w", "k")      # label with a progress bar
        c.fill(13, 24, 19, 25, "G")
        c.fill(20, 24, 23, 25, "s")


def large():
    c = Canvas()
    stick(c, label=True)
    c.arrow_down(centre=18, top=0, shaft_half=3, head_top=8, head_half=8, tip=16, inside="G", edge="g")
    return c


def small():
    c = Canvas()
    stick(c, label=False)
    c.fill(12, 23, 25, 25, "G")              # a bold bar instead of the label
    c.arrow_down(centre=18, top=0, shaft_half=4, head_top=7, head_half=10, tip=17, inside="G", edge="k")
    return c


def ico_bytes(canvas):
    """One 32x32 4-bit image with its AND mask, in the .ico container."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for _, (r, g, b) in PALETTE)
    colour_rows, mask_rows = [], []
    for row in reversed(canvas.rows):                    # bitmaps are stored bottom-up
        pixels = [0 if p == CLEAR else INDEX[p] for p in row]
        colour_rows.append(bytes((pixels[i] << 4) | pixels[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p == CLEAR else 0)
        mask_rows.append(bits.to_bytes(4, "big"))
    image = header + palette + b"".join(colour_rows) + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, canvas in (("ruvo.ico", large()), ("ruvo-small.ico", small())):
        with open(os.path.join(here, name), "wb") as f:
            f.write(ico_bytes(canvas))
        print(name)
        print(canvas.text())


if __name__ == "__main__":
    main()
