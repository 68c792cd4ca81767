"""Output files that are either the old file or the complete new one, never a part of either.

The output goes to a new file beside the target, which takes the target's name only once it is
complete and on disk: a full disk, a file-size limit or a crash leaves the old file as it was,
and every failure the process lives through removes the new one. This is what the library's
`encode_to_file` does for a stream it holds whole; here the output is written as it is made.
"""

from __future__ import annotations

import errno
import os
import stat
from collections.abc import Iterator
from contextlib import contextmanager
from typing import BinaryIO

# Room left in a file name for the parts a temporary name adds to the target's.
_MAX_NAME_STEM = 200


def _refused(code: int, path: str) -> OSError:
    return OSError(code, os.strerror(code), path)


@contextmanager
def replacing(path: str) -> Iterator[BinaryIO]:
    """A stream whose content replaces the file at `path` when the block ends without an error.

    A new file gets the permissions of any new file (the umask applies); an existing one keeps
    its permission bits, and is refused, as opening it for writing would refuse it, when it is not
    writable. A target that exists but is not a regular file (a device, a pipe) is written in
    place. Symbolic links are followed, so the link stays a link.
    """
    try:
        status: os.stat_result | None = os.stat(path)
    except FileNotFoundError:
        status = None
    if status is None and path.endswith(os.sep):
        raise _refused(errno.EISDIR, path)  # a folder is meant, and there is none
    if status is not None and stat.S_ISDIR(status.st_mode):
        raise _refused(errno.EISDIR, path)
    if status is not None and not stat.S_ISREG(status.st_mode):
        with open(path, "wb") as stream:
            yield stream
        return
    if status is not None and not os.access(path, os.W_OK, effective_ids=True):
        raise _refused(errno.EACCES, path)
    target = os.path.realpath(path)
    fd, temporary = _create_beside(target)
    try:
        with open(fd, "wb") as stream:
            if status is not None:
                os.fchmod(stream.fileno(), stat.S_IMODE(status.st_mode) & 0o777)
            yield stream
            stream.flush()
            # On disk before it takes the name: a crash soon after must not leave an empty file.
            os.fsync(stream.fileno())
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def _create_beside(target: str) -> tuple[int, str]:
    """A new file in the folder of `target`, hidden and telling whose it is, and its name. The
    name need not be secret: the file is created exclusively."""
    folder, name = os.path.split(target)
    stem = os.fsdecode(os.fsencode(name)[:_MAX_NAME_STEM])
    while True:
        temporary = os.path.join(folder, f".{stem}.{os.urandom(6).hex()}.tmp")
        try:
            # The mode a new file gets, the umask and any default ACL applied.
            return os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666), temporary
        except FileExistsError:
            continue
