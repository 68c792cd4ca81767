"""JSON output of decoded data.

JSON has no byte strings: `bytes` are written as their standard Base64 text (RFC 4648, with
padding), so they come back as strings if the JSON is encoded again. Floats that JSON cannot hold
(NaN, infinities) are written as the tokens NaN, Infinity and -Infinity, as Python's `json` does.

A top-level array or object is written a slice of members at a time, so the JSON text of a large
document never exists in memory as a whole.
"""

from __future__ import annotations

import base64
import itertools
import json
import sys
from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any

from .files import CliError, Output, write_text

# The json module recurses once per level of nesting, its pure-Python form (used with an
# indent) a few times; this many levels are written under a raised recursion limit.
MAX_DEPTH = 1000
# Members of a top-level array or object encoded in one call.
_SLICE = 1000


def _bytes_as_base64(value: object) -> str:
    if isinstance(value, bytes):
        return base64.b64encode(value).decode("ascii")
    raise TypeError(f"cannot write {type(value).__name__} as JSON")


def to_json(value: Any, indent: int | None = None) -> str:
    """`value` as JSON text: compact without `indent`, else pretty with `indent` spaces."""
    separators = (",", ":") if indent is None else (",", ": ")
    return json.dumps(value, ensure_ascii=False, indent=indent, separators=separators, default=_bytes_as_base64)


def check_depth(value: Any, decoded_within: int) -> None:
    """Fails when `value` nests deeper than JSON output allows; call it before output begins.

    `decoded_within` is the depth limit `value` was decoded under: up to MAX_DEPTH there is
    nothing to look at.
    """
    if decoded_within <= MAX_DEPTH:
        return
    deepest, pending = 0, [(value, 1)] if isinstance(value, (list, dict)) else []
    while pending:
        container, level = pending.pop()
        deepest = max(deepest, level)
        members = container.values() if isinstance(container, dict) else container
        pending.extend((member, level + 1) for member in members if isinstance(member, (list, dict)))
    if deepest > MAX_DEPTH:
        raise CliError(f"the data nests {deepest} levels deep, JSON output at most {MAX_DEPTH}; use --text")


@contextmanager
def _recursion_room() -> Iterator[None]:
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(max(limit, 4 * MAX_DEPTH + 200))
    try:
        yield
    finally:
        sys.setrecursionlimit(limit)


def write_json(stream: Output, value: Any, indent: int | None = None) -> None:
    """`value`, which `check_depth` accepted, as JSON followed by a line break."""
    with _recursion_room():
        if isinstance(value, (list, dict)) and value:
            _write_container(stream, value, indent)
        else:
            write_text(stream, to_json(value, indent))
    stream.write(b"\n")


def _write_container(stream: Output, value: list[Any] | dict[str, Any], indent: int | None) -> None:
    # Members go to the C encoder in slices: the text of a slice less its brackets (and, with an
    # indent, less the line break before the closing one) is those members at the first level.
    closing = "]" if isinstance(value, list) else "}"
    write_text(stream, "[" if isinstance(value, list) else "{")
    members = iter(value.items() if isinstance(value, dict) else value)
    first = True
    while chunk := list(itertools.islice(members, _SLICE)):
        text = to_json(dict(chunk) if isinstance(value, dict) else chunk, indent)
        write_text(stream, ("" if first else ",") + text[1 : -1 if indent is None else -2])
        first = False
    write_text(stream, closing if indent is None else "\n" + closing)
