#!/usr/bin/env python3
"""Speed and size of the compiled binary form on a large generated document.

    python3 bench/bench_cbf.py [--size BYTES] [--quick]

Anchors, each timed in the same rounds as its contender and building the same Python objects:
- `rfc_query_cbf(data, ".")` against `msgspec.msgpack.decode` of the msgpack of the very list it
  returns;
- `rfc_decode_cbf(data)` against the same anchor for its whole dictionary, with its time split
  into decoding (`rfc_decode_cbf_model`, which decodes and frees the tree as rfc_decode_cbf
  does), formatting (`RfcDecodedCbf.ctn`) and conversion to dictionaries (the rest);
- `rfc_compile_ctn(text)` against `rfc_parse_ctn(text)`;
- a selective query, one field of every item of the root's long sequence, against
  `rfc_decode_cbf` plus the same selection in Python;
- the sizes of the compiled file, the CTN text and the msgpack of the decoded dictionary.
"""

from __future__ import annotations

import argparse
import gc

import msgspec

import dral
from ctn_document import generate
from timing import fmt, measure

SELECTIVE_QUERY = ".items[].id"


def field(value: dict, name: str):
    return next(f["value"] for f in value["fields"] if f["name"] == name)


def decode_then_select(data: bytes) -> list:
    root = dral.rfc_decode_cbf(data)["document"]["root"]
    return [field(item, "id") for item in field(root, "items")["items"]]


def row(name: str, ours: float, anchor: float, anchor_name: str, goal: float | None) -> None:
    ratio = ours / anchor
    mark = "" if goal is None else (" ok" if ratio <= goal else f" MISS (goal {goal})")
    print(f"{name:<36}{fmt(ours):>11}   {anchor_name:<34}{fmt(anchor):>11}{ratio:7.2f}{mark}")


def part(name: str, ns: float, whole: float) -> None:
    print(f"  {name:<34}{fmt(ns):>11}   {ns / whole:6.0%} of rfc_decode_cbf")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--size", type=int, default=3_000_000, help="CTN bytes (default 3 MB)")
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~0.3 s")
    ap.add_argument("--repeats", type=int, help="repeats per case (default 9, quick 3)")
    args = ap.parse_args()

    text = generate(args.size)
    data = dral.rfc_compile_ctn(text)
    whole = dral.rfc_query_cbf(data, ".")
    whole_packed = msgspec.msgpack.encode(whole)
    assert msgspec.msgpack.decode(whole_packed) == whole, "the anchor must build the same objects"
    decoded = dral.rfc_decode_cbf(data)
    decoded_packed = msgspec.msgpack.encode(decoded)
    assert msgspec.msgpack.decode(decoded_packed) == decoded
    model = dral.rfc_decode_cbf_model(data)
    assert model.to_dict() == decoded
    selected = dral.rfc_query_cbf(data, SELECTIVE_QUERY)
    assert selected == decode_then_select(data) and len(selected) > 1000

    repeats = args.repeats or (3 if args.quick else 9)
    target_ns = (0.3 if args.quick else 1.0) * 1e9
    print(f"document: {len(text.encode()) / 1e6:.1f} MB of CTN, {len(data) / 1e6:.1f} MB compiled; "
          f"{repeats} repeats of ~{target_ns / 1e9:.1f} s, process CPU time, gc on")
    del decoded, whole
    gc.collect()

    (query_all, query_anchor, decode, decode_anchor, decode_only, format_only, compile_, parse,
     query_some, select) = measure(
        [(lambda d: dral.rfc_query_cbf(d, "."), data), (msgspec.msgpack.decode, whole_packed),
         (dral.rfc_decode_cbf, data), (msgspec.msgpack.decode, decoded_packed),
         (dral.rfc_decode_cbf_model, data), (lambda m: m.ctn, model),
         (dral.rfc_compile_ctn, text), (dral.rfc_parse_ctn, text),
         (lambda d: dral.rfc_query_cbf(d, SELECTIVE_QUERY), data), (decode_then_select, data)],
        repeats, target_ns)
    row('rfc_query_cbf(data, ".")', query_all, query_anchor, "msgspec.msgpack.decode (same list)", 1.0)
    row("rfc_decode_cbf", decode, decode_anchor, "msgspec.msgpack.decode (same dict)", None)
    part("decoding (rfc_decode_cbf_model)", decode_only, decode)
    part("formatting (RfcDecodedCbf.ctn)", format_only, decode)
    part("conversion (the rest)", decode - decode_only - format_only, decode)
    row("rfc_compile_ctn", compile_, parse, "rfc_parse_ctn", 1.5)
    row(f'rfc_query_cbf(data, "{SELECTIVE_QUERY}")', query_some, select, "rfc_decode_cbf + Python selection", None)
    print(f"size: compiled {len(data) / 1e6:.2f} MB = {len(data) / len(text.encode()):.2f} x the CTN text, "
          f"{len(data) / len(decoded_packed):.2f} x the msgpack of the decoded dictionary "
          f"({len(decoded_packed) / 1e6:.2f} MB)")


if __name__ == "__main__":
    main()
