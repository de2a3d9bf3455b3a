"""Reads the version resource of a Windows executable (PE32 or PE32+).

Only what the release tool needs: the fixed file info and the string values of the
version block, and the file version the bootstrapper itself would read from the file
(the "FileVersion" string of the first translation, else the four numbers of the fixed
file info, else the "FileVersion" string of US English / Unicode). Every offset taken
from the file is checked against the file's size, so a damaged or hostile file ends in
a PeError and never in an IndexError or an endless walk.
"""

import struct

RT_VERSION = 16
FIXED_INFO_SIGNATURE = 0xFEEF04BD
FIXED_INFO_SIZE = 52
# A version block nests four levels deep; anything deeper is damage.
MAX_BLOCK_DEPTH = 8
MAX_RESOURCE_DEPTH = 3


class PeError(Exception):
    """The file is not a PE image or its resources cannot be read."""


class _Reader:
    def __init__(self, data, what):
        self.data = data
        self.what = what

    def unpack(self, fmt, offset):
        size = struct.calcsize(fmt)
        if offset < 0 or offset + size > len(self.data):
            raise PeError("%s: truncated at offset %d" % (self.what, offset))
        return struct.unpack_from(fmt, self.data, offset)

    def slice(self, offset, size):
        if offset < 0 or size < 0 or offset + size > len(self.data):
            raise PeError("%s: data at offset %d (%d bytes) lies outside the file"
                          % (self.what, offset, size))
        return self.data[offset:offset + size]


class _Section:
    def __init__(self, virtual_address, virtual_size, raw_offset, raw_size):
        self.virtual_address = virtual_address
        self.size = max(virtual_size, raw_size)
        self.raw_offset = raw_offset
        self.raw_size = raw_size

    def holds(self, rva):
        return self.virtual_address <= rva < self.virtual_address + self.size


def _sections_and_resource_rva(reader):
    if reader.slice(0, 2) != b"MZ":
        raise PeError("%s: not an executable (no MZ header)" % reader.what)
    (pe_offset,) = reader.unpack("<I", 0x3C)
    if reader.slice(pe_offset, 4) != b"PE\0\0":
        raise PeError("%s: not a PE image (no PE signature)" % reader.what)
    coff = pe_offset + 4
    _machine, section_count, _, _, _, optional_size, _ = reader.unpack("<HHIIIHH", coff)
    optional = coff + 20
    (magic,) = reader.unpack("<H", optional)
    if magic == 0x10B:
        count_offset, directories = optional + 92, optional + 96
    elif magic == 0x20B:
        count_offset, directories = optional + 108, optional + 112
    else:
        raise PeError("%s: unknown optional header magic 0x%x" % (reader.what, magic))
    (directory_count,) = reader.unpack("<I", count_offset)
    resource_rva = 0
    if directory_count > 2:
        resource_rva, _ = reader.unpack("<II", directories + 2 * 8)
    sections = []
    table = optional + optional_size
    for index in range(section_count):
        entry = table + index * 40
        virtual_size, virtual_address, raw_size, raw_offset = reader.unpack("<IIII", entry + 8)
        sections.append(_Section(virtual_address, virtual_size, raw_offset, raw_size))
    return sections, resource_rva


def _file_offset(reader, sections, rva):
    for section in sections:
        if section.holds(rva):
            delta = rva - section.virtual_address
            if delta >= section.raw_size:
                raise PeError("%s: RVA 0x%x has no data in the file" % (reader.what, rva))
            return section.raw_offset + delta
    raise PeError("%s: RVA 0x%x lies in no section" % (reader.what, rva))


def _first_entry(reader, base, directory_offset, wanted_id=None):
    """Offset field of the first entry of a resource directory (or the entry with wanted_id)."""
    _, _, _, _, named, with_id = reader.unpack("<IIHHHH", base + directory_offset)
    first = base + directory_offset + 16
    for index in range(named + with_id):
        name, target = reader.unpack("<II", first + index * 8)
        is_named = bool(name & 0x80000000)
        if wanted_id is None or (not is_named and name == wanted_id):
            return target
    return None


def version_block(data, what="file"):
    """The raw VS_VERSIONINFO block of a PE image, or None when it has none."""
    reader = _Reader(data, what)
    sections, resource_rva = _sections_and_resource_rva(reader)
    if resource_rva == 0:
        return None
    base = _file_offset(reader, sections, resource_rva)
    target = _first_entry(reader, base, 0, RT_VERSION)
    if target is None:
        return None
    # Type, then name, then language: take the first name and the first language.
    for _ in range(MAX_RESOURCE_DEPTH - 1):
        if not target & 0x80000000:
            raise PeError("%s: version resource directory is malformed" % what)
        target = _first_entry(reader, base, target & 0x7FFFFFFF)
        if target is None:
            return None
    if target & 0x80000000:
        raise PeError("%s: version resource directory nests too deep" % what)
    data_rva, size, _, _ = reader.unpack("<IIII", base + target)
    return reader.slice(_file_offset(reader, sections, data_rva), size)


def _align4(offset):
    return (offset + 3) & ~3


class _Block:
    def __init__(self, key, value, value_type, children):
        self.key = key
        self.value = value
        self.value_type = value_type
        self.children = children

    def child(self, key):
        for block in self.children:
            if block.key.lower() == key.lower():
                return block
        return None


def _read_key(reader, offset, end):
    cursor = offset
    while True:
        if cursor + 2 > end:
            raise PeError("%s: unterminated key in version block" % reader.what)
        if reader.data[cursor:cursor + 2] == b"\0\0":
            break
        cursor += 2
    return reader.data[offset:cursor].decode("utf-16-le", "replace"), cursor + 2


def _parse_block(reader, offset, end, depth):
    if depth > MAX_BLOCK_DEPTH:
        raise PeError("%s: version block nests too deep" % reader.what)
    length, value_length, value_type = reader.unpack("<HHH", offset)
    block_end = offset + length
    if length < 6 or block_end > end:
        raise PeError("%s: version block length %d at offset %d is invalid"
                      % (reader.what, length, offset))
    key, cursor = _read_key(reader, offset + 6, block_end)
    cursor = _align4(cursor)
    # Text values count 16-bit characters, binary values bytes.
    value_size = value_length * 2 if value_type == 1 else value_length
    value_size = min(value_size, max(0, block_end - cursor))
    value = reader.data[cursor:cursor + value_size]
    cursor = _align4(cursor + value_size)
    children = []
    while cursor + 6 <= block_end:
        child = _parse_block(reader, cursor, block_end, depth + 1)
        children.append(child)
        (child_length,) = reader.unpack("<H", cursor)
        cursor = _align4(cursor + child_length)
    return _Block(key, value, value_type, children)


def _text(value):
    text = value.decode("utf-16-le", "replace")
    end = text.find("\0")
    return text if end < 0 else text[:end]


class VersionInfo:
    """The parsed version block of one file."""

    def __init__(self, block, what="file"):
        reader = _Reader(block, what)
        self._root = _parse_block(reader, 0, len(block), 0)
        if self._root.key != "VS_VERSION_INFO":
            raise PeError("%s: version block has key %r" % (what, self._root.key))

    def fixed_info(self):
        """(file version MS, file version LS) of VS_FIXEDFILEINFO, or None."""
        value = self._root.value
        if len(value) < FIXED_INFO_SIZE:
            return None
        signature, _, version_ms, version_ls = struct.unpack_from("<IIII", value, 0)
        if signature != FIXED_INFO_SIGNATURE:
            return None
        return version_ms, version_ls

    def fixed_file_version(self):
        fixed = self.fixed_info()
        if fixed is None:
            return None
        version_ms, version_ls = fixed
        return "%d.%d.%d.%d" % (version_ms >> 16, version_ms & 0xFFFF,
                                version_ls >> 16, version_ls & 0xFFFF)

    def translations(self):
        """List of (language, code page) from VarFileInfo\\Translation."""
        var_info = self._root.child("VarFileInfo")
        translation = var_info.child("Translation") if var_info else None
        if translation is None:
            return []
        value = translation.value
        pairs = []
        for offset in range(0, len(value) - len(value) % 4, 4):
            language, code_page = struct.unpack_from("<HH", value, offset)
            pairs.append((language, code_page))
        return pairs

    def string(self, name, language, code_page):
        string_info = self._root.child("StringFileInfo")
        table = string_info.child("%04X%04X" % (language, code_page)) if string_info else None
        entry = table.child(name) if table else None
        return _text(entry.value) if entry else None

    def file_version(self):
        """The version text the bootstrapper compares with an item's version.

        Like the bootstrapper's reader, nothing is answered for a block without a
        translation entry.
        """
        translations = self.translations()
        if not translations:
            return None
        language, code_page = translations[0]
        for candidate in (self.string("FileVersion", language, code_page),
                          self.fixed_file_version(),
                          self.string("FileVersion", 1033, 1200)):
            if candidate is not None:
                return candidate
        return None


def read_version_info(path):
    """VersionInfo of the executable at path, or None when it has no version resource."""
    with open(path, "rb") as stream:
        data = stream.read()
    block = version_block(data, path)
    return None if block is None else VersionInfo(block, path)


def file_version(path):
    info = read_version_info(path)
    return None if info is None else info.file_version()
