#!/usr/bin/env bash
# Builds and runs every test: the dev build (AddressSanitizer + UndefinedBehaviorSanitizer)
# with all tests (among them the consumer tests: the build installed into a prefix under the
# build folder and used from a project of its own with CMake and pkg-config), the Debian packages
# of a build without preset, checked file by file (and the check itself, on broken copies of
# them), the tsan build with the threaded tests, then a replay of each fuzz target's seed corpus
# (when clang is present). Exits non-zero on any failure.
# Builds and tests run $KAVREL_JOBS jobs (default: nproc).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="${KAVREL_JOBS:-$(nproc)}"
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || { echo "test: KAVREL_JOBS='$jobs' is no number of jobs (1 or more)" >&2; exit 2; }

echo "== dev build (ASan + UBSan)"
scripts/setup.sh dev
echo "== dev tests"
ctest --preset dev -j "$jobs"

echo "== Debian packages (a build without preset: no tests, warnings not errors; with debug information for the -dbgsym packages)"
package_dir="$root/build/package"
cmake -S . -B "$package_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVREL_TESTS=OFF >/dev/null
cmake --build "$package_dir" -j "$jobs"
rm -f "$package_dir"/*.deb "$package_dir"/*.ddeb
(cd "$package_dir" && cpack >/dev/null)
scripts/check_packages.sh "$package_dir"
scripts/check_packages_test.sh "$package_dir"

echo "== tsan build"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
echo "== threaded tests under ThreadSanitizer"
ctest --preset tsan -j "$jobs"

if command -v clang++ >/dev/null 2>&1; then
  echo "== fuzz targets: seed corpus replay"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  ctest --preset fuzz -j "$jobs"
fi
