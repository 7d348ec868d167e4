"""A World: one sealed Wine session for one test script.

    from harness import sandbox, World
    sandbox.enter()
    with World() as w:
        w.map_host("update.kivoline.example", "127.0.0.1")
        app = w.start_app(locale="en_US.UTF-8", ras="en")
        hwnd = app.wait_window("Kivoline", visible=True, timeout=20)
        ...

On entry a World checks that it runs sealed, makes sure the build tree's
Wine prefix exists, starts an X display (a private Xvfb unless told to use
an existing one), a persistent wineserver and the driver. On exit (also on
an exception, Ctrl-C or SIGTERM) it ends every process it started: the
programs, the driver, the wineserver, Xvfb, and, as a sweep, anything else
that carries its mark; a reaper process does the same if the script itself
is killed. When the block fails, a screenshot of the whole screen is saved
in the run directory first.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import uuid

from . import prefix, procs, sandbox, wine
from .driver import Driver, DriverError
from .wait import WaitTimeout, wait_until
from .xserver import Screen, Xvfb, reachable

HARNESS_PARENT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RAS_FLAVOURS = ("en", "zhcn", "zhtw", "none")
APP_TAG = "KIVO_APP_TAG"


class AppExited(AssertionError):
    pass


def _script_name():
    main = sys.modules.get("__main__")
    path = getattr(main, "__file__", None) or "session"
    return os.path.splitext(os.path.basename(path))[0]


class World:
    # Worlds started so far by this process, per name: the first one clears
    # the name's old run directories, later ones get their own.
    _started = {}

    def __init__(self, build_dir=None, display=None, screen=(1024, 768, 24), name=None, driver_locale="en_US.UTF-8",
                 fonts="en", dpi=prefix.BASE_DPI, profile=None):
        """display: None for a private Xvfb, "auto" for $DISPLAY when it can be
        reached (else Xvfb), or a display name that must be reachable.
        fonts: "en" (Wine's fonts) or "cjk" (Chinese glyphs at the same dialog
        metrics), see harness.prefix; only screenshots of Chinese texts need
        "cjk".
        dpi: the session's DPI (LogPixels), in a prefix of its own unless 96.
        profile: a user profile folder name (say "张伟") under which the
        user's AppData and Local AppData lie, in a prefix of its own."""
        self.fonts = fonts
        self.dpi = dpi
        self.profile = profile
        self.build_dir = os.path.abspath(build_dir) if build_dir else prefix.build_dir()
        self.name = name or _script_name()
        self._display_choice = display
        self._screen_size = screen
        self._driver_locale = driver_locale
        self.id = None
        self.prefix = None
        self.prefix_seconds = None
        self.tmpdir = None
        self.run_dir = None
        self.display = None
        self.screen = None
        self.server = None
        self.driver = None
        self.apps = []
        self._xvfb = None
        self._reaper = None
        self._old_sigterm = None
        self._log_count = 0
        self._xauthority = None

    # --- lifetime ---------------------------------------------------------
    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None and self.screen is not None:
            self.save_failure_screenshot()
        self.close()
        return False

    def start(self):
        sandbox.require_sealed("a Wine world")
        self.id = uuid.uuid4().hex
        if threading.current_thread() is threading.main_thread():
            self._old_sigterm = signal.signal(signal.SIGTERM, _raise_interrupt)
        self.prefix, self.prefix_seconds = prefix.ensure(self.build_dir, fonts=self.fonts, dpi=self.dpi,
                                                            profile=self.profile)
        self.tmpdir = tempfile.mkdtemp(prefix="kw-")
        self.run_dir = self._fresh_run_dir()
        self._start_reaper()
        self._start_display()
        self.server = wine.WineServer(self.env())
        self.server.start()
        self.driver = Driver(self.driver_exe(), self.env(locale=self._driver_locale), cwd=self.run_dir,
                             log_path=self._log_path("driver"))
        # The first Wine program of a session boots it (services, desktop);
        # doing that here keeps it out of the first test's timings.
        self.driver.info()

    def _fresh_run_dir(self):
        runs = os.path.join(self.build_dir, "e2e-runs")
        count = World._started.get(self.name, 0) + 1
        World._started[self.name] = count
        if count == 1 and os.path.isdir(runs):
            for entry in os.listdir(runs):
                if entry == self.name or entry.startswith(self.name + "-"):
                    shutil.rmtree(os.path.join(runs, entry), ignore_errors=True)
        path = os.path.join(runs, self.name if count == 1 else f"{self.name}-{count}")
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def close(self):
        # A second SIGTERM must not cut the clean-up short.
        if self._old_sigterm is not None:
            signal.signal(signal.SIGTERM, signal.SIG_IGN)
        steps = [
            lambda: self.driver and self.driver.close(),
            self._kill_apps,
            lambda: self.server and self.server.stop(),
            lambda: self.id and procs.kill_marked(self.id),
            lambda: self._xvfb and self._xvfb.stop(),
            self._stop_reaper,
            lambda: self.tmpdir and shutil.rmtree(self.tmpdir, ignore_errors=True),
        ]
        for step in steps:
            try:
                step()
            except Exception as error:  # keep closing; the test's own error matters more
                print(f"harness: while closing the world: {error!r}", file=sys.stderr)
        self.driver = self.server = self._xvfb = None
        if self._old_sigterm is not None:
            signal.signal(signal.SIGTERM, self._old_sigterm)
            self._old_sigterm = None

    def _start_reaper(self):
        env = {k: v for k, v in os.environ.items() if k != procs.MARK}
        env["PYTHONPATH"] = HARNESS_PARENT
        command = [sys.executable, "-m", "harness.reaper", str(os.getpid()), self.id, self.tmpdir]
        self._reaper = subprocess.Popen(command, env=env, cwd=HARNESS_PARENT, start_new_session=True,
                                        stdin=subprocess.DEVNULL)

    def _stop_reaper(self):
        if self._reaper is None:
            return
        self._reaper.terminate()
        try:
            self._reaper.wait(10)
        except subprocess.TimeoutExpired:
            self._reaper.kill()
            self._reaper.wait()
        self._reaper = None

    def _start_display(self):
        choice = self._display_choice
        if choice == "auto":
            choice = os.environ.get("DISPLAY") if reachable(os.environ.get("DISPLAY")) else None
        if choice:
            if not reachable(choice):
                raise RuntimeError(f"display {choice} cannot be reached from the sandbox")
            self.display = choice
            self._xauthority = os.environ.get("XAUTHORITY")
        else:
            width, height, depth = self._screen_size
            self._xvfb = Xvfb(width, height, depth, env=dict(os.environ, **{procs.MARK: self.id}))
            self.display = self._xvfb.start()
        self.screen = Screen(self.display)

    def _kill_apps(self):
        for app in self.apps:
            app.kill()

    # --- environment ------------------------------------------------------
    def env(self, locale="en_US.UTF-8", extra=None, overrides=None):
        """The environment of a Wine program in this world."""
        extra = dict(extra or {})
        if self._xauthority:
            extra.setdefault("XAUTHORITY", self._xauthority)
        return wine.wine_env(self.prefix, self.tmpdir, self.id, display=self.display, locale=locale,
                             overrides=wine.merge_overrides(wine.DEFAULT_OVERRIDES, overrides), extra=extra)

    @property
    def on_xvfb(self):
        """True when the world runs on its own Xvfb (not on a real display)."""
        return self._xvfb is not None

    def driver_exe(self):
        return os.path.join(self.build_dir, "tests", "driver", "kivo_driver.exe")

    def client_exe(self):
        return os.path.join(self.build_dir, "KivoVpn.exe")

    def ras_double(self, flavour):
        return os.path.join(self.build_dir, "tests", "doubles", f"ras_{flavour}", "rasapi32.dll")

    def _log_path(self, stem):
        self._log_count += 1
        return os.path.join(self.run_dir, f"{self._log_count:02d}-{stem}.log")

    def map_host(self, name, address):
        sandbox.map_host(name, address)

    # --- programs ---------------------------------------------------------
    def start_app(self, locale="en_US.UTF-8", ras="en", env=None, args=(), exe=None, files=(), folder=None):
        """Starts the client: KivoVpn.exe (or `exe`) and, unless ras is None,
        the RAS double of that flavour ("en", "zhcn", "zhtw", "none") are
        copied into the run directory (or `folder`) and started with rasapi32=n. The
        double's control directory is <run dir>/ras (KIVO_RAS_DIR); app.ras
        drives it when harness.ras_double is available."""
        sandbox.require_sealed("the client")
        extra = dict(env or {})
        overrides = None
        copies = list(files)
        ras_dir = None
        if ras is not None:
            if ras not in RAS_FLAVOURS:
                raise ValueError(f"unknown RAS double flavour {ras!r}; one of {RAS_FLAVOURS}")
            dll = self.ras_double(ras)
            if not os.path.exists(dll):
                raise FileNotFoundError(f"RAS double {dll} is not built")
            copies.append(dll)
            overrides = "rasapi32=n"
            ras_dir = os.path.join(self.run_dir, "ras")
            os.makedirs(ras_dir, exist_ok=True)
            extra.setdefault("KIVO_RAS_DIR", ras_dir)
        app = self.start_program(exe or self.client_exe(), args=args, locale=locale, env=extra,
                                 overrides=overrides, files=copies, folder=folder)
        app.ras = _ras_control(extra.get("KIVO_RAS_DIR")) if ras_dir else None
        return app

    def start_program(self, exe, args=(), locale="en_US.UTF-8", env=None, overrides=None, files=(), copy=True,
                      folder=None):
        """Starts a Windows program under Wine in the run directory (copied
        with `files` into the run directory, or into `folder` (made if
        missing), unless copy=False) and returns its App."""
        sandbox.require_sealed("a Wine program")
        if not os.path.exists(exe):
            raise FileNotFoundError(f"{exe} is not built")
        path = exe
        if copy:
            target = folder or self.run_dir
            os.makedirs(target, exist_ok=True)
            for item in [exe, *files]:
                _install(item, target)
            path = os.path.join(target, os.path.basename(exe))
        tag = uuid.uuid4().hex
        extra = dict(env or {})
        extra[APP_TAG] = tag
        log_path = self._log_path(os.path.splitext(os.path.basename(exe))[0])
        with open(log_path, "wb") as log:
            process = subprocess.Popen(wine.command(path, *args), cwd=self.run_dir,
                                       env=self.env(locale=locale, extra=extra, overrides=overrides),
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        app = App(self, process, path, tag, log_path)
        self.apps.append(app)
        return app

    # --- screen -------------------------------------------------------------
    def screenshot(self, hwnd=None, rect=None):
        """PIL image of a window's screen rectangle (or of `rect`, or the screen)."""
        if hwnd is not None:
            rect = self.driver.rect(hwnd)
        return self.screen.grab(rect)

    def save_screenshot(self, name, hwnd=None):
        path = os.path.join(self.run_dir, name)
        self.screenshot(hwnd).save(path)
        return path

    def save_failure_screenshot(self):
        try:
            path = self.save_screenshot("failure.png")
            print(f"harness: screen at the failure saved to {path}", file=sys.stderr)
        except Exception as error:
            print(f"harness: no failure screenshot: {error!r}", file=sys.stderr)

    def mouse_move(self, x, y):
        self.screen.mouse_move(x, y)

    def mouse_click(self, x, y, button=1, repeat=1):
        self.screen.mouse_click(x, y, button, repeat)

    # --- waiting ------------------------------------------------------------
    def wait(self, condition, timeout=10.0, interval=0.05, message=None):
        return wait_until(condition, timeout, interval, message)


class App:
    """A program started by a World."""

    def __init__(self, world, process, path, tag, log_path):
        self.world = world
        self.process = process
        self.path = path
        self.tag = tag
        self.log_path = log_path
        self.ras = None
        self._win_pid = None

    @property
    def pid(self):
        """The Unix pid of the program's Wine process."""
        return self.process.pid

    @property
    def driver(self):
        return self.world.driver

    def running(self):
        return self.process.poll() is None

    def _find_win_pid(self):
        name = os.path.basename(self.path).lower()
        for p in self.driver.processes():
            if p["exe"].lower() != name:
                continue
            try:
                if self.driver.process_env(p["pid"]).get(APP_TAG) == self.tag:
                    return p["pid"]
            except DriverError:
                continue
        return None

    @property
    def win_pid(self):
        """The program's Windows process id (found by its tag in its environment)."""
        if self._win_pid is None:
            self._win_pid = wait_until(lambda: self._check_running() and self._find_win_pid(), timeout=15,
                                       message=f"the Windows process of {self.path}")
            self.driver.watch(self._win_pid)
        return self._win_pid

    def _check_running(self):
        if not self.running():
            raise AppExited(f"{os.path.basename(self.path)} ended with code {self.process.returncode}; "
                            f"log: {self.log_path}")
        return True

    def wait_window(self, title="Kivoline", visible=True, timeout=20, cls=None):
        """Waits for a top-level window of this program with this title (and
        class), visible unless visible=False; returns its handle."""
        pid = self.win_pid

        def find():
            self._check_running()
            hwnd = self.driver.find_window(title, cls, hidden=not visible, pid=pid)
            if hwnd and visible and not self.driver.visible(hwnd):
                return 0
            return hwnd

        return wait_until(find, timeout, message=f"window {title!r} of {os.path.basename(self.path)}")

    def windows(self, hidden=True):
        return self.driver.process_windows(self.win_pid, hidden=hidden)

    def dialogs(self):
        """This program's visible dialog boxes (its main dialog included)."""
        return self.driver.dialogs(pid=self.win_pid)

    def message_boxes(self):
        """This program's visible message boxes: dicts with caption, message,
        texts, buttons [{hwnd, id, text, enabled}] and icon."""
        return [box for box in self.dialogs() if box["message_box"]]

    def wait_message_box(self, caption=None, timeout=10):
        def find():
            boxes = [b for b in self.message_boxes() if caption is None or b["caption"] == caption]
            return boxes[0] if boxes else None

        return wait_until(find, timeout, message=f"a message box {caption or ''}".strip())

    def wait_exit(self, timeout=20):
        """Waits for the end of the program and returns its exit code (all 32
        bits when the Windows process was found while it ran, else the low
        8 bits that Unix keeps)."""
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise WaitTimeout(f"{os.path.basename(self.path)} still runs after {timeout} s") from None
        return self.exit_code

    @property
    def exit_code(self):
        if self.process.poll() is None:
            return None
        if self._win_pid is not None:
            try:
                state = self.driver.exit_code(self._win_pid)
                if not state["running"]:
                    return state["code"]
            except DriverError:
                pass
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            pass

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")


def _install(source, directory):
    """Copies a file into `directory` by replacing it: a program already
    running from the old copy keeps its own (Wine maps the image, and
    truncating a mapped file would crash it)."""
    target = os.path.join(directory, os.path.basename(source))
    temporary = target + ".new"
    shutil.copy2(source, temporary)
    os.replace(temporary, target)


def _ras_control(directory):
    try:
        from .ras_double import RasDouble  # provided by the RAS double's owner
    except ImportError:
        return None
    return RasDouble(directory)


def _raise_interrupt(signum, frame):
    raise KeyboardInterrupt(f"signal {signum}")
