"""Compressed data blocks: what each codec writes, what other writers' blocks read as, and round
trips through every entry point that takes a compression."""

import io

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from helpers import (
    CODES, DATA, DECOMPRESS, END, STRING_DICT, block, compressed, payload_of, read_varint,
    split_blocks, stream, zstd_frame,
)
from strategies import JSON_LIKE

RECORDS = [{"id": i, "name": f"user {i % 7}", "tags": ["a", "b", "c"][: i % 4], "score": i / 8}
           for i in range(300)]


@pytest.mark.parametrize("name", CODES)
@pytest.mark.parametrize("dedup", [False, True])
def test_a_compressed_block_holds_its_size_and_the_codec_output(name, dedup):
    plain = payload_of(dral.dumps(RECORDS, dedup=dedup))
    data = dral.dumps(RECORDS, compression=name, dedup=dedup)
    [(kind, code, payload, _), (end, _, _, _)] = split_blocks(data)
    assert (kind, code, end) == (DATA, CODES[name], END)
    size, start = read_varint(payload, 0)
    assert size == len(plain) and bytes(DECOMPRESS[code](payload[start:], size)) == plain
    # Rebuilt with the xxhash package: the checksums cover the payload as stored.
    assert data == stream(block(DATA, payload, code))
    assert len(data) < len(plain) // 2 and dral.loads(data) == RECORDS


@pytest.mark.parametrize("name", CODES)
@pytest.mark.parametrize("value", [None, "short", [1.5, "x", b"\x00"], {"k": ["v"] * 3}, [1, 2, 3]],
                         ids=repr)
def test_a_block_that_does_not_shrink_is_stored_as_it_is(name, value):
    for dedup in (False, True):
        assert dral.dumps(value, compression=name, dedup=dedup) == dral.dumps(value, dedup=dedup)


def test_zstd_does_not_try_blocks_under_64_bytes():
    by_size = {len(payload_of(dral.dumps("a" * n))): "a" * n for n in range(40, 80)}
    below, smallest = by_size[63], by_size[64]
    assert dral.dumps(below, compression="zstd") == dral.dumps(below)
    assert split_blocks(dral.dumps(smallest, compression="zstd"))[0][1] == CODES["zstd"]
    assert split_blocks(dral.dumps(below, compression="lz4"))[0][1] == CODES["lz4"]


def test_none_writes_the_plain_stream():
    for compression in (None, "none"):
        assert dral.dumps(RECORDS, compression=compression) == dral.dumps(RECORDS)


@pytest.mark.parametrize("name", CODES)
def test_the_dictionary_block_is_never_compressed(name):
    enc = dral.Encoder()
    enc.encode("before")
    enc.enable_dedup()
    enc.set_compression(name)
    enc.encode(RECORDS)
    blocks = split_blocks(enc.finish())
    assert [(kind, code) for kind, code, _, _ in blocks] == [(STRING_DICT, 0), (DATA, CODES[name]), (END, 0)]


def test_set_compression_between_values_applies_to_the_block():
    enc = dral.Encoder()
    enc.set_compression("zstd")
    enc.encode(RECORDS)
    enc.set_compression("none")
    enc.encode(RECORDS)
    data = enc.finish()
    assert [code for kind, code, _, _ in split_blocks(data) if kind == DATA] == [0]
    assert dral.loads(data) == [RECORDS, RECORDS]


PAYLOAD = b"\x08\x02\x05\x00\x03abc\x02\x07\x09"  # ["abc", 7]
FOREIGN = [
    ("zstd frame stating its size", zstd_frame(PAYLOAD)),
    ("zstd frames in a row", zstd_frame(PAYLOAD[:4]) + zstd_frame(PAYLOAD[4:])),
    ("zstd frame stating only a window", zstd_frame(PAYLOAD, window_log=20)),
    # Decoded into a buffer of the block's size, a frame asking for a 2 GiB window costs nothing.
    ("zstd frame asking for a 2 GiB window", zstd_frame(PAYLOAD, window_log=31)),
]


@pytest.mark.parametrize("name, frames", FOREIGN, ids=[c[0] for c in FOREIGN])
def test_blocks_of_other_writers_read(name, frames):
    data = stream(block(DATA, bytes([len(PAYLOAD)]) + frames, compression=1))
    for strict in (True, False):
        assert dral.loads(data, strict=strict) == ["abc", 7]


def zstd_stream(declared_extra: int = 0, damaged: bool = False) -> bytes:
    payload = bytearray(compressed(1, PAYLOAD * 30, declared=len(PAYLOAD) * 30 + declared_extra))
    if damaged:
        payload[-6:] = b"\xff" * 6
    return stream(block(DATA, bytes(payload), compression=1))


def test_a_failed_zstd_block_leaves_nothing_behind_for_the_next():
    # Decompression state is kept between calls: failures and successes in turn must each read
    # as they would alone.
    broken = [zstd_stream(1), zstd_stream(-1), zstd_stream(damaged=True)]

    def failure(data):
        with pytest.raises(dral.DralDecodeError) as caught:
            dral.loads(data)
        return str(caught.value)

    alone = [failure(data) for data in broken]
    assert all("zstd" in message for message in alone[:2]), alone
    for _ in range(2):
        for data, message in zip(broken, alone):
            assert dral.loads(zstd_stream()) == [["abc", 7]] * 30
            assert failure(data) == message


@pytest.mark.parametrize("code", CODES.values())
def test_every_reader_reads_compressed_blocks(code):
    data = stream(block(DATA, compressed(code, PAYLOAD * 30), compression=code), block(DATA, b"\x00"))
    expected = [["abc", 7]] * 30 + [None]
    assert dral.loads(data) == dral.decode(data) == dral.load(io.BytesIO(data)) == expected
    assert dral.DralDecoder(data).decode_all() == expected
    assert [view.as_python() for view in dral.loads_value(data)] == expected
    assert dral._dral_native._loads_reference(data) == expected


@pytest.mark.parametrize("name", CODES)
def test_file_functions_and_encoder_round_trip(name, tmp_path):
    fp = io.BytesIO()
    dral.dump(RECORDS, fp, compression=name, dedup=True)
    assert split_blocks(fp.getvalue())[0][1] == CODES[name]
    assert dral.load(io.BytesIO(fp.getvalue())) == RECORDS
    enc = dral.Encoder(sort_keys=True)
    enc.set_compression(name)
    for record in RECORDS:
        enc.encode(record)
    enc.finish_to_file(tmp_path / "records.dral")
    assert dral.decode_from_file(tmp_path / "records.dral") == RECORDS


CODE_NAMES = st.sampled_from([None, *CODES])


@given(JSON_LIKE, st.integers(1, 40), CODE_NAMES, st.booleans())
def test_round_trip(value, copies, compression, dedup):
    values = [value] * copies  # repeated, so that the codecs have something to shrink
    data = dral.dumps(values, compression=compression, dedup=dedup)
    assert dral.loads(data) == values
    assert len(data) <= len(dral.dumps(values, dedup=dedup))


@given(st.lists(JSON_LIKE, max_size=6), CODE_NAMES, st.booleans())
def test_encoder_round_trip(values, compression, dedup):
    enc = dral.Encoder()
    if dedup:
        enc.enable_dedup()
    if compression:
        enc.set_compression(compression)
    for value in values * 5:
        enc.encode(value)
    assert dral.DralDecoder(enc.finish()).decode_all() == values * 5
