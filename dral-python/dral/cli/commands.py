"""What each subcommand does, from its parsed arguments to its output.

Streams are read and written a block at a time: `encode` of JSON Lines, `decode --jsonl`, `show`
and `inspect` hold about one block whatever the file's size. The other commands read their whole
input (a CBF file to query is mapped instead, and only what the query selects is decoded) and
drop each intermediate form as soon as the next exists. Every output file is replaced only once it
is complete, so a failure leaves no half-written file and the output may be the input itself.
"""

from __future__ import annotations

import argparse
import json
import os
from typing import Any

import dral

from .cbf_report import CbfReport, inspect_cbf
from .files import (
    CliError, as_text, display_name, input_file, output, read_bytes, read_text, write_lines, write_text,
)
from .json_output import check_depth, to_json, write_json
from .progress import Counted, Progress, total_of
from .stream_report import StreamReport, inspect_stream


def _reject_cbf(data: bytes, path: str | None) -> None:
    if data.startswith(dral.RFC001_CBF_MAGIC):
        raise CliError(f"{display_name(path)} is a CBF file, not a Dral stream; use 'dral ctn decode' or 'dral query'")


def _is_jsonl(args: argparse.Namespace) -> bool:
    name = args.input or ""
    return bool(args.jsonl) or name.endswith((".jsonl", ".ndjson"))


def encode(args: argparse.Namespace) -> int:
    if _is_jsonl(args):
        return _encode_lines(args)
    text = read_text(args.input)
    try:
        value = json.loads(text)
    except json.JSONDecodeError as error:
        raise CliError(f"{display_name(args.input)} is not valid JSON: {error}") from None
    except RecursionError:
        raise CliError(f"{display_name(args.input)} nests JSON deeper than Python can read") from None
    del text
    try:
        data = dral.dumps(value, compression=args.compression, dedup=args.dedup, sort_keys=args.sort_keys)
    except OverflowError:
        raise CliError("an integer lies outside the range Dral encodes, -2**63 to 2**64 - 1") from None
    del value
    with output(args.output, binary=True) as stream:
        stream.write(data)
    return 0


def _encode_lines(args: argparse.Namespace) -> int:
    """JSON Lines, a value per line, written as they are read: a stream of many blocks."""
    with input_file(args.input) as (source, _), output(args.output, binary=True) as stream:
        progress = Progress(total_of(source), quiet=args.quiet)
        options = {"compression": args.compression, "dedup": args.dedup, "sort_keys": args.sort_keys}
        with dral.Writer(stream, **options) as writer:
            writer.write_all(_json_lines(Counted(source, progress), args.input))
        progress.finish()
    return 0


def _json_lines(source: Counted, path: str | None) -> Any:
    for number, line in enumerate(source, 1):
        if not line.strip():
            continue
        try:
            yield json.loads(line)
        except (json.JSONDecodeError, UnicodeDecodeError) as error:
            raise CliError(f"line {number} of {display_name(path)} is not valid JSON: {error}") from None
        except RecursionError:
            raise CliError(f"line {number} of {display_name(path)} nests JSON deeper than Python can read") from None


def _values(source: Any, args: argparse.Namespace) -> Any:
    """The top-level values of the stream in `source`, read a block at a time."""
    return dral.Reader(source, strict=args.strict, max_depth=args.max_depth)


def decode(args: argparse.Namespace) -> int:
    if args.jsonl:
        return _decode_lines(args)
    data = read_bytes(args.input)
    _reject_cbf(data, args.input)
    value = dral.loads(data, strict=args.strict, max_depth=args.max_depth)
    del data
    if args.text:
        text = _text_notation(value, args.indent)
        del value
        with output(args.output) as stream:
            write_lines(stream, [text])
    else:
        check_depth(value, args.max_depth)
        with output(args.output) as stream:
            write_json(stream, value, args.indent)
    return 0


def _decode_lines(args: argparse.Namespace) -> int:
    """Each value on a line of its own as compact JSON, written as the stream is read."""
    with input_file(args.input) as (source, start), output(args.output) as stream:
        _reject_cbf(start, args.input)
        progress = Progress(total_of(source), quiet=args.quiet)
        for value in _values(Counted(source, progress), args):
            check_depth(value, args.max_depth)
            write_text(stream, to_json(value) + "\n")
        progress.finish()
    return 0


def show(args: argparse.Namespace) -> int:
    with input_file(args.input) as (source, start), output(args.output) as stream:
        _reject_cbf(start, args.input)
        progress = Progress(total_of(source), quiet=args.quiet)
        for value in _values(Counted(source, progress), args):
            write_lines(stream, [_text_notation(value, args.indent)])
        progress.finish()
    return 0


def _text_notation(value: Any, indent: int | None) -> str:
    return dral.pretty_print(value, 2 if indent is None else indent)


def ctn_fmt(args: argparse.Namespace) -> int:
    formatted = dral.rfc_format_ctn(read_text(args.input))
    with output(args.output) as stream:
        write_lines(stream, [formatted] if formatted else [])
    return 0


def ctn_compile(args: argparse.Namespace) -> int:
    data = dral.rfc_compile_ctn(read_text(args.input), with_symtab=args.symtab, alignment=args.alignment)
    with output(args.output, binary=True) as stream:
        stream.write(data)
    return 0


def ctn_decode(args: argparse.Namespace) -> int:
    text = dral.rfc_cbf_to_ctn(read_bytes(args.input))
    with output(args.output) as stream:
        write_lines(stream, [text] if text else [])
    return 0


def query(args: argparse.Namespace) -> int:
    if _is_cbf_file(args.input):
        found = _query_cbf_file(args.input, args.expression, as_ctn=not args.json)
    else:
        data = read_bytes(args.input)
        source = data if data.startswith(dral.RFC001_CBF_MAGIC) else as_text(data, args.input)
        del data
        found = _query(source, args.expression, as_ctn=not args.json)
        del source
    with output(args.output) as stream:
        if args.json:
            write_json(stream, found, args.indent)
        else:
            write_lines(stream, found)
    return 0


def _is_cbf_file(path: str | None) -> bool:
    """Whether `path` names a regular file that starts as a CBF file does."""
    if path is None or path == "-" or not os.path.isfile(path):
        return False
    try:
        with open(path, "rb") as f:
            return f.read(len(dral.RFC001_CBF_MAGIC)) == dral.RFC001_CBF_MAGIC
    except OSError:
        return False  # reported by the ordinary read


def _query_cbf_file(path: str, expression: str, *, as_ctn: bool) -> list[Any]:
    """The results over a CBF file, mapped rather than read: the query touches only the pages it
    needs after the checksum pass."""
    try:
        return dral.rfc_query_cbf_file(path, expression, as_ctn=as_ctn)
    except OSError as error:
        raise CliError(f"cannot read {path!r}: {error.strerror or error}") from None


def _query(source: bytes | str, expression: str, *, as_ctn: bool) -> list[Any]:
    """CTN texts or typed dictionaries of the results: over CBF bytes, or over CTN text."""
    if isinstance(source, bytes):
        return dral.rfc_query_cbf(source, expression, as_ctn=as_ctn)
    return dral.rfc_query_ctn(source, expression, as_ctn=as_ctn)


def inspect(args: argparse.Namespace) -> int:
    report: StreamReport | CbfReport
    with input_file(args.input, rereadable=True) as (source, start):
        if start.startswith(dral.RFC001_CBF_MAGIC):
            report = inspect_cbf(source.read())
        else:
            report = inspect_stream(source, strict=args.strict, max_depth=args.max_depth)
    with output(args.output) as stream:
        if args.json:
            write_json(stream, report.to_json(), 2)
        else:
            write_text(stream, report.render() + "\n")
    if report.problems:
        raise CliError(report.decode_error or report.problems[0])
    return 0
