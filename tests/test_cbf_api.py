"""Compiling CTN to the binary form: exact bytes, symbols, references, losses, arguments, bounds."""

import re
import struct

import pytest

import dral
from cbf_bytes import body_of, scalar, seg

compile_ctn = dral.rfc_compile_ctn


def root_segment(ctn: str, **options) -> bytes:
    data = compile_ctn(ctn, **options)
    root_offset = struct.unpack_from("<Q", data, 16)[0]
    return body_of(data)[root_offset:]


def round_trip(ctn: str):
    return dral.rfc_decode_cbf(compile_ctn(ctn))["document"]["root"]


def chain(levels: int, value: str) -> str:
    """Bindings a0 = 1 and a{i} = `value` with {0} replaced by &a{i - 1}; no root."""
    lines = [f"let a{i} = " + value.format(f"&a{i - 1}") for i in range(1, levels + 1)]
    return "\n".join(["let a0 = 1"] + lines)


@pytest.mark.parametrize(
    "ctn, segment",
    [
        ("true", "f2000000"), ("false", "f3000000"), ("unit", "f1000000"), ('""', "f6000000"),
        ('b""', "f7000000"), ("[]", "f4000000"), ("map<str, str> []", "f5000000"),
        ("-1i64", "03080000" + "ff" * 8), ("5u64", "08080000" + "0500000000000000"),
        ("-1", "0a010000" + "01"), ("300vu64", "0b020000" + "ac02"),
        ("0.5f32", "0c040000" + "0000003f"), ("2.5", "0d080000" + "0000000000000440"),
        ('"hé"', "10030000" + "68c3a9"), ('b64"AP8="', "20020000" + "00ff"),
        ('date"2024"', "d00a0000" + "0464617465" + "0432303234"),
        ("&nowhere", "90090000" + "00" + "076e6f7768657265"),
        ("ref 1i64", "900d0000" + "01" + "03080000" + "0100000000000000"),
        ("[1i64, 2i64]", "68220000" + "00" + "02" + "00000000" + "0c000000"
         + "03080000" + "0100000000000000" + "03080000" + "0200000000000000"),
        ("Color::Red", "50120000" + "01" + "10050000" + "436f6c6f72" + "10030000" + "526564" + "00"),
    ],
)
def test_exact_segment_bytes(ctn, segment):
    assert root_segment(ctn).hex() == segment


def test_length_forms_switch_at_0xffffff():
    short = root_segment('"' + "a" * (0xFFFFFF - 1) + '"')
    assert short[:4] == bytes([0x10, 0xFE, 0xFF, 0xFF])
    long = root_segment('"' + "a" * 0xFFFFFF + '"')
    assert long[:12] == bytes([0x10, 0xFF, 0xFF, 0xFF]) + struct.pack("<Q", 0xFFFFFF)
    assert round_trip('"' + "a" * 0xFFFFFF + '"')["value"] == "a" * 0xFFFFFF


def test_symbol_table_holds_sorted_names_and_indexes_fields():
    ctn = "Point\n  b = 'Z\n  a = 1i64"
    data = compile_ctn(ctn)
    decoded = dral.rfc_decode_cbf(data)
    assert decoded["symbols"] == ["Point", "Z", "a", "b"]
    assert data[6] == 0x03 and decoded["header"]["root_offset"] == 4 + 4 * 1 + len("PointZab")
    product = root_segment(ctn)
    # flag, type name as text, count, then field b through the table (index 3) and its symbol.
    assert product[4:].startswith(b"\x01" + seg(0x10, b"Point") + b"\x02" + seg(0x30, b"\x03") + seg(0x30, b"\x01"))
    assert decoded["document"]["root"]["fields"][0] == {"name": "b", "value": scalar("sym", "Z")}


def test_symbol_table_lists_every_kind_of_name():
    ctn = ("Outer\n  s = seq<Elem>\n    Kind::Some\n      f = 1\n  t = tensor<i64>[1]\n"
           "    @measure 'meter\n    [1]\n  e = stream<Event>\n    @source 'feed\n  r = &missing\n"
           "  m = map<str, any>\n    'key => 'val")
    names = "Outer s Elem Kind Some f t i64 measure meter e Event source feed r missing m key val"
    assert dral.rfc_decode_cbf(compile_ctn(ctn))["symbols"] == sorted(names.split(), key=str.encode)


def test_without_table():
    # The second holds its symbol only in a tensor annotation, which is not even written.
    for ctn in ("struct\n  a = 'Z", "tensor<f64>[1]\n  @u 'm\n  [1]"):
        with pytest.raises(dral.DralRfcError, match=r"^Invalid data: symbol values require symbol "
                           r"table; enable EncodeOptions::with_symtab$"):
            compile_ctn(ctn, with_symtab=False)
    data = compile_ctn("struct\n  a = 1i64", with_symtab=False)
    assert data[6] == 0x01 and dral.rfc_decode_cbf(data)["symbols"] == []
    assert root_segment("struct\n  a = 1i64", with_symtab=False)[4:11] == b"\x00\x01" + seg(0x10, b"a")
    # Nothing to list: no table even when one is allowed.
    assert compile_ctn("5")[6] == 0x01 and struct.unpack_from("<Q", compile_ctn("5"), 16)[0] == 0


def test_references_are_inlined():
    inlined = compile_ctn("let x = [1, 2]\nlet y = &x\n\n[&x, &y, &nobody]")
    assert inlined == compile_ctn("[[1, 2], [1, 2], &nobody]")
    # Without a root the last binding is compiled; a reference names the first binding of a name.
    assert round_trip("let a = 1\nlet b = &a") == scalar("vi64", 1)
    assert round_trip("let d = 1\nlet d = 2\n\n&d") == scalar("vi64", 1)


THIRTY = ", ".join(["&s"] * 30)


@pytest.mark.parametrize(
    "ctn, message",
    [
        ("let a = &b\nlet b = &a\n\n&a", "cyclic reference detected at binding 'a'"),
        ("let a = [1, &a]", "cyclic reference detected at binding 'a'"),
        ("let a = [&b]\nlet b = [&c]\nlet c = [1, &b]\n\n&a",
         "cyclic reference detected at binding 'b'"),
        ("@note 1\nuse x", "document has no root value or bindings"),
        ("tensor<i64>[1]\n  [1.5]", "tensor value 1.5 does not fit element type i64"),
        ("tensor<i64>[1]\n  [9223372036854775808u64]",
         "tensor value 9223372036854776000 does not fit element type i64"),
        ("tensor<u64>[2]\n  [1, -1]", "tensor value -1 does not fit element type u64"),
        ("tensor<u64>[1]\n  [1e20]", "tensor value 100000000000000000000 does not fit element type u64"),
        ("tensor<i64>[1]\n  [NaN]", "tensor value NaN does not fit element type i64"),
        (chain(40, "[{0}, {0}]"), "reference expansion exceeds limit"),
        # Few nodes, but each a large text: bounded by the bytes they carry.
        (f'let s = "{"x" * 100_000}"\nlet a = [{THIRTY}]\nlet b = [{THIRTY.replace("s", "a")}]',
         "reference expansion exceeds limit"),
    ],
    ids=range(11),
)
def test_compile_errors(ctn, message):
    with pytest.raises(dral.DralRfcError, match=f"^{re.escape('Invalid data: ' + message)}$"):
        compile_ctn(ctn)


def test_an_expansion_within_bounds_compiles():  # beyond them: test_compile_errors, nesting below
    assert len(compile_ctn(chain(15, "[{0}, {0}]"))) > 2**15  # 2^15 leaves are well within


def _sequence_blocks(levels: int, inner: str) -> str:
    """`levels` sequence blocks (each with the element type "any"), each the only item of the one
    above, around the lines of `inner`."""
    lines = [" " * (2 * i) + "seq<any>" for i in range(levels)]
    return "\n".join(lines + [" " * (2 * levels) + line for line in inner.split("\n")])


# The deepest segment of each: a value at its own depth, names one below their holder.
@pytest.mark.parametrize("ctn, deepest", [pytest.param(c, d, id=f"{c[-12:]!r}-{d}") for c, d in [
    ("[" * 64 + "1" + "]" * 64, 64), ("[" * 65 + "1" + "]" * 65, 65), ("[" * 300 + "]" * 300, 300),
    ("[" * 64 + "'s" + "]" * 64, 64), ("[" * 64 + "[]" + "]" * 64, 64),
    ("[" * 63 + "T::V" + "]" * 63, 64), ("[" * 64 + "T::V" + "]" * 64, 65),
    ("[" * 63 + "T::V(a: 1)" + "]" * 63, 64), ("[" * 64 + "T::V(1)" + "]" * 64, 65),
    (_sequence_blocks(64, "1"), 64), (_sequence_blocks(65, "1"), 65),
    (_sequence_blocks(63, "struct\n  a = 1"), 64), (_sequence_blocks(64, "struct\n  a = 1"), 65),
    (_sequence_blocks(63, "stream<x>"), 64), (_sequence_blocks(64, "stream<x>"), 65),
    ("let a0 = 1\n" + "\n".join(f"let a{i} = [&a{i - 1}]" for i in range(1, 66)), 65),
]])
def test_compiling_refuses_what_no_reader_reads(ctn, deepest):
    if deepest <= 64:
        assert dral.rfc_decode_cbf(compile_ctn(ctn))["header"]["cbf_version"] == 1
        return
    for compile_and_query in (compile_ctn, lambda text: dral.rfc_query_ctn(text, ".")):
        with pytest.raises(dral.DralRfcError, match="^Nesting depth 65 exceeds maximum 64$"):
            compile_and_query(ctn)


def test_round_trip_losses():
    decoded = dral.rfc_decode_cbf(compile_ctn("@doc 1\nuse lib\nlet x = 1\n\nstruct\n  a = seq<int>\n"
                                              "    1\n  t = tensor<i32>[0, 2]\n    @u 1\n    [1, 2]"))
    document = decoded["document"]
    assert (document["annotations"], document["uses"], document["bindings"]) == ([], [], [])
    fields = {f["name"]: f["value"] for f in document["root"]["fields"]}
    assert fields["a"]["elem_type"] == "int"
    tensor = fields["t"]
    assert (tensor["element_type"], tensor["shape"], tensor["annotations"]) == ("bytes", [None, 2], [])
    assert tensor["data"] == {"kind": "binary_blob", "bytes": struct.pack("<dd", 1.0, 2.0)}
    raw = round_trip("tensor<f32>[4]\n  <binary: 16 bytes>")
    assert (raw["element_type"], raw["data"]["bytes"]) == ("bytes", bytes(16))
    assert raw["data"]["kind"] == "binary_blob"


def test_integer_tensors_hold_integers():
    root = round_trip("tensor<i64>[3]\n  [1, -2, 9007199254740993]")
    assert root["data"] == {"kind": "dense_i64", "values": [1, -2, 9007199254740992]}
    assert round_trip("tensor<u64>[2]\n  [0, 18446744073709549568u64]")["data"]["values"] == \
        [0, 18446744073709549568]
    assert root_segment("tensor<i64>[1]\n  [-1]")[-8:] == b"\xff" * 8


def test_arguments():
    assert compile_ctn("1", alignment=7)[7] == 7
    plain, aligned = compile_ctn("[1, 'x]"), compile_ctn("[1, 'x]", alignment=8)
    assert [i for i in range(len(plain)) if plain[i] != aligned[i]][0] == 7
    assert plain[8:-8] == aligned[8:-8]
    for args, options, error, named in [
        *[(["1"], {"alignment": bad}, OverflowError, None) for bad in (256, -1, 2**70)],
        *[(["1"], {"alignment": bad}, TypeError, None) for bad in ("1", 1.0)],
        (["1"], {"with_symtab": 1}, TypeError, "with_symtab"), ([b"1"], {}, TypeError, "text"),
        (["1", True], {}, TypeError, None),
    ]:
        with pytest.raises(error, match=named):
            compile_ctn(*args, **options)
    data = compile_ctn("1")
    for function in (dral.rfc_decode_cbf, dral.rfc_cbf_to_ctn, dral.rfc_decode_cbf_model):
        for bad in (bytearray(data), memoryview(data), "x"):
            with pytest.raises(TypeError, match="data"):
                function(bad)
        assert function(type("B", (bytes,), {})(data)) is not None


def test_decoded_file_class():
    data = compile_ctn("let p = Point\n  x = 'left\n  y = 2.5")
    model = dral.rfc_decode_cbf_model(data)
    decoded = dral.rfc_decode_cbf(data)
    assert list(decoded) == ["header", "symbols", "document", "ctn"]
    assert model.to_dict() == decoded
    assert model.ctn == decoded["ctn"] == dral.rfc_cbf_to_ctn(data) == "Point\n  x = 'left\n  y = 2.5f64"
    assert model.symbols == decoded["symbols"] == ["Point", "left", "x", "y"]
    assert repr(model) == f"RfcDecodedCbf(symbols=4, ctn_len={len(decoded['ctn'].encode())})"
    assert model.document.root["x"].scalar_value == "left"
