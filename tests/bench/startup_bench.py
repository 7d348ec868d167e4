#!/usr/bin/python3
"""Benchmark of the client's start-up: prints figures, asserts nothing.

- time from starting the process to its main window existing (titled, still
  hidden while the servers are measured) and to the window being visible,
  with no echo responder (every server fails at once), English and Chinese;
  the first start of a fresh world is reported on its own;
- time from pressing Exit to the end of the process;
- the executable's size and the DLLs it imports.

Runs inside its own sealed namespace, like the end-to-end tests:
    KIVO_BUILD_DIR=build /usr/bin/python3 tests/bench/startup_bench.py [rounds]
"""

import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

from harness import World, arch, sandbox, wait_until  # noqa: E402

TITLE = "Kivoline"
IDCANCEL = 2
LOCALES = ("en_US.UTF-8", "zh_CN.UTF-8")


def one_start(w, locale):
    """(seconds to the titled window, seconds to the visible window, seconds
    from Exit to the end of the process) of one start."""
    d = w.driver
    started = time.monotonic()
    app = w.start_app(locale=locale, ras="en")
    created = wait_until(lambda: d.find_window(TITLE, hidden=True) and time.monotonic(), 60, interval=0.005)
    hwnd = wait_until(lambda: d.find_window(TITLE), 60, interval=0.005)
    shown = time.monotonic()
    exit_button = d.child(hwnd, IDCANCEL)["hwnd"]
    pressed = time.monotonic()
    d.click(exit_button)
    app.wait_exit(60)
    ended = time.monotonic()
    return created - started, shown - started, ended - pressed


def summary(values):
    ms = [v * 1000 for v in values]
    return (f"median {statistics.median(ms):7.1f} ms  min {min(ms):7.1f}  max {max(ms):7.1f}"
            f"  (n={len(ms)})")


def imported_dlls(exe):
    name = f"{arch.current().mingw}-objdump"
    objdump = shutil.which(name)
    if not objdump:
        return [f"({name} not found)"]
    out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=False).stdout
    return sorted({line.split(":", 1)[1].strip() for line in out.splitlines() if "DLL Name:" in line})


def main(argv):
    rounds = int(argv[1]) if len(argv) > 1 else 7
    sandbox.enter()
    with World(name="startup_bench") as w:
        exe = w.client_exe()
        size = os.path.getsize(exe)
        print(f"KivoVpn.exe: {size} bytes ({size / 1024:.1f} KiB)")
        print(f"imports: {', '.join(imported_dlls(exe))}")
        first = one_start(w, LOCALES[0])
        print(f"first start in a fresh world ({LOCALES[0]}): titled window {first[0] * 1000:.1f} ms, "
              f"visible {first[1] * 1000:.1f} ms, Exit to process end {first[2] * 1000:.1f} ms")
        for locale in LOCALES:
            runs = [one_start(w, locale) for _ in range(rounds)]
            print(f"{locale}:")
            print(f"  process start to titled window   {summary([r[0] for r in runs])}")
            print(f"  process start to visible window  {summary([r[1] for r in runs])}")
            print(f"  Exit to the end of the process   {summary([r[2] for r in runs])}")
        print("(under Wine on Xvfb, every hidden top-level window waits 2 s for a window manager;"
              " the Exit figure includes that wait for the dialog and the tray icon)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
