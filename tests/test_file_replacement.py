"""Files are replaced whole or not at all, by the library's file writers and by the command's -o:
a file-size limit, a process killed while writing, a place that cannot be written leave the old
file as it was and no temporary file beside it. Each write runs in a child process, which takes
the limit, the umask or the unprivileged user it needs."""

import json
import os
import pwd
import resource
import signal
import stat
import tempfile

import pytest

import dral
import dral.cli
from isolated import run_isolated

VALUE = {"rows": ["x" * 1000] * 200}  # about 200 KB in every output form
OLD = b"the previous, good content"
SIZE_LIMIT = 64 << 10


def finish_to_file(path, inputs):
    encoder = dral.Encoder()
    encoder.encode(VALUE)
    encoder.finish_to_file(path)


def stream_to_file(path, inputs):
    # Blocks far smaller than the rows, so that the file is written while values are still coming.
    with dral.Writer(path, block_size=4096) as writer:
        writer.write_all(VALUE["rows"])


WRITERS = {
    "encode_to_file": lambda path, inputs: dral.encode_to_file(VALUE, path),
    "Encoder.finish_to_file": finish_to_file,
    "Writer": stream_to_file,
    "dral encode -o": lambda path, inputs: dral.cli.main(["encode", inputs["json"], "-o", path]),
    # written piece by piece as the JSON is made
    "dral decode -o": lambda path, inputs: dral.cli.main(["decode", "--indent", "1", inputs["dral"], "-o", path]),
}


def failed(outcome) -> bool:
    """A library writer raised; the command returned exit status 1."""
    return outcome[0] == "raised" or outcome == ("returned", 1)


def succeeded(outcome) -> bool:
    return outcome in {("returned", None), ("returned", 0)}


@pytest.fixture
def folder():
    """A folder every user may enter, emptied and removed afterwards whatever its mode."""
    path = tempfile.mkdtemp()
    os.chmod(path, 0o755)
    yield path
    for root, folders, _ in os.walk(path):
        for name in folders:
            os.chmod(os.path.join(root, name), 0o755)
    for root, folders, files in os.walk(path, topdown=False):
        for name in files:
            os.unlink(os.path.join(root, name))
        for name in folders:
            os.rmdir(os.path.join(root, name))
    os.rmdir(path)


@pytest.fixture
def inputs(folder):
    os.mkdir(os.path.join(folder, "in"))
    paths = {"json": os.path.join(folder, "in", "value.json"), "dral": os.path.join(folder, "in", "value.dral")}
    with open(paths["json"], "w", encoding="utf-8") as f:
        json.dump(VALUE, f)
    with open(paths["dral"], "wb") as f:
        f.write(dral.dumps(VALUE))
    return paths


def written_by(write, inputs, folder) -> bytes:
    """What `write` puts in a file when nothing goes wrong."""
    path = os.path.join(folder, "in", "expected")
    assert succeeded(run_isolated(lambda: write(path, inputs)))
    with open(path, "rb") as f:
        return f.read()


def old_file(folder, name="out") -> str:
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(OLD)
    return path


def read(path) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def size_limited(write, *, killed: bool):
    def call():
        resource.setrlimit(resource.RLIMIT_FSIZE, (SIZE_LIMIT, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
        # Ignored, the signal leaves write() to fail with EFBIG; by default it kills the process.
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL if killed else signal.SIG_IGN)
        return write()
    return call


@pytest.mark.parametrize("killed", [False, True], ids=["failing write", "killed while writing"])
@pytest.mark.parametrize("writer", WRITERS)
def test_a_file_size_limit_leaves_the_old_file(folder, inputs, writer, killed):
    if killed and writer.startswith("dral"):
        pytest.skip("the command runs in the test's interpreter, which ignores SIGXFSZ as every one does")
    target = old_file(os.path.join(folder, "out"))
    outcome = run_isolated(size_limited(lambda: WRITERS[writer](target, inputs), killed=killed))
    assert outcome == ("died", "SIGXFSZ") if killed else failed(outcome), outcome
    if not killed and writer in ("encode_to_file", "Encoder.finish_to_file", "Writer"):
        assert outcome[1] == "OSError" and "File too large" in outcome[2]
    assert read(target) == OLD
    if not killed:  # a killed process cannot clean up after itself
        assert os.listdir(os.path.dirname(target)) == ["out"]


def unprivileged(call):
    """`call` as a user without the superuser's power to write anywhere."""
    def as_nobody():
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.setgid(nobody.pw_gid)
            os.setuid(nobody.pw_uid)
        return call()
    return as_nobody


def give_to_nobody(*paths):
    if os.geteuid() == 0:
        nobody = pwd.getpwnam("nobody")
        for path in paths:
            os.chown(path, nobody.pw_uid, nobody.pw_gid)


def read_only_folder(folder):
    """A writable file in a folder that cannot be written: it cannot be replaced."""
    target = old_file(os.path.join(folder, "out"))
    give_to_nobody(target)
    os.chmod(os.path.dirname(target), 0o555)
    return target


def read_only_file(folder):
    target = old_file(os.path.join(folder, "out"))
    give_to_nobody(os.path.dirname(target), target)
    os.chmod(target, 0o444)
    return target


def a_folder(folder):
    target = os.path.join(folder, "out", "inner")
    os.makedirs(target)
    give_to_nobody(os.path.dirname(target), target)
    return target


def missing_folder_with_a_slash(folder):
    os.mkdir(os.path.join(folder, "out"))
    give_to_nobody(os.path.join(folder, "out"))
    return os.path.join(folder, "out", "missing") + os.sep


# case: (make the target, the exception the library raises)
UNWRITABLE = {
    "read-only folder": (read_only_folder, "PermissionError"),
    "read-only file": (read_only_file, "PermissionError"),
    "a folder": (a_folder, "IsADirectoryError"),
    "a missing folder, with a slash": (missing_folder_with_a_slash, "IsADirectoryError"),
}


@pytest.mark.parametrize("case", UNWRITABLE)
@pytest.mark.parametrize("writer", WRITERS)
def test_what_cannot_be_written_is_left_as_it_was(folder, inputs, writer, case):
    make, exception = UNWRITABLE[case]
    target = make(folder)
    parent = os.path.join(folder, "out")
    before = sorted(os.listdir(parent))
    outcome = run_isolated(unprivileged(lambda: WRITERS[writer](target, inputs)))
    assert failed(outcome), outcome
    if outcome[0] == "raised":
        assert outcome[1] == exception
    assert sorted(os.listdir(parent)) == before
    if os.path.isfile(target):
        assert read(target) == OLD
    elif os.path.isdir(target):
        assert os.listdir(target) == []


def mode(path) -> int:
    return stat.S_IMODE(os.stat(path).st_mode)


@pytest.mark.parametrize("writer", WRITERS)
def test_modes_links_and_devices(folder, inputs, writer):
    write = WRITERS[writer]
    expected = written_by(write, inputs, folder)
    out = os.path.join(folder, "out")
    os.mkdir(out)

    def with_umask(path):
        os.umask(0o027)
        return write(path, inputs)

    # A new file gets what the umask leaves; an existing one keeps its permission bits.
    fresh = os.path.join(out, "fresh")
    assert succeeded(run_isolated(lambda: with_umask(fresh)))
    assert (read(fresh), mode(fresh)) == (expected, 0o640)
    for bits in (0o600, 0o755):
        kept = old_file(out, f"kept-{bits:o}")
        os.chmod(kept, bits)
        assert succeeded(run_isolated(lambda: with_umask(kept)))
        assert (read(kept), mode(kept)) == (expected, bits)
    # A link stays a link to the file that now holds the output.
    linked = old_file(out, "linked")
    os.symlink("linked", os.path.join(out, "link"))
    assert succeeded(run_isolated(lambda: write(os.path.join(out, "link"), inputs)))
    assert os.readlink(os.path.join(out, "link")) == "linked" and read(linked) == expected
    # A device is written to, never replaced.
    assert succeeded(run_isolated(lambda: write(os.devnull, inputs)))
    assert stat.S_ISCHR(os.stat(os.devnull).st_mode)
    assert sorted(os.listdir(out)) == ["fresh", "kept-600", "kept-755", "link", "linked"]
