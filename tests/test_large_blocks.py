"""Large blocks: the fast paths agree with the reference paths byte for byte and error for
error. Above all, a block whose checksum fails reports that failure before any fault of its own
content, and hands out none of its values.
"""

import pytest

import dral
from helpers import DATA, block, payload_of, split_blocks, stream, varint, xxh

native = dral._dral_native
LARGE = 600_000  # bytes of payload
START = 13  # offset of the payload: type, a 3-byte length, compression, checksum
READERS = {  # every reader of whole streams
    "loads": dral.loads,
    "reference": native._loads_reference,
    "decode_all": lambda data: dral.DralDecoder(data).decode_all(),
    "loads_value": dral.loads_value,
}


def strings(total, size=97):
    return ["%0*d" % (size, i) for i in range(total // (size + 2))]


def outcome(read, data):
    try:
        read(data)
        return None
    except dral.DralDecodeError as error:
        return type(error), str(error)


def eof(offset):
    return dral.DralDecodeError, f"Unexpected end of input at offset {offset}"


def assert_checksum_wins(payload, *before, flip=1):
    """Every reader fails on the checksum of `payload`, in a block after `before`."""
    stored = xxh(payload) ^ flip
    data = stream(*before, block(DATA, payload, checksum=stored))
    expected = f"Checksum mismatch: expected 0x{stored:016x}, got 0x{xxh(payload):016x}"
    for read_name, read in READERS.items():
        assert outcome(read, data) == (dral.DralChecksumError, expected), read_name


GOOD = payload_of(dral.dumps(strings(LARGE)))  # one array of strings, more than LARGE bytes
FIRST = len(b"\x08" + varint(len(strings(LARGE))))  # the first string's tag
MIDDLE = len(GOOD) // 2
# name, payload, error of that payload with a correct checksum, if reasoned out here
FAULTS = [
    ("valid", GOOD, None),
    # the last string lacks its last byte, the array its end tag: reading runs through every
    # hashed piece before it fails where that string's bytes should end
    ("cut last value", GOOD[:-2], eof(START + len(GOOD) - 1)),
    ("bad tag at the start", GOOD[:FIRST] + b"\x0f" + GOOD[FIRST + 1 :],
     (dral.DralDecodeError, "Invalid wire type tag: 0x0f")),
    ("a byte in the middle", GOOD[:MIDDLE] + b"\xff" + GOOD[MIDDLE + 1 :], None),
    # the array is whole; what stands in place of its end tag is a string cut at its tag
    ("string tag at the end", GOOD[:-1] + b"\x05", eof(START + len(GOOD))),
]


@pytest.mark.parametrize("name, payload, expected", FAULTS, ids=[f[0] for f in FAULTS])
def test_faults_of_a_large_block(name, payload, expected):
    assert_checksum_wins(payload, flip=0x8000)
    data = stream(block(DATA, payload))  # a sound checksum: every reader fails as the reference
    reference = outcome(native._loads_reference, data)
    if expected is not None:
        assert reference == expected
    for read_name, read in READERS.items():
        assert outcome(read, data) == reference, read_name


def test_bad_checksum_of_a_later_large_block_wins_over_its_values():
    assert_checksum_wins(GOOD, block(DATA, b"\x02\x07"))
    assert dral.loads(stream(block(DATA, b"\x02\x07"), block(DATA, GOOD))) == [7, strings(LARGE)]


def test_many_values_in_one_large_block_hand_out_nothing_on_a_bad_checksum():
    encoder = dral.Encoder()
    values = strings(LARGE, size=40)
    for value in values:
        encoder.encode(value)
    data = encoder.finish()
    assert dral.DralDecoder(data).decode_all() == values
    (_, _, payload, _), _ = split_blocks(data)
    assert_checksum_wins(payload)


# Payloads under 1 MiB are copied out; from 1 MiB they are finished in their own buffer, where
# 1 to 2 MiB move down next to their header and 2 MiB to 256 MiB stay where they are.
@pytest.mark.parametrize("dedup", [False, True])
@pytest.mark.parametrize("size", [LARGE, 2 * LARGE, 3 * LARGE])
def test_large_streams_match_the_reference(dedup, size):
    value = {"names": strings(size), "again": strings(size // 3), "n": list(range(1000))}
    data = dral.dumps(value, dedup=dedup)
    assert data == native._dumps_reference(value, dedup=dedup)
    assert dral.loads(data) == value


def test_a_stream_past_256_mib_lifts_its_payload_for_the_longer_header():
    value = [b"x" * (1 << 28)]
    data = dral.dumps(value)
    assert data == native._dumps_reference(value)
    assert dral.loads(data, strict=False) == value


def test_encoder_that_fails_midway_writes_the_reference_bytes():
    # A failed value is taken back whole, however much of it was written.
    head, tail = strings(LARGE), strings(LARGE // 2)
    encoder = dral.Encoder()
    encoder.encode(head)
    with pytest.raises(dral.DralTypeError):
        encoder.encode(strings(LARGE) + [object()])  # fails after more than LARGE bytes
    encoder.encode(tail)
    with pytest.raises(dral.DralTypeError):
        encoder.encode([object()])  # fails at once
    encoder.encode(1)
    data = encoder.finish()
    payload = b"".join(payload_of(native._dumps_reference(value)) for value in (head, tail, 1))
    assert data == stream(block(DATA, payload))
    assert dral.loads(data) == [head, tail, 1]
