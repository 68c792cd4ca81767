"""Keys made to collide in the tables that hash input (the encoder's deduplication index, the
compiler's tables of names), generated here rather than stored.

Each table places a string at `hash & (slots - 1)` and probes on from there; with 65536 strings it
has 2^17 slots. Strings whose XXH3 hash (with the index's seed: 0 for the unseeded hash the index
once used) has its low 17 bits below 8192 all start in one stretch of 8192 slots, and every table
size on the way there maps them into its first 8192 slots too, so each insertion walks the run all
the others built: quadratic time, unless probing is bounded.
"""

import functools

import xxhash

SLOT_BITS = 17
WINDOW = 8192


@functools.cache
def clustered_strings(count: int, seed: int = 0, prefix: str = "") -> tuple[str, ...]:
    """`count` strings of `prefix` and eight hex digits (so that a prefix such as "k" makes them
    identifiers) that cluster under the seed."""
    mask = (1 << SLOT_BITS) - 1
    found = []
    candidate = 0
    while len(found) < count:
        text = prefix.encode() + b"%08x" % candidate
        if xxhash.xxh3_64_intdigest(text, seed) & mask < WINDOW:
            found.append(text.decode())
        candidate += 1
    return tuple(found)
