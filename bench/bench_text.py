#!/usr/bin/env python3
"""Speed of Dral's text notation against json, one corpus file at a time.

    PYENV_VERSION=3.12.1 python3 bench/bench_text.py [--quick] [--files a,b] [--corpus DIR]

Measured per file: `dral.parse_text` against `json.loads` and `dral.pretty_print`
against `json.dumps(indent=2)`. Each reader gets its own writer's indented text
of the same document, so both read a similar layout. The garbage collector stays
enabled, as users run these calls; repeats are taken round-robin so machine
noise hits both sides alike, and the median per-call time is printed.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
from pathlib import Path

import dral
from timing import fmt, measure

DEFAULT_CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus"


def dumps_indented(obj):
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
    files = [p for p in sorted(corpus.glob("*.json")) if wanted is None or p.stem in wanted]

    print(f"corpus: {corpus}; {repeats} repeats of ~{target_ns / 1e6:.0f} ms, process CPU time, gc on")
    print(f"{'file':<22}{'parse_text':>12}{'json.loads':>12}{'ratio':>7}"
          f"{'pretty_print':>14}{'json.dumps':>12}{'ratio':>7}")
    for path in files:
        document = json.loads(path.read_text(encoding="utf-8"))
        try:
            text = dral.pretty_print(document)
        except Exception as exc:  # noqa: BLE001 - a refused document is reported, not fatal
            print(f"{path.name:<22}n/a ({type(exc).__name__}: {exc})")
            continue
        json_text = dumps_indented(document)
        gc.collect()
        parse, loads, pretty, dumps = measure(
            [(dral.parse_text, text), (json.loads, json_text),
             (dral.pretty_print, document), (dumps_indented, document)],
            repeats, target_ns)
        print(f"{path.name:<22}{fmt(parse):>12}{fmt(loads):>12}{parse / loads:7.2f}"
              f"{fmt(pretty):>14}{fmt(dumps):>12}{pretty / dumps:7.2f}")
        del document, text, json_text
    print("ratio = Dral time / json time (below 1.0: Dral is faster)")


if __name__ == "__main__":
    main()
