"""The program's resource ids, as res/resource.h defines them.

Names are those of the header, taken as module attributes:

    from harness.resource_ids import IDC_USER, IDC_PASSWORD, IDD_NETPERF

The header is read from the source tree under test (KIVO_SOURCE_DIR, else
the tree this file belongs to), so that tests never restate a number the
program takes from there.
"""

import os
import re

_SOURCE = os.environ.get("KIVO_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", ".."))
HEADER = os.path.join(_SOURCE, "res", "resource.h")

_DEFINE = re.compile(r"^#define\s+(ID\w+)\s+(0x[0-9A-Fa-f]+|\d+)\s*$", re.MULTILINE)


def load(path=HEADER):
    """{name: value} of every id the header defines; raises when there is none."""
    with open(path, encoding="utf-8") as f:
        ids = {name: int(value, 0) for name, value in _DEFINE.findall(f.read())}
    if not ids:
        raise RuntimeError(f"{path} defines no resource ids")
    return ids


globals().update(load())
