#!/usr/bin/env bash
# Builds everything and runs every test with CTest, inside a sealed network,
# mount and process namespace: nothing in the suite can reach beyond this
# machine, and no process outlives the run. Exits with CTest's status.
# Extra arguments go to ctest (e.g. -R e2e_rig).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
# A process namespace of our own: when its first process ends, the kernel
# ends every other one in it.
exec unshare --pid --fork --kill-child --mount --mount-proc -- \
  /usr/bin/python3 -m harness.sealed --build "$build" -- \
  ctest --preset "$preset" --output-on-failure "$@"
