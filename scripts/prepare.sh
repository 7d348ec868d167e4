# Sourced by run.sh and test.sh: installs what is missing, builds the tree
# with the preset and points Python at the test harness. Sets $root.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
cmake --preset windows
cmake --build --preset windows

export PYTHONPATH="$root/tests/e2e${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1
