"""The Wine prefix of a build tree (win32 or win64, as the build): <build dir>/wineprefix.

Made once (wineboot -i without Mono and Gecko, crash dialogs off) under a
lock, marked complete by a stamp naming the Wine version; later calls only
check the stamp. A prefix left half-made by an interrupted run has no stamp
and is made again.

`python3 -m harness.prefix` makes it inside a sealed namespace of its own
and prints how long that took (CTest's e2e_prefix fixture runs this).
"""

import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import time
import uuid

from . import arch, procs, sandbox, wine

PREFIX_DIR = "wineprefix"
STAMP = ".kivo-prefix-ready"
# Raise when the set-up below changes, so existing prefixes are made anew.
SETUP_VERSION = "4"

# Fonts. The dialogs ask for "MS Sans Serif" 9 pt, which on Windows is a
# bitmap font of 6x13 dialog base units: the skin is drawn for that. Wine's
# own copy (sserife.fon, from fonts-wine) gives the same units but has no
# Chinese glyphs, and Wine links no other font to a bitmap font. So there are
# two prefixes: "en" with Wine's fonts, and "cjk" where "MS Sans Serif" and
# "宋体" are the AR PL UMing CN font (and "新細明體" its TW face) (fonts-arphic-uming), whose metrics at
# 9 pt are the same 6x13 units and which draws the Chinese texts.
WINE_FONTS = "/usr/share/wine/fonts"
CJK_FONT = "/usr/share/fonts/truetype/arphic/uming.ttc"
FONT_SETS = ("en", "cjk")
_FONT_SUBSTITUTES = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes"

# Registry settings applied once: no crash dialog that would wait for a
# click; and Wine's windows are not handed to a window manager (Managed=N):
# under Xvfb there is none, and Wine then waits about 2 s for one whenever a
# framed window hides.
_REGISTRY = [
    ["reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"],
    ["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f"],
]


def build_dir():
    path = os.environ.get("KIVO_BUILD_DIR")
    if not path:
        raise RuntimeError("KIVO_BUILD_DIR is not set (the CMake build directory)")
    return os.path.abspath(path)


# Display scale: Wine reads the DPI of the whole session from LogPixels.
# Prefixes for another DPI than 96 are made on first use, beside the others.
BASE_DPI = 96

# A user profile folder of another name than the Unix user's (profile="张伟"):
# the user's AppData and Local AppData lie under C:\users\<profile>, which is
# where SHGetFolderPathW finds them. Also a prefix of its own, made on first use.
_SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer"
_PROFILE_FOLDERS = {"AppData": r"AppData\Roaming", "Local AppData": r"AppData\Local"}


def prefix_path(build=None, fonts="en", dpi=BASE_DPI, profile=None):
    if fonts not in FONT_SETS:
        raise ValueError(f"unknown font set {fonts!r}")
    name = PREFIX_DIR if fonts == "en" else f"{PREFIX_DIR}-{fonts}"
    if dpi != BASE_DPI:
        name += f"-dpi{int(dpi)}"
    if profile:
        name += "-profile-" + profile.encode("utf-8").hex()
    return os.path.join(build or build_dir(), name)


def _move_profile(path, profile, env):
    for value, folder in _PROFILE_FOLDERS.items():
        os.makedirs(os.path.join(path, "drive_c", "users", profile, *folder.split("\\")), exist_ok=True)
        target = rf"C:\users\{profile}\{folder}"
        for key, kind in (("User Shell Folders", "REG_EXPAND_SZ"), ("Shell Folders", "REG_SZ")):
            subprocess.run(wine.command("reg", "add", rf"{_SHELL_FOLDERS}\{key}", "/v", value, "/t", kind, "/d",
                                        target, "/f"), env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)


def _install_fonts(path, fonts, env):
    target = os.path.join(path, "drive_c", "windows", "Fonts")
    os.makedirs(target, exist_ok=True)
    for name in sorted(os.listdir(WINE_FONTS)) if os.path.isdir(WINE_FONTS) else []:
        if fonts == "cjk" and name.startswith("sserif"):
            continue  # the substitute below must win over the bitmap font
        shutil.copy(os.path.join(WINE_FONTS, name), target)
    if fonts == "cjk":
        shutil.copy(CJK_FONT, target)
        # The Traditional About box asks for "新細明體" (PMingLiU): the same
        # font's Traditional face.
        for face, substitute in (("MS Sans Serif", "AR PL UMing CN"), ("宋体", "AR PL UMing CN"),
                                 ("SimSun", "AR PL UMing CN"), ("新細明體", "AR PL UMing TW"),
                                 ("PMingLiU", "AR PL UMing TW")):
            subprocess.run(wine.command("reg", "add", _FONT_SUBSTITUTES, "/v", face, "/t", "REG_SZ", "/d",
                                        substitute, "/f"), env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)


def _stamp_text():
    return f"{wine.wine_version()} setup {SETUP_VERSION}\n"


def is_ready(path):
    try:
        with open(os.path.join(path, STAMP)) as f:
            return f.read() == _stamp_text()
    except OSError:
        return False


def _create(path, log, fonts="en", dpi=BASE_DPI, profile=None):
    world_id = "prefix-" + uuid.uuid4().hex
    tmpdir = tempfile.mkdtemp(prefix="kw-")
    env = wine.wine_env(path, tmpdir, world_id)
    try:
        wine.remove_tree(path)
        log(f"creating the Wine prefix {path} ({wine.wine_version()}, {arch.current().winearch})")
        subprocess.run(wine.command("wineboot", "-i"), env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=600)
        for command in _REGISTRY:
            subprocess.run(wine.command(*command), env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        _install_fonts(path, fonts, env)
        if dpi != BASE_DPI:
            subprocess.run(wine.command("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                                        "REG_DWORD", "/d", str(int(dpi)), "/f"), env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if profile:
            _move_profile(path, profile, env)
        subprocess.run([wine.WINESERVER, "-w"], env=env, timeout=120)
        with open(os.path.join(path, STAMP), "w") as f:
            f.write(_stamp_text())
    finally:
        procs.kill_marked(world_id)
        wine.remove_tree(tmpdir)


def ensure(build=None, log=print, fonts="en", dpi=BASE_DPI, profile=None):
    """Makes the prefix if needed; returns (path, seconds spent creating or None)."""
    sandbox.require_sealed("Wine")
    path = prefix_path(build, fonts, dpi, profile)
    if is_ready(path):
        return path, None
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if is_ready(path):
            return path, None
        start = time.monotonic()
        _create(path, log, fonts, dpi, profile)
        return path, time.monotonic() - start


def main():
    sandbox.enter()
    for fonts in FONT_SETS:
        path, seconds = ensure(fonts=fonts)
        if seconds is None:
            print(f"Wine prefix {path} is ready")
        else:
            print(f"created the Wine prefix {path} in {seconds:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
