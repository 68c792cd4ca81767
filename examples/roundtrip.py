"""Encode a JSON document to a Dral file and read it back.

Usage: python3 examples/roundtrip.py [input.json] [output.dral]
"""

import json
import pathlib
import sys

import dral

here = pathlib.Path(__file__).parent
source = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else here / "sample.json"
target = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else pathlib.Path("sample.dral")

document = json.loads(source.read_text(encoding="utf-8"))
with open(target, "wb") as f:
    dral.dump(document, f, dedup=True)
with open(target, "rb") as f:
    restored = dral.load(f)

if restored != document:
    sys.exit(f"round trip of {source} changed the data")
json_size = len(json.dumps(document, separators=(",", ":")).encode())
print(f"{source.name}: {json_size} bytes of compact JSON -> {target.stat().st_size} bytes of Dral "
      f"in {target}; read back unchanged")
