"""`dral inspect` of a CBF file: the 32-byte header, the symbol table and the CRC-64 trailer.

The header and the trailer come from the library as they lie in the file, so that they are shown
even for a file it refuses; the symbol table and the root come from its decoder.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any

import dral

HEADER_SIZE = 32
TRAILER_SIZE = 8
_FLAG_NAMES = ((0x01, "self_describing"), (0x02, "has_symtab"), (0x04, "has_index"))


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


def inspect_cbf(data: bytes) -> CbfReport:
    report = CbfReport(size=len(data))
    header, magic, trailer = dral._dral_native._cbf_parts(data)
    if header is not None and magic is not None:
        report.header = dict(header, magic=magic.decode("latin-1"))  # as read, not as it should be
    if trailer is not None:
        report.trailer = trailer
        if trailer[0] != trailer[1]:
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
