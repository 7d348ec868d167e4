"""A sealed test world for the self-update tests and benchmark.

Built from the harness's own parts (sandbox, prefix, Wine server, Xvfb) plus
the update host: the update host name resolves to 127.0.0.1 where the test
update host listens on port 80, and the test makes signed, foreign-signed,
altered and unsigned updaters from the stand-in updater.

Every program runs in a fresh run directory of its own, so the "KivoUpdate.exe"
it writes sits beside it there.
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import uuid

from harness import prefix, procs, sandbox, wine
from harness.driver import Driver
from harness.resource_ids import IDC_UPDATE_BAR
from harness.update_host import UpdateHost
from harness.xserver import Xvfb

UPDATE_HOST = "update.kivoline.example"
VERSION_PATH = "/Velmar/lastver.html"
UPDATER_PATH = "/Velmar/KivoUpdate.exe"
TITLE = "Kivoline"

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("KIVO_SOURCE_DIR") or os.path.abspath(os.path.join(HERE, "..", ".."))
FIXTURES = os.path.join(SOURCE, "tests", "doubles", "updater")


def pem_key_pin(path):
    """SHA-256 (upper-case hex) of the SubjectPublicKeyInfo of the certificate in a PEM file."""
    key = subprocess.run(["openssl", "x509", "-in", path, "-noout", "-pubkey"], check=True,
                         capture_output=True).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=key, check=True,
                         capture_output=True).stdout
    return hashlib.sha256(der).hexdigest().upper()


def pinned_test_key():
    """The key pin the test builds carry for the test signer, as written in their CMake file."""
    with open(os.path.join(SOURCE, "tests", "e2e", "tools", "CMakeLists.txt")) as f:
        return re.search(r'KIVO_TEST_SIGNER_KEY_PIN\s+"([0-9A-Fa-f]{64})"', f.read()).group(1).upper()


def _cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read()
    except OSError:
        return b""


def _runs(pid, exe):
    """Whether the process runs `exe` (as its program, not as an argument:
    the updater gets the client's name on its command line)."""
    args = [a.lower().replace(b"\\", b"/").rsplit(b"/", 1)[-1] for a in _cmdline(pid).split(b"\0")]
    name = exe.lower().encode()
    if args and args[0].startswith(b"wine") and len(args) > 1:
        return args[1] == name     # still the Wine loader: wine <program> ...
    return bool(args) and args[0] == name


class UpdateWorld:
    def __init__(self, display=True):
        self.want_display = display
        self.build = prefix.build_dir()
        self.tmp = None
        self.xvfb = None
        self.server = None
        self.host = None
        self.env = None
        self.driver = None
        self.runs = 0

    # -- life -------------------------------------------------------------
    def __enter__(self):
        sandbox.enter()
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        prefix_dir, _ = prefix.ensure(self.build)
        self.tmp = tempfile.mkdtemp(prefix="kivo-update-")
        self.world_id = world_id = "update-" + uuid.uuid4().hex
        display = None
        if self.want_display:
            self.xvfb = Xvfb()
            display = self.xvfb.start()
        wine_tmp = os.path.join(self.tmp, "winetmp")
        os.makedirs(wine_tmp)
        self.env = wine.wine_env(prefix_dir, wine_tmp, world_id, display=display)
        self.server = wine.WineServer(self.env)
        self.server.start()
        if display:
            # Tells the client's main window from its update's progress
            # window: both are titled "Kivoline".
            self.driver = Driver(os.path.join(self.build, "tests", "driver", "kivo_driver.exe"), self.env,
                                 cwd=self.tmp, log_path=os.path.join(self.tmp, "driver.log"))
        self.host = UpdateHost().start()
        sandbox.map_host(UPDATE_HOST, "127.0.0.1")
        self._make_updaters()

    def __exit__(self, *exc):
        if self.host:
            self.host.stop()
        if self.driver:
            self.driver.close()
        if self.server:
            self.server.stop()
        if self.xvfb:
            self.xvfb.stop()
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)

    # -- files ------------------------------------------------------------
    def built(self, *parts):
        path = os.path.join(self.build, *parts)
        if not os.path.exists(path):
            raise FileNotFoundError(f"{path} is not built")
        return path

    def _make_updaters(self):
        """unsigned, signed (pinned test signer), other (a second self-signed
        certificate made now), altered (signed, then one byte changed) and
        client (the client itself, signed by the pinned test signer)."""
        d = os.path.join(self.tmp, "updaters")
        os.makedirs(d)
        plain = os.path.join(d, "unsigned.exe")
        shutil.copy(self.built("tests", "doubles", "stand_in_updater.exe"), plain)
        self.sign(plain, os.path.join(FIXTURES, "test_signer.pem"), os.path.join(FIXTURES, "test_signer.key"),
                  os.path.join(d, "signed.exe"))
        other_key, other_pem = os.path.join(d, "other.key"), os.path.join(d, "other.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                        "-subj", "/CN=Somebody else's code signing test certificate",
                        "-addext", "extendedKeyUsage=codeSigning", "-keyout", other_key, "-out", other_pem],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.sign(plain, other_pem, other_key, os.path.join(d, "other.exe"))
        with open(os.path.join(d, "signed.exe"), "rb") as f:
            data = bytearray(f.read())
        # A byte of the program's code, well inside the signed range.
        data[0x600] ^= 0x5A
        with open(os.path.join(d, "altered.exe"), "wb") as f:
            f.write(data)
        self.sign(self.built("KivoVpn.exe"), os.path.join(FIXTURES, "test_signer.pem"),
                  os.path.join(FIXTURES, "test_signer.key"), os.path.join(d, "client.exe"))
        self.updaters = {}
        for name in ("unsigned", "signed", "other", "altered", "client"):
            with open(os.path.join(d, name + ".exe"), "rb") as f:
                self.updaters[name] = f.read()

    def real_updater(self, client, version, target):
        """The setup program (installer/Kivoline.nsi, the real updater) of
        `version`, carrying `client` as the program it installs, at `target`."""
        with open(os.path.join(self.build, "kivo-arch")) as f:
            nsis_target = "amd64-unicode" if f.read().strip() == "x86_64" else "x86-unicode"
        subprocess.run(["makensis", "-INPUTCHARSET", "UTF8", "-V2", f"-XTarget {nsis_target}",
                        f"-DKIVO_CLIENT={client}", f"-DKIVO_OUTFILE={target}",
                        f"-DKIVO_ICON={os.path.join(SOURCE, 'res', 'art', '338.ico')}",
                        f"-DKIVO_VERSION={version}", f"-DKIVO_VERSION_QUAD={version}.0", "-DKIVO_COMPANY=Velmar",
                        "-DKIVO_COPYRIGHT_YEAR=2026", os.path.join(SOURCE, "installer", "Kivoline.nsi")],
                       check=True, stdout=subprocess.DEVNULL)
        return target

    @staticmethod
    def sign(source, cert, key, target):
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Kivoline updater (test)",
                        "-in", source, "-out", target], check=True, stdout=subprocess.DEVNULL)

    def run_dir(self, *programs):
        """A fresh directory holding copies of the given built programs."""
        self.runs += 1
        d = os.path.join(self.tmp, f"run{self.runs}")
        os.makedirs(d)
        for p in programs:
            shutil.copy(self.built(*p.split("/")), d)
        return d

    # -- programs ---------------------------------------------------------
    def tool(self, *args, run_dir=None, timeout=60):
        """Runs kivo_update_tool.exe in a run directory; returns (json, run_dir)."""
        sandbox.require_sealed("kivo_update_tool.exe")
        d = run_dir or self.run_dir("tests/e2e/tools/kivo_update_tool.exe")
        out = os.path.join(d, "tool.out")
        with open(out, "wb") as f:
            # Output goes to a file: Wine's helper processes may inherit a pipe
            # and keep it open after the tool has ended.
            subprocess.run(wine.command(os.path.join(d, "kivo_update_tool.exe"), *args), env=self.env, cwd=d,
                           stdout=f, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
        with open(out, "rb") as f:
            text = f.read().decode("utf-8").strip()
        return json.loads(text.splitlines()[-1]), d

    def start(self, exe, run_dir, args=(), cwd=None):
        """Starts a program of the run directory under Wine, in `cwd` (default: the run directory)."""
        sandbox.require_sealed(exe)
        log = open(os.path.join(run_dir, exe + ".log"), "wb")
        try:
            return subprocess.Popen(wine.command(os.path.join(run_dir, exe), *args), env=self.env,
                                    cwd=cwd or run_dir,
                                    stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        finally:
            log.close()

    def windows(self, title=TITLE):
        """Ids of mapped X windows with this exact title."""
        if not self.xvfb:
            return []
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(title)}$"],
                           env={"DISPLAY": self.xvfb.display, "PATH": os.environ.get("PATH", "")},
                           capture_output=True, text=True, timeout=10)
        return r.stdout.split()

    def progress_windows(self):
        """The visible progress windows of an update download (driver dialogs)."""
        return [box for box in self.driver.dialogs() if box["caption"] == TITLE and not box["message_box"]
                and self.driver.child(box["hwnd"], IDC_UPDATE_BAR)]

    def main_window_shown(self):
        """Whether a "Kivoline" window other than a progress window shows."""
        shown = self.windows()
        return bool(shown) and (self.driver is None or len(shown) > len(self.progress_windows()))

    def wait_window_or_exit(self, process, timeout):
        """Waits until the main window shows or the process ends.
        Returns ("window", seconds) or ("exit", seconds) or ("timeout", seconds)."""
        start = time.monotonic()
        while time.monotonic() - start < timeout:
            if self.main_window_shown():
                return "window", time.monotonic() - start
            if process.poll() is not None:
                return "exit", time.monotonic() - start
            time.sleep(0.05)
        return "timeout", time.monotonic() - start

    def stop(self, process, exe):
        """Ends a program started by start(), and any process of this world
        that runs the same executable (Wine's loader may have handed over)."""
        if process.poll() is None:
            process.kill()
        process.wait(10)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            left = [p for p in procs.marked(self.world_id) if _runs(p, exe)]
            if not left:
                return
            for pid in left:
                try:
                    os.kill(pid, 9)
                except ProcessLookupError:
                    pass
            time.sleep(0.05)
        raise RuntimeError(f"{exe} did not end")

    def wait_file(self, path, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path):
                return True
            time.sleep(0.05)
        return os.path.exists(path)
