"""Threads: many at once give the results of one (models shared between them included), and every
entry point works up to its nesting limit in a thread with a small stack, in a child process."""

import dataclasses
import io
import sys
import threading
import time

import pytest

import dral
from cbf_bytes import cbf, i64, seq
from helpers import data_stream, nested_arrays, nested_list
from isolated import SMALL_STACK_SIZE, run_isolated

SHARED = [
    {"name": "x", "tags": ["a", "b", "a"], "n": -1, "f": 2.5, "none": None, "yes": True, "raw": b"\x00\xff"},
    [{"user": f"u{i % 7}", "text": "é" * (i % 5), "id": i, "ratio": i / 3} for i in range(300)],
    {"big": ["payload %d" % (i % 1000) for i in range(90_000)]},  # over 1 MiB encoded
]


class SlowIO(io.BytesIO):
    """A file whose calls let other threads run in the middle of dump and load."""

    def write(self, data):
        time.sleep(0)
        return super().write(data)

    def read(self, *args):
        time.sleep(0)
        return super().read(*args)


def everything(obj, path):
    encoder = dral.Encoder(sort_keys=True)
    encoder.enable_dedup()
    encoder.encode(obj)
    encoder.encode([obj])
    stream = encoder.finish()
    out = SlowIO()
    dral.dump(obj, out, dedup=True)
    to_file = dral.Encoder()
    to_file.encode(obj)
    to_file.finish_to_file(path)
    packed = [dral.dumps(obj, compression=name, dedup=True) for name in ("zstd", "lz4", "snappy")]
    return [*packed, *map(dral.loads, packed), dral.dumps(obj), dral.dumps(obj, dedup=True, sort_keys=True),
            dral.loads(dral.dumps(obj, dedup=True)), dral.parse_text(dral.pretty_print(obj)),
            stream, dral.DralDecoder(stream).decode_all(), dral.load(SlowIO(out.getvalue())),
            dral.decode_from_file(path)]


def in_eight_threads(work):
    """What `work(n)` returned in each of 8 threads started together, twice each, with the
    interpreter switching threads as often as it can."""
    start = threading.Barrier(8)
    results = {}

    def worker(n):
        start.wait()
        results[n] = [work(n) for _ in range(2)]

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        threads = [threading.Thread(target=worker, args=(n,)) for n in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert sorted(results) == list(range(8))
    return [round for rounds in results.values() for round in rounds]


DOCUMENTS = [
    "@draft\nuse std\nlet base = [1, 2.5, \"x\", 'sym, b64\"AQID\", date\"2024-01-01\"]\n\nstruct\n"
    "  items = seq<Item>\n    Item\n      name = \"a\"\n    Item\n      name = \"b\"\n      id = 2u64\n"
    "  pairs = map<str, any>[\"x\" => 1, 'x => &base]\n  shape = Shape::Circle(radius: 1.5)\n"
    "  point = Point::P(1, 2)\n  grid = tensor<f64>[2, 2]\n    @layout \"row\"\n    [1, 2]\n    [3, 4]\n"
    "  events = stream<event>\n    @rate 10\n  copy = &base\n  boxed = ref [1, [2]]",
    "seq<Item>\n" + "".join(f"  Item\n    name = \"n{i % 13}\"\n    id = {i}\n" for i in range(3000)),
]
QUERIES = [".", ".items[]", ".items[-1].name", ".pairs.x", ".grid", ".missing[0]", ".[]", ".[-1].name", ".[].id"]
SHARED_MODELS = [dral.rfc_parse_ctn_model(text) for text in DOCUMENTS]  # the same objects in every thread


def message_of(call):
    try:
        call()
    except dral.DralRfcError as error:
        return str(error)
    return "no error"


def every_document_call(text, model):
    data = dral.rfc_compile_ctn(text)
    decoded = dral.rfc_decode_cbf_model(data)
    results = [
        dral.rfc_parse_ctn(text), dral.rfc_format_ctn(text), data, dral.rfc_decode_cbf(data),
        dral.rfc_parse_ctn_model(text).to_dict(), dral.rfc_compile_ctn(text, alignment=8),
        dral.rfc_cbf_to_ctn(data), decoded.to_dict(),
        [value.to_dict() for value in decoded.document.effective_root().values()],
        model.to_dict(), model.effective_root().to_ctn(),
        message_of(lambda: dral.rfc_decode_cbf(data[:-1])),
        message_of(lambda: dral.rfc_parse_ctn(text + "\n\tx")),
    ]
    for query in QUERIES:
        results += [dral.rfc_query_cbf(data, query), dral.rfc_query_ctn(text, query, as_ctn=True),
                    [value.to_dict() for value in dral.rfc_query_cbf_model(data, query)],
                    [value.to_ctn() for value in dral.rfc_query_ctn_model(text, query)]]
    return results


def binary_calls(path):
    return [everything(obj, path) for obj in SHARED]


def document_calls(_):
    return [every_document_call(text, model) for text, model in zip(DOCUMENTS, SHARED_MODELS)]


@pytest.mark.parametrize("work", [binary_calls, document_calls], ids=["binary", "documents"])
def test_eight_threads_give_the_results_of_one(tmp_path, work):
    expected = work(tmp_path / "one.dral")
    rounds = in_eight_threads(lambda n: work(tmp_path / f"{n}.dral"))
    assert all(round == expected for round in rounds)


def depth_of(value) -> int:
    """Nesting of the first element at every level, counted without recursion."""
    if isinstance(value, dral.DralValue):
        value = value.as_python()
    depth = 0
    while isinstance(value, (list, dict)):
        depth += 1
        if not value:
            break
        value = value[0] if isinstance(value, list) else next(iter(value.values()))
    return depth


def nested_dicts(depth: int):
    """`depth - 1` dicts, each holding the next under two keys, around an empty list."""
    value = []
    for _ in range(depth - 1):
        value = {"a": value, "b": 1}
    return value


def encode_one(obj, max_depth=128):
    encoder = dral.Encoder(sort_keys=True, max_depth=max_depth)
    encoder.encode(obj)
    return dral.loads(encoder.finish(), max_depth=max_depth)


def deep_round_trip(obj, dumps=dral.dumps, **options):
    return dral.loads(dumps(obj, max_depth=LIMIT, **options), max_depth=LIMIT, strict=False)


@dataclasses.dataclass
class Link:
    next: "Link | None"


def nested_links(depth: int):
    """`depth` dataclasses, each holding the next, the last one None."""
    value = None
    for _ in range(depth):
        value = Link(value)
    return value


LIMIT = 4096
# Made and freed outside the small threads: CPython 3.13 frees instances nested this deep by
# plain recursion.
LINKS = nested_links(LIMIT)
LISTS = nested_list(LIMIT)
DICTS = nested_dicts(LIMIT)
BRACKETS = "[" * LIMIT + "]" * LIMIT
BRACES = "{k: " * (LIMIT - 1) + "[]" + ";}" * (LIMIT - 1)
STREAM = data_stream(nested_arrays(LIMIT))
OBJECTS_STREAM = data_stream(b"\x06\x01\x01k" * (LIMIT - 1) + b"\x08\x00\x09" + b"\x07" * (LIMIT - 1))
TOO_DEEP = "Nesting depth 128 exceeds maximum 128"
CBF_TOO_DEEP = "Nesting depth 65 exceeds maximum 64"


def chain(levels: int, value: str) -> str:
    """Bindings a0 = 1 and a{i} = `value` with {0} replaced by &a{i - 1}; no root."""
    return "\n".join(["let a0 = 1"] + [f"let a{i} = " + value.format(f"&a{i - 1}") for i in range(1, levels + 1)])


def nested_cbf(levels: int) -> bytes:
    inner = i64(0)
    for _ in range(levels):
        inner = seq(inner, tag=0x60)
    return cbf(inner)


# call, expected outcome: ("depth", n) for a result nested n deep, else ("raised", class, message).
SMALL_STACK = {
    "to_value": (lambda: dral.to_value(LISTS), ("depth", LIMIT)),
    "to_value of dicts": (lambda: dral.to_value(DICTS).as_python(), ("depth", LIMIT)),
    "to_value one level deeper": (lambda: dral.to_value([LISTS]), ("raised", "RecursionError")),
    "pretty_print": (lambda: dral.pretty_print(LISTS).count("["), ("returned", LIMIT)),
    "pretty_print of dicts": (lambda: dral.pretty_print(DICTS).count("{"), ("returned", LIMIT - 1)),
    "dumps": (lambda: dral.dumps(LISTS), ("raised", "DralEncodeError", TOO_DEEP + " at $" + "[0]" * 128)),
    "dumps at the native bound": (lambda: deep_round_trip(LISTS), ("depth", LIMIT)),
    "dumps of dicts at the native bound": (lambda: deep_round_trip(DICTS, sort_keys=True), ("depth", LIMIT)),
    "dumps of dataclasses": (lambda: deep_round_trip(LINKS), ("depth", LIMIT)),
    "_dumps_reference at the native bound": (lambda: deep_round_trip(LISTS, dral._dral_native._dumps_reference),
                                             ("depth", LIMIT)),
    "dumps through the default hook": (lambda: dral.dumps(object(), default=lambda o: [o], max_depth=LIMIT),
                                       ("raised", "DralEncodeError",
                                        f"Nesting depth {LIMIT} exceeds maximum {LIMIT} at $" + "[0]" * LIMIT)),
    "pretty_print of dataclasses": (lambda: dral.pretty_print(LINKS).count("{"), ("returned", LIMIT)),
    "dumps at its limit": (lambda: dral.loads(dral.dumps(nested_dicts(128), sort_keys=True)), ("depth", 128)),
    "Encoder at its limit": (lambda: encode_one(nested_dicts(128)), ("depth", 128)),
    "Encoder.encode": (lambda: dral.Encoder().encode(DICTS), ("raised", "DralEncodeError", TOO_DEEP + " at $" + ".a" * 128)),
    "Encoder at the native bound": (lambda: encode_one(DICTS, max_depth=LIMIT), ("depth", LIMIT)),
    "parse_text": (lambda: dral.parse_text(BRACKETS), ("depth", LIMIT)),
    "parse_text of braces": (lambda: dral.parse_text(BRACES), ("depth", LIMIT)),
    "parse_text_value": (lambda: dral.parse_text_value(BRACKETS).as_python(), ("depth", LIMIT)),
    "parse_text_value item": (lambda: dral.parse_text_value(BRACKETS)[0], ("depth", LIMIT - 1)),
    "DralValue repr": (lambda: repr(dral.parse_text_value(BRACES)).count("Object"), ("returned", LIMIT - 1)),
    "loads": (lambda: dral.loads(STREAM, strict=False, max_depth=LIMIT), ("depth", LIMIT)),
    "loads of objects": (lambda: dral.loads(OBJECTS_STREAM, max_depth=LIMIT), ("depth", LIMIT)),
    "loads_value": (lambda: dral.loads_value(STREAM, strict=False, max_depth=LIMIT + 10).as_python(), ("depth", LIMIT)),
    "loads_value of objects": (lambda: dral.loads_value(OBJECTS_STREAM, max_depth=LIMIT).values()[0], ("depth", LIMIT - 1)),
    "DralDecoder": (lambda: dral.DralDecoder(STREAM, max_depth=LIMIT).decode_all(), ("depth", LIMIT + 1)),
    # The typed documents: text is read 512 levels deep, compiled files 64.
    "rfc_format_ctn": (lambda: dral.rfc_format_ctn("[" * 511 + "1" + "]" * 511).split("\n")[-1],
                       ("returned", " " * 1020 + "[1]")),
    "rfc_compile_ctn past its nesting": (lambda: dral.rfc_compile_ctn("[" * 511 + "1" + "]" * 511),
                                         ("raised", "DralRfcError", CBF_TOO_DEEP)),
    "rfc_compile_ctn at its nesting": (lambda: dral.rfc_cbf_to_ctn(dral.rfc_compile_ctn("[" * 64 + "1" + "]" * 64))
                                       .count("seq<any>"), ("returned", 63)),
    "rfc_compile_ctn of 63 references": (lambda: dral.rfc_cbf_to_ctn(dral.rfc_compile_ctn(chain(63, "[{0}]")))
                                         .count("seq<any>"), ("returned", 62)),
    "rfc_compile_ctn of 19999 references": (lambda: dral.rfc_decode_cbf(dral.rfc_compile_ctn(chain(19999, "{0}")))["ctn"],
                                            ("returned", "1")),
    "rfc_compile_ctn of an expansion": (lambda: dral.rfc_compile_ctn(chain(40, "[{0}, {0}]")),
                                        ("raised", "DralRfcError", "Invalid data: reference expansion exceeds limit")),
    "rfc_cbf_to_ctn": (lambda: dral.rfc_cbf_to_ctn(nested_cbf(64)).count("seq<any>"), ("returned", 63)),
}


def in_small_thread(call):
    outcome, results = [], []

    def target():
        try:
            result = call()
            # Freed by the caller: CPython 3.13 frees nested dicts by plain recursion, which needs
            # more than this small stack for thousands of levels.
            results.append(result)
            outcome.append(("depth", depth_of(result)) if isinstance(result, (list, dict, dral.DralValue))
                           else ("returned", result))
        except BaseException as error:  # noqa: BLE001 - reported to the parent
            outcome.append(("raised", type(error).__name__, str(error)))

    threading.stack_size(SMALL_STACK_SIZE)
    thread = threading.Thread(target=target)
    thread.start()
    thread.join()
    return outcome[0]


@pytest.mark.parametrize("name", SMALL_STACK)
def test_nesting_limits_fit_a_small_thread_stack(name):
    call, expected = SMALL_STACK[name]
    outcome = run_isolated(lambda: in_small_thread(call), cpu_seconds=5)
    assert outcome[0] == "returned", outcome
    assert outcome[1][: len(expected)] == expected
