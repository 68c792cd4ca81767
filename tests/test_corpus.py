"""Real-world JSON documents round-trip unchanged; repeated calls do not leak."""

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

needs_corpus = pytest.mark.skipif(not FILES, reason=f"no corpus at {CORPUS}")


def _load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


@needs_corpus
@pytest.mark.parametrize("path", FILES, ids=lambda p: p.name)
def test_corpus_round_trip(path):
    document = _load(path)
    if path.name in TOO_DEEP:
        for options in ({}, {"dedup": True, "sort_keys": True}):
            with pytest.raises(dral.DralEncodeError) as info:
                dral.dumps(document, **options)
            assert str(info.value) == "Nesting depth 128 exceeds maximum 128"
        return
    data = dral.dumps(document)
    back = dral.loads(data)
    # json.dumps keeps dict order, so this also checks that every key kept its place.
    assert json.dumps(back) == json.dumps(document)
    assert dral.loads(dral.dumps(document, dedup=True, sort_keys=True)) == document
    assert dral.loads(dral.dumps(document, dedup=True), strict=False) == document


def _document():
    path = CORPUS / "github_events.json"
    if path.is_file():
        return _load(path)
    return [{"id": str(i), "tags": ["a", "b"] * 5, "n": i * 1.5, "ok": i % 2 == 0, "raw": b"\x00" * 8} for i in range(300)]


def test_repeated_calls_do_not_grow_memory():
    document = _document()
    data = dral.dumps(document, dedup=True)
    broken = data[:-40]
    text = dral.pretty_print(document)

    def failing():
        calls = (lambda: dral.loads(broken), lambda: dral.dumps([document, {1}]),
                 lambda: dral.parse_text(text[:-40]), lambda: dral.pretty_print([document, {1}]))
        for call in calls:
            try:
                call()
            except (dral.DralDecodeError, dral.DralTypeError, ValueError):
                pass

    for action in (
        lambda: dral.loads(dral.dumps(document)),
        lambda: dral.loads(data),
        lambda: dral.DralDecoder(data).decode_all(),
        lambda: dral.parse_text(dral.pretty_print(document)),
        failing,
    ):
        assert traced_growth(action) < 256 * 1024
