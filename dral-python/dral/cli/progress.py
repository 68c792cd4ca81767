"""A progress line on standard error for long runs: bytes done of the total, and the rate.

Shown only when standard error is a terminal (and not asked to be quiet), redrawn at most ten
times a second and erased at the end, so that output to files, pipes and logs never holds it.
"""

from __future__ import annotations

import os
import sys
import time
from typing import Any

# Runs shorter than this show nothing.
_AFTER_SECONDS = 0.5
_EVERY_SECONDS = 0.1


def _size(count: float) -> str:
    for unit, scale in (("GB", 1e9), ("MB", 1e6), ("kB", 1e3)):
        if count >= scale:
            return f"{count / scale:.1f} {unit}"
    return f"{count:.0f} B"


class Progress:
    def __init__(self, total: int | None, *, quiet: bool, stream: Any = None, clock: Any = time.monotonic) -> None:
        self.total = total
        self.done = 0
        self.stream = sys.stderr if stream is None else stream
        self.clock = clock
        self.shown = False
        self.enabled = not quiet and self.stream is not None and self.stream.isatty()
        self.started = self.last = clock()

    def add(self, count: int) -> None:
        self.done += count
        if not self.enabled:
            return
        now = self.clock()
        if now - self.started < _AFTER_SECONDS or now - self.last < _EVERY_SECONDS:
            return
        self.last = now
        rate = self.done / max(now - self.started, 1e-9)
        line = _size(self.done)
        if self.total:
            line += f" of {_size(self.total)} ({100 * self.done / self.total:.0f}%)"
        self._draw(f"{line}, {_size(rate)}/s")

    def finish(self) -> None:
        if self.shown:
            self._draw("")

    def _draw(self, text: str) -> None:
        try:
            self.stream.write("\r\x1b[K" + text)
            self.stream.flush()
            self.shown = bool(text)
        except OSError:
            self.enabled = False


class Counted:
    """A binary file whose reads tell `progress` how many bytes they brought."""

    def __init__(self, file: Any, progress: Progress) -> None:
        self.file, self.progress = file, progress

    def read(self, size: int = -1) -> bytes:
        data: bytes = self.file.read(size)
        self.progress.add(len(data))
        return data

    def readinto(self, buffer: Any) -> int:
        got: int = self.file.readinto(buffer)
        self.progress.add(got or 0)
        return got

    def readline(self) -> bytes:
        line: bytes = self.file.readline()
        self.progress.add(len(line))
        return line

    def __iter__(self) -> Counted:
        return self

    def __next__(self) -> bytes:
        line = self.readline()
        if not line:
            raise StopIteration
        return line


def total_of(file: Any) -> int | None:
    """The size of a regular file, else None (a pipe has none to tell)."""
    try:
        status = os.fstat(file.fileno())
    except (OSError, AttributeError, ValueError):
        return None
    import stat

    return status.st_size if stat.S_ISREG(status.st_mode) else None
