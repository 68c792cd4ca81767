"""The frame of a compiled file: header, CRC-64 trailer, opening checks, symbol table."""

import struct

import pytest

import dral
from cbf_bytes import NULL, cbf, crc64, error_of, seg, symtab, text, with_table
from helpers import eof, varint

ONE = struct.pack("<I", 1)  # a symbol table count
NULL_FILE = bytes.fromhex("44 52 41 4C 01 01 01 00" + "00" * 24 + "F0 00 00 00" + "C7 AD 32 FF 66 30 DF 07")


def test_reference_crc_and_the_null_file():
    # The builders below lean on this CRC; it must be the ECMA-182 one.
    assert dral.rfc_compile_ctn("null") == NULL_FILE
    assert crc64(b"123456789") == 0x6C40DF5F0B497347
    assert crc64(NULL_FILE[:-8]) == 0x07DF3066FF32ADC7
    assert crc64(b"") == 0
    decoded = dral.rfc_decode_cbf(NULL_FILE)
    assert decoded["document"]["root"] == {"kind": "scalar", "type": "null", "value": None}
    assert decoded["ctn"] == "null"


@pytest.mark.parametrize("size", [0, 1, 7, 8, 15, 16, 63, 64, 200, 219, 220, 221, 236, 300, 1023,
                                  4096 + 13, 65536 + 5, 300_001])
def test_native_crc_agrees_with_the_reference(size):
    # A zeroed trailer makes the decoder report the CRC it computed; bodies of these sizes cover
    # the table path, the folding path, and every tail length after the folded blocks.
    good = cbf(text("x" * size) if size else NULL)
    message = error_of(good[:-8] + bytes(8))
    assert message == f"Checksum mismatch: expected 0x{0:016x}, got 0x{crc64(good[:-8]):016x}"
    dral.rfc_decode_cbf(good)


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", eof(0)), (NULL_FILE[:39], eof(39)),
        (b"XRAL" + NULL_FILE[4:-1] + b"\x00", "Invalid magic bytes"),
        (cbf(NULL, version=2, trailer=0), "Unsupported format version: 2"),
        (cbf(NULL, version=0), "Unsupported format version: 0"),
        (cbf(b""), eof(0)), (cbf(NULL, root_offset=4), eof(4)),
        (cbf(NULL, root_offset=2**64 - 1), eof(2**64 - 1)),
        # A bad symbol table is reported before a bad root offset.
        (cbf(NULL, flags=0x03, symtab_offset=1, root_offset=99), eof(1)),
    ],
)
def test_opening_checks_in_order(data, message):
    assert error_of(data) == message


@pytest.mark.parametrize("position", [5, 6, 7, 8, 15, 16, 23, 24, 28, 31, 32, 35])
def test_any_flipped_bit_after_the_version_is_a_checksum_error(position):
    flipped = bytearray(NULL_FILE)
    flipped[position] ^= 0x10
    assert error_of(bytes(flipped)).startswith("Checksum mismatch: expected 0x07df3066ff32adc7, got ")


def test_header_fields_are_reported_as_read():
    data = cbf(b"junk" + NULL + b"trailing", root_offset=4, ctn_version=9, alignment=200,
               flags=0xF9, schema=b"12345678", index_offset=77, symtab_offset=5)
    decoded = dral.rfc_decode_cbf(data)
    assert decoded["header"] == {
        "magic": "DRAL", "cbf_version": 1, "ctn_version": 9, "flags": 0xF9, "alignment": 200,
        "schema_hash_prefix": b"12345678", "root_offset": 4, "symtab_offset": 5,
        "index_offset": 77, "self_describing": True, "has_symtab": False, "has_index": False,
    }
    # Flag bit 1 clear: no table is read at symtab_offset, whatever lies there.
    assert decoded["symbols"] == []
    assert decoded["document"]["root"]["type"] == "null"


def test_symbol_table_is_read_where_the_header_says():
    root = seg(0x30, varint(3))
    decoded = dral.rfc_decode_cbf(cbf(root + symtab("b", "a", "é", "b"), flags=0x03,
                                      symtab_offset=len(root), root_offset=0))
    # File order, duplicates and disorder kept; an entry no value uses need not be a name.
    assert decoded["symbols"] == ["b", "a", "é", "b"]
    assert decoded["document"]["root"] == {"kind": "scalar", "type": "sym", "value": "b"}


@pytest.mark.parametrize(
    "table, message",
    [
        (b"\x01\x00\x00", eof(0)), (ONE, eof(4)), (ONE + b"\x80", eof(5)),
        (ONE + varint(5) + b"abc", eof(10)),
        (ONE + b"\xff" * 9 + b"\x02", "Varint overflow: encoded integer exceeds 64 bits"),
        (struct.pack("<I", 2) + varint(1) + b"a" + varint(2) + b"\xc3(", "Invalid UTF-8 in string field at offset 7"),
        (ONE + varint(2**64 - 1), "Length overflow: 18446744073709551615 exceeds platform maximum"),
        # A count far beyond what the body holds fails on reading, without reserving for it.
        (struct.pack("<I", 0xFFFFFFFF) + varint(0) * 3, eof(7)),
    ],
)
def test_symbol_table_errors(table, message):
    assert error_of(cbf(table, flags=0x03)) == message


def test_header_class():
    data = with_table(["s"], seg(0x30, b"\x00"))
    model = dral.rfc_decode_cbf_model(data)
    header = model.header
    assert repr(header) == "RfcHeader(cbf_version=1, ctn_version=1, flags=0x03)"
    assert header.magic == dral.RFC001_CBF_MAGIC.decode()
    assert (header.has_symtab, header.self_describing, header.has_index) == (True, True, False)
    assert header.root_offset == len(symtab("s"))
    assert header.to_dict() == dral.rfc_decode_cbf(data)["header"]
    assert header is not model.header and header.to_dict() == model.header.to_dict()
    with pytest.raises(AttributeError):
        header.flags = 1
