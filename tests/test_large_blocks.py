"""Large blocks: the fast paths agree with the reference paths byte for byte and error for
error. Above all, a block whose checksum fails reports that failure before any fault of its own
content, and hands out none of its values.
"""

import pytest

import dral
from helpers import DATA, block, payload_of, split_blocks, stream, varint, xxh

native = dral._dral_native
LARGE = 600_000  # bytes of payload


def strings(total, size=97):
    return ["%0*d" % (size, i) for i in range(total // (size + 2))]


def large_payload():
    """A data block payload of one array of strings, more than LARGE bytes."""
    return payload_of(dral.dumps(strings(LARGE)))


def one_block(payload, checksum=None):
    return stream(block(DATA, payload, checksum=checksum))


def readers():
    """Every reader of whole streams, each as a function of the bytes."""
    return {
        "loads": dral.loads,
        "reference": lambda data: native._loads_reference(data),
        "decode_all": lambda data: dral.DralDecoder(data).decode_all(),
        "loads_value": dral.loads_value,
    }


def outcome(read, data):
    try:
        read(data)
        return None
    except dral.DralDecodeError as error:
        return type(error), str(error)


def mismatch(stored, payload):
    return dral.DralChecksumError, f"Checksum mismatch: expected 0x{stored:016x}, got 0x{xxh(payload):016x}"


START = 13  # offset of the payload: type, a 3-byte length, compression, checksum


def faults():
    """(name, payload, error of that payload with a correct checksum, if reasoned out here)"""
    good = large_payload()
    first = len(b"\x08" + varint(len(strings(LARGE))))  # the first string's tag
    middle = len(good) // 2
    return [
        ("valid", good, None),
        # the last string lacks its last byte, the array its end tag: reading runs through every
        # hashed piece before it fails where that string's bytes should end
        ("cut last value", good[:-2], eof(START + len(good) - 1)),
        ("bad tag at the start", good[:first] + b"\x0f" + good[first + 1 :],
         (dral.DralDecodeError, "Invalid wire type tag: 0x0f")),
        ("a byte in the middle", good[:middle] + b"\xff" + good[middle + 1 :], None),
        # the array is whole; what stands in place of its end tag is a string cut at its tag
        ("string tag at the end", good[:-1] + b"\x05", eof(START + len(good))),
    ]


def eof(offset):
    return dral.DralDecodeError, f"Unexpected end of input at offset {offset}"


@pytest.mark.parametrize("name, payload, _", faults(), ids=[f[0] for f in faults()])
def test_bad_checksum_wins_over_every_fault_of_the_block(name, payload, _):
    stored = xxh(payload) ^ 0x8000
    data = one_block(payload, checksum=stored)
    for read_name, read in readers().items():
        assert outcome(read, data) == mismatch(stored, payload), read_name


@pytest.mark.parametrize("name, payload, expected", faults(), ids=[f[0] for f in faults()])
def test_faults_of_a_sound_block_match_the_reference(name, payload, expected):
    data = one_block(payload)
    reference = outcome(native._loads_reference, data)
    if expected is not None:
        assert reference == expected
    for read_name, read in readers().items():
        assert outcome(read, data) == reference, read_name


def test_bad_checksum_of_a_later_large_block_wins_over_its_values():
    small, payload = b"\x02\x07", large_payload()
    stored = xxh(payload) ^ 1
    data = stream(block(DATA, small), block(DATA, payload, checksum=stored))
    for read_name, read in readers().items():
        assert outcome(read, data) == mismatch(stored, payload), read_name
    sound = stream(block(DATA, small), block(DATA, payload))
    assert dral.loads(sound) == [7, strings(LARGE)]


def test_many_values_in_one_large_block_hand_out_nothing_on_a_bad_checksum():
    encoder = dral.Encoder()
    values = strings(LARGE, size=40)
    for value in values:
        encoder.encode(value)
    data = encoder.finish()
    assert dral.DralDecoder(data).decode_all() == values
    (_, _, payload, _), _ = split_blocks(data)
    stored = xxh(payload) ^ 1
    corrupt = one_block(payload, checksum=stored)
    for read_name, read in readers().items():
        assert outcome(read, corrupt) == mismatch(stored, payload), read_name


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
    """A failed value is taken back whole, however much of it was written."""
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
