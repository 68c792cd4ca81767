"""Calls that run out of memory, for test_hostile_input: each function prepares what its call needs
and returns the call, which then runs in a child of a new interpreter allowed ALLOWANCE more bytes
of address space. Every call needs at least twice that: 200,000 strings of 1 KB encoded or decoded
from references, a million empty lists read from text, copies of views and encoders of 40 MB."""

import io
import os
import tempfile

import dral
from helpers import data_stream, varint

ALLOWANCE = 16 << 20
KB = b"x" * 1000
KB_STRS = [KB.decode()] * 200_000
KB_REFS = data_stream(b"\x05\x00" + varint(len(KB)) + KB + b"\x0a\x00" * 200_000)
EMPTY_LISTS = "[" + "[]," * 10**6 + "]"
STR_SUBCLASS = type("S", (str,), {})  # not written directly: the conversion to Values runs


def dumps():
    return lambda: dral.dumps(KB_STRS)


def dumps_sorted():
    return lambda: dral.dumps({"k": KB_STRS, "a": 1}, sort_keys=True)


def dumps_str_subclass():
    return lambda: dral.dumps(KB_STRS + [STR_SUBCLASS("s")])


def encode():
    return lambda: dral.encode(KB_STRS)


def dump():
    return lambda: dral.dump(KB_STRS, io.BytesIO())


def encode_to_file():
    path = os.path.join(tempfile.mkdtemp(), "out.dral")

    def call():
        try:
            dral.encode_to_file(KB_STRS, path)
        finally:
            assert not os.path.exists(path), "a file was left behind"

    return call


def encoder_encode():
    return lambda: dral.Encoder().encode(KB_STRS + [STR_SUBCLASS("s")])


def encoder_after_failure():
    """An encoder that ran out of memory half-way through a value is as it was before it."""
    encoder = dral.Encoder(sort_keys=True)
    encoder.enable_dedup()
    encoder.encode("kept")

    def call():
        try:
            encoder.encode({"s": "new", "b": [KB] * 200_000})
        except MemoryError:
            encoder.encode(["after", "kept", "new"])  # "new" was never written: no reference to it
            return dral.decode(encoder.finish())
        return "no MemoryError"

    return call


def encoder_finish():
    encoder = dral.Encoder()
    encoder.encode(KB_STRS[:40_000])
    return encoder.finish


def encoder_finish_to_file():
    encoder = dral.Encoder()
    encoder.encode(KB_STRS[:40_000])
    path = os.path.join(tempfile.mkdtemp(), "out.dral")

    def call():
        try:
            encoder.finish_to_file(path)
        finally:
            assert not os.path.exists(path), "a file was left behind"

    return call


def loads():
    return lambda: dral.loads(KB_REFS)


def loads_reference_path():
    return lambda: dral._dral_native._loads_reference(KB_REFS)


def load():
    return lambda: dral.load(io.BytesIO(KB_REFS))


def decode():
    return lambda: dral.decode(KB_REFS)


def decode_from_file():
    path = os.path.join(tempfile.mkdtemp(), "in.dral")
    with open(path, "wb") as file:
        file.write(KB_REFS)
    return lambda: dral.decode_from_file(path)


def dral_decoder():
    return dral.DralDecoder(KB_REFS).decode_all


def loads_value():
    return lambda: dral.loads_value(KB_REFS)


def parse_text():
    return lambda: dral.parse_text(EMPTY_LISTS)


def parse_text_value():
    return lambda: dral.parse_text_value(EMPTY_LISTS)


def pretty_print():
    return lambda: dral.pretty_print(KB_STRS)


def to_value():
    return lambda: dral.to_value(KB_STRS)


def view_as_python():
    return dral.to_value([[]] * 500_000).as_python


def view_values():
    return dral.to_value([[]] * 500_000).values
