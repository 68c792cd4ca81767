"""Every function, class and member of dral as a type-checked program uses it; test_typing.py runs
it and checks it with `mypy --strict`. Each line of `refused` is a misuse the stub must reject: its
`# type: ignore[code]` would be reported as unused if the stub accepted it."""

from __future__ import annotations

import io
import os
import pathlib
import tempfile
from typing import TYPE_CHECKING, Any

from typing_extensions import assert_type

import dral

if TYPE_CHECKING:
    from dral import RfcDocumentDict, RfcValueDict


def binary_format(folder: str) -> None:
    assert_type(dral.__version__, str)
    data = dral.dumps({"a": [1, "x", b"\x00"]}, compression="lz4", dedup=True, sort_keys=True)
    assert_type(data, bytes)
    assert dral.loads(data, strict=False, max_depth=8) == {"a": [1, "x", b"\x00"]}
    buffer = io.BytesIO()
    assert_type(dral.dump([1, 2], buffer, compression=None, dedup=False, sort_keys=False), None)
    buffer.seek(0)
    assert dral.load(buffer, strict=True, max_depth=128) == [1, 2]
    assert dral.decode(dral.encode(None)) is None
    path = os.path.join(folder, "value.dral")
    dral.encode_to_file({"k": 1.5}, path)
    assert dral.decode_from_file(path) == {"k": 1.5}

    encoder = dral.Encoder(sort_keys=True)
    encoder.enable_dedup()
    encoder.set_compression("zstd")
    encoder.encode({"b": 1, "a": 2})
    stream = encoder.finish()
    values = dral.DralDecoder(stream, max_depth=16).decode_all()
    assert_type(values, list[Any])
    assert values == [{"a": 2, "b": 1}]
    later = dral.Encoder()
    later.encode("x")
    later.finish_to_file(os.path.join(folder, "later.dral"))


def streams(folder: str) -> None:
    path = os.path.join(folder, "log.dral")
    with dral.Writer(path, compression="lz4", dedup=True, sort_keys=True, block_size=64) as writer:
        writer.write({"n": 0})
        writer.write_all({"n": i} for i in range(1, 5))
    assert writer.closed
    writer.close()
    blocks: list[tuple[int, int]] = dral.scan_blocks(path)
    start, length = blocks[-1]
    with dral.Reader(path, strict=True, max_depth=8, start=start, stop=start + length) as part:
        last: list[Any] = list(part)
    reader = dral.Reader(path)
    everything = [record["n"] for record in reader]
    reader.close()
    assert last[-1] == {"n": 4} and everything == [0, 1, 2, 3, 4]
    decoder = dral.DralDecoder(dral.dumps([1]))
    assert decoder.__iter__() is decoder and next(decoder) == [1]
    manual = dral.Reader(path)
    assert manual.__enter__() is manual and manual.__next__() == {"n": 0}
    assert manual.__exit__(None, None, None) is False


def errors() -> None:
    try:
        dral.loads(b"\x07")
    except dral.DralChecksumError:
        raise AssertionError("a bad block type is no checksum failure") from None
    except dral.DralDecodeError as error:
        assert isinstance(error, dral.DralError)
    for failure in (dral.DralEncodeError, dral.DralTypeError, dral.DralRfcError):
        assert issubclass(failure, dral.DralError)


def text_and_views() -> None:
    assert dral.parse_text("{a: [1, b64#AP8=];}") == {"a": [1, b"\x00\xff"]}
    assert_type(dral.pretty_print([1, 2], indent=4), str)
    view = dral.to_value({"k": [10, 20]}, sort_keys=False)
    assert_type(view.kind, "dral.DralKind")
    assert view.is_object and not view.is_array and not view.is_null and not view.is_scalar
    items = view["k"]
    assert [item.value for item in items.values()] == [10, 20]
    assert view.keys() == ["k"] and len(view.values()) == 1 and "k" in view and len(view) == 1
    assert_type(list(view), "list[str | dral.DralValue]")
    assert list(view) == ["k"] and [item.value for item in items if isinstance(item, dral.DralValue)] == [10, 20]
    key, inner = view.items()[0]
    assert key == "k" and inner.as_python() == [10, 20]
    assert view.get("missing") is None and items.get(-1) is not None
    loaded = dral.loads_value(dral.dumps(3))
    assert isinstance(loaded, dral.DralValue) and loaded.value == 3
    assert dral.parse_text_value("[1]")[0].value == 1


def rfc(folder: str) -> None:
    document: RfcDocumentDict = dral.rfc_parse_ctn("@draft\nuse a\nlet x = 1\n[&x, 'tag, b64\"AA==\"]")
    root = document["root"]
    assert root is not None and root["kind"] == "sequence"
    assert [item["kind"] for item in root["items"]] == ["reference", "scalar", "scalar"]
    first = root["items"][0]
    if first["kind"] == "reference" and first["reference_kind"] == "binding":
        assert_type(first["name"], str)
    assert document["annotations"][0]["value"] is None and document["uses"] == ["a"]
    assert document["bindings"][0]["name"] == "x"
    assert dral.rfc_format_ctn("let x = 1") == "let x = 1"

    model: dral.RfcDocument = dral.rfc_parse_ctn_model("@level 3\nlet p = Point\n  x = 1\n  y = 2\n\n&p")
    assert model.uses == [] and model.binding_names() == ["p"] and model.annotation_names() == ["level"]
    annotation: dral.RfcAnnotation = model.annotations[0]
    assert annotation.name == "level" and annotation.value is not None and annotation.to_dict()["name"] == "level"
    binding = model.binding("p")
    assert binding is not None and binding.name == "p" and binding.to_dict()["value"]["kind"] == "product"
    bindings: list[dral.RfcBinding] = model.bindings
    assert [b.name for b in bindings] == ["p"]
    point = binding.value
    assert point.kind == "product" and point.type_name == "Point" and point.keys() == ["x", "y"]
    field: dral.RfcField = point.fields()[0]
    assert field.name == "x" and field.value.scalar_value == 1 and field.to_dict()["name"] == "x"
    assert point["y"].scalar_type == "vi64" and point.get(0) is None and "x" in point and len(point) == 2
    assert [value.to_ctn() for value in point.values()] == ["1", "2"]
    assert point.is_scalar is False and point.is_empty is False and point.variant is None
    assert point.payload_kind is None and point.elem_type is None and point.element_type is None
    assert point.shape == [] and point.data_kind is None and point.annotations() == []
    assert model.root is not None and model.effective_root().kind == "reference"
    assert model.to_ctn().startswith("@level 3") and model.to_dict()["root"] is not None
    product: RfcValueDict = point.to_dict()
    if product["kind"] == "product":
        assert_type(product["fields"][0]["value"], "RfcValueDict")

    data = dral.rfc_compile_ctn("Point\n  x = 1\n  y = 2", with_symtab=True, alignment=8)
    decoded = dral.rfc_decode_cbf(data)
    assert decoded["header"]["alignment"] == 8 and decoded["symbols"] == ["Point", "x", "y"]
    assert decoded["document"]["root"] is not None and decoded["ctn"] == dral.rfc_cbf_to_ctn(data)
    cbf: dral.RfcDecodedCbf = dral.rfc_decode_cbf_model(data)
    header: dral.RfcHeader = cbf.header
    assert header.magic == "DRAL" and header.cbf_version == 1 and header.ctn_version == 1
    assert header.flags == 3 and header.alignment == 8 and header.schema_hash_prefix == bytes(8)
    assert header.root_offset > 0 and header.symtab_offset == 0 and header.index_offset == 0
    assert header.self_describing and header.has_symtab and not header.has_index
    assert header.to_dict()["magic"] == "DRAL" and cbf.symbols == ["Point", "x", "y"]
    assert cbf.document.root is not None and cbf.ctn == decoded["ctn"] and cbf.to_dict() == decoded
    assert dral.RFC001_CBF_MAGIC == data[:4] and dral.RFC001_CBF_HEADER_SIZE == 32

    texts = dral.rfc_query_cbf(data, ".x", as_ctn=True)
    assert_type(texts, list[str])
    dicts = dral.rfc_query_ctn("[1, 2]", ".[]", as_ctn=False)
    assert_type(dicts, "list[RfcValueDict]")
    either = dral.rfc_query_cbf(data, ".y", as_ctn=bool(texts))
    assert_type(either, "list[RfcValueDict] | list[str]")
    assert texts == ["1"] and [d["kind"] for d in dicts] == ["scalar", "scalar"] and either == ["2"]
    assert dral.rfc_query_ctn("[1, 2]", ".[1]")[0]["kind"] == "scalar"
    models = dral.rfc_query_cbf_model(data, ".") + dral.rfc_query_ctn_model("[1]", ".[0]")
    assert [m.kind for m in models] == ["product", "scalar"]
    path = os.path.join(folder, "point.cbf")
    with open(path, "wb") as f:
        f.write(data)
    mapped = dral.rfc_query_cbf_file(path, ".x", as_ctn=True)
    assert_type(mapped, list[str])
    assert mapped == texts and dral.rfc_query_cbf_file(pathlib.Path(path), ".y") == dral.rfc_query_cbf(data, ".y")
    assert [m.kind for m in dral.rfc_query_cbf_file_model(path.encode(), ".")] == ["product"]


def refused(data: bytes, view: dral.DralValue, point: dral.RfcValue, texts: list[str]) -> None:
    """Misuses the stub must refuse; never run."""
    dral.dumps(1, compression="LZ4")  # type: ignore[arg-type]
    dral.loads(bytearray(data))  # type: ignore[arg-type]
    view["k"].value.bit_length()  # type: ignore[union-attr]
    view[1.5]  # type: ignore[index]
    point.to_dict()["fields"]  # type: ignore[typeddict-item]
    dral.rfc_compile_ctn("1", alignment="8")  # type: ignore[arg-type]
    texts[0]["kind"]  # type: ignore[index]
    dral.rfc_query_cbf_model(data, ".", as_ctn=True)  # type: ignore[call-arg]


def main() -> None:
    with tempfile.TemporaryDirectory() as folder:
        binary_format(folder)
        streams(folder)
        rfc(folder)
    errors()
    text_and_views()


if __name__ == "__main__":
    main()
