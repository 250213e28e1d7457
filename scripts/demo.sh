#!/usr/bin/env bash
# The framework at work: builds the example application instrument-app, its example plug-in and
# registry-client, starts the application in the foreground on a free loopback port with its
# registry persisted in a temporary folder, the test board kvr:///test/1 and the plug-in folder,
# and walks the client through what the framework made: the application's own nodes, tracing,
# the board, the plug-in, the signal repository, then the plug-in's settings (list, get, set a
# value and an enumeration by name, a command, refused values, a watched node changed by another
# client) and a restart that brings the persistent values back.
#   scripts/demo.sh
# The build folder is build/release, or $KAVREL_BUILD_DIR when that is set.
#
# Each step is a numbered "say"; the client's commands are shown with "$", their output indented.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export KAVREL_BUILD_DIR="${KAVREL_BUILD_DIR:-$root/build/release}"

tmp=""
app_pid=""
watch_pid=""

cleanup() {
  local pid
  for pid in "$watch_pid" "$app_pid"; do
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  [[ -z "$tmp" ]] || rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

step=0
say() {
  step=$((step + 1))
  printf '\n== %d. %s\n' "$step" "$*"
}
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }
indent() { sed 's/^/      /'; }

echo "== Building instrument-app, its example plug-in and registry-client (scripts/setup.sh release)"
# Without the build's progress lines; what else it says (packages, errors) stays.
"$root/scripts/setup.sh" release instrument-app demo_plugin registry-client 2>&1 |
  { grep -v '^\[[0-9]*/[0-9]*\] ' || true; }
bin="$KAVREL_BUILD_DIR/bin"
plugins="$KAVREL_BUILD_DIR/plugins/"
[[ -f "$plugins/demo.so" ]] || fail "no example plug-in in $plugins"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/kavrel-demo.XXXXXX")"
config="$tmp/instrument-app.xml"
log="$tmp/instrument-app.log"
trace="$tmp/instrument-app.trace"
board="kvr:///test/1"
plugin="/application/plugins/demo"
port=""

# A loopback port nothing listens on (IPv4 or IPv6), from the kernel's tables.
free_port() {
  local candidate hex
  for _ in $(seq 1 50); do
    candidate=$((20000 + RANDOM % 40000))
    hex="$(printf '%04X' "$candidate")"
    if ! awk -v p=":$hex" '$4 == "0A" && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }' \
      /proc/net/tcp /proc/net/tcp6 2>/dev/null; then
      echo "$candidate"
      return 0
    fi
  done
  fail "no free port found"
}

# Starts the application and waits until it answers; a port taken in the meantime is tried again.
start_app() {
  local attempt from
  for attempt in 1 2 3 4 5; do
    # The log is appended to: what this start wrote begins after the lines already there.
    from=$(($( (cat "$log" 2>/dev/null || true) | wc -l) + 1))
    port="$(free_port)"
    echo "\$ instrument-app --no-daemon -p $port -L $tmp/ -l instrument-app.log -d instrument-app.trace 1 \\"
    echo "    -c $config --config-registry -P $plugins -b $board"
    "$bin/instrument-app" --no-daemon -p "$port" -L "$tmp/" -l instrument-app.log -d instrument-app.trace 1 \
      -c "$config" --config-registry -P "$plugins" -b "$board" >"$tmp/app.out" 2>&1 &
    app_pid=$!
    for _ in $(seq 1 150); do
      if "$bin/registry-client" --port "$port" get /app-name >/dev/null 2>&1; then
        echo "serving on port $port (pid $app_pid); its log:"
        tail -n "+$from" "$log" | indent
        return 0
      fi
      if ! kill -0 "$app_pid" 2>/dev/null; then
        break
      fi
      sleep 0.2
    done
    if kill -0 "$app_pid" 2>/dev/null; then
      fail "instrument-app did not answer in 30 s"
    fi
    wait "$app_pid" || true
    app_pid=""
    grep -q "CRITICAL Error: inet: " "$log" 2>/dev/null || { cat "$tmp/app.out" "$log" >&2; fail "instrument-app did not start"; }
    echo "port $port was taken (attempt $attempt); another one"
  done
  fail "instrument-app found no port"
}

stop_app() {
  kill -TERM "$app_pid"
  local rc=0
  wait "$app_pid" || rc=$?
  app_pid=""
  [[ $rc -eq 0 ]] || { cat "$tmp/app.out" >&2; fail "instrument-app ended with exit code $rc"; }
  echo "instrument-app ended with exit code 0; the end of its log:"
  tail -n 2 "$log" | indent
}

# Runs the client against the application, showing the command first and its output indented.
client() {
  echo "  \$ registry-client $*"
  local out rc=0
  out="$("$bin/registry-client" --port "$port" "$@" 2>&1)" || rc=$?
  [[ -z "$out" ]] || indent <<<"$out"
  [[ $rc -eq 0 ]] || fail "registry-client $* ended with exit code $rc"
}

# Runs the client and checks that its output holds the text.
expect() {
  local text="$1"
  shift
  local out
  out="$(client "$@")"
  echo "$out"
  grep -qF -- "$text" <<<"$out" || fail "expected '$text'"
}

# Runs the client on a value it must refuse; the reason is on its standard error.
refused() {
  echo "  \$ registry-client $*"
  if "$bin/registry-client" --port "$port" "$@" 2>"$tmp/refused.err"; then
    fail "registry-client $* was taken"
  fi
  indent <"$tmp/refused.err"
}

say "Starting instrument-app (its files in $tmp)"
start_app

say "The application's own nodes: its name and version, and the ORB's largest message"
expect "/app-name = instrument-app" get /app-name
client get /version
client get /system/net/max_packet_size

say "Tracing: the level set by its name, a message written into the trace"
expect "/tracing/level = error" get /tracing/level
expect "/tracing/level = info" set /tracing/level info
client set /tracing/message "hello from the demo"
echo "in $trace:"
grep -F "hello from the demo" "$trace" | indent

say "The board: the test board $board under /boards"
expect "$board" list /boards

say "The plug-in: what it says of itself, and its features"
expect "$plugin/version = 1.0" get "$plugin/version"
client get "$plugin/file_name"
client get "$plugin/description"
client list "$plugin/settings"

say "The signal repository: the process's signal sources (the plug-in's generated ramp)"
expect "ramp" list /application/signals

say "Reading a few of the plug-in's nodes"
client get "$plugin/settings/gain"
client get "$plugin/settings/mode"
client get "$plugin/tables/counts" --pos 1 --count 2
client info "$plugin/settings/count"
client info "$plugin/settings/mode"

say "Setting a value, an enumeration by its name, and a register field"
expect "$plugin/settings/gain = 2.5" set "$plugin/settings/gain" 2.5
expect "$plugin/settings/mode = external" set "$plugin/settings/mode" external
expect "$plugin/registers/divider = 12" set "$plugin/registers/divider" 12
client get "$plugin/registers/words"

say "A command node runs"
expect "$plugin/control/apply executed" exec "$plugin/control/apply"
expect "$plugin/control/applied = 1" get "$plugin/control/applied"

say "Refused values: the validator of settings/count takes 0 to 100; settings/mode has four names"
refused set "$plugin/settings/count" 500
refused set "$plugin/settings/mode" sometimes
client get "$plugin/settings/count"

say "Watching settings/count and settings/mode while another client changes them"
echo "  \$ registry-client watch $plugin/settings/count $plugin/settings/mode --notifications 3 --timeout 10 &"
"$bin/registry-client" --port "$port" watch "$plugin/settings/count" "$plugin/settings/mode" --notifications 3 \
  --timeout 10 >"$tmp/watch.out" 2>&1 &
watch_pid=$!
for _ in $(seq 1 100); do
  grep -q "watching $plugin/settings/mode" "$tmp/watch.out" && break
  sleep 0.1
done
client set "$plugin/settings/count" 42
client set "$plugin/settings/mode" software
client set "$plugin/settings/count" 43
wait "$watch_pid" || { cat "$tmp/watch.out"; fail "the watcher did not see the three changes"; }
watch_pid=""
echo "watcher output:"
indent <"$tmp/watch.out"

say "Stopping the application with SIGTERM: it saves the persistent values"
stop_app
echo "saved in $config:"
grep -E '<(gain|mode|count) ' "$config" | sed 's/^ */      /'

say "Starting the application again: the persistent values come back"
start_app
expect "$plugin/settings/gain = 2.5" get "$plugin/settings/gain"
expect "$plugin/settings/mode = software" get "$plugin/settings/mode"
expect "$plugin/settings/count = 43" get "$plugin/settings/count"
echo "  (registers are hardware, not persistent:)"
expect "$plugin/registers/divider = 0" get "$plugin/registers/divider"

say "Stopping the application"
stop_app
echo
echo "Demo finished."
