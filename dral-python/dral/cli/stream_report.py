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


def inspect_stream(source: Any, *, strict: bool = True, max_depth: int = 128) -> StreamReport:
    """The report of the stream in `source` (a path or a binary file), read a piece at a time."""
    walk = dral._dral_native._walk_blocks(source)
    report = StreamReport(size=walk["size"])
    stored_stream = None
    for offset, kind, header, length, compression, stored, computed, leading in walk["blocks"]:
        block = Block(offset, kind, length, compression, Checksum(stored, computed))
        report.blocks.append(block)
        if not block.checksum.ok:
            report.problems.append(f"checksum mismatch in the {block.name} block at offset {offset}")
        if kind == END:
            stored_stream = leading
        elif compression:
            block.uncompressed = leading
        elif kind == STRING_DICT:
            block.entries = leading
    stop, at, extra = walk["stop"], walk["at"], walk["extra"]
    if stop == "end":
        stream_before, report.trailing = extra, report.size - at
        if stored_stream is not None:
            report.stream_checksum = Checksum(stored_stream, stream_before)
            if not report.stream_checksum.ok:
                report.problems.append("stream checksum mismatch")
        else:
            report.problems.append(f"end block holds {report.blocks[-1].length} bytes instead of 8")
    elif stop == "invalid type":
        report.problems.append(f"invalid block type {extra} at offset {at}")
    elif stop == "header cut off":
        report.problems.append(f"block header at offset {at} is cut off")
    elif stop == "payload cut off":
        declared, present = extra
        report.problems.append(f"block at offset {at} declares {declared} payload bytes, {present} remain")
    else:
        report.problems.append("no end block")
    if hasattr(source, "seek"):
        source.seek(0)
    _count_values(report, source, strict=strict, max_depth=max_depth)
    return report


def _count_values(report: StreamReport, source: Any, *, strict: bool, max_depth: int) -> None:
    try:
        with dral.Reader(source, strict=strict, max_depth=max_depth) as reader:
            report.values = sum(1 for _ in reader)
    except dral.DralDecodeError as error:
        report.values = None
        report.decode_error = str(error)
        report.problems.append(f"does not decode: {error}")
