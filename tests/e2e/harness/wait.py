"""Waiting for conditions: poll until true or until time runs out."""

import time


class WaitTimeout(AssertionError):
    """A condition did not come true in time (an assertion failure in a test)."""


def wait_until(condition, timeout=10.0, interval=0.05, message=None, ignore=()):
    """Calls `condition` until it returns something truthy and returns that.

    Exceptions of the types in `ignore` count as "not yet". When the time
    runs out, raises WaitTimeout naming `message` and the last value seen.
    """
    deadline = time.monotonic() + timeout
    last = None
    while True:
        try:
            last = condition()
            if last:
                return last
        except ignore as error:  # noqa: PERF203 - polling on purpose
            last = error
        if time.monotonic() >= deadline:
            what = message or getattr(condition, "__name__", "condition")
            raise WaitTimeout(f"timed out after {timeout} s waiting for {what} (last: {last!r})")
        time.sleep(interval)


def wait_stable(read, duration=0.5, timeout=10.0, interval=0.05):
    """Waits until `read()` returns the same value for `duration` seconds and
    returns it (e.g. a window that has stopped repainting)."""
    deadline = time.monotonic() + timeout
    value = read()
    since = time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(interval)
        current = read()
        if current != value:
            value, since = current, time.monotonic()
        elif time.monotonic() - since >= duration:
            return value
    raise WaitTimeout(f"value did not settle within {timeout} s (last: {value!r})")
