"""Calls that run out of memory, for test_hostile_input: prepare(name) returns the call, which runs
in a child of a new interpreter allowed ALLOWANCE more bytes of address space: half what it needs
or less (200,000 strings of 1 KB, a million empty lists from text, copies of 40 MB)."""

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
STR_SUBCLASS = type("S", (str,), {})  # a first item the direct path leaves to the Value path

CALLS = {
    "dumps": lambda: dral.dumps(KB_STRS),
    "dumps sorted": lambda: dral.dumps({"k": KB_STRS, "a": 1}, sort_keys=True),
    "dumps of a str subclass": lambda: dral.dumps([STR_SUBCLASS("s")] + KB_STRS),
    "encode": lambda: dral.encode(KB_STRS),
    "dump": lambda: dral.dump(KB_STRS, io.BytesIO()),
    "Encoder.encode": lambda: dral.Encoder().encode([STR_SUBCLASS("s")] + KB_STRS),
    "loads": lambda: dral.loads(KB_REFS),
    "loads reference path": lambda: dral._dral_native._loads_reference(KB_REFS),
    "load": lambda: dral.load(io.BytesIO(KB_REFS)),
    "decode": lambda: dral.decode(KB_REFS),
    "DralDecoder": lambda: dral.DralDecoder(KB_REFS).decode_all(),
    "loads_value": lambda: dral.loads_value(KB_REFS),
    "parse_text": lambda: dral.parse_text(EMPTY_LISTS),
    "parse_text_value": lambda: dral.parse_text_value(EMPTY_LISTS),
    "pretty_print": lambda: dral.pretty_print(KB_STRS),
    "to_value": lambda: dral.to_value(KB_STRS),
}


def leaves_no_file(write):
    path = os.path.join(tempfile.mkdtemp(), "out.dral")

    def call():
        try:
            write(path)
        finally:
            assert not os.path.exists(path), "a file was left behind"

    return call


def full_encoder():
    encoder = dral.Encoder()
    encoder.encode(KB_STRS[:40_000])
    return encoder


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


def read_from_file():
    path = os.path.join(tempfile.mkdtemp(), "in.dral")
    with open(path, "wb") as file:
        file.write(KB_REFS)
    return lambda: dral.decode_from_file(path)


PREPARED = {
    "encode_to_file": lambda: leaves_no_file(lambda path: dral.encode_to_file(KB_STRS, path)),
    "Encoder.finish": lambda: full_encoder().finish,
    "Encoder.finish_to_file": lambda: leaves_no_file(full_encoder().finish_to_file),
    "Encoder after a failure": encoder_after_failure,
    "decode_from_file": read_from_file,
    "DralValue.as_python": lambda: dral.to_value([[]] * 500_000).as_python,
    "DralValue.values": lambda: dral.to_value([[]] * 500_000).values,
}
NAMES = [*CALLS, *PREPARED]


def prepare(name: str):
    return CALLS[name] if name in CALLS else PREPARED[name]()
