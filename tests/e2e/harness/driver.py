"""Client of kivo_driver.exe (tests/driver): JSON lines over a pipe.

Every method sends one command and waits for its answer. A command the
driver cannot carry out raises DriverError with the driver's code
("bad_request", "no_window", "timeout", "failed"); a driver that does not
answer in time raises DriverTimeout. Window handles are integers.
"""

import json
import queue
import subprocess
import threading

from . import wine

# Messages and constants tests use often.
WM_SETTEXT = 0x000C
WM_GETTEXT = 0x000D
WM_GETTEXTLENGTH = 0x000E
WM_CLOSE = 0x0010
WM_KEYDOWN = 0x0100
WM_COMMAND = 0x0111
WM_SYSCOMMAND = 0x0112
WM_TIMER = 0x0113
WM_MOUSEMOVE = 0x0200
WM_LBUTTONDOWN = 0x0201
WM_LBUTTONUP = 0x0202
WM_LBUTTONDBLCLK = 0x0203
WM_RBUTTONDOWN = 0x0204
WM_RBUTTONUP = 0x0205
WM_RBUTTONDBLCLK = 0x0206
WM_COPYDATA = 0x004A
WM_USER = 0x0400
BM_GETCHECK = 0x00F0
BM_CLICK = 0x00F5
SC_CLOSE = 0xF060
VK_RETURN = 0x0D
VK_ESCAPE = 0x1B
WS_VISIBLE = 0x10000000
WS_DISABLED = 0x08000000
WS_CAPTION = 0x00C00000
IDOK = 1
IDCANCEL = 2
TRAY_CLASS = "__winex11_standalone_tray"
TRAY_ICON_CLASS = "__winex11_tray_icon"


class DriverError(RuntimeError):
    def __init__(self, code, message, cmd):
        super().__init__(f"{cmd}: {code}: {message}")
        self.code = code
        self.cmd = cmd


class DriverTimeout(RuntimeError):
    pass


class Driver:
    def __init__(self, exe, env, cwd=None, log_path=None, timeout=30.0, command=None):
        """Starts `exe` under Wine (or `command`) with `env`, its messages going to
        `log_path`; `timeout` bounds the wait for each answer."""
        self.timeout = timeout
        self._next_id = 0
        self._lock = threading.Lock()
        self._answers = queue.Queue()
        log = open(log_path, "wb") if log_path else subprocess.DEVNULL
        try:
            self.process = subprocess.Popen(command or wine.command(exe), env=env, cwd=cwd,
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log)
        finally:
            if log_path:
                log.close()
        self._reader = threading.Thread(target=self._read, name="driver-reader", daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            try:
                self._answers.put(json.loads(line))
            except ValueError:
                self._answers.put({"ok": False, "code": "protocol", "error": line.decode(errors="replace")})
        self._answers.put(None)

    def raw(self, line, timeout=None):
        """Sends one raw line and returns the parsed answer (for protocol tests)."""
        with self._lock:
            self.process.stdin.write(line if isinstance(line, bytes) else line.encode())
            self.process.stdin.write(b"\n")
            self.process.stdin.flush()
            return self._await(None, timeout)

    def _await(self, want_id, timeout):
        while True:
            try:
                answer = self._answers.get(timeout=timeout or self.timeout)
            except queue.Empty:
                raise DriverTimeout(f"the driver did not answer within {timeout or self.timeout} s") from None
            if answer is None:
                raise DriverError("gone", "the driver ended", "?")
            if want_id is None or answer.get("id") == want_id:
                return answer

    def call(self, cmd, wait=None, **args):
        """Runs one command and returns its result; `wait` (seconds) bounds the
        wait for the answer, "timeout" (ms) is the driver's own bound for
        messages to other processes."""
        with self._lock:
            self._next_id += 1
            request = dict(args, id=self._next_id, cmd=cmd)
            if self.process.poll() is not None:
                raise DriverError("gone", "the driver has ended", cmd)
            try:
                self.process.stdin.write(json.dumps(request, ensure_ascii=False).encode() + b"\n")
                self.process.stdin.flush()
            except BrokenPipeError:
                # It ended between the check above and the write.
                raise DriverError("gone", "the driver has ended", cmd) from None
            # A message to a busy window may take up to its own time-out.
            budget = wait or max(self.timeout, (args.get("timeout") or 5000) / 1000 + 5)
            answer = self._await(self._next_id, budget)
        if not answer.get("ok"):
            raise DriverError(answer.get("code"), answer.get("error"), cmd)
        return answer.get("result")

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b'{"cmd":"quit"}\n')
                self.process.stdin.flush()
                self.process.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
                self.process.wait()
        self._reader.join(5)
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except OSError:
                pass

    # --- windows ---------------------------------------------------------
    def find_window(self, title=None, cls=None, hidden=False, pid=None):
        """The first top-level window with this title and class, or 0."""
        return self.call("find_window", title=title, **{"class": cls}, hidden=hidden, pid=pid)

    def find_windows(self, title=None, cls=None, hidden=False, pid=None):
        return self.call("find_windows", title=title, **{"class": cls}, hidden=hidden, pid=pid)

    def window_info(self, hwnd, text=False):
        return self.call("window_info", hwnd=hwnd, text=text)

    def process_windows(self, pid, hidden=True):
        return self.call("process_windows", pid=pid, hidden=hidden)

    def children(self, hwnd, deep=False):
        """Child windows: dicts with hwnd, id, class, text, title, style, exstyle,
        enabled, visible, rect, client."""
        return self.call("children", hwnd=hwnd, deep=deep)

    def child(self, hwnd, control_id):
        """The child window with this control id (its dict), or None."""
        for c in self.children(hwnd, deep=True):
            if c["id"] == control_id:
                return c
        return None

    def text(self, hwnd):
        return self.call("text", hwnd=hwnd)

    def set_text(self, hwnd, text):
        return self.call("set_text", hwnd=hwnd, text=text)

    def send(self, hwnd, msg, wparam=0, lparam=0, timeout=5000):
        return self.call("send", hwnd=hwnd, msg=msg, wparam=wparam, lparam=lparam, timeout=timeout)

    def post(self, hwnd, msg, wparam=0, lparam=0):
        return self.call("post", hwnd=hwnd, msg=msg, wparam=wparam, lparam=lparam)

    def click(self, hwnd, sync=False):
        """BM_CLICK, posted (returns at once) unless sync."""
        return self.call("click", hwnd=hwnd, sync=sync)

    def command(self, hwnd, control_id, code=0, lparam=None, sync=True):
        """WM_COMMAND(id, code) to `hwnd` with the control's window as lParam."""
        return self.call("command", hwnd=hwnd, control=control_id, code=code, lparam=lparam, sync=sync)

    def key(self, hwnd, vk, char=None):
        """Posts WM_KEYDOWN (+ WM_CHAR) + WM_KEYUP to `hwnd`."""
        return self.call("key", hwnd=hwnd, vk=vk, char=char)

    def style(self, hwnd):
        return self.window_info(hwnd)["style"]

    def exstyle(self, hwnd):
        return self.window_info(hwnd)["exstyle"]

    def rect(self, hwnd):
        """(left, top, right, bottom) in screen coordinates."""
        return tuple(self.window_info(hwnd)["rect"])

    def client_rect(self, hwnd):
        """The client area as (left, top, right, bottom) in screen coordinates."""
        return tuple(self.window_info(hwnd)["client"])

    def visible(self, hwnd):
        return self.window_info(hwnd)["visible"]

    def enabled(self, hwnd):
        return self.window_info(hwnd)["enabled"]

    def foreground(self):
        """The foreground window's dict, or None."""
        return self.call("foreground")

    def set_foreground(self, hwnd):
        return self.call("set_foreground", hwnd=hwnd)

    def dialogs(self, pid=None):
        """Visible dialog boxes (class #32770): dicts with hwnd, pid, caption,
        owner, texts, buttons [{hwnd, id, text, enabled}], icon, and for
        message boxes message_box=True and their message."""
        return self.call("dialogs", pid=pid)

    def message_boxes(self, pid=None):
        return [box for box in self.dialogs(pid) if box["message_box"]]

    # --- controls --------------------------------------------------------
    def combo_items(self, hwnd):
        return self.call("combo_items", hwnd=hwnd)

    def combo_sel(self, hwnd):
        """Index of the selected item (-1 for none)."""
        return self.call("combo_sel", hwnd=hwnd)["index"]

    def combo_text(self, hwnd):
        """Text of the selected item, or None."""
        return self.call("combo_sel", hwnd=hwnd)["text"]

    def combo_select(self, hwnd, index, notify=True):
        """Selects an item and (unless notify=False) tells the parent CBN_SELCHANGE."""
        return self.call("combo_select", hwnd=hwnd, index=index, notify=notify)

    def check(self, hwnd):
        """BM_GETCHECK: 0 unchecked, 1 checked, 2 indeterminate."""
        return self.call("check", hwnd=hwnd)

    def set_check(self, hwnd, state=1):
        return self.call("set_check", hwnd=hwnd, state=state)

    def listview(self, hwnd):
        """{"columns": [heading...], "items": [[text per column]...], "selected": [index...]}"""
        return self.call("listview_items", hwnd=hwnd)

    def listview_items(self, hwnd):
        """Rows of a list view, each a list of its column texts."""
        return self.listview(hwnd)["items"]

    def listview_select(self, hwnd, index):
        return self.call("listview_select", hwnd=hwnd, index=index)

    def listview_item_rect(self, hwnd, index):
        rect = self.call("listview_item_rect", hwnd=hwnd, index=index)
        return tuple(rect) if rect else None

    def tooltips(self, pid=None, hidden=True):
        """Tooltip windows (balloons included) with heading and tools' texts."""
        return self.call("tooltips", pid=pid, hidden=hidden)

    def remote_send(self, hwnd, msg, data=b"", size=None, patch=(), into="lparam", wparam=0, lparam=0,
                    timeout=5000):
        """A message whose parameter points at a copy of `data` inside the
        target process; returns (result, bytes of the block afterwards)."""
        answer = self.call("remote_send", hwnd=hwnd, msg=msg, data=bytes(data).hex(),
                           size=size or max(len(data), 1), patch=list(patch), into=into, wparam=wparam,
                           lparam=lparam, timeout=timeout)
        return answer["result"], bytes.fromhex(answer["data"])

    # --- notification area ---------------------------------------------
    def tray(self):
        """The notification area as Wine shows it without a desktop tray (the
        "Wine System Tray" window): {"icons": [{hwnd, rect, tip}],
        "balloons": [{hwnd, visible, rect, heading, text}]}."""
        tray = self.find_window("Wine System Tray", cls=TRAY_CLASS, hidden=True)
        tips = self.tooltips()
        texts = {tool["hwnd"]: tool["text"] for tip in tips if not tip["balloon"] for tool in tip["tools"]}
        icons = [{"hwnd": c["hwnd"], "rect": tuple(c["rect"]), "tip": texts.get(c["hwnd"])}
                 for c in (self.children(tray) if tray else []) if c["class"] == TRAY_ICON_CLASS]
        balloons = [{"hwnd": t["hwnd"], "visible": t["visible"], "rect": tuple(t["rect"]),
                     "heading": t["heading"], "text": t["text"]} for t in tips if t["balloon"]]
        return {"icons": icons, "balloons": balloons}

    def tray_click(self, icon, button="left", double=False):
        """Presses and releases a mouse button on a tray icon window; Wine's
        tray relays each message to the icon's owner as its callback."""
        down, up, dbl = {"left": (WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK),
                         "right": (WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK)}[button]
        self.post(icon, down)
        self.post(icon, up)
        if double:
            self.post(icon, dbl)
            self.post(icon, up)

    def tray_hover(self, icon):
        """A mouse move over a tray icon (the owner gets WM_MOUSEMOVE)."""
        self.post(icon, WM_MOUSEMOVE)

    # --- menus -----------------------------------------------------------
    def popup_menus(self):
        """Open popup menus (class #32768): window dict plus hmenu, count,
        readable and items [{id, text, state, grayed, checked, separator}]."""
        return self.call("popup_menus")

    def menu_choose(self, pos, hwnd=None):
        """Chooses the item at `pos` of the open popup menu with the keyboard."""
        return self.call("menu_choose", pos=pos, hwnd=hwnd)

    def menu_dismiss(self, hwnd=None):
        return self.call("menu_dismiss", hwnd=hwnd)

    # --- processes -------------------------------------------------------
    def processes(self):
        """Windows processes: [{pid, ppid, exe, path, threads}]."""
        return self.call("processes")

    def process_env(self, pid):
        return self.call("process_env", pid=pid)

    def watch(self, pid):
        return self.call("watch", pid=pid)

    def exit_code(self, pid):
        """{"running": bool, "code": int or None} of a watched process."""
        return self.call("exit_code", pid=pid)

    def wait_process(self, pid, timeout_ms):
        return self.call("wait_process", pid=pid, timeout=timeout_ms)

    def lang(self):
        """The driver's own language settings (system_langid, acp, ...)."""
        return self.call("lang")

    def info(self):
        return self.call("info")
