#!/usr/bin/env python3
"""DralValue views against plain objects: reading parts of a decoded document.

    python3 bench/bench_views.py [--quick] [--files twitter,citm_catalog]

Per corpus file, each side decodes the Dral bytes and then reads them:

- `pick`: for twitter.json, the 100 screen names through v["statuses"][i]["user"]["screen_name"]
  (`loads_value` and views against `loads` and subscripts); other files skip it.
- `walk`: every value of the document, each container through its entries or items and each
  scalar through its value (`loads_value` plus a walk of views against `loads` plus the same walk
  of the objects).

- `keys`: every key of an object of 32,768 entries looked up once, in a shuffled order, through
  a view of it against the dict (`--keys N` sets the size). A view looks keys up in a sorted index
  once a few scans have paid for it: O(log n) a lookup, where a scan per lookup was quadratic.

A view's accessor should cost about what the part it selects costs; the goal for the walk is at
most 2 × `loads` plus the walk. Same method as the other benches: gc on, process CPU time,
calibrated loops, repeats round-robin, medians.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import random
from pathlib import Path

import dral
from timing import fmt, measure

DEFAULT_CORPUS = Path(__file__).resolve().parent.parent.parent / "shared" / "corpus"


def pick_views(data: bytes):
    v = dral.loads_value(data)
    return [v["statuses"][i]["user"]["screen_name"].value for i in range(len(v["statuses"]))]


def pick_objects(data: bytes):
    v = dral.loads(data)
    return [v["statuses"][i]["user"]["screen_name"] for i in range(len(v["statuses"]))]


def walk_view(view, out: list) -> None:
    if view.is_object:
        for _key, child in view.items():
            walk_view(child, out)
    elif view.is_array:
        for child in view.values():
            walk_view(child, out)
    else:
        out.append(view.value)


def walk_object(value, out: list) -> None:
    if type(value) is dict:
        for _key, child in value.items():
            walk_object(child, out)
    elif type(value) is list:
        for child in value:
            walk_object(child, out)
    else:
        out.append(value)


def walk_views(data: bytes) -> list:
    out: list = []
    walk_view(dral.loads_value(data), out)
    return out


def walk_objects(data: bytes) -> list:
    out: list = []
    walk_object(dral.loads(data), out)
    return out


def key_lookups(pair) -> int:
    mapping, keys = pair
    return sum(mapping[key] is not None for key in keys)


def keys_case(size: int):
    """A view and a dict of `size` entries, each with its keys in one shuffled order."""
    keys = [f"key-{i:08d}" for i in range(size)]
    obj = dict.fromkeys(keys, 1)
    random.Random(size).shuffle(keys)
    return (dral.loads_value(dral.dumps(obj)), keys), (obj, keys)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--files", default="twitter,citm_catalog,github,canada",
                    help="comma-separated file names, with or without .json")
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~20 ms")
    ap.add_argument("--keys", type=int, default=32_768, help="entries of the object of the keys case")
    args = ap.parse_args()
    corpus = Path(args.corpus or os.environ.get("DRAL_CORPUS") or DEFAULT_CORPUS)
    repeats, target_ns = (3, 20e6) if args.quick else (11, 50e6)

    print(f"corpus: {corpus}; {repeats} repeats of ~{target_ns / 1e6:.0f} ms, process CPU time, gc on")
    print(f"{'file':<22}{'read':<6}{'views':>11}{'objects':>11}{'÷':>7}")
    for name in args.files.split(","):
        path = corpus / (name.removesuffix(".json") + ".json")
        data = dral.dumps(json.loads(path.read_text(encoding="utf-8")))
        cases = []
        if "statuses" in dral.loads(data):
            assert pick_views(data) == pick_objects(data)
            cases.append(("pick", pick_views, pick_objects))
        assert walk_views(data) == walk_objects(data)
        cases.append(("walk", walk_views, walk_objects))
        for read, views, objects in cases:
            gc.collect()
            t_views, t_objects = measure([(views, data), (objects, data)], repeats, target_ns)
            print(f"{path.name:<22}{read:<6}{fmt(t_views):>11}{fmt(t_objects):>11}"
                  f"{t_views / t_objects:7.2f}", flush=True)
    view_pair, dict_pair = keys_case(args.keys)
    assert key_lookups(view_pair) == key_lookups(dict_pair) == args.keys
    gc.collect()
    t_views, t_objects = measure([(key_lookups, view_pair), (key_lookups, dict_pair)], repeats, target_ns)
    print(f"{f'{args.keys} keys':<22}{'keys':<6}{fmt(t_views):>11}{fmt(t_objects):>11}{t_views / t_objects:7.2f}")
    print("÷ = views / objects (goal for walk: at most 2.0)")


if __name__ == "__main__":
    main()
