"""Encoder and DralDecoder: states, results, and the state after a failed encode."""

import pytest

import dral
from helpers import data_stream, nested_list, string_dict

FINISHED = "encoder already finished"


class MyBytes(bytes):
    pass


@pytest.mark.parametrize("count", [0, 1, 2, 16, 17, 40])
def test_streams_of_values_read_back_in_order(count):
    values = [{"k": [i, str(i)]} for i in range(count)]
    enc = dral.Encoder()
    for value in values:
        assert enc.encode(value) is None
    data = enc.finish()
    # One value reads back as itself, any other count as a list; decode_all always gives a list.
    assert dral.loads(data) == dral.decode(data) == (values[0] if count == 1 else values)
    for raw in (data, MyBytes(data)):
        assert dral.DralDecoder(raw).decode_all() == values


def test_encoder_sort_keys_applies_to_every_encode():
    enc = dral.Encoder(sort_keys=True)
    enc.encode({"b": 1, "a": {"d": 1, "c": 2}})
    enc.encode([{"z": 0, "y": 0}])
    first, second = dral.decode(enc.finish())
    assert list(first) == ["a", "b"] and list(first["a"]) == ["c", "d"] and list(second[0]) == ["y", "z"]


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


# A failed encode leaves the stream as it was before the call. Rows: values encoded before, the
# failing value, its exception.
FAILING = [
    ("too deep", ["a"], lambda: nested_list(129), dral.DralEncodeError),
    ("too deep inside strings", ["a"], lambda: ["b", {"c": ["d", nested_list(128)]}],
     dral.DralEncodeError),
    ("too deep as the only call", [], lambda: ["x", "y", nested_list(129)], dral.DralEncodeError),
    ("too many items", ["a"], lambda: ["b", "c", [None] * 1_000_001], dral.DralEncodeError),
    ("too many entries", ["a"], lambda: {"k": "b", "m": dict.fromkeys(map(str, range(1_000_001)))},
     dral.DralEncodeError),
    ("unconvertible", ["a"], lambda: ["b", {1}], dral.DralTypeError),
    ("bad key", ["a"], lambda: ["b", [1, {2: 3}]], dral.DralTypeError),
    ("int too large", ["a"], lambda: ["b", [2**64]], OverflowError),
]


@pytest.mark.parametrize("name, before, make, exc", FAILING, ids=[f[0] for f in FAILING])
@pytest.mark.parametrize("dedup", [False, True])
def test_failed_encode_rolls_back(name, before, make, exc, dedup):
    bad, enc, clean = make(), dral.Encoder(), dral.Encoder()
    for target in (enc, clean):
        if dedup:
            target.enable_dedup()
        for value in before:
            target.encode(value)
    with pytest.raises(exc) as info:
        enc.encode(bad)
    assert type(info.value) is exc
    # Depth must be back at 0: a value 128 levels deep still fits.
    for target in (enc, clean):
        target.encode(["b", "c", "b"])
        target.encode(nested_list(128, "d"))
    data = enc.finish()
    assert data == clean.finish()
    assert dral.loads(data) == [*before, ["b", "c", "b"], nested_list(128, "d")]


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
