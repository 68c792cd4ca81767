"""Encoder and DralDecoder: states, results, and the state after a failed encode."""

import pytest

import dral
from helpers import data_stream, nested_list, string_dict

FINISHED = "encoder already finished"


class MyBytes(bytes):
    pass


def test_encoder_values_and_decoder_results():
    empty = dral.Encoder().finish()
    assert len(empty) == 19 and dral.decode(empty) == [] and dral.DralDecoder(empty).decode_all() == []
    enc = dral.Encoder()
    for value in (1, "a", None):
        assert enc.encode(value) is None
    data = enc.finish()
    assert dral.decode(data) == dral.DralDecoder(data).decode_all() == [1, "a", None]
    one = dral.Encoder()
    one.encode({"k": [1]})
    data = one.finish()
    assert dral.decode(data) == {"k": [1]}
    assert dral.DralDecoder(data).decode_all() == dral.DralDecoder(MyBytes(data)).decode_all() == [{"k": [1]}]


@pytest.mark.parametrize("count", [2, 16, 17, 40])
def test_streams_of_many_values_read_back_in_order(count):
    values = [[i, str(i)] for i in range(count)]
    enc = dral.Encoder()
    for value in values:
        enc.encode(value)
    data = enc.finish()
    assert dral.loads(data) == dral.decode(data) == dral.DralDecoder(data).decode_all() == values


def test_encoder_sort_keys_applies_to_every_encode():
    enc = dral.Encoder(sort_keys=True)
    enc.encode({"b": 1, "a": {"d": 1, "c": 2}})
    enc.encode([{"z": 0, "y": 0}])
    first, second = dral.decode(enc.finish())
    assert list(first) == ["a", "b"] and list(first["a"]) == ["c", "d"] and list(second[0]) == ["y", "z"]
    plain = dral.Encoder()
    plain.encode({"b": 1, "a": 2})
    assert list(dral.decode(plain.finish())) == ["b", "a"]


def test_encoder_dedup_and_compression_settings():
    enc = dral.Encoder()
    assert enc.enable_dedup() is None
    assert enc.set_compression("lz4") is None
    enc.encode(["x", "y", "x"])
    assert enc.finish() == dral.dumps(["x", "y", "x"], dedup=True)


AFTER_FINISH = [
    ("finish", lambda enc, tmp: enc.finish(), dral.DralEncodeError, FINISHED),
    ("finish_to_file", lambda enc, tmp: enc.finish_to_file(tmp / "x.dral"), dral.DralEncodeError, FINISHED),
    ("encode", lambda enc, tmp: enc.encode(1), dral.DralEncodeError, FINISHED),
    ("enable_dedup", lambda enc, tmp: enc.enable_dedup(), dral.DralEncodeError, FINISHED),
    ("set_compression", lambda enc, tmp: enc.set_compression("zstd"), dral.DralEncodeError, FINISHED),
    ("encode unconvertible", lambda enc, tmp: enc.encode({1}), dral.DralTypeError, "cannot convert set to Dral value"),
    ("encode bad key", lambda enc, tmp: enc.encode({1: 1}), dral.DralTypeError, "dict keys must be strings"),
    ("unknown compression", lambda enc, tmp: enc.set_compression("LZ4"), ValueError, "unknown compression: LZ4 (expected none, lz4, zstd, snappy)"),
    ("compression None", lambda enc, tmp: enc.set_compression(None), TypeError, None),
    ("finish_to_file bad path", lambda enc, tmp: enc.finish_to_file(3.5), TypeError, None),
]


@pytest.mark.parametrize("name, call, exc, message", AFTER_FINISH, ids=[c[0] for c in AFTER_FINISH])
def test_calls_on_a_finished_encoder(tmp_path, name, call, exc, message):
    enc = dral.Encoder()
    enc.finish()
    with pytest.raises(exc) as info:
        call(enc, tmp_path)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    assert not (tmp_path / "x.dral").exists()


def test_finish_to_file(tmp_path):
    enc = dral.Encoder()
    enc.enable_dedup()
    enc.encode(["x", "y", "x"])
    assert enc.finish_to_file(str(tmp_path / "out.dral")) is None
    assert (tmp_path / "out.dral").read_bytes() == dral.dumps(["x", "y", "x"], dedup=True)
    failing = dral.Encoder()
    with pytest.raises(FileNotFoundError):
        failing.finish_to_file(tmp_path / "missing" / "x.dral")
    with pytest.raises(dral.DralEncodeError, match=f"^{FINISHED}$"):  # finished all the same
        failing.finish()


@pytest.mark.parametrize("data, first", [(dral.dumps(1), None), (b"\x00", "Invalid block type: 0")])
def test_decoder_is_single_use(data, first):
    dec = dral.DralDecoder(data)
    if first is None:
        assert dec.decode_all() == [1]
    else:  # a failed call consumes the decoder too
        with pytest.raises(dral.DralDecodeError, match=f"^{first}$"):
            dec.decode_all()
    for _ in range(2):
        with pytest.raises(dral.DralDecodeError) as info:
            dec.decode_all()
        assert type(info.value) is dral.DralDecodeError and str(info.value) == "decoder already consumed"


def test_decoder_max_depth_and_strict_limits():
    data = dral.dumps([[[]]])
    with pytest.raises(dral.DralDecodeError, match="^Nesting depth 2 exceeds maximum 2$"):
        dral.DralDecoder(data, max_depth=2).decode_all()
    assert dral.DralDecoder(data, max_depth=3).decode_all() == [[[[]]]]
    with pytest.raises(dral.DralDecodeError, match="^String length 16777217 exceeds maximum 16777216$"):
        dral.DralDecoder(dral.dumps("s" * (16 * 1024 * 1024 + 1))).decode_all()


# A failed encode leaves the stream as it was before the call.

FAILING = [
    ("too deep", lambda: nested_list(129)),
    ("too deep inside strings", lambda: ["b", {"c": ["d", nested_list(128)]}]),
    ("too many items", lambda: ["b", "c", [None] * 1_000_001]),
    ("too many entries", lambda: {"k": "b", "m": dict.fromkeys(map(str, range(1_000_001)))}),
]


@pytest.mark.parametrize("name, make", FAILING, ids=[f[0] for f in FAILING])
@pytest.mark.parametrize("dedup", [False, True])
def test_failed_encode_rolls_back(name, make, dedup):
    bad, enc, clean = make(), dral.Encoder(), dral.Encoder()
    if dedup:
        enc.enable_dedup()
        clean.enable_dedup()
    for target in (enc, clean):
        target.encode("a")
    with pytest.raises(dral.DralEncodeError) as info:
        enc.encode(bad)
    assert type(info.value) is dral.DralEncodeError
    # Depth must be back at 0: a value 128 levels deep still fits.
    for target in (enc, clean):
        target.encode(["b", "c", "b"])
        target.encode(nested_list(128, "d"))
    data = enc.finish()
    assert data == clean.finish()
    values = dral.loads(data)
    assert values[:2] == ["a", ["b", "c", "b"]] and len(values) == 3


def test_failed_encode_as_the_only_call_leaves_an_empty_stream():
    enc = dral.Encoder()
    enc.enable_dedup()
    with pytest.raises(dral.DralEncodeError):
        enc.encode(["x", "y", nested_list(129)])
    assert enc.finish() == dral.Encoder().finish()


def test_failed_encode_after_dedup_switch_keeps_dictionary_exact():
    enc = dral.Encoder()
    enc.encode("a")
    enc.enable_dedup()
    enc.encode("b")
    with pytest.raises(dral.DralEncodeError):
        enc.encode(["c", "b", nested_list(200)])
    enc.encode("c")
    enc.encode("b")
    data = enc.finish()
    payload = b"\x05\x00\x01a\x05\x00\x01b\x05\x00\x01c\x0a\x00"
    assert data == data_stream(payload, string_dict((0, 0, b"b"), (1, 0, b"c")))
    assert dral.loads(data) == ["a", "b", "c", "b"]


def test_failed_conversion_leaves_encoder_usable():
    enc = dral.Encoder()
    enc.encode(1)
    for bad in ({1}, [1, {2: 3}], [2**64]):
        with pytest.raises((dral.DralTypeError, OverflowError)):
            enc.encode(bad)
    enc.encode(2)
    assert dral.loads(enc.finish()) == [1, 2]
