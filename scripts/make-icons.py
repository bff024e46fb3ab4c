#!/usr/bin/env python3
"""Draws Dexalo's icons: make-icons.py APP_ICO SETTINGS_FOLDER [--png PREVIEW_FOLDER]

APP_ICO gets the program's icon; SETTINGS_FOLDER gets LZH.ico ... JAK.ico, the icons the file
associations point at. Every icon holds a 32x32 and a 16x16 image, 256 colours (8 bits per
pixel, palette and AND mask), so every Windows version draws them. --png also writes
enlarged PNG previews. Standard library only.
"""
import os
import struct
import sys
import zlib

# 3x5 capitals and digits: enough for the ten type names.
FONT = {
    'D': ('110', '101', '101', '101', '110'),
    'A': ('010', '101', '111', '101', '101'),
    'B': ('110', '101', '110', '101', '110'),
    'C': ('011', '100', '100', '100', '011'),
    'G': ('011', '100', '101', '101', '011'),
    'H': ('101', '101', '111', '101', '101'),
    'I': ('111', '010', '010', '010', '111'),
    'J': ('001', '001', '001', '101', '010'),
    'K': ('101', '101', '110', '101', '101'),
    'L': ('100', '100', '100', '100', '111'),
    'P': ('110', '101', '110', '100', '100'),
    'R': ('110', '101', '110', '101', '101'),
    'S': ('011', '100', '010', '001', '110'),
    'T': ('111', '010', '010', '010', '010'),
    'Y': ('101', '101', '010', '010', '010'),
    'Z': ('111', '001', '010', '100', '111'),
    '1': ('010', '110', '010', '010', '111'),
}

# One colour per type, for the band across the box; the letters are white on it.
TYPES = [
    ('LZH', (200, 30, 40)),
    ('ZIP', (30, 80, 200)),
    ('CAB', (20, 140, 60)),
    ('TAR', (130, 70, 20)),
    ('ARJ', (130, 40, 170)),
    ('ISH', (0, 135, 150)),
    ('RAR', (225, 110, 0)),
    ('BGA', (210, 40, 140)),
    ('YZ1', (70, 70, 90)),
    ('JAK', (110, 140, 0)),
]

CARD = (222, 184, 120)       # cardboard front
CARD_LIGHT = (240, 210, 155)  # lid
CARD_DARK = (150, 105, 50)    # edges
TAPE = (196, 150, 85)
WHITE = (255, 255, 255)
ARROW = (30, 160, 60)
ARROW_DARK = (10, 90, 30)
INSIDE = (110, 75, 35)


def darker(colour, factor=0.55):
    return tuple(int(c * factor) for c in colour)


class Canvas:
    """A square of RGB pixels; None is transparent."""

    def __init__(self, size):
        self.size = size
        self.pixels = [[None] * size for _ in range(size)]

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, fill, edge=None):
        """Filled rectangle with inclusive corners and an optional one-pixel outline."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                on_edge = x in (x0, x1) or y in (y0, y1)
                self.put(x, y, edge if edge and on_edge else fill)

    def text(self, x, y, letters, colour, scale):
        for letter in letters:
            for row, bits in enumerate(FONT[letter]):
                for col, bit in enumerate(bits):
                    if bit == '1':
                        self.rect(x + col * scale, y + row * scale,
                                  x + col * scale + scale - 1, y + row * scale + scale - 1, colour)
            x += 4 * scale


def text_width(letters, scale):
    return (4 * len(letters) - 1) * scale


def draw_box(canvas, band, letters):
    """A closed cardboard box seen from the front, a coloured band with the type's name."""
    if canvas.size == 32:
        canvas.rect(3, 4, 28, 10, CARD_LIGHT, CARD_DARK)  # lid
        canvas.rect(14, 4, 17, 10, TAPE)                  # tape over the lid's seam
        canvas.put(14, 4, CARD_DARK)
        canvas.put(17, 4, CARD_DARK)
        canvas.rect(4, 10, 27, 29, CARD, CARD_DARK)       # front
        canvas.rect(14, 11, 17, 13, TAPE)
        canvas.rect(1, 14, 30, 25, band, darker(band))    # band, wider than the box
        width = text_width(letters, 2)
        canvas.text((32 - width) // 2, 15, letters, WHITE, 2)
        canvas.rect(14, 26, 17, 28, TAPE)
    else:
        canvas.rect(2, 1, 13, 4, CARD_LIGHT, CARD_DARK)
        canvas.rect(7, 1, 8, 3, TAPE)
        canvas.rect(2, 4, 13, 14, CARD, CARD_DARK)
        canvas.rect(0, 5, 15, 11, band, darker(band))
        width = text_width(letters, 1)
        canvas.text((16 - width + 1) // 2, 6, letters, WHITE, 1)
        canvas.rect(7, 12, 8, 13, TAPE)


def draw_program(canvas):
    """An opened box with a green arrow leaving it: files coming out of an archive."""
    if canvas.size == 32:
        canvas.rect(5, 13, 26, 17, INSIDE)                 # the dark inside of the open box
        for i in range(5):                                 # flaps folded outwards
            canvas.rect(1 + i, 9 + i, 4 + i, 9 + i, CARD_LIGHT)
            canvas.rect(27 - i, 9 + i, 30 - i, 9 + i, CARD_LIGHT)
        canvas.rect(12, 9, 19, 20, ARROW, ARROW_DARK)      # shaft
        for row in range(9):                               # head, pointing up
            canvas.rect(15 - row, 1 + row, 16 + row, 1 + row, ARROW)
            canvas.put(15 - row, 1 + row, ARROW_DARK)
            canvas.put(16 + row, 1 + row, ARROW_DARK)
        canvas.rect(7, 9, 24, 9, ARROW_DARK)
        canvas.rect(13, 9, 18, 9, ARROW)
        canvas.rect(4, 17, 27, 30, CARD, CARD_DARK)        # front, in front of the shaft
        canvas.text(13, 19, 'D', CARD_DARK, 2)             # D for Dexalo
    else:
        canvas.rect(2, 7, 13, 8, INSIDE)
        canvas.rect(0, 5, 1, 5, CARD_LIGHT)
        canvas.rect(1, 6, 2, 6, CARD_LIGHT)
        canvas.rect(14, 5, 15, 5, CARD_LIGHT)
        canvas.rect(13, 6, 14, 6, CARD_LIGHT)
        canvas.rect(6, 5, 9, 10, ARROW)
        for row in range(5):
            canvas.rect(7 - row, row, 8 + row, row, ARROW)
            canvas.put(7 - row, row, ARROW_DARK)
            canvas.put(8 + row, row, ARROW_DARK)
        canvas.rect(1, 9, 14, 15, CARD, CARD_DARK)


def palette_of(canvases):
    colours = []
    for canvas in canvases:
        for row in canvas.pixels:
            for colour in row:
                if colour is not None and colour not in colours:
                    colours.append(colour)
    # Index 0 stays black for the transparent pixels.
    colours = [(0, 0, 0)] + [c for c in colours if c != (0, 0, 0)]
    if len(colours) > 256:
        raise SystemExit('make-icons: more than 256 colours')
    return colours


def icon_image(canvas):
    """BITMAPINFOHEADER, palette, bottom-up 8-bit pixels and the 1-bit AND mask."""
    size = canvas.size
    colours = palette_of([canvas])
    index = {c: i for i, c in enumerate(colours)}
    xor_stride = (size + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row = canvas.pixels[y]
        xor += bytes(index[c] if c is not None else 0 for c in row)
        xor += bytes(xor_stride - size)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in colours)
    table += bytes(4 * (256 - len(colours)))
    return header + table + bytes(xor) + bytes(mask)


def write_ico(path, canvases):
    images = [icon_image(c) for c in canvases]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        data += struct.pack('<BBBBHHII', canvas.size, canvas.size, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
    data += b''.join(images)
    with open(path, 'wb') as f:
        f.write(data)


def write_png(path, canvas, scale):
    """An enlarged preview on a light grey checkerboard, so transparency shows."""
    size = canvas.size * scale
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            c = canvas.pixels[y // scale][x // scale]
            if c is None:
                c = (200, 200, 200) if ((x // 8) + (y // 8)) % 2 else (235, 235, 235)
            raw += bytes(c)

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(png)


def main(argv):
    args = list(argv[1:])
    preview = None
    if '--png' in args:
        i = args.index('--png')
        if i + 1 >= len(args):
            raise SystemExit(__doc__)
        preview = args[i + 1]
        del args[i:i + 2]
    if len(args) != 2:
        raise SystemExit(__doc__)
    app_path, settings = args
    os.makedirs(settings, exist_ok=True)

    icons = {}
    program = [Canvas(32), Canvas(16)]
    for canvas in program:
        draw_program(canvas)
    write_ico(app_path, program)
    icons['Dexalo'] = program
    for name, colour in TYPES:
        canvases = [Canvas(32), Canvas(16)]
        for canvas in canvases:
            draw_box(canvas, colour, name)
        write_ico(os.path.join(settings, name + '.ico'), canvases)
        icons[name] = canvases

    if preview:
        os.makedirs(preview, exist_ok=True)
        for name, canvases in icons.items():
            write_png(os.path.join(preview, name + '-32.png'), canvases[0], 8)
            write_png(os.path.join(preview, name + '-16.png'), canvases[1], 8)


if __name__ == '__main__':
    main(sys.argv)
