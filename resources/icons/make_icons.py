#!/usr/bin/env python3
"""Draws the source's 16 x 16 icons from the character pictures below and writes them as .ico
files (32-bit colour with an AND mask). Run from this folder after changing a picture."""
import struct

COLOURS = {
    '.': None, 'k': (0, 0, 0), 'w': (255, 255, 255), 'g': (160, 160, 160), 'd': (96, 96, 96),
    'y': (240, 200, 64), 'o': (200, 150, 30), 'b': (40, 90, 200),
}

PICTURES = {
    'device.ico': [  # 10016: the device, a box with a paper tray and a panel
        '................', '................', '...dddddddddd...', '..dggggggggggd..',
        '..dgwwwwwwwwgd..', '.dddddddddddddd.', '.dggggggggggbgd.', '.dggggggggggggd.',
        '.dggggggggggggd.', '.dddddddddddddd.', '.dgwwwwwwwwwwgd.', '.dgggggggggggd..',
        '.dddddddddddddd.', '................', '................', '................'],
    'document.ico': [  # 10017: a blank page with a folded corner
        '..kkkkkkkkk.....', '..kwwwwwwwkk....', '..kwwwwwwwkwk...', '..kwwwwwwwkkkk..',
        '..kwwwwwwwwwwk..', '..kwwwwwwwwwwk..', '..kwwwwwwwwwwk..', '..kwwwwwwwwwwk..',
        '..kwwwwwwwwwwk..', '..kwwwwwwwwwwk..', '..kwwwwwwwwwwk..', '..kwwwwwwwwwwk..',
        '..kwwwwwwwwwwk..', '..kwwwwwwwwwwk..', '..kkkkkkkkkkkk..', '................'],
    'folder.ico': [  # 10018: a closed folder
        '................', '................', '.ooooo..........', 'oyyyyyo.........',
        'ooooooooooooooo.', 'oyyyyyyyyyyyyyo.', 'oyyyyyyyyyyyyyo.', 'oyyyyyyyyyyyyyo.',
        'oyyyyyyyyyyyyyo.', 'oyyyyyyyyyyyyyo.', 'oyyyyyyyyyyyyyo.', 'oyyyyyyyyyyyyyo.',
        'oyyyyyyyyyyyyyo.', 'ooooooooooooooo.', '................', '................'],
    'open_folder.ico': [  # 10019: an open folder
        '................', '................', '.ooooo..........', 'oyyyyyo.........',
        'oyyyyyyoooooooo.', 'oyyyyyyyyyyyyyo.', 'oyyyoooooooooooo', 'oyyoyyyyyyyyyyyo',
        'oyyoyyyyyyyyyyo.', 'oyoyyyyyyyyyyyo.', 'oyoyyyyyyyyyyo..', 'ooyyyyyyyyyyyo..',
        'ooyyyyyyyyyyyo..', 'oooooooooooooo..', '................', '................'],
    'previous.ico': [  # 10020: a triangle pointing left
        '................', '................', '..........k.....', '.........kk.....',
        '........kkk.....', '.......kkkk.....', '......kkkkk.....', '.....kkkkkk.....',
        '.....kkkkkk.....', '......kkkkk.....', '.......kkkk.....', '........kkk.....',
        '.........kk.....', '..........k.....', '................', '................'],
    'next.ico': [  # 10021: a triangle pointing right
        '................', '................', '.....k..........', '.....kk.........',
        '.....kkk........', '.....kkkk.......', '.....kkkkk......', '.....kkkkkk.....',
        '.....kkkkkk.....', '.....kkkkk......', '.....kkkk.......', '.....kkk........',
        '.....kk.........', '.....k..........', '................', '................'],
}


def icon(picture):
    size = 16
    pixels, mask = b'', b''
    for row in reversed(picture):  # bottom row first
        assert len(row) == size
        bits = 0
        for x, ch in enumerate(row):
            colour = COLOURS[ch]
            if colour is None:
                pixels += b'\0\0\0\0'
                bits |= 0x8000 >> x
            else:
                r, g, b = colour
                pixels += bytes((b, g, r, 255))
        mask += struct.pack('>H', bits) + b'\0\0'  # rows padded to 32 bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), 22)
    return directory + image


for name, picture in PICTURES.items():
    with open(name, 'wb') as file:
        file.write(icon(picture))
