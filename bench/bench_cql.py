#!/usr/bin/env python3
"""Speed of path queries over a large generated document, compiled once.

    python3 bench/bench_cql.py [--size BYTES] [--quick]

Each query is timed in the same rounds as an anchor that does a known share of its work:
- a point query (`.title`) against `rfc_decode_cbf_model`, which decodes the file and converts
  nothing: a query decodes only what it selects, so this is a small fraction;
- `.items[]` as dictionaries against `orjson.loads` of the JSON of the very list it returns;
- `.items[]` as models against the same query as dictionaries: models share the decoded results;
- a projection through references (`.items[].region.name`) against the point query;
- the point query over CTN text against `rfc_compile_ctn`, which the text path runs first.
"""

from __future__ import annotations

import argparse
import gc

import orjson

import dral
from ctn_document import generate
from timing import fmt, measure

POINT, ALL, PROJECTION = ".title", ".items[]", ".items[].region.name"


def row(name: str, ours: float, anchor: float, anchor_name: str) -> None:
    print(f"{name:<38}{fmt(ours):>11}   {anchor_name:<34}{fmt(anchor):>11}{ours / anchor:7.2f}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--size", type=int, default=3_000_000, help="CTN bytes (default 3 MB)")
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~0.3 s")
    args = ap.parse_args()

    text = generate(args.size)
    data = dral.rfc_compile_ctn(text)
    items = dral.rfc_query_cbf(data, ALL)
    as_json = orjson.dumps(items)
    assert orjson.loads(as_json) == items, "the anchor must build the same objects"
    assert [m.to_dict() for m in dral.rfc_query_cbf_model(data, ALL)] == items
    names = dral.rfc_query_cbf(data, PROJECTION)
    assert len(names) == len(items) and dral.rfc_query_ctn(text, POINT) == dral.rfc_query_cbf(data, POINT)
    repeats = 3 if args.quick else 9
    target_ns = (0.3 if args.quick else 1.0) * 1e9
    print(f"document: {len(text.encode()) / 1e6:.1f} MB of CTN, {len(data) / 1e6:.1f} MB of CBF, "
          f"{len(items)} items; {repeats} repeats of ~{target_ns / 1e9:.1f} s, process CPU time, gc on")
    gc.collect()

    def query(expression, function=dral.rfc_query_cbf):
        return lambda source: function(source, expression)

    point, decode, all_dicts, loads, all_models, projection, ctn_point, compile_ = measure(
        [(query(POINT), data), (dral.rfc_decode_cbf_model, data), (query(ALL), data),
         (orjson.loads, as_json), (query(ALL, dral.rfc_query_cbf_model), data),
         (query(PROJECTION), data), (query(POINT, dral.rfc_query_ctn), text),
         (dral.rfc_compile_ctn, text)],
        repeats, target_ns)
    row(f"rfc_query_cbf {POINT}", point, decode, "rfc_decode_cbf_model")
    row(f"rfc_query_cbf {ALL}", all_dicts, loads, "orjson.loads (same list)")
    row(f"rfc_query_cbf_model {ALL}", all_models, all_dicts, f"rfc_query_cbf {ALL}")
    row(f"rfc_query_cbf {PROJECTION}", projection, point, f"rfc_query_cbf {POINT}")
    row(f"rfc_query_ctn {POINT}", ctn_point, compile_, "rfc_compile_ctn")


if __name__ == "__main__":
    main()
