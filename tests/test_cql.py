"""Path queries over CTN text and CBF bytes: expression errors, the step rules per value kind,
the choice of root, the three result forms, argument errors and the order of the stages."""

import gc
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from ctn_strategies import documents
from dral import DralRfcError

# Every kind the steps distinguish, with binding references (inlined when compiled) and by-id
# references (followed by every step).
DOC = r'''let host = "h1"
let ports = [80, 443]

struct
  name = "svc"
  servers = seq<Server>
    Server
      host = &host
      port = 80u64
    Server
      host = "b"
    struct
      port = 1u64
  tags = ["x", "y", "z"]
  pairs = map<any, any>
    "x" => 1
    'x => 2
    1 => 3
    "y" => 4
  odd = map<any, any>
    "]" => 1
    "a\\\"b" => 2
    "naïve" => 3
    "x'" => 4
    "a b" => 5
  shape = Shape::Circle
    radius = 1.5
  point = Point::P(1, 2)
  color = Color::Red
  byid = ref [10, 20, 30]
  chain = ref ref (7, 8)
  dangling = &nowhere
  alias = &ports
  t = tensor<f32>[2]
    [1, 2]
  s = stream<event>
    @rate 10
'''


def sc(kind, value):
    return {"kind": "scalar", "type": kind, "value": value}


def vi(*values):
    return [sc("vi64", v) for v in values]


def st_(*values):
    return [sc("str", v) for v in values]


def rfc_error(call, *args):
    with pytest.raises(DralRfcError) as info:
        call(*args)
    return str(info.value)


EMPTY, START, UNTERMINATED, TOKEN, UNSUPPORTED = ("Invalid data: " + text for text in (
    "empty CQL expression", "CQL expression must start with '.'", "unterminated bracket in CQL expression",
    "unexpected CQL token near '{}'", "unsupported CQL bracket selector [{}]"))


@pytest.mark.parametrize("query, message", [
    ("", EMPTY), (" \t\u3000\n", EMPTY), ("a.b", START), ("[0]", START),
    (".a b", TOKEN.format(" b")), (".a]", TOKEN.format("]")), (".tags[0]x.y", TOKEN.format("x.y")),
    (".naïve", TOKEN.format("ïve")), (".a[", UNTERMINATED), ('.a["]', UNTERMINATED),
    (".a['b[c]", UNTERMINATED),  # apostrophes do not quote
    *[(f".a[{s}]", UNSUPPORTED.format(s.strip())) for s in
      ["x", " - ", "1.5", "[0]", '"x"y', "9223372036854775808", "-9223372036854775809"]],
    (".missing.deeper[x]", UNSUPPORTED.format("x")),  # nothing is evaluated before the whole parse
])
def test_expression_errors(query, message):
    assert rfc_error(dral.rfc_query_ctn, DOC, query) == message


# The root with its binding references inlined, as every query sees it.
ROOT = dral.rfc_parse_ctn(DOC.replace("&host", '"h1"').replace("&ports", "[80, 443]"))["root"]
SERVER0 = [{"kind": "product", "type_name": "Server", "fields": [
    {"name": "host", "value": sc("str", "h1")}, {"name": "port", "value": sc("u64", 80)}]}]


@pytest.mark.parametrize("query, expected", [
    # members, keys and indexes on products and sequences
    (".name", st_("svc")), ('.["name"]', st_("svc")), (".['name]", st_("svc")), ('.[ "name" ]', st_("svc")),
    (".servers[0]", SERVER0), (".servers[-3]", SERVER0),
    (".servers[].host", st_("h1", "b")), (".servers[].port", [sc("u64", 80), sc("u64", 1)]),
    (".servers[-1].port", [sc("u64", 1)]), (".servers[+1][\"host\"]", st_("b")), (".servers[001].host", st_("b")),
    (".servers[3]", []), (".servers[-4]", []), (".servers[9223372036854775807]", []),
    (".servers[-9223372036854775808]", []), (".servers.host", []), (".tags.0", []), (".tags.[0]", st_("x")),
    (".servers..[0]..host.", st_("h1")), (".nothing.deeper[]", []), (".[]", []), (".[0]", []),
    # associations: member and key reach Str and Sym keys, all matches; the wildcard every pair
    (".pairs.x", vi(1, 2)), ('.pairs["x"]', vi(1, 2)), (".pairs['x]", vi(1, 2)), (".pairs.y", vi(4)),
    (".pairs[]", vi(1, 2, 3, 4)), (".pairs[0]", []), ('.pairs["1"]', []), (".pairs.z", []),
    ('.odd["]"]', vi(1)), (r'.odd["a\"b"]', vi(2)), (".odd['naïve]", vi(3)), ('.odd["naïve"]', vi(3)),
    (".odd['x']", vi(4)), (".odd['a b]", vi(5)), ('.odd["a b"]', vi(5)), (".odd['a b']", []),
    # sums: a member reaches a named payload field, a key or index never does
    (".shape.radius", [sc("f64", 1.5)]), (".shape['radius]", []), ('.shape["radius"]', []),
    (".shape[]", []), (".point[0]", []), (".point[]", []), (".point.P", []), (".color.Red", []),
    # by-id references are followed by every step, binding references were inlined or lead nowhere
    (".byid[1]", vi(20)), (".byid[-1]", vi(30)), (".byid[]", vi(10, 20, 30)), (".chain[1]", vi(8)),
    (".alias[]", vi(80, 443)), (".servers[0].host", st_("h1")),
    (".dangling", [{"kind": "reference", "reference_kind": "binding", "name": "nowhere"}]),
    (".dangling.x", []), (".dangling[]", []), (".dangling[0]", []), ('.dangling["x"]', []),
    # scalars, tensors and streams select nothing
    (".name.x", []), (".name[]", []), (".name[0]", []), (".t[]", []), (".t[0]", []), (".s[]", []),
])
def test_step_rules(query, expected):
    assert dral.rfc_query_ctn(DOC, query) == expected


@pytest.mark.parametrize("text, query, expected", [
    *[(DOC, query, [ROOT]) for query in [".", "..", ". ", "\u2003 . \n"]],  # a dot alone
    ("let a = [1]\nlet b = [2, 3]", ".[]", vi(2, 3)),  # no root: the last binding
    ("let a = [1, 2]\nlet b = &a", ".[-1]", vi(2)),  # its references inlined
    ("let a = [1]\n[5, 6]\nlet b = [2]", ".[]", vi(5, 6)),  # a root wins over bindings
    ("ref ref [4, 5]", ".[1]", vi(5)),
    ("ref 9", ".", [{"kind": "reference", "reference_kind": "by_id", "value": sc("vi64", 9)}]),
])
def test_root_choice(text, query, expected):
    assert dral.rfc_query_ctn(text, query) == expected


@pytest.mark.parametrize("query, expected", [
    (".name", ['"svc"']), (".servers[0].port", ["80u64"]), (".tags", ['["x", "y", "z"]']),
    (".tags[]", ['"x"', '"y"', '"z"']), (".shape.radius", ["1.5f64"]), (".color", ["Color :: Red"]),
    (".byid", ["ref [10, 20, 30]"]), (".dangling", ["&nowhere"]), (".nothing", []),
    (".servers[0]", ['Server\n  host = "h1"\n  port = 80u64']),
])
def test_as_ctn(query, expected):
    assert dral.rfc_query_ctn(DOC, query, as_ctn=True) == expected
    assert dral.rfc_query_cbf(dral.rfc_compile_ctn(DOC), query, as_ctn=True) == expected
    assert dral.rfc_query_ctn(DOC, query, as_ctn=False) == dral.rfc_query_ctn(DOC, query)


@pytest.mark.parametrize("function, source", [
    (dral.rfc_query_ctn_model, DOC), (dral.rfc_query_cbf_model, dral.rfc_compile_ctn(DOC))])
def test_model_results(function, source):
    servers = function(source, ".servers[]")
    assert [type(v).__name__ for v in servers] == ["RfcValue"] * 3
    assert [v.to_dict() for v in servers] == dral.rfc_query_ctn(DOC, ".servers[]")
    assert [v["host"].scalar_value for v in servers[:2]] == ["h1", "b"] and servers[2].get("host") is None
    byid, = function(source, ".byid")
    del servers
    gc.collect()  # a result alone keeps alive the document it was selected from
    assert (byid.kind, byid[1].scalar_value, byid.to_ctn()) == ("reference", 20, "ref [10, 20, 30]")
    assert function(source, ".x") == []


CBF = dral.rfc_compile_ctn("[1]")


@pytest.mark.parametrize("call, pattern", [
    (lambda: dral.rfc_query_cbf(bytearray(CBF), "."), "'data' must be bytes"),
    (lambda: dral.rfc_query_cbf(memoryview(CBF), "."), "'data' must be bytes"),
    (lambda: dral.rfc_query_cbf(b"", 1), "'query' must be str"),  # before the bad bytes are read
    (lambda: dral.rfc_query_ctn(b"[1]", "."), "'text' must be str"),
    (lambda: dral.rfc_query_ctn("", ".", as_ctn=1), "'as_ctn' must be bool"),
    (lambda: dral.rfc_query_ctn("[1]", ".", True), "positional"),
    (lambda: dral.rfc_query_cbf_model(CBF, ".", as_ctn=False), "unexpected keyword argument 'as_ctn'"),
    (lambda: dral.rfc_query_ctn_model("[1]"), "missing required argument 'query'"),
    (lambda: dral.rfc_query_ctn_model(text="[1]", query=None), "'query' must be str"),
])
def test_argument_errors(call, pattern):
    with pytest.raises(TypeError, match=pattern):
        call()


def test_arguments_by_keyword_and_bytes_subclass():
    class Blob(bytes):
        pass
    assert dral.rfc_query_cbf(query=".[0]", data=Blob(CBF), as_ctn=True) == ["1"]
    assert dral.rfc_query_ctn(text="[1]", query=".[]") == vi(1)
    with pytest.raises(UnicodeEncodeError):  # a str with no UTF-8 form, as rfc_parse_ctn reports it
        dral.rfc_query_ctn("", ".\ud800")


@pytest.mark.parametrize("call, message", [
    # the document is reported before the query, whatever is wrong with the query
    (lambda q: dral.rfc_query_ctn("", q), "Invalid data: document has no root value or bindings"),
    (lambda q: dral.rfc_query_ctn_model("-- only a comment", q), "Invalid data: document has no root value or bindings"),
    (lambda q: dral.rfc_query_ctn("let a = &b\nlet b = &a", q), "Invalid data: cyclic reference detected at binding 'a'"),
    (lambda q: dral.rfc_query_ctn("\tx", q), "Text parse error at line 1, col 1: tabs are not allowed for indentation in CTN"),
    (lambda q: dral.rfc_query_cbf(b"", q), "Unexpected end of input at offset 0"),
    (lambda q: dral.rfc_query_cbf_model(b"DRAX" + bytes(36), q), "Invalid magic bytes"),
    (lambda q: dral.rfc_query_cbf(CBF[:-1] + bytes([CBF[-1] ^ 1]), q), "Checksum mismatch"),
])
@pytest.mark.parametrize("query", ["", "x", ".a[", ".[]"])
def test_document_errors_come_first(call, message, query):
    with pytest.raises(DralRfcError) as info:
        call(query)
    assert str(info.value).startswith(message) and type(info.value) is DralRfcError


def test_long_and_deep_expressions_do_not_exhaust_the_stack():
    assert dral.rfc_query_ctn(DOC, ".servers" + "[]" * 100_000) == []
    assert dral.rfc_query_ctn(DOC, ".a" * 100_000) == []
    nested = ".[" + "[" * 100_000 + "]" * 100_001
    assert rfc_error(dral.rfc_query_ctn, DOC, nested) == UNSUPPORTED.format(nested[2:-1])


def resolve(value):
    while value["kind"] == "reference" and value["reference_kind"] == "by_id":
        value = value["value"]
    return value


def select(step, value):
    """What one step selects in a typed dictionary, by the rules of the language."""
    value, (kind, arg) = resolve(value), step
    if kind in "mk" and value["kind"] == "association":
        return [v for k, v in value["pairs"] if k["kind"] == "scalar" and k["type"] in ("str", "sym") and k["value"] == arg]
    if kind in "mk" and (value["kind"] == "product" or kind == "m" and value["kind"] == "sum"):
        fields = value["fields"] if value["kind"] == "product" else value["payload"].get("fields", [])
        return [f["value"] for f in fields if f["name"] == arg][:1]
    if kind == "w" and value["kind"] in ("sequence", "association"):
        return value["items"] if value["kind"] == "sequence" else [v for _, v in value["pairs"]]
    if kind == "i" and value["kind"] == "sequence" and -len(value["items"]) <= arg < len(value["items"]):
        return [value["items"][arg]]
    return []


def step_options(value):
    """Steps that select something in `value`, as (text, (kind, argument)); keys if quotable."""
    value = resolve(value)
    names = [f["name"] for f in value.get("fields", value.get("payload", {}).get("fields", []))]
    names += [k["value"] for k, _ in value.get("pairs", []) if k["kind"] == "scalar" and k["type"] in ("str", "sym")]
    options = [("[]", ("w", None))]
    for name in names:
        if re.fullmatch(r"\w+", name, re.ASCII):
            options.append(("." + name, ("m", name)))
        if '"' not in name and "\\" not in name:
            options.append(('[ "' + name + '" ]', ("k", name)))
    n = len(value.get("items", []))
    return options + [(f"[{i}]", ("i", i)) for i in range(-n, n)][:8]


@given(documents(), st.data())
def test_ctn_and_compiled_queries_agree(text, data):
    try:
        compiled = dral.rfc_compile_ctn(text)
    except DralRfcError as error:  # no value at all, a cycle, tensor data unfit for its type
        assert rfc_error(dral.rfc_query_ctn, text, ".") == str(error)
        return
    # A path mostly along what the tree holds, now and then a step that selects nothing.
    values, texts = [dral.rfc_query_cbf(compiled, ".")[0]], [data.draw(st.sampled_from(["", " ", "\u3000"]))]
    for _ in range(data.draw(st.integers(0, 4))):
        options = [option for value in values[:3] for option in step_options(value)]
        step_text, step = data.draw(st.sampled_from(options + [(".nope", ("m", "nope")), ("[-9]", ("i", -9))]))
        texts.append(step_text)
        values = [selected for value in values for selected in select(step, value)]
    expression = texts[0] + "." + "".join(texts[1:])
    # repr: NaN scalars compare unequal to themselves, and -0.0 must stay apart from 0.0
    result = repr(dral.rfc_query_ctn(text, expression))
    assert result == repr(dral.rfc_query_cbf(compiled, expression)) == repr(values)
    assert dral.rfc_query_ctn(text, expression, as_ctn=True) == dral.rfc_query_cbf(compiled, expression, as_ctn=True)
    assert repr([v.to_dict() for v in dral.rfc_query_ctn_model(text, expression)]) == result
