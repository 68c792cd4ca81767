"""The `dral` command line: the parser and the one place where failures become exit statuses.

Exit statuses: 0 on success; 1 for every failure: bad data, a file or standard stream that cannot
be read or written (one line on stderr, the library's own message, with control characters
escaped); 2 for wrong usage (argparse's usage text).
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING

import dral

from . import commands
from .files import CliError, flush_stdout, reason, silence, silence_stdout
from .terminal import one_line

if TYPE_CHECKING:
    from _typeshed import SupportsWrite

_DESCRIPTION = """\
Dral from the shell: Dral streams to and from JSON and the text notation, CTN documents,
their compiled form CBF, and CQL queries over either. Every command reads its input file, or
standard input when IN is omitted or '-', and writes to standard output unless -o is given."""

_EPILOG = """\
examples:
  dral encode --dedup data.json -o data.dral
  dral decode --indent 2 data.dral
  dral inspect data.dral
  dral ctn compile doc.ctn -o doc.cbf
  dral query '.servers[0].host' doc.cbf"""


class _Parser(argparse.ArgumentParser):
    """argparse's parser, except that help or version text that cannot be written is a failure
    like any other (argparse ignores it and exits with status 0, or lets it out as a traceback)."""

    def _print_message(self, message: str, file: SupportsWrite[str] | None = None) -> None:
        if not message:
            return
        if file is None:  # the standard stream argparse chose is closed
            raise CliError("standard output is closed")
        try:
            file.write(message)
        except BrokenPipeError:
            raise
        except OSError as error:
            if file is not sys.stdout:
                return  # usage text for a standard error that fails: the exit status says it
            silence_stdout()
            raise CliError(f"cannot write standard output: {reason(error)}") from None


def _int_in(low: int, high: int) -> Callable[[str], int]:
    def convert(text: str) -> int:
        try:
            number = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
        if not low <= number <= high:
            raise argparse.ArgumentTypeError(f"must be from {low} to {high}: {number}")
        return number

    return convert


def _command(
    commands_: argparse._SubParsersAction[_Parser],
    name: str,
    run: Callable[[argparse.Namespace], int],
    summary: str,
    *,
    binary_input: bool = True,
) -> argparse.ArgumentParser:
    parser = commands_.add_parser(name, help=summary, description=summary[0].upper() + summary[1:] + ".")
    parser.set_defaults(run=run)
    kind = "binary" if binary_input else "text"
    parser.add_argument(
        "input", nargs="?", metavar="IN", help=f"input file ({kind}); standard input when omitted or '-'"
    )
    parser.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of standard output")
    return parser


def _limits(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--no-strict",
        dest="strict",
        action="store_false",
        help="lift the reading limits on block size, item count, memory and string length (trusted input only)",
    )
    parser.add_argument(
        "--max-depth", type=_int_in(0, 4096), default=128, metavar="N", help="deepest nesting accepted (default 128)"
    )


def _quiet(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "-q", "--quiet", action="store_true", help="no progress line on standard error (shown only on a terminal)"
    )


def _indent(parser: argparse.ArgumentParser, what: str) -> None:
    parser.add_argument("--indent", type=_int_in(0, 1024), metavar="N", help=what)


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="dral", description=_DESCRIPTION, epilog=_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--version", action="version", version=f"dral {dral.__version__}")
    subcommands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    encode = _command(subcommands, "encode", commands.encode, "encode JSON as a Dral stream", binary_input=False)
    encode.add_argument("--dedup", action="store_true", help="write each repeated string value once")
    encode.add_argument("--sort-keys", action="store_true", help="sort the keys of every object")
    encode.add_argument(
        "--compression", choices=("zstd", "lz4", "snappy"), help="compress the data blocks (see the README for each)"
    )
    encode.add_argument(
        "--jsonl", action="store_true", help="read JSON Lines, a value per line (the default for .jsonl and .ndjson)"
    )
    _quiet(encode)

    decode = _command(subcommands, "decode", commands.decode, "decode a Dral stream to JSON")
    _indent(decode, "indent JSON (or the text notation) by N spaces; compact JSON without it")
    decode.add_argument("--text", action="store_true", help="write the text notation instead of JSON")
    decode.add_argument("--jsonl", action="store_true", help="write JSON Lines: each value on a line, as it is read")
    _limits(decode)
    _quiet(decode)

    show = _command(subcommands, "show", commands.show, "write every value of a Dral stream in the text notation")
    _indent(show, "indent by N spaces (default 2)")
    _limits(show)
    _quiet(show)

    inspect = _command(
        subcommands,
        "inspect",
        commands.inspect,
        "list the blocks and checksums of a Dral stream, or the parts of a CBF file",
    )
    inspect.add_argument("--json", action="store_true", help="write the report as JSON")
    _limits(inspect)
    _quiet(inspect)

    ctn = subcommands.add_parser("ctn", help="format, compile and decode CTN documents", description="CTN documents.")
    ctn_commands = ctn.add_subparsers(dest="ctn_command", metavar="ACTION", required=True)
    _command(ctn_commands, "fmt", commands.ctn_fmt, "write a CTN document in canonical form", binary_input=False)
    compile_ = _command(
        ctn_commands, "compile", commands.ctn_compile, "compile a CTN document to CBF", binary_input=False
    )
    compile_.add_argument("--no-symtab", dest="symtab", action="store_false", help="write no symbol table")
    compile_.add_argument(
        "--alignment", type=_int_in(0, 255), default=0, metavar="N", help="alignment hint recorded in the header"
    )
    _command(ctn_commands, "decode", commands.ctn_decode, "decode a CBF file to CTN")

    query = subcommands.add_parser(
        "query",
        help="run a CQL path query over a CBF or CTN file",
        description="Run a CQL path query over a CBF file (read as such when it starts with DRAL) "
        "or a CTN document. Each result is written as CTN starting on a new line; block forms "
        "continue on indented lines.",
    )
    query.set_defaults(run=commands.query)
    query.add_argument("expression", metavar="EXPR", help="the path, for example '.servers[0].host'")
    query.add_argument("input", nargs="?", metavar="IN", help="input file; standard input when omitted or '-'")
    query.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of standard output")
    query.add_argument("--json", action="store_true", help="write the results as a JSON array of typed dictionaries")
    _indent(query, "indent the JSON by N spaces")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with `argv` (default: the process's arguments); return the exit status."""
    prog = "dral"
    try:
        try:
            args = build_parser().parse_args(argv)
        finally:
            flush_stdout()  # what --help and --version wrote before they exit
        prog = "dral " + " ".join(filter(None, (args.command, getattr(args, "ctn_command", None))))
        status: int = args.run(args)
        flush_stdout()
        return status
    except (CliError, dral.DralError, ValueError) as error:
        message = str(error)
    except MemoryError:
        message = "out of memory"
    except RecursionError:
        message = "the data nests deeper than Python can follow"
    except BrokenPipeError:
        # The reader went away (`| head`); say nothing more on a pipe that is gone.
        silence_stdout()
        return 1
    except OSError as error:
        message = str(error)
    except KeyboardInterrupt:
        return 130
    except Exception as error:  # noqa: BLE001 - a fault of this program is still one line
        message = f"{type(error).__name__}: {error}"
    _report(f"{prog}: error: {message}")
    return 1


def _report(line: str) -> None:
    if sys.stderr is None:
        return
    try:
        print(one_line(line), file=sys.stderr, flush=True)
    except OSError:
        silence(sys.stderr)
