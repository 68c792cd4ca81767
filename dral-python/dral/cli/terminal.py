"""Text shown on a terminal: the characters that would drive it are written as escapes.

Data may hold escape sequences (ESC, CSI), bells, other control characters and the bidirectional
overrides and isolates that reorder what is shown; written raw, they recolour, retitle or clear
the terminal, or make one text look like another. On a terminal each of them is written as
\\uXXXX, the escape JSON and Python read, so the output shows what the data holds. Output to
files and pipes is never touched.
"""

from __future__ import annotations

import codecs
import re
from typing import BinaryIO

# C0 controls but tab and line feed, DEL, the C1 controls, and the bidirectional embeddings,
# overrides (U+202A to U+202E) and isolates (U+2066 to U+2069).
_UNSAFE = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f\u202a-\u202e\u2066-\u2069]")
# A message on one line: tab and line feed too.
_UNSAFE_IN_LINE = re.compile("[\x00-\x1f\x7f-\x9f\u202a-\u202e\u2066-\u2069]")


def _escape(match: re.Match[str]) -> str:
    return f"\\u{ord(match.group()):04x}"


def shown(text: str) -> str:
    """`text` with every character that drives a terminal as an escape; line breaks kept."""
    return _UNSAFE.sub(_escape, text)


def one_line(text: str) -> str:
    """`text` as one line safe for a terminal: line breaks and tabs escaped as well."""
    return _UNSAFE_IN_LINE.sub(_escape, text)


class TerminalText:
    """A binary stream to a terminal that takes UTF-8 text and writes it as `shown` gives it."""

    def __init__(self, stream: BinaryIO) -> None:
        self._stream = stream
        # A write may end inside a character; the rest comes with the next one.
        self._decoder = codecs.getincrementaldecoder("utf-8")("replace")

    def write(self, data: bytes) -> int:
        self._stream.write(shown(self._decoder.decode(data)).encode("utf-8"))
        return len(data)

    def flush(self) -> None:
        self._stream.flush()
