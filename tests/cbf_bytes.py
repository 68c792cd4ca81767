"""Builders of hand-made compiled files: segments, symbol tables, whole files with their trailer.

A file is a 32-byte header (magic, cbf_version, ctn_version, flags, alignment, 8 schema bytes,
u64 root_offset, u32 symtab_offset, u32 index_offset), the body, and the CRC-64/ECMA-182 of
everything before the trailer as a little-endian u64. A segment is a tag byte, a 24-bit length
(or FF FF FF and a u64 length) and the payload.
"""

import struct

import dral
from helpers import varint

POLY = 0x42F0E1EBA9EA3693
MASK = (1 << 64) - 1


def _crc_table():
    table = []
    for byte in range(256):
        r = byte << 56
        for _ in range(8):
            r = ((r << 1) ^ POLY if r >> 63 else r << 1) & MASK
        table.append(r)
    return table


_TABLE = _crc_table()


def crc64(data: bytes) -> int:
    """Most significant bit first, initial value 0, no final XOR."""
    r = 0
    for byte in data:
        r = ((r << 8) & MASK) ^ _TABLE[(r >> 56) ^ byte]
    return r


def seg(tag: int, payload: bytes = b"", long: bool = False) -> bytes:
    n = len(payload)
    if long:
        return bytes([tag]) + b"\xff\xff\xff" + struct.pack("<Q", n) + payload
    return bytes([tag]) + n.to_bytes(3, "little") + payload


def text(s: str) -> bytes:
    return seg(0x10, s.encode()) if s else seg(0xF6)


def sym(index: int) -> bytes:
    return seg(0x30, varint(index))


def i64(v: int) -> bytes:
    return seg(0x03, struct.pack("<q", v))


NULL = seg(0xF0)


def indexed(items, prefix: bytes = b"") -> bytes:
    """Count, offset table and items as an indexed layout writes them, after `prefix`."""
    offsets, position = [], 0
    for item in items:
        offsets.append(position)
        position += len(item)
    return prefix + varint(len(items)) + b"".join(struct.pack("<I", o) for o in offsets) + b"".join(items)


def seq(*items, elem_type=None, tag=0x68) -> bytes:
    flag = b"\x00" if elem_type is None else b"\x01" + text(elem_type)
    if tag & 0x08:
        return seg(tag, indexed(list(items), flag))
    return seg(tag, flag + varint(len(items)) + b"".join(items))


def product(type_name, *fields) -> bytes:
    """A product segment of (name, value segment) fields; `type_name` None for an unnamed one."""
    flag = b"\x00" if type_name is None else b"\x01" + text(type_name)
    return seg(0x40, flag + varint(len(fields)) + b"".join(text(name) + value for name, value in fields))


def symtab(*entries: str) -> bytes:
    encoded = [e.encode() for e in entries]
    return struct.pack("<I", len(encoded)) + b"".join(varint(len(e)) + e for e in encoded)


def cbf(body: bytes, *, root_offset=0, flags=0x01, symtab_offset=0, version=1, ctn_version=1,
        alignment=0, schema=bytes(8), index_offset=0, magic=b"DRAL", trailer=None) -> bytes:
    head = (magic + bytes([version, ctn_version, flags, alignment]) + schema
            + struct.pack("<QII", root_offset, symtab_offset, index_offset))
    data = head + body
    return data + struct.pack("<Q", crc64(data) if trailer is None else trailer)


def with_table(entries, root: bytes) -> bytes:
    """A file with a symbol table at body offset 0 and `root` right after it."""
    table = symtab(*entries)
    return cbf(table + root, root_offset=len(table), flags=0x03)


def recrc(data: bytes) -> bytes:
    """`data` with its trailer recomputed."""
    return data[:-8] + struct.pack("<Q", crc64(data[:-8]))


def root_of(segment: bytes):
    return dral.rfc_decode_cbf(cbf(segment))["document"]["root"]


def error_of(data: bytes) -> str:
    try:
        dral.rfc_decode_cbf(data)
    except dral.DralRfcError as e:
        return str(e)
    raise AssertionError("decoded without error")


def body_of(data: bytes) -> bytes:
    return data[32:-8]


def scalar(type_: str, value) -> dict:
    return {"kind": "scalar", "type": type_, "value": value}
