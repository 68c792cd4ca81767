#!/usr/bin/env python3
"""Instructions one call takes, counted by callgrind, for two builds: a measure that other work on
a shared machine does not disturb (wall-clock ratios still need an idle one, see bench_ab.py).

    python3 bench/instructions.py BASE.so NEW.so [--file twitter.json] [--repeats 20]

Each operation runs in a fresh interpreter under `valgrind --tool=callgrind`, once with REPEATS
calls and once with none; the difference divided by REPEATS is the cost of one call. The
interpreter's str hashes and the library's own hash seed are fixed, so that the counts repeat
from run to run.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
from pathlib import Path

from bench_binary import resolve_corpus

OPERATIONS = {
    "dumps": "m.dumps(obj)",
    "dumps dedup": "m.dumps(obj, dedup=True)",
    "dumps default": "m.dumps(obj, default=str)",  # a hook given, never called
    "loads": "m.loads(data)",
    "loads_value": "m.loads_value(data)",
    "parse_text": "m.parse_text(text)",
    "pretty_print": "m.pretty_print(obj)",
    "rfc_compile_ctn": "m.rfc_compile_ctn(ctn)",
    "rfc_parse_ctn": "m.rfc_parse_ctn(ctn)",
    "rfc_parse_ctn_model": "m.rfc_parse_ctn_model(ctn)",
    "rfc_format_ctn": "m.rfc_format_ctn(ctn)",
}

CHILD = """
import importlib.util, json, sys
sys.path.insert(0, {bench!r})
spec = importlib.util.spec_from_file_location("build._dral_native", {so!r})
m = importlib.util.module_from_spec(spec); spec.loader.exec_module(m)
if hasattr(m, "_set_hash_seed"):  # builds older than the forced seed have none
    m._set_hash_seed(0x5EED)
obj = json.load(open({file!r}, encoding="utf-8"))
data = m.dumps(obj)
text = m.pretty_print(obj)
from ctn_document import generate
ctn = generate(300_000)
for _ in range({repeats}):
    {operation}
"""


def instructions(so: str, operation: str, file: str, repeats: int) -> int:
    code = CHILD.format(bench=str(Path(__file__).parent), so=so, file=file, repeats=repeats,
                        operation=operation)
    # Both hash seeds fixed: which keys collide, in the key cache and in dicts, changes the count.
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                          sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env={**os.environ, "PYTHONHASHSEED": "0"})
    return int(re.search(r"Collected : (\d+)", run.stderr).group(1))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs=2, metavar="SO")
    parser.add_argument("--file", default="twitter.json")
    parser.add_argument("--repeats", type=int, default=20)
    parser.add_argument("--only", help="comma-separated operations")
    args = parser.parse_args()
    file = str(resolve_corpus(None) / args.file)
    chosen = args.only.split(",") if args.only else list(OPERATIONS)
    print(f"{'operation':18} {'base':>14} {'new':>14}  new/base   ({args.file}, per call)")
    for name in chosen:
        per_call = []
        for so in args.builds:
            empty = instructions(so, "pass", file, 1)
            full = instructions(so, OPERATIONS[name], file, args.repeats)
            per_call.append((full - empty) / args.repeats)
        print(f"{name:18} {per_call[0]:14,.0f} {per_call[1]:14,.0f}  {per_call[1] / per_call[0]:.4f}")


if __name__ == "__main__":
    main()
