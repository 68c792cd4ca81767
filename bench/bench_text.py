#!/usr/bin/env python3
"""Speed of Dral's text notation against orjson (and json), one corpus file at a time.

    python3 bench/bench_text.py [--quick] [--files a,b] [--corpus DIR]

Measured per file: `dral.parse_text` against `orjson.loads` and `json.loads`, each reading its
own writer's indented text of the same document (a str for all three), and `dral.pretty_print`
against `orjson.dumps(obj, option=orjson.OPT_INDENT_2)` and `json.dumps(obj, indent=2)`, on `tiny`,
`small` (github.json's first element) and every corpus file. Goals: parse_text ≤ 0.9 ×
orjson.loads, pretty_print ≤ orjson.dumps. The garbage collector stays
enabled, as users run these calls; repeats are taken round-robin so machine noise hits every
contender alike, and the median per-call time is printed.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
from pathlib import Path

import orjson

import dral
from bench_binary import NUMBERED_KEYS, TINY
from timing import fmt, measure

DEFAULT_CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus"
PARSE_GOAL, PRETTY_GOAL = 0.9, 1.0  # of orjson's time


def orjson_indented(obj):
    return orjson.dumps(obj, option=orjson.OPT_INDENT_2)


def json_indented(obj):
    return json.dumps(obj, indent=2)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--files", help="comma-separated file names, with or without .json")
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~20 ms")
    ap.add_argument("--repeats", type=int, help="repeats per case (default 11, quick 3)")
    args = ap.parse_args()
    corpus = Path(args.corpus or os.environ.get("DRAL_CORPUS") or DEFAULT_CORPUS)
    if not corpus.is_dir():
        raise SystemExit(f"corpus not found at {corpus} (set DRAL_CORPUS or --corpus)")
    repeats = args.repeats or (3 if args.quick else 11)
    target_ns = (20 if args.quick else 50) * 1e6
    wanted = {n.removesuffix(".json") for n in args.files.split(",")} if args.files else None
    sets = [("tiny", lambda: TINY), ("small", lambda: json.loads((corpus / "github.json").read_text())[0]),
            ("numbered-keys", lambda: NUMBERED_KEYS)]
    sets += [(p.name, lambda p=p: json.loads(p.read_text(encoding="utf-8"))) for p in sorted(corpus.glob("*.json"))]
    sets = [(name, load) for name, load in sets if wanted is None or name.removesuffix(".json") in wanted]

    print(f"corpus: {corpus}; {repeats} repeats of ~{target_ns / 1e6:.0f} ms, process CPU time, gc on")
    print(f"{'file':<20}{'parse_text':>11}{'orjson':>11}{'json':>11}{'÷orjson':>9}"
          f"{'pretty_print':>14}{'orjson':>11}{'json':>11}{'÷orjson':>9}")
    for name, load in sets:
        document = load()
        try:
            text = dral.pretty_print(document)
            orjson_text = orjson_indented(document).decode()
        except Exception as exc:  # noqa: BLE001 - a refused document is reported, not fatal
            print(f"{name:<20}n/a ({type(exc).__name__}: {exc})")
            continue
        json_text = json_indented(document)
        gc.collect()
        parse, o_loads, j_loads, pretty, o_dumps, j_dumps = measure(
            [(dral.parse_text, text), (orjson.loads, orjson_text), (json.loads, json_text),
             (dral.pretty_print, document), (orjson_indented, document), (json_indented, document)],
            repeats, target_ns)
        print(f"{name:<20}{fmt(parse):>11}{fmt(o_loads):>11}{fmt(j_loads):>11}"
              f"{parse / o_loads:8.2f}{'!' if parse > PARSE_GOAL * o_loads else ' '}"
              f"{fmt(pretty):>14}{fmt(o_dumps):>11}{fmt(j_dumps):>11}"
              f"{pretty / o_dumps:8.2f}{'!' if pretty > PRETTY_GOAL * o_dumps else ' '}", flush=True)
        del document, text, orjson_text, json_text
    print(f"÷orjson = Dral time / orjson time; goals: parse_text <= {PARSE_GOAL}, "
          f"pretty_print <= {PRETTY_GOAL} ('!' = missed)")


if __name__ == "__main__":
    main()
