"""Test rig for the end-to-end tests: a sealed namespace, a Wine world on an
X display, and a driver that operates the windows of the programs under test.

    from harness import sandbox, World
    sandbox.enter()
    with World() as w:
        app = w.start_app(locale="en_US.UTF-8", ras="en")
        hwnd = app.wait_window("Kivoline", visible=True, timeout=20)
        d = w.driver
"""

from . import sandbox
from .driver import Driver, DriverError, DriverTimeout
from .wait import WaitTimeout, wait_stable, wait_until
from .world import App, AppExited, World

__all__ = ["sandbox", "World", "App", "AppExited", "Driver", "DriverError", "DriverTimeout", "WaitTimeout",
           "wait_until", "wait_stable"]
