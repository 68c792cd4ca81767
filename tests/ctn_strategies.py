"""Hypothesis strategies that write CTN documents, in every literal form and block form.

A value is drawn as a `Form`: its one-line text when it has one, else a header line with body
lines below it (indented relative to the header). The documents stay within what the notation
reads back after formatting: sums carry a type name, map keys are scalars, by-id references and
tuple payloads hold only values with a one-line form, and names avoid the statement keywords.
"""

from dataclasses import dataclass, field

from hypothesis import strategies as st

import base64
import re
import string

RESERVED = {"true", "false", "null", "unit", "ref", "let", "use", "struct", "map", "seq", "vec",
            "tensor", "mat", "stream", "b", "b64", "NaN", "Inf"}


def _is_name(name: str) -> bool:
    # Suffixes such as "i8" or "f32" read as (empty) numbers, not as names.
    return name not in RESERVED and not re.fullmatch(r"(dec|bf|f|vi|vu|i|u)[0-9]+", name)


_FIRST = string.ascii_letters + "_"
NAMES = (st.sampled_from(["a", "b2", "x", "name", "Point", "Color", "_t", "value", "items"])
         | st.builds(str.__add__, st.sampled_from(_FIRST),
                     st.text(_FIRST + string.digits, max_size=7))).filter(_is_name)
TYPE_NAMES = NAMES.map(lambda n: n[0].upper() + n[1:]).filter(_is_name)


@dataclass
class Form:
    """A value as CTN: `inline` text, or a `header` with `body` lines (relative indent)."""

    inline: str | None = None
    header: str | None = None
    body: list[str] = field(default_factory=list)

    def lines(self, indent: int) -> list[str]:
        """The value's lines when its first line starts at column `indent` (first not padded)."""
        if self.inline is not None:
            return [self.inline]
        pad = " " * (indent + 2)
        return [self.header] + [pad + line for line in self.body]


_ESCAPES = {"\\": "\\\\", '"': '\\"', "\n": "\\n", "\t": "\\t", "\r": "\\r", "\b": "\\b", "\f": "\\f"}


def _escape(text: str, draw) -> str:
    return "".join(_ESCAPES[ch] if ch in _ESCAPES else "\\u{%x}" % ord(ch) if draw(st.integers(0, 9)) == 0 else ch
                   for ch in text)


# Map keys are split from their value at the first "=>", so key texts must not hold one.
STRING_TEXT = st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\x00"),
                      max_size=10)


@st.composite
def quoted_strings(draw, text=STRING_TEXT):
    return '"' + _escape(draw(text), draw) + '"'


def _int_forms(value: int, draw) -> str:
    if value >= 0 and draw(st.booleans()):
        return draw(st.sampled_from([hex(value), bin(value), "0o%o" % value]))
    text = str(value)
    if draw(st.integers(0, 5)) == 0 and len(text.lstrip("-")) > 1:
        cut = draw(st.integers(1, len(text) - 1))
        if text[cut - 1] != "-":
            text = text[:cut] + "_" + text[cut:]
    return text


@st.composite
def integer_literals(draw):
    kind = draw(st.sampled_from(["plain", "signed", "unsigned", "vu"]))
    if kind in ("plain", "signed"):
        value = draw(st.integers(-(2**63), 2**63 - 1))
        suffix = "" if kind == "plain" else draw(st.sampled_from(["i64", "i8", "i32", "vi64", "vi32"]))
    else:
        value = draw(st.integers(0, 2**64 - 1))
        suffix = draw(st.sampled_from(["u64", "u8", "u32"])) if kind == "unsigned" else "vu64"
    return _int_forms(value, draw) + suffix


@st.composite
def float_literals(draw):
    suffix = draw(st.sampled_from(["", "f64", "f32"]))
    value = draw(st.floats(allow_nan=False, allow_infinity=False, width=32 if suffix == "f32" else 64))
    text = repr(float(value))
    if draw(st.integers(0, 9)) == 0:
        text = draw(st.sampled_from(["NaN", "Inf", "-Inf", "+Inf"]))
        suffix = suffix or "f64"
    elif "." not in text and "e" not in text and not suffix:
        text += ".0"
    return text + suffix


@st.composite
def scalar_literals(draw, key=False):
    kinds = ["int", "float", "str", "keyword", "sym", "bytes", "tagged", "decimal"]
    if not key:
        kinds += ["triple"]
    kind = draw(st.sampled_from(kinds))
    if kind == "int":
        return draw(integer_literals())
    if kind == "float":
        return draw(float_literals())
    if kind == "str":
        return draw(quoted_strings())
    if kind == "triple":
        # Comment detection tracks quotes and backslashes, so the body holds neither.
        body = draw(st.text(st.characters(blacklist_categories=("Cs",),
                                          blacklist_characters='"\\\n\r\x00'), max_size=8))
        return '"""' + body + '"""'
    if kind == "keyword":
        return draw(st.sampled_from(["true", "false", "null", "unit"]))
    if kind == "sym":
        name = draw(NAMES)
        return name if draw(st.booleans()) else "'" + name
    if kind == "bytes":
        data = draw(st.binary(max_size=8))
        form = draw(st.sampled_from(["hex", "b64", "spaced"]))
        if form == "hex":
            return 'b"' + data.hex() + '"'
        if form == "spaced":
            return "<" + " ".join("%02x" % b for b in data) + ">"
        return 'b64"' + base64.b64encode(data).decode() + '"'
    if kind == "tagged":
        return draw(NAMES) + draw(quoted_strings())
    digits = f"{draw(st.integers(-9999, 9999))}.{draw(st.integers(0, 999)):0{draw(st.integers(1, 3))}d}"
    return digits + draw(st.sampled_from(["dec32", "dec64", "dec128", "i64"]))


def scalars(key=False):
    literals = scalar_literals(key)
    if key:
        # A map entry is split at its first "=>", wherever it stands.
        literals = literals.filter(lambda text: "=>" not in text)
    return literals.map(lambda text: Form(inline=text))


def _inline_only(forms):
    return forms.filter(lambda form: form.inline is not None)


def _join(draw, items):
    text = ", ".join(items)
    if items and draw(st.integers(0, 4)) == 0:
        text += ", "
    return text


@st.composite
def _one_line(draw):
    """A value the writer also puts on one line: a scalar, a short flat sequence, a reference."""
    kind = draw(st.sampled_from(["scalar", "sequence", "reference"]))
    if kind == "scalar":
        return draw(scalars())
    if kind == "sequence":
        items = draw(st.lists(scalars(), max_size=8))
        return Form(inline="[" + ", ".join(item.inline for item in items) + "]")
    return Form(inline="&" + draw(NAMES))


# By-id references and tuple payloads are written with their values in place, so those values
# must fit on one line.
ONE_LINE = _one_line()


def composites(children):
    """One level of composite values over `children` (forms)."""
    inline_children = _inline_only(children)

    @st.composite
    def inline_sequence(draw):
        items = draw(st.lists(inline_children, max_size=5))
        if draw(st.booleans()):
            return Form(inline="[" + _join(draw, [i.inline for i in items]) + "]")
        return Form(inline="(" + ", ".join(i.inline for i in items) + ")")

    @st.composite
    def inline_map(draw):
        pairs = draw(st.lists(st.tuples(scalars(key=True), inline_children), max_size=4))
        entries = ", ".join(f"{k.inline} => {v.inline}" for k, v in pairs)
        return Form(inline=f"map<{draw(NAMES)}, {draw(NAMES)}>[{entries}]")

    @st.composite
    def inline_sum(draw):
        head = draw(TYPE_NAMES) + "::" + draw(TYPE_NAMES)
        shape = draw(st.sampled_from(["unit", "tuple", "struct"]))
        if shape == "unit":
            return Form(inline=head)
        # A colon anywhere in the payload makes it a struct payload.
        items = draw(st.lists(ONE_LINE.filter(lambda form: ":" not in form.inline), max_size=3))
        if shape == "tuple" or not items:
            return Form(inline=head + "(" + ", ".join(i.inline for i in items) + ")")
        names = draw(st.lists(NAMES, min_size=len(items), max_size=len(items)))
        fields = ", ".join(f"{n}: {i.inline}" for n, i in zip(names, items))
        return Form(inline=head + "(" + fields + ")")

    @st.composite
    def reference(draw):
        if draw(st.booleans()):
            return Form(inline="&" + draw(NAMES))
        return Form(inline="ref " + draw(ONE_LINE).inline)

    @st.composite
    def entries(draw, separator, keys):
        body = []
        for _ in range(draw(st.integers(1, 4))):
            key = draw(keys)
            value = draw(children)
            lines = value.lines(0)
            body.append(f"{key}{separator}{lines[0]}")
            body.extend(lines[1:])
        return body

    @st.composite
    def struct_block(draw):
        header = draw(st.sampled_from(["struct"]) | TYPE_NAMES)
        return Form(header=header, body=draw(entries(" = ", NAMES)))

    @st.composite
    def enum_block(draw):
        header = draw(TYPE_NAMES) + "::" + draw(TYPE_NAMES)
        return Form(header=header, body=draw(entries(" = ", NAMES)))

    @st.composite
    def map_block(draw):
        keys = scalars(key=True).map(lambda form: form.inline)
        return Form(header=f"map<{draw(NAMES)}, any>", body=draw(entries(" => ", keys)))

    @st.composite
    def sequence_block(draw):
        body = []
        for item in draw(st.lists(children, min_size=1, max_size=10)):
            body.extend(item.lines(0))
        return Form(header="seq<" + draw(NAMES | st.just("")) + ">", body=body)

    @st.composite
    def tensor_block(draw):
        dims = draw(st.lists(st.integers(0, 9).map(str) | st.just("_"), max_size=3))
        shape = "[" + ", ".join(dims) + "]" if dims or draw(st.booleans()) else ""
        head = draw(st.sampled_from(["tensor", "vec", "mat"])) + "<" + draw(
            st.sampled_from(["f32", "f64", "i64", "u64", "i32"])) + ">" + shape
        body = []
        for _ in range(draw(st.integers(0, 2))):
            body.append("@" + draw(NAMES) + (" " + draw(scalar_literals(key=True))
                                            if draw(st.booleans()) else ""))
        if draw(st.integers(0, 4)) == 0:
            body.append(f"<binary: {draw(st.integers(0, 40))} bytes>")
        else:
            numbers = st.integers(-1000, 1000).map(str) | st.floats(-1e6, 1e6).map(repr)
            for _ in range(draw(st.integers(1, 2))):
                row = draw(st.lists(numbers, max_size=4))
                body.append("[" + ", ".join(row) + "]")
        return Form(header=head, body=body)

    @st.composite
    def stream_block(draw):
        body = ["@" + draw(NAMES) + " " + draw(scalar_literals(key=True))
                for _ in range(draw(st.integers(0, 3)))]
        return Form(header="stream<" + draw(NAMES) + ">", body=body)

    return (inline_sequence() | inline_map() | inline_sum() | reference() | struct_block()
            | enum_block() | map_block() | sequence_block() | tensor_block() | stream_block())


VALUES = st.recursive(scalars(), composites, max_leaves=12)


@st.composite
def documents(draw, values=VALUES):
    """CTN text: annotations, uses, bindings and an optional root, with comments here and there."""
    lines = []
    for _ in range(draw(st.integers(0, 2))):
        value = " " + draw(scalar_literals(key=True)) if draw(st.booleans()) else ""
        lines.append("@" + draw(NAMES) + value)
    for _ in range(draw(st.integers(0, 2))):
        lines.append("use " + draw(NAMES) + "::" + draw(NAMES))
    for _ in range(draw(st.integers(0, 4))):
        value_lines = draw(values).lines(0)
        lines.append(f"let {draw(NAMES)} = {value_lines[0]}")
        lines.extend(value_lines[1:])
    if draw(st.booleans()):
        lines.extend(draw(values).lines(0))
    commented = []
    for line in lines:
        if draw(st.integers(0, 9)) == 0:
            commented.append("-- a comment")
        commented.append(line + (" -- note" if draw(st.integers(0, 9)) == 0 else ""))
    return "\n".join(commented)
