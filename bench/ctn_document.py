"""A large, deterministic CTN document for the RFC-001 benchmarks.

    from ctn_document import generate
    text = generate(3_000_000)   # about 3 MB of CTN

It holds what real typed documents hold: annotations and uses, many small bindings (structs with
sums, maps and short sequences), and a root catalogue whose long sequence of items mixes every
block form: structs, enum payloads, maps, inline and block sequences, references to bindings,
tensors with annotations, and strings with escapes. Nothing in it is bytes, NaN or an integer
beyond 64 bits, so its typed dictionary is plain JSON and msgpack.
"""

from __future__ import annotations

import random

WORDS = ["alpha", "beta", "gamma", "delta", "north", "south", "quartz", "maple", "cedar", "river",
         "summit", "harbor", "ember", "lumen", "vector", "orbit", "signal", "prairie", "basalt"]
STATUSES = ["Active", "Retired", "Pending", "Draft"]


def _string(rng: random.Random) -> str:
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 6)))
    roll = rng.random()
    if roll < 0.15:
        words += ' \\"quoted\\"'
    elif roll < 0.25:
        words += "\\nsecond line\\tcol"
    elif roll < 0.3:
        words += " caf\\u{e9} \u00fcber"
    return '"' + words + '"'


def _number(rng: random.Random) -> str:
    roll = rng.random()
    if roll < 0.4:
        return str(rng.randint(-10**6, 10**9))
    if roll < 0.6:
        return repr(round(rng.uniform(-1e4, 1e4), rng.randint(0, 6)))
    if roll < 0.75:
        return f"{rng.randint(0, 10**12)}u64"
    if roll < 0.9:
        return f"{rng.randint(-10**6, 10**6)}i64"
    return f"{rng.uniform(0, 100):.3f}f32"


def _region(rng: random.Random, index: int) -> list[str]:
    return [
        f"let region_{index} = Region",
        f"  code = '{rng.choice(WORDS)}_{index}",
        f"  name = {_string(rng)}",
        f"  zone = Zone::{rng.choice(['East', 'West', 'Central'])}",
        f"  center = Geo::Point(lat: {rng.uniform(-90, 90):.5f}, lon: {rng.uniform(-180, 180):.5f})",
        f"  limits = [{', '.join(_number(rng) for _ in range(rng.randint(0, 6)))}]",
        "  labels = map<str, str>",
        *(f'    "{rng.choice(WORDS)}{k}" => {_string(rng)}' for k in range(rng.randint(1, 3))),
    ]


def _item(rng: random.Random, index: int, regions: int) -> list[str]:
    lines = [
        "  Item",
        f"    id = {index}u64",
        f"    name = {_string(rng)}",
        f"    status = Status::{rng.choice(STATUSES)}",
        f"    price = {rng.uniform(0, 500):.2f}",
        f"    region = &region_{rng.randrange(regions)}",
        f"    tags = [{', '.join(_string(rng) for _ in range(rng.randint(0, 4)))}]",
    ]
    shape = rng.random()
    if shape < 0.4:
        lines.append(f"    size = Dims::Box(w: {_number(rng)}, h: {_number(rng)}, d: {_number(rng)})")
    elif shape < 0.7:
        lines += ["    size = Dims::Sphere", f"      radius = {rng.uniform(0.1, 9):.4f}",
                  f"      unit = {_string(rng)}"]
    else:
        lines.append(f"    size = Dims::Flat({_number(rng)}, {_number(rng)})")
    lines.append("    attributes = map<str, any>")
    for k in range(rng.randint(1, 4)):
        lines.append(f'      "{rng.choice(WORDS)}_{k}" => {rng.choice([_number(rng), _string(rng), "true", "null"])}')
    if rng.random() < 0.3:
        count = rng.randint(2, 12)
        lines += [f"    samples = tensor<f32>[{count}]", f'      @unit "{rng.choice(WORDS)}"',
                  "      [" + ", ".join(f"{rng.uniform(-5, 5):.3f}" for _ in range(count)) + "]"]
    if rng.random() < 0.25:
        lines.append("    history = seq<Event>")
        for _ in range(rng.randint(9, 12)):
            lines.append(f"      Event::Changed(at: {rng.randint(10**9, 2 * 10**9)}, by: '{rng.choice(WORDS)})")
    return lines


def generate(target_bytes: int = 10_000_000, seed: int = 1) -> str:
    """CTN text of about `target_bytes` bytes (UTF-8), the same for the same arguments."""
    rng = random.Random(seed)
    regions = max(8, target_bytes // 20_000)
    lines = ["@generated", '@source "bench"', "use catalog::v1", "use geo::types"]
    for index in range(regions):
        lines += _region(rng, index)
    lines += ["let defaults = struct", "  currency = 'EUR", "  retries = 3", "",
              "Catalog", f'  title = {_string(rng)}', "  items = seq<Item>"]
    size = sum(len(line) + 1 for line in lines)
    index = 0
    while size < target_bytes:
        item = ["  " + line for line in _item(rng, index, regions)]
        size += sum(len(line.encode()) + 1 for line in item)
        lines += item
        index += 1
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    import sys

    sys.stdout.write(generate(int(sys.argv[1]) if len(sys.argv) > 1 else 10_000_000))
