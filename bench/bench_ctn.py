#!/usr/bin/env python3
"""Speed and memory of the CTN reader and writer on a large generated document.

    python3 bench/bench_ctn.py [--size BYTES] [--quick]

Anchors, each timed in the same rounds as its contender and producing the same Python objects:
- `rfc_parse_ctn(text)` against `orjson.loads` of the JSON of the very dictionary it returns;
- `rfc_format_ctn(text)` (parse and format) against `orjson.dumps` of that dictionary, and the
  formatting alone (`RfcDocument.to_ctn()` of a parsed model) against the same;
- `rfc_parse_ctn_model(text)` and a walk of every value through the model, against
  `rfc_parse_ctn(text)` and the same walk over the dictionaries;
- the peak resident memory of `rfc_parse_ctn`, in a fresh process, against the text's size and
  against `orjson.loads` building the same objects.
"""

from __future__ import annotations

import argparse
import gc
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import orjson

import dral
from ctn_document import generate
from timing import fmt, measure

CHILD_VALUES = {
    "product": lambda d: [f["value"] for f in d["fields"]],
    "sum": lambda d: d["payload"].get("items") or [f["value"] for f in d["payload"].get("fields", [])],
    "sequence": lambda d: d["items"],
    "association": lambda d: [pair[1] for pair in d["pairs"]],
}


def walk_dict(value) -> int:
    """Visits every value reachable the way RfcValue.values() reaches them; counts scalars."""
    count, stack = 0, [value]
    while stack:
        value = stack.pop()
        kind = value["kind"]
        if kind in CHILD_VALUES:
            stack.extend(CHILD_VALUES[kind](value))
        elif kind == "scalar":
            count += value["value"] is not None
    return count


def walk_model(value) -> int:
    count, stack = 0, [value]
    while stack:
        value = stack.pop()
        if value.is_scalar:
            count += value.scalar_value is not None
        else:
            stack.extend(value.values())
    return count


def parse_then_walk_dict(text):
    document = dral.rfc_parse_ctn(text)
    return sum(walk_dict(b["value"]) for b in document["bindings"]) + walk_dict(document["root"])


def parse_then_walk_model(text):
    document = dral.rfc_parse_ctn_model(text)
    return sum(walk_model(b.value) for b in document.bindings) + walk_model(document.root)


def without_gc(fn):
    def call(arg):
        gc.disable()
        try:
            return fn(arg)
        finally:
            gc.enable()

    return call


def peak_child(path: str, reader: str) -> None:
    from rss import reset_peak, status_bytes, trim_heap

    if reader == "ctn":
        arg, parse = Path(path).read_text(encoding="utf-8"), dral.rfc_parse_ctn
        parse("let x = 1")
    else:
        arg, parse = Path(path).read_bytes(), orjson.loads
        parse(b"[1]")
    gc.collect()
    trim_heap()
    reset_peak()
    before = status_bytes("VmRSS")
    document = parse(arg)
    print(json.dumps({"peak": status_bytes("VmHWM") - before, "kept": status_bytes("VmRSS") - before,
                      "input": len(arg.encode()) if isinstance(arg, str) else len(arg)}))
    del document


def peak_memory(data: bytes, reader: str) -> dict:
    with tempfile.NamedTemporaryFile("wb", delete=False) as fh:
        fh.write(data)
    try:
        out = subprocess.run([sys.executable, __file__, "--peak-child", fh.name, reader], check=True,
                             capture_output=True, text=True, cwd=Path(__file__).parent).stdout
    finally:
        Path(fh.name).unlink()
    return json.loads(out)


def row(name: str, ours: float, anchor: float, anchor_name: str, goal: float | None) -> None:
    ratio = ours / anchor
    mark = "" if goal is None else (" ok" if ratio <= goal else f" MISS (goal {goal})")
    print(f"{name:<34}{fmt(ours):>11}   {anchor_name:<30}{fmt(anchor):>11}{ratio:7.2f}{mark}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--size", type=int, default=3_000_000, help="CTN bytes (default 3 MB)")
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~0.3 s")
    ap.add_argument("--repeats", type=int, help="repeats per case (default 9, quick 3)")
    ap.add_argument("--peak-child", nargs=2, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.peak_child:
        return peak_child(*args.peak_child)

    text = generate(args.size)
    document = dral.rfc_parse_ctn(text)
    as_json = orjson.dumps(document)
    assert orjson.loads(as_json) == document, "the anchor must build the same objects"
    model = dral.rfc_parse_ctn_model(text)
    assert model.to_dict() == document
    assert parse_then_walk_model(text) == parse_then_walk_dict(text)
    repeats = args.repeats or (3 if args.quick else 9)
    target_ns = (0.3 if args.quick else 1.0) * 1e9
    print(f"document: {len(text.encode()) / 1e6:.1f} MB of CTN, {len(as_json) / 1e6:.1f} MB as JSON; "
          f"{repeats} repeats of ~{target_ns / 1e9:.1f} s, process CPU time, gc on")
    gc.collect()

    parse, loads, loads_gc_off, fmt_text, dumps, to_ctn, walk_model_t, walk_dict_t = measure(
        [(dral.rfc_parse_ctn, text), (orjson.loads, as_json), (without_gc(orjson.loads), as_json),
         (dral.rfc_format_ctn, text),
         (orjson.dumps, document), (type(model).to_ctn, model), (parse_then_walk_model, text),
         (parse_then_walk_dict, text)],
        repeats, target_ns)
    row("rfc_parse_ctn", parse, loads, "orjson.loads (same dict)", 1.0)
    row("", parse, loads_gc_off, "orjson.loads, collector disabled", None)
    row("rfc_format_ctn (parse + format)", fmt_text, dumps, "orjson.dumps (same dict)", 1.0)
    row("  RfcDocument.to_ctn (format only)", to_ctn, dumps, "orjson.dumps (same dict)", 0.3)
    row("rfc_parse_ctn_model + walk", walk_model_t, walk_dict_t, "rfc_parse_ctn + walk", None)
    ours, theirs = peak_memory(text.encode(), "ctn"), peak_memory(as_json, "orjson")
    mib = 2**20
    print(f"peak RSS of rfc_parse_ctn: {ours['peak'] / mib:.1f} MiB for {ours['input'] / mib:.1f} MiB of "
          f"text ({ours['peak'] / ours['input']:.1f}x), {ours['kept'] / mib:.1f} MiB kept after the call; "
          f"orjson.loads of the same dictionary's JSON: {theirs['peak'] / mib:.1f} MiB peak "
          f"({ours['peak'] / theirs['peak']:.2f}x)")

if __name__ == "__main__":
    main()
