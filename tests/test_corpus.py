"""Real-world JSON documents round-trip unchanged through every path; calls do not leak."""

import contextlib
import json
import os
import pathlib

import pytest

import dral
from helpers import traced_growth

DEFAULT_CORPUS = pathlib.Path(__file__).resolve().parents[2] / "shared" / "corpus"
CORPUS = pathlib.Path(os.environ.get("DRAL_CORPUS", DEFAULT_CORPUS))
FILES = sorted(CORPUS.glob("*.json")) if CORPUS.is_dir() else []
TOO_DEEP = {"deep_nested.json"}


def _load(path):
    return json.loads(path.read_text(encoding="utf-8"))


@pytest.mark.skipif(not FILES, reason=f"no corpus at {CORPUS}")
@pytest.mark.parametrize("path", FILES, ids=lambda p: p.name)
def test_corpus_round_trip(path):
    document = _load(path)
    expected = json.dumps(document)  # json.dumps keeps dict order: every key kept its place
    assert json.dumps(dral.parse_text(dral.pretty_print(document))) == expected
    assert json.dumps(dral.to_value(document).as_python()) == expected
    options = {}
    if path.name in TOO_DEEP:
        for sorted_deduplicated in ({}, {"dedup": True, "sort_keys": True}):
            with pytest.raises(dral.DralEncodeError) as info:
                dral.dumps(document, **sorted_deduplicated)
            assert str(info.value).startswith("Nesting depth 128 exceeds maximum 128 at $")
        options = {"max_depth": 4096}
    data = dral.dumps(document, **options)
    assert data == dral._dral_native._dumps_reference(document, **options)
    if options:
        assert dral.loads(data, max_depth=4096) == document
        return
    assert json.dumps(dral.loads(data)) == expected
    assert json.dumps(dral.loads_value(data).as_python()) == expected
    assert dral.loads(dral.dumps(document, dedup=True, sort_keys=True)) == document
    deduplicated = dral.dumps(document, dedup=True)
    assert dral.loads(deduplicated, strict=False) == document and len(deduplicated) <= len(data)
    for compression in ("zstd", "snappy", "lz4"):
        for dedup in (False, True):
            packed = dral.dumps(document, compression=compression, dedup=dedup)
            assert json.dumps(dral.loads(packed)) == expected
            assert len(packed) <= len(dral.dumps(document, dedup=dedup))
        assert dral.loads_value(packed).as_python() == document


def _document():
    path = CORPUS / "github_events.json"
    if path.is_file():
        return _load(path)
    return [{"id": str(i), "tags": ["a", "b"] * 5, "n": i * 1.5, "ok": i % 2 == 0, "raw": b"\x00" * 8} for i in range(300)]


def test_repeated_calls_do_not_grow_memory():
    document = _document()
    data = dral.dumps(document, dedup=True)
    text = dral.pretty_print(document)

    def failing():
        calls = (lambda: dral.loads(data[:-40]), lambda: dral.dumps([document, {1}]),
                 lambda: dral.parse_text(text[:-40]), lambda: dral.pretty_print([document, {1}]))
        for call in calls:
            with contextlib.suppress(dral.DralDecodeError, dral.DralTypeError, ValueError):
                call()

    for action in (
        lambda: dral.loads(dral.dumps(document)),
        lambda: dral.loads(data),
        lambda: dral.DralDecoder(data).decode_all(),
        lambda: dral.parse_text(dral.pretty_print(document)),
        failing,
    ):
        assert traced_growth(action) < 256 * 1024
