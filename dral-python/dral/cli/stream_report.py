"""`dral inspect` of a Dral stream: its blocks as they lie in the bytes, with their checksums.

A block is a type byte, a varint payload length, a compression byte, the XXH64 (seed 0) of the
payload as 8 little-endian bytes, then the payload. The end block's payload is the XXH64 of every
byte before it. The walk below reads only these headers; the values are counted by the library's
own decoder, so the report never disagrees with what `dral decode` would do.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any

import dral

DATA, STRING_DICT, END = 1, 4, 255
BLOCK_NAMES = {DATA: "data", 2: "reserved", 3: "reserved", STRING_DICT: "string dict", END: "end"}
COMPRESSIONS = ("none", "zstd", "snappy", "lz4")
_MAX_VARINT = 10
_CHECKSUM = 8


@dataclass
class Checksum:
    stored: int
    computed: int

    @property
    def ok(self) -> bool:
        return self.stored == self.computed

    def to_json(self) -> dict[str, Any]:
        return {"stored": f"0x{self.stored:016x}", "computed": f"0x{self.computed:016x}", "ok": self.ok}

    def __str__(self) -> str:
        verdict = "ok" if self.ok else f"BAD, computed 0x{self.computed:016x}"
        return f"0x{self.stored:016x} {verdict}"


@dataclass
class Block:
    offset: int
    type: int
    length: int
    compression: int
    checksum: Checksum
    entries: int | None = None  # of a string dictionary
    uncompressed: int | None = None  # declared size of a compressed payload

    @property
    def name(self) -> str:
        return BLOCK_NAMES[self.type]

    @property
    def ratio(self) -> float | None:
        """Uncompressed size to stored size, of a compressed payload."""
        if self.uncompressed is None or self.length == 0:
            return None
        return round(self.uncompressed / self.length, 2)

    @property
    def compression_name(self) -> str:
        if self.compression < len(COMPRESSIONS):
            return COMPRESSIONS[self.compression]
        return f"unknown ({self.compression})"

    def to_json(self) -> dict[str, Any]:
        return {
            "offset": self.offset,
            "type": self.type,
            "name": self.name,
            "length": self.length,
            "compression": self.compression_name,
            "checksum": self.checksum.to_json(),
            "entries": self.entries,
            "uncompressed": self.uncompressed,
            "ratio": self.ratio,
        }


@dataclass
class StreamReport:
    size: int
    blocks: list[Block] = field(default_factory=list)
    stream_checksum: Checksum | None = None
    trailing: int = 0
    values: int | None = None
    problems: list[str] = field(default_factory=list)
    decode_error: str | None = None

    @property
    def dictionary_entries(self) -> int | None:
        counts = [block.entries for block in self.blocks if block.entries is not None]
        return sum(counts) if counts else None

    def to_json(self) -> dict[str, Any]:
        return {
            "format": "dral",
            "size": self.size,
            "blocks": [block.to_json() for block in self.blocks],
            "dictionary_entries": self.dictionary_entries,
            "stream_checksum": None if self.stream_checksum is None else self.stream_checksum.to_json(),
            "trailing_bytes": self.trailing,
            "values": self.values,
            "problems": self.problems,
            "ok": not self.problems,
        }

    def render(self) -> str:
        lines = [f"Dral stream: {self.size} bytes, {len(self.blocks)} blocks"]
        if self.blocks:
            lines.append(f"{'offset':>10}  {'block':<11}  {'length':>10}  {'compression':<11}  checksum")
            for block in self.blocks:
                length = str(block.length)
                if block.uncompressed is not None:
                    length += f" ({block.uncompressed} unpacked, {block.ratio}:1)"
                compression = block.compression_name
                lines.append(f"{block.offset:>10}  {block.name:<11}  {length:>10}  {compression:<11}  {block.checksum}")
        entries = self.dictionary_entries
        lines.append(f"string dictionary: {'none' if entries is None else f'{entries} entries'}")
        if self.stream_checksum is not None:
            lines.append(f"stream checksum: {self.stream_checksum}")
        if self.trailing:
            lines.append(f"after the end block: {self.trailing} bytes, never read")
        values = "unknown, the stream does not decode" if self.values is None else self.values
        lines.append(f"values: {values}")
        lines.extend(f"problem: {problem}" for problem in self.problems)
        return "\n".join(lines)


def _varint(data: bytes, pos: int) -> tuple[int, int] | None:
    """The varint at `pos` and the position after it, or None when it is cut off or too long."""
    value = 0
    for index in range(_MAX_VARINT):
        if pos + index >= len(data):
            return None
        byte = data[pos + index]
        value |= (byte & 0x7F) << (7 * index)
        if not byte & 0x80:
            return value, pos + index + 1
    return None


def inspect_stream(data: bytes, *, strict: bool = True, max_depth: int = 128) -> StreamReport:
    import xxhash

    report = StreamReport(size=len(data))
    view = memoryview(data)
    pos = 0
    while pos < len(data):
        kind = data[pos]
        if kind not in BLOCK_NAMES:
            report.problems.append(f"invalid block type {kind} at offset {pos}")
            break
        header = _varint(data, pos + 1)
        if header is None or header[1] + 1 + _CHECKSUM > len(data):
            report.problems.append(f"block header at offset {pos} is cut off")
            break
        length, at = header
        compression = data[at]
        stored = int.from_bytes(data[at + 1 : at + 1 + _CHECKSUM], "little")
        start = at + 1 + _CHECKSUM
        if length > len(data) - start:
            report.problems.append(f"block at offset {pos} declares {length} payload bytes, {len(data) - start} remain")
            break
        payload = view[start : start + length]
        block = Block(pos, kind, length, compression, Checksum(stored, xxhash.xxh64_intdigest(payload)))
        report.blocks.append(block)
        if not block.checksum.ok:
            report.problems.append(f"checksum mismatch in the {block.name} block at offset {pos}")
        if compression:
            block.uncompressed = _leading_varint(payload)
        elif kind == STRING_DICT:
            block.entries = _leading_varint(payload)
        pos = start + length
        if kind == END:
            if length == _CHECKSUM:
                stored_sum = int.from_bytes(payload, "little")
                report.stream_checksum = Checksum(stored_sum, xxhash.xxh64_intdigest(view[: block.offset]))
                if not report.stream_checksum.ok:
                    report.problems.append("stream checksum mismatch")
            else:
                report.problems.append(f"end block holds {length} bytes instead of 8")
            report.trailing = len(data) - pos
            break
    else:
        report.problems.append("no end block")
    _count_values(report, data, strict=strict, max_depth=max_depth)
    return report


def _leading_varint(payload: memoryview) -> int | None:
    found = _varint(bytes(payload[:_MAX_VARINT]), 0)
    return None if found is None else found[0]


def _count_values(report: StreamReport, data: bytes, *, strict: bool, max_depth: int) -> None:
    try:
        values = dral.loads_value(data, strict=strict, max_depth=max_depth)
    except dral.DralDecodeError as error:
        report.decode_error = str(error)
        report.problems.append(f"does not decode: {error}")
        return
    report.values = len(values) if isinstance(values, list) else 1
