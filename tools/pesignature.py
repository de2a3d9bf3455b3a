"""Whether the Authenticode signature of a Windows executable carries an RFC 3161 timestamp.

A signature is only valid while its certificate is; a timestamp from a time-stamping
authority proves that the file was signed while it was, so the signature stays valid
after the certificate expires. A published bootstrapper signed without one would be
refused by every installed copy the day its certificate expires.

Reads the image's certificate table and walks the DER of its PKCS #7 SignedData just far
enough to see the unsigned attributes of each signer. Every offset is checked against the
data, so a damaged file ends in a PeError.
"""

import struct

from peversion import PeError

SECURITY_DIRECTORY = 4
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
# 1.3.6.1.4.1.311.3.3.1, the RFC 3161 timestamp attribute of Authenticode signatures.
RFC3161_TIMESTAMP_OID = bytes([0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x03, 0x03, 0x01])


def _unpack(fmt, data, offset, what):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise PeError("%s: truncated at offset %d" % (what, offset))
    return struct.unpack_from(fmt, data, offset)


def certificate_table(data, what):
    """The bytes of the image's certificate table; empty when it is not signed."""
    if data[:2] != b"MZ":
        raise PeError("%s: not an executable (no MZ header)" % what)
    (pe_offset,) = _unpack("<I", data, 0x3C, what)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise PeError("%s: not a PE image (no PE signature)" % what)
    optional = pe_offset + 24
    (magic,) = _unpack("<H", data, optional, what)
    if magic == 0x10B:
        count_offset = optional + 92
    elif magic == 0x20B:
        count_offset = optional + 108
    else:
        raise PeError("%s: unknown optional header 0x%X" % (what, magic))
    (count,) = _unpack("<I", data, count_offset, what)
    if count <= SECURITY_DIRECTORY:
        return b""
    offset, size = _unpack("<II", data, count_offset + 4 + 8 * SECURITY_DIRECTORY, what)
    if size == 0:
        return b""
    if offset + size > len(data):
        raise PeError("%s: the certificate table lies outside the file" % what)
    return data[offset:offset + size]


def _element(data, offset, what):
    """(tag, content start, content end) of the DER element at offset."""
    if offset + 2 > len(data):
        raise PeError("%s: signature truncated" % what)
    tag = data[offset]
    length = data[offset + 1]
    start = offset + 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or start + count > len(data):
            raise PeError("%s: signature has a bad length" % what)
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    end = start + length
    if end > len(data):
        raise PeError("%s: signature element runs past its end" % what)
    return tag, start, end


def _children(data, start, end, what):
    children = []
    while start < end:
        tag, content, after = _element(data, start, what)
        children.append((tag, start, content, after))
        start = after
    return children


def _signed_data_signers(blob, what):
    tag, start, end = _element(blob, 0, what)  # ContentInfo
    content_info = _children(blob, start, end, what)
    if tag != 0x30 or len(content_info) < 2 or content_info[1][0] != 0xA0:
        raise PeError("%s: the signature is not PKCS #7 signed data" % what)
    _, _, explicit, explicit_end = content_info[1]
    tag, start, end = _element(blob, explicit, what)  # SignedData
    signed_data = _children(blob, start, end, what)
    if tag != 0x30 or not signed_data or signed_data[-1][0] != 0x31:
        raise PeError("%s: the signed data has no signers" % what)
    _, _, signers_start, signers_end = signed_data[-1]
    return [signer for signer in _children(blob, signers_start, signers_end, what) if signer[0] == 0x30]


def _has_timestamp(blob, signer, what):
    _, _, start, end = signer
    for tag, _, content, after in _children(blob, start, end, what):
        if tag != 0xA1:  # the unauthenticated attributes
            continue
        for _, _, attribute, attribute_end in _children(blob, content, after, what):
            if blob[attribute:attribute + len(RFC3161_TIMESTAMP_OID)] == RFC3161_TIMESTAMP_OID:
                return True
    return False


def signature_state(path):
    """"unsigned", "timestamped" or "not timestamped" (every signer must carry one)."""
    with open(path, "rb") as stream:
        data = stream.read()
    table = certificate_table(data, path)
    if not table:
        return "unsigned"
    offset = 0
    found = False
    while offset + 8 <= len(table):
        length, _, kind = _unpack("<IHH", table, offset, path)
        if length < 8 or offset + length > len(table):
            raise PeError("%s: damaged certificate table" % path)
        if kind == WIN_CERT_TYPE_PKCS_SIGNED_DATA:
            blob = table[offset + 8:offset + length]
            signers = _signed_data_signers(blob, path)
            if not signers or not all(_has_timestamp(blob, signer, path) for signer in signers):
                return "not timestamped"
            found = True
        offset += (length + 7) & ~7
    return "timestamped" if found else "not timestamped"
