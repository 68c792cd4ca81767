#!/usr/bin/env python3
"""pretty_print in a process that also writes other texts: time and page faults per call.

    python3 bench/text_faults.py [BASE.so NEW.so] [--files random,twitter]

Per data set, one process takes in turn, for a few rounds: pretty_print of the document and of
a copy whose characters past ASCII became 'x', then orjson.dumps(indent=2) of both. So each text is written between others of other sizes and widths, as in a program that
writes more than one document. Printed: each call's median time and its minor page faults
(resource.getrusage), for each build given (default: the installed one) and for orjson. Many
faults a call mean that the allocator gave a large block's pages back between calls and
faulted them in again, which costs more than writing the text; how often that happens depends
on what the process allocated before, so each data set runs in a process of its own.

Two more rows per data set are floors: a new str as long and as wide as the first build's
text of the document, and new bytes as long as orjson's, each filled with one character
(`ch * n`: one allocation, every unit written once, nothing read). A str with one character
past U+00FF stores two or four bytes a character, where orjson's UTF-8 has about one, so any
writer of that str pays the difference of the two at least.
"""

from __future__ import annotations

import argparse
import json
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROUNDS, CALLS = 25, 10


def narrowed(obj):
    if isinstance(obj, dict):
        return {narrowed(k): narrowed(v) for k, v in obj.items()}
    if isinstance(obj, list):
        return [narrowed(v) for v in obj]
    if isinstance(obj, str):
        return "".join(c if ord(c) < 128 else "x" for c in obj)
    return obj


def child(path: str, builds: list[str]) -> None:
    import orjson

    if builds:
        from bench_ab import load_build

        modules = [load_build(f"build{i}", so) for i, so in enumerate(builds)]
    else:
        modules = [__import__("dral")]
    with open(path, encoding="utf-8") as fh:
        doc = json.load(fh)
    docs = {"document": doc, "narrowed": narrowed(doc)}
    writers = {f"build {i}": module.pretty_print for i, module in enumerate(modules)}
    writers["orjson "] = lambda o: orjson.dumps(o, option=orjson.OPT_INDENT_2)
    calls = {f"{writer} {label}": (f, obj) for writer, f in writers.items() for label, obj in docs.items()}
    text = modules[0].pretty_print(doc)
    widest = max(text, default=" ")
    fill = " " if widest <= "\xff" else "\u0100" if widest <= "\uffff" else "\U00010000"
    calls["a str as wide"] = (lambda n: fill * n, len(text))
    calls["bytes as orjson's"] = (lambda n: b" " * n, len(orjson.dumps(doc, option=orjson.OPT_INDENT_2)))
    times = {name: [] for name in calls}
    faults = dict.fromkeys(calls, 0)
    for _ in range(ROUNDS):
        for name, (f, obj) in calls.items():
            before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
            start = time.perf_counter()
            for _ in range(CALLS):
                f(obj)
            times[name].append((time.perf_counter() - start) / CALLS)
            faults[name] += resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before
    for name in calls:
        print(f"{Path(path).stem:15} {name:20} {statistics.median(times[name]) * 1e3:8.3f} ms"
              f"  {faults[name] / (ROUNDS * CALLS):7.1f} faults a call")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("builds", nargs="*", help="built _dral_native modules (default: the installed one)")
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--files", default="random,twitter,update-center,gsoc-2018",
                    help="comma-separated corpus names")
    ap.add_argument("--child", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(args.child, args.builds)
    from bench_binary import resolve_corpus  # not in the child: what it allocates sets the scene

    corpus = resolve_corpus(args.corpus)
    if corpus is None:
        raise SystemExit("no corpus: set DRAL_CORPUS or pass --corpus")
    for name in args.files.split(","):
        path = corpus / (name if name.endswith(".json") else name + ".json")
        subprocess.run([sys.executable, __file__, "--child", str(path), *args.builds], check=True)


if __name__ == "__main__":
    main()
