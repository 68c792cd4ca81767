"""Round trips over generated values, and decoding of damaged or random bytes."""

import contextlib

from hypothesis import given, settings
from hypothesis import strategies as st

import dral
from helpers import same
from strategies import BYTE_INPUTS, JSON_LIKE, WITH_NAN


@given(JSON_LIKE, st.booleans(), st.booleans())
def test_round_trip(value, dedup, sort_keys):
    data = dral.dumps(value, dedup=dedup, sort_keys=sort_keys)
    back = dral.loads(data)
    assert back == value
    if not sort_keys:
        assert same(back, value)  # also key order, int/bool and -0.0
    assert dral.loads(data, strict=False) == value
    assert dral.DralDecoder(data).decode_all() == [value]


@given(st.lists(JSON_LIKE, max_size=4), st.booleans())
def test_encoder_round_trip(values, dedup):
    enc = dral.Encoder()
    if dedup:
        enc.enable_dedup()
    for value in values:
        enc.encode(value)
    back = dral.loads(enc.finish())
    assert back == (values[0] if len(values) == 1 else values)


@given(WITH_NAN)
def test_round_trip_with_nan(value):
    assert same(dral.loads(dral.dumps(value, dedup=True)), value)  # repr tells NaN apart


@settings(max_examples=400)
@given(BYTE_INPUTS, st.booleans(), st.sampled_from([0, 1, 2, 128]))
def test_damaged_input_only_raises_decode_errors(data, strict, max_depth):
    with contextlib.suppress(dral.DralDecodeError):
        dral.loads(data, strict=strict, max_depth=max_depth)
