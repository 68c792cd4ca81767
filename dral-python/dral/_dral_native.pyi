"""Types of the native extension `dral._dral_native`.

Data that Dral encodes (dicts, lists, scalars, dataclasses, dates, UUIDs, enum members) is typed
`Any`, as `json` types it: the accepted shapes are recursive and open-ended (a `default` hook
converts the rest), which no static type states without rejecting ordinary `list[int]`
arguments.

The typed dictionaries of RFC-001 documents are `TypedDict`s that exist only for type checkers
(import them under `typing.TYPE_CHECKING`). A value dictionary is the union of one `TypedDict`
per kind (and per scalar type), each with a `Literal` tag, so that a test such as
`value["kind"] == "product"` narrows it and the keys of that kind become known.
"""

import builtins
from collections.abc import Callable, Iterable, Iterator
from typing import Any, Final, Literal, Protocol, TypeAlias, TypedDict, final, overload, type_check_only

from _typeshed import StrOrBytesPath

__all__ = [
    "__version__",
    "DralError",
    "DralEncodeError",
    "DralDecodeError",
    "DralChecksumError",
    "DralTypeError",
    "DralRfcError",
    "dumps",
    "loads",
    "dump",
    "load",
    "encode",
    "decode",
    "encode_to_file",
    "decode_from_file",
    "parse_text",
    "pretty_print",
    "to_value",
    "loads_value",
    "parse_text_value",
    "RFC001_CBF_MAGIC",
    "RFC001_CBF_HEADER_SIZE",
    "rfc_parse_ctn",
    "rfc_format_ctn",
    "rfc_compile_ctn",
    "rfc_decode_cbf",
    "rfc_cbf_to_ctn",
    "rfc_query_cbf",
    "rfc_query_ctn",
    "rfc_parse_ctn_model",
    "rfc_decode_cbf_model",
    "rfc_query_cbf_model",
    "rfc_query_ctn_model",
    "Encoder",
    "DralDecoder",
    "DralValue",
    "RfcAnnotation",
    "RfcField",
    "RfcBinding",
    "RfcHeader",
    "RfcDocument",
    "RfcDecodedCbf",
    "RfcValue",
    "Writer",
    "Reader",
    "scan_blocks",
    "rfc_query_cbf_file",
    "rfc_query_cbf_file_model",
]

__version__: Final[str]
RFC001_CBF_MAGIC: Final[bytes]
RFC001_CBF_HEADER_SIZE: Final[int]

# Exceptions

class DralError(Exception): ...
class DralEncodeError(DralError): ...
class DralDecodeError(DralError): ...
class DralChecksumError(DralDecodeError): ...
class DralTypeError(DralEncodeError): ...
class DralRfcError(DralError): ...

# Helper types

Compression: TypeAlias = Literal["none", "lz4", "zstd", "snappy"]
DralKind: TypeAlias = Literal["null", "bool", "uint", "int", "float", "str", "bytes", "array", "object"]
Scalar: TypeAlias = None | bool | int | float | str | bytes
RfcValueKind: TypeAlias = Literal[
    "scalar", "product", "sum", "sequence", "association", "reference", "tensor", "stream", "opaque"
]
RfcScalarType: TypeAlias = Literal[
    "null", "unit", "bool", "i64", "u64", "vi64", "vu64", "f32", "f64", "str", "bytes", "sym", "tagged"
]

@type_check_only
class _ReadsBytes(Protocol):
    def read(self) -> bytes: ...

@type_check_only
class _WritesBytes(Protocol):
    def write(self, data: bytes, /) -> object: ...

# The typed dictionaries of RFC-001 documents

@type_check_only
class RfcNoneScalarDict(TypedDict):
    kind: Literal["scalar"]
    type: Literal["null", "unit"]
    value: None

@type_check_only
class RfcBoolScalarDict(TypedDict):
    kind: Literal["scalar"]
    type: Literal["bool"]
    value: bool

@type_check_only
class RfcIntScalarDict(TypedDict):
    kind: Literal["scalar"]
    type: Literal["i64", "u64", "vi64", "vu64"]
    value: int

@type_check_only
class RfcFloatScalarDict(TypedDict):
    kind: Literal["scalar"]
    type: Literal["f32", "f64"]
    value: float

@type_check_only
class RfcTextScalarDict(TypedDict):
    kind: Literal["scalar"]
    type: Literal["str", "sym"]
    value: str

@type_check_only
class RfcBytesScalarDict(TypedDict):
    kind: Literal["scalar"]
    type: Literal["bytes"]
    value: bytes

@type_check_only
class RfcTaggedScalarDict(TypedDict):
    kind: Literal["scalar"]
    type: Literal["tagged"]
    tag: str
    value: str

RfcScalarDict: TypeAlias = (
    RfcNoneScalarDict
    | RfcBoolScalarDict
    | RfcIntScalarDict
    | RfcFloatScalarDict
    | RfcTextScalarDict
    | RfcBytesScalarDict
    | RfcTaggedScalarDict
)

@type_check_only
class RfcFieldDict(TypedDict):
    name: str
    value: RfcValueDict

RfcBindingDict: TypeAlias = RfcFieldDict

@type_check_only
class RfcAnnotationDict(TypedDict):
    name: str
    value: RfcScalarDict | None

@type_check_only
class RfcProductDict(TypedDict):
    kind: Literal["product"]
    type_name: str | None
    fields: list[RfcFieldDict]

@type_check_only
class RfcUnitPayloadDict(TypedDict):
    kind: Literal["unit"]

@type_check_only
class RfcTuplePayloadDict(TypedDict):
    kind: Literal["tuple"]
    items: list[RfcValueDict]

@type_check_only
class RfcStructPayloadDict(TypedDict):
    kind: Literal["struct"]
    fields: list[RfcFieldDict]

@type_check_only
class RfcSumDict(TypedDict):
    kind: Literal["sum"]
    type_name: str | None
    variant: str
    payload: RfcUnitPayloadDict | RfcTuplePayloadDict | RfcStructPayloadDict

@type_check_only
class RfcSequenceDict(TypedDict):
    kind: Literal["sequence"]
    elem_type: str | None
    items: list[RfcValueDict]

@type_check_only
class RfcAssociationDict(TypedDict):
    kind: Literal["association"]
    pairs: list[list[RfcValueDict]]  # each [key, value]

@type_check_only
class RfcBindingReferenceDict(TypedDict):
    kind: Literal["reference"]
    reference_kind: Literal["binding"]
    name: str

@type_check_only
class RfcByIdReferenceDict(TypedDict):
    kind: Literal["reference"]
    reference_kind: Literal["by_id"]
    value: RfcValueDict

@type_check_only
class RfcFloatDataDict(TypedDict):
    kind: Literal["dense_f64"]
    values: list[float]

@type_check_only
class RfcIntDataDict(TypedDict):
    kind: Literal["dense_i64", "dense_u64"]
    values: list[int]

@type_check_only
class RfcBlobDataDict(TypedDict):
    kind: Literal["binary_blob"]
    bytes: builtins.bytes

@type_check_only
class RfcTensorDict(TypedDict):
    kind: Literal["tensor"]
    element_type: str
    shape: list[int | None]
    annotations: list[RfcAnnotationDict]
    data: RfcFloatDataDict | RfcIntDataDict | RfcBlobDataDict

@type_check_only
class RfcStreamDict(TypedDict):
    kind: Literal["stream"]
    item_type: str
    annotations: list[RfcAnnotationDict]

@type_check_only
class RfcOpaqueDict(TypedDict):
    kind: Literal["opaque"]
    type_tag: str
    bytes: builtins.bytes

RfcValueDict: TypeAlias = (
    RfcScalarDict
    | RfcProductDict
    | RfcSumDict
    | RfcSequenceDict
    | RfcAssociationDict
    | RfcBindingReferenceDict
    | RfcByIdReferenceDict
    | RfcTensorDict
    | RfcStreamDict
    | RfcOpaqueDict
)

@type_check_only
class RfcDocumentDict(TypedDict):
    annotations: list[RfcAnnotationDict]
    uses: list[str]
    bindings: list[RfcBindingDict]
    root: RfcValueDict | None

@type_check_only
class RfcHeaderDict(TypedDict):
    magic: Literal["DRAL"]
    cbf_version: int
    ctn_version: int
    flags: int
    alignment: int
    schema_hash_prefix: bytes
    root_offset: int
    symtab_offset: int
    index_offset: int
    self_describing: bool
    has_symtab: bool
    has_index: bool

@type_check_only
class RfcDecodedCbfDict(TypedDict):
    header: RfcHeaderDict
    symbols: list[str]
    document: RfcDocumentDict
    ctn: str

# The binary format

def dumps(
    obj: Any,
    *,
    compression: Compression | None = None,
    dedup: bool = False,
    sort_keys: bool = False,
    default: Callable[[Any], Any] | None = None,
    max_depth: int = 128,
) -> bytes: ...
def loads(data: bytes, *, strict: bool = True, max_depth: int = 128) -> Any: ...
def dump(
    obj: Any,
    fp: _WritesBytes,
    *,
    compression: Compression | None = None,
    dedup: bool = False,
    sort_keys: bool = False,
    default: Callable[[Any], Any] | None = None,
    max_depth: int = 128,
) -> None: ...
def load(fp: _ReadsBytes, *, strict: bool = True, max_depth: int = 128) -> Any: ...
def encode(obj: Any, *, default: Callable[[Any], Any] | None = None, max_depth: int = 128) -> bytes: ...
def decode(data: bytes) -> Any: ...
def encode_to_file(
    obj: Any, path: StrOrBytesPath, *, default: Callable[[Any], Any] | None = None, max_depth: int = 128
) -> None: ...
def decode_from_file(path: StrOrBytesPath) -> Any: ...
@final
class Encoder:
    def __init__(
        self,
        *,
        sort_keys: bool = False,
        default: Callable[[Any], Any] | None = None,
        max_depth: int = 128,
        block_size: int = 1048576,
    ) -> None: ...
    def enable_dedup(self) -> None: ...
    def set_compression(self, comp: Compression) -> None: ...
    def encode(self, obj: Any) -> None: ...
    def finish(self) -> bytes: ...
    def finish_to_file(self, path: StrOrBytesPath) -> None: ...

@final
class DralDecoder:
    def __init__(self, data: bytes, *, max_depth: int = 128) -> None: ...
    def decode_all(self) -> list[Any]: ...
    def __iter__(self) -> DralDecoder: ...
    def __next__(self) -> Any: ...

@type_check_only
class _ReadableFile(Protocol):
    def read(self, size: int = ..., /) -> bytes: ...

@type_check_only
class _WritableFile(Protocol):
    def write(self, data: bytes, /) -> object: ...

# Streams written and read a block at a time

@final
class Writer:
    def __init__(
        self,
        target: StrOrBytesPath | _WritableFile,
        *,
        compression: Compression | None = None,
        dedup: bool = False,
        sort_keys: bool = False,
        default: Callable[[Any], Any] | None = None,
        max_depth: int = 128,
        block_size: int = 1048576,
    ) -> None: ...
    @property
    def closed(self) -> bool: ...
    def write(self, obj: Any) -> None: ...
    def write_all(self, values: Iterable[Any]) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> Writer: ...
    def __exit__(self, exc_type: object, exc_value: object, traceback: object, /) -> bool: ...

@final
class Reader:
    def __init__(
        self,
        source: StrOrBytesPath | _ReadableFile,
        *,
        strict: bool = True,
        max_depth: int = 128,
        start: int = 0,
        stop: int | None = None,
    ) -> None: ...
    def __iter__(self) -> Reader: ...
    def __next__(self) -> Any: ...
    def close(self) -> None: ...
    def __enter__(self) -> Reader: ...
    def __exit__(self, exc_type: object, exc_value: object, traceback: object, /) -> bool: ...

def scan_blocks(source: StrOrBytesPath | _ReadableFile) -> list[tuple[int, int]]: ...

# The text notation and views

def parse_text(text: str) -> Any: ...
def pretty_print(obj: Any, indent: int = 2, *, default: Callable[[Any], Any] | None = None) -> str: ...
def to_value(
    obj: Any, *, sort_keys: bool = False, default: Callable[[Any], Any] | None = None
) -> DralValue: ...
def loads_value(data: bytes, *, strict: bool = True, max_depth: int = 128) -> DralValue | list[DralValue]: ...
def parse_text_value(text: str) -> DralValue: ...
@final
class DralValue:
    @property
    def kind(self) -> DralKind: ...
    @property
    def value(self) -> Scalar: ...
    @property
    def is_null(self) -> bool: ...
    @property
    def is_array(self) -> bool: ...
    @property
    def is_object(self) -> bool: ...
    @property
    def is_scalar(self) -> bool: ...
    def as_python(self) -> Any: ...
    def keys(self) -> list[str]: ...
    def values(self) -> list[DralValue]: ...
    def items(self) -> list[tuple[str, DralValue]]: ...
    def get(self, key: str | int) -> DralValue | None: ...
    def __getitem__(self, key: str | int, /) -> DralValue: ...
    def __contains__(self, key: str, /) -> bool: ...
    def __len__(self) -> int: ...
    # The keys of an object, the items of an array, nothing for a scalar.
    def __iter__(self) -> Iterator[str | DralValue]: ...

# RFC-001: CTN, CBF and CQL

def rfc_parse_ctn(text: str) -> RfcDocumentDict: ...
def rfc_format_ctn(text: str) -> str: ...
def rfc_parse_ctn_model(text: str) -> RfcDocument: ...
def rfc_compile_ctn(text: str, *, with_symtab: bool = True, alignment: int = 0) -> bytes: ...
def rfc_decode_cbf(data: bytes) -> RfcDecodedCbfDict: ...
def rfc_cbf_to_ctn(data: bytes) -> str: ...
def rfc_decode_cbf_model(data: bytes) -> RfcDecodedCbf: ...
@overload
def rfc_query_cbf(data: bytes, query: str, *, as_ctn: Literal[False] = False) -> list[RfcValueDict]: ...
@overload
def rfc_query_cbf(data: bytes, query: str, *, as_ctn: Literal[True]) -> list[str]: ...
@overload
def rfc_query_cbf(data: bytes, query: str, *, as_ctn: bool = False) -> list[RfcValueDict] | list[str]: ...
@overload
def rfc_query_ctn(text: str, query: str, *, as_ctn: Literal[False] = False) -> list[RfcValueDict]: ...
@overload
def rfc_query_ctn(text: str, query: str, *, as_ctn: Literal[True]) -> list[str]: ...
@overload
def rfc_query_ctn(text: str, query: str, *, as_ctn: bool = False) -> list[RfcValueDict] | list[str]: ...
@overload
def rfc_query_cbf_file(path: StrOrBytesPath, query: str, *, as_ctn: Literal[False] = False) -> list[RfcValueDict]: ...
@overload
def rfc_query_cbf_file(path: StrOrBytesPath, query: str, *, as_ctn: Literal[True]) -> list[str]: ...
@overload
def rfc_query_cbf_file(path: StrOrBytesPath, query: str, *, as_ctn: bool = False) -> list[RfcValueDict] | list[str]: ...
def rfc_query_cbf_model(data: bytes, query: str) -> list[RfcValue]: ...
def rfc_query_ctn_model(text: str, query: str) -> list[RfcValue]: ...
def rfc_query_cbf_file_model(path: StrOrBytesPath, query: str) -> list[RfcValue]: ...
@final
class RfcValue:
    @property
    def kind(self) -> RfcValueKind: ...
    @property
    def is_scalar(self) -> bool: ...
    @property
    def is_empty(self) -> bool: ...
    @property
    def type_name(self) -> str | None: ...
    @property
    def variant(self) -> str | None: ...
    @property
    def payload_kind(self) -> Literal["unit", "tuple", "struct"] | None: ...
    @property
    def elem_type(self) -> str | None: ...
    @property
    def element_type(self) -> str | None: ...
    @property
    def shape(self) -> list[int | None]: ...
    @property
    def data_kind(self) -> Literal["dense_f64", "dense_i64", "dense_u64", "binary_blob"] | None: ...
    @property
    def scalar_type(self) -> RfcScalarType | None: ...
    @property
    def scalar_value(self) -> Scalar: ...
    def get(self, key: str | int) -> RfcValue | None: ...
    def keys(self) -> list[str]: ...
    def values(self) -> list[RfcValue]: ...
    def fields(self) -> list[RfcField]: ...
    def annotations(self) -> list[RfcAnnotation]: ...
    def to_ctn(self) -> str: ...
    def to_dict(self) -> RfcValueDict: ...
    def __getitem__(self, key: str | int, /) -> RfcValue: ...
    def __contains__(self, key: str, /) -> bool: ...
    def __len__(self) -> int: ...

@final
class RfcField:
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> RfcValue: ...
    def to_dict(self) -> RfcFieldDict: ...

@final
class RfcBinding:
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> RfcValue: ...
    def to_dict(self) -> RfcBindingDict: ...

@final
class RfcAnnotation:
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> RfcScalarDict | None: ...
    def to_dict(self) -> RfcAnnotationDict: ...

@final
class RfcDocument:
    @property
    def uses(self) -> list[str]: ...
    @property
    def bindings(self) -> list[RfcBinding]: ...
    @property
    def root(self) -> RfcValue | None: ...
    @property
    def annotations(self) -> list[RfcAnnotation]: ...
    def binding(self, name: str) -> RfcBinding | None: ...
    def binding_names(self) -> list[str]: ...
    def annotation_names(self) -> list[str]: ...
    def effective_root(self) -> RfcValue: ...
    def to_ctn(self) -> str: ...
    def to_dict(self) -> RfcDocumentDict: ...

@final
class RfcHeader:
    @property
    def magic(self) -> Literal["DRAL"]: ...
    @property
    def cbf_version(self) -> int: ...
    @property
    def ctn_version(self) -> int: ...
    @property
    def flags(self) -> int: ...
    @property
    def alignment(self) -> int: ...
    @property
    def schema_hash_prefix(self) -> bytes: ...
    @property
    def root_offset(self) -> int: ...
    @property
    def symtab_offset(self) -> int: ...
    @property
    def index_offset(self) -> int: ...
    @property
    def self_describing(self) -> bool: ...
    @property
    def has_symtab(self) -> bool: ...
    @property
    def has_index(self) -> bool: ...
    def to_dict(self) -> RfcHeaderDict: ...

@final
class RfcDecodedCbf:
    @property
    def header(self) -> RfcHeader: ...
    @property
    def symbols(self) -> list[str]: ...
    @property
    def document(self) -> RfcDocument: ...
    @property
    def ctn(self) -> str: ...
    def to_dict(self) -> RfcDecodedCbfDict: ...

# Private to the command line's `inspect`.
def _walk_blocks(source: StrOrBytesPath | _ReadsBytes) -> dict[str, Any]: ...
def _cbf_parts(
    data: bytes,
) -> tuple[dict[str, Any] | None, bytes | None, tuple[int, int] | None]: ...
