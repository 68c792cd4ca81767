"""Reading the command's input and writing its output.

Inputs are read once as bytes; output files are replaced only when the result is complete, so a
failed command leaves an existing output file untouched. Text goes out as UTF-8 in slices, so a
large result is never held a second time as encoded bytes; on a terminal, with the characters
that would drive it escaped. Every failure to read or write is a CliError naming the stream.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Iterable, Iterator
from contextlib import contextmanager
from typing import BinaryIO, Protocol, TextIO

from .replacing import replacing
from .terminal import TerminalText

# Text is encoded and written in slices of this many characters.
_TEXT_SLICE = 1 << 20


class CliError(Exception):
    """A failure reported as one line on stderr with exit status 1."""


class Output(Protocol):
    def write(self, data: bytes, /) -> object: ...


def _is_stdio(path: str | None) -> bool:
    return path is None or path == "-"


def display_name(path: str | None) -> str:
    return "standard input" if _is_stdio(path) else repr(path)


def reason(error: OSError) -> str:
    return error.strerror or str(error)


def read_bytes(path: str | None) -> bytes:
    """The whole input: the file at `path`, or standard input for None or "-"."""
    if _is_stdio(path):
        if sys.stdin is None:
            raise CliError("standard input is closed")
        try:
            return sys.stdin.buffer.read()
        except OSError as error:
            raise CliError(f"cannot read standard input: {reason(error)}") from None
    assert path is not None
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise CliError(f"cannot read {path!r}: {reason(error)}") from None


class _Prepended:
    """The bytes `start` read from `file` already, then the rest of `file`."""

    def __init__(self, start: bytes, file: BinaryIO) -> None:
        self.start, self.file = start, file

    def read(self, size: int = -1) -> bytes:
        if not self.start:
            return self.file.read(size)
        if size < 0:
            data, self.start = self.start + self.file.read(), b""
            return data
        data, self.start = self.start[:size], self.start[size:]
        return data

    def readinto(self, buffer: memoryview) -> int:
        data = self.read(len(buffer))
        buffer[: len(data)] = data
        return len(data)

    def readline(self) -> bytes:
        if b"\n" in self.start or not self.start:
            if not self.start:
                return self.file.readline()
            line, _, rest = self.start.partition(b"\n")
            self.start = rest
            return line + b"\n"
        data, self.start = self.start + self.file.readline(), b""
        return data

    def __iter__(self) -> Iterator[bytes]:
        while line := self.readline():
            yield line

    def fileno(self) -> int:
        return self.file.fileno()


@contextmanager
def input_file(path: str | None, *, rereadable: bool = False) -> Iterator[tuple[BinaryIO, bytes]]:
    """The input as a binary file read from its start, and its first four bytes (a CBF file tells
    itself by them). With `rereadable`, standard input that cannot seek is first copied to a
    temporary file, so that the caller may read it twice without holding it in memory."""
    if _is_stdio(path):
        if sys.stdin is None:
            raise CliError("standard input is closed")
        raw, name, owned = sys.stdin.buffer, "standard input", False
    else:
        assert path is not None
        name, owned = repr(path), True
        try:
            raw = open(path, "rb")
        except OSError as error:
            raise CliError(f"cannot read {path!r}: {reason(error)}") from None
    try:
        try:
            try:
                seekable = raw.seekable()
            except (OSError, ValueError):
                seekable = False
            if rereadable and not seekable:
                import shutil
                import tempfile

                spool = tempfile.TemporaryFile()
                shutil.copyfileobj(raw, spool, 1 << 20)
                spool.seek(0)
                raw, seekable, owned = spool, True, True
            start = raw.read(4)
            if seekable:
                raw.seek(-len(start), os.SEEK_CUR)
        except OSError as error:
            raise CliError(f"cannot read {name}: {reason(error)}") from None
        yield (raw if seekable else _Prepended(start, raw)), start  # type: ignore[misc]
    finally:
        if owned:
            raw.close()


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
def output(path: str | None, *, binary: bool = False) -> Iterator[Output]:
    """The output stream: a replacement of the file at `path`, or standard output.

    Binary results are not written to a terminal, where they would only garble the screen.
    """
    if _is_stdio(path):
        if sys.stdout is None:
            raise CliError("standard output is closed; use -o FILE")
        stream = sys.stdout.buffer
        if binary and stream.isatty():
            raise CliError("refusing to write binary output to a terminal; use -o FILE or a pipe")
        try:
            yield _for(stream, binary)
            stream.flush()
        except BrokenPipeError:
            raise  # the reader went away: nothing to say
        except OSError as error:
            silence_stdout()
            raise CliError(f"cannot write standard output: {reason(error)}") from None
        return
    assert path is not None
    try:
        with replacing(path) as stream:
            yield _for(stream, binary)
    except OSError as error:
        raise CliError(f"cannot write {path!r}: {reason(error)}") from None


def _for(stream: BinaryIO, binary: bool) -> Output:
    return TerminalText(stream) if not binary and stream.isatty() else stream


def flush_stdout() -> None:
    """Writes what is left in standard output's buffers, so that a failure is reported."""
    if sys.stdout is None:
        return
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        raise
    except OSError as error:
        silence_stdout()
        raise CliError(f"cannot write standard output: {reason(error)}") from None


def silence_stdout() -> None:
    silence(sys.stdout)


def silence(stream: TextIO | None) -> None:
    """`stream` sent to the null device, where what its buffers still hold goes when the
    interpreter flushes them on exit, instead of failing a second time."""
    if stream is None:
        return
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        try:
            os.dup2(devnull, stream.fileno())
        finally:
            os.close(devnull)
    except (OSError, ValueError):
        pass


def write_text(stream: Output, text: str) -> None:
    for start in range(0, len(text), _TEXT_SLICE):
        stream.write(text[start : start + _TEXT_SLICE].encode("utf-8"))


def write_lines(stream: Output, texts: Iterable[str]) -> None:
    """Each text followed by a line break."""
    for text in texts:
        write_text(stream, text)
        stream.write(b"\n")
