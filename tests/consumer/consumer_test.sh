#!/usr/bin/env bash
# The installed framework as another project meets it (ctest, label e2e):
#   consumer_test.sh install <build> <stage>   cmake --install of the build into <stage>
#                                              (DESTDIR, prefix /usr/local)
#   consumer_test.sh cmake <stage>             tests/consumer built with find_package(kavrel), run
#   consumer_test.sh pkgconfig <stage>         the same program on one compiler line with the
#                                              flags of pkg-config, run
#   consumer_test.sh headers <stage>           every installed header compiled on its own
# Environment: CXX (the compiler), CXXFLAGS (the build's sanitizer flags, also used to link),
# KAVREL_LAUNCHER (a compiler launcher such as ccache, or empty).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mode="$1"
stage="${!#}"
prefix="$stage/usr/local"
cxx="${CXX:-g++}"
cxxflags="${CXXFLAGS:-}"
launcher=()
[ -n "${KAVREL_LAUNCHER:-}" ] && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER="$KAVREL_LAUNCHER")

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# The types schema is installed where generated schemas name it (an absolute path), so below
# the stage folder here.
types_schema() {
  echo "$stage$(pkg-config --variable=typesschema kavrel-icfg)"
}

run_consumer() {
  local program="$1" dir="$2"
  rm -rf "$dir" && mkdir -p "$dir"
  "$program" "$dir" "$(types_schema)"
  test -s "$dir/consumer.xml" || { echo "no configuration file written"; exit 1; }
}

case "$mode" in
install)
  build="$2"
  rm -rf "$stage"
  DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >/dev/null
  test -f "$prefix/lib/cmake/kavrel/kavrelConfig.cmake"
  test -f "$(types_schema)"
  echo "installed into $prefix"
  ;;
cmake)
  cmake -S "$here" -B "$stage/build-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxxflags" "${launcher[@]}" >/dev/null
  cmake --build "$stage/build-cmake" -j 2
  run_consumer "$stage/build-cmake/kavrel-consumer" "$stage/run-cmake"
  ;;
pkgconfig)
  mkdir -p "$stage/build-pkgconfig"
  modules=(kavrel-ireg kavrel-iapp)
  # shellcheck disable=SC2046,SC2086
  "$cxx" -std=c++17 -Wall -Wextra -Werror $cxxflags "$here/consumer.cpp" -o "$stage/build-pkgconfig/kavrel-consumer" \
    $(pkg-config --cflags --libs "${modules[@]}") -Wl,-rpath,"$(pkg-config --variable=libdir kavrel-ireg)"
  run_consumer "$stage/build-pkgconfig/kavrel-consumer" "$stage/run-pkgconfig"
  ;;
headers)
  cmake -S "$here/headers" -B "$stage/build-headers" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" "${launcher[@]}" >/dev/null
  cmake --build "$stage/build-headers" -j 2 -- -k 0
  ;;
*)
  echo "consumer_test.sh: unknown mode '$mode'" >&2
  exit 2
  ;;
esac
