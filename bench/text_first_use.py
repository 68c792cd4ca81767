#!/usr/bin/env python3
"""Text calls on objects no call has seen yet: the first write of a new document, the first
parse of a new str, and then the same call on the same object again.

    python3 bench/text_first_use.py [--files gsoc-2018,random] [--rounds 15] [--corpus DIR]

bench_text.py calls each function on one object many times. orjson encodes every str that is not
ASCII to UTF-8 and the str keeps that copy: from the second call on, it writes a document's strs
(and reads a text given as a str) without encoding them. A program that writes a document it has
just built, or parses a text it has just received, meets every str once. Here each round builds
the objects anew (untimed: `json.loads` of the file, or a copy of the text), times one call on
them, then one more on the same objects; the order of Dral and orjson alternates from round to
round, and the garbage collector stays enabled. Printed: the median of each, as Dral ÷ orjson.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import time
from pathlib import Path

import orjson

import dral

DEFAULT_CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus"


def orjson_indented(obj):
    return orjson.dumps(obj, option=orjson.OPT_INDENT_2)


def timed(fn, arg) -> int:
    start = time.process_time_ns()
    fn(arg)
    return time.process_time_ns() - start


def first_and_again(contenders, make, rounds: int) -> dict[str, tuple[float, float]]:
    """Median ns of the first call on a new object and of a second call on it, per contender."""
    samples = {name: ([], []) for name in contenders}
    for r in range(rounds):
        order = list(contenders.items())
        for name, fn in order if r % 2 else order[::-1]:
            obj = make(name)
            first, again = samples[name]
            first.append(timed(fn, obj))
            again.append(timed(fn, obj))
            del obj
    return {name: (statistics.median(f), statistics.median(a)) for name, (f, a) in samples.items()}


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--files", help="comma-separated file names, with or without .json")
    ap.add_argument("--rounds", type=int, default=15)
    args = ap.parse_args()
    corpus = Path(args.corpus or os.environ.get("DRAL_CORPUS") or DEFAULT_CORPUS)
    if not corpus.is_dir():
        raise SystemExit(f"corpus not found at {corpus} (set DRAL_CORPUS or --corpus)")
    wanted = {n.removesuffix(".json") for n in args.files.split(",")} if args.files else None
    paths = [p for p in sorted(corpus.glob("*.json")) if wanted is None or p.stem in wanted]

    print(f"corpus: {corpus}; {args.rounds} rounds, one call each, process CPU time, gc on")
    print(f"{'file':<20}{'write first':>13}{'again':>9}{'parse first':>13}{'again':>9}   (Dral ÷ orjson)")
    for path in paths:
        raw = path.read_text(encoding="utf-8")
        document = json.loads(raw)
        try:
            texts = {"dral": dral.pretty_print(document), "orjson": orjson_indented(document).decode()}
        except Exception as exc:  # noqa: BLE001 - a refused document is reported, not fatal
            print(f"{path.name:<20}n/a ({type(exc).__name__}: {exc})")
            continue
        del document
        writes = first_and_again({"dral": dral.pretty_print, "orjson": orjson_indented},
                                 lambda _: json.loads(raw), args.rounds)
        # A new str of the same characters: slicing off and adding back the last one copies it.
        parses = first_and_again({"dral": dral.parse_text, "orjson": orjson.loads},
                                 lambda name: texts[name][:-1] + texts[name][-1], args.rounds)
        ratio = {kind: [results["dral"][i] / results["orjson"][i] for i in (0, 1)]
                 for kind, results in (("write", writes), ("parse", parses))}
        print(f"{path.name:<20}{ratio['write'][0]:>13.2f}{ratio['write'][1]:>9.2f}"
              f"{ratio['parse'][0]:>13.2f}{ratio['parse'][1]:>9.2f}", flush=True)


if __name__ == "__main__":
    main()
