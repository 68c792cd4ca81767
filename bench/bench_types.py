#!/usr/bin/env python3
"""dumps of dataclass rows holding a datetime, a UUID, an enum member and a few scalars, and the
cost of each call of a default hook.

    python3 bench/bench_types.py [--quick] [--count N]

Rows: `dral.dumps` against `orjson.dumps` and `msgspec.msgpack.encode` (both write these types
natively; msgspec writes datetimes as msgpack timestamps), with H, one XXH64 pass over Dral's
output: the goal is Dral at most the best peer plus 2 H (the format's two hash passes). The same
rows as plain dicts of the strings they convert to show what the conversion itself costs.

Hook: a list of N objects that each library refuses, converted by a hook returning a short
string (`default=` for Dral and orjson, `enc_hook=` for msgspec), less the same library on the
list of those strings: the cost of one hook call. The goal is Dral's at most orjson's.

Same method as the other benches: gc on, process CPU time, calibrated loops, repeats taken
round-robin (every contender in the same rounds), medians; ratios are the figures to trust.
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import enum
import gc
import uuid

import msgspec
import orjson
import xxhash

import dral
from timing import fmt, measure


class Status(enum.Enum):
    ACTIVE = "active"
    SUSPENDED = "suspended"


@dataclasses.dataclass
class Row:
    id: int
    name: str
    when: datetime.datetime
    key: uuid.UUID
    status: Status
    score: float
    active: bool


def rows(count: int) -> list[Row]:
    start = datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc)
    return [
        Row(i, f"user{i}", start + datetime.timedelta(seconds=i * 37, microseconds=i % 7),
            uuid.UUID(int=i * 0x9E3779B97F4A7C15 % 2**128), Status.ACTIVE if i % 3 else Status.SUSPENDED,
            i * 0.25, i % 2 == 0)
        for i in range(count)
    ]


def as_dicts(table: list[Row]) -> list[dict]:
    """The rows as the plain dicts Dral writes for them."""
    return [dral.loads(dral.dumps(row)) for row in table]


class Opaque:
    __slots__ = ()


def hook(obj) -> str:
    return "opaque"


def row_table(count: int, repeats: int, target_ns: float) -> None:
    table = rows(count)
    plain = as_dicts(table)
    data = dral.dumps(table)
    assert dral.loads(data) == plain
    assert dral.loads(data) == orjson.loads(orjson.dumps(table))
    contenders = [("dral", dral.dumps, table), ("orjson", orjson.dumps, table),
                  ("msgspec", msgspec.msgpack.encode, table), ("H", xxhash.xxh64_intdigest, data),
                  ("dral plain", dral.dumps, plain)]
    gc.collect()
    times = dict(zip([c[0] for c in contenders], measure([(fn, arg) for _, fn, arg in contenders],
                                                         repeats, target_ns)))
    best = min(times["orjson"], times["msgspec"])
    print(f"\n{count} dataclass rows")
    for name, _, _ in contenders:
        print(f"  {name:<12}{fmt(times[name]):>11}{times[name] / count:9.0f} ns/row")
    print(f"  dral / best peer {times['dral'] / best:.2f}; goal (best + 2 H) / best "
          f"{(best + 2 * times['H']) / best:.2f}; dral / dral on plain dicts {times['dral'] / times['dral plain']:.2f}")


def hook_table(count: int, repeats: int, target_ns: float) -> None:
    objects, strings = [Opaque()] * count, ["opaque"] * count
    encoder = msgspec.msgpack.Encoder(enc_hook=hook)
    pairs = {
        "dral": ((lambda x: dral.dumps(x, default=hook), objects), (dral.dumps, strings)),
        "orjson": ((lambda x: orjson.dumps(x, default=hook), objects), (orjson.dumps, strings)),
        "msgspec": ((encoder.encode, objects), (encoder.encode, strings)),
    }
    assert dral.loads(pairs["dral"][0][0](objects)) == strings
    gc.collect()
    flat = [pair for both in pairs.values() for pair in both]
    times = measure(flat, repeats, target_ns)
    per_call = {name: (times[2 * i] - times[2 * i + 1]) / count for i, name in enumerate(pairs)}
    print(f"\ndefault hook, {count} calls (hooked list less the list of its results)")
    for name, cost in per_call.items():
        print(f"  {name:<12}{cost:9.1f} ns/call")
    print(f"  dral / orjson {per_call['dral'] / per_call['orjson']:.2f}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~20 ms")
    ap.add_argument("--count", type=int, default=50_000, help="rows and hook calls (default 50000)")
    args = ap.parse_args()
    repeats, target_ns = (3, 20e6) if args.quick else (11, 50e6)
    print(f"{repeats} repeats of ~{target_ns / 1e6:.0f} ms, process CPU time, gc on; "
          f"orjson {orjson.__version__}, msgspec {msgspec.__version__}")
    row_table(args.count, repeats, target_ns)
    hook_table(args.count, repeats, target_ns)


if __name__ == "__main__":
    main()
