#!/usr/bin/env python3
"""Streams on disk written and read value by value, against the same data in memory and peers.

    python3 bench/bench_streams.py [--sizes 100M,1G,4G] [--folder DIR]
    python3 bench/bench_streams.py --thresholds        # the block size of writers, measured

Records are taken from the corpus (twitter statuses, GitHub events, update-center plugins) in a
cycle until the stream reaches each size; the files go to a temporary folder (or --folder) and
are removed afterwards. Each contender runs in a fresh process (so that peak memory is its own),
in rounds alternating the contenders:

- memory: `dumps` and `loads` of 100 MB of the same records, best of three calls (the anchor);
- Dral: `Writer(path).write_all(records)` and `for value in Reader(path)`;
- msgpack: `Packer` writing to the file and `Unpacker(file)` iterating;
- JSON Lines with orjson: a line per record, `orjson.loads` per line.

Every writer makes its file durable before it ends: Dral's writer syncs the file before it
renames it over the target, and the peers' files are synced too, so that all pay the disk alike.
The sync is timed apart (for Dral: `close`, which also writes the last block), because it is the
disk's speed, not the writer's, and in-memory `dumps` never pays it.

Reported per size: MB/s of the stream's own bytes for each, with and without the sync; Dral's
throughput over the anchor's, as the median of the rounds' own ratios (goal ≥ 0.9; with --floor,
also against the one-shot way to the same file, `dumps` of all the records followed by one write
of its bytes, up to 1 GB); and the peak resident memory each process adds to its start (VmHWM
after, VmRSS before; goal below 64 MiB, the same at every size).
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent / "shared" / "corpus"

CHILD = r'''
import itertools, json, os, sys, time
sys.path.insert(0, {here!r})
import dral, msgpack, orjson

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024

def sync(f):
    """Make the file durable, as Dral's writer does; returns when the sync began."""
    f.flush()
    began = time.perf_counter()
    os.fsync(f.fileno())
    return began

def records(corpus):
    pool = json.load(open(os.path.join(corpus, "twitter.json")))["statuses"]
    pool += json.load(open(os.path.join(corpus, "github_events.json")))
    pool += list(json.load(open(os.path.join(corpus, "update-center.json")))["plugins"].values())
    return pool

kind, who, path, size, corpus, block_size = sys.argv[1:7]
size, block_size = int(size), int(block_size)
pool = records(corpus)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
start = status("VmRSS")
if kind == "write":
    # The stream of records until the file holds `size` bytes: each record is written once
    # over, as a program that makes records as it goes would.
    per_round = len(dral.dumps(pool)) if who in ("dral", "floor") else len(msgpack.packb(pool)) if who == "msgpack" else len(b"\n".join(map(orjson.dumps, pool)))
    rounds = max(1, size // per_round)
    values = itertools.chain.from_iterable(itertools.repeat(pool, rounds))
    began = time.perf_counter()
    if who == "dral":
        writer = dral.Writer(path, block_size=block_size)
        writer.write_all(values)
        synced = time.perf_counter()
        writer.close()
    elif who == "floor":
        # The one-shot way to the same file: dumps of everything, then its bytes written.
        data = dral.dumps(list(values))
        with open(path, "wb") as f:
            f.write(data)
            synced = sync(f)
    elif who == "msgpack":
        packer = msgpack.Packer()
        with open(path, "wb") as f:
            for value in values:
                f.write(packer.pack(value))
            synced = sync(f)
    else:
        with open(path, "wb") as f:
            for value in values:
                f.write(orjson.dumps(value) + b"\n")
            synced = sync(f)
else:
    count = 0
    began = time.perf_counter()
    if who == "dral":
        with dral.Reader(path) as reader:
            for value in reader:
                count += 1
    elif who == "msgpack":
        with open(path, "rb") as f:
            for value in msgpack.Unpacker(f):
                count += 1
    else:
        with open(path, "rb") as f:
            for line in f:
                orjson.loads(line)
                count += 1
ended = time.perf_counter()
if kind == "read":
    synced = ended
print(json.dumps({{"seconds": ended - began, "sync": ended - synced, "peak": status("VmHWM") - start, "bytes": os.path.getsize(path)}}))
'''

IN_MEMORY = r'''
import json, os, sys, time
import dral
corpus = sys.argv[1]
pool = json.load(open(os.path.join(corpus, "twitter.json")))["statuses"]
pool += json.load(open(os.path.join(corpus, "github_events.json")))
pool += list(json.load(open(os.path.join(corpus, "update-center.json")))["plugins"].values())
values = pool * max(1, (100 << 20) // len(dral.dumps(pool)))
best_dumps = best_loads = float("inf")
for _ in range(3):
    t = time.perf_counter(); data = dral.dumps(values); best_dumps = min(best_dumps, time.perf_counter() - t)
    t = time.perf_counter(); dral.loads(data, strict=False); best_loads = min(best_loads, time.perf_counter() - t)
print(json.dumps({"dumps": len(data) / best_dumps, "loads": len(data) / best_loads}))
'''


def parse_size(text: str) -> int:
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    return int(float(text[:-1]) * units[text[-1]]) if text[-1] in units else int(text)


def child(kind: str, who: str, path: Path, size: int, corpus: Path, block_size: int) -> dict:
    script = CHILD.format(here=str(HERE))
    run = subprocess.run([sys.executable, "-c", script, kind, who, str(path), str(size), str(corpus), str(block_size)],
                         capture_output=True, text=True, check=True)
    return json.loads(run.stdout)


def in_memory(corpus: Path) -> dict:
    run = subprocess.run([sys.executable, "-c", IN_MEMORY, str(corpus)], capture_output=True, text=True, check=True)
    return json.loads(run.stdout)


def rate(run: dict, exclude_sync: bool = False) -> float:
    return run["bytes"] / (run["seconds"] - (run["sync"] if exclude_sync else 0))


def measure_size(text: str, size: int, folder: Path, corpus: Path, args) -> None:
    writers = ("dral", "msgpack", "jsonl")
    # All the records of 4 GB are more items than one list may hold (a million).
    writers += ("floor",) if args.floor and size <= 1 << 30 else ()
    results = {who: {"write": [], "read": []} for who in writers}
    anchors = []
    for _ in range(args.rounds):
        anchors.append(in_memory(corpus))
        for who in writers:
            path = folder / f"stream.{who}"
            results[who]["write"].append(child("write", who, path, size, corpus, 1 << 20))
            if who != "floor":
                results[who]["read"].append(child("read", who, path, size, corpus, 1 << 20))
            path.unlink()
    floor = results.pop("floor", {}).get("write")
    for who, found in results.items():
        write, read = found["write"], found["read"]
        print(f"{text:>6} {who:<8} {statistics.median(map(rate, write)) / 1e6:10.0f} "
              f"{statistics.median(rate(x, True) for x in write) / 1e6:9.0f} "
              f"{statistics.median(x['sync'] for x in write) * 1e3:8.0f} "
              f"{statistics.median(map(rate, read)) / 1e6:10.0f} {write[0]['bytes'] / 1e6:8.0f} "
              f"{max(x['peak'] for x in write) / (1 << 20):10.1f} {max(x['peak'] for x in read) / (1 << 20):10.1f}",
              flush=True)
    # Each round's own ratio, so that a machine that speeds up or slows down between rounds
    # moves the anchor and the writer alike.
    dral_runs = results["dral"]
    def paired(runs, key, exclude_sync=False):
        return statistics.median(rate(r, exclude_sync) / a[key] for r, a in zip(runs, anchors))
    line = (f"{'':>6} in memory: dumps {statistics.median(a['dumps'] for a in anchors) / 1e6:.0f} MB/s, "
            f"loads {statistics.median(a['loads'] for a in anchors) / 1e6:.0f} MB/s; Dral ÷ memory: "
            f"write {paired(dral_runs['write'], 'dumps', True):.2f} unsynced, "
            f"{paired(dral_runs['write'], 'dumps'):.2f} synced; read {paired(dral_runs['read'], 'loads'):.2f}")
    if floor:
        one_shot = statistics.median(rate(x, True) for x in floor)
        line += (f"; dumps, then written: {one_shot / 1e6:.0f} MB/s unsynced, "
                 f"writer ÷ that {statistics.median(rate(x, True) for x in dral_runs['write']) / one_shot:.2f}")
    print(line, flush=True)
    rounds = ", ".join(f"{rate(r) / a['dumps']:.2f}" for r, a in zip(dral_runs["write"], anchors))
    print(f"{'':>6} Dral write ÷ memory in each round, synced: {rounds}", flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="100M,1G,4G")
    parser.add_argument("--folder")
    parser.add_argument("--corpus", default=os.environ.get("DRAL_CORPUS", str(DEFAULT_CORPUS)))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--thresholds", action="store_true", help="compare block sizes for Dral instead")
    parser.add_argument("--floor", action="store_true",
                        help="also time dumps of all the records followed by one write of its bytes")
    args = parser.parse_args()
    corpus = Path(args.corpus)
    folder = Path(tempfile.mkdtemp(dir=args.folder, prefix="dral-streams-"))
    try:
        if args.thresholds:
            for block_size in (64 << 10, 256 << 10, 1 << 20, 4 << 20, 16 << 20):
                path = folder / "t.dral"
                w = [child("write", "dral", path, 200 << 20, corpus, block_size) for _ in range(args.rounds)]
                r = [child("read", "dral", path, 0, corpus, block_size) for _ in range(args.rounds)]
                size = w[0]["bytes"]
                print(f"block {block_size >> 10:>6} KiB: write {size / min(x['seconds'] for x in w) / 1e6:6.0f} MB/s "
                      f"read {size / min(x['seconds'] for x in r) / 1e6:6.0f} MB/s  "
                      f"peak {max(x['peak'] for x in r) / (1 << 20):5.1f} MiB")
                path.unlink()
            return
        print(f"{'size':>6} {'who':<8} {'write MB/s':>10} {'unsynced':>9} {'sync ms':>8} {'read MB/s':>10} "
              f"{'file MB':>8} {'peak w MiB':>10} {'peak r MiB':>10}")
        for text in args.sizes.split(","):
            measure_size(text, parse_size(text), folder, corpus, args)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
