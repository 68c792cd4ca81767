"""The `dral` command: round trips, each output against its library function, every failure."""

import base64
import importlib.metadata
import json
import pathlib
import subprocess
import sys
import sysconfig

import pytest

import dral
from cbf_bytes import cbf, product, seg, text
from cli_run import dral_command, ok
from helpers import data_stream, nested_arrays, varint

DOCUMENTS = {
    "object": {"name": "x", "tags": ["a", "b", "a"], "nested": {"z": 1, "a": [None, True, -2, 1.5]}},
    "unicode": ["é", "日本", "\u2028", "a\nb\"c"],
    "list of objects": [{"b": i, "a": str(i)} for i in range(50)],
    "scalar": -9223372036854775808,
    "empty": {},
}
CTN = "@draft\nlet p = Point\n  x = 1\n  y = 2\n\nseq<any>\n  &p\n  b64\"AP8=\"\n  [1, 2]\n"


@pytest.mark.parametrize("options", [[], ["--dedup"], ["--sort-keys"], ["--dedup", "--sort-keys"]])
@pytest.mark.parametrize("name", DOCUMENTS)
def test_json_round_trip_through_files_and_pipes(tmp_path, name, options):
    value = DOCUMENTS[name]
    (tmp_path / "in.json").write_text(json.dumps(value), encoding="utf-8")
    assert ok("encode", *options, "in.json", "-o", "out.dral", cwd=tmp_path) == b""
    expected = dral.dumps(value, dedup="--dedup" in options, sort_keys="--sort-keys" in options)
    assert (tmp_path / "out.dral").read_bytes() == expected
    assert ok("encode", *options, stdin=json.dumps(value).encode()) == expected
    assert json.loads(ok("decode", "out.dral", cwd=tmp_path)) == value
    assert json.loads(ok("decode", "-", stdin=expected)) == value


def with_base64(value):
    """`value` with bytes as Base64 text, as the JSON output shows them."""
    if isinstance(value, bytes):
        return base64.b64encode(value).decode("ascii")
    if isinstance(value, dict):
        return {key: with_base64(item) for key, item in value.items()}
    return [with_base64(item) for item in value] if isinstance(value, list) else value


LARGEST = data_stream(b"\x02" + varint(2**64 - 1))  # the largest unsigned integer, beyond Python's encoder


@pytest.mark.parametrize("indent", [None, 0, 1, 4])
@pytest.mark.parametrize("value", [
    {"raw": b"\x00\xff", "items": [{"k": [1, 2.5, None]}, "é", b""]}, [], b"x",
    list(range(2500)), {f"k{i}": [i, {"b": b"\x01"}] for i in range(2100)},  # written in slices
])
def test_decode_writes_the_json_module_s_text_with_bytes_as_base64(value, indent):
    separators = (",", ":") if indent is None else (",", ": ")
    expected = json.dumps(with_base64(value), indent=indent, ensure_ascii=False, separators=separators) + "\n"
    options = [] if indent is None else ["--indent", str(indent)]
    assert ok("decode", *options, stdin=dral.dumps(value)).decode() == expected


@pytest.mark.parametrize("options", [[], ["--indent", "1"]])
def test_json_output_beyond_what_the_json_module_can_do(options):
    out = ok("decode", "--max-depth", "4096", *options, stdin=data_stream(nested_arrays(1000)))
    assert out == b"[" * 1000 + b"]" * 1000 + b"\n" if not options else out.count(b"[") == out.count(b"]") == 1000
    assert ok("decode", *options, stdin=LARGEST) == b"18446744073709551615\n"
    assert ok("decode", "--text", stdin=LARGEST) == b"18446744073709551615\n"


@pytest.mark.parametrize("indent", [None, 4])
def test_text_notation_outputs_match_pretty_print(indent):
    values = [{"b": [1, 2], "a": {"x": b"\x01"}}, "two", [3]]
    encoder = dral.Encoder()
    for value in values:
        encoder.encode(value)
    data = encoder.finish()
    options = [] if indent is None else ["--indent", str(indent)]
    texts = [dral.pretty_print(value, 2 if indent is None else indent) for value in values]
    assert ok("show", *options, stdin=data).decode() == "".join(text + "\n" for text in texts)
    # decode sees the stream as its list of values, show as three values.
    assert ok("decode", "--text", *options, stdin=data).decode() == dral.pretty_print(values, indent or 2) + "\n"
    assert ok("show", stdin=dral.dumps(values)).decode() == dral.pretty_print(values) + "\n"


def test_ctn_commands_are_the_library_functions(tmp_path):
    (tmp_path / "doc.ctn").write_text(CTN, encoding="utf-8")
    assert ok("ctn", "fmt", "doc.ctn", cwd=tmp_path).decode() == dral.rfc_format_ctn(CTN) + "\n"
    compiled = ok("ctn", "compile", "--no-symtab", "--alignment", "8", stdin=CTN.encode())
    assert compiled == dral.rfc_compile_ctn(CTN, with_symtab=False, alignment=8)
    ok("ctn", "compile", "doc.ctn", "-o", "doc.cbf", cwd=tmp_path)
    assert (tmp_path / "doc.cbf").read_bytes() == dral.rfc_compile_ctn(CTN)
    assert ok("ctn", "decode", "doc.cbf", cwd=tmp_path).decode() == dral.rfc_cbf_to_ctn(compiled) + "\n"
    assert ok("ctn", "fmt", stdin=b"-- nothing but a comment\n") == b""
    ok("ctn", "fmt", "doc.ctn", "-o", "doc.ctn", cwd=tmp_path)  # in place
    assert (tmp_path / "doc.ctn").read_text(encoding="utf-8") == dral.rfc_format_ctn(CTN) + "\n"


@pytest.mark.parametrize("expression", [".", ".[0].x", ".[]", ".[5]"])
def test_query_reads_cbf_or_ctn_and_writes_ctn_or_json(tmp_path, expression):
    (tmp_path / "doc.ctn").write_text(CTN, encoding="utf-8")
    (tmp_path / "doc.cbf").write_bytes(dral.rfc_compile_ctn(CTN))
    texts = dral.rfc_query_ctn(CTN, expression, as_ctn=True)
    for source in ("doc.ctn", "doc.cbf"):
        assert ok("query", expression, source, cwd=tmp_path).decode() == "".join(t + "\n" for t in texts)
    found = json.loads(ok("query", "--json", expression, "doc.cbf", cwd=tmp_path))
    assert found == with_base64(dral.rfc_query_ctn(CTN, expression))
    # Standard input and a pipe are read whole, a file is mapped: the same answers.
    assert ok("query", expression, stdin=(tmp_path / "doc.cbf").read_bytes()).decode() == "".join(t + "\n" for t in texts)


def test_query_over_a_cbf_file_decodes_only_what_it_selects(tmp_path):
    # A text with bad UTF-8 behind the field asked for, in a file with a valid checksum.
    (tmp_path / "crafted.cbf").write_bytes(cbf(product(None, ("a", text("ok")), ("b", seg(0x10, b"\xff")))))
    assert ok("query", ".a", "crafted.cbf", cwd=tmp_path) == b'"ok"\n'
    run = dral_command("query", ".b", "crafted.cbf", cwd=tmp_path)
    assert (run.returncode, run.stderr) == (1, b"dral query: error: Invalid UTF-8 in string field at offset 22\n")


BAD_STREAM = dral.dumps([1, 2])[:-25]
CORRUPT = bytes(byte ^ (i == 12) for i, byte in enumerate(dral.dumps("payload")))


def library_error(data: bytes) -> str:
    with pytest.raises(dral.DralError) as caught:
        dral.loads(data)
    return str(caught.value)


# args, standard input, exit status, the message expected on stderr
FAILURES = {
    "missing input": (["decode", "missing.dral"], b"", 1, "dral decode: error: cannot read 'missing.dral': No such file or directory"),
    "cut-off stream": (["decode", "-o", "out.json"], BAD_STREAM, 1, "dral decode: error: " + library_error(BAD_STREAM)),
    "checksum": (["show"], CORRUPT, 1, "dral show: error: " + library_error(CORRUPT)),
    "too deep for JSON": (["decode", "--max-depth", "4096"], data_stream(nested_arrays(1001)), 1,
                          "dral decode: error: the data nests 1001 levels deep, JSON output at most 1000; use --text"),
    "too deep for the limit": (["decode", "--max-depth", "1"], dral.dumps([[1]]), 1, "dral decode: error: Nesting depth"),
    "not JSON": (["encode"], b'{"a":', 1, "dral encode: error: standard input is not valid JSON: Expecting value"),
    "not UTF-8": (["encode"], b'"\xff"', 1, "dral encode: error: standard input is not UTF-8 text: byte 0xff at offset 1"),
    "integer too large": (["encode"], b"[18446744073709551616]", 1, "dral encode: error: an integer lies outside"),
    "nested too deep": (["encode"], b"[" * 200 + b"]" * 200, 1, "dral encode: error: Nesting depth 128 exceeds maximum 128"),
    "tab in CTN": (["ctn", "fmt"], b"Point\n\tx = 1", 1, "dral ctn fmt: error: Text parse error at line 2, col 1: tabs"),
    "not CBF": (["ctn", "decode"], b"DRAX" + bytes(40), 1, "dral ctn decode: error: Invalid magic bytes"),
    "bad query": (["query", "x"], b"[1]", 1, "dral query: error: Invalid data: CQL expression must start with '.'"),
    "CBF given to decode": (["decode"], dral.rfc_compile_ctn("1"), 1, "standard input is a CBF file, not a Dral stream"),
    "unwritable output": (["ctn", "compile", "-o", "no/such/dir.cbf"], b"1", 1, "cannot write 'no/such/dir.cbf': No such file"),
    "no command": ([], b"", 2, "dral: error: the following arguments are required: COMMAND"),
    "unknown command": (["pack"], b"", 2, "dral: error: argument COMMAND: invalid choice: 'pack'"),
    "negative indent": (["decode", "--indent", "-1"], b"", 2, "argument --indent: must be from 0 to 1024: -1"),
    "alignment too large": (["ctn", "compile", "--alignment", "256"], b"", 2, "must be from 0 to 255: 256"),
    "query without expression": (["query"], b"", 2, "the following arguments are required: EXPR"),
    "extra argument": (["show", "a", "b"], b"", 2, "dral: error: unrecognized arguments: b"),
}


@pytest.mark.parametrize("name", FAILURES)
def test_failures_exit_with_one_line_naming_the_cause(tmp_path, name):
    args, stdin, status, message = FAILURES[name]
    (tmp_path / "out.json").write_text("kept")  # a failed command leaves its output file alone
    run = dral_command(*args, stdin=stdin, cwd=tmp_path)
    err = run.stderr.decode()
    assert (run.returncode, run.stdout) == (status, b""), err
    assert message in err and "Traceback" not in err
    assert err.startswith("usage: dral") if status == 2 else len(err.splitlines()) == 1
    assert (tmp_path / "out.json").read_text() == "kept"


def test_a_reader_that_stops_early_gets_no_traceback():
    data = dral.dumps(list(range(200000)))
    process = subprocess.Popen([sys.executable, "-m", "dral", "decode", "--indent", "1"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    process.stdin.write(data)
    process.stdin.close()
    assert process.stdout.read(10) == b"[\n 0,\n 1,\n"
    process.stdout.close()
    assert process.wait(timeout=60) == 1 and process.stderr.read() == b""


def test_version_and_help():
    assert ok("--version") == f"dral {dral.__version__}\n".encode()
    for command in ("encode", "decode", "show", "inspect", "ctn", "query"):
        assert f"dral {command}".encode() in ok(command, "--help")


def test_the_installed_package_has_the_dral_command():
    installed = next(iter(importlib.metadata.distributions(name="dral")), None)
    if installed is None or pathlib.Path(installed.locate_file("dral/__init__.py")) != pathlib.Path(dral.__file__):
        pytest.skip("dral is imported from a source tree, not from an installed package")
    scripts = [(e.name, e.value) for e in installed.entry_points if e.group == "console_scripts"]
    assert scripts == [("dral", "dral.cli:main")]
    run = subprocess.run([pathlib.Path(sysconfig.get_path("scripts")) / "dral", "--version"], capture_output=True)
    assert run.stdout == f"dral {dral.__version__}\n".encode()
