"""Running the `dral` command as a user would: a separate process, real files, pipes."""

import subprocess
import sys


def dral_command(*args: str, stdin: bytes = b"", cwd=None) -> subprocess.CompletedProcess:
    """`python -m dral ARGS` with `stdin` on standard input; output captured as bytes."""
    return subprocess.run([sys.executable, "-m", "dral", *args], input=stdin, capture_output=True, cwd=cwd, timeout=120)


def ok(*args: str, stdin: bytes = b"", cwd=None) -> bytes:
    """Standard output of a run that must succeed silently."""
    run = dral_command(*args, stdin=stdin, cwd=cwd)
    assert (run.returncode, run.stderr) == (0, b""), run.stderr.decode()
    return run.stdout
