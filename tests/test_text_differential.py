"""parse_text, which builds Python objects directly, against the Value-tree path
(parse_text_value(...).as_python()): both must agree on every text, valid or not — the same value,
or the same exception type and message.
"""

from hypothesis import example, given
from hypothesis import strategies as st

import dral
from helpers import same
from strategies import WITH_NAN


def outcome(function, text):
    try:
        return ("value", function(text))
    except Exception as error:  # noqa: BLE001 - any difference counts
        return ("error", type(error), str(error))


def through_value_tree(text):
    return dral.parse_text_value(text).as_python()


def assert_paths_agree(text):
    direct = outcome(dral.parse_text, text)
    reference = outcome(through_value_tree, text)
    if direct[0] == "value" and reference[0] == "value":
        assert same(direct[1], reference[1])
    else:
        assert direct == reference


# The notation's punctuation, keywords, escapes, comments and non-ASCII blanks and letters, so
# that random edits hit every branch of the reader.
PIECES = st.sampled_from(
    ["{", "}", "[", "]", ";", ":", ",", '"', "\\", "\\n", "\\q", "/*", "*/", "//", "::x", "\n", " ",
     "\t", "\u3000", "\u2028", "é", "\U0001f600", "a", "_", "1", "-", "+", ".", "e", "E", "null",
     "true", "NaN", "inf", "-inf", "b64#", "AQ==", "=", "\x00", "99999999999999999999"]
)


@st.composite
def mutated_texts(draw):
    text = dral.pretty_print(draw(WITH_NAN), indent=draw(st.integers(0, 3)))
    for _ in range(draw(st.integers(1, 4))):
        op = draw(st.sampled_from(["insert", "delete", "replace", "truncate"]))
        pos = draw(st.integers(0, len(text)))
        if op == "insert":
            text = text[:pos] + draw(PIECES) + text[pos:]
        elif op == "delete":
            text = text[:pos] + text[pos + draw(st.integers(1, 3)):]
        elif op == "replace":
            text = text[:pos] + draw(PIECES) + text[pos + 1:]
        else:
            text = text[:pos]
    return text


GARBAGE = st.lists(PIECES, max_size=16).map("".join) | st.text(max_size=24)


@given(WITH_NAN, st.integers(0, 4))
def test_valid_texts_read_the_same(value, indent):
    assert_paths_agree(dral.pretty_print(value, indent=indent))


@given(mutated_texts())
@example('{a: "x\\qy"; "b\\"": [1 2; 3,];}')
@example("{é: 1; _é2: [NaN::f]; a\u00e9b: b64#AQ==;}")
@example("[" * 4097)
@example("[" * 200 + "]" * 200)
@example('{"k": 1}')
def test_mutated_texts_fail_or_read_the_same(text):
    assert_paths_agree(text)


@given(GARBAGE)
def test_garbage_fails_or_reads_the_same(text):
    assert_paths_agree(text)
