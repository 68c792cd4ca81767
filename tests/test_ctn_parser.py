"""CTN documents through rfc_parse_ctn: inline expressions, statements, comments, block forms,
tensors, streams, annotations, error lines, and the bounds on nesting."""

import textwrap
import threading

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from isolated import SMALL_STACK_SIZE, run_isolated

DATA = "Invalid data: "
TABS = "tabs are not allowed for indentation in CTN"


def parse(text):
    return dral.rfc_parse_ctn(textwrap.dedent(text).strip("\n"))


def error(text):
    with pytest.raises(dral.DralRfcError) as caught:
        parse(text)
    return str(caught.value)


def at(line, message):
    return f"Text parse error at line {line}, col 1: {message}"


def scalar(type_name):
    return lambda x: {"kind": "scalar", "type": type_name, "value": x}


v, s, sym = scalar("vi64"), scalar("str"), scalar("sym")


def seq(*items, elem_type=None):
    return {"kind": "sequence", "elem_type": elem_type, "items": list(items)}


def fields(**values):
    return [{"name": k, "value": x} for k, x in values.items()]


def product(type_name, **values):
    return {"kind": "product", "type_name": type_name, "fields": fields(**values)}


def sum_(type_name, variant, kind="unit", items=None, **values):
    payload = {"kind": kind}
    if kind == "tuple":
        payload["items"] = items
    if kind == "struct":
        payload["fields"] = fields(**values)
    return {"kind": "sum", "type_name": type_name, "variant": variant, "payload": payload}


def assoc(*pairs):
    return {"kind": "association", "pairs": [list(p) for p in pairs]}


def ref(name):
    return {"kind": "reference", "reference_kind": "binding", "name": name}


def by_id(value):
    return {"kind": "reference", "reference_kind": "by_id", "value": value}


def tensor(element_type, shape, values=None, blob=None, annotations=()):
    data = {"kind": "dense_f64", "values": values} if blob is None else {"kind": "binary_blob", "bytes": blob}
    return {"kind": "tensor", "element_type": element_type, "shape": shape, "annotations": list(annotations), "data": data}


def note(name, value=None):
    return {"name": name, "value": value}


def stream(item_type, *annotations):
    return {"kind": "stream", "item_type": item_type, "annotations": list(annotations)}


# ------------------------------------------------------------------------------------------------
# Inline expressions


@pytest.mark.parametrize(
    "text, value",
    [
        ("&config", ref("config")), ("& config", ref("config")), ("ref 42", by_id(v(42))),
        ("ref ref 1", by_id(by_id(v(1)))), ("ref &a", by_id(ref("a"))), ("ref  [1]", by_id(seq(v(1)))),
        ("Color::Red", sum_("Color", "Red")), ("::Red", sum_(None, "Red")), ("A::b::c", sum_("A", "b::c")),
        (" A :: B ", sum_("A", "B")), ("1::2", sum_("1", "2")), ("A::1b::2", sum_("A", "1b::2")),
        ("A::(1)", sum_("A", "", "tuple", [v(1)])), ("A::(x: 1)", sum_("A", "", "struct", x=v(1))),
        ("Shape::Circle(1.5)", sum_("Shape", "Circle", "tuple", [{"kind": "scalar", "type": "f64", "value": 1.5}])),
        ("A::B()", sum_("A", "B", "tuple", [])), ("A::B(1, , 2)", sum_("A", "B", "tuple", [v(1), v(2)])),
        ("Point::P(x: 1, y: 2)", sum_("Point", "P", "struct", x=v(1), y=v(2))),
        ("A::B(x: C::D(y: 1))", sum_("A", "B", "struct", x=sum_("C", "D", "struct", y=v(1)))),
        ("[1, [2, 3], ]", seq(v(1), seq(v(2), v(3)))), ("[]", seq()), ("[ ]", seq()), ("[,,]", seq()),
        ("(1, 2)", seq(v(1), v(2))), ("()", seq()), ("( )", seq()), ("((1))", seq(seq(v(1)))),
        ('["a,b", map<a, b>[1 => 2]]', seq(s("a,b"), assoc((v(1), v(2))))),
        ('["[", "]", "a\\"]", (1, 2)]', seq(s("["), s("]"), s('a"]'), seq(v(1), v(2)))),
        ('[<01 02>, b"03"]', seq({"kind": "scalar", "type": "bytes", "value": b"\x01\x02"},
                                  {"kind": "scalar", "type": "bytes", "value": b"\x03"})),
        ('map<str, i64>["a" => 1, "b" => 2]', assoc((s("a"), v(1)), (s("b"), v(2)))),
        ("map<a,b>[]", assoc()), ("map<a,b>[1 => 2, ]", assoc((v(1), v(2)))),
        ("map<a,b>[[1] => [2], x => y]", assoc((seq(v(1)), seq(v(2))), (sym("x"), sym("y")))),
        # An entry ends its key at the first arrow outside brackets and strings.
        ('map<a,b>[map<c,d>[1 => 2] => 3, "x=>y" => T::V(map<e,f>[[1] => 2])]',
         assoc((assoc((v(1), v(2))), v(3)), (s("x=>y"), sum_("T", "V", "tuple", [assoc((seq(v(1)), v(2)))])))),
    ],
)
def test_inline_forms(text, value):
    assert parse(text)["root"] == value
    assert parse(f"let x = {text}")["bindings"][0]["value"] == value


@pytest.mark.parametrize(
    "text, message",
    [
        ("&1x", DATA + "invalid reference name '1x'"), ("&", DATA + "invalid reference name ''"),
        ("Color::", DATA + "missing enum variant"), ("::", DATA + "missing enum variant"),
        ("A::B(1", DATA + "unterminated enum payload"),
        # A colon anywhere makes the payload named, even one of a nested sum or inside a string.
        ("Opt::Some(Color::Red)", DATA + "unable to parse inline expression ':Red'"),
        ('A::B("x:y", 1)', DATA + "invalid field name '\\\"x'"),
        # Names are what the formatter writes back as the same names.
        ("A::B(1 x: 2)", DATA + "invalid field name '1 x'"), ("a b::c", DATA + "invalid enum type name 'a b'"),
        ("1.5::x", DATA + "invalid enum type name '1.5'"), ("A::b::", DATA + "invalid enum variant name 'b::'"),
        ("A::b c", DATA + "invalid enum variant name 'b c'"), ("A::b, c", DATA + "invalid enum variant name 'b, c'"),
        ("A::B(x: 1, )", at(1, "expected separator ':' in ''")), ("A::B(x: 1, 2)", at(1, "expected separator ':' in '2'")),
        ("(1, )", DATA + "empty inline expression"), ("(,)", DATA + "empty inline expression"),
        ("[1, 2", DATA + "unable to parse inline expression '[1, 2'"), ("(1", DATA + "unable to parse inline expression '(1'"),
        ('map<a,b>["a" 1]', at(1, "expected separator '=>' in '\"a\" 1'")),
        ("map<a, b>", DATA + "unable to parse inline expression 'map<a, b>'"),
        # The type text is not examined: the entries start at the first bracket.
        ("map<a, [b]>[1 => 2]", DATA + "unable to parse inline expression 'b]>[1'"),
        ("x: 1", DATA + "unable to parse inline expression 'x: 1'"), ("a b", DATA + "unable to parse inline expression 'a b'"),
        ("{}", DATA + "unable to parse inline expression '{}'"),
    ],
)
def test_inline_errors(text, message):
    assert error(text) == message
    # Errors inside a value carry no line, wherever the value stands.
    assert error(f"\n\nlet x = {text}") == message


# Values built from pieces that contain every splitting character, rendered and read back.
leaves = st.one_of(
    st.integers(-(2**63), 2**63 - 1).map(lambda n: (str(n), v(n))),
    st.text(st.sampled_from('ab,()[]<>"\\ é\n'), max_size=12).map(
        lambda t: ('"' + t.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"', s(t))),
    st.from_regex(r"[a-z_][a-z0-9_]{0,8}", fullmatch=True).filter(
        lambda n: n not in ("true", "false", "null", "unit")).map(lambda n: (n, sym(n))),
)


def containers(children):
    return st.one_of(
        st.lists(children, max_size=6).map(lambda xs: ("[" + ", ".join(t for t, _ in xs) + "]", seq(*[e for _, e in xs]))),
        # A key holds no "=>": the entry is split at the first one.
        st.lists(st.tuples(leaves, children), max_size=4).map(lambda ps: (
            "map<k, v>[" + ", ".join(f"{k} => {x}" for (k, _), (x, _) in ps) + "]",
            assoc(*[(ke, xe) for (_, ke), (_, xe) in ps]))),
        st.lists(children, min_size=1, max_size=4).map(lambda xs: (
            "T::V(" + ", ".join(f"f{i}: {t}" for i, (t, _) in enumerate(xs)) + ")",
            sum_("T", "V", "struct", **{f"f{i}": e for i, (_, e) in enumerate(xs)}))),
    )


@given(st.recursive(leaves, containers, max_leaves=40))
def test_inline_values_read_back(case):
    text, expected = case
    assert parse(f"let x = {text}")["bindings"][0]["value"] == expected


# ------------------------------------------------------------------------------------------------
# Statements, comments and lines


def test_statements():
    doc = parse("""
        @draft
        use std::core
        use   a b
        let x = 1
          let y = 2
        @@@level  3
        let x = "again"
        1
        Color::Red
    """)
    assert doc == {
        "annotations": [note("draft"), note("level", v(3))], "uses": ["std::core", "a b"],
        "bindings": [{"name": "x", "value": v(1)}, {"name": "y", "value": v(2)},
                     {"name": "x", "value": s("again")}],
        "root": sum_("Color", "Red")}
    assert dral.rfc_parse_ctn("") == {"annotations": [], "uses": [], "bindings": [], "root": None}
    assert dral.rfc_parse_ctn("let x = 1")["root"] is None


def test_tab_error_through_format():
    with pytest.raises(dral.DralRfcError, match=r"^Text parse error at line 3, col 1: tabs are not allowed"):
        dral.rfc_format_ctn("let a = 1\nlet b = 2\n\tlet c = 3")


@pytest.mark.parametrize(
    "text, bindings",
    [
        ("let x =\n  42", {"x": v(42)}), ("let a = 1 -- note", {"a": v(1)}), ('let b = "x -- y"', {"b": s("x -- y")}),
        ("--! doc\n  --! more\nlet a = 1", {"a": v(1)}), ("let a = 1\r\nlet b = 2\r\n", {"a": v(1), "b": v(2)}),
        ("\t\n\t-- c\nlet a = 1", {"a": v(1)}), ("let a = [1, --[[ two ]] 3]", {"a": seq(v(1), v(3))}),
        ('let s = "--[["', {"s": s("--[[")}), ('let s = "a" --[[ "]]" ]] ', {"s": s("a")}),
        ("--[[\nlet x = 1\n]]\nlet y = 2", {"y": v(2)}), ("let a = 1 --[[ start\nlet b = 2\n]] let c = 3", {"a": v(1), "c": v(3)}),
        # A closer ends the comment even inside quotes on a later line.
        ('--[[\n"]]let y = 2', {"y": v(2)}),
        # Block comments are removed before line comments are looked for.
        ("let a = 1 -- x --[[\nlet b = 2\n]]\nlet c = 3", {"a": v(1), "c": v(3)}),
        ("--! note --[[\nlet b = 2\n]]let c = 3", {"c": v(3)}),
        # The joined line is scanned again, so an opener may straddle the join.
        ("let x = [1, ---[[ a ]]-[[ b ]] 2]", {"x": seq(v(1), v(2))}),
        ("let x = [1, --[--[[ a ]][ b ]] 2]", {"x": seq(v(1), v(2))}),
        ("let x = [1,--[[a]]--[[b]] 2]", {"x": seq(v(1), v(2))}),
        *[(f"let {name} = 1", {name: v(1)}) for name in ["a", "_", "_a1", "A_b_2", "x" * 300]],
    ],
)
def test_comments_and_lines(text, bindings):
    doc = dral.rfc_parse_ctn(text)
    assert {b["name"]: b["value"] for b in doc["bindings"]} == bindings


# ------------------------------------------------------------------------------------------------
# Block forms


def test_struct_enum_map_and_sequence_blocks():
    doc = parse("""
        let p = Point
          x = 1
          y = "two"
          x = 3
        let q = struct
          inner = Inner
            a = 1
          list =
            [1, 2]
          shape = Shape::Circle
            r = 1
          events = stream<g>
        let s = stream<e>
        let e = ::Circle
          r = 1
        let m = map<str, i64>
          "a" => 1
          [k] =>
            seq<x>
              1
          "s" => S
            f = 1
        let l = seq<i64>
          1
          Point
            x = 1
          seq<>
            2
    """)
    got = {b["name"]: b["value"] for b in doc["bindings"]}
    assert got["p"] == {"kind": "product", "type_name": "Point", "fields": fields(x=v(1), y=s("two")) + fields(x=v(3))}
    assert got["q"] == product(None, inner=product("Inner", a=v(1)), list=seq(v(1), v(2)),
                               shape=sum_("Shape", "Circle", "struct", r=v(1)), events=stream("g"))
    assert got["e"] == sum_(None, "Circle", "struct", r=v(1))
    assert got["m"] == assoc((s("a"), v(1)), (seq(sym("k")), seq(v(1), elem_type="x")), (s("s"), product("S", f=v(1))))
    assert got["l"] == seq(v(1), product("Point", x=v(1)), seq(v(2), elem_type=""), elem_type="i64")
    assert got["s"] == stream("e")  # a stream header alone is a value wherever one may stand


@pytest.mark.parametrize(
    "text, value",
    [
        # Headers without a body are inline; nested lines after an inline value are statements.
        ("Point", sym("Point")), ("Color::Red", sum_("Color", "Red")), ("struct", sym("struct")),
        ("let x = 1\n  2", v(2)), ("1\n2", v(2)), ("a --[[ c\nd\ne ]] b", sym("b")),
        ("  \tb", sym("b")),  # a tab after spaces is only white space
        ('stream<event>\n  @source "x"\n    @@rate 10\n  @flag',
         stream("event", note("source", s("x")), note("rate", v(10)), note("flag"))),
        ("stream<event>", stream("event")), ("stream<>", stream("")), ("stream<", stream("any")),
        ("tensor<f32>[2, _]\n  [1, 2]\n  [3, 4]", tensor("f32", [2, None], [1.0, 2.0, 3.0, 4.0])),
        ("vec<i32>[2]\n  1\n  2", tensor("i32", [2], [1.0, 2.0])),
        ("mat<f64>[2, 2]\n  [[1, 2], [3, [4]]]", tensor("f64", [2, 2], [1.0, 2.0, 3.0, 4.0])),
        ("tensor<>[]\n  []", tensor("", [], [])), ("tensor<\n  [1]", tensor("f32", [], [1.0])),
        ("tensor<f32>[ 0x10 , 1_0, 3u8, 4vi32, _ ]\n  [1]", tensor("f32", [16, 10, 3, 4, None], [1.0])),
        (f"tensor<f32>[{2**63 - 1}u64]\n  [1]", tensor("f32", [2**63 - 1], [1.0])),
        # Indentation of data lines is not compared; numbers of every type become f64.
        ("tensor<f32>\n  [1u8, -2i64, 1.5f32, 1e400]\n      [+5, .5, 5., -0.0]\n  7",
         tensor("f32", [], [1.0, -2.0, 1.5, float("inf"), 5.0, 0.5, 5.0, -0.0, 7.0])),
        ('tensor<f32>[2]\n  @unit "m"\n  [1, 2]\n  @@scale 2', tensor("f32", [2], [1.0, 2.0], annotations=[
            note("unit", s("m")), note("scale", v(2))])),
        ("tensor<u8>\n  <binary: 16 bytes>", tensor("u8", [], blob=bytes(16))),
        ("tensor<u8>\n  [1]\n  <binary:+2 bytes>\n  <binary:3bytes>", tensor("u8", [], blob=bytes(3))),
        ("tensor<u8>\n  <binary:\u3000 0 bytes >", tensor("u8", [], blob=b"")),
    ],
)
def test_roots(text, value):
    assert dral.rfc_parse_ctn(text)["root"] == value


@pytest.mark.parametrize(
    "text, message",
    [
        ("let x 1", at(1, "expected separator '=' in 'x 1'")),
        *[(f"let {name} = 1", at(1, f"invalid binding name '{name}'"))
          for name in ["1x", "1a", "é", "a-b", "a::b", "a b"]],
        ("let = 2", at(1, "invalid binding name ''")), ("a\nlet x =", at(2, "expected value after '='")),
        ("let x =\nfoo", at(1, "expected indented value after '='")),
        ("@", DATA + "annotation name missing"), ("@ @", DATA + "invalid annotation name '@'"),
        ("@1x", DATA + "invalid annotation name '1x'"), ("@a [1]", DATA + "annotation values must be scalar"),
        ("@a b c", DATA + "unable to parse inline expression 'b c'"),
        ("let x = 1\n\n-- c\n\n\tlet y = 2", at(5, TABS)), ("let x =\n\t1", at(2, TABS)),
        ("let x = 1\r\n\tlet y = 2", at(2, TABS)), ("a --[[\n\n]] b\n\tc", at(4, TABS)),
        ("Point\n  x = 1\n   y = 2", at(3, "inconsistent indentation in struct fields")),
        ("Point\n    x = 1\n  y = 2", at(3, "inconsistent indentation in struct fields")),
        ("Point\n  x = 1\n  y 2", at(3, "expected separator '=' in 'y 2'")),
        ("Point\n  1x = 1", at(2, "invalid field name '1x'")), ("Point\n  a =", at(2, "expected value after '='")),
        ("Point\n  a =\n  b = 1", at(2, "expected indented value after '='")),
        ("P\n  a = Q\n    b = 1\n   c = 2", at(4, "inconsistent indentation in struct fields")),
        ("Shape::\n  r = 1", at(1, "missing enum variant name")), ("S::C\n  1 = 2", at(2, "invalid payload field '1'")),
        ("S::C\n  a = 1\n b = 2", at(3, "inconsistent indentation in enum payload")),
        ("map<a,b>\n  1 2", at(2, "expected separator '=>' in '1 2'")),
        ("map<a,b>\n  1 => 2\n    3 => 4", at(3, "inconsistent indentation in map")),
        ("seq<i64>\n  1\n   2", at(3, "inconsistent indentation in sequence")),
        ("seq<i64>", DATA + "unable to parse inline expression 'seq<i64>'"),
        ("stream<event>\n  @a 1\n  1", at(3, "stream body currently supports annotations only")),
        ("P\n  a = [1,\n  b = 2", DATA + "unable to parse inline expression '[1,'"),
        # Bodies that head no block are statements: a sum with a payload, a line without '='.
        ("A::B(1)\n  x = 1", DATA + "unable to parse inline expression 'x = 1'"),
        ("Point\n  x 1", DATA + "unable to parse inline expression 'x 1'"),
        # Tensors
        *[(text, DATA + message) for text, message in [
            *[(f"tensor<f32>{dims}\n  [1]", "unterminated tensor shape") for dims in ["[2", "]x["]],
            *[(f"tensor<f32>[{d}]\n  [1]", "invalid tensor dimension")
              for d in ["x", "2, ", " ", "true"]],
            *[(f"tensor<f32>[{d}]\n  [1]", "tensor dimensions must be integers")
              for d in ["1.5", f"{2**63}u64", "2dec64", "2f32"]],
            ("tensor<f32>[-1]\n  [1]", "tensor dimensions cannot be negative"),
            ("tensor<f32>[-1u8]\n  [1]", "unsigned literal cannot be negative: -1u8"),
            *[(f"tensor<f32>\n  {line}", "tensor literal contains non-numeric scalar")
              for line in ['[1, "a"]', "[1, [true]]", "<binary: 1 bytes>\n  x"]],
            ("tensor<f32>\n  [1, A::B]", "tensor literal must contain only numeric sequences"),
            ("tensor<f32>\n  [1 2]", "unable to parse inline expression '1 2'"),
            ("tensor<f32>\n  [1.5.5]", "invalid float literal '1.5.5'"),
            *[(f"tensor<u8>\n  <binary: {n} bytes>",
               "space-separated hex bytes must be two hex digits each") for n in ["x", 2**64]],
        ]],
    ],
)
def test_statement_block_and_tensor_errors(text, message):
    assert error(text) == message


# ------------------------------------------------------------------------------------------------
# Tensors


number_like = st.text(st.sampled_from("0123456789.eE+-_ "), min_size=1, max_size=8).filter(lambda t: "--" not in t)


@given(st.lists(number_like, max_size=5), st.booleans())
def test_tensor_lines_read_as_their_inline_values(tokens, bracketed):
    # Number lines are read without building a value; results and errors are the inline ones.
    line = "[" + ", ".join(tokens) + "]" if bracketed else " ".join(tokens).strip() or "0"
    tensor_text = f"tensor<f32>\n  {line}"
    try:
        value = parse(f"let x = {line}")["bindings"][0]["value"]
    except dral.DralRfcError as e:
        assert error(tensor_text) == str(e)
        return
    items = value["items"] if value["kind"] == "sequence" else [value]
    if all(item["type"] in ("vi64", "f64") for item in items):
        assert parse(tensor_text)["root"]["data"]["values"] == [float(i["value"]) for i in items]
    else:
        assert error(tensor_text) == DATA + "tensor literal contains non-numeric scalar"


def test_binary_placeholders_count_against_the_memory_limit():
    limit = 256 << 20
    placeholder = "tensor<u8>\n  <binary: {:09d} bytes>"
    # Counted before the zero bytes: the text, its two lines (64 bytes each), the tensor (320).
    room = limit - len(placeholder.format(0)) - 2 * 64 - 320
    assert dral.rfc_parse_ctn_model(placeholder.format(room)).root.kind == "tensor"
    assert error(placeholder.format(room + 1)) == (
        f"Memory limit exceeded: requested {limit + 1} bytes, limit {limit}")
    assert error(f"tensor<u8>\n  <binary: {2**64 - 1} bytes>").startswith("Memory limit exceeded")


# ------------------------------------------------------------------------------------------------
# Nesting


INLINE = {"brackets": ("[", "]"), "parens": ("(", ")"), "refs": ("ref ", ""),
          "maps": ("map<a,b>[1 => ", "]"), "sums": ("A::B(x: ", ")")}
BLOCKS = {"seq blocks": ("seq<a>", "seq<a>", "1"), "structs": ("S", "a = S", "a = 1"),
          "enums": ("E::V", "a = E::V", "a = 1"),
          "map blocks": ("map<a,b>", "1 => map<a,b>", "1 => 1")}
KINDS = [*INLINE, *BLOCKS, "tensor data"]


def nested(kind, depth):
    """A document whose innermost value is at nesting level `depth`."""
    n = depth - 1
    if kind in INLINE:
        return INLINE[kind][0] * n + "1" + INLINE[kind][1] * n
    if kind in BLOCKS:
        first, then, last = BLOCKS[kind]
        return "".join(" " * i + (then if i else first) + "\n" for i in range(n)) + " " * n + last
    return "tensor<f32>\n  " + "[" * (n - 1) + "1" + "]" * (n - 1)


def depth_of(value):
    """The nesting level of the deepest value inside `value`, which is at level 1."""
    deepest, todo = 0, [(value, 0)]
    while todo:
        node, depth = todo.pop()
        if isinstance(node, dict):  # values have a kind, sum payloads one of their own
            depth += node.get("kind") not in (None, "unit", "tuple", "struct")
            todo += [(child, depth) for child in node.values()]
        elif isinstance(node, list):
            todo += [(child, depth) for child in node]
        deepest = max(deepest, depth)
    return deepest


# Brackets are counted sixteen bytes at a time where a block holds no comma that could split: a
# block of sixteen openers, at any offset, counts sixteen levels.
@pytest.mark.parametrize("depth", range(14, 36))
def test_commas_inside_long_runs_of_brackets_stay_inside(depth):
    inner = seq(v(1), v(2))
    for _ in range(depth - 1):
        inner = seq(inner)
    for lead in range(3):
        value = seq(inner, v(3))
        for _ in range(lead):
            value = seq(value)
        text = "let x = " + "[" * (lead + 1 + depth) + "1, 2" + "]" * depth + ", 3" + "]" * (lead + 1)
        assert dral.rfc_parse_ctn(text)["bindings"] == [{"name": "x", "value": value}], lead


@pytest.mark.parametrize("kind", KINDS)
def test_nesting_up_to_the_limit(kind):
    value = dral.rfc_parse_ctn(nested(kind, 512))["root"]
    assert value["data"]["values"] == [1.0] if kind == "tensor data" else depth_of(value) == 512
    # Far deeper inline input fails at the same point, without exhausting the stack.
    for depth in [513, 100_000] if kind in INLINE else [513]:
        with pytest.raises(dral.DralRfcError, match="^Nesting depth 513 exceeds maximum 512$"):
            dral.rfc_parse_ctn(nested(kind, depth))


def test_annotations_are_read_at_their_owners_level():
    inside = "".join(" " * i + "seq<a>\n" for i in range(511)) + " " * 511
    owner = dral.rfc_parse_ctn(inside + "stream<x>\n" + " " * 512 + "@a 1")["root"]
    for _ in range(511):
        owner = owner["items"][0]
    assert owner["annotations"] == [note("a", v(1))]
    # Data lines, like items, are one level deeper than their tensor.
    assert error(inside + "tensor<f32>\n" + " " * 512 + "1") == "Nesting depth 513 exceeds maximum 512"


def test_nesting_at_the_limit_fits_a_small_thread_stack():
    # In a forked child: a stack overflow must not take the test run with it.
    def parse_all():
        done = []
        threading.stack_size(SMALL_STACK_SIZE)
        thread = threading.Thread(target=lambda: done.extend(
            kind for kind in KINDS if dral.rfc_parse_ctn(nested(kind, 512))["root"]))
        thread.start()
        thread.join()
        return done

    assert run_isolated(parse_all, cpu_seconds=10, wall_seconds=120) == ("returned", KINDS)
