#!/usr/bin/env bash
# The installed framework as another project meets it (ctest, label e2e):
#   consumer_test.sh install <build> <stage>   cmake --install of the build into <stage>/prefix,
#                                              as a user who cannot write /opt: only the prefix
#                                              is written
#   consumer_test.sh cmake <stage>             tests/consumer (a program and a plug-in) built
#                                              with find_package(kavrel); the program run
#   consumer_test.sh pkgconfig <stage>         the same program on one compiler line with the
#                                              flags of pkg-config, run
#   consumer_test.sh headers <stage>           every installed header compiled on its own
#   consumer_test.sh unknown-component <stage> find_package(kavrel COMPONENTS bogus) fails,
#                                              naming the component
#   consumer_test.sh app <stage>               the installed instrument-app on the installed
#                                              simulated chassis, with the plug-in of the cmake
#                                              mode: nodes read through the installed
#                                              registry-client, a setting kept over a restart
# Environment: CXX (the compiler), CXXFLAGS (the build's sanitizer flags, also used to link),
# KAVREL_LAUNCHER (a compiler launcher such as ccache, or empty).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mode="$1"
stage="${!#}"
prefix="$stage/prefix"
cxx="${CXX:-g++}"
cxxflags="${CXXFLAGS:-}"
launcher=()
[ -n "${KAVREL_LAUNCHER:-}" ] && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER="$KAVREL_LAUNCHER")

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
fail() {
  echo "consumer_test: $*" >&2
  exit 1
}

# The types schema that programs name (where the packages install it), and the one they use:
# that one where it exists, else the copy installed under the prefix.
named_schema() { pkg-config --variable=typesschema kavrel-icfg; }
schema_in_use() {
  local named
  named="$(named_schema)"
  if [ -f "$named" ]; then
    echo "$named"
  else
    realpath "$prefix/share/kavrel/xsd/$(basename "$(dirname "$named")")/types.xsd"
  fi
}

run_consumer() {
  local program="$1" dir="$2"
  rm -rf "$dir" && mkdir -p "$dir"
  "$program" "$dir" "$(named_schema)"
  test -s "$dir/consumer.xml" || fail "no configuration file written"
  grep -qF "schemaLocation=\"$(schema_in_use)\"" "$dir/consumer.xsd" ||
    fail "the schema does not import $(schema_in_use): $(grep import "$dir/consumer.xsd")"
}

# Runs the command with /opt read-only where a mount namespace of its own can be had (as for a
# user who cannot write /opt, also when the tests run as root).
without_opt() {
  if [ -d /opt ] && unshare -rm true 2>/dev/null; then
    unshare -rm sh -c 'mount --bind /opt /opt && mount -o remount,bind,ro /opt && exec "$@"' sh "$@"
  else
    "$@"
  fi
}

case "$mode" in
install)
  build="$2"
  rm -rf "$stage"
  opt_before="$(ls -d /opt/kavrel 2>/dev/null || true)"
  without_opt cmake --install "$build" --prefix "$prefix" >"$stage.install.log" 2>&1 ||
    { cat "$stage.install.log" >&2; fail "the install failed"; }
  outside="$(grep -v "^$prefix/" "$build/install_manifest.txt" || true)"
  [ -z "$outside" ] || fail "installed outside $prefix: $(echo $outside)"
  [ -n "$opt_before" ] || [ ! -e /opt/kavrel ] || fail "the install made /opt/kavrel"
  for file in lib/cmake/kavrel/kavrelConfig.cmake share/kavrel/xsd/*/types.xsd share/kavrel/xsd/*/runtime_config.xsd \
    share/kavrel/sim/two_boards.txt lib/kavrel/libkavrelsimboards.so bin/instrument-app; do
    compgen -G "$prefix/$file" >/dev/null || fail "$file is not installed"
  done
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
unknown-component)
  project="$stage/unknown-component"
  rm -rf "$project" && mkdir -p "$project"
  printf '%s\n' "cmake_minimum_required(VERSION 3.25)" "project(unknown LANGUAGES CXX)" \
    "find_package(kavrel 2.8 REQUIRED COMPONENTS ireg bogus)" >"$project/CMakeLists.txt"
  if cmake -S "$project" -B "$project/build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
    >"$project/out" 2>&1; then
    fail "find_package took the component bogus"
  fi
  grep -q "kavrel has no component bogus (its components: istd, " "$project/out" ||
    { cat "$project/out" >&2; fail "find_package did not name the component bogus"; }
  ;;
app)
  run="$stage/run-app"
  rm -rf "$run" && mkdir -p "$run"
  plugins="$stage/build-cmake/plugins"
  test -f "$plugins/consumer.so" || fail "no plug-in in $plugins (consumer_cmake builds it)"
  log="$run/instrument-app.log"
  client() { "$prefix/bin/registry-client" --port "$port" "$@"; }
  expect() {
    local text="$1" out
    shift
    out="$(client "$@" 2>&1)" || fail "registry-client $*: $out"
    [[ "$out" == *"$text"* ]] || fail "registry-client $*: '$out', not '$text'"
  }
  # Starts the application as the README shows; a port taken meanwhile is tried again. Only the
  # log lines of this start count: whatever took the port may answer in the application's place.
  start() {
    local attempt from
    since() { tail -n "+$from" "$log" 2>/dev/null | grep -q "$1"; }
    for attempt in 1 2 3 4 5; do
      port=$((20000 + RANDOM % 40000))
      ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || continue
      from=$(($( (cat "$log" 2>/dev/null || true) | wc -l) + 1))
      env LD_PRELOAD="$prefix/lib/kavrel/libkavrelsimcmc.so $prefix/lib/kavrel/libkavrelsimboards.so" \
        KAVREL_SIM_CHASSIS="$prefix/share/kavrel/sim/two_boards.txt" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
        "$prefix/bin/instrument-app" --no-daemon -p "$port" -L "$run/" -l instrument-app.log \
        -c "$run/instrument-app.xml" --config-registry -P "$plugins" -b kvr:///3 kvr:///2 >>"$run/app.out" 2>&1 &
      app=$!
      for _ in $(seq 1 1200); do
        since "CRITICAL Error: inet: " && break
        since "Serving requests on port $port\.$" && client get /app-name >/dev/null 2>&1 && return 0
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
      done
      if ! since "CRITICAL Error: inet: "; then
        kill -0 "$app" 2>/dev/null && fail "instrument-app did not answer in 120 s"
        cat "$run/app.out" "$log" >&2
        fail "instrument-app did not start"
      fi
      wait "$app" || true
    done
    fail "instrument-app found no port"
  }
  stop() {
    local rc=0
    kill -TERM "$app"
    wait "$app" || rc=$?
    [ "$rc" -eq 0 ] || { cat "$run/app.out" "$log" >&2; fail "instrument-app ended with exit code $rc"; }
  }

  start
  expect "= 250000000" get /boards/pax3/clock_info/adc_frequency
  expect "= hello" get /application/plugins/consumer/greeting/text
  expect "= from the consumer" set /application/plugins/consumer/greeting/text "from the consumer"
  stop
  start
  expect "= from the consumer" get /application/plugins/consumer/greeting/text
  stop

  # Each run said once that it uses the copy of the types schema under the prefix (when the one
  # named is missing), and libxml2 never missed the schema a generated schema imports.
  if [ ! -f "$(named_schema)" ]; then
    said="$(grep -c "icfg: the types schema $(named_schema) does not exist; using $(schema_in_use), installed with the library" "$log" || true)"
    [ "$said" -eq 2 ] || { cat "$log" >&2; fail "the copy of the types schema was named $said times in two runs"; }
  fi
  ! grep -q "Failed to locate a schema" "$log" "$run/app.out" || { cat "$log" >&2; fail "a schema import was skipped"; }
  grep -qF "schemaLocation=\"$(schema_in_use)\"" "$run/instrument-app.xsd" || fail "the schema does not import $(schema_in_use)"
  ;;
*)
  echo "consumer_test.sh: unknown mode '$mode'" >&2
  exit 2
  ;;
esac
