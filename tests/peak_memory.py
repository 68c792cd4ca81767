"""The peak resident memory a call adds, measured in the process that runs it (a forked child,
see isolated.py): VmHWM is reset first, since a child starts with its parent's peak."""

import gc

from isolated import _status


def peak_growth(call) -> tuple[str, int]:
    """What `call()` raised (or "returned") and how many bytes its peak lay above the start."""
    gc.collect()
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # the peak restarts from the current resident size
    start = _status("VmRSS")
    try:
        call()
        outcome = "returned"
    except Exception as error:  # noqa: BLE001 - the outcome is reported
        outcome = type(error).__name__
    return outcome, _status("VmHWM") - start
