"""Generated CTN decodes to its inlined root, recompiles to the same body; damage fails safely."""

import math
import re
import struct

from hypothesis import assume, given, strategies as st

import dral
from cbf_bytes import body_of, recrc
from ctn_strategies import documents


class Refused(Exception):
    """The compile must fail with this message (a regular expression)."""


def canon(value):
    """Floats by their bits, so that NaN equals itself and -0.0 differs from 0.0."""
    if isinstance(value, float):
        return ("float", struct.pack("<d", value))
    if isinstance(value, dict):
        return {k: canon(v) for k, v in value.items()}
    if isinstance(value, list):
        return [canon(v) for v in value]
    return value


def _children(value, visit):
    """A copy of `value` with `visit` applied to every child value, in writing order."""
    kind = value["kind"]
    if kind == "product":
        return {**value, "fields": [{"name": f["name"], "value": visit(f["value"])} for f in value["fields"]]}
    if kind == "sum":
        payload = dict(value["payload"])
        if "items" in payload:
            payload["items"] = [visit(i) for i in payload["items"]]
        if "fields" in payload:
            payload["fields"] = [{"name": f["name"], "value": visit(f["value"])} for f in payload["fields"]]
        return {**value, "payload": payload}
    if kind == "sequence":
        return {**value, "items": [visit(i) for i in value["items"]]}
    if kind == "association":
        return {**value, "pairs": [[visit(k), visit(v)] for k, v in value["pairs"]]}
    if kind == "reference" and value["reference_kind"] == "by_id":
        return {**value, "value": visit(value["value"])}
    return value


def child_values(value):
    found = []
    _children(value, lambda child: found.append(child) or child)
    return found


def inline_references(document):
    bindings = {}
    for binding in document["bindings"]:
        bindings.setdefault(binding["name"], binding["value"])
    root = document["root"]
    if root is None:
        if not document["bindings"]:
            raise Refused("document has no root value or bindings")
        root = document["bindings"][-1]["value"]

    def walk(value, visiting):
        if value["kind"] == "reference" and value["reference_kind"] == "binding" and value["name"] in bindings:
            name = value["name"]
            if name in visiting:
                raise Refused(f"cyclic reference detected at binding '{name}'")
            return walk(bindings[name], visiting | {name})
        return _children(value, lambda child: walk(child, visiting))

    return walk(root, frozenset())


def _tensor_as_stored(tensor):
    element_type, data = tensor["element_type"], tensor["data"]
    stored = {**tensor, "shape": [d or None for d in tensor["shape"]], "annotations": []}
    if data["kind"] == "binary_blob" or element_type not in ("f32", "f64", "i64", "u64"):
        raw = data["bytes"] if data["kind"] == "binary_blob" else b"".join(
            struct.pack("<d", v) for v in data["values"])
        return {**stored, "element_type": "bytes", "data": {"kind": "binary_blob", "bytes": raw}}
    if element_type in ("i64", "u64"):
        low, high = (-(2**63), 2**63) if element_type == "i64" else (0, 2**64)
        for v in data["values"]:
            if not (math.isfinite(v) and v == int(v) and low <= int(v) < high):
                raise Refused(rf"tensor value \S+ does not fit element type {element_type}")
        return {**stored, "data": {"kind": "dense_" + element_type, "values": [int(v) for v in data["values"]]}}
    return stored


def as_stored(value):
    """What the binary form keeps of an inlined value."""
    if value["kind"] == "tensor":
        return _tensor_as_stored(value)
    if value["kind"] == "sequence" and not value["items"]:
        return {**value, "elem_type": None}
    return _children(value, as_stored)


@given(documents())
def test_decoding_gives_the_inlined_root(text):
    try:
        expected = as_stored(inline_references(dral.rfc_parse_ctn(text)))
    except Refused as refused:
        try:
            dral.rfc_compile_ctn(text)
        except dral.DralRfcError as e:
            assert re.fullmatch("Invalid data: " + str(refused), str(e)), (str(e), str(refused))
            return
        raise AssertionError(f"compiled although it should fail with {refused}")
    decoded = dral.rfc_decode_cbf(dral.rfc_compile_ctn(text))
    assert canon(decoded["document"]["root"]) == canon(expected)
    assert decoded["document"]["bindings"] == decoded["document"]["uses"] == []


def _writes_back(value, inline_only=False):
    """Whether CTN text of the value reads back to it: one-line sequences lose their element type,
    raw tensor bytes are written as zeros, vu64 reads as vi64, one-line forms hold no blocks."""
    kind = value["kind"]
    if kind == "scalar" and value["type"] == "vu64":
        return False
    if kind == "stream" and any(a["value"] and a["value"]["type"] == "vu64" for a in value["annotations"]):
        return False
    one_line = kind == "scalar" or (kind == "reference" and value["reference_kind"] == "binding")
    if kind == "sequence":
        short = len(value["items"]) <= 8 and all(
            i["kind"] == "scalar" or i["kind"] == "reference" for i in value["items"])
        if short and value["elem_type"] is not None:
            return False
        if not short and value["elem_type"] is None:
            return False  # a block sequence is written with the element type "any"
        one_line = short
    if kind == "sum" and value["payload"]["kind"] == "unit":
        one_line = True
    if inline_only and not one_line:
        return False
    if kind == "tensor" and value["element_type"] == "bytes":
        # Read back as raw bytes: the first compile listed the element type it had then.
        return False
    if kind == "reference" and value["reference_kind"] == "by_id":
        return _writes_back(value["value"], inline_only=True)
    if kind == "sum" and value["payload"]["kind"] == "tuple":
        return all(_writes_back(i, inline_only=True) for i in value["payload"]["items"])
    if kind == "sequence" and one_line:
        return all(_writes_back(i, inline_only=True) for i in value["items"])
    return all(_writes_back(c) for c in child_values(value))


def _annotated_tensor(value):
    """Tensor annotations are listed in the first table but not stored."""
    if value["kind"] == "tensor" and value["annotations"]:
        return True
    return any(_annotated_tensor(c) for c in child_values(value))


@given(documents())
def test_compiling_the_decoded_document_again_gives_the_same_body(text):
    try:
        data = dral.rfc_compile_ctn(text)
    except dral.DralRfcError:
        return
    decoded, document = dral.rfc_decode_cbf(data), dral.rfc_parse_ctn(text)
    values = [b["value"] for b in document["bindings"]] + [document["root"] or {"kind": "scalar"}]
    assume(_writes_back(decoded["document"]["root"]) and not any(map(_annotated_tensor, values)))
    again = dral.rfc_compile_ctn(decoded["ctn"])
    assert body_of(again) == body_of(data)
    assert again[:32] == data[:32]


@given(documents(), st.data())
def test_damaged_files_fail_only_with_rfc_errors(text, data):
    try:
        compiled = bytearray(dral.rfc_compile_ctn(text))
    except dral.DralRfcError:
        return
    for _ in range(data.draw(st.integers(1, 4))):
        action = data.draw(st.sampled_from(["flip", "cut", "insert", "header"]))
        position = data.draw(st.integers(32, len(compiled) - 9))
        if action == "flip":
            compiled[position] ^= data.draw(st.integers(1, 255))
        elif action == "cut":
            del compiled[position:position + data.draw(st.integers(1, 8))]
        elif action == "insert":
            compiled[position:position] = data.draw(st.binary(min_size=1, max_size=8))
        else:
            field = data.draw(st.sampled_from([(6, 1), (16, 8), (24, 4)]))
            compiled[field[0]:field[0] + field[1]] = data.draw(st.binary(min_size=field[1], max_size=field[1]))
        if len(compiled) < 41:
            break
    damaged = recrc(bytes(compiled))
    try:
        result = dral.rfc_decode_cbf(damaged)
    except dral.DralRfcError:
        return
    assert canon(dral.rfc_decode_cbf_model(damaged).to_dict()) == canon(result)
