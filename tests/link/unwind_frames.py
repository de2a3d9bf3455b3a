#!/usr/bin/env python3
"""Reads the unwind tables (.eh_frame) of a 32-bit PE image: where each frame description
starts. Run on an image, prints "<table bytes> <bytes of frames for discarded functions>".
A discarded function's frame keeps a zero start, which the unwinder skips."""
import struct
import sys


def sections_of(image):
    """{name: (virtual address, bytes)} of a PE image's sections."""
    header = struct.unpack_from("<I", image, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", image, header + 6)[0], struct.unpack_from("<H", image, header + 20)[0]
    # A 64-bit image (PE32+) has an 8-byte image base, at another offset.
    if struct.unpack_from("<H", image, header + 24)[0] == 0x20B:
        image_base = struct.unpack_from("<Q", image, header + 24 + 24)[0]
    else:
        image_base = struct.unpack_from("<I", image, header + 24 + 28)[0]
    sections = {}
    for index in range(count):
        entry = header + 24 + optional_size + 40 * index
        name = image[entry:entry + 8].rstrip(b"\0").decode()
        virtual_size, address, _, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
        sections[name] = (image_base + address, image[raw_offset:raw_offset + virtual_size])
    return sections


def uleb(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def frame_starts(frames):
    """(raw start field, field offset, start encoding) of every frame description entry."""
    encodings, pos, starts = {}, 0, []
    while pos + 4 <= len(frames):
        length = struct.unpack_from("<I", frames, pos)[0]
        if length == 0:
            pos += 4
            continue
        body = pos + 4
        pointer = struct.unpack_from("<I", frames, body)[0]
        if pointer == 0:  # a common information entry: find the encoding of its frames' starts
            augmentation_end = frames.index(b"\0", body + 5)
            augmentation = frames[body + 5:augmentation_end].decode()
            at = augmentation_end + 1
            _, at = uleb(frames, at)  # code alignment
            _, at = uleb(frames, at)  # data alignment (its sign does not matter here)
            at += 1  # return address register
            encoding = 0
            if augmentation.startswith("z"):
                _, at = uleb(frames, at)
                for letter in augmentation[1:]:
                    if letter == "R":
                        encoding = frames[at]
                        at += 1
                    elif letter == "L":
                        at += 1
                    elif letter == "P":
                        at += 1 + 4  # the personality pointer of this toolchain is 4 bytes
            encodings[pos] = encoding
        else:
            encoding = encodings[body - pointer]
            starts.append((struct.unpack_from("<i", frames, body + 4)[0], body + 4, encoding))
        pos = body + length
    return starts


def frame_sizes(frames):
    """(table bytes, bytes of the frames whose start is zero)."""
    stale = 0
    for raw, offset, _ in frame_starts(frames):
        if raw == 0:
            stale += struct.unpack_from("<I", frames, offset - 8)[0] + 4
    return len(frames), stale


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as handle:
        sections = sections_of(handle.read())
    # A 64-bit image unwinds through other tables and has none of these.
    print(*frame_sizes(sections[".eh_fram"][1]) if ".eh_fram" in sections else (0, 0))
