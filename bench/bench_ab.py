#!/usr/bin/env python3
"""Two builds of Dral side by side in one process: which is faster, and by how much.

    PYENV_VERSION=3.12.1 python3 bench/bench_ab.py BASE.so NEW.so [--files a,b,ctn] [--quick] [--ctn-size BYTES]

BASE.so and NEW.so are built `_dral_native` extension modules (for example the
one a venv of the old commit installed, and the one of the new). Measured per
file: dumps and loads against orjson, msgspec and ormsgpack, with H (one XXH64
pass over the bytes); dumps with dedup and sort_keys; parse_text and
pretty_print against orjson with indented JSON. Last, on the CTN document of
bench_ctn.py (data name `ctn`): rfc_format_ctn and RfcDocument.to_ctn against
orjson.dumps of the typed dictionary of the same document. Both are
loaded under names of their own, and their calls are timed in the same rounds
as the fastest peers', so a change of machine speed during the run hits both
alike. `new/base` is the median, over the repeats, of each repeat's ratio: the
figure to trust when the machine is noisy and absolute times drift.
"""

from __future__ import annotations

import argparse
import gc
import importlib.util
import statistics
import sys
from pathlib import Path

from bench_binary import Case, datasets, measure, resolve_corpus


def load_build(tag: str, path: str):
    # The module's init function is found by the last part of its name, so any package
    # name serves to keep the two builds apart.
    spec = importlib.util.spec_from_file_location(f"{tag}._dral_native", path)
    if spec is None or spec.loader is None:
        raise SystemExit(f"not an extension module: {path}")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def binary_cases(obj, base, new, peers) -> dict[str, list[Case]]:
    import xxhash

    orjson, msgspec, ormsgpack = peers
    data = new.dumps(obj)
    hash_pass = Case("H", "f(x)", f=xxhash.xxh64_intdigest, x=data)
    if base.dumps(obj) != data:
        raise SystemExit("the two builds write different bytes")
    groups = {
        "dumps": [Case("base", "f(x)", f=base.dumps, x=obj), Case("new", "f(x)", f=new.dumps, x=obj),
                  Case("orjson", "f(x)", f=orjson.dumps, x=obj),
                  Case("msgspec", "f(x)", f=msgspec.msgpack.encode, x=obj),
                  Case("ormsgpack", "f(x)", f=ormsgpack.packb, x=obj), hash_pass],
        "loads": [Case("base", "f(x)", f=base.loads, x=data), Case("new", "f(x)", f=new.loads, x=data),
                  Case("orjson", "f(x)", f=orjson.loads, x=orjson.dumps(obj)),
                  Case("msgspec", "f(x)", f=msgspec.msgpack.decode, x=msgspec.msgpack.encode(obj)),
                  Case("ormsgpack", "f(x)", f=ormsgpack.unpackb, x=ormsgpack.packb(obj)),
                  Case("H", "f(x)", f=xxhash.xxh64_intdigest, x=data)],
    }
    for option in ("dedup", "sort_keys"):
        groups[option] = [Case(tag, f"f(x, {option}=True)", f=build.dumps, x=obj)
                          for tag, build in (("base", base), ("new", new))]
    return groups


def text_cases(obj, base, new, orjson) -> dict[str, list[Case]]:
    """The text notation against orjson with indented JSON, where both builds can write the data."""
    try:
        text = new.pretty_print(obj)
    except Exception:  # noqa: BLE001 - data the notation refuses (e.g. too deep)
        return {}
    if base.pretty_print(obj) != text:
        raise SystemExit("the two builds write different text")
    def indented(value):
        return orjson.dumps(value, option=orjson.OPT_INDENT_2)
    return {
        "parse_text": [Case("base", "f(x)", f=base.parse_text, x=text),
                       Case("new", "f(x)", f=new.parse_text, x=text),
                       Case("orjson", "f(x)", f=orjson.loads, x=indented(obj).decode())],
        "pretty": [Case("base", "f(x)", f=base.pretty_print, x=obj),
                   Case("new", "f(x)", f=new.pretty_print, x=obj),
                   Case("orjson", "f(x)", f=indented, x=obj)],
    }


def ctn_cases(base, new, orjson, size: int) -> dict[str, list[Case]]:
    """The CTN writer, alone and after the reader, against orjson.dumps of the same document."""
    from ctn_document import generate

    text = generate(size)
    if base.rfc_format_ctn(text) != new.rfc_format_ctn(text):
        raise SystemExit("the two builds write different CTN")
    typed = new.rfc_parse_ctn(text)
    base_model, new_model = base.rfc_parse_ctn_model(text), new.rfc_parse_ctn_model(text)
    dumps = Case("orjson", "f(x)", f=orjson.dumps, x=typed)
    return {
        "format": [Case("base", "f(x)", f=base.rfc_format_ctn, x=text),
                   Case("new", "f(x)", f=new.rfc_format_ctn, x=text), dumps],
        "to_ctn": [Case("base", "x.to_ctn()", x=base_model),
                   Case("new", "x.to_ctn()", x=new_model), dumps],
    }


def time_text(ns: float) -> str:
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g}{unit}"
    return f"{ns:.3g}ns"


def report(name: str, group: str, measured: list[Case]) -> str:
    by_name = {c.name: c for c in measured}
    base, new = by_name["base"], by_name["new"]
    if base.error or new.error:
        return f"{name:18} {group:9} n/a ({base.error or new.error})"
    paired = statistics.median(n / b for b, n in zip(base.samples, new.samples))
    line = (f"{name:18} {group:9} {time_text(base.median):>8} {time_text(new.median):>8}"
            f"  new/base {paired:.3f}")
    peers = [c for c in measured if c.name not in ("base", "new", "H") and c.median is not None]
    if peers:
        best = min(peers, key=lambda c: c.median)
        line += (f"  best peer {best.name:9} {time_text(best.median):>8}"
                 f"  base/best {base.median / best.median:.2f}  new/best {new.median / best.median:.2f}")
        # The format's own hash passes: two for dumps, one for loads.
        passes = {"dumps": 2, "loads": 1}.get(group)
        if passes and by_name.get("H") and by_name["H"].median:
            allowed = best.median + passes * by_name["H"].median
            line += f"  H {time_text(by_name['H'].median):>7}  new/(best+{passes}H) {new.median / allowed:.2f}"
    return line


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("base", help="the _dral_native module to compare against")
    ap.add_argument("new", help="the _dral_native module under test")
    ap.add_argument("--corpus", help="corpus folder (default: $DRAL_CORPUS or ../shared/corpus)")
    ap.add_argument("--files", help="comma-separated data names, e.g. tiny,small,twitter")
    ap.add_argument("--quick", action="store_true", help="5 repeats of ~20 ms (development)")
    ap.add_argument("--ctn-size", type=int, default=3_000_000, help="CTN bytes (default 3 MB)")
    args = ap.parse_args(argv)

    import msgspec
    import orjson
    import ormsgpack

    base, new = load_build("base", args.base), load_build("new", args.new)
    peers = (orjson, msgspec, ormsgpack)
    repeats, target_ns = (5, 20e6) if args.quick else (15, 50e6)
    selected = {s.strip() for s in args.files.split(",") if s.strip()} if args.files else None
    corpus = resolve_corpus(args.corpus)

    gc.enable()
    print(f"base: {Path(args.base).resolve()}\nnew:  {Path(args.new).resolve()}")
    print(f"{repeats} repeats x ~{target_ns / 1e6:.0f} ms of process CPU time; median per call\n")
    for name, loader in datasets(corpus, selected):
        obj = loader()
        groups = {}
        try:
            groups.update(binary_cases(obj, base, new, peers))
        except Exception as exc:  # noqa: BLE001 - data the binary format refuses (e.g. too deep)
            print(f"{name:18} binary n/a ({type(exc).__name__}: {exc})")
        groups.update(text_cases(obj, base, new, peers[0]))
        for group, measured in groups.items():
            measure(measured, repeats, target_ns)
            print(report(name, group, measured), flush=True)
        del obj, groups
    if selected is None or "ctn" in selected:
        name = f"ctn {args.ctn_size / 1e6:g} MB"
        for group, measured in ctn_cases(base, new, peers[0], args.ctn_size).items():
            measure(measured, repeats, target_ns)
            print(report(name, group, measured), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
