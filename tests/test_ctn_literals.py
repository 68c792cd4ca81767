"""CTN literals through rfc_parse_ctn: numbers and their suffixes, strings, bytes, symbols."""

import math
import struct

import pytest

import dral

INF = math.inf
I64_MIN, I64_MAX, U64_MAX = -(2**63), 2**63 - 1, 2**64 - 1
I128_MAX = 2**127 - 1


def root(text):
    return dral.rfc_parse_ctn(text)["root"]


def error(text):
    with pytest.raises(dral.DralRfcError) as caught:
        dral.rfc_parse_ctn(text)
    return str(caught.value)


def f32(x):
    """The binary32 value nearest to `x`, widened back, as the dictionaries give an f32."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


@pytest.mark.parametrize(
    "text, kind, value",
    [
        # Integers: the suffix picks the type; narrow suffixes are not range-checked.
        ("42", "vi64", 42), ("42i64", "i64", 42), ("42i8", "i64", 42), ("300u8", "u64", 300),
        ("42vu64", "vu64", 42), ("42vi32", "vi64", 42), ("7u128", "u64", 7), ("-7i128", "i64", -7),
        (str(I64_MIN), "vi64", I64_MIN), (str(I64_MAX), "vi64", I64_MAX), (f"{U64_MAX}u64", "u64", U64_MAX),
        ("1_000_000", "vi64", 1000000), ("0xff", "vi64", 255), ("0xFE", "vi64", 254), ("0b1010", "vi64", 10),
        ("0o17", "vi64", 15), ("-0x10", "vi64", -16), ("+5", "vi64", 5), ("0x_f_f", "vi64", 255), ("1_u8", "u64", 1),
        ("007", "vi64", 7), ("123456789012345678", "vi64", 123456789012345678),
        ("1234567890123456789", "vi64", 1234567890123456789),
        # The digits may carry one more sign of their own.
        ("+-5", "vi64", -5), ("-+5", "vi64", -5), ("0x-5", "vi64", -5), ("-0x+5", "vi64", -5),
        # The suffix is cut before the body is trimmed.
        ("1 u8", "u64", 1),
        # Floats.
        ("1.5", "f64", 1.5), ("1e3", "f64", 1000.0), ("1E3", "f64", 1000.0), (".5", "f64", 0.5), ("5.", "f64", 5.0),
        ("-2.5e-3", "f64", -0.0025), ("1_000.5", "f64", 1000.5), ("1e400", "f64", INF), ("-0.0", "f64", -0.0),
        ("1.5f32", "f32", 1.5), ("0.1f32", "f32", f32(0.1)), ("1e39f32", "f32", INF), ("2.5f16", "f32", 2.5),
        ("0.1bf16", "f32", f32(0.1)), ("0.1f128", "f64", 0.1), ("0.1f64", "f64", 0.1),
        # An integer body with a float suffix is read as a float.
        ("1f32", "f32", 1.0), ("1f64", "f64", 1.0), ("3f16", "f32", 3.0), ("16777217f32", "f32", 16777216.0),
        # Special values: F32 only with the suffix f32.
        ("NaN", "f64", math.nan), ("NaNf32", "f32", math.nan), ("NaNf16", "f64", math.nan),
        ("NaNdec64", "f64", math.nan), ("Inf", "f64", INF), ("+Inf", "f64", INF), ("-Inf", "f64", -INF),
        ("-Inff32", "f32", -INF), ("Infu8", "f64", INF),
        # Keywords.
        ("true", "bool", True), ("false", "bool", False), ("null", "null", None), ("unit", "unit", None),
        # Not numbers: bare names become symbols.
        ("nan", "sym", "nan"), ("inf", "sym", "inf"), ("i64", "sym", "i64"), ("u8", "sym", "u8"),
        ("abcdec32", "sym", "abcdec32"), ("True", "sym", "True"), ("_x1", "sym", "_x1"), ("Infinity", "sym", "Infinity"),
        ("'abc", "sym", "abc"), ("'a_1", "sym", "a_1"), ("b", "sym", "b"), ("b64", "sym", "b64"),
        *[(text, "str", value) for text, value in [
            ('"abc"', "abc"), ('""', ""), ('"a\\"b"', 'a"b'), ('"\\\\"', "\\"), ('"\\u{+41}"', "A"),
            ('"\\n\\r\\t\\b\\f"', "\n\r\t\b\f"), ('"a\\u{41}b"', "aAb"), ('"\\u{0}"', "\0"),
            ('"\\u{1F600}"', "\U0001F600"), ('"\\u{0000041}"', "A"),
            ('"\\u{10FFFF}"', "\U0010FFFF"), ('"x\\u{42"', "xB"),  # no '}': digits run to the end
            ('"é€😀"', "é€😀"), ('"a"b"', 'a"b'), ('"a, [b]"', "a, [b]"), ('"x -- y"', "x -- y"),
            # Triple quotes: the inside verbatim.
            ('"""raw \\n "q" """', 'raw \\n "q" '), ('""""""', ""), ('"""a""""', 'a"'),
        ]],
        *[(text, "bytes", value) for text, value in [
            ('b"DEAD_beef"', b"\xde\xad\xbe\xef"), ('b""', b""), ('b"0a0B"', b"\x0a\x0b"),
            ('b"__"', b""), ('b64"AQID"', b"\x01\x02\x03"), ('b64""', b""), ('b64"AQ=="', b"\x01"),
            ('b64"/+8="', b"\xff\xef"), ("<de ad>", b"\xde\xad"), ("<>", b""), ("< >", b""),
            ("<00\u3000ff\t1A>", b"\x00\xff\x1a"),
        ]],
    ],
)
def test_scalar_literals(text, kind, value):
    # repr: NaN equals itself, -0.0 differs from 0.0, and 1 from 1.0 and True
    assert repr(root(text)) == repr({"kind": "scalar", "type": kind, "value": value})


# Every suffix, each found as the one that ends the literal, whatever shorter one it ends with.
@pytest.mark.parametrize(
    "suffix, expected",
    [
        *[(s, {"type": "tagged", "tag": s, "value": "7"}) for s in ["dec128", "dec64", "dec32"]],
        *[(s, {"type": "f32", "value": 7.0}) for s in ["bf16", "f32", "f16"]],
        *[(s, {"type": "f64", "value": 7.0}) for s in ["f128", "f64"]],
        *[(s, {"type": "vi64", "value": 7}) for s in ["vi64", "vi32"]],
        *[(s, {"type": "vu64", "value": 7}) for s in ["vu64", "vu32"]],
        *[(s, {"type": "i64", "value": 7}) for s in ["i128", "i64", "i32", "i16", "i8"]],
        *[(s, {"type": "u64", "value": 7}) for s in ["u128", "u64", "u32", "u16", "u8"]],
    ],
)
def test_every_suffix_is_read(suffix, expected):
    assert repr(root("7" + suffix)) == repr({"kind": "scalar", **expected})


def test_nan_payloads_are_the_quiet_nans():
    assert struct.pack("<d", root("NaN")["value"]) == struct.pack("<Q", 0x7FF8000000000000)
    assert struct.pack("<f", root("NaNf32")["value"]) == struct.pack("<I", 0x7FC00000)


@pytest.mark.parametrize(
    "text, tag, value",
    [
        ("1.5i64", "i64", "1.5"), ("1e3u8", "u8", "1e3"), ("12.50dec64", "dec64", "12.50"),
        ("1_0dec32", "dec32", "1_0"), ("0xffdec128", "dec128", "0xff"), ("1..2dec32", "dec32", "1..2"),
        ('date"2024-01-01"', "date", "2024-01-01"), ('uuid "123"', "uuid", "123"), ('x"a\\nb"', "x", "a\nb"),
        ('_t""', "_t", ""),
    ],
)
def test_tagged_literals(text, tag, value):
    assert root(text) == {"kind": "scalar", "type": "tagged", "tag": tag, "value": value}


DATA = "Invalid data: "
B64 = "Invalid base64 data: "
ESCAPE = '"\\u{%s}"'


@pytest.mark.parametrize(
    "text, message",
    [
        *[(t, f"unsigned literal cannot be negative: {t}") for t in ["-1u32", "-1vu64"]],
        (f"{U64_MAX + 1}u64", f"unsigned literal out of range: {U64_MAX + 1}u64"),
        *[(t, f"signed literal out of range: {t}")
          for t in [str(I64_MAX + 1), f"{I64_MIN - 1}i64", str(I128_MAX), str(-I128_MAX)]],
        # The sign is taken off first, and 2^127 alone does not fit.
        *[(str(n), f"invalid integer literal '{n}'") for n in [-I128_MAX - 1, I128_MAX + 1]],
        # Each sign reads its own range: the digits' own '+' stops short of 2^127.
        (f"+{-I128_MAX - 1}", f"signed literal out of range: +{-I128_MAX - 1}"),
        (f"-+{I128_MAX + 1}", f"invalid integer literal '-+{I128_MAX + 1}'"),
        *[(t, f"invalid integer literal '{t}'")
          for t in ["-", "+", "+_", "0x", "0xZZ", "0b102", "0o8", "1-2", "+-+5"]],
        ("0xu8", "invalid integer literal '0x'"),
        *[(t, f"invalid float literal '{t}'") for t in [".", "1.5.5", "1e", "+-1.0"]],
        ("1.5.5i64", "invalid float literal '1.5.5'"),
        # The suffix is taken whatever precedes it.
        ("0x1f32", "invalid float literal '0x1'"),
        *[(t, f"unable to parse inline expression '{t}'")
          # Not tagged strings: the prefix must be an identifier.
          for t in ["0X10", "1abc", "-NaN", '1x"a"', 'a b"x"']],
        ('"abc', "invalid quoted string literal"), ('"', "invalid quoted string literal"),
        ('"a\\"', "unterminated escape sequence"), ('"\\q"', "unsupported escape sequence \\q"),
        ('"\\é"', "unsupported escape sequence \\é"), ('"\\u41"', "expected '{' in unicode escape"),
        ('"\\u"', "expected '{' in unicode escape"),
        *[(ESCAPE % d, "invalid unicode escape") for d in ["", "zz", "+", "-41", "100000000"]],
        *[(ESCAPE % d, "invalid unicode scalar value")
          for d in ["FFFFFFFF", "D800", "DFFF", "110000"]],
        *[(t, "invalid triple-quoted string literal") for t in ['"""ab""', '"""', '"""""']],
        # A tagged string's body is an ordinary quoted string.
        ('tag"bad\\q"', "unsupported escape sequence \\q"), ('abc"', "invalid quoted string literal"),
        *[(t, f"invalid symbol '{t[1:]}'") for t in ["'1a", "'", "' a", "'a-b"]],
        ('b"abc"', "hex bytes literal must have even length"),
        # Characters, not bytes, are paired.
        ('b"é"', "hex bytes literal must have even length"),
        *[(t, "invalid hex bytes literal") for t in ['b"éa"', 'b"zz"']],
        *[(t, "unterminated hex bytes literal") for t in ['b"ab', 'b"']],
        *[(t, "unterminated base64 bytes literal") for t in ['b64"AQID', 'b64"']],
        ('b64"AQI"', B64 + "invalid length"), ('b64"AR=="', B64 + "non-zero trailing bits"),
        ('b64"A=QI"', B64 + "invalid padding"),
        *[(t, "space-separated hex bytes must be two hex digits each")
          for t in ["<dead>", "<é>", "<binary: 16 bytes>"]],
        ("<zz>", "invalid hex byte in literal"), ("<é1>", "invalid hex byte in literal"),
    ],
)
def test_literal_errors(text, message):
    assert error(text) == (message if message.startswith(B64) else DATA + message)

