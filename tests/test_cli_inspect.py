"""`dral inspect`: the blocks of Dral streams and the parts of CBF files, as text and JSON."""

import json
import re
import struct

import pytest
import xxhash

import dral
from cbf_bytes import crc64
from cli_run import dral_command, ok
from helpers import DATA, STRING_DICT, block, split_blocks, stream

VALUES = [7, {"name": "x", "tags": ["a", "b", "a"]}, "a", None]
ONE = dral.dumps("v")


def encoded() -> bytes:  # VALUES as a stream of four values with a string dictionary
    encoder = dral.Encoder()
    encoder.encode(VALUES[0])
    encoder.enable_dedup()  # after a value: the references need the dictionary
    for value in VALUES[1:]:
        encoder.encode(value)
    return encoder.finish()


def report(data: bytes, status: int = 0) -> dict:
    run = dral_command("inspect", "--json", stdin=data)
    assert run.returncode == status, run.stderr.decode()
    return json.loads(run.stdout)


def hex64(value: int) -> str:
    return f"0x{value:016x}"


def test_a_sound_stream_lists_every_block_with_its_checksum():
    data = encoded()
    found = report(data)
    expected = [(offset, kind, len(payload)) for kind, _, payload, offset in split_blocks(data)]
    assert [(b["offset"], b["type"], b["length"]) for b in found["blocks"]] == expected
    assert [b["name"] for b in found["blocks"]] == ["string dict", "data", "end"]
    for item, (_, _, payload, _) in zip(found["blocks"], split_blocks(data)):
        digest = hex64(xxhash.xxh64_intdigest(payload))
        assert item["checksum"] == {"stored": digest, "computed": digest, "ok": True}
    assert found["dictionary_entries"] == 3  # x, a and b; keys are never entered
    assert found["values"] == len(VALUES) and found["ok"] and found["problems"] == []
    assert found["stream_checksum"]["stored"] == hex64(xxhash.xxh64_intdigest(data[:-19])) and found["stream_checksum"]["ok"]
    text = ok("inspect", stdin=data).decode()
    assert f"Dral stream: {len(data)} bytes, 3 blocks" in text and "values: 4" in text
    assert "string dictionary: 3 entries" in text and text.count(" ok\n") == 4


def test_a_corrupted_block_shows_both_checksums_and_fails_with_the_library_message():
    data = bytearray(encoded())
    (_, _, payload, offset) = split_blocks(bytes(data))[1]
    data[offset + 11 + len(payload) // 2] ^= 0x40
    data = bytes(data)
    bad = split_blocks(data)[1][2]
    stored, computed = xxhash.xxh64_intdigest(payload), xxhash.xxh64_intdigest(bad)
    found = report(data, status=1)
    assert [b["checksum"]["ok"] for b in found["blocks"]] == [True, False, True]
    assert found["blocks"][1]["checksum"] == {"stored": hex64(stored), "computed": hex64(computed), "ok": False}
    assert found["values"] is None and not found["ok"]
    assert not found["stream_checksum"]["ok"]  # the stream checksum covers the block too
    run = dral_command("inspect", stdin=data)
    with pytest.raises(dral.DralChecksumError) as caught:
        dral.loads(data)
    assert run.stderr.decode() == f"dral inspect: error: {caught.value}\n"
    assert f"{hex64(stored)} BAD, computed {hex64(computed)}" in run.stdout.decode()


def test_stream_checksum_end_block_and_trailing_bytes():
    data = ONE
    end = bytearray(data[-19:])
    end[11] ^= 1  # the stream checksum itself; the end block's own checksum now fails too
    found = report(data[:-19] + bytes(end) + b"junk", status=1)
    assert found["values"] is None and found["trailing_bytes"] == 4
    assert not found["stream_checksum"]["ok"] and not found["blocks"][-1]["checksum"]["ok"]
    with pytest.raises(dral.DralChecksumError) as caught:
        dral.loads(data[:-19] + bytes(end))
    assert found["problems"] == ["checksum mismatch in the end block at offset 15", "stream checksum mismatch",
                                 f"does not decode: {caught.value}"]
    assert report(data + b"junk")["trailing_bytes"] == 4  # never read
    longer = ONE[:-19] + block(0xFF, ONE[-8:] + b"\0")  # its own checksum right, one byte too many
    assert "end block holds 9 bytes instead of 8" in report(longer, status=1)["problems"]


@pytest.mark.parametrize(
    "data, problem",
    [
        (b"", "no end block"), (ONE[:-19], "no end block"),
        (ONE[:14], "block at offset 0 declares 4 payload bytes, 3 remain"),
        (ONE[:5], "block header at offset 0 is cut off"),
        (b"\x01" + b"\x80" * 10, "block header at offset 0 is cut off"),
        (b"\x07\x00", "invalid block type 7 at offset 0"),
    ],
)
def test_streams_that_stop_short(data, problem):
    assert problem in report(data, status=1)["problems"]


@pytest.mark.parametrize("name", ["zstd", "snappy", "lz4"])
def test_compressed_blocks_show_their_sizes_and_ratio(name, tmp_path):
    source = tmp_path / "records.json"
    source.write_text(json.dumps([{"id": i, "tag": "same"} for i in range(500)]))
    dral_command("encode", "--compression", name, str(source), "-o", str(tmp_path / "r.dral"))
    found = report((tmp_path / "r.dral").read_bytes())
    data_block = found["blocks"][0]
    assert (data_block["name"], data_block["compression"], found["values"]) == ("data", name, 1)
    assert data_block["ratio"] == round(data_block["uncompressed"] / data_block["length"], 2) > 2
    text = dral_command("inspect", str(tmp_path / "r.dral")).stdout.decode()
    assert f"({data_block['uncompressed']} unpacked, {data_block['ratio']}:1)" in text


def test_compressed_reserved_and_dictionary_blocks():
    corrupt = bytes([0x05, 0x10])  # declares 5 bytes; lz4 finds its literals cut
    data = stream(block(2, b"opaque"), block(DATA, corrupt, compression=3))
    found = report(data, status=1)
    assert [(b["name"], b["compression"], b["uncompressed"]) for b in found["blocks"]] == [
        ("reserved", "none", None), ("data", "lz4", 5), ("end", "none", None)]
    assert found["problems"][-1] == "does not decode: Decompression error: lz4: corrupt compressed data"
    bad_sum = block(DATA, corrupt, compression=3, checksum=0)
    assert "checksum mismatch in the data block at offset 0" in report(stream(bad_sum), status=1)["problems"]
    dictionary = block(STRING_DICT, b"\x02\x00\x00\x01x\x01\x00\x01y")
    found = report(stream(dictionary, block(DATA, b"\x0a\x01")))
    assert (found["dictionary_entries"], found["values"]) == (2, 1)


CTN = "let origin = Point\n  x = 0\n  y = 0\n\nseq<any>\n  &origin\n  'tag\n"


@pytest.mark.parametrize("ctn, options", [(CTN, {}), (CTN, {"alignment": 16}), ("[1, 2]", {"with_symtab": False})])
def test_a_cbf_file_shows_its_header_symbols_and_trailer(ctn, options):
    data = dral.rfc_compile_ctn(ctn, **options)
    found = report(data)
    decoded = dral.rfc_decode_cbf_model(data)
    header = decoded.header.to_dict()
    assert found["header"] == {**header, "schema_hash_prefix": header["schema_hash_prefix"].hex()}
    assert found["symbols"] == decoded.symbols and found["root_kind"] == "sequence"
    trailer = hex64(struct.unpack("<Q", data[-8:])[0])
    assert found["trailer"] == {"stored": trailer, "computed": trailer, "ok": True}
    assert found["body_length"] == len(data) - 40 and found["ok"]
    text = ok("inspect", stdin=data).decode()
    assert re.search(r"^flags +0x0(3 \(self_describing, has_symtab\)|1 \(self_describing\))$", text, re.M)
    assert all(re.search(rf"^ +{i}  {name}$", text, re.M) for i, name in enumerate(decoded.symbols))


def test_a_cbf_file_with_a_bad_trailer_reports_both_values_as_the_library_does():
    data = bytearray(dral.rfc_compile_ctn(CTN))
    data[40] ^= 0x01
    stored, computed = struct.unpack("<Q", data[-8:])[0], crc64(bytes(data[:-8]))
    found = report(bytes(data), status=1)
    assert found["trailer"] == {"stored": hex64(stored), "computed": hex64(computed), "ok": False}
    assert found["header"]["cbf_version"] == 1 and found["symbols"] is None
    message = f"Checksum mismatch: expected {hex64(stored)}, got {hex64(computed)}"
    assert dral_command("inspect", stdin=bytes(data)).stderr.decode() == f"dral inspect: error: {message}\n"


def test_a_cbf_file_too_short_for_its_trailer():
    found = report(dral.RFC001_CBF_MAGIC + bytes(34), status=1)
    assert found["header"]["magic"] == "DRAL" and found["trailer"] is None
    assert found["problems"] == ["does not decode: Unexpected end of input at offset 38"]
