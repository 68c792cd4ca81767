"""Compiling CTN to the binary form: exact bytes, the symbol table, references, what a round trip
loses, the Python signatures and classes, and the bounds on what a compile may build."""

import struct
import threading

import pytest

import dral
from cbf_bytes import body_of, cbf, crc64, scalar, seg
from isolated import SMALL_STACK_SIZE

compile_ctn = dral.rfc_compile_ctn


def root_segment(ctn: str, **options) -> bytes:
    data = compile_ctn(ctn, **options)
    root_offset = struct.unpack_from("<Q", data, 16)[0]
    return body_of(data)[root_offset:]


def round_trip(ctn: str):
    return dral.rfc_decode_cbf(compile_ctn(ctn))["document"]["root"]


def test_null_document_is_exactly_44_bytes():
    assert compile_ctn("null") == bytes.fromhex(
        "44 52 41 4C 01 01 01 00" + "00" * 24 + "F0 00 00 00" + "C7 AD 32 FF 66 30 DF 07")


@pytest.mark.parametrize(
    "ctn, segment",
    [
        ("true", "f2000000"),
        ("false", "f3000000"),
        ("unit", "f1000000"),
        ('""', "f6000000"),
        ('b""', "f7000000"),
        ("[]", "f4000000"),
        ("map<str, str> []", "f5000000"),
        ("-1i64", "03080000" + "ff" * 8),
        ("5u64", "08080000" + "0500000000000000"),
        ("-1", "0a010000" + "01"),
        ("300vu64", "0b020000" + "ac02"),
        ("0.5f32", "0c040000" + "0000003f"),
        ("2.5", "0d080000" + "0000000000000440"),
        ('"hé"', "10030000" + "68c3a9"),
        ('b64"AP8="', "20020000" + "00ff"),
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
    ctn = "\n".join([
        "Outer",
        "  s = seq<Elem>",
        "    Kind::Some",
        "      f = 1",
        "  t = tensor<i64>[1]",
        "    @measure 'meter",
        "    [1]",
        "  e = stream<Event>",
        "    @source 'feed",
        "  r = &missing",
        "  m = map<str, any>",
        "    'key => 'val",
    ])
    assert dral.rfc_decode_cbf(compile_ctn(ctn))["symbols"] == sorted(
        ["Outer", "s", "Elem", "Kind", "Some", "f", "t", "i64", "measure", "meter", "e", "Event",
         "source", "feed", "r", "missing", "m", "key", "val"], key=str.encode)


def test_without_table():
    with pytest.raises(dral.DralRfcError, match=r"^Invalid data: symbol values require symbol "
                       r"table; enable EncodeOptions::with_symtab$"):
        compile_ctn("struct\n  a = 'Z", with_symtab=False)
    # Only a tensor annotation holds the symbol, and annotations are not even written.
    with pytest.raises(dral.DralRfcError, match="symbol values require symbol table"):
        compile_ctn("tensor<f64>[1]\n  @u 'm\n  [1]", with_symtab=False)
    data = compile_ctn("struct\n  a = 1i64", with_symtab=False)
    assert data[6] == 0x01 and dral.rfc_decode_cbf(data)["symbols"] == []
    assert root_segment("struct\n  a = 1i64", with_symtab=False)[4:11] == b"\x00\x01" + seg(0x10, b"a")
    # Nothing to list: no table even when one is allowed.
    assert compile_ctn("5")[6] == 0x01 and struct.unpack_from("<Q", compile_ctn("5"), 16)[0] == 0


def test_references_are_inlined():
    inlined = compile_ctn("let x = [1, 2]\nlet y = &x\n\n[&x, &y, &nobody]")
    copied = compile_ctn("[[1, 2], [1, 2], &nobody]")
    assert inlined == copied
    # Without a root the last binding is compiled.
    assert round_trip("let a = 1\nlet b = &a") == scalar("vi64", 1)
    # The first binding of a name is the one a reference names.
    assert round_trip("let d = 1\nlet d = 2\n\n&d") == scalar("vi64", 1)


@pytest.mark.parametrize(
    "ctn, name",
    [
        ("let a = &b\nlet b = &a\n\n&a", "a"),
        ("let a = [1, &a]", "a"),
        ("let a = [&b]\nlet b = [&c]\nlet c = [1, &b]\n\n&a", "b"),
    ],
)
def test_cycles(ctn, name):
    with pytest.raises(dral.DralRfcError,
                       match=rf"^Invalid data: cyclic reference detected at binding '{name}'$"):
        compile_ctn(ctn)


def test_no_root_no_bindings():
    with pytest.raises(dral.DralRfcError, match="^Invalid data: document has no root value or bindings$"):
        compile_ctn("@note 1\nuse x")


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


def test_integer_tensors_hold_integers():
    root = round_trip("tensor<i64>[3]\n  [1, -2, 9007199254740993]")
    assert root["data"] == {"kind": "dense_i64", "values": [1, -2, 9007199254740992]}
    assert round_trip("tensor<u64>[2]\n  [0, 18446744073709549568u64]")["data"]["values"] == \
        [0, 18446744073709549568]
    assert root_segment("tensor<i64>[1]\n  [-1]")[-8:] == b"\xff" * 8


@pytest.mark.parametrize(
    "ctn, message",
    [
        ("tensor<i64>[1]\n  [1.5]", "tensor value 1.5 does not fit element type i64"),
        ("tensor<i64>[1]\n  [9223372036854775808u64]",
         "tensor value 9223372036854776000 does not fit element type i64"),
        ("tensor<u64>[2]\n  [1, -1]", "tensor value -1 does not fit element type u64"),
        ("tensor<u64>[1]\n  [1e20]", "tensor value 100000000000000000000 does not fit element type u64"),
        ("tensor<i64>[1]\n  [NaN]", "tensor value NaN does not fit element type i64"),
    ],
)
def test_tensor_values_that_do_not_fit(ctn, message):
    with pytest.raises(dral.DralRfcError, match=f"^Invalid data: {message}$"):
        compile_ctn(ctn)


def test_raw_tensor_bytes_read_back():
    root = round_trip("tensor<f32>[4]\n  <binary: 16 bytes>")
    assert (root["element_type"], root["data"]) == ("bytes", {"kind": "binary_blob", "bytes": bytes(16)})


def _doubling_chain(levels: int) -> str:
    return "\n".join(["let a0 = 1"] + [f"let a{i} = [&a{i - 1}, &a{i - 1}]" for i in range(1, levels + 1)])


def test_reference_expansion_is_bounded():
    with pytest.raises(dral.DralRfcError, match="^Invalid data: reference expansion exceeds limit$"):
        compile_ctn(_doubling_chain(40))
    # 2^15 leaves stay well within the allowance.
    assert len(compile_ctn(_doubling_chain(15))) > 2**15
    # Few nodes, but each a large text: bounded by the bytes they carry.
    thirty = ", ".join(["&s"] * 30)
    thirty_a = ", ".join(["&a"] * 30)
    with pytest.raises(dral.DralRfcError, match="reference expansion exceeds limit"):
        compile_ctn(f'let s = "{"x" * 100_000}"\nlet a = [{thirty}]\nlet b = [{thirty_a}]')


def test_compiling_is_not_bound_by_the_reading_depth():
    data = compile_ctn("[" * 70 + "1" + "]" * 70)
    with pytest.raises(dral.DralRfcError, match="^Nesting depth 65 exceeds maximum 64$"):
        dral.rfc_decode_cbf(data)


def test_reference_nesting_is_bounded():
    chain = "\n".join(["let n0 = 0"] + [f"let n{i} = [&n{i - 1}]" for i in range(1, 600)])
    with pytest.raises(dral.DralRfcError, match=r"^Nesting depth \d+ exceeds maximum 512$"):
        compile_ctn(chain)


def test_arguments():
    assert compile_ctn("1", alignment=7)[7] == 7
    plain, aligned = compile_ctn("[1, 'x]"), compile_ctn("[1, 'x]", alignment=8)
    assert [i for i in range(len(plain)) if plain[i] != aligned[i]][0] == 7
    assert plain[8:-8] == aligned[8:-8]
    for bad, error in [(256, OverflowError), (-1, OverflowError), (2**70, OverflowError),
                       ("1", TypeError), (1.0, TypeError)]:
        with pytest.raises(error):
            compile_ctn("1", alignment=bad)
    with pytest.raises(TypeError, match="with_symtab"):
        compile_ctn("1", with_symtab=1)
    with pytest.raises(TypeError, match="text"):
        compile_ctn(b"1")
    with pytest.raises(TypeError):
        compile_ctn("1", True)
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
    document = model.document
    assert repr(document) == "RfcDocument(bindings=0, root=true)"
    assert document.root["x"].scalar_value == "left"
    assert model.header is not model.header
    with pytest.raises(TypeError):
        type(model)()


def test_module_order():
    names = [n for n in dral.__all__ if n.startswith(("rfc_", "Rfc"))]
    assert names.index("rfc_compile_ctn") == names.index("rfc_format_ctn") + 1
    assert names[names.index("rfc_compile_ctn"):][:3] == ["rfc_compile_ctn", "rfc_decode_cbf", "rfc_cbf_to_ctn"]
    assert names.index("rfc_decode_cbf_model") == names.index("rfc_parse_ctn_model") + 1
    classes = [n for n in names if n.startswith("Rfc")]
    assert classes == ["RfcAnnotation", "RfcField", "RfcBinding", "RfcHeader", "RfcDocument",
                       "RfcDecodedCbf", "RfcValue"]


def test_small_stack_thread():
    deep = "\n".join(["let n0 = 0"] + [f"let n{i} = [&n{i - 1}]" for i in range(1, 500)])
    aliases = "\n".join(["let b0 = 1"] + [f"let b{i} = &b{i - 1}" for i in range(1, 20000)])
    nested = seg(0x03, bytes(8))
    for _ in range(64):
        nested = seg(0x60, b"\x00\x01" + nested)
    results = []

    def run():
        results.append(len(compile_ctn("[" * 511 + "1" + "]" * 511)) > 511 * 4)
        results.append(len(compile_ctn(deep)) > 0)
        results.append(dral.rfc_decode_cbf(compile_ctn(aliases))["ctn"] == "1")
        results.append(dral.rfc_cbf_to_ctn(cbf(nested)).count("seq<any>") == 63)
        try:
            compile_ctn(_doubling_chain(40))
        except dral.DralRfcError:
            results.append(True)

    previous = threading.stack_size(SMALL_STACK_SIZE)
    try:
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(previous)
    assert results == [True] * 5
