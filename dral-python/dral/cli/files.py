"""Reading the command's input and writing its output.

Inputs are read once as bytes; outputs are opened only when the result is complete, so a failed
command leaves an existing output file untouched. Text goes out as UTF-8 in slices, so a large
result is never held a second time as encoded bytes.
"""

from __future__ import annotations

import sys
from collections.abc import Iterable, Iterator
from contextlib import contextmanager
from typing import BinaryIO

# Text is encoded and written in slices of this many characters.
_TEXT_SLICE = 1 << 20


class CliError(Exception):
    """A failure reported as one line on stderr with exit status 1."""


def _is_stdio(path: str | None) -> bool:
    return path is None or path == "-"


def display_name(path: str | None) -> str:
    return "standard input" if _is_stdio(path) else repr(path)


def read_bytes(path: str | None) -> bytes:
    """The whole input: the file at `path`, or standard input for None or "-"."""
    if _is_stdio(path):
        return sys.stdin.buffer.read()
    assert path is not None
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise CliError(f"cannot read {path!r}: {error.strerror or error}") from None


def as_text(data: bytes, path: str | None) -> str:
    """`data` decoded as UTF-8; a leading byte order mark is dropped."""
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise CliError(
            f"{display_name(path)} is not UTF-8 text: byte 0x{data[error.start]:02x} at offset {error.start}"
        ) from None


def read_text(path: str | None) -> str:
    return as_text(read_bytes(path), path)


@contextmanager
def output(path: str | None, *, binary: bool = False) -> Iterator[BinaryIO]:
    """The output stream: the file at `path` (created or truncated), or standard output.

    Binary results are not written to a terminal, where they would only garble the screen.
    """
    if _is_stdio(path):
        stream = sys.stdout.buffer
        if binary and stream.isatty():
            raise CliError("refusing to write binary output to a terminal; use -o FILE or a pipe")
        yield stream
        stream.flush()
        return
    assert path is not None
    try:
        stream = open(path, "wb")
    except OSError as error:
        raise CliError(f"cannot write {path!r}: {error.strerror or error}") from None
    with stream:
        try:
            yield stream
        except OSError as error:
            if error.filename is None and not isinstance(error, BrokenPipeError):
                raise CliError(f"cannot write {path!r}: {error.strerror or error}") from None
            raise


def write_text(stream: BinaryIO, text: str) -> None:
    for start in range(0, len(text), _TEXT_SLICE):
        stream.write(text[start : start + _TEXT_SLICE].encode("utf-8"))


def write_lines(stream: BinaryIO, texts: Iterable[str]) -> None:
    """Each text followed by a line break."""
    for text in texts:
        write_text(stream, text)
        stream.write(b"\n")
