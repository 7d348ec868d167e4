# Sourced by run.sh and test.sh: picks the architecture this machine can run
# (harness.arch: i686 where 32-bit programs run, else x86_64; KIVO_TEST_ARCH
# forces one), installs what is missing for it, builds the tree with its
# preset and points Python at the test harness. Sets $root, $arch, $preset
# and $build.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

choice="$(PYTHONPATH="$root/tests/e2e" /usr/bin/python3 -m harness.arch)" || exit 2
read -r arch preset build <<< "$choice"
build="$root/$build"
echo "Kivoline: testing the $arch build (preset $preset, $build)"

bash scripts/setup.sh "$arch"
cmake --preset "$preset"
cmake --build --preset "$preset"

export PYTHONPATH="$root/tests/e2e${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1
