#!/usr/bin/env bash
# Builds the client and runs it in a sealed demo world: simulated servers
# (one silent), an update host offering nothing newer, and a RAS double that
# connects. Uses $DISPLAY when it can be reached; otherwise runs on Xvfb,
# writes a screenshot once the window shows (its path is printed) and ends.
# Extra arguments go to the demo (e.g. --locale zh_CN.UTF-8, --xvfb).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
exec unshare --pid --fork --kill-child --mount --mount-proc -- \
  /usr/bin/python3 -m harness.demo --build "$build" "$@"
