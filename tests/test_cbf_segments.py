"""Value segments as the decoder reads them: every kind, every error, depth and size budgets."""

import struct

import pytest

import dral
from cbf_bytes import NULL, cbf, error_of, i64, indexed, root_of, scalar, seg, seq, sym, text, with_table
from helpers import varint

EOF = "Unexpected end of input at offset {}"
DATA = "Invalid data: {}"


@pytest.mark.parametrize(
    "segment, expected",
    [
        (seg(0xF0), scalar("null", None)), (seg(0xF1), scalar("unit", None)),
        (seg(0xF2), scalar("bool", True)), (seg(0xF3, b"skipped"), scalar("bool", False)),
        (seg(0xF6), scalar("str", "")), (seg(0xF7), scalar("bytes", b"")),
        (seg(0x10, b"abc", long=True), scalar("str", "abc")), (i64(-1), scalar("i64", -1)),
        (seg(0xF4), {"kind": "sequence", "elem_type": None, "items": []}),
        (seg(0xF5), {"kind": "association", "pairs": []}),
        (seg(0x08, b"\xff" * 8), scalar("u64", 2**64 - 1)),
        (seg(0x0A, b"\x01"), scalar("vi64", -1)), (seg(0x0B, b"\xac\x02"), scalar("vu64", 300)),
        (seg(0x0A, b"\xff" * 9 + b"\x01"), scalar("vi64", -(2**63))),
        (seg(0x0C, struct.pack("<f", 0.1)), scalar("f32", struct.unpack("<f", struct.pack("<f", 0.1))[0])),
        (seg(0x0D, struct.pack("<d", -2.5)), scalar("f64", -2.5)),
        (seg(0x17, "é".encode()), scalar("str", "é")),  # any config
        (seg(0x2F, b"\x00\xff"), scalar("bytes", b"\x00\xff")),
        (seg(0xD0, varint(4) + b"date" + varint(3) + b"2024"[:3]), {"kind": "scalar", "type": "tagged", "tag": "date", "value": "202"}),
        (seg(0xD7, varint(1) + b"t" + varint(2) + b"\x00\xff"), {"kind": "opaque", "type_tag": "t", "bytes": b"\x00\xff"}),
        (seg(0xB0, text("N") + b"\x00"), {"kind": "opaque", "type_tag": "annotation", "bytes": b"N=false"}),
        (seg(0xB0, text("N") + b"\x01" + i64(3)), {"kind": "opaque", "type_tag": "annotation", "bytes": b"N=true"}),
        (seg(0x90, b"\x00" + varint(1) + b"x" + b"spare"), {"kind": "reference", "reference_kind": "binding", "name": "x"}),
        (seg(0x90, b"\x01" + NULL), {"kind": "reference", "reference_kind": "by_id", "value": scalar("null", None)}),
        (seg(0x40, b"\x01" + text("P") + varint(2) + text("b") + i64(1) + text("a") + NULL),
         {"kind": "product", "type_name": "P", "fields": [
             {"name": "b", "value": scalar("i64", 1)}, {"name": "a", "value": scalar("null", None)}]}),
        (seg(0x40, b"\x07" + varint(0)), {"kind": "product", "type_name": None, "fields": []}),
        (seg(0x50, b"\x01" + text("Color") + text("Red") + b"\x00"),
         {"kind": "sum", "type_name": "Color", "variant": "Red", "payload": {"kind": "unit"}}),
        (seg(0x50, b"\x00" + text("V") + b"\x01" + varint(1) + NULL),
         {"kind": "sum", "type_name": None, "variant": "V", "payload": {"kind": "tuple", "items": [scalar("null", None)]}}),
        (seg(0x50, b"\x00" + text("V") + b"\x02" + varint(1) + text("f") + NULL),
         {"kind": "sum", "type_name": None, "variant": "V",
          "payload": {"kind": "struct", "fields": [{"name": "f", "value": scalar("null", None)}]}}),
        (seq(i64(1), i64(2), elem_type="int"), {"kind": "sequence", "elem_type": "int", "items": [scalar("i64", 1), scalar("i64", 2)]}),
        (seq(NULL, NULL, tag=0x60), {"kind": "sequence", "elem_type": None, "items": [scalar("null", None)] * 2}),
        (seg(0x78, indexed([i64(1) + NULL, text("k") + i64(2)])),
         {"kind": "association", "pairs": [[scalar("i64", 1), scalar("null", None)], [scalar("str", "k"), scalar("i64", 2)]]}),
        (seg(0x70, varint(1) + NULL + NULL), {"kind": "association", "pairs": [[scalar("null", None)] * 2]}),
        (seg(0xA0, text("ev") + varint(2) + text("a") + b"\x00" + text("b") + b"\x01" + i64(5)),
         {"kind": "stream", "item_type": "ev", "annotations": [
             {"name": "a", "value": None}, {"name": "b", "value": scalar("i64", 5)}]}),
        (seg(0x80, bytes([16, 2, 1, 0]) + varint(2) + varint(0) + struct.pack("<Q", 2) + struct.pack("<qq", -1, 7) + b"spare"),
         {"kind": "tensor", "element_type": "i64", "shape": [2, None], "annotations": [],
          "data": {"kind": "dense_i64", "values": [-1, 7]}}),
        (seg(0x80, bytes([1, 0, 9, 9]) + struct.pack("<Q", 1) + struct.pack("<d", 0.5)),
         {"kind": "tensor", "element_type": "f32", "shape": [], "annotations": [],
          "data": {"kind": "dense_f64", "values": [0.5]}}),
        (seg(0x80, bytes([17, 1, 1, 0]) + varint(1) + struct.pack("<QQ", 1, 2**64 - 1)),
         {"kind": "tensor", "element_type": "u64", "shape": [1], "annotations": [],
          "data": {"kind": "dense_u64", "values": [2**64 - 1]}}),
        # Any other code: every byte after the count field, whatever the count says.
        (seg(0x80, bytes([255, 0, 1, 0]) + struct.pack("<Q", 99) + b"raw"),
         {"kind": "tensor", "element_type": "bytes", "shape": [], "annotations": [],
          "data": {"kind": "binary_blob", "bytes": b"raw"}}),
    ],
)
def test_each_segment_kind_decodes(segment, expected):
    assert root_of(segment) == expected


def test_symbols_and_field_names_through_the_table():
    root = seg(0x40, b"\x00" + varint(2) + sym(1) + sym(0) + text("plain") + seg(0xF6))
    decoded = dral.rfc_decode_cbf(with_table(["Z", "b"], root))
    assert decoded["symbols"] == ["Z", "b"]
    assert decoded["document"]["root"]["fields"] == [
        {"name": "b", "value": scalar("sym", "Z")}, {"name": "plain", "value": scalar("str", "")}]
    assert error_of(with_table(["a", "b", "c"], sym(5))) == \
        "Invalid reference: index 5 out of bounds (dictionary has 3 entries)"


@pytest.mark.parametrize(
    "segment, message",
    [
        (b"\xf0\x00\x00", EOF.format(0)), (b"\x10\xff\xff\xff\x01", EOF.format(4)),
        (b"\x10\x05\x00\x00ab", EOF.format(9)),
        *[(seg(tag), EOF.format(0)) for tag in (0x40, 0x50, 0x68, 0x78, 0x90)],
        (b"\x10\xff\xff\xff" + b"\xff" * 8, "Length overflow: 18446744073709551615 exceeds platform maximum"),
        *[(seg(tag), DATA.format(f"unsupported segment type/config: {name}"))
          for tag, name in [(0xE0, "0xe/0x0"), (0xC0, "0xc/0x0"), (0xF8, "0xf/0x8"), (0x01, "0x0/0x1")]],
        *[(seg(tag, bytes(size)), DATA.format(f"invalid {name} primitive payload size"))
          for tag, size, name in [(3, 7, "i64"), (8, 9, "u64"), (0xC, 8, "f32"), (0xD, 4, "f64")]],
        (seg(0x0B, b"\xac\x02\x00"), DATA.format("varint primitive trailing bytes")),
        (seg(0x0A, b"\x80\x80"), EOF.format(2)),
        (seg(0x0B, b"\xff" * 9 + b"\x02"), "Varint overflow: encoded integer exceeds 64 bits"),
        (seg(0x10, b"a\xff"), "Invalid UTF-8 in string field at offset 4"),
        (seq(NULL, seg(0x10, b"\xc3")), "Invalid UTF-8 in string field at offset 18"),
        (sym(0) + b"", "Invalid reference: index 0 out of bounds (dictionary has 0 entries)"),
        (seg(0x30, b"\x00\x00"), DATA.format("symbol segment has trailing payload")),
        (seg(0x40, b"\x01" + i64(1) + varint(0)), DATA.format("expected string scalar for struct type name")),
        (seg(0x40, b"\x00" + varint(1) + i64(1) + NULL), DATA.format("field name segment must be str or sym")),
        (seg(0x40, b"\x00" + varint(0) + b"x"), DATA.format("struct payload has trailing bytes")),
        (seg(0x40, b"\x00" + varint(2**40) + text("a") + NULL), EOF.format(16)),
        (seg(0x50, b"\x01" + NULL + text("V") + b"\x00"), DATA.format("expected string scalar for enum type name")),
        (seg(0x50, b"\x00" + seg(0x20, b"V") + b"\x00"), DATA.format("expected string scalar for enum variant")),
        (seg(0x50, b"\x00" + text("V")), EOF.format(6)),
        (seg(0x50, b"\x00" + text("V") + b"\x03"), DATA.format("unknown enum payload kind 3")),
        (seg(0x50, b"\x00" + text("V") + b"\x00\x00"), DATA.format("enum payload trailing bytes")),
        (seg(0x68, b"\x01" + i64(1) + varint(0)), DATA.format("expected string scalar for sequence element type")),
        (seg(0x68, b"\x00" + varint(2**62)), "Length overflow: 4611686018427387904 exceeds platform maximum"),
        (seg(0x68, b"\x00" + varint(3) + bytes(8)), EOF.format(14)),
        (seg(0x68, b"\x00" + varint(1) + struct.pack("<I", 4) + NULL), EOF.format(10)),
        (seg(0x60, b"\x00" + varint(1) + NULL + b"x"), DATA.format("sequence payload has trailing bytes")),
        (seg(0x60, b"\x00" + varint(2**60) + NULL), EOF.format(14)),
        (seg(0x70, varint(1) + NULL + NULL + b"x"), DATA.format("map payload has trailing bytes")),
        (seg(0x78, varint(1) + struct.pack("<I", 0) + NULL), EOF.format(9)),
        (seg(0x80, b"\x02\x00\x01"), EOF.format(3)),
        (seg(0x80, bytes([2, 0, 1, 0]) + bytes(7)), EOF.format(4)),
        (seg(0x80, bytes([2, 2, 1, 0]) + varint(3)), EOF.format(5)),
        (seg(0x80, bytes([2, 1, 1, 0]) + varint(3) + bytes(7)), EOF.format(5)),
        (seg(0x80, bytes([2, 0, 1, 0]) + struct.pack("<Q", 2**61)), "Length overflow: 2305843009213693952 exceeds platform maximum"),
        # The text form reads no dimension past 2^63 - 1: a file must not convert to text that does not read back.
        (seg(0x80, bytes([16, 1, 1, 0]) + varint(2**63) + struct.pack("<Q", 0)), DATA.format("tensor dimension out of range")),
        (seg(0x80, bytes([16, 0, 1, 0]) + struct.pack("<Q", 2) + bytes(8)), EOF.format(28)),
        (seg(0x90, b"\x00" + varint(5) + b"abc"), EOF.format(7)),
        (seg(0x90, b"\x00" + varint(1) + b"\xff"), "Invalid UTF-8 in string field at offset 2"),
        (seg(0x90, b"\x01" + NULL + b"x"), DATA.format("reference-by-id payload trailing bytes")),
        (seg(0x90, b"\x02"), DATA.format("unknown reference kind 2")),
        (seg(0xA0, i64(1) + varint(0)), DATA.format("expected string scalar for stream item type")),
        (seg(0xA0, text("e") + varint(1)), EOF.format(6)),
        (seg(0xA0, text("e") + varint(1) + text("a")), EOF.format(11)),
        (seg(0xA0, text("e") + varint(1) + text("a") + b"\x01" + seq(NULL)), DATA.format("stream annotation value must be scalar")),
        (seg(0xA0, text("e") + varint(1) + text("a") + b"\x00\x00"), DATA.format("stream payload trailing bytes")),
        (seg(0xB0, text("N")), EOF.format(5)),
        (seg(0xB0, text("N") + b"\x01" + seg(0xF4)), DATA.format("annotation value must be scalar")),
        (seg(0xB0, text("N") + b"\x01" + NULL + b"x"), DATA.format("annotation payload trailing bytes")),
        (seg(0xB0, text("N") + b"\x00\x00"), DATA.format("annotation payload trailing bytes")),
        (seg(0xD1, varint(1) + b"\xff" + varint(0)), "Invalid UTF-8 in string field at offset 1"),
        (seg(0xD1, varint(4) + b"ab"), EOF.format(5)),
        (seg(0xD1, varint(1) + b"t" + varint(0) + b"x"), DATA.format("opaque payload trailing bytes")),
        (seg(0xD0, varint(1) + b"t" + varint(3) + b"a\xe2\x82"),
         DATA.format("invalid opaque tagged utf8: incomplete utf-8 byte sequence from index 1")),
        (seg(0xD0, varint(1) + b"t" + varint(2) + b"\xe0\x80"),
         DATA.format("invalid opaque tagged utf8: invalid utf-8 sequence of 1 bytes from index 0")),
    ],
)
def test_decoder_errors(segment, message):
    assert error_of(cbf(segment)) == message


def _nested(depth):
    value = i64(1)
    for _ in range(depth):
        value = seq(value)
    return value


def test_depth_limit():
    # The integer inside 64 sequences sits at depth 64, inside 65 at depth 65.
    root = root_of(_nested(64))
    for _ in range(64):
        root = root["items"][0]
    assert root == scalar("i64", 1)
    assert error_of(cbf(_nested(65))) == "Nesting depth 65 exceeds maximum 64"  # far deeper: test_hostile_input


def _shared_child_tree(levels):  # sequences of two items both pointing at the one child below
    value = NULL
    for _ in range(levels):
        value = seg(0x68, b"\x00" + varint(2) + struct.pack("<II", 0, 0) + value)
    return value


def test_overlapping_offsets_cannot_multiply_segments():
    # 30 levels stand for 2^30 leaves in about 400 bytes.
    assert error_of(cbf(_shared_child_tree(30))) == DATA.format("segment count exceeds body size")
    # Sharing that stays within one segment per four bytes of body still decodes.
    assert root_of(_shared_child_tree(2))["items"][1]["items"][0] == scalar("null", None)
    # 6 + 4n bytes of body hold n + 1 segments: the bound is reached, not exceeded.
    assert len(root_of(seq(*[NULL] * 50, tag=0x60))["items"]) == 50


@pytest.mark.parametrize("cut", [b"\xf0", b"\xf0\x00", b"\xf0\x00\x00"])
def test_a_header_cut_off_is_a_truncation_even_with_the_segment_budget_spent(cut):
    # Five items share one 14-byte sequence; the sixth is a header cut short. The eleven whole
    # segments read before it spend the budget of a 44 + len(cut) byte body exactly.
    shared = seq(NULL)
    root = seg(0x68, b"\x00" + varint(6) + struct.pack("<6I", 0, 0, 0, 0, 0, len(shared)) + shared + cut)
    assert error_of(cbf(root)) == EOF.format(26 + len(shared))


def test_overlapping_offsets_cannot_multiply_copied_bytes():
    for child in (text("x" * 1000), seg(0x80, bytes([255, 0, 1, 0]) + bytes(8) + bytes(500))):
        shared = seg(0x68, b"\x00" + varint(10) + bytes(40) + child)
        assert error_of(cbf(shared)) == DATA.format("decoded bytes exceed body size")


def test_symbol_references_cannot_copy_without_bound():
    # 20000 four-byte offsets to one symbol segment that copies a 4 KiB entry: 78 MiB of text
    # from an 84 KB body, past 64 times the body plus 64 MiB.
    root = seg(0x68, b"\x00" + varint(20000) + bytes(4 * 20000) + sym(0))
    assert error_of(with_table(["y" * 4096], root)) == DATA.format("decoded symbol text exceeds limit")
    fewer = seg(0x68, b"\x00" + varint(100) + bytes(400) + sym(0))
    assert len(dral.rfc_decode_cbf(with_table(["y" * 4096], fewer))["document"]["root"]["items"]) == 100
