"""The command's standard streams: closed, on a full disk, or a terminal. Every failure is one line
on stderr and exit status 1; text for a terminal shows the characters that would drive it as
escapes, while pipes and files get the exact output."""

import os
import pty
import re
import subprocess
import sys
import tty

import pytest

import dral
from cbf_bytes import seq, sym, with_table
from cli_run import dral_command, ok

# Escape sequences that retitle, clear and recolour, a bell, a C1 control sequence introducer,
# bidirectional overrides and isolates, DEL.
HOSTILE = "\x1b]0;owned\x07\x1b[2J\x9b31m\u202eevil\u2066\u2069\x7f!"
UNSAFE = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f\u202a-\u202e\u2066-\u2069]")
CTN = 'seq<any>\n  "' + HOSTILE + '"\n  1\n'
STREAM = dral.dumps({HOSTILE: [HOSTILE, 1]})
CBF = dral.rfc_compile_ctn(CTN)
WITH_SYMBOL = with_table([HOSTILE], seq(sym(0)))

# args, standard input
COMMANDS = {
    "show": (["show"], STREAM),
    "decode --text": (["decode", "--text"], STREAM),
    "decode": (["decode"], STREAM),
    "ctn fmt": (["ctn", "fmt"], CTN.encode()),
    "ctn decode": (["ctn", "decode"], CBF),
    "query": (["query", ".[]"], CBF),
    "query --json": (["query", "--json", ".[0]"], CTN.encode()),
    "inspect": (["inspect"], WITH_SYMBOL),
}
BAD = b"\x07\xff"  # no Dral block, no UTF-8 text, no CBF file
BIG = dral.dumps(["x" * 100] * 100_000)  # 10 MB of output: fails while writing, not at the end


def run(args, stdin=b"", *, close=(), stdout=subprocess.PIPE):
    """The command with the standard streams in `close` closed."""
    def close_streams():
        for fd in close:
            os.close(fd)

    return subprocess.run([sys.executable, "-m", "dral", *args], input=stdin if 0 not in close else None,
                          stdout=stdout, stderr=subprocess.PIPE, preexec_fn=close_streams, timeout=120)


def one_line_failure(process, message: str) -> None:
    err = process.stderr.decode()
    assert process.returncode == 1 and len(err.splitlines()) == 1 and "Traceback" not in err, err
    assert message in err, err


@pytest.mark.parametrize("args, stdin", COMMANDS.values(), ids=COMMANDS)
def test_closed_standard_streams(args, stdin):
    one_line_failure(run(args, close=[0]), "error: standard input is closed")
    one_line_failure(run(args, stdin, close=[1]), "error: standard output is closed; use -o FILE")


def test_closed_standard_streams_and_the_parser():
    one_line_failure(run(["--version"], close=[1]), "dral: error: standard output is closed")
    one_line_failure(run(["--help"], close=[1]), "dral: error: standard output is closed")
    assert run(["decode", "--indent", "-1"], close=[1]).returncode == 2
    # Without standard error the status says it all.
    assert run(["decode"], STREAM, close=[2]).returncode == 0
    assert run(["decode"], BAD, close=[2]).returncode == 1


FULL = "No space left on device"


# A report that succeeds for inspect, so that only the disk fails; help and version are the parser's.
@pytest.mark.parametrize("args, stdin, command", [
    *[(args, STREAM if args[0] == "inspect" else stdin, "") for args, stdin in COMMANDS.values()],
    (["decode"], BIG, ""), (["show"], BIG, ""), (["--help"], b"", "dral: "), (["--version"], b"", "dral: "),
    (["decode", "--help"], b"", "dral: "),
], ids=[*COMMANDS, "decode at write", "show at write", "--help", "--version", "decode --help"])
def test_a_full_disk(args, stdin, command):
    with open("/dev/full", "wb") as full:
        one_line_failure(run(args, stdin, stdout=full), f"{command}error: cannot write standard output: {FULL}")


@pytest.mark.parametrize("args, stdin", [(["encode"], b"[1]"), (["decode"], STREAM), (["decode"], BIG)],
                         ids=["encode", "decode", "decode at write"])
def test_a_full_disk_behind_an_output_file(args, stdin):
    one_line_failure(run([*args, "-o", "/dev/full"], stdin), f"error: cannot write '/dev/full': {FULL}")


def test_a_full_disk_behind_standard_error():
    with open("/dev/full", "wb") as full:
        broken = subprocess.run([sys.executable, "-m", "dral", "decode"], input=BAD, capture_output=False,
                                stderr=full, timeout=120)
    assert broken.returncode == 1


def on_a_terminal(args, stdin: bytes) -> tuple[int, bytes]:
    """Exit status and what the command wrote to a terminal, its standard output and error."""
    leader, follower = pty.openpty()
    tty.setraw(follower)  # no line-ending translation: the bytes as written
    try:
        process = subprocess.Popen([sys.executable, "-m", "dral", *args], stdin=subprocess.PIPE, stdout=follower,
                                   stderr=follower)
        os.close(follower)
        process.stdin.write(stdin)
        process.stdin.close()
        chunks = []
        while True:
            try:
                chunk = os.read(leader, 1 << 16)
            except OSError:  # the last writer closed the terminal
                break
            if not chunk:
                break
            chunks.append(chunk)
        return process.wait(timeout=120), b"".join(chunks)
    finally:
        os.close(leader)


def as_escapes(text: str) -> str:
    return UNSAFE.sub(lambda m: f"\\u{ord(m.group()):04x}", text)


@pytest.mark.parametrize("args, stdin", COMMANDS.values(), ids=COMMANDS)
def test_a_terminal_sees_escapes_where_a_pipe_gets_the_exact_text(args, stdin):
    piped = dral_command(*args, stdin=stdin)
    status, shown = on_a_terminal(args, stdin)
    assert status == piped.returncode
    text = shown.decode()
    assert not UNSAFE.search(text) and UNSAFE.search(piped.stdout.decode() + piped.stderr.decode())
    if piped.returncode == 0:
        assert text == as_escapes(piped.stdout.decode())
        assert "\\u001b]0;owned\\u0007" in text and "\\u202eevil\\u2066\\u2069" in text


def test_binary_output_is_not_written_to_a_terminal():
    status, shown = on_a_terminal(["encode"], b"[1]")
    assert status == 1 and b"refusing to write binary output to a terminal" in shown


@pytest.mark.parametrize("args, stdin", [
    (["ctn", "fmt"], b"seq<any>\n  zz" + HOSTILE.encode()),  # the library quotes the input
    (["decode", "in" + HOSTILE + ".dral"], b""),  # the command quotes the path
])
def test_input_quoted_in_an_error_is_escaped(args, stdin):
    process = run(args, stdin)
    err = process.stderr.decode()
    assert process.returncode == 1 and len(err.splitlines()) == 1 and not UNSAFE.search(err.rstrip("\n"))
    assert "\\x1b]0;owned" in err or "\\u001b]0;owned" in err, err


def test_exact_output_to_pipes_and_files(tmp_path):
    assert ok("show", stdin=STREAM).decode() == dral.pretty_print({HOSTILE: [HOSTILE, 1]}) + "\n"
    assert ok("ctn", "fmt", stdin=CTN.encode()).decode() == dral.rfc_format_ctn(CTN) + "\n"
    ok("ctn", "decode", "-o", "out.ctn", stdin=CBF, cwd=tmp_path)
    assert (tmp_path / "out.ctn").read_text(encoding="utf-8") == dral.rfc_cbf_to_ctn(CBF) + "\n"
