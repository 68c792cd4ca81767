"""What the typed document functions count against their memory limit of 256 MiB, pinned at the limit:
a call passes with the largest input its count allows and fails with one byte more. The counts
are the README's: the text or body read once, 64 bytes a line, 320 a value, compiled bytes and
written text twice. Each call runs in a child process, which holds its large texts."""

import pytest

import dral
from cbf_bytes import NULL, cbf, seg
from helpers import varint
from isolated import run_isolated

LIMIT = 256 << 20
LINE, NODE = 64, 320
FILE = 32 + 12 + 8  # header, a long segment header (the texts are over 16 MiB), trailer


def quoted(n: int) -> str:
    return '"' + "x" * n + '"'


def nulls(k: int) -> bytes:
    """A compiled sequence of `k` nulls, written by hand (inline layout, four bytes a null) so
    that the test does not depend on the compiler's own count."""
    return cbf(seg(0x60, b"\x00" + varint(k) + NULL * k))


def nulls_body(k: int) -> int:
    return len(nulls(0)) - 40 + len(varint(k)) - 1 + 4 * k


# name, the call, the input of size n, what the call counts for it
CASES = [
    ("rfc_parse_ctn_model", dral.rfc_parse_ctn_model, quoted, lambda n: (n + 2) + LINE + NODE),
    ("rfc_format_ctn", dral.rfc_format_ctn, quoted, lambda n: (n + 2) + LINE + NODE + 2 * (n + 2)),
    ("rfc_compile_ctn", dral.rfc_compile_ctn, quoted, lambda n: (n + 2) + LINE + NODE + 2 * (n + FILE)),
    # A value more is 324 bytes more: the null's four, and its node.
    ("rfc_decode_cbf_model", dral.rfc_decode_cbf_model, nulls, lambda k: nulls_body(k) + (k + 1) * NODE),
    ("rfc_cbf_to_ctn", dral.rfc_cbf_to_ctn, nulls,
     lambda k: nulls_body(k) + (k + 1) * NODE + 2 * len("seq<any>" + "\n  null" * k)),
]


def largest_within(count) -> int:
    """The largest n whose count stays within the limit (the counts grow with n)."""
    low, high = 0, LIMIT
    while low < high:
        middle = (low + high + 1) // 2
        low, high = (middle, high) if count(middle) <= LIMIT else (low, middle - 1)
    return low


@pytest.mark.parametrize("call, build, count", [pytest.param(c, b, n, id=name) for name, c, b, n in CASES])
def test_a_call_takes_what_its_count_allows_and_no_byte_more(call, build, count):
    n = largest_within(count)
    for size, fits in ((n, True), (n + 1, False)):
        data = build(size)
        outcome = run_isolated(lambda: call(data) is not None, cpu_seconds=3)
        del data
        if fits:
            assert outcome == ("returned", True)
        else:
            assert outcome[:2] == ("raised", "DralRfcError")
            assert outcome[2].startswith("Memory limit exceeded: requested ")
            assert outcome[2].endswith(f" bytes, limit {LIMIT}")


def test_a_query_over_ctn_counts_every_stage_under_one_limit():
    # Compiling alone counts the text about three times, the query five: the text, the file
    # twice, the body it decodes and the str of its result.
    text = quoted(LIMIT // 4)
    assert run_isolated(lambda: dral.rfc_compile_ctn(text) is not None) == ("returned", True)
    outcome = run_isolated(lambda: dral.rfc_query_ctn(text, "."))
    assert outcome[:2] == ("raised", "DralRfcError") and outcome[2].startswith("Memory limit exceeded")
