#!/usr/bin/env python3
"""Peak memory of Dral's loads/dumps against peers, one fresh process per number.

Run with the interpreter Dral is installed in, e.g.
    PYENV_VERSION=3.12.1 python3 bench/bench_memory.py [--file gsoc-2018.json] [--runs 3]

Two views of the same call, each in its own subprocess so neither disturbs the
other (tracemalloc's bookkeeping would inflate RSS):
  * tracemalloc: bytes allocated through Python's allocators during the call
    (Python objects, PyMem buffers) -- misses native malloc/new buffers;
  * RSS: growth of the resident-set high-water mark during the call, which does
    see native buffers. The mark is reset just before the call (Linux
    /proc/self/clear_refs) and freed heap is trimmed, so earlier work such as
    parsing the input does not hide the call's own peak.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

from rss import reset_peak, status_bytes, trim_heap

REPO_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_CORPUS = REPO_ROOT.parent / "shared" / "corpus"
TINY = {"a": 1, "b": [1, 2, 3], "c": "x", "d": None, "e": 1.5}

LOADS_LIBS = ["dral", "orjson", "msgspec", "ormsgpack", "json"]
DUMPS_LIBS = ["dral", "orjson", "msgspec", "ormsgpack"]
METHODS = ["tracemalloc", "rss"]


def codec(lib: str):
    """(dumps, loads) of a library; imported lazily so a child loads only one."""
    if lib == "dral":
        import dral
        return dral.dumps, dral.loads
    if lib == "orjson":
        import orjson
        return orjson.dumps, orjson.loads
    if lib == "msgspec":
        import msgspec
        return msgspec.msgpack.encode, msgspec.msgpack.decode
    if lib == "ormsgpack":
        import ormsgpack
        return ormsgpack.packb, ormsgpack.unpackb
    if lib == "json":
        return (lambda o: json.dumps(o).encode()), json.loads
    raise ValueError(lib)


# --------------------------------------------------------------------------
# child side


def child(op: str, lib: str, method: str, path: str) -> None:
    dumps, loads = codec(lib)
    if op == "loads":
        arg = Path(path).read_bytes()
        fn = loads
        loads(dumps(TINY))  # first-use module state is not part of the call's cost
    else:
        with open(path, encoding="utf-8") as fh:
            arg = json.load(fh)
        fn = dumps
        dumps(TINY)
    gc.collect()
    trim_heap()

    if method == "tracemalloc":
        import tracemalloc
        tracemalloc.start()
        base = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        result = fn(arg)
        cur, peak = tracemalloc.get_traced_memory()
        tracemalloc.stop()
        out = {"peak": peak - base, "kept": cur - base}
    else:
        import resource
        reset = reset_peak()
        rss0 = status_bytes("VmRSS")
        hwm0 = status_bytes("VmHWM") if reset else resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
        result = fn(arg)
        hwm1 = status_bytes("VmHWM") if reset else resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
        # Without a reset the old mark may exceed the call's peak; report what we can.
        peak_base = rss0 if reset else hwm0
        out = {"peak": hwm1 - peak_base, "kept": status_bytes("VmRSS") - rss0, "hwm_reset": reset}
    out["out_size"] = len(result) if op == "dumps" else None
    out["in_size"] = len(arg) if op == "loads" else None
    print(json.dumps(out))


# --------------------------------------------------------------------------
# parent side


def mib(n: float | None) -> str:
    return "-" if n is None else f"{n / 1048576:.2f}"


def run_child(op, lib, method, path) -> dict:
    cmd = [sys.executable, os.path.abspath(__file__), "--child", op, lib, method, str(path)]
    proc = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
    if proc.returncode != 0:
        tail = (proc.stderr.strip().splitlines() or ["?"])[-1]
        return {"error": tail[:100]}
    return json.loads(proc.stdout.strip().splitlines()[-1])


def measure(op, lib, path, runs) -> dict:
    agg: dict = {}
    for method in METHODS:
        samples = [run_child(op, lib, method, path) for _ in range(runs)]
        bad = [x for x in samples if "error" in x]
        if bad:
            return {"error": bad[0]["error"]}
        agg[method] = {k: statistics.median(x[k] for x in samples) for k in ("peak", "kept")}
        agg["out_size"] = samples[0]["out_size"]
        agg["in_size"] = samples[0]["in_size"]
        if method == "rss":
            agg["hwm_reset"] = all(s["hwm_reset"] for s in samples)
    return agg


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--child", nargs=4, metavar=("OP", "LIB", "METHOD", "PATH"), help=argparse.SUPPRESS)
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--file", help="corpus file name (default: the largest one)")
    ap.add_argument("--runs", type=int, default=3, help="subprocesses per number; median (default 3)")
    ap.add_argument("--json", metavar="OUT", help="save raw numbers to this JSON file")
    args = ap.parse_args(argv)
    if args.child:
        child(*args.child)
        return 0

    corpus = Path(args.corpus or os.environ.get("DRAL_CORPUS") or DEFAULT_CORPUS)
    if not corpus.is_dir():
        print(f"corpus not found at {corpus} (set DRAL_CORPUS or --corpus); nothing to measure")
        return 0
    if args.file:
        src = corpus / args.file
        if not src.is_file():
            src = corpus / (args.file + ".json")
        if not src.is_file():
            print(f"{args.file} not found in {corpus}")
            return 1
    else:
        src = max(corpus.glob("*.json"), key=lambda p: p.stat().st_size)

    with open(src, encoding="utf-8") as fh:
        obj = json.load(fh)
    results: dict = {"file": src.name, "loads": {}, "dumps": {}}
    with tempfile.TemporaryDirectory(prefix="dral-mem-") as tmp:
        inputs = {}
        for lib in LOADS_LIBS:
            try:
                data = codec(lib)[0](obj)
            except Exception as exc:  # noqa: BLE001
                results["loads"][lib] = {"error": f"encode failed: {type(exc).__name__}: {exc}"[:100]}
                continue
            inputs[lib] = Path(tmp) / f"input.{lib}"
            inputs[lib].write_bytes(data)
        del obj
        for lib in LOADS_LIBS:
            if lib in inputs:
                results["loads"][lib] = measure("loads", lib, inputs[lib], args.runs)
        for lib in DUMPS_LIBS:
            results["dumps"][lib] = measure("dumps", lib, src, args.runs)

    print(f"{src.name}: {src.stat().st_size / 1048576:.2f} MiB JSON; Python {sys.version.split()[0]}; "
          f"median of {args.runs} fresh subprocesses per number; sizes in MiB")
    print("tm = tracemalloc (Python allocators only), rss = resident-set high-water growth "
          "(includes native buffers); peak = during the call, kept = still held after it")
    print()
    hdr = f"{'op':<6}{'lib':<10}{'input':>8}{'output':>8}{'tm peak':>9}{'tm kept':>9}{'rss peak':>9}{'rss kept':>9}  {'check':<}"
    print(hdr)
    notes: list[str] = []
    ref = results["loads"].get("orjson", {})
    for op in ("loads", "dumps"):
        for lib, r in results[op].items():
            if "error" in r:
                notes.append(f"{op} {lib}: {r['error']}")
                print(f"{op:<6}{lib:<10}{'n/a [' + str(len(notes)) + ']':>8}")
                continue
            tm, rss = r["tracemalloc"], r["rss"]
            check = ""
            if op == "loads" and "error" not in ref and lib != "orjson":
                a = tm["peak"] / ref["tracemalloc"]["peak"]
                b = rss["peak"] / ref["rss"]["peak"] if ref["rss"]["peak"] > 0 else float("nan")
                check = f"peak ÷ orjson: tm {a:.2f}, rss {b:.2f}"
                if lib == "dral":
                    check += "  (target <= 1)" + (" MISSED" if max(a, b) > 1 else " ok")
            elif op == "dumps":
                worst = max(tm["peak"], rss["peak"]) / r["out_size"]
                check = f"max peak ÷ output {worst:.3f}"
                if lib == "dral":
                    check += "  (target <= 2)" + (" MISSED" if worst > 2 else " ok")
            if not r.get("hwm_reset", True):
                check += "  (rss peak: high-water reset unavailable)"
            print(f"{op:<6}{lib:<10}{mib(r['in_size']):>8}{mib(r['out_size']):>8}"
                  f"{mib(tm['peak']):>9}{mib(tm['kept']):>9}{mib(rss['peak']):>9}{mib(rss['kept']):>9}  {check}")
    for i, n in enumerate(notes, 1):
        print(f"[{i}] {n}")
    print("loads input = the library's own encoding of the file; dumps input = the file's objects "
          "(built before the call, not counted).")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as fh:
            json.dump(results, fh, indent=1)
        print(f"raw numbers written to {args.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
