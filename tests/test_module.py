"""Module surface: exception classes, attribute order, constants, immutable classes, a second import,
the guards of every entry point."""

import ast
import importlib.util
import inspect
import pathlib

import pytest

import dral
from dral import _dral_native as native

EXCEPTIONS = [("DralError", "Exception"), ("DralEncodeError", "DralError"), ("DralDecodeError", "DralError"),
              ("DralChecksumError", "DralDecodeError"), ("DralTypeError", "DralEncodeError"),
              ("DralRfcError", "DralError")]

# The public order is written once, in the module; the shipped stub states it for readers and type
# checkers, and the module is held to it here.
STUB = ast.parse((pathlib.Path(dral.__file__).parent / "_dral_native.pyi").read_text(encoding="utf-8"))
ATTRIBUTE_ORDER = next(ast.literal_eval(node.value) for node in STUB.body
                       if isinstance(node, ast.Assign) and ast.unparse(node.targets[0]) == "__all__")


@pytest.mark.parametrize("name, base", EXCEPTIONS)
def test_exception_classes(name, base):
    cls = getattr(native, name)
    assert cls.__bases__ == (getattr(native, base, Exception),)
    assert (cls.__name__, cls.__module__) == (name, "_dral_native")
    assert not issubclass(cls, (TypeError, ValueError))
    assert cls("some message").args == ("some message",)


def test_attributes_and_constants():
    assert native.__all__ == ATTRIBUTE_ORDER == dral.__all__
    assert all(getattr(dral, name) is getattr(native, name) for name in ATTRIBUTE_ORDER)
    assert [name for name in vars(native) if name in ATTRIBUTE_ORDER] == ATTRIBUTE_ORDER
    assert (native.__version__, native.RFC001_CBF_MAGIC, native.RFC001_CBF_HEADER_SIZE) == ("1.0.2", b"DRAL", 32)


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


# The differential tests call each reference path as its fast path is called.
@pytest.mark.parametrize("fast", ["dumps", "loads", "rfc_query_cbf"])
def test_reference_paths_take_the_arguments_of_the_fast_paths(fast):
    reference = getattr(native, f"_{fast}_reference")
    assert inspect.signature(reference) == inspect.signature(getattr(native, fast))
