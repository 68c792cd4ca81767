"""Strings read from bytes decode as Python decodes UTF-8: the same characters, or an error for every
sequence Python refuses (overlong forms, surrogates, cut or stray continuation bytes)."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from helpers import data_stream, varint

# Each lead byte's edges: the least and greatest valid second bytes after E0, ED, F0 and F4, the
# overlong and surrogate ones just past them, cut sequences, and runs of ASCII long enough for a step.
PIECES = st.sampled_from([
    b"a", b"~" * 31, b"x" * 32, b"y" * 40, b"\xc3\xa9", b"\xdf\xbf", b"\xc1\xbf", b"\xe4\xb8\x80", b"\xe0\xa0\x80",
    b"\xe0\x9f\xbf", b"\xed\x9f\xbf", b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xee\x80\x80", b"\xef\xbf\xbf", b"\xe4\xb8",
    b"\xe4", b"\xe4a\x80", b"\xe4\xb8a", b"\x80", b"\xf0\x90\x80\x80", b"\xf0\x8f\xbf\xbf", b"\xf4\x8f\xbf\xbf",
    b"\xf4\x90\x80\x80", b"\xf0\x9f\x98",
])


def loaded_string(raw):
    return dral.loads(data_stream(b"\x05\x00" + varint(len(raw)) + raw))


@given(st.lists(PIECES, max_size=40).map(b"".join))
def test_strings_decode_as_python_decodes_utf8(raw):
    try:
        expected = raw.decode("utf-8")
    except UnicodeDecodeError:
        with pytest.raises(dral.DralDecodeError, match="Invalid UTF-8"):
            loaded_string(raw)
    else:
        assert loaded_string(raw) == expected
