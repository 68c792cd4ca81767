"""JSON Lines in and out of the command line, streams of many blocks, and the progress line."""

import io
import json

import pytest

import dral
from cli_run import dral_command, ok
from dral.cli.progress import Progress
from helpers import DATA, split_blocks

RECORDS = [{"id": i, "name": f"record {i}", "tags": ["x"] * (i % 4), "ratio": i / 3} for i in range(20_000)]
LINES = "".join(json.dumps(record) + "\n" for record in RECORDS).encode()


@pytest.mark.parametrize("how", ["--jsonl", ".jsonl", "stdin"])
def test_json_lines_become_a_stream_of_many_blocks(how, tmp_path):
    source = tmp_path / ("records.jsonl" if how == ".jsonl" else "records.txt")
    source.write_bytes(LINES.replace(b"\n", b"\n\n", 5))  # blank lines are skipped
    target = tmp_path / "records.dral"
    if how == "stdin":
        ok("encode", "--jsonl", "--compression", "lz4", "-o", str(target), stdin=LINES)
    else:
        ok("encode", *(["--jsonl"] if how == "--jsonl" else []), str(source), "-o", str(target))
    data = target.read_bytes()
    assert len([b for b in split_blocks(data) if b[0] == DATA]) > 1
    assert list(dral.Reader(io.BytesIO(data))) == RECORDS


def test_decode_writes_a_line_per_value_and_show_streams(tmp_path):
    target = tmp_path / "records.dral"
    ok("encode", "--jsonl", "-o", str(target), stdin=LINES)
    assert ok("decode", "--jsonl", str(target)) == b"".join(json.dumps(r, separators=(",", ":")).encode() + b"\n"
                                                           for r in RECORDS)
    assert ok("decode", "--jsonl", stdin=target.read_bytes())[:40] == ok("decode", "--jsonl", str(target))[:40]
    shown = ok("show", stdin=target.read_bytes()).decode()  # from a pipe
    assert shown == "".join(dral.pretty_print(r) + "\n" for r in RECORDS)
    report = json.loads(ok("inspect", "--json", stdin=target.read_bytes()))
    assert report["values"] == len(RECORDS) and report["ok"] and len(report["blocks"]) > 2


def test_a_bad_line_is_one_error_and_leaves_the_old_file(tmp_path):
    target = tmp_path / "out.dral"
    target.write_bytes(dral.dumps("old"))
    run = dral_command("encode", "--jsonl", "-o", str(target), stdin=LINES[:5000] + b"{bad\n" + LINES[5000:])
    assert run.returncode == 1 and run.stderr.startswith(b"dral encode: error: line ")
    assert b"of standard input is not valid JSON" in run.stderr and run.stderr.count(b"\n") == 1
    assert dral.decode_from_file(target) == "old"
    piped = dral_command("encode", "--jsonl", stdin=b'{"a": 1}\n{bad\n')
    assert piped.returncode == 1
    with pytest.raises(dral.DralDecodeError, match="Unexpected end of input"):
        dral.loads(piped.stdout)  # what reached the pipe reads as cut short, never as complete


def test_a_damaged_stream_decodes_up_to_its_fault(tmp_path):
    data = bytearray(ok("encode", "--jsonl", stdin=LINES))
    data[-100] ^= 0xFF  # in the last data block
    run = dral_command("decode", "--jsonl", stdin=bytes(data))
    lines = run.stdout.splitlines()
    assert run.returncode == 1 and b"Checksum mismatch" in run.stderr
    assert 0 < len(lines) < len(RECORDS) and [json.loads(line) for line in lines] == RECORDS[: len(lines)]


class Terminal(io.StringIO):
    def isatty(self):
        return True


class Clock:
    def __init__(self):
        self.now = 0.0

    def __call__(self):
        return self.now


@pytest.mark.parametrize("quiet, stream", [(False, Terminal()), (True, Terminal()), (False, io.StringIO())])
def test_the_progress_line_is_for_terminals_only(quiet, stream):
    clock = Clock()
    progress = Progress(2_000_000, quiet=quiet, stream=stream, clock=clock)
    progress.add(10)
    clock.now = 1.0
    progress.add(999_990)
    clock.now = 2.0
    progress.add(500_000)
    progress.finish()
    shown = stream.getvalue()
    if quiet or not stream.isatty():
        assert shown == ""
    else:
        assert shown == ("\r\x1b[K1.0 MB of 2.0 MB (50%), 1.0 MB/s"
                         "\r\x1b[K1.5 MB of 2.0 MB (75%), 750.0 kB/s\r\x1b[K")
