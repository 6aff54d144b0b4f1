#!/usr/bin/env python3
"""Draws the setup program's artwork into this folder.

banner.gif  164x316, 8 colours in an 8-entry global table, one frame, not
            interlaced, no transparency. The window shows the top 291 rows.
setup.ico   32x32 and 16x16, 16 colours (4 bpp) with a 1-bit mask each.

Needs Pillow (Debian: python3-pil). The output is the same on every run.
Run with --preview DIR to also get enlarged PNGs of both pictures in DIR.
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))


def require(ok, message):
    if not ok:
        sys.exit("draw_artwork.py: check failed: " + message)


def read(path):
    with open(path, "rb") as f:
        return f.read()

# ---------------------------------------------------------------- banner --

BANNER_W, BANNER_H, BANNER_SHOWN = 164, 316, 291
GROUND, FAINT, LINE, GLOW, WHITE, SILVER, GREY, SCREEN = range(8)
BANNER_COLOURS = [
    (10, 24, 106),    # ground
    (22, 44, 136),    # faded fill
    (46, 74, 164),    # faded outline
    (78, 110, 192),   # faded highlight
    (255, 255, 255),  # frame
    (198, 198, 204),  # small computer's case
    (112, 116, 132),  # small computer's shading
    (40, 150, 196),   # small computer's screen
]


def arrow(d, cx, cy, r, start, end, width, colour):
    """A circular arc from angle start to end (degrees, clockwise from
    east) with an arrow head at end."""
    d.arc((cx - r, cy - r, cx + r, cy + r), start, end, colour, width)
    a = math.radians(end)
    tip_dir = (-math.sin(a), math.cos(a))  # clockwise tangent
    px, py = cx + r * math.cos(a), cy + r * math.sin(a)
    nx, ny = math.cos(a), math.sin(a)
    h = width * 1.6
    head = [(px + nx * h, py + ny * h),
            (px + tip_dir[0] * h * 1.5, py + tip_dir[1] * h * 1.5),
            (px - nx * h, py - ny * h)]
    d.polygon([(round(x), round(y)) for x, y in head], colour)


def draw_banner():
    img = Image.new("P", (BANNER_W, BANNER_H), GROUND)
    img.putpalette([c for rgb in BANNER_COLOURS for c in rgb])
    d = ImageDraw.Draw(img)

    # Large faded computer: monitor, neck, foot and keyboard.
    d.rounded_rectangle((16, 102, 148, 210), 10, FAINT, LINE, 3)
    d.rounded_rectangle((30, 116, 134, 190), 5, GROUND, LINE, 2)
    d.line((38, 182, 64, 124), GLOW, 2)
    d.line((48, 182, 70, 134), LINE, 1)
    d.rectangle((112, 198, 132, 202), LINE)
    d.polygon([(68, 211), (96, 211), (100, 224), (64, 224)], FAINT, LINE)
    d.polygon([(22, 236), (142, 236), (156, 278), (8, 278)], FAINT, LINE)
    d.line((8, 279, 156, 279), LINE, 3)
    for row in range(4):
        y = 242 + row * 9
        inset = 28 - row * 4
        for x in range(inset, BANNER_W - inset - 8, 10):
            d.rectangle((x, y, x + 6, y + 4), LINE)

    # Curved arrow sweeping over the monitor into its screen.
    arrow(d, 82, 150, 64, 170, 330, 9, GLOW)

    # Small framed picture of a computer, top right.
    d.rectangle((108, 12, 157, 57), FAINT)                  # shadow
    d.rectangle((104, 8, 153, 53), WHITE)
    d.rectangle((107, 11, 150, 50), LINE)
    d.rectangle((116, 15, 141, 36), SILVER, GREY)
    d.rectangle((119, 18, 138, 32), SCREEN, GREY)
    d.line((120, 19, 126, 19), WHITE)
    d.rectangle((125, 37, 132, 39), GREY)
    d.polygon([(113, 41), (144, 41), (147, 47), (110, 47)], SILVER, GREY)
    for x in range(114, 143, 4):
        d.line((x, 43, x + 1, 43), GREY)
        d.line((x - 1, 45, x, 45), GREY)
    return img


def save_banner(img, path):
    img.info["version"] = b"89a"
    img.save(path, "GIF", optimize=False, interlace=False)


def check_banner(path, drawn):
    data = read(path)
    require(data[:6] == b"GIF89a", "not a GIF89a file")
    w, h, flags = struct.unpack_from("<HHB", data, 6)
    require((w, h) == (BANNER_W, BANNER_H), "logical screen is %dx%d" % (w, h))
    require(flags & 0x80 and flags & 7 == 2, "global colour table is not 8 entries")
    pos, images = 13 + 3 * 8, 0
    while data[pos] != 0x3B:                                   # trailer
        if data[pos] == 0x21:                                  # extension
            require(data[pos + 1] != 0xF9, "graphic control extension present")
            pos += 2
        else:
            require(data[pos] == 0x2C, "unexpected block 0x%02x" % data[pos])
            x, y, iw, ih, iflags = struct.unpack_from("<HHHHB", data, pos + 1)
            require((x, y, iw, ih) == (0, 0, BANNER_W, BANNER_H), "image rectangle")
            require(not iflags & 0x40, "image is interlaced")
            require(not iflags & 0x80, "image has a local colour table")
            images += 1
            pos += 11                                          # + LZW code size
        while data[pos]:                                       # data sub-blocks
            pos += data[pos] + 1
        pos += 1
    require(images == 1, "%d images" % images)
    require(pos == len(data) - 1, "bytes after the trailer")
    pal = [c for rgb in BANNER_COLOURS for c in rgb]
    require(data[13:13 + len(pal)] == bytes(pal), "palette")
    decoded = Image.open(path)
    require(decoded.tobytes() == drawn.tobytes(), "pixels differ from the drawing")
    require(len(decoded.getcolors()) == len(BANNER_COLOURS), "not all colours used")
    hidden = drawn.crop((0, BANNER_SHOWN, BANNER_W, BANNER_H)).getcolors()
    require(hidden == [(BANNER_W * (BANNER_H - BANNER_SHOWN), GROUND)], "motif in the hidden rows")


# ------------------------------------------------------------------ icon --

VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# One letter per VGA colour; '.' is transparent.
KEYS = "KMgOnPtSGRLYBFCW"

ICON_32 = """
..KKKKKKKKKKKKKKKKKKKK..........
..KWWWWWWWWWWWWWWWWWGK..........
..KWSSSSSSSSSSSSSSSSGK..........
..KWSKKKKKKKKKKKKKKSGK..........
..KWSKBBBBBBBBBBBBKSGK..........
..KWSKBCCWBBBBBBBBKSGK..........
..KWSKBCWBBBBBBBBBKSGK..........
..KWSKBCBBBBBBBBBBKSGK..........
..KWSKBBBBBBBBBBBBKSGK..........
..KWSKBBBBBBBBBBBBKSGK..........
..KWSKBBBBBBBBBBBBKSGK..........
..KWSKKKKKKKKKKKKKKSGK..........
..KWSSSSSSSSSSSSSLSSGK..........
..KGGGGGGGGGGGGGGGGGGK..........
..KKKKKKKKKKKKKKKKKKKK..........
.........KSSSGK.......KKKKKKKKKK
......KKKKKKKKKKKK....KYYYYYYYYK
.....KWWWWWWWWWWWGK...KYYYYYYYYK
.....KKKKKKKKKKKKKK..KYYYYYYYYK.
.KKKKKKKKKKKK...KYYKKKYYYYYYYYK.
.KnnKSSSSSKnnK.KYYYYYKKKKKKKKKK.
.KnnKSSKKSKnnKKYYYYYKMMMMMMMMKK.
.KnnKSSKKSKnnK.KKYYKMMMMMMMMKOK.
.KnnKSSSSSKnnK...KKKKKKKKKKKOOK.
.KnnnnnnnnnnnK....KYYYYYYYYKOOK.
.KnWWWWWWWWWnK....KYRRRRRRYKOOK.
.KnWGGGGGGGWnK....KYRWWWWRYKOOK.
.KnWWWWWWWWWnK....KYRRRRRRYKOOK.
.KnWGGGGGGGWnK....KYYYYYYYYKOOK.
.KnWWWWWWWWWnK....KYYYYYYYYKOK..
.KnWWWWWWWWWnK....KYYYYYYYYKK...
.KKKKKKKKKKKKK....KKKKKKKKKK....
"""

ICON_16 = """
KKKKKKKKKK......
KWWWWWWWGK......
KWBCCBBBGK......
KWBCBBBBGK......
KWBBBBBBGK......
KWBBBBBBGK.KKKKK
KGGGGGGGGK.KYYYK
KKKKKKKKKKKYYYK.
..KKKKKKK.KYYYK.
KKKKKK.KYYKKKKK.
KnSKSnKYYKMMMKK.
KnSSSnKKKKKKKOK.
KnnnnnK.KYYYKOK.
KnWWWnK.KRRRKOK.
KnWWWnK.KYYYKK..
KKKKKKK.KKKKK...
"""


def parse_grid(text, size):
    rows = text.strip("\n").split("\n")
    require(len(rows) == size and all(len(r) == size for r in rows), "grid %d" % size)
    return [[None if ch == "." else KEYS.index(ch) for ch in r] for r in rows]


def dib(grid):
    """BITMAPINFOHEADER, palette, XOR bitmap and AND mask, rows bottom-up."""
    size = len(grid)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(grid):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, v in enumerate(row):
            if v is None:
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                line[x // 2] |= v << (4 if x % 2 == 0 else 0)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBx", b, g, r) for r, g, b in VGA)
    return header + palette + bytes(xor) + bytes(mask)


def write_icon(path, grids):
    images = [dib(g) for g in grids]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for g, image in zip(grids, images):
        out += struct.pack("<BBBBHHII", len(g), len(g), 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def check_icon(path, grids):
    data = read(path)
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    require((reserved, kind, count) == (0, 1, len(grids)), "ICONDIR")
    end = 6 + 16 * count
    for i, grid in enumerate(grids):
        size = len(grid)
        w, h, colours, res, planes, bpp, length, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        require((w, h, colours, res, planes, bpp) == (size, size, 16, 0, 1, 4), "entry %d" % i)
        require(offset == end, "entry %d offset" % i)
        hdr = struct.unpack_from("<IiiHHI", data, offset)
        require(hdr == (40, size, 2 * size, 1, 4, 0), "entry %d header" % i)
        xor_stride = (size * 4 + 31) // 32 * 4
        and_stride = (size + 31) // 32 * 4
        require(length == 40 + 64 + size * (xor_stride + and_stride), "entry %d length" % i)
        end = offset + length
        # Read the pixels back and compare them with what was drawn.
        pixels = data[offset + 104:]
        for y, row in enumerate(grid):
            src = size - 1 - y
            for x, v in enumerate(row):
                nib = (pixels[src * xor_stride + x // 2] >> (0 if x % 2 else 4)) & 15
                clear = pixels[size * xor_stride + src * and_stride + x // 8] >> (7 - x % 8) & 1
                require((clear, nib) == ((1, 0) if v is None else (0, v)), "pixel %d,%d" % (x, y))
    require(end == len(data), "trailing bytes")


def main():
    gif = os.path.join(HERE, "banner.gif")
    ico = os.path.join(HERE, "setup.ico")
    banner = draw_banner()
    save_banner(banner, gif)
    check_banner(gif, banner)
    grids = [parse_grid(ICON_32, 32), parse_grid(ICON_16, 16)]
    write_icon(ico, grids)
    check_icon(ico, grids)
    if len(sys.argv) == 3 and sys.argv[1] == "--preview":
        # Enlarged PNGs of what was written, for looking at the artwork.
        out = sys.argv[2]
        Image.open(gif).convert("RGB").resize((BANNER_W * 3, BANNER_H * 3)).save(
            os.path.join(out, "banner.png"))
        icon = Image.open(ico)
        for size in (32, 16):
            sheet = Image.new("RGBA", (256, 256), (236, 233, 216, 255))
            sheet.alpha_composite(icon.ico.getimage((size, size)).convert("RGBA")
                                  .resize((256, 256), Image.NEAREST))
            sheet.save(os.path.join(out, "icon%d.png" % size))
    print("banner.gif and setup.ico written and checked")


if __name__ == "__main__":
    main()
