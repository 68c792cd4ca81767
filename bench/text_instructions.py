#!/usr/bin/env python3
"""Instructions per call of the text writers and readers against their orjson anchors, counted by
callgrind: a measure other work on a shared machine does not disturb (the wall-clock ratios of
bench_text.py and bench_ctn.py still need an idle one).

    python3 bench/text_instructions.py [SO ...] [--files tiny,small,twitter] [--ctn-size BYTES]
                                       [--misses [--last-level BYTES]]

Each SO is a built `_dral_native` module (default: the installed one); with two or more, every
row gives each build's count. Per data set, one interpreter runs under callgrind and takes every
operation in turn between two calls of os.getppid, before which callgrind dumps its counters; an
empty loop of the same length is subtracted; string hashing is seeded alike in every run, so that
dict probes do not differ between builds. The reader's rows still move by up to some 7% with the
allocator's state the earlier operations leave; a difference that small is confirmed in a process
of its own before it is trusted. Rows:
- pretty_print against orjson.dumps(obj, option=OPT_INDENT_2);
- parse_text of its own text against orjson.loads of the indented JSON, as a str;
- on the CTN document: rfc_format_ctn (parse and format) and RfcDocument.to_ctn against
  orjson.dumps of the typed dictionary of the same document, each followed by its parts: the
  reader, the formatter, the making of the str, and the rest (mostly freeing the tree), from
  callgrind's inclusive counts of the functions that do them.
With --misses, callgrind also simulates the caches, and each operation gets a second row: its
misses in a last-level cache the size of one core's second-level cache here (1 MiB), which on
large texts are mostly the trips to memory that instruction counts do not see.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

from bench_binary import TINY, resolve_corpus

CHILD = r"""
import gc, importlib.util, json, os, pickle, sys
import orjson
so, data_file, ctn_file, repeats = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
if so == "-":
    import dral as m
else:
    spec = importlib.util.spec_from_file_location("build._dral_native", so)
    m = importlib.util.module_from_spec(spec); spec.loader.exec_module(m)

def indented(obj):
    return orjson.dumps(obj, option=orjson.OPT_INDENT_2)

ops = []
if data_file != "-":
    obj = pickle.load(open(data_file, "rb"))
    text = m.pretty_print(obj)
    json_text = indented(obj).decode()
    ops += [("pretty_print", m.pretty_print, obj), ("orjson.dumps indent", indented, obj),
            ("parse_text", m.parse_text, text), ("orjson.loads indented", orjson.loads, json_text)]
if ctn_file != "-":
    ctn = open(ctn_file, encoding="utf-8").read()
    typed = m.rfc_parse_ctn(ctn)
    model = m.rfc_parse_ctn_model(ctn)
    ops += [("rfc_format_ctn", m.rfc_format_ctn, ctn), ("RfcDocument.to_ctn", type(model).to_ctn, model),
            ("orjson.dumps typed", orjson.dumps, typed)]
for _, f, x in ops:
    f(x)
gc.collect()
print(json.dumps([name for name, _, _ in ops]))
os.getppid()
for _ in range(repeats):
    pass
os.getppid()
for _, f, x in ops:
    for _ in range(repeats):
        f(x)
    os.getppid()
"""


# The functions that split a CTN row, none of which calls itself, so that callgrind's inclusive
# count of each is exact. The rest of a row is the call's own work and the freeing of the tree.
CTN_PARTS = {
    "parse": r"rfc001::ctn::parse_document\(std::basic_string_view<char, std::char_traits<char> >, ",
    "format": r"rfc001::ctn::format_document(\[abi:cxx11\])?\(",
    "str": r"dral_python::new_counted_text\(",
}
CTN_ROWS = ("rfc_format_ctn", "RfcDocument.to_ctn")


def inclusive_parts(dump: Path) -> dict[str, int]:
    """Inclusive instructions of each CTN_PARTS function in one callgrind dump."""
    run = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", str(dump)],
                         capture_output=True, text=True, check=True)
    parts = dict.fromkeys(CTN_PARTS, 0)
    for line in run.stdout.splitlines():
        count = re.match(r"\s*([\d,]+)", line)
        if count is None:
            continue
        for part, pattern in CTN_PARTS.items():
            if re.search(pattern, line):
                parts[part] = max(parts[part], int(count.group(1).replace(",", "")))
    return parts


# Set by --misses: the size of the simulated last-level cache, or None for no simulation.
LAST_LEVEL: int | None = None


def phase_counts(so: str, data_file: str, ctn_file: str, repeats: int) -> dict[str, float]:
    cache = [] if LAST_LEVEL is None else ["--cache-sim=yes", f"--LL={LAST_LEVEL},16,64"]
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", *cache, "--dump-before=os_getppid",
             f"--callgrind-out-file={out}/cg", sys.executable, "-c", CHILD, so, data_file,
             ctn_file, str(repeats)], capture_output=True, text=True,
            env={**os.environ, "PYTHONHASHSEED": "0"})  # dicts probe alike in every run
        if run.returncode != 0:
            raise SystemExit(run.stderr[-2000:])
        names = json.loads(run.stdout.strip().splitlines()[-1])

        def total(n: int) -> tuple[int, int]:
            """Instructions and last-level misses (0 without simulation) of dump n."""
            text = Path(out, f"cg.{n}").read_text()
            events = re.search(r"^events: (.*)$", text, re.M).group(1).split()
            summary = [int(x) for x in re.search(r"^summary: (.*)$", text, re.M).group(1).split()]
            summary += [0] * (len(events) - len(summary))  # trailing zeros may be left out
            counts = dict(zip(events, summary))
            return counts["Ir"], sum(counts.get(e, 0) for e in ("ILmr", "DLmr", "DLmw"))

        empty, empty_misses = total(2)
        counts = {}
        for i, name in enumerate(names):
            instructions, misses = total(3 + i)
            counts[name] = (instructions - empty) / repeats
            counts[f"{name} misses"] = (misses - empty_misses) / repeats
        for i, name in enumerate(names):
            if name in CTN_ROWS:
                parts = inclusive_parts(Path(out, f"cg.{3 + i}"))
                for part, count in parts.items():
                    counts[f"{name} {part}"] = count / repeats
                counts[f"{name} rest"] = counts[name] - sum(parts.values()) / repeats
        return counts


def repeats_for(size: int) -> int:
    return max(2, min(2000, 4_000_000 // max(size, 1)))


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("builds", nargs="*", metavar="SO", help="built modules (default: installed)")
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--files", help="comma-separated data names, e.g. tiny,small,twitter,ctn")
    ap.add_argument("--ctn-size", type=int, default=4_000_000, help="CTN bytes (default 4 MB)")
    ap.add_argument("--misses", action="store_true", help="also count last-level cache misses")
    ap.add_argument("--last-level", type=int, default=2**20, help="simulated LL bytes (1 MiB)")
    args = ap.parse_args()
    global LAST_LEVEL
    LAST_LEVEL = args.last_level if args.misses else None
    builds = args.builds or ["-"]
    wanted = {n.strip().removesuffix(".json") for n in args.files.split(",")} if args.files else None
    corpus = resolve_corpus(args.corpus)
    sets = [("tiny", TINY)]
    github = corpus / "github.json"
    if github.is_file():
        sets.append(("small", json.loads(github.read_text(encoding="utf-8"))[0]))
    sets += [(p.name, p) for p in sorted(corpus.glob("*.json"))]
    header = "".join(f"{'build ' + str(i):>14}{'÷anchor':>9}" for i in range(len(builds)))
    print(f"{'data':<20}{'operation':<28}{'anchor':>14}{header}   (per call: instructions, 'misses': last-level misses)")

    def show(name: str, counts: list[dict[str, float]], pairs) -> None:
        if args.misses:
            pairs = [pair for ours, anchor in pairs
                     for pair in ((ours, anchor), (f"{ours} misses", f"{anchor} misses"))
                     if pair[0] in counts[0]]
        for ours, anchor in pairs:
            if not any(c[ours] for c in counts):  # a part the row has not (to_ctn reads nothing)
                continue
            cells = "".join(f"{c[ours]:14,.0f}{c[ours] / c[anchor]:9.3f}" for c in counts)
            print(f"{name:<20}{ours:<28}{counts[0][anchor]:14,.0f}{cells}", flush=True)

    with tempfile.TemporaryDirectory() as tmp:
        import pickle

        for name, source in sets:
            if wanted is not None and name.removesuffix(".json") not in wanted:
                continue
            obj = json.loads(source.read_text(encoding="utf-8")) if isinstance(source, Path) else source
            data_file = str(Path(tmp, "data.pickle"))
            Path(data_file).write_bytes(pickle.dumps(obj))
            repeats = repeats_for(len(json.dumps(obj)))
            try:
                counts = [phase_counts(so, data_file, "-", repeats) for so in builds]
            except SystemExit as exc:  # data the notation refuses (too deep): reported, not fatal
                print(f"{name:<20}n/a ({str(exc).strip().splitlines()[-1][:80]})")
                continue
            show(name, counts, [("pretty_print", "orjson.dumps indent"),
                                ("parse_text", "orjson.loads indented")])
        if wanted is None or "ctn" in wanted:
            from ctn_document import generate

            ctn_file = Path(tmp, "document.ctn")
            ctn_file.write_text(generate(args.ctn_size), encoding="utf-8")
            counts = [phase_counts(so, "-", str(ctn_file), 2) for so in builds]
            show(f"ctn {args.ctn_size / 1e6:.0f} MB", counts,
                 [(row, "orjson.dumps typed") for name in CTN_ROWS
                  for row in (name, *(f"{name} {part}" for part in (*CTN_PARTS, "rest")))])


if __name__ == "__main__":
    main()
