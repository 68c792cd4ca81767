"""Module surface: exception classes, attribute order, constants, signatures and docstrings."""

import ast
import functools
import importlib.util
import inspect
import pathlib

import pytest

import dral
from dral import _dral_native as native

EXCEPTIONS = [
    ("DralError", "Exception", "Base exception for all Dral errors."),
    ("DralEncodeError", "DralError", "Error during encoding."),
    ("DralDecodeError", "DralError", "Error during decoding."),
    ("DralChecksumError", "DralDecodeError", "Checksum verification failed."),
    ("DralTypeError", "DralEncodeError", "Type cannot be serialized."),
    ("DralRfcError", "DralError", "Error in RFC-001 CTN/CBF/CQL processing."),
]

# The public order is written once, in the module; the shipped stub states it for readers and type
# checkers, and the module is held to it here.
STUB = ast.parse((pathlib.Path(dral.__file__).parent / "_dral_native.pyi").read_text(encoding="utf-8"))
ATTRIBUTE_ORDER = next(ast.literal_eval(node.value) for node in STUB.body
                       if isinstance(node, ast.Assign) and ast.unparse(node.targets[0]) == "__all__")


@pytest.mark.parametrize("name, base, doc", EXCEPTIONS)
def test_exception_classes(name, base, doc):
    cls = getattr(native, name)
    assert cls.__bases__ == (getattr(native, base, Exception),)
    assert (cls.__name__, cls.__module__, cls.__doc__) == (name, "_dral_native", doc)
    assert not issubclass(cls, (TypeError, ValueError))
    assert cls("some message").args == ("some message",)


def test_attributes_constants_and_module_docstring():
    assert native.__all__ == ATTRIBUTE_ORDER == dral.__all__
    assert all(getattr(dral, name) is getattr(native, name) for name in ATTRIBUTE_ORDER)
    assert [name for name in vars(native) if name in ATTRIBUTE_ORDER] == ATTRIBUTE_ORDER
    assert (native.__version__, native.RFC001_CBF_MAGIC, native.RFC001_CBF_HEADER_SIZE) == ("1.0.2", b"DRAL", 32)
    for text in ['dral.dumps(obj, compression="lz4", dedup=True, sort_keys=True)',
                 "dral.loads(data, strict=True, max_depth=64)", "dral.dump(", "dral.load(", '"data.dral"']:
        assert text in native.__doc__


CLASSES = [name for name in native.__all__
           if isinstance(getattr(native, name), type) and not issubclass(getattr(native, name), BaseException)]


@pytest.mark.parametrize("name", CLASSES)
def test_classes_are_immutable(name):
    cls = getattr(native, name)
    with pytest.raises(TypeError, match="immutable type"):
        cls.extra = 1
    assert not hasattr(cls, "extra")


def test_a_second_import_shares_every_class():
    spec = importlib.util.spec_from_file_location("second._dral_native", native.__file__)
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)
    assert second is not native and second.__all__ == native.__all__
    shared = [name for name in ATTRIBUTE_ORDER if isinstance(getattr(native, name), type)]
    assert [getattr(second, name) for name in shared] == [getattr(native, name) for name in shared]
    assert type(second.to_value(1)) is native.DralValue
    with pytest.raises(native.DralDecodeError):
        second.loads(b"not a stream")


DESTRUCTION = ("tp_dealloc", "tp_traverse", "tp_clear")


def test_every_entry_point_turns_bad_alloc_into_memory_error():
    entries = dict(native._entry_points())
    # The walk sees functions, methods, properties and slots of every kind of class...
    for name in ["dumps", "_entry_points", "_set_hash_seed", "rfc_query_cbf", "Encoder.tp_vectorcall",
                 "DralValue.mp_length", "RfcValue.keys", "RfcHeader.magic.get", "DralDecoder.tp_iternext"]:
        assert name in entries
    # ...and tells a guarded one from another: the destructors it sees are not guarded, as they
    # allocate nothing and cannot report a failure.
    destructors = {name for name in entries if name.rpartition(".")[2] in DESTRUCTION}
    assert "DralValue.tp_dealloc" in destructors and not any(entries[name] for name in destructors)
    assert [name for name, guarded in entries.items() if not guarded and name not in destructors] == []


HOOK_SIG = "default=None, max_depth=128"
DUMPS_SIG = f"(obj, *, compression=None, dedup=False, sort_keys=False, {HOOK_SIG})"
LOADS_SIG = "(data, *, strict=True, max_depth=128)"
# name: (signature, first docstring line, further texts: a list anywhere, a tuple as lines in order)
DOCS = {
    "dumps": (DUMPS_SIG, "Serialize a Python object to Dral binary format.", ["json.dumps()"]),
    "loads": (LOADS_SIG, "Deserialize Dral binary data to a Python object.", ["json.loads()"]),
    "dump": (f"(obj, fp, *, compression=None, dedup=False, sort_keys=False, {HOOK_SIG})",
             "Serialize a Python object and write to a file-like object.", ["json.dump()"]),
    "load": ("(fp, *, strict=True, max_depth=128)",
             "Read and deserialize Dral binary data from a file-like object.", ["json.load()"]),
    "encode": (f"(obj, *, {HOOK_SIG})", "Encode a Python object (dict, list, str, int, float, bytes, bool, None)",
               ["into Dral binary format, returned as `bytes`."]),
    "decode": ("(data)", "Decode Dral binary `bytes` into Python objects.",
               ["Returns a single value if the data contains exactly one top-level value,", "or a list of values otherwise."]),
    "encode_to_file": (f"(obj, path, *, {HOOK_SIG})", "Encode a Python object and write the binary output to a file.", []),
    "decode_from_file": ("(path)", "Read a Dral binary file and decode it into Python objects.", []),
    "_dumps_reference": (DUMPS_SIG, None, []),
    "_loads_reference": (LOADS_SIG, None, []),
    "_rfc_query_cbf_reference": ("(data, query, *, as_ctn=False)", None, []),
    "Encoder": (f"(*, sort_keys=False, {HOOK_SIG}, block_size=1048576)", "Incremental Dral encoder.",
                ["enable_dedup()", 'set_compression("lz4")', 'encode({"key": "value"})', "data = enc.finish()"]),
    "DralDecoder": ("(data, *, max_depth=128)", "Incremental Dral decoder.", ["values = dec.decode_all()"]),
    "Encoder.enable_dedup": ("()", "Enable string deduplication for subsequent blocks.", []),
    "Encoder.set_compression": ("(comp)", 'Set compression type: "none", "lz4", "zstd"', ['or "snappy".']),
    "Encoder.encode": ("(obj)", "Encode a Python value into the current block.", []),
    "Encoder.finish": ("()", "Flush and finalize the encoder, returning the Dral binary output as `bytes`.",
                       ["The encoder cannot be used after this call."]),
    "Encoder.finish_to_file": ("(path)", "Flush and finalize the encoder, writing the output directly to a file.",
                               ["The encoder cannot be used after this call.", "File path to write the encoded binary data to.",
                                "DralEncodeError", "If encoding fails or the encoder was already finished.",
                                "OSError", "If writing to the file fails."]),
    "DralDecoder.decode_all": ("()", "Decode all values from the binary data.", []),
    "parse_text": ("(text)", "Parse Dral human-readable text notation into a Python object.", (
        "", "Args:", "    text: A string in Dral text format.", "", "Returns:",
        "    The parsed Python object.", "", "Raises:",
        "    ValueError: If the text cannot be parsed.")),
    "pretty_print": ("(obj, indent=2, *, default=None)",
                     "Pretty-print a Python object in Dral human-readable text notation.", (
        "", "Args:", "    obj: The Python object to format.",
        "    indent: Number of spaces per indentation level (default: 2).", "", "Returns:",
        "    A string in Dral text format.", "", "Raises:",
        "    DralTypeError: If the object cannot be converted to a Dral value.")),
    "to_value": ("(obj, *, sort_keys=False, default=None)",
                 "Convert a Python object into a native-backed DralValue view.", []),
    "loads_value": (LOADS_SIG,
                    "Deserialize Dral binary data into native-backed DralValue view objects.", []),
    "parse_text_value": ("(text)",
                         "Parse Dral text notation into a native-backed DralValue view.", []),
}


@pytest.mark.parametrize("name", sorted(DOCS))
def test_signatures_and_docstrings(name):
    signature, summary, texts = DOCS[name]
    obj = functools.reduce(getattr, name.split("."), native)
    params = [str(p) for p in inspect.signature(obj).parameters.values() if p.name != "self"]
    if "." in name:  # methods: compare the parameter names only
        assert "(" + ", ".join(params) + ")" == signature
    else:
        assert str(inspect.signature(obj)) == signature
    if summary is not None:
        first, *later = obj.__doc__.splitlines()
        assert first == summary or (name == "Encoder.set_compression" and first.startswith(summary))
        rest = iter(later)  # lines documenting the indent bound may sit between pretty_print's
    for text in texts:
        assert text in rest if isinstance(texts, tuple) else text in obj.__doc__
