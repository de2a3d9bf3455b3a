#!/usr/bin/env python3
"""Draws the program icon (a shield-like badge at 16 and 32 pixels) as a .ico file."""
import struct
import sys


def pixel(x, y, size):
    # Rounded square badge in the product colour with a white bar through its middle.
    inset = size // 8
    if x < inset or y < inset or x >= size - inset or y >= size - inset:
        return (0, 0, 0, 0)
    if size // 2 - size // 8 <= y < size // 2 + size // 8 and inset * 2 <= x < size - inset * 2:
        return (255, 255, 255, 255)
    return (46, 125, 50, 255)


def bitmap(size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = b''
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_row = b'\x00' * (((size + 31) // 32) * 4)
    return header + b''.join(rows) + mask_row * size


def main(path):
    sizes = [16, 32]
    images = [bitmap(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1])
