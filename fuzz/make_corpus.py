"""Writes the seed corpora under fuzz/corpus/: one small valid input per feature, each made through
the Python API of the package being fuzzed, so the seeds are what Dral itself writes and reads.

    PYTHONPATH=<folder holding the dral package> python3 fuzz/make_corpus.py

Folders: dral (streams, for both dral targets), text, ctn, cbf (files compiled from the ctn
seeds) and cql (a query line, then a document). Existing seeds of the same name are replaced;
regression inputs (named regress-*) are left alone.
"""

import math
import os
import sys

import dral

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

VALUES = {
    "null": None,
    "bools": [True, False],
    "uints": [0, 1, 127, 128, 300, 2**63 - 1],
    "ints": [-1, -64, -65, -(2**63)],
    "floats": [0.0, -0.0, 1.5, 1e300, 5e-324, math.inf, -math.inf, math.nan],
    "ascii": "hello",
    "unicode": "é€😀 \u2028",
    "empty_str": "",
    "long_str": "x" * 200,
    "escapes": 'quote " backslash \\ tab \t newline \n cr \r',
    "bytes": b"\x00\x01\xfe\xff",
    "empty_bytes": b"",
    "array": [1, "two", 3.0, None],
    "nested": [[[], [1]], {"a": [{}]}],
    "object": {"name": "x", "n": -1, "data": b"\x01"},
    "keys": {"": 1, "a b": 2, "_x1": 3, "é": 4, "1st": 5},
    "duplicate_strings": ["a", "b", "a", "", "", "b"],
    "deep": [[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]],
    "wide": list(range(200)),
}


def write(folder: str, name: str, data: bytes) -> None:
    path = os.path.join(CORPUS, folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as file:
        file.write(data)


def streams() -> None:
    for name, value in VALUES.items():
        write("dral", name, dral.dumps(value))
    write("dral", "dedup", dral.dumps(VALUES["duplicate_strings"] + ["é", "ê", "ab", "abc"], dedup=True))
    write("dral", "dedup_nested", dral.dumps({"k": ["v", {"k": "v"}], "l": ["v"] * 3}, dedup=True))
    write("dral", "sorted_keys", dral.dumps({"b": 1, "a": {"d": 2, "c": 3}}, sort_keys=True))
    for compression in ("zstd", "snappy", "lz4"):
        records = [{"id": i, "tag": "same", "items": VALUES["array"]} for i in range(40)]
        write("dral", f"compressed_{compression}", dral.dumps(records, compression=compression, dedup=True))
    write("dral", "nothing", dral.Encoder().finish())
    encoder = dral.Encoder()
    for value in (1, "a", None):
        encoder.encode(value)
    write("dral", "three_values", encoder.finish())
    late = dral.Encoder()
    late.encode("early")  # written in full before deduplication starts
    late.enable_dedup()
    late.encode(["early", "late", "late"])
    write("dral", "dedup_enabled_late", late.finish())
    write("dral", "at_depth_limit", dral.dumps(nest(127)))


def nest(depth: int):
    value = []
    for _ in range(depth):
        value = [value]
    return value


TEXTS = {
    "keywords": "[null, true, false, NaN, inf, -inf]",
    "numbers": "[0, 007, +7, -0, -9223372036854775808, 18446744073709551615, 1.5, 1., -.5, 1e3, 2E-3, 1e+7, 1e400]",
    "annotations": '[42::i32, "s"::str, null::, true::b, 1.5::f64]',
    "separators": "[1 2; 3, 4,]",
    "objects": '{a: 1; "b c": 2; a: null; é: 3;}',
    "comments": "/* outer /* inner */ still */ [1, // line\n 2]",
    "strings": '["a\\"b", "\\\\", "\\n\\r\\t", "\\q kept", "é€"]',
    "base64": "[b64#AQID, b64#AA==, b64#+/8=]",
    "top_level_semicolon": "{x: [1];};",
    "whitespace": "\u00a0\u3000[1,\u2028 2]\u205f",
}


def texts() -> None:
    for name, value in VALUES.items():
        if name != "empty_bytes":  # an empty byte string prints as text that does not read back
            write("text", name, dral.pretty_print(value).encode())
    write("text", "indent_0", dral.pretty_print(VALUES["object"], indent=0).encode())
    for name, text in TEXTS.items():
        dral.parse_text(text)  # every seed reads
        write("text", name, text.encode())


DOCUMENTS = {
    "empty": "",
    "binding": "let x = 1",
    "bindings_and_root": "use std::core\n@draft\n@level 3\nlet a = 1\nlet b = &a\n\n[&a, &b]",
    "integers": "[1, -1, 1i64, 2u64, 3vi32, 4vu64, 0x1f, 0b101, 0o17, 1_000, -9223372036854775808, 18446744073709551615u64]",
    "floats": "[1.5, 1e3, -2.5e-3, 1f32, 2f64, 3.25f16, NaN, Inf, -Inf, NaNf32, 1.5bf16]",
    "tagged_numbers": "[1.25dec64, 7dec32, 1.5i32]",
    "strings": '["plain", "esc \\" \\\\ \\n \\t \\r \\b \\f \\u{1F600}", """raw "quoted" text"""]',
    "bytes": '[b"00ff", b"de_ad", <01 02 ff>, <>, b64"AQID", b64""]',
    "tagged": '[date"2024-01-01", uuid"x\\ty"]',
    "symbols": "['sym, plain_symbol, a::b::c]",
    "keywords": "[true, false, null, unit]",
    "references": "let base = [1, 2]\nlet other = &base\nstruct\n  a = &base\n  b = ref 42\n  c = ref ref 'x\n  d = &missing",
    "reference_chain": "let a0 = [1, 2]\nlet a1 = [&a0, &a0]\nlet a2 = [&a1, &a1]\nlet a3 = [&a2, &a2]",
    "product": "Point\n  x = 1i64\n  y = 2.5f64",
    "anonymous_struct": "struct\n  name = \"x\"\n  nested = Inner\n    a = 1",
    "enum_block": "Shape :: Circle\n  radius = 1.5\n  center = Point::P(1, 2)",
    "inline_sums": "[Color::Red, Shape::Circle(1.5), Point::P(x: 1, y: 2), Opt::None]",
    "sequence_block": "seq<i64>\n  1\n  2\n  seq<str>\n    \"nested\"\n  [3, 4]",
    "inline_sequences": "[[1, [2, 3], ], (1, 2), (), [\"a,b\", map<a, b>[1 => 2]]]",
    "map_block": "map<str, any>\n  \"a\" => 1\n  'b => [1, 2]\n  3 => map<i64, i64>\n    1 => 2",
    "inline_map": 'map<str, i64>["a" => 1, "b" => 2]',
    "empty_containers": "struct\n  s = []\n  m = map<str, i64>[]\n  t = ()",
    "tensor": "tensor<f32>[2, _]\n  @layout \"row\"\n  [1, 2]\n  [3, 4]",
    "tensor_blob": "vec<u8>[16]\n  <binary: 16 bytes>",
    "matrix": "mat<f64>[2, 2]\n  [[1, 2], [3, 4]]",
    "stream": "stream<event>\n  @source \"x\"\n  @rate 10\n  @flag",
    "comments": "-- a line comment\n--! a doc comment\nlet a = 1 -- trailing\n--[[ a block\ncomment ]] let b = \"--not a comment\"",
    "long_sequence": "seq<any>\n" + "".join(f"  {i}\n" for i in range(10)),
    "annotation_values": "@a 1\n@b \"s\"\n@c 'sym\n@d 1.5f32\n@e date\"x\"\n\nnull",
}

QUERIES = [
    ".", "..", ".a", ".a.b", ".items[0]", ".items[-1]", ".items[]", ".items[].name", ".[0]",
    ".['key]", '.["key"]', '.a["]"]', ".pairs.x", ".pairs[]", ".x[ 1 ]", ". ",
]
QUERY_DOCUMENT = (
    "let shared = Item\n  name = \"s\"\n\nstruct\n  a = struct\n    b = 1\n"
    "  items = seq<Item>\n    Item\n      name = \"i0\"\n    Item\n      id = 1\n    &shared\n"
    "  pairs = map<any, any>[\"x\" => 1, 'x => 2, 3 => 4]\n  key = \"v\"\n"
    "  shape = Shape::Circle(radius: 1.5)\n  point = Point::P(1, 2)"
)


def documents() -> None:
    for name, text in DOCUMENTS.items():
        dral.rfc_parse_ctn(text)  # every seed parses
        write("ctn", name, text.encode())
        if name == "empty":
            continue
        write("cbf", name, dral.rfc_compile_ctn(text))
        if name in ("binding", "product", "bytes"):
            write("cbf", name + "_without_table", dral.rfc_compile_ctn(text, with_symtab=False))
    write("cbf", "aligned", dral.rfc_compile_ctn(DOCUMENTS["product"], alignment=8))
    for i, query in enumerate(QUERIES):
        dral.rfc_query_ctn(QUERY_DOCUMENT, query)  # every seed runs
        write("cql", f"query_{i:02d}", (query + "\n" + QUERY_DOCUMENT).encode())
    write("cql", "query_only", b".a.b")


if __name__ == "__main__":
    if len(sys.argv) > 1:
        sys.exit(__doc__)
    streams()
    texts()
    documents()
