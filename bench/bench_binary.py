#!/usr/bin/env python3
"""Encode/decode speed of Dral against peer serialisers, one corpus file at a time.

Run with the interpreter Dral is installed in, e.g.
    PYENV_VERSION=3.12.1 python3 bench/bench_binary.py [--quick] [--files a,b] [--json out.json]

The garbage collector stays enabled throughout, because that is how users run
these calls: decoders that build many containers pay for the collections they
trigger, and hiding that would flatter them.
"""

from __future__ import annotations

import argparse
import gc
import json
import marshal
import os
import pickle
import platform
import statistics
import sys
import textwrap
import time
from functools import partial
from itertools import repeat
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_CORPUS = REPO_ROOT.parent / "shared" / "corpus"

TINY = {"a": 1, "b": [1, 2, 3], "c": "x", "d": None, "e": 1.5}
# Records whose fields are numbered, so that their keys differ only in their last characters.
NUMBERED_KEYS = [{f"field{j}": i * j for j in range(1, 21)} for i in range(200)]

# Display order of the main table; "copy" is a plain memcpy of Dral's output,
# the floor no serialiser producing that many bytes can beat; "H" is one XXH64
# pass over Dral's output (the `xxhash` package), the unit of the format's own
# hashing: every dumps hashes its data twice (block checksum, then the stream
# checksum over the block's header and payload), every loads once.
LIBS = ["dral", "orjson", "msgspec", "ormsgpack", "msgpack", "cbor2",
        "pickle", "marshal", "json", "copy", "H"]
BEST3 = ["orjson", "msgspec", "ormsgpack"]
HASH_PASSES = {"enc": 2, "dec": 1}

TARGETS = {"best3": 1.0, "dedup": 1.3, "sort": 1.5, "encoder": 1.2, "decode_all": 1.2,
           "hashed": 1.0}


# --------------------------------------------------------------------------
# timing

# Process CPU time by default: on a shared 2-core box the wall clock also counts
# the time other jobs hold the CPU, which made samples swing 2x; CPU time still
# includes gc, allocation and page faults, i.e. all the work the call causes.
CLOCK = {"fn": time.process_time_ns, "name": "process CPU time"}

_LOOP_SRC = """
def _loop(_it, _clock, {names}):
    _t0 = _clock()
    for _ in _it:
{body}
    return _clock() - _t0
"""


def make_loop(stmt: str, **bound):
    """Compile `stmt` into a timing loop (like timeit, but gc stays on).

    The statement is inlined rather than called through a lambda so keyword
    arguments cost the same as in user code and tiny messages are not
    dominated by an extra Python call frame.
    """
    src = _LOOP_SRC.format(names=", ".join(bound),
                           body=textwrap.indent(textwrap.dedent(stmt).strip(), " " * 8))
    ns: dict = {}
    exec(compile(src, f"<loop {stmt[:30]!r}>", "exec"), ns)
    loop = partial(ns["_loop"], _clock=CLOCK["fn"], **bound)
    return lambda n: loop(repeat(None, n))


class Case:
    """One timed statement: calibrated loop count plus per-repeat samples."""

    def __init__(self, name: str, stmt: str | None, error: str | None = None, **bound):
        self.name = name
        self.error = error
        self.loops = 0
        self.samples: list[float] = []  # ns per call, one per repeat
        self.run = make_loop(stmt, **bound) if stmt and error is None else None

    def calibrate(self, target_ns: float) -> None:
        if self.run is None:
            return
        try:
            self.run(1)  # warm-up; also surfaces "cannot serialise this" errors
        except Exception as exc:  # noqa: BLE001 - any library error becomes n/a
            self.error = describe(exc)
            self.run = None
            return
        n = 1
        while True:
            t = self.run(n)
            if t >= target_ns * 0.2:
                break
            n = max(n * 2, int(n * target_ns * 0.3 / max(t, 1)))
        self.loops = max(1, round(n * target_ns / t))

    def sample(self) -> None:
        if self.run is not None:
            self.samples.append(self.run(self.loops) / self.loops)

    @property
    def median(self) -> float | None:
        return statistics.median(self.samples) if self.samples else None

    def raw(self) -> dict:
        return {"median_ns": self.median, "loops": self.loops,
                "samples_ns": self.samples, "error": self.error}


def measure(cases: list[Case], repeats: int, target_ns: float) -> None:
    """Calibrate, then sample the cases round-robin.

    Interleaving the repeats means a burst of machine noise hits every library
    alike instead of whichever happened to be running, which keeps the ratios
    honest on a shared box.
    """
    gc.collect()
    for c in cases:
        c.calibrate(target_ns)
    live = [c for c in cases if c.run is not None]
    for r in range(repeats):
        k = r % len(live) if live else 0
        for c in live[k:] + live[:k]:
            c.sample()


def spread(samples: list[float]) -> float:
    q = statistics.quantiles(samples, n=4)
    return (q[2] - q[0]) / statistics.median(samples)


def describe(exc: BaseException) -> str:
    msg = str(exc).strip().splitlines()[0] if str(exc).strip() else ""
    return f"{type(exc).__name__}: {msg}"[:110]


# --------------------------------------------------------------------------
# cases


def encode_cases(obj, libs) -> list[Case]:
    dral, orjson, msgspec, ormsgpack, msgpack, cbor2 = libs
    cases = [
        Case("dral", "f(x)", f=dral.dumps, x=obj),
        Case("orjson", "f(x)", f=orjson.dumps, x=obj),
        # Module-level function (not a reused Encoder): same calling pattern as
        # the other libraries' one-shot functions.
        Case("msgspec", "f(x)", f=msgspec.msgpack.encode, x=obj),
        Case("ormsgpack", "f(x)", f=ormsgpack.packb, x=obj),
        Case("msgpack", "f(x)", f=msgpack.packb, x=obj),
        Case("cbor2", "f(x)", f=cbor2.dumps, x=obj),
        Case("pickle", "f(x, 5)", f=pickle.dumps, x=obj),
        Case("marshal", "f(x)", f=marshal.dumps, x=obj),
        Case("json", "f(x)", f=json.dumps, x=obj),
    ]
    return cases


def copy_case(dral_out: bytes | None) -> Case:
    if dral_out is None:
        return Case("copy", None, error="no Dral output to copy")
    # bytes(memoryview) = one allocation + memcpy of the output size.
    return Case("copy", "f(x)", f=bytes, x=memoryview(dral_out))


def hash_case(dral_out: bytes | None) -> Case:
    if dral_out is None:
        return Case("H", None, error="no Dral output to hash")
    import xxhash
    return Case("H", "f(x)", f=xxhash.xxh64_intdigest, x=dral_out)


def try_call(fn, *a, **kw):
    try:
        return fn(*a, **kw), None
    except Exception as exc:  # noqa: BLE001
        return None, describe(exc)


def decode_cases(obj, libs) -> tuple[list[Case], dict]:
    dral, orjson, msgspec, ormsgpack, msgpack, cbor2 = libs
    specs = [
        ("dral", dral.dumps, dral.loads),
        ("orjson", orjson.dumps, orjson.loads),
        ("msgspec", msgspec.msgpack.encode, msgspec.msgpack.decode),
        ("ormsgpack", ormsgpack.packb, ormsgpack.unpackb),
        ("msgpack", msgpack.packb, msgpack.unpackb),
        ("cbor2", cbor2.dumps, cbor2.loads),
        ("pickle", partial(pickle.dumps, protocol=5), pickle.loads),
        ("marshal", marshal.dumps, marshal.loads),
        ("json", json.dumps, json.loads),
    ]
    cases, outputs = [], {}
    for name, enc, dec in specs:
        data, err = try_call(enc, obj)
        outputs[name] = data
        if err:
            cases.append(Case(name, None, error=f"no input ({err})"))
        else:
            # Each library decodes its own encoding of the same value.
            cases.append(Case(name, "f(x)", f=dec, x=data))
    return cases, outputs


ENCODER_STMT = """
e = E()
for v in x:
    e.encode(v)
e.finish()
"""


def extra_cases(obj, dral) -> list[Case]:
    # Stream-shaped view of the value: list elements, or a dict's values.
    elems = obj if isinstance(obj, list) else list(obj.values()) if isinstance(obj, dict) else [obj]
    cases = [
        Case("dumps", "f(x)", f=dral.dumps, x=obj),
        Case("dedup", "f(x, dedup=True)", f=dral.dumps, x=obj),
        Case("sort", "f(x, sort_keys=True)", f=dral.dumps, x=obj),
        Case("dumps_elems", "f(x)", f=dral.dumps, x=elems),
        Case("encoder", ENCODER_STMT, E=dral.Encoder, x=elems),
    ]
    blob, err = try_call(dral.dumps, elems)
    cases.append(Case("loads_elems", "f(x)", f=dral.loads, x=blob) if blob is not None
                 else Case("loads_elems", None, error=f"no input ({err})"))
    stream, err = try_call(encode_stream, dral, elems)
    cases.append(Case("decode_all", "D(x).decode_all()", D=dral.DralDecoder, x=stream)
                 if stream is not None else Case("decode_all", None, error=f"no input ({err})"))
    return cases


def encode_stream(dral, elems) -> bytes:
    e = dral.Encoder()
    for v in elems:
        e.encode(v)
    return e.finish()


# --------------------------------------------------------------------------
# formatting


def fmt_time(ns: float | None) -> str:
    if ns is None:
        return "n/a"
    for unit, scale in (("ns", 1), ("µs", 1e3), ("ms", 1e6), ("s", 1e9)):
        v = ns / scale
        if v < 999.5 or unit == "s":
            return f"{v:.3g}{unit}" if v < 100 else f"{v:.0f}{unit}"
    return "?"


def fmt_size(n: int | None) -> str:
    if n is None:
        return "n/a"
    for unit, scale in (("B", 1), ("k", 1e3), ("M", 1e6)):
        if n / scale < 999.5 or unit == "M":
            return f"{n / scale:.4g}{unit}" if unit != "B" else f"{n}B"
    return "?"


def ratio(a: float | None, b: float | None, target: float | None = None) -> str:
    if a is None or b is None or b == 0:
        return "-"
    r = a / b
    mark = "!" if target is not None and r > target else ""
    return f"{r:.2f}{mark}"


class Notes:
    """Numbered footnotes so n/a cells stay narrow."""

    def __init__(self):
        self.items: dict[str, int] = {}

    def ref(self, reason: str) -> str:
        if reason not in self.items:
            self.items[reason] = len(self.items) + 1
        return f"n/a[{self.items[reason]}]"


NAME_W, DIR_W, T_W, R_W = 19, 4, 9, 7
HEAD = {"ormsgpack": "ormsgpk"}  # keep every header narrower than its column


def main_header() -> str:
    cols = "".join(f"{HEAD.get(n, n):>{T_W}}" for n in LIBS)
    return (f"{'data':<{NAME_W}}{'dir':<{DIR_W}}{cols}  {'best3':<10}"
            f"{'÷best3':>{R_W}}{'÷b+kH':>{R_W}}{'÷goal':>{R_W}}{'÷copy':>{R_W}}")


def plus(a: float | None, b: float | None) -> float | None:
    return None if a is None or b is None else a + b


def main_row(name: str, direction: str, cases: dict[str, Case], notes: Notes) -> str:
    cells = []
    for lib in LIBS:
        c = cases[lib]
        cells.append(fmt_time(c.median) if c.median is not None else notes.ref(f"{lib}: {c.error}"))
    peers = [(cases[p].median, p) for p in BEST3 if cases[p].median is not None]
    best_t, best_n = min(peers) if peers else (None, "-")
    d = cases["dral"].median
    k = HASH_PASSES[direction]
    h = cases["H"].median
    # The format's own passes, and the goal once the hashing overlaps the work: for encoding
    # only the stream checksum stays a pass of its own (1.2H of 2H), decoding hides it all.
    hashed = plus(best_t, k * h if h is not None else None)
    hidden = plus(best_t, 1.2 * h if h is not None else None) if direction == "enc" else best_t
    return (f"{name:<{NAME_W}}{direction:<{DIR_W}}" + "".join(f"{x:>{T_W}}" for x in cells)
            + f"  {best_n:<10}{ratio(d, best_t, TARGETS['best3']):>{R_W}}"
            + f"{ratio(d, hashed, TARGETS['hashed']):>{R_W}}"
            + f"{ratio(d, hidden, TARGETS['hashed']):>{R_W}}"
            + f"{ratio(d, cases['copy'].median):>{R_W}}")


EXTRA_COLS = [("json", 8), ("dral", 8), ("dedup", 8), ("msgpack", 8),
              ("dumps", 9), ("dedup÷", 8), ("sort÷", 8), ("Enc÷", 8), ("decAll÷", 9)]


def extra_header() -> str:
    return f"{'data':<{NAME_W}}" + "".join(f"{n:>{w}}" for n, w in EXTRA_COLS)


def extra_row(name: str, sizes: dict, ex: dict[str, Case]) -> str:
    m = {k: c.median for k, c in ex.items()}
    vals = [fmt_size(sizes["json"]), fmt_size(sizes["dral"]), fmt_size(sizes["dral_dedup"]),
            fmt_size(sizes["msgpack"]), fmt_time(m["dumps"]),
            ratio(m["dedup"], m["dumps"], TARGETS["dedup"]),
            ratio(m["sort"], m["dumps"], TARGETS["sort"]),
            ratio(m["encoder"], m["dumps_elems"], TARGETS["encoder"]),
            ratio(m["decode_all"], m["loads_elems"], TARGETS["decode_all"])]
    return f"{name:<{NAME_W}}" + "".join(f"{v:>{w}}" for v, (_, w) in zip(vals, EXTRA_COLS))


# --------------------------------------------------------------------------
# driver


def resolve_corpus(arg: str | None) -> Path:
    return Path(arg or os.environ.get("DRAL_CORPUS") or DEFAULT_CORPUS)


def load_json(path: Path):
    with open(path, encoding="utf-8") as fh:
        return json.load(fh)


def datasets(corpus: Path, selected: set[str] | None):
    """Yield (name, loader); loading is lazy so only one file's objects are live
    at a time (a large resident heap would change what each gc pass costs)."""
    have = corpus.is_dir()
    github = corpus / "github.json"
    items = [("tiny", lambda: TINY)]
    if have and github.is_file():
        items.append(("small", lambda: load_json(github)[0]))
    items.append(("numbered-keys", lambda: NUMBERED_KEYS))
    if have:
        items += [(p.name, partial(load_json, p)) for p in sorted(corpus.glob("*.json"))]
    for name, loader in items:
        if selected is None or name in selected or name.removesuffix(".json") in selected:
            yield name, loader


def versions(libs) -> str:
    dral, orjson, msgspec, ormsgpack, msgpack, cbor2 = libs
    from importlib.metadata import version
    out = []
    for mod, dist in ((dral, "dral"), (orjson, "orjson"), (msgspec, "msgspec"),
                      (ormsgpack, "ormsgpack"), (msgpack, "msgpack"), (cbor2, "cbor2")):
        try:
            out.append(f"{dist} {version(dist)}")
        except Exception:  # noqa: BLE001
            out.append(f"{dist} ?")
    return ", ".join(out)


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--files", help="comma-separated data names, e.g. tiny,small,twitter")
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~20 ms (development)")
    ap.add_argument("--repeats", type=int, help="repeats per case (default 15, quick 3)")
    ap.add_argument("--target-ms", type=float, help="time per repeat (default 50, quick 20)")
    ap.add_argument("--clock", choices=["cpu", "wall"], default="cpu",
                    help="cpu = process CPU time (default, robust to other jobs), wall = perf_counter")
    ap.add_argument("--json", metavar="OUT", help="save raw numbers to this JSON file")
    ap.add_argument("--scalar-checksum", action="store_true",
                    help="hash with xxHash's scalar loop also where the processor has AVX-512")
    args = ap.parse_args(argv)

    try:
        import cbor2
        import msgpack
        import msgspec
        import orjson
        import ormsgpack

        import dral
    except ImportError as exc:
        print(f"missing module: {exc}. Install: python3 -m pip install -r bench/requirements.txt",
              file=sys.stderr)
        return 2
    libs = (dral, orjson, msgspec, ormsgpack, msgpack, cbor2)

    repeats = args.repeats or (3 if args.quick else 15)
    target_ns = (args.target_ms or (20 if args.quick else 50)) * 1e6
    if args.clock == "wall":
        CLOCK.update(fn=time.perf_counter_ns, name="wall clock")
    selected = {s.strip() for s in args.files.split(",") if s.strip()} if args.files else None
    corpus = resolve_corpus(args.corpus)
    if not corpus.is_dir():
        print(f"corpus not found at {corpus} (set DRAL_CORPUS or --corpus); "
              "measuring only the built-in 'tiny' message")

    if args.scalar_checksum:
        dral._dral_native._force_scalar_checksums()
    gc.enable()  # explicit: results are meant to include gc cost
    print(f"Python {platform.python_version()} ({sys.executable}); gc enabled={gc.isenabled()}; "
          f"{repeats} repeats x ~{target_ns / 1e6:.0f} ms of {CLOCK['name']}, median per call; "
          f"loadavg {os.getloadavg()[0]:.2f}")
    print(versions(libs))
    print(f"Dral hashes with xxHash's {dral._dral_native._checksum_loop} loop")
    print(f"corpus: {corpus}")
    print()
    print(main_header())
    sys.stdout.flush()

    notes = Notes()
    results, extra_lines = {}, []
    t_start = time.perf_counter()
    for name, loader in datasets(corpus, selected):
        obj = loader()
        enc = encode_cases(obj, libs)
        dec, outputs = decode_cases(obj, libs)
        enc += [copy_case(outputs["dral"]), hash_case(outputs["dral"])]
        dec += [copy_case(outputs["dral"]), hash_case(outputs["dral"])]
        ex = extra_cases(obj, dral)
        for group in (enc, dec, ex):
            measure(group, repeats, target_ns)
        enc_d = {c.name: c for c in enc}
        dec_d = {c.name: c for c in dec}
        ex_d = {c.name: c for c in ex}
        print(main_row(name, "enc", enc_d, notes))
        print(main_row("", "dec", dec_d, notes))
        sys.stdout.flush()

        dedup_out, _ = try_call(dral.dumps, obj, dedup=True)
        sizes = {
            "json": len(json.dumps(obj, separators=(",", ":"), ensure_ascii=False).encode()),
            "dral": len(outputs["dral"]) if outputs["dral"] is not None else None,
            "dral_dedup": len(dedup_out) if dedup_out is not None else None,
            "msgpack": len(outputs["msgspec"]) if outputs["msgspec"] is not None else None,
        }
        extra_lines.append(extra_row(name, sizes, ex_d))
        for c in ex:
            if c.error:  # one note per distinct failure, not one per variant
                err = c.error
                if err.startswith("no input ("):
                    err = err[len("no input ("):-1]
                notes.ref("dral extras: " + err)
        results[name] = {"sizes": sizes,
                         "encode": {k: c.raw() for k, c in enc_d.items()},
                         "decode": {k: c.raw() for k, c in dec_d.items()},
                         "dral_extra": {k: c.raw() for k, c in ex_d.items()}}
        del obj, enc, dec, ex, outputs, enc_d, dec_d, ex_d
    elapsed = time.perf_counter() - t_start

    print()
    print("Dral extras: sizes (compact UTF-8 JSON, Dral, Dral dedup, msgpack) and time ratios")
    print(f"  dedup÷ = dumps(dedup=True)/dumps (<= {TARGETS['dedup']}), "
          f"sort÷ = dumps(sort_keys=True)/dumps (<= {TARGETS['sort']}),")
    print(f"  Enc÷ = Encoder, one encode() per element / dumps(list) (<= {TARGETS['encoder']}), "
          f"decAll÷ = DralDecoder.decode_all / loads of that list (<= {TARGETS['decode_all']})")
    print(extra_header())
    for line in extra_lines:
        print(line)

    print()
    print("÷best3 = Dral / fastest of orjson, msgspec, ormsgpack (best peer); "
          "H = one XXH64 pass over Dral's bytes (xxhash.xxh64_intdigest);")
    print("÷b+kH = Dral / (best peer + the format's hash passes: 2H enc, 1H dec) (target <= 1.0); "
          "÷goal = Dral / (best peer + 1.2H) for enc,")
    print("  Dral / best peer for dec: the goals once hashing overlaps encoding and decoding; "
          "÷copy = Dral / memcpy of Dral's bytes. '!' = target missed.")
    print("msgspec = module functions msgspec.msgpack.encode/decode; pickle protocol 5; "
          "each library decodes its own encoding.")
    for reason, i in notes.items.items():
        print(f"[{i}] {reason}")
    spreads = [spread(c["samples_ns"]) for r in results.values() for g in r.values() if isinstance(g, dict)
               for c in g.values() if isinstance(c, dict) and len(c.get("samples_ns") or ()) >= 3]
    if spreads:
        print(f"noise: median over all cases of (p75-p25)/median of the repeats = "
              f"{100 * statistics.median(spreads):.1f}%")
    print(f"total {elapsed:.0f} s wall")

    if args.json:
        meta = {"python": platform.python_version(), "versions": versions(libs), "clock": CLOCK["name"],
                "checksum_loop": dral._dral_native._checksum_loop, "repeats": repeats, "target_ns": target_ns, "gc_enabled": True,
                "time": time.strftime("%Y-%m-%dT%H:%M:%S"), "elapsed_s": elapsed}
        with open(args.json, "w", encoding="utf-8") as fh:
            json.dump({"meta": meta, "results": results}, fh, indent=1)
        print(f"raw numbers written to {args.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
