"""Python side of the RAS double (tests/doubles/rasapi32): scripts the
simulated remote access service through control.ini, and reads what the
program did from the phonebook files and calls.log.

    ras = RasDouble(directory)            # the program's KIVO_RAS_DIR
    ras.configure(states=[(0, 50), (5, 100), (RASCS_CONNECTED, 50)],
                  error_texts={691: "Access was denied."}, hangup_confirm_ms=-1)
    ...
    ras.entry()["szLocalPhoneNumber"]     # what the program wrote
    ras.dials()[-1]["user"]               # "alice"
    ras.wait_call("RasHangUpW", timeout=10)

The library reads control.ini afresh on every call, so configure() may be
called while the program runs. Texts are written as UTF-8 behind a byte-order
mark; the library hands them out in UTF-16. The program talks to it through
the UTF-16 (W) calls; the texts it passes are logged in UTF-8 and read back
here as str. A call of an ANSI (A) form is logged too, answered with 120.

Timestamps in calls.log are milliseconds of Wine's performance counter, which
is Linux's CLOCK_MONOTONIC_RAW (not time.monotonic()): compare them with
clock_ms().
"""

import os
import struct
import time
import urllib.parse
from dataclasses import dataclass, field

try:
    from . import arch
except ImportError:  # loaded on its own by the library's check (tests/doubles/rasapi32)
    import arch

# RASCONNSTATE values.
RASCS_OPEN_PORT = 0
RASCS_PORT_OPENED = 1
RASCS_CONNECT_DEVICE = 2
RASCS_DEVICE_CONNECTED = 3
RASCS_ALL_DEVICES_CONNECTED = 4
RASCS_AUTHENTICATE = 5
RASCS_AUTHENTICATED = 14
RASCS_PROJECTED = 18
RASCS_CONNECTED = 0x2000
RASCS_DISCONNECTED = 0x2001

ERROR_INVALID_HANDLE = 6
ERROR_BUFFER_TOO_SMALL = 603
ERROR_CANNOT_OPEN_PHONEBOOK = 621
ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623
ERROR_AUTHENTICATION_FAILURE = 691
ERROR_AUTOMATIC_VPN_FAILED = 800

# The dial the library plays when control.ini names no states.
DEFAULT_STATES = [(0, 250), (1, 200), (2, 300), (3, 250), (4, 200), (5, 400), (14, 300), (RASCS_CONNECTED, 350)]

ENTRY_NAME = "Kivoline"

# RASENTRYW as mingw's ras.h lays it out with WINVER 0x0501 (the same for
# both architectures): field -> (offset, size in bytes); text fields hold
# UTF-16LE. check_ras_double.py compares it with the compiler's offsetof values.
ENTRY_SIZE = 5616
ENTRY_LAYOUT = {
    "dwSize": (0, 4),
    "dwfOptions": (4, 4),
    "dwCountryID": (8, 4),
    "dwCountryCode": (12, 4),
    "szLocalPhoneNumber": (38, 258),
    "dwfNetProtocols": (324, 4),
    "dwFramingProtocol": (328, 4),
    "szDeviceType": (1892, 34),
    "szDeviceName": (1926, 258),
    "dwType": (3496, 4),
    "dwEncryptionType": (3500, 4),
    "dwVpnStrategy": (4044, 4),
}


def record_sizes():
    """The sizes of the other records the client hands the library, in the
    build's architecture (RASDIALPARAMSW ends with a ULONG_PTR)."""
    return {"RASDIALPARAMSW": arch.current().dial_params_size, "RASCONNSTATUSW": 564, "RASPPPIPW": 80,
            "RASCREDENTIALSW": 1068, "RAS_STATS": 60}

# Every key the library reads; configure() refuses others, so that a typo
# cannot silently leave a default in force.
CONTROL_KEYS = {
    "validate", "delete_fails", "size_query_result", "entry_size", "devinfo_size", "get_result", "set_result",
    "dial_result", "dial_stores_handle", "dial_requires_entry", "states", "error_state", "error_code",
    "drop_after_ms", "drop_status", "hangup_confirm_ms", "error_texts", "stats_result", "stats_bps",
    "stats_sent", "stats_received", "projection_result", "projection_ip",
}


def clock_ms():
    """Now, on the clock of calls.log."""
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000.0


@dataclass
class Call:
    """One line of calls.log: a RAS call, or an event of the library
    ("notify": a state reported to the notifier, "drop": a link going down)."""
    t: float
    name: str
    tid: int
    fields: dict = field(default_factory=dict)

    def __getitem__(self, key):
        return self.fields[key]

    def get(self, key, default=None):
        return self.fields.get(key, default)

    @property
    def result(self):
        return self.fields.get("result")


def _parse_value(text):
    if text == "null":
        return None
    if text.startswith("t:"):
        # UTF-8, with blanks, control characters and '%' as %XX.
        return urllib.parse.unquote(text[2:], encoding="utf-8", errors="strict")
    if text.startswith("0x"):
        return int(text, 16)
    try:
        return int(text)
    except ValueError:
        return text


def parse_line(line):
    """A Call from one line of calls.log, or None for a line that is not one."""
    words = line.split()
    if len(words) < 2:
        return None
    try:
        stamp = float(words[0])
    except ValueError:
        return None
    fields = {}
    for word in words[2:]:
        key, sep, value = word.partition("=")
        if sep:
            fields[key] = _parse_value(value)
    tid = fields.pop("tid", 0)
    return Call(stamp, words[1], tid if isinstance(tid, int) else 0, fields)


def _format_value(key, value):
    if isinstance(value, bool):
        text = "1" if value else "0"
    elif isinstance(value, int):
        text = str(value)
    elif key == "states" and not isinstance(value, str):
        text = ",".join(f"{state}:{delay}" for state, delay in value)
    elif key == "error_texts" and isinstance(value, dict):
        for code, message in value.items():
            if ";" in message:
                raise ValueError(f"error text for {code} contains ';': {message!r}")
        text = ";".join(f"{code}={message}" for code, message in value.items())
    elif isinstance(value, str):
        text = value
    else:
        raise TypeError(f"{key}: cannot write {type(value).__name__} {value!r}")
    if "\n" in text or "\r" in text:
        raise ValueError(f"{key}: value spans lines: {text!r}")
    return text


def _wide_string(raw):
    """The UTF-16LE text of a record's field, up to its first NUL character."""
    text = raw[:len(raw) // 2 * 2].decode("utf-16-le", errors="replace")
    end = text.find("\0")
    return text if end < 0 else text[:end]


class RasDouble:
    """The control directory of one RAS double (the program's KIVO_RAS_DIR)."""

    def __init__(self, directory):
        self.dir = os.fspath(directory)
        self._settings = {}

    # --- paths --------------------------------------------------------------
    @property
    def control_path(self):
        return os.path.join(self.dir, "control.ini")

    @property
    def log_path(self):
        return os.path.join(self.dir, "calls.log")

    def entry_path(self, name=ENTRY_NAME, suffix=".entry"):
        return os.path.join(self.dir, "phonebook", name + suffix)

    # --- control.ini --------------------------------------------------------
    def configure(self, **keys):
        """Sets keys of control.ini (None removes one) and rewrites the file.
        Values: int or bool; str; states as [(state, delay_ms), ...];
        error_texts as {code: text}."""
        for key, value in keys.items():
            if key not in CONTROL_KEYS:
                raise KeyError(f"the RAS double reads no key {key!r}")
            if value is None:
                self._settings.pop(key, None)
            else:
                self._settings[key] = _format_value(key, value)
        self._write_control()

    def reset(self):
        """Back to the defaults: a dial that connects."""
        self._settings = {}
        self._write_control()

    def settings(self):
        return dict(self._settings)

    def _write_control(self):
        os.makedirs(self.dir, exist_ok=True)
        text = "[ras]\r\n" + "".join(f"{k}={v}\r\n" for k, v in self._settings.items())
        self._replace(self.control_path, b"\xef\xbb\xbf" + text.encode("utf-8"))

    @staticmethod
    def _replace(path, data):
        # Whole or not at all: the library may read at any moment.
        temporary = f"{path}.{os.getpid()}.tmp"
        with open(temporary, "wb") as f:
            f.write(data)
        os.replace(temporary, path)

    # --- phonebook ----------------------------------------------------------
    @staticmethod
    def build_entry(**fields):
        """A RASENTRYW record of ENTRY_SIZE bytes, zero but for `fields`
        (dwSize defaults to ENTRY_SIZE). Text fields take str, written as UTF-16LE."""
        record = bytearray(ENTRY_SIZE)
        fields.setdefault("dwSize", ENTRY_SIZE)
        for name, value in fields.items():
            if name not in ENTRY_LAYOUT:
                raise KeyError(f"RASENTRYW has no field {name!r} here")
            offset, size = ENTRY_LAYOUT[name]
            if name.startswith("sz"):
                if not isinstance(value, str):
                    raise TypeError(f"{name} takes a str, not {type(value).__name__}")
                raw = value.encode("utf-16-le")
                if len(raw) >= size:
                    raise ValueError(f"{name} holds at most {size // 2 - 1} UTF-16 characters")
                record[offset:offset + len(raw)] = raw
            else:
                struct.pack_into("<I", record, offset, value & 0xFFFFFFFF)
        return bytes(record)

    def plant_entry(self, data=None, devinfo=b"", name=ENTRY_NAME, **fields):
        """Puts an entry into the phonebook as if an earlier run had left it:
        `data` as the exact record bytes, or a record built from `fields`."""
        record = bytes(data) if data is not None else self.build_entry(**fields)
        os.makedirs(os.path.join(self.dir, "phonebook"), exist_ok=True)
        self._replace(self.entry_path(name, ".devinfo"), bytes(devinfo))
        self._replace(self.entry_path(name), record)

    def remove_entry(self, name=ENTRY_NAME):
        for suffix in (".entry", ".devinfo"):
            try:
                os.remove(self.entry_path(name, suffix))
            except FileNotFoundError:
                pass

    def entry_bytes(self, name=ENTRY_NAME):
        try:
            with open(self.entry_path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def devinfo(self, name=ENTRY_NAME):
        try:
            with open(self.entry_path(name, ".devinfo"), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def entry(self, name=ENTRY_NAME):
        """The fields of ENTRY_LAYOUT of the stored entry, or None when there
        is none. Numbers as int, texts as str. Fields beyond the end of a short
        record are left out."""
        raw = self.entry_bytes(name)
        if raw is None:
            return None
        result = {}
        for key, (offset, size) in ENTRY_LAYOUT.items():
            if offset + size > len(raw):
                continue
            chunk = raw[offset:offset + size]
            if key.startswith("sz"):
                result[key] = _wide_string(chunk)
            else:
                result[key] = struct.unpack_from("<I", chunk)[0]
        return result

    # --- calls.log ----------------------------------------------------------
    def calls(self, name=None):
        """Every call and event so far, in order; only those named `name` if given."""
        try:
            with open(self.log_path, "r", encoding="utf-8", errors="replace") as f:
                text = f.read()
        except FileNotFoundError:
            return []
        # A line still being written has no newline yet.
        lines = text.split("\n")[:-1]
        parsed = (parse_line(line) for line in lines)
        return [c for c in parsed if c is not None and (name is None or c.name == name)]

    def clear_calls(self):
        """Forgets the calls so far (the library appends to a fresh file)."""
        try:
            os.remove(self.log_path)
        except FileNotFoundError:
            pass

    def dials(self):
        """One record per RasDialW call: its time, result and handle, the dial
        parameters (entry, phone, callback, user, password, domain as str;
        dwSize, notifier_type), the stored entry's entry_phone and entry_device,
        and what became of the handle: notifications [(t, state, error)],
        hangups [t] and drop (t or None)."""
        calls = self.calls()
        records = []
        by_handle = {}
        for call in calls:
            if call.name == "RasDialW":
                record = dict(call.fields)
                record.update(t=call.t, handle=call.get("handle"), notifications=[], hangups=[], drop=None)
                records.append(record)
                if record["handle"] is not None:
                    by_handle[record["handle"]] = record
            elif call.name == "notify" and call.get("handle") in by_handle:
                by_handle[call["handle"]]["notifications"].append((call.t, call["state"], call["error"]))
            elif call.name == "RasHangUpW" and call.get("handle") in by_handle:
                by_handle[call["handle"]]["hangups"].append(call.t)
            elif call.name == "drop" and call.get("handle") in by_handle:
                by_handle[call["handle"]]["drop"] = call.t
        return records

    def wait_call(self, name, count=1, timeout=10.0, **match):
        """Waits until `count` calls named `name` (whose fields equal `match`)
        are in the log and returns the count-th of them."""
        deadline = time.monotonic() + timeout
        while True:
            found = [c for c in self.calls(name) if all(c.get(k) == v for k, v in match.items())]
            if len(found) >= count:
                return found[count - 1]
            if time.monotonic() >= deadline:
                raise TimeoutError(f"{len(found)} of {count} {name} calls {match or ''} after {timeout} s")
            time.sleep(0.05)
