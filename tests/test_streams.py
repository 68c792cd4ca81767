"""Streams of many blocks: the encoder's block threshold, Writer and Reader on files, pipes and
paths, cut and damaged files read value by value, and parts of a file read apart."""

import io
import os
import signal
import subprocess
import sys
import warnings

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import dral
from helpers import DATA, END, split_blocks
from strategies import JSON_LIKE

RECORDS = [{"id": i, "user": f"user {i % 13}", "tags": ["a", "b"][: i % 3], "score": i / 7} for i in range(3000)]
CODES = [None, "zstd", "lz4", "snappy"]


def written(values, **options) -> bytes:
    out = io.BytesIO()
    with dral.Writer(out, **options) as writer:
        writer.write_all(values)
    return out.getvalue()


def test_blocks_close_between_values_at_the_threshold():
    encoder = dral.Encoder(block_size=4096)
    for record in RECORDS:
        encoder.encode(record)
    data = encoder.finish()
    payloads = [payload for kind, _, payload, _ in split_blocks(data) if kind == DATA]
    assert len(payloads) > 10 and all(len(p) >= 4096 for p in payloads[:-1])
    assert all(len(p) < 4096 + 200 for p in payloads)  # a value is never split: each stops after one
    assert dral.loads(data) == RECORDS == list(dral.DralDecoder(data))
    assert written(RECORDS, block_size=4096) == data


@pytest.mark.parametrize("values", [RECORDS[:40], [RECORDS], [], ["single"]], ids=["small", "one large", "none", "one"])
@pytest.mark.parametrize("dedup", [False, True])
def test_a_stream_below_the_threshold_or_of_one_value_is_one_block(values, dedup):
    encoder = dral.Encoder(block_size=4096)
    if dedup:
        encoder.enable_dedup()
    for value in values:
        encoder.encode(value)
    one_block = dral.dumps(values[0], dedup=dedup) if len(values) == 1 else None
    data = encoder.finish()
    assert len([b for b in split_blocks(data) if b[0] == DATA]) <= 1
    if one_block is not None:
        assert data == one_block


def test_the_default_threshold_writes_what_the_default_limits_read():
    # Larger than the 64 MiB block limit in all, but each block far below it.
    big = [{"text": "x" * 1000, "n": i} for i in range(70_000)]
    data = written(big)
    assert len(data) > 64 << 20
    assert max(len(p) for _, _, p, _ in split_blocks(data)) < 2 << 20
    assert dral.loads(data) == big


@settings(max_examples=60, deadline=None)
@given(st.lists(JSON_LIKE, max_size=30), st.sampled_from([0, 1, 64, 512, 1 << 20]), st.booleans(),
       st.sampled_from(CODES), st.data())
def test_written_values_read_back_and_every_cut_yields_a_prefix(values, block_size, dedup, compression, data):
    stream = written(values, block_size=block_size, dedup=dedup, compression=compression)
    assert list(dral.Reader(io.BytesIO(stream))) == values == list(dral.DralDecoder(stream))
    cut = data.draw(st.integers(0, len(stream) - 1), label="cut")
    got = []
    with pytest.raises(dral.DralDecodeError):
        for value in dral.Reader(io.BytesIO(stream[:cut])):
            got.append(value)
    assert got == values[: len(got)]


def test_a_damaged_block_stops_the_reader_after_the_verified_ones():
    data = bytearray(written(RECORDS, block_size=8192))
    blocks = split_blocks(bytes(data))
    kind, _, payload, offset = blocks[3]
    data[offset + 11 + len(payload) // 2] ^= 0x10
    got = []
    with pytest.raises(dral.DralChecksumError):
        for value in dral.Reader(io.BytesIO(bytes(data))):
            got.append(value)
    in_first_three = len(dral.loads(written(RECORDS[: len(got)], block_size=8192)) or [])
    assert got == RECORDS[: len(got)] and len(got) == in_first_three > 0


class Trickle(io.RawIOBase):
    """A file that hands out a few bytes per read, as a pipe or socket may."""

    def __init__(self, data: bytes, step: int):
        self.data, self.at, self.step = data, 0, step

    def readable(self):
        return True

    def readinto(self, buffer):
        piece = self.data[self.at : self.at + min(self.step, len(buffer))]
        buffer[: len(piece)] = piece
        self.at += len(piece)
        return len(piece)


class ReadOnly:
    def __init__(self, data: bytes):
        self.file = io.BytesIO(data)

    def read(self, n=-1):
        return self.file.read(n)


@pytest.mark.parametrize("compression", CODES)
def test_reading_from_any_file_gives_the_same(compression, tmp_path):
    data = written(RECORDS, block_size=10_000, compression=compression, dedup=True)
    path = tmp_path / "records.dral"
    path.write_bytes(data)
    for source in (path, str(path), Trickle(data, 7), ReadOnly(data), io.BytesIO(data)):
        with dral.Reader(source) as reader:
            assert list(reader) == RECORDS


def test_reading_standard_input_from_a_pipe(tmp_path):
    data = written(RECORDS, block_size=5000)
    script = "import dral, sys; print(sum(1 for _ in dral.Reader(sys.stdin.buffer)))"
    run = subprocess.run([sys.executable, "-c", script], input=data, capture_output=True, check=True)
    assert run.stdout.decode().strip() == str(len(RECORDS))


def test_writing_a_path_replaces_it_only_when_closed(tmp_path):
    path = tmp_path / "out.dral"
    path.write_bytes(dral.dumps("old"))
    writer = dral.Writer(path, block_size=100)
    writer.write_all(RECORDS[:100])
    assert dral.decode_from_file(path) == "old"  # blocks go to a file beside it
    writer.close()
    assert dral.decode_from_file(path) == RECORDS[:100] and os.listdir(tmp_path) == ["out.dral"]
    with pytest.raises(ZeroDivisionError):
        with dral.Writer(path) as writer:
            writer.write_all(RECORDS)
            raise ZeroDivisionError
    assert dral.decode_from_file(path) == RECORDS[:100] and os.listdir(tmp_path) == ["out.dral"]
    with pytest.raises(ValueError, match="closed"):
        writer.write(1)
    writer.close()  # closing twice does nothing


def test_a_path_far_larger_than_the_writers_cache_holds_the_whole_stream(tmp_path):
    # The writer lets go of what is on disk as it goes: every byte must still be in the file.
    records = [{"n": i, "text": f"{i:08d}" * 200} for i in range(56_000)]
    path = tmp_path / "big.dral"
    with dral.Writer(path, block_size=1 << 20) as writer:
        writer.write_all(records)
    assert path.stat().st_size > 80 << 20
    assert path.read_bytes() == written(records, block_size=1 << 20)


@pytest.mark.parametrize("action", ["write_all", "close"])
def test_a_forked_child_leaves_the_parents_stream_alone(tmp_path, action):
    path = tmp_path / "out.dral"
    with dral.Writer(path, block_size=100) as writer:
        writer.write_all(RECORDS[:50])  # blocks are on their way to the file
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)  # forking with a thread running
            child = os.fork()
        if child == 0:
            try:
                writer.write_all(RECORDS) if action == "write_all" else writer.close()
                os._exit(1)
            except OSError:
                os._exit(0 if writer.closed else 2)
            except BaseException:
                os._exit(3)
        _, status = os.waitpid(child, 0)
        writer.write_all(RECORDS[50:])
    assert os.waitstatus_to_exitcode(status) == 0  # the child could not write, and gave up
    assert list(dral.Reader(path)) == RECORDS and os.listdir(tmp_path) == ["out.dral"]


def test_a_writer_left_by_an_exception_or_dropped_leaves_no_complete_stream():
    out = io.BytesIO()
    with pytest.raises(KeyError):
        with dral.Writer(out, block_size=500) as writer:
            writer.write_all(RECORDS[:200])
            raise KeyError
    assert out.getvalue() and writer.closed
    with pytest.raises(dral.DralDecodeError, match="Unexpected end of input"):
        dral.loads(out.getvalue())
    dropped = io.BytesIO()
    writer = dral.Writer(dropped, block_size=500)
    writer.write_all(RECORDS[:200])
    with pytest.warns(ResourceWarning):
        del writer
    with pytest.raises(dral.DralDecodeError, match="Unexpected end of input"):
        dral.loads(dropped.getvalue())


@pytest.fixture
def ctrl_c_raises():
    """Python's own SIGINT handler, whatever the run inherited: a run started in the background
    ignores SIGINT, and Python then leaves it ignored."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)


def test_an_interrupted_writer_leaves_a_stream_cut_short(ctrl_c_raises):
    class Interrupting(io.BytesIO):
        def write(self, data):
            written = super().write(data)
            os.kill(os.getpid(), signal.SIGINT)  # as if the user pressed Ctrl-C
            return written

    out = Interrupting()
    with pytest.raises(KeyboardInterrupt):
        with dral.Writer(out, block_size=64) as writer:
            writer.write_all(RECORDS)
    assert 0 < len(out.getvalue()) < len(written(RECORDS, block_size=64))
    with pytest.raises(dral.DralDecodeError):
        dral.loads(out.getvalue())


class FailingFile(io.RawIOBase):
    def writable(self):
        return True

    def write(self, data):
        raise OSError(28, "No space left on device")


def test_writer_options_and_failures():
    data = written([{"b": 1, "a": "v"}] * 3, sort_keys=True, dedup=True, compression="zstd")
    assert dral.loads(data) == [{"a": "v", "b": 1}] * 3 and list(dral.loads(data)[0]) == ["a", "b"]
    out = io.BytesIO()
    writer = dral.Writer(out)
    with pytest.raises(dral.DralTypeError):
        writer.write({1, 2})
    writer.write("after a refused value")
    writer.close()
    assert dral.loads(out.getvalue()) == "after a refused value"
    # A block that could not be written gives the writer up: nothing after it may read as whole.
    for target in ("/dev/full", FailingFile()):
        writer = dral.Writer(target, block_size=100)
        with pytest.raises(OSError):
            writer.write_all(RECORDS)
        assert writer.closed
        with pytest.raises(ValueError, match="closed"):
            writer.write(1)
    for bad, error in (({"compression": "LZ4"}, ValueError), ({"block_size": -1}, OverflowError),
                       ({"dedup": 1}, TypeError)):
        with pytest.raises(error):
            dral.Writer(io.BytesIO(), **bad)
    for make in (dral.Writer, dral.Reader):
        with pytest.raises(TypeError):
            make(42)


def test_parts_of_a_file_read_apart_make_the_whole(tmp_path):
    path = tmp_path / "many.dral"
    with dral.Writer(path, block_size=2000, compression="lz4") as writer:
        writer.write_all(RECORDS)
    blocks = dral.scan_blocks(path)
    assert len(blocks) > 20 and blocks[0][0] == 0
    assert all(start + length == following for (start, length), (following, _) in zip(blocks, blocks[1:]))
    assert blocks == dral.scan_blocks(ReadOnly(path.read_bytes()))  # without seeking too
    parts = [list(dral.Reader(path, start=start, stop=start + length)) for start, length in blocks]
    assert [value for part in parts for value in part] == RECORDS
    first, last = blocks[2][0], blocks[5][0] + blocks[5][1]
    assert list(dral.Reader(path, start=first, stop=last)) == [v for part in parts[2:6] for v in part]


@pytest.mark.parametrize("data, message", [
    (b"", "Unexpected end of input at offset 0"),
    (dral.dumps(1)[:-19], f"Unexpected end of input at offset {len(dral.dumps(1)) - 19}"),
    (b"\x07", "no block header where a block should start"),
])
def test_scanning_needs_a_whole_stream(data, message):
    with pytest.raises(dral.DralDecodeError, match=message):
        dral.scan_blocks(io.BytesIO(data))


def test_a_reader_and_decoder_iterate_once():
    data = written([1, 2, 3])
    decoder = dral.DralDecoder(data)
    assert next(decoder) == 1 and list(decoder) == [2, 3] and list(decoder) == []
    with pytest.raises(dral.DralDecodeError, match="decoder already consumed"):
        decoder.decode_all()
    reader = dral.Reader(io.BytesIO(data))
    assert list(reader) == [1, 2, 3] and list(reader) == []
    reader.close()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert list(dral.Reader(io.BytesIO(data))) == [1, 2, 3]


def test_strict_limits_apply_to_each_block_of_a_reader():
    nested = [[[[1]]]]
    with pytest.raises(dral.DralDecodeError, match="Nesting depth 2 exceeds maximum 2"):
        list(dral.Reader(io.BytesIO(written([1, nested])), max_depth=2))
    big = dral.dumps("s" * (17 << 20))
    with pytest.raises(dral.DralDecodeError, match="String length"):
        list(dral.Reader(io.BytesIO(big)))
    assert list(dral.Reader(io.BytesIO(big), strict=False)) == ["s" * (17 << 20)]
    assert [kind for kind, *_ in split_blocks(big)] == [DATA, END]
