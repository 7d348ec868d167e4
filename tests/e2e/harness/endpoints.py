"""The service's endpoints as the build under test has them.

Read from <build dir>/generated/ServiceEndpoints.h, which CMake writes from
the cache variables, so tests follow a build configured with other
addresses. Names are those of the header without the leading "k":
ServerCT1 ... ServerOther2, IntelligentHost, UpdateHost, RegisterUrl,
StatusUrl, MakerUrl, UpdaterPins.
"""

import os
import re

from . import prefix

SERVERS = ("ServerCT1", "ServerCT2", "ServerCNC1", "ServerCNC2", "ServerOther1", "ServerOther2")

_LINE = re.compile(r'inline\s+constexpr\s+const\s+char\s*\*\s*k(\w+)\s*=\s*"([^"]*)"\s*;')


def load(build=None):
    """{name: value} from the generated header; raises when it is missing."""
    path = os.path.join(build or prefix.build_dir(), "generated", "ServiceEndpoints.h")
    with open(path, encoding="utf-8") as f:
        values = dict(_LINE.findall(f.read()))
    missing = [name for name in SERVERS + ("IntelligentHost", "UpdateHost") if name not in values]
    if missing:
        raise RuntimeError(f"{path} lacks {missing}")
    return values


def servers(build=None):
    """The six catalogue addresses in catalogue order: CT1, CT2, CNC1, CNC2, Other1, Other2."""
    values = load(build)
    return [values[name] for name in SERVERS]
