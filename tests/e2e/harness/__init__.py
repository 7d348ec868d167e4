"""Test rig for the end-to-end tests: a sealed namespace, a Wine world on an
X display, and a driver that operates the windows of the programs under test.

    from harness import sandbox, World
    sandbox.enter()
    with World() as w:
        app = w.start_app(locale="en_US.UTF-8", ras="en")
        hwnd = app.wait_window("Kivoline", visible=True, timeout=20)
        d = w.driver

Names are imported on first use, so that `python3 -m harness.<module>` runs
a module that the package has not loaded yet.
"""

import importlib

_EXPORTS = {
    "World": "world", "App": "world", "AppExited": "world",
    "Driver": "driver", "DriverError": "driver", "DriverTimeout": "driver",
    "WaitTimeout": "wait", "wait_until": "wait", "wait_stable": "wait",
}
_MODULES = {"arch", "sandbox", "world", "driver", "wait", "procs", "prefix", "wine", "locales", "endpoints", "xserver",
            "demo", "sealed", "resource_ids"}

__all__ = sorted(_EXPORTS) + ["sandbox"]


def __getattr__(name):
    if name in _EXPORTS:
        return getattr(importlib.import_module(f".{_EXPORTS[name]}", __name__), name)
    if name in _MODULES:
        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'harness' has no attribute {name!r}")
