#!/usr/bin/env python3
"""dumps of records that mix in values off the exact types: enum members, int and float
subclasses, str enums, tuples and bytes.

    python3 bench/bench_mixed.py [--quick] [--count N]

Every conversion accepts such values, and each row should cost about what its plain twin costs
(the same records with every odd value replaced by the plain int, float, str or list it stands
for): one odd value must not make the whole document take another path. Per row: `dral.dumps`
against orjson, msgspec and ormsgpack (n/a where a library refuses the values), Dral ÷ the best of
them, and Dral ÷ Dral on the plain twin. Same method as the other benches:
gc on, process CPU time, calibrated loops, repeats round-robin, medians.
"""

from __future__ import annotations

import argparse
import enum
import gc

import msgspec
import orjson
import ormsgpack

import dral
from timing import fmt, measure


class Colour(enum.IntEnum):
    RED = 1
    GREEN = 2


class Weight(float, enum.Enum):
    LIGHT = 0.25


class Kind(str, enum.Enum):
    USER = "user"


class Count(int):
    pass


class Score(float):
    pass


def record(i: int) -> dict:
    return {"id": i, "name": f"user{i}", "score": i * 0.5, "tags": ["a", "b"], "active": i % 2 == 0}


def rows(count: int):
    plain = [record(i) for i in range(count)]

    def with_each(change):
        out = [record(i) for i in range(count)]
        for i, r in enumerate(out):
            change(i, r)
        return out

    one_enum = [record(i) for i in range(count)]
    one_enum[count // 2]["kind"] = Colour.RED
    return [
        ("plain", plain),
        ("one IntEnum", one_enum),
        ("IntEnum in each", with_each(lambda i, r: r.__setitem__("kind", Colour(1 + i % 2)))),
        ("int subclass in each", with_each(lambda i, r: r.__setitem__("id", Count(i)))),
        ("float subclass in each", with_each(lambda i, r: r.__setitem__("score", Score(i * 0.5)))),
        ("float enum in each", with_each(lambda i, r: r.__setitem__("weight", Weight.LIGHT))),
        ("str enum in each", with_each(lambda i, r: r.__setitem__("kind", Kind.USER))),
        ("tuple in each", with_each(lambda i, r: r.__setitem__("tags", ("a", "b")))),
        ("bytes in each", with_each(lambda i, r: r.__setitem__("raw", b"\x00\x01"))),
    ]


def plain_twin(value):
    """The same value with exact types only."""
    if isinstance(value, dict):
        return {str(k): plain_twin(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain_twin(v) for v in value]
    if isinstance(value, bool) or value is None or type(value) is bytes:
        return value
    for exact in (int, float, str):
        if isinstance(value, exact):
            return exact.__new__(exact, value) if exact is not str else str.__str__(value)
    return value


PEERS = [("orjson", orjson.dumps), ("msgspec", msgspec.msgpack.encode), ("ormsgpack", ormsgpack.packb)]


def accepts(fn, obj) -> bool:
    try:
        fn(obj)
        return True
    except Exception:  # noqa: BLE001 - a refused value is reported as n/a
        return False


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~20 ms")
    ap.add_argument("--count", type=int, default=50_000, help="records per row (default 50000)")
    args = ap.parse_args()
    repeats, target_ns = (3, 20e6) if args.quick else (11, 50e6)

    print(f"{args.count} records per row; {repeats} repeats of ~{target_ns / 1e6:.0f} ms, process CPU time, gc on")
    print(f"{'row':<24}{'dral':>11}" + "".join(f"{name:>11}" for name, _ in PEERS)
          + f"{'÷best':>8}{'÷twin':>8}")
    for name, obj in rows(args.count):
        twin = plain_twin(obj)
        assert dral.dumps(obj) == dral.dumps(twin)
        peers = [(n, fn) for n, fn in PEERS if accepts(fn, obj)]
        gc.collect()
        times = measure([(dral.dumps, obj), (dral.dumps, twin)] + [(fn, obj) for _, fn in peers],
                        repeats, target_ns)
        by_name = dict(zip([n for n, _ in peers], times[2:]))
        dral_time, twin_time = times[:2]
        best = min(by_name.values()) if by_name else None
        cells = "".join(f"{fmt(by_name[n]) if n in by_name else 'n/a':>11}" for n, _ in PEERS)
        print(f"{name:<24}{fmt(dral_time):>11}{cells}"
              f"{dral_time / best if best else float('nan'):8.2f}{dral_time / twin_time:8.2f}", flush=True)
    print("÷best = Dral / fastest peer that accepts the row; "
          "÷twin = Dral / Dral on the same records with plain values only")


if __name__ == "__main__":
    main()
