"""Which Windows architecture the tests build and run.

The program users get is 32-bit (i686). Some Linux machines cannot run any
32-bit program: their kernel has 32-bit emulation switched off, wine32 then
fails with "Exec format error", and no 32-bit code runs inside a 64-bit
process either. There the same sources are built for x86_64 and run under
wine64 in a win64 prefix. Which one a machine takes is decided by running a
32-bit program, not by asking what is installed.

    python3 -m harness.arch          # prints "<arch> <preset> <build dir>"

KIVO_TEST_ARCH=i686 or x86_64 forces a choice; forcing i686 where 32-bit
programs cannot run is an error with a one-line reason (exit status 2).

A configured build tree names its architecture in <build>/kivo-arch; the
harness takes everything else (loader, prefix kind, record sizes) from that.
"""

import os
import struct
import subprocess
import sys
import tempfile
from dataclasses import dataclass

FORCE_VAR = "KIVO_TEST_ARCH"
ARCH_FILE = "kivo-arch"


@dataclass(frozen=True)
class Arch:
    name: str
    preset: str        # CMake configure, build and test preset
    build_dir: str     # the preset's build tree, relative to the source tree
    winearch: str      # WINEARCH of its prefixes
    loader: str        # the Wine loader of that bitness, called by its path
    mingw: str         # the cross compiler's target triplet
    dial_params_size: int  # sizeof(RASDIALPARAMSW): ends with a ULONG_PTR

    @property
    def pointer_bytes(self):
        return 4 if self.name == "i686" else 8


ARCHES = {
    "i686": Arch("i686", "windows", "build", "win32", "/usr/lib/wine/wine", "i686-w64-mingw32", 2104),
    "x86_64": Arch("x86_64", "windows-x64", "build-x64", "win64", "/usr/lib/wine/wine64", "x86_64-w64-mingw32",
                   2108),
}


class ArchError(RuntimeError):
    pass


def _tiny_elf32():
    """A static i386 ELF program of 93 bytes that exits with status 0."""
    code = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])  # mov eax,1 / xor ebx,ebx / int 0x80
    base, ehsize, phsize = 0x08048000, 52, 32
    total = ehsize + phsize + len(code)
    header = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    header += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + ehsize + phsize, ehsize, 0, 0, ehsize, phsize, 1, 0, 0, 0)
    program = struct.pack("<IIIIIIII", 1, 0, base, base, total, total, 5, 0x1000)
    return header + program + code


def runs_32bit():
    """True when this machine runs 32-bit x86 programs."""
    with tempfile.TemporaryDirectory(prefix="kivo-arch-") as folder:
        path = os.path.join(folder, "probe32")
        with open(path, "wb") as f:
            f.write(_tiny_elf32())
        os.chmod(path, 0o755)
        try:
            return subprocess.run([path], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=10).returncode == 0
        except (OSError, subprocess.TimeoutExpired):
            return False


def choose(environ=None, probe=runs_32bit):
    """The architecture to build and test on this machine."""
    environ = os.environ if environ is None else environ
    forced = environ.get(FORCE_VAR, "").strip()
    if forced:
        if forced not in ARCHES:
            raise ArchError(f"{FORCE_VAR}={forced} is not one of {', '.join(ARCHES)}")
        if forced == "i686" and not probe():
            raise ArchError(f"{FORCE_VAR}=i686, but this machine cannot run 32-bit programs (its kernel has "
                            f"32-bit emulation switched off); use x86_64 or leave {FORCE_VAR} unset")
        return ARCHES[forced]
    return ARCHES["i686"] if probe() else ARCHES["x86_64"]


def of_build(build):
    """The architecture a configured build tree was made for."""
    try:
        with open(os.path.join(build, ARCH_FILE)) as f:
            name = f.read().strip()
    except OSError as error:
        raise ArchError(f"{build} is not a configured build tree ({error.strerror}: {ARCH_FILE})") from None
    if name not in ARCHES:
        raise ArchError(f"{build}/{ARCH_FILE} names an unknown architecture {name!r}")
    return ARCHES[name]


def current():
    """The architecture of the build tree in KIVO_BUILD_DIR."""
    build = os.environ.get("KIVO_BUILD_DIR")
    if not build:
        raise ArchError("KIVO_BUILD_DIR is not set (the CMake build directory)")
    return of_build(build)


def main():
    try:
        arch = choose()
    except ArchError as error:
        print(f"error: {error}", file=sys.stderr)
        return 2
    print(arch.name, arch.preset, arch.build_dir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
