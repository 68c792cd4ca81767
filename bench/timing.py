"""Timing shared by the benchmarks: calibrated loops, repeats taken round-robin, medians.

The garbage collector stays enabled, as users run these calls; the clock is process CPU time,
which still counts everything a call does (gc, allocation, page faults) but not the other jobs
on a shared machine.
"""

from __future__ import annotations

import statistics
import time


def loop(fn, arg, calls: int) -> int:
    clock = time.process_time_ns
    start = clock()
    for _ in range(calls):
        fn(arg)
    return clock() - start


def calibrate(fn, arg, target_ns: float) -> int:
    fn(arg)  # warm-up
    calls = 1
    while (elapsed := loop(fn, arg, calls)) < target_ns * 0.2:
        calls *= 4
    return max(1, round(calls * target_ns / max(elapsed, 1)))


def measure(pairs, repeats: int, target_ns: float) -> list[float]:
    """Median ns per call of each (fn, arg), sampled round-robin."""
    calls = [calibrate(fn, arg, target_ns) for fn, arg in pairs]
    samples: list[list[float]] = [[] for _ in pairs]
    for r in range(repeats):
        order = list(range(len(pairs)))
        order = order[r % len(order):] + order[:r % len(order)]
        for i in order:
            fn, arg = pairs[i]
            samples[i].append(loop(fn, arg, calls[i]) / calls[i])
    return [statistics.median(s) for s in samples]


def fmt(ns: float) -> str:
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:7.2f} {unit}"
    return f"{ns:7.0f} ns"
