#!/usr/bin/env bash
# Builds the client and runs it in a sealed demo world: simulated servers
# (one silent), an update host offering nothing newer, and a RAS double that
# connects. Uses $DISPLAY when it can be reached; otherwise runs on Xvfb,
# writes a screenshot once the window shows (its path is printed) and ends.
# Extra arguments go to the demo (e.g. --locale zh_CN.UTF-8, --xvfb).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
cmake --preset windows
cmake --build --preset windows

export PYTHONPATH="$root/tests/e2e${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1
exec unshare --pid --fork --kill-child --mount --mount-proc -- \
  /usr/bin/python3 -m harness.demo --build "$root/build" "$@"
