"""Queries over compiled bytes read what they select: they answer as decoding the whole file and
then querying it does (the reference), for generated documents and queries, for files damaged
behind a valid checksum, and for hand-made files; a fault off the queried path goes unnoticed,
one on it is reported as a decode reports it. Files are mapped, not read."""

import os
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import dral
from cbf_bytes import NULL, cbf, i64, indexed, product, recrc, seg, seq, sym, text, with_table
from ctn_strategies import NAMES, documents
from dral import DralRfcError
from helpers import varint
from isolated import run_isolated
from peak_memory import peak_growth

MIB = 1 << 20
REFERENCE = dral._dral_native._rfc_query_cbf_reference


def outcome(call, *args, **kwargs):
    """What a call answered, comparable across the forms: repr keeps NaN and -0.0 apart."""
    try:
        found = call(*args, **kwargs)
    except DralRfcError as error:
        return "error", str(error)
    return "ok", repr([v.to_dict() if isinstance(v, dral.RfcValue) else v for v in found])


def direct_outcomes(data, query):
    return [outcome(dral.rfc_query_cbf, data, query), outcome(dral.rfc_query_cbf_model, data, query)]


def reference_outcomes(data, query):
    return [outcome(REFERENCE, data, query)] * 2


# Steps that often select something in generated documents, a few that never do, and a few that
# do not parse.
STEP_TEXTS = (st.sampled_from(["[]", "[0]", "[1]", "[-1]", "[2]", "[-3]", ".", "..", "[ ]"])
              | NAMES.map(lambda name: "." + name)
              | NAMES.map(lambda name: f'["{name}"]')
              | NAMES.map(lambda name: f"['{name}]")
              | st.sampled_from(["[x]", " b", "[", ".a b", "[1.5]"]))
QUERIES = st.builds(lambda lead, steps: lead + "." + "".join(steps),
                    st.sampled_from(["", " ", "x"]), st.lists(STEP_TEXTS, max_size=5))


def paths(value, depth=0):
    """Queries that walk along the typed dictionary `value`, each step selecting something."""
    while value["kind"] == "reference" and value["reference_kind"] == "by_id":
        value = value["value"]
    yield ""
    if depth == 3:
        return
    fields = value.get("fields", value.get("payload", {}).get("fields", []))
    steps = [("." + f["name"], f["value"]) for f in fields if f["name"].isidentifier()]
    steps += [(f"[{i}]", item) for i, item in enumerate(value.get("items", []))][:3]
    steps += [("[]", v) for _, v in value.get("pairs", [])][:1]
    steps += [(f'["{k["value"]}"]', v) for k, v in value.get("pairs", [])
              if k["kind"] == "scalar" and k["type"] in ("str", "sym") and '"' not in k["value"]][:2]
    for step, child in steps:
        for rest in paths(child, depth + 1):
            yield step + rest


@settings(max_examples=150, deadline=None)
@given(documents(), QUERIES, st.data())
def test_generated_queries_answer_as_decoding_first(text_, query, data):
    try:
        compiled = dral.rfc_compile_ctn(text_)
    except DralRfcError:
        return
    root = REFERENCE(compiled, ".")[0]
    along = ["." + path for path in paths(root)]
    for q in [query, data.draw(st.sampled_from(along))]:
        assert direct_outcomes(compiled, q) == reference_outcomes(compiled, q), q
        assert outcome(dral.rfc_query_cbf, compiled, q, as_ctn=True) == outcome(REFERENCE, compiled, q, as_ctn=True)
        # CTN text is compiled and queried the same way.
        assert outcome(dral.rfc_query_ctn, text_, q) == outcome(REFERENCE, compiled, q)


@settings(max_examples=200, deadline=None)
@given(documents(), st.data())
def test_damaged_files_answer_as_decoding_first_wherever_that_answers(text_, data):
    """A byte changed behind a valid checksum: where the reference answers, the direct query gives
    the same answer; where the direct query fails, so does the reference; `.` reads everything and
    fails exactly as a decode does."""
    try:
        compiled = bytearray(dral.rfc_compile_ctn(text_))
    except DralRfcError:
        return
    for _ in range(data.draw(st.integers(1, 3))):
        at = data.draw(st.integers(32, len(compiled) - 9))
        compiled[at] = data.draw(st.sampled_from([0, 1, 2, 0x7F, 0x80, 0xFF, compiled[at] ^ 1]))
    damaged = recrc(bytes(compiled))
    along = ["." + path for path in paths(REFERENCE(dral.rfc_compile_ctn(text_), ".")[0])]
    for q in [".", data.draw(st.sampled_from(along)), data.draw(QUERIES)]:
        direct, reference = direct_outcomes(damaged, q), reference_outcomes(damaged, q)
        if reference[0][0] == "ok" or q == ".":
            assert direct == reference, q
        elif direct[0][0] == "error":
            assert reference[0][0] == "error", q
        assert direct[0] == direct[1]  # dictionaries and models always agree


def assoc(*pairs) -> bytes:
    return seg(0x78, indexed([key + value for key, value in pairs]))


def struct_sum(variant: str, *fields) -> bytes:
    body = b"\x00" + text(variant) + b"\x02" + varint(len(fields))
    return seg(0x50, body + b"".join(text(name) + value for name, value in fields))


def ref_by_id(value: bytes, spare: bytes = b"") -> bytes:
    return seg(0x90, b"\x01" + value + spare)


BAD_UTF8 = seg(0x10, b"\xff")
BAD_TAG = seg(0xE0)
DEEP = NULL
for _ in range(70):
    DEEP = seq(DEEP)


def vi(v):
    return {"kind": "scalar", "type": "i64", "value": v}


# (name, file, query, answer or the decode's error): faults off the queried path go unnoticed,
# faults on it are reported as a decode reports them.
CRAFTED = [
    ("bad text after the field asked for", cbf(product(None, ("a", i64(1)), ("b", BAD_UTF8))), ".a", [vi(1)]),
    ("bad text in the field asked for", cbf(product(None, ("a", i64(1)), ("b", BAD_UTF8))), ".b",
     "Invalid UTF-8 in string field at offset 28"),
    ("bad tag beside the item asked for", cbf(seq(i64(1), BAD_TAG, i64(3))), ".[-1]", [vi(3)]),
    ("bad tag in the item asked for", cbf(seq(i64(1), BAD_TAG, i64(3))), ".[1]",
     "Invalid data: unsupported segment type/config: 0xe/0x0"),
    ("bad tag among the items walked", cbf(seq(i64(1), BAD_TAG, i64(3))), ".[]",
     "Invalid data: unsupported segment type/config: 0xe/0x0"),
    ("bad value beside the key asked for", cbf(assoc((text("x"), i64(1)), (text("y"), BAD_TAG))), ".x", [vi(1)]),
    ("bad value under the key asked for", cbf(assoc((text("x"), i64(1)), (text("y"), BAD_TAG))), ".y",
     "Invalid data: unsupported segment type/config: 0xe/0x0"),
    ("trailing bytes after the field found", cbf(seg(0x40, product(None, ("a", i64(1)))[4:] + b"\x00")), ".a", [vi(1)]),
    ("trailing bytes after the fields searched", cbf(seg(0x40, product(None, ("a", i64(1)))[4:] + b"\x00")), ".z",
     "Invalid data: struct payload has trailing bytes"),
    ("trailing bytes in a sum searched", cbf(seg(0x50, struct_sum("V", ("a", i64(1)))[4:] + b"\x00")), ".z",
     "Invalid data: enum payload trailing bytes"),
    ("a sum searched by key is not read", cbf(seg(0x50, struct_sum("V", ("a", i64(1)))[4:] + b"\x00")), '.["z"]', []),
    ("an item too deep inside the result", cbf(DEEP), ".[0][0]", "Nesting depth 65 exceeds maximum 64"),
    ("a path too deep", cbf(DEEP), "." + "[0]" * 66, "Nesting depth 65 exceeds maximum 64"),
    ("a path just deep enough", cbf(DEEP), "." + "[0]" * 64 + ".x", []),
    ("a bad reference kind on the path", cbf(product(None, ("r", seg(0x90, b"\x02")))), ".r.x",
     "Invalid data: unknown reference kind 2"),
    ("a bad reference kind off the path", cbf(product(None, ("a", i64(1)), ("r", seg(0x90, b"\x02")))), ".a", [vi(1)]),
    ("a reference followed with bytes to spare", cbf(ref_by_id(seq(i64(1)), b"\x00")), ".[0]",
     "Invalid data: reference-by-id payload trailing bytes"),
    ("a reference to a binding selects nothing", cbf(seg(0x90, b"\x00\x01r")), ".[0]", []),
    ("references followed to the item", cbf(ref_by_id(ref_by_id(seq(i64(1), i64(2))))), ".[-1]", [vi(2)]),
    ("a symbol out of range in a field searched", with_table(["a"], seg(0x40, b"\x00\x02" + sym(0) + i64(1)
                                                                        + sym(5) + i64(2))), ".b",
     "Invalid reference: index 5 out of bounds (dictionary has 1 entries)"),
    ("a symbol out of range after the field found", with_table(["a"], seg(0x40, b"\x00\x02" + sym(0) + i64(1)
                                                                          + sym(5) + i64(2))), ".a", [vi(1)]),
    ("an offset past the items asked for", cbf(seg(0x68, b"\x00\x02" + struct.pack("<II", 0, 99) + i64(1))), ".[0]",
     [vi(1)]),
    ("an offset past the end", cbf(seg(0x68, b"\x00\x02" + struct.pack("<II", 0, 99) + i64(1))), ".[1]",
     "Unexpected end of input at offset 109"),
    ("an inline item found by walking", cbf(seq(i64(1), i64(2), tag=0x60)), ".[-1]", [vi(2)]),
    ("inline items with bytes to spare", cbf(seg(0x60, seq(i64(1), tag=0x60)[4:] + b"\x00")), ".[]",
     "Invalid data: sequence payload has trailing bytes"),
]


@pytest.mark.parametrize("name, data, query, expected", CRAFTED, ids=[c[0] for c in CRAFTED])
def test_faults_on_the_path_are_reported_and_faults_off_it_are_not(name, data, query, expected):
    reference = outcome(REFERENCE, data, query)
    if isinstance(expected, str):
        assert direct_outcomes(data, query) == [("error", expected)] * 2
        assert reference == ("error", expected) or expected == "Nesting depth 65 exceeds maximum 64"
    else:
        assert direct_outcomes(data, query) == [("ok", repr(expected))] * 2
    # Whatever the direct query finds, a decode finds too, in a file that decodes.
    if reference[0] == "ok":
        assert direct_outcomes(data, query) == [reference] * 2


@pytest.mark.parametrize("data", [cbf(product(None, ("a", i64(1)), ("b", BAD_UTF8))), cbf(DEEP)])
def test_a_query_that_does_not_parse_reports_the_document_first(data):
    # Only a whole decode finds every fault, so one runs before the query's own error is told.
    assert outcome(dral.rfc_query_cbf, data, ".a[") == outcome(REFERENCE, data, ".")
    sound = cbf(product(None, ("a", i64(1))))
    assert outcome(dral.rfc_query_cbf, sound, ".a[") == ("error", "Invalid data: unterminated bracket in CQL expression")


DOC = """struct
  title = "catalogue"
  items = seq<Item>
    Item
      id = 1u64
      tags = ["a", "b"]
    Item
      id = 2u64
      tags = []
  pairs = map<any, any>
    'x => 1
    "x" => 2
"""


@pytest.fixture
def doc_file(tmp_path):
    path = tmp_path / "doc.cbf"
    path.write_bytes(dral.rfc_compile_ctn(DOC))
    return path


@pytest.mark.parametrize("query", [".", ".title", ".items[].id", ".items[-1].tags", ".pairs.x", ".nothing", ".items[5]"])
def test_a_file_answers_as_its_bytes_do(doc_file, query):
    data = doc_file.read_bytes()
    for path in [doc_file, str(doc_file), os.fsencode(doc_file)]:
        assert dral.rfc_query_cbf_file(path, query) == dral.rfc_query_cbf(data, query)
        assert dral.rfc_query_cbf_file(path, query, as_ctn=True) == dral.rfc_query_cbf(data, query, as_ctn=True)
        models = dral.rfc_query_cbf_file_model(path, query)
        assert [m.to_dict() for m in models] == dral.rfc_query_cbf(data, query)


def test_file_errors(tmp_path, doc_file):
    with pytest.raises(FileNotFoundError) as info:
        dral.rfc_query_cbf_file(tmp_path / "missing.cbf", ".")
    assert info.value.filename == tmp_path / "missing.cbf"
    with pytest.raises(IsADirectoryError):
        dral.rfc_query_cbf_file_model(tmp_path, ".")
    empty = tmp_path / "empty.cbf"
    empty.write_bytes(b"")
    for path, message in [(empty, "Unexpected end of input at offset 0"),
                          (os.devnull, "Unexpected end of input at offset 0")]:  # read, not mapped
        with pytest.raises(DralRfcError, match=message):
            dral.rfc_query_cbf_file(path, ".")
    with pytest.raises(DralRfcError, match="^Invalid data: empty CQL expression$"):
        dral.rfc_query_cbf_file(doc_file, " ")
    for call, pattern in [
        (lambda: dral.rfc_query_cbf_file(3, "."), "expected str, bytes or os.PathLike object, not int"),
        (lambda: dral.rfc_query_cbf_file(doc_file, b"."), "'query' must be str"),
        (lambda: dral.rfc_query_cbf_file(doc_file, ".", as_ctn=None), "'as_ctn' must be bool"),
        (lambda: dral.rfc_query_cbf_file_model(doc_file, ".", as_ctn=True), "unexpected keyword argument 'as_ctn'"),
    ]:
        with pytest.raises(TypeError, match=pattern):
            call()


def test_a_file_read_through_a_pipe(doc_file):
    read_end, write_end = os.pipe()
    data = doc_file.read_bytes()
    assert len(data) < 65536  # fits the pipe's buffer: written before the read starts
    os.write(write_end, data)
    os.close(write_end)
    try:
        assert dral.rfc_query_cbf_file(f"/dev/fd/{read_end}", ".title") == dral.rfc_query_cbf(data, ".title")
    finally:
        os.close(read_end)


@pytest.fixture(scope="module")
def large_file(tmp_path_factory):
    """A file of 40 MiB whose title comes first: several pieces of the checksum pass."""
    path = tmp_path_factory.mktemp("large") / "large.cbf"
    path.write_bytes(dral.rfc_compile_ctn('struct\n  title = "t"\n  blob = "' + "a" * (40 * MIB) + '"\n  n = 7'))
    return path


def test_a_large_file_is_checked_whole(large_file, tmp_path):
    data = large_file.read_bytes()
    assert dral.rfc_query_cbf_file(large_file, ".n") == dral.rfc_query_cbf(data, ".n") == [
        {"kind": "scalar", "type": "vi64", "value": 7}]
    damaged = tmp_path / "damaged.cbf"
    changed = bytearray(data)
    changed[len(data) - 100] ^= 1  # in the last piece the checksum reads
    damaged.write_bytes(changed)
    with pytest.raises(DralRfcError) as info:
        dral.rfc_query_cbf_file(damaged, ".title")
    assert str(info.value) == outcome(dral.rfc_query_cbf, bytes(changed), ".title")[1]
    assert str(info.value).startswith("Checksum mismatch")


def test_a_query_over_a_mapped_file_keeps_little_of_it_resident(large_file):
    def call():
        found = []
        outcome, growth = peak_growth(lambda: found.extend(dral.rfc_query_cbf_file(large_file, ".title")))
        return outcome, found, growth

    if not os.access("/proc/self/clear_refs", os.W_OK):
        pytest.skip("the peak resident size cannot be reset here")
    result = run_isolated(call, memory=256 * MIB, cpu_seconds=5)
    assert result[0] == "returned", result
    outcome, found, growth = result[1]
    assert outcome == "returned" and found == [{"kind": "scalar", "type": "str", "value": "t"}]
    # Reading it would take 40 MiB; pieces of 4 MiB are let go once checked.
    assert growth < 16 * MIB, growth


def test_the_reference_is_the_whole_decode():
    data = cbf(product(None, ("a", i64(1)), ("b", BAD_UTF8)))
    assert outcome(REFERENCE, data, ".a") == ("error", "Invalid UTF-8 in string field at offset 28")
    assert REFERENCE(dral.rfc_compile_ctn(DOC), ".items[].id", as_ctn=True) == ["1u64", "2u64"]
