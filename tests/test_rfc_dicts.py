"""The typed dictionaries keep their keys in one fixed order, for every kind of node."""

import dral
from cbf_bytes import cbf, seg, seq
from helpers import varint

VALUE_KEYS = {
    "product": ["kind", "type_name", "fields"],
    "sum": ["kind", "type_name", "variant", "payload"],
    "sequence": ["kind", "elem_type", "items"],
    "association": ["kind", "pairs"],
    "tensor": ["kind", "element_type", "shape", "annotations", "data"],
    "stream": ["kind", "item_type", "annotations"],
    "opaque": ["kind", "type_tag", "bytes"],
}
PAYLOAD_KEYS = {"unit": ["kind"], "tuple": ["kind", "items"], "struct": ["kind", "fields"]}
DATA_KEYS = {"dense_f64": ["kind", "values"], "dense_i64": ["kind", "values"],
             "dense_u64": ["kind", "values"], "binary_blob": ["kind", "bytes"]}


def check_value(value, seen):
    kind = value["kind"]
    seen.add(kind)
    if kind == "scalar":
        tag = ["tag"] if value["type"] == "tagged" else []
        assert list(value) == ["kind", "type", *tag, "value"]
        seen.add(value["type"])
        return
    if kind == "reference":
        last = "name" if value["reference_kind"] == "binding" else "value"
        assert list(value) == ["kind", "reference_kind", last]
        if last == "value":
            check_value(value["value"], seen)
        return
    assert list(value) == VALUE_KEYS[kind]
    inner = value["payload"] if kind == "sum" else value
    if kind == "sum":
        assert list(inner) == PAYLOAD_KEYS[inner["kind"]]
        seen.add("payload " + inner["kind"])
    if kind == "tensor":
        assert list(value["data"]) == DATA_KEYS[value["data"]["kind"]]
        seen.add(value["data"]["kind"])
    named = inner.get("fields", []) + value.get("annotations", [])
    assert all(list(field) == ["name", "value"] for field in named)
    pairs = [item for pair in value.get("pairs", []) for item in pair]
    for child in [f["value"] for f in named if f["value"]] + inner.get("items", []) + pairs:
        check_value(child, seen)


DOCUMENT = """\
@draft
@level 3
use core
let p = Point
  x = 1
  label = date"2024-01-01"
let s = Shape::Circle(1.5, null)
let e = Color::Red
let t = tensor<f32>[2]
  @unit "m"
  [1, 2]
let b = vec<u8>
  <binary: 4 bytes>
let st = stream<event>
  @rate 10
Config
  items = [&p, ref 'x, true, b"00"]
  pairs = map<str, any>["a" => 1u64, 'b => 2i64]
  shape = Shape::Rect(w: 1.5f32, h: 2)
  empty = unit
"""


def test_every_dictionary_keeps_its_key_order():
    document = dral.rfc_parse_ctn(DOCUMENT)
    assert list(document) == ["annotations", "uses", "bindings", "root"]
    assert [list(note) for note in document["annotations"]] == [["name", "value"]] * 2
    seen = set()
    for binding in document["bindings"]:
        assert list(binding) == ["name", "value"]
        check_value(binding["value"], seen)
    check_value(document["root"], seen)
    # The document above reaches every kind but opaque, which only compiled files hold.
    assert seen >= {"product", "sum", "sequence", "association", "reference", "tensor", "stream",
                    "payload unit", "payload tuple", "payload struct", "dense_f64", "binary_blob",
                    "tagged", "vi64", "u64", "i64", "f32", "f64", "str", "bytes", "sym", "bool",
                    "null", "unit"}
    opaque = seg(0xD1, varint(1) + b"t" + varint(1) + b"\x00")
    check_value(dral.rfc_decode_cbf(cbf(seq(opaque)))["document"]["root"], seen)
    assert "opaque" in seen


def test_models_give_the_same_dictionaries_in_the_same_order():
    model = dral.rfc_parse_ctn_model(DOCUMENT)
    document = dral.rfc_parse_ctn(DOCUMENT)
    assert repr(model.to_dict()) == repr(document)
    assert [repr(b.to_dict()) for b in model.bindings] == [repr(b) for b in document["bindings"]]
