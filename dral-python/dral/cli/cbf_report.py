"""`dral inspect` of a CBF file: the 32-byte header, the symbol table and the CRC-64 trailer.

The header and the trailer are read here, so that they are shown even for a file the library
refuses; the symbol table and the root come from the library's decoder.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from typing import Any

import dral

HEADER_SIZE = 32
TRAILER_SIZE = 8
_HEADER = struct.Struct("<4sBBBB8sQII")
_FLAG_NAMES = ((0x01, "self_describing"), (0x02, "has_symtab"), (0x04, "has_index"))

# CRC-64/ECMA-182: polynomial 0x42F0E1EBA9EA3693, initial value 0, most significant bit first,
# no reflection and no final XOR.
_POLYNOMIAL = 0x42F0E1EBA9EA3693
_MASK = (1 << 64) - 1


def _crc_table() -> tuple[int, ...]:
    table = []
    for byte in range(256):
        crc = byte << 56
        for _ in range(8):
            crc = ((crc << 1) ^ _POLYNOMIAL if crc >> 63 else crc << 1) & _MASK
        table.append(crc)
    return tuple(table)


_CRC_TABLE = _crc_table()


def crc64(data: bytes | memoryview) -> int:
    crc, table = 0, _CRC_TABLE
    for byte in data:
        crc = table[(crc >> 56) ^ byte] ^ ((crc << 8) & _MASK)
    return crc


@dataclass
class CbfReport:
    size: int
    header: dict[str, Any] | None = None
    trailer: tuple[int, int] | None = None  # stored, computed
    symbols: list[str] | None = None
    root_kind: str | None = None
    problems: list[str] = field(default_factory=list)
    decode_error: str | None = None

    def to_json(self) -> dict[str, Any]:
        header = None
        if self.header is not None:
            header = dict(self.header, schema_hash_prefix=self.header["schema_hash_prefix"].hex())
        trailer = None
        if self.trailer is not None:
            stored, computed = self.trailer
            trailer = {"stored": f"0x{stored:016x}", "computed": f"0x{computed:016x}", "ok": stored == computed}
        return {
            "format": "cbf",
            "size": self.size,
            "header": header,
            "body_length": max(self.size - HEADER_SIZE - TRAILER_SIZE, 0),
            "trailer": trailer,
            "symbols": self.symbols,
            "root_kind": self.root_kind,
            "problems": self.problems,
            "ok": not self.problems,
        }

    def render(self) -> str:
        body = max(self.size - HEADER_SIZE - TRAILER_SIZE, 0)
        lines = [f"CBF file: {self.size} bytes (header {HEADER_SIZE}, body {body}, trailer {TRAILER_SIZE})"]
        if self.header is not None:
            for name, value in self.header.items():
                if name == "flags":
                    set_flags = [flag for mask, flag in _FLAG_NAMES if value & mask]
                    value = f"0x{value:02x} ({', '.join(set_flags) or 'none'})"
                elif name == "schema_hash_prefix":
                    value = value.hex()
                elif isinstance(value, bool):
                    continue  # shown with the flags
                lines.append(f"{name:<19} {value}")
        if self.trailer is not None:
            stored, computed = self.trailer
            verdict = "ok" if stored == computed else f"BAD, computed 0x{computed:016x}"
            lines.append(f"{'trailer CRC-64':<19} 0x{stored:016x} {verdict}")
        if self.symbols is not None:
            lines.append(f"symbols: {len(self.symbols)}")
            lines.extend(f"{index:>8}  {symbol}" for index, symbol in enumerate(self.symbols))
        if self.root_kind is not None:
            lines.append(f"root: {self.root_kind}")
        lines.extend(f"problem: {problem}" for problem in self.problems)
        return "\n".join(lines)


def read_header(data: bytes) -> dict[str, Any]:
    """The header fields in the library's order and naming (as `RfcHeader.to_dict()`)."""
    magic, cbf_version, ctn_version, flags, alignment, prefix, root, symtab, index = _HEADER.unpack_from(data)
    return {
        "magic": magic.decode("latin-1"),
        "cbf_version": cbf_version,
        "ctn_version": ctn_version,
        "flags": flags,
        "alignment": alignment,
        "schema_hash_prefix": prefix,
        "root_offset": root,
        "symtab_offset": symtab,
        "index_offset": index,
        "self_describing": bool(flags & 0x01),
        "has_symtab": bool(flags & 0x02),
        "has_index": bool(flags & 0x04),
    }


def inspect_cbf(data: bytes) -> CbfReport:
    report = CbfReport(size=len(data))
    if len(data) >= HEADER_SIZE:
        report.header = read_header(data)
    if len(data) >= HEADER_SIZE + TRAILER_SIZE:
        stored = int.from_bytes(data[-TRAILER_SIZE:], "little")
        report.trailer = (stored, crc64(memoryview(data)[:-TRAILER_SIZE]))
        if stored != report.trailer[1]:
            report.problems.append("trailer checksum mismatch")
    try:
        decoded = dral.rfc_decode_cbf_model(data)
    except dral.DralRfcError as error:
        report.decode_error = str(error)
        report.problems.append(f"does not decode: {error}")
        return report
    report.symbols = decoded.symbols
    root = decoded.document.root
    report.root_kind = None if root is None else root.kind
    return report
