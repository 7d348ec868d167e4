"""The X display of a World: a private Xvfb, or the caller's own display.

Xvfb listens on an abstract socket (which belongs to the network namespace)
and on /tmp/.X11-unix; it is started after entering the sandbox, on the
first free display number (-displayfd), without TCP.
"""

import ctypes
import io
import os
import select
import signal
import subprocess

from PIL import Image

PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL("libc.so.6", use_errno=True)


def die_with_parent():
    """preexec_fn: the child is killed when the process that started it ends."""
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def reachable(display, timeout=5):
    if not display:
        return False
    try:
        return subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


class Xvfb:
    def __init__(self, width=1024, height=768, depth=24, env=None):
        self.size = (width, height, depth)
        self.env = env
        self.process = None
        self.display = None

    def start(self, timeout=15):
        read_fd, write_fd = os.pipe()
        width, height, depth = self.size
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x{depth}",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_fd,), env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
            os.close(write_fd)
            write_fd = None
            data = b""
            while not data.endswith(b"\n"):
                ready, _, _ = select.select([read_fd], [], [], timeout)
                chunk = os.read(read_fd, 64) if ready else b""
                if not chunk:
                    raise RuntimeError("Xvfb did not report a display")
                data += chunk
            self.display = ":" + data.decode().strip()
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)
        return self.display

    def stop(self):
        if self.process is None:
            return
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process = None


class Screen:
    """Screenshots and the real pointer of one display."""

    def __init__(self, display):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display)

    def grab(self, rect=None):
        """The whole screen, or the rectangle (left, top, right, bottom) of it,
        as a PIL RGB image."""
        png = subprocess.run(["import", "-display", self.display, "-window", "root", "png:-"],
                             capture_output=True, check=True, timeout=30, env=self.env).stdout
        image = Image.open(io.BytesIO(png)).convert("RGB")
        if rect is None:
            return image
        left, top, right, bottom = rect
        box = (max(0, left), max(0, top), min(image.width, right), min(image.height, bottom))
        if box[0] >= box[2] or box[1] >= box[3]:
            raise ValueError(f"rectangle {rect} is off the screen {image.size}")
        return image.crop(box)

    def _xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], check=True, timeout=15, env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def mouse_move(self, x, y):
        self._xdotool("mousemove", "--sync", x, y)

    def mouse_click(self, x, y, button=1, repeat=1):
        self._xdotool("mousemove", "--sync", x, y, "click", "--repeat", repeat, "--delay", 80, button)

    def mouse_position(self):
        out = subprocess.run(["xdotool", "getmouselocation", "--shell"], capture_output=True, text=True,
                             check=True, timeout=15, env=self.env).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def key(self, *keys):
        """Real key presses (xdotool key names, e.g. "Escape", "ctrl+a") to the focused window."""
        self._xdotool("key", *keys)

    def type(self, text):
        self._xdotool("type", "--delay", 20, text)
