#!/usr/bin/env python3
"""Key lookups through DralValue views, one case per run, for instruction counts under callgrind.

    valgrind --tool=callgrind --callgrind-out-file=/dev/null python3 bench/view_lookups.py CASE

Run each case with the interpreter of each build (the venv of the old commit, of the new) and
subtract the count of the case `none` (start-up and data) from each:

- `every-key`: each key of an object of 16,384 entries looked up once, in a shuffled order, in a
  view made for it;
- `one-lookup`: one lookup in each of 300 new views of 1,000-entry objects, which must not pay
  for an index that a single lookup never repays;
- `small`: 200,000 lookups in objects of 8 entries, which are always scanned.
"""

from __future__ import annotations

import random
import sys

import dral


def keys(n: int) -> list[str]:
    return [f"key-{i:08d}" for i in range(n)]


def prepared(case: str):
    big = dral.dumps(dict.fromkeys(keys(16_384), 1))
    shuffled = keys(16_384)
    random.Random(1).shuffle(shuffled)
    thousand = dral.dumps(dict.fromkeys(keys(1000), 1))
    small = dral.loads_value(dral.dumps([dict.fromkeys(keys(8), 1)] * 100))

    def every_key() -> int:
        view = dral.loads_value(big)
        return sum(view[key].value for key in shuffled)

    def one_lookup() -> int:
        return sum(dral.loads_value(thousand)["key-00000500"].value for _ in range(300))

    def small_objects() -> int:
        return sum(item[key].value for _ in range(250) for item in small for key in keys(8))

    cases = {"none": lambda: 0, "every-key": every_key, "one-lookup": one_lookup, "small": small_objects}
    return cases[case]


if __name__ == "__main__":
    print(prepared(sys.argv[1])())
