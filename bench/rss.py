"""Resident memory of this process, for peak-memory measurements in fresh processes."""

from __future__ import annotations


def status_bytes(field: str) -> int:
    with open("/proc/self/status") as fh:
        for line in fh:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def reset_peak() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as fh:
            fh.write("5")  # 5 = reset the peak-RSS counter to the current RSS
        return True
    except OSError:
        return False


def trim_heap() -> None:
    # Hand freed heap back to the OS so the call must fault in what it uses;
    # otherwise it could reuse memory freed earlier and look cheaper.
    try:
        import ctypes
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except (OSError, AttributeError):
        pass
