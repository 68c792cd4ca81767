#!/usr/bin/env python3
"""Large documents in fresh processes: the first calls of a program, as a script or worker makes.

    PYENV_VERSION=3.12.1 python3 bench/bench_fresh.py [--files gsoc-2018,canada] [--runs 5]

bench_binary.py times every library in one long-lived process, whose allocator has by then
seen many large blocks come and go. A program that serialises one large document after
another from a fresh start meets the allocator as it is at startup; how a serialiser grows
its buffers then decides whether their pages are mapped and faulted in afresh on every call.
Each number below comes from a process that loads only the one library, reads the file, and
times `--calls` calls one after the other; the median over the calls and then over `--runs`
processes is printed, with the page faults per call.
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

from bench_memory import DEFAULT_CORPUS, DUMPS_LIBS, codec


def child(op: str, lib: str, path: str, calls: int) -> None:
    dumps, loads = codec(lib)
    with open(path, encoding="utf-8") as fh:
        obj = json.load(fh)
    fn, arg = (dumps, obj) if op == "dumps" else (loads, dumps(obj))
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    times = []
    for _ in range(calls):
        start = time.process_time_ns()
        fn(arg)
        times.append(time.process_time_ns() - start)
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults
    print(json.dumps({"median_ns": statistics.median(times), "faults": faults / calls}))


def run(op: str, lib: str, path: Path, calls: int) -> dict:
    out = subprocess.run([sys.executable, __file__, "--child", op, lib, str(path), str(calls)],
                         capture_output=True, text=True, check=True, cwd=Path(__file__).parent)
    return json.loads(out.stdout)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=Path, default=DEFAULT_CORPUS)
    parser.add_argument("--files", default="gsoc-2018,canada,citm_catalog")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--calls", type=int, default=30)
    args = parser.parse_args(argv)

    print(f"median per call over {args.calls} calls in each of {args.runs} fresh processes; "
          "faults = minor page faults per call")
    for name in args.files.split(","):
        path = args.corpus / (name if name.endswith(".json") else name + ".json")
        if not path.exists():
            print(f"{path.name}: not found in {args.corpus}")
            continue
        for op in ("dumps", "loads"):
            # Libraries take turns, so a slow spell of the machine is shared.
            samples = {lib: [] for lib in DUMPS_LIBS}
            for _ in range(args.runs):
                for lib in DUMPS_LIBS:
                    samples[lib].append(run(op, lib, path, args.calls))
            cells = []
            for lib in DUMPS_LIBS:
                ns = statistics.median(s["median_ns"] for s in samples[lib])
                faults = statistics.median(s["faults"] for s in samples[lib])
                cells.append(f"{lib} {ns / 1000:8.0f}µs {faults:6.0f}")
            print(f"{path.stem:14} {op:5}  " + "   ".join(cells))
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]))
        sys.exit(0)
    sys.exit(main())
