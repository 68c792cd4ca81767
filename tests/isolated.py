"""Runs a call in a child process under an address-space and a CPU-time limit, so that a crash, a
runaway allocation or a hang fails the test that caused it instead of the whole run (or the
machine).

run_isolated forks the test process. run_fresh forks a new interpreter instead, whose heap holds no
free memory left over from earlier tests, for calls that must run out of memory at a known point."""

import ctypes
import importlib
import math
import os
import pickle
import resource
import select
import signal
import subprocess
import sys

GIB = 1 << 30


def _status(field: str) -> int:
    """A size in /proc/self/status, in bytes."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def _address_space() -> int:
    return _status("VmSize")


def _peak_from_here() -> int:
    """Resets the child's peak resident size to what it holds now and returns that. VmHWM is the
    child's own (ru_maxrss would report the parent's peak, which a fork carries over)."""
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    return _status("VmHWM")


def _sanitized() -> bool:
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


# AddressSanitizer reserves terabytes of address space up front, so under it only the CPU limit
# applies, and that one stretched: it runs code several times slower, in larger stack frames.
SANITIZED = _sanitized()
SLOWDOWN = 5 if SANITIZED else 1
# The small thread stack that native recursion must fit. AddressSanitizer surrounds the locals of
# every frame with guard zones, so deep recursion needs many times the stack of a plain build.
SMALL_STACK_SIZE = 256 * 1024 * (16 if SANITIZED else 1)
LIBC = ctypes.CDLL(None)


# glibc's mallopt parameters, and their defaults
M_TRIM_THRESHOLD, M_MMAP_THRESHOLD = -1, -3
DEFAULT_THRESHOLD = 128 * 1024


def _limit(memory: int, cpu_seconds: int) -> None:
    if not SANITIZED:
        # Free memory a child inherits is reused without growing its address space: give back
        # what the allocator can before measuring. Large frees earlier in the run raise glibc's
        # mmap threshold (up to 32 MiB, below which large buffers grow by copying on the heap
        # instead of being remapped) and its trim threshold (up to 64 MiB of freed memory kept):
        # both are set back to a fresh process's.
        LIBC.malloc_trim(0)
        LIBC.mallopt(M_MMAP_THRESHOLD, DEFAULT_THRESHOLD)
        LIBC.mallopt(M_TRIM_THRESHOLD, DEFAULT_THRESHOLD)
        limit = _address_space() + memory
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    # The limit is on the child's whole CPU time: what it spent preparing the call is not the call's.
    usage = resource.getrusage(resource.RUSAGE_SELF)
    seconds = math.ceil(usage.ru_utime + usage.ru_stime) + cpu_seconds * SLOWDOWN
    resource.setrlimit(resource.RLIMIT_CPU, (seconds, seconds + 1))


def _outcome(call, measure_peak: bool) -> bytes:
    start = _peak_from_here() if measure_peak else 0
    try:
        outcome = ("returned", call())
    except BaseException as error:  # noqa: BLE001 - every outcome is reported
        outcome = ("raised", type(error).__name__, str(error))
    if measure_peak:
        outcome = (outcome, _status("VmHWM") - start)
    return pickle.dumps(outcome)


def _died(cpu_seconds: int, signum: int = 0, exit_code: int = 0):
    if signum == signal.SIGXCPU:
        return ("died", f"more than {cpu_seconds * SLOWDOWN} s of CPU time")
    if signum:
        return ("died", signal.Signals(signum).name)
    return ("died", f"exit status {exit_code}")


def run_isolated(call, *, memory: int = GIB, cpu_seconds: int = 2, wall_seconds: float = 30.0,
                 prepare: bool = False, measure_peak: bool = False):
    """What `call()` did in a forked child allowed `memory` bytes of address space beyond what it
    inherits and `cpu_seconds` of CPU time: ("returned", its result), ("raised", exception class
    name, message) or ("died", how). The result must pickle. With `prepare`, `call()` runs first
    without limits and returns the call to run under them. With `measure_peak`, the outcome comes
    with the most memory the call held resident beyond what the child held before it (bytes):
    (outcome, peak); a child that died has no peak."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:  # the child: never returns into the test run
        status = 1
        try:
            os.close(read_end)
            if prepare:
                call = call()
            _limit(memory, cpu_seconds)
            data = _outcome(call, measure_peak)
            with os.fdopen(write_end, "wb") as pipe:
                pipe.write(data)
            status = 0
        finally:
            os._exit(status)
    os.close(write_end)
    chunks = []
    with os.fdopen(read_end, "rb") as pipe:
        while True:
            ready, _, _ = select.select([pipe], [], [], wall_seconds)
            if not ready:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                died = ("died", f"no answer within {wall_seconds} s")
                return (died, None) if measure_peak else died
            chunk = pipe.read1(1 << 16)
            if not chunk:
                break
            chunks.append(chunk)
    _, status = os.waitpid(pid, 0)
    if os.WIFSIGNALED(status):
        died = _died(cpu_seconds, signum=os.WTERMSIG(status))
    elif not chunks:
        died = _died(cpu_seconds, exit_code=os.WEXITSTATUS(status))
    else:
        return pickle.loads(b"".join(chunks))
    return (died, None) if measure_peak else died


def run_fresh(module: str, names: list[str], *, memory: int, cpu_seconds: int = 2,
              wall_seconds: float = 120.0, measure_peak: bool = False) -> dict:
    """run_isolated(lambda: module.prepare(name), prepare=True, measure_peak=measure_peak) for
    each name, forked from a new interpreter that only imported `module`: the outcomes by name."""
    command = [sys.executable, __file__, module, str(memory), str(cpu_seconds),
               str(int(measure_peak)), *names]
    here = os.path.dirname(os.path.abspath(__file__))
    child = subprocess.run(command, capture_output=True, timeout=wall_seconds, cwd=here, check=True)
    return pickle.loads(child.stdout)


if __name__ == "__main__":  # the interpreter of run_fresh
    module_name, memory_text, cpu_text, peak_text, *case_names = sys.argv[1:]
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    cases = importlib.import_module(module_name)
    outcomes = {
        name: run_isolated(lambda: cases.prepare(name), memory=int(memory_text),
                           cpu_seconds=int(cpu_text), prepare=True, measure_peak=peak_text == "1")
        for name in case_names
    }
    sys.stdout.buffer.write(pickle.dumps(outcomes))
