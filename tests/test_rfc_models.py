"""The model classes: every member, lookups and their errors, reprs, lifetime and memory."""

import contextlib
import enum
import gc
import struct

import pytest

import dral
import isolated
from helpers import traced_growth

DOC = """\
@version 2
@draft
use std::core
let p = Point
  x = 1i64
  y = "two"
let p = 5
let seq = [10, 20, 30]
let tup = Shape::Circle(1.5, 2)
let opt = Opt::Some
  inner = 7
let m = map<str, i64>[1 => "A", "x" => "B", 'x => "C"]
let byid = ref [10, 20]
let byid_struct = ref P::Q(a: 1, b: 2)
let bind = &seq
let t = tensor<f32>[2, _]
  @unit "m"
  [1, 2]
  [3, 4]
let s = stream<event>
  @source "x"
  @rate 10
"""


def model():
    return dral.rfc_parse_ctn_model(DOC)


def bound(name):
    return model().binding(name).value


def root(text):
    return dral.rfc_parse_ctn_model(text).root


Index = enum.IntEnum("Index", "ONE")
Key = type("Key", (str,), {})


def test_document_members():
    doc, parsed = model(), dral.rfc_parse_ctn(DOC)
    assert doc.uses == ["std::core"]
    assert doc.annotation_names() == ["version", "draft"]
    assert [(a.name, a.value) for a in doc.annotations] == [
        ("version", {"kind": "scalar", "type": "vi64", "value": 2}), ("draft", None)]
    assert doc.binding_names() == [b["name"] for b in parsed["bindings"]]
    assert doc.binding_names().count("p") == 2
    assert [b.to_dict() for b in doc.bindings] == parsed["bindings"]
    assert doc.binding("p").value.kind == "product"  # the first of two
    assert doc.binding(Key("seq")).value.to_dict() == parsed["bindings"][2]["value"]
    assert doc.binding("nope") is None and doc.binding("\ud800") is None
    assert doc.root is None
    assert doc.effective_root().to_dict() == parsed["bindings"][-1]["value"]
    assert doc.to_dict() == parsed
    assert doc.to_ctn() == dral.rfc_format_ctn(DOC)
    assert repr(doc) == f"RfcDocument(bindings={len(parsed['bindings'])}, root=false)"
    with pytest.raises(TypeError, match="^binding\\(\\) argument 'name' must be str, not int$"):
        doc.binding(1)


@pytest.mark.parametrize(
    "text, has_root, repr_text",
    [("[1, 2]", True, "RfcDocument(bindings=0, root=true)"),
     ("let a = 1\nlet b = 2\n\n'r", True, "RfcDocument(bindings=2, root=true)"),
     ("", False, "RfcDocument(bindings=0, root=false)")],
)
def test_root_and_effective_root(text, has_root, repr_text):
    doc = dral.rfc_parse_ctn_model(text)
    assert repr(doc) == repr_text
    if has_root:
        assert doc.root.to_dict() == doc.effective_root().to_dict() == dral.rfc_parse_ctn(text)["root"]
    else:
        with pytest.raises(dral.DralRfcError, match="^Invalid data: document has no root value or bindings$"):
            doc.effective_root()


def test_every_accessor_hands_out_a_fresh_object():
    doc = model()
    seq, p, t = bound("seq"), bound("p"), bound("t")
    for get in [lambda: doc.binding("seq"), lambda: doc.bindings[0], lambda: doc.annotations[0],
                lambda: p.fields()[0], lambda: seq[0], lambda: seq.values()[1],
                lambda: t.annotations()[0], doc.effective_root]:
        a, b = get(), get()
        assert a is not b and type(a) is type(b) and a.to_dict() == b.to_dict()
    binding = doc.binding("seq")
    assert binding.value is not binding.value and doc.annotations is not doc.annotations
    assert seq.shape is not seq.shape


TENSOR = "tensor<f32>[2, _]\n  @unit \"m\"\n  [1, 2]\n  [3, 4]"


@pytest.mark.parametrize(
    # props: type_name, variant, payload_kind, elem_type, element_type, shape, data_kind
    "text, kind, scalar, empty, length, props",
    [
        *[(text, "scalar", scalar, True, 0, None) for text, *scalar in [
            ("42", "vi64", 42), ("-5i64", "i64", -5), ("18446744073709551615u64", "u64", 2**64 - 1),
            ("0.1f32", "f32", struct.unpack("<f", struct.pack("<f", 0.1))[0]), ("2.5", "f64", 2.5),
            ("42vu64", "vu64", 42), ('"hi"', "str", "hi"), ("'sym", "sym", "sym"),
            ('b"DEAD"', "bytes", b"\xde\xad"), ('date"2024-01-01"', "tagged", "2024-01-01"),
            ("12.50dec64", "tagged", "12.50"), ("null", "null", None), ("unit", "unit", None),
            ("false", "bool", False), ("abc", "sym", "abc")]],
        ("Color::Red", "sum", None, True, 0, ("Color", "Red", "unit", None, None, [], None)),
        ("::Red", "sum", None, True, 0, (None, "Red", "unit", None, None, [], None)),
        ("Shape::Circle(1.5, 2)", "sum", None, False, 2, ("Shape", "Circle", "tuple", None, None, [], None)),
        ("P::Q(a: 1, b: 2, c: 3)", "sum", None, False, 3, ("P", "Q", "struct", None, None, [], None)),
        ("Opt::None()", "sum", None, True, 0, ("Opt", "None", "tuple", None, None, [], None)),
        ("Point\n  x = 1", "product", None, False, 1, ("Point", None, None, None, None, [], None)),
        ("struct\n  x = 1\n  y = 2", "product", None, False, 2, None),
        ("[1, 2, 3]", "sequence", None, False, 3, None), ("[]", "sequence", None, True, 0, None),
        ("seq<i64>\n  1\n  2", "sequence", None, False, 2, (None, None, None, "i64", None, [], None)),
        ('map<str, i64>["a" => 1, 2 => 3]', "association", None, False, 2, None),
        ("&p", "reference", None, True, 0, None), ("ref 1", "reference", None, True, 0, None),
        ("ref [1, 2]", "reference", None, True, 0, None),
        (TENSOR, "tensor", None, False, 4, (None, None, None, None, "f32", [2, None], "dense_f64")),
        ("vec<u8>[16]\n  <binary: 16 bytes>", "tensor", None, False, 16,
         (None, None, None, None, "u8", [16], "binary_blob")),
        ("tensor<i32>\n  @a", "tensor", None, True, 0, (None, None, None, None, "i32", [], "dense_f64")),
        ("stream<event>\n  @source \"x\"\n  @rate 10", "stream", None, False, 2, None),
        ("stream<event>", "stream", None, True, 0, None),
    ],
)
def test_value_properties_and_length(text, kind, scalar, empty, length, props):
    v = root(text)
    assert (v.kind, v.is_scalar, v.is_empty, len(v)) == (kind, scalar is not None, empty, length)
    assert repr(v) == f'RfcValue(kind="{kind}")'
    assert (v.scalar_type, v.scalar_value) == tuple(scalar or (None, None))
    if scalar:
        assert type(v.scalar_value) is type(scalar[1])
    assert (v.type_name, v.variant, v.payload_kind, v.elem_type, v.element_type, v.shape,
            v.data_kind) == (props or (None,) * 5 + ([], None))
    assert v.to_dict() == dral.rfc_parse_ctn(text)["root"]


SEQ, P, BYID, TUP, OPT, M, BIND = "seq", "p", "byid", "tup", "opt", "m", "bind"


@pytest.mark.parametrize(
    "name, key, found, error",  # found: the dict both get and [] give; else get gives None and [] raises
    [
        (SEQ, 0, 10, None), (SEQ, -1, 30, None), (SEQ, -3, 10, None), (SEQ, True, 20, None),
        (SEQ, Index.ONE, 20, None), (SEQ, 3, None, (IndexError, "^3$")),
        (SEQ, "x", None, (KeyError, "^'x'$")), (P, "y", "two", None), (P, Key("x"), 1, None),
        (P, "z", None, (KeyError, "^'z'$")), (P, "\ud800", None, (KeyError, None)),
        (P, 0, None, (IndexError, "^0$")), (P, -1, None, (IndexError, "^1$")),
        (TUP, 1, 2, None), (TUP, -2, 1.5, None), (OPT, "inner", 7, None), (OPT, 0, None, (IndexError, "^0$")),
        (M, "x", "B", None), (M, 1, None, (IndexError, "^1$")), (M, -3, None, (IndexError, "^0$")),
        (BYID, 1, 20, None), (BYID, 2, None, (IndexError, "^2$")), (BIND, 0, None, (IndexError, "^0$")),
        (BIND, "x", None, (KeyError, "^'x'$")),
        # Bad keys: get raises too.
        *[(name, key, None, (TypeError, "^RfcValue keys must be str or int$")) for name, key in [
            (SEQ, -4), (P, -3), (BYID, -1), (BIND, -1), (M, -4), (SEQ, 1.5), (SEQ, None), (SEQ, b"x"), (P, ("x",))]],
        (SEQ, 2**63, None, (OverflowError, None)),
    ],
)
def test_key_lookup(name, key, found, error):
    v = bound(name)
    if error is None:
        assert v[key].scalar_value == v.get(key).scalar_value == found
        assert v.get(key=key).to_dict() == v[key].to_dict()
        return
    both = error[0] in (TypeError, OverflowError)
    if not both:
        assert v.get(key) is None
    for lookup in (v.get, v.__getitem__) if both else (v.__getitem__,):
        with pytest.raises(error[0], match=error[1]) as raised:
            lookup(key)
    if error[0] is KeyError:
        assert raised.value.args == (key,)


def test_membership():
    p, m = bound(P), bound(M)
    assert ("x" in p, "z" in p, Key("y") in p, "\ud800" in p) == (True, False, True, False)
    assert ("x" in m, "A" in m, "a" in bound("byid_struct")) == (True, False, True)
    with pytest.raises(TypeError, match="^__contains__\\(\\) argument 'key' must be str, not int$"):
        1 in p


def test_keys_values_and_fields():
    m = bound(M)
    assert m.keys() == ["x", "x"] and m["x"].scalar_value == "B"
    assert [v.scalar_value for v in m.values()] == ["A", "B", "C"]
    assert [v.scalar_value for v in bound(TUP).values()] == [1.5, 2] and bound(TUP).keys() == []
    assert [v.scalar_value for v in bound(BYID).values()] == [10, 20]
    assert bound(BIND).keys() == bound(BIND).values() == bound(BIND).fields() == []
    p = bound(P)
    assert [(f.name, f.value.scalar_value) for f in p.fields()] == [("x", 1), ("y", "two")]
    assert p.keys() == ["x", "y"] and [v.scalar_value for v in p.values()] == [1, "two"]
    assert [f.to_dict() for f in p.fields()] == dral.rfc_parse_ctn(DOC)["bindings"][0]["value"]["fields"]
    assert [f.name for f in bound(OPT).fields()] == ["inner"]
    ref = bound("byid_struct")  # references are not followed by fields(), but are by keys()
    assert ref.fields() == [] and ref.keys() == ["a", "b"] and ref["b"].scalar_value == 2
    assert bound(SEQ).fields() == [] and bound(SEQ).keys() == []


def test_annotations_fields_and_reprs():
    t, s = bound("t"), bound("s")
    assert [a.to_dict() for a in t.annotations()] == [
        {"name": "unit", "value": {"kind": "scalar", "type": "str", "value": "m"}}]
    assert [(a.name, a.value["value"]) for a in s.annotations()] == [("source", "x"), ("rate", 10)]
    assert bound(SEQ).annotations() == [] and model().annotations[1].to_dict() == {"name": "draft", "value": None}
    assert repr(s.annotations()[1]) == 'RfcAnnotation(name="rate")'
    assert repr(model().bindings[0]) == 'RfcBinding(name="p")'
    assert repr(bound(P).fields()[1]) == 'RfcField(name="y")'


@pytest.mark.parametrize(
    "text, ctn",
    [("Point\n  x = 1i64\n  y = 2.5", "Point\n  x = 1i64\n  y = 2.5f64"), ("Color::Red", "Color :: Red"),
     ('[1, "a"]', '[1, "a"]'), ("map<a, b>[]", "map<any, any> []"), ("ref 1", "ref 1"),
     ("vec<i32>[2]\n  [1, 2]", "tensor<i32>[2]\n  [1f64, 2f64]")],
)
def test_to_ctn(text, ctn):
    assert root(text).to_ctn() == ctn
    assert dral.rfc_parse_ctn_model(f"let v = {text}").to_ctn() == f"let v = {ctn}"


def test_objects_outlive_their_document():
    v = dral.rfc_parse_ctn_model("[1, [2, 3]]").root
    field = model().binding(P).value.fields()[1]
    annotation = bound("s").annotations()[0]
    gc.collect()
    assert v[1][-1].scalar_value == 3 and v[0].to_ctn() == "1"
    assert field.value.scalar_value == "two" and annotation.value["value"] == "x"


def test_dropping_objects_releases_them():
    def use(doc=model()):
        for b in doc.bindings:
            v = b.value
            v.keys(), v.values(), v.fields(), v.annotations(), v.to_dict(), v.shape, repr(v), len(v)
            for key in ("x", 0, -1, 99, 1.5):
                with contextlib.suppress(LookupError, TypeError):
                    v[key]
        doc.to_dict(), doc.effective_root(), doc.binding("p"), repr(doc)

    assert traced_growth(use, rounds=200) < 4096


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


@pytest.mark.skipif(isolated.SANITIZED, reason="the sanitizer keeps freed memory in quarantine")
def test_native_trees_are_freed_with_their_last_object():
    # Each document holds 2 MiB: 40 rounds would keep 160 MiB if the last object did not free it.
    text = 'let big = "' + "x" * (2 << 20) + '"\n[1, 2]'
    for _ in range(3):
        item = dral.rfc_parse_ctn_model(text).root[0]
    before = resident_bytes()
    for _ in range(40):
        item = dral.rfc_parse_ctn_model(text).binding("big").value
        del item
        item = dral.rfc_parse_ctn_model(text).root[0]
    assert resident_bytes() - before < 32 << 20
    assert item.scalar_value == 1
