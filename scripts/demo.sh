#!/usr/bin/env bash
# The remote registry at work: builds the example server and client, starts the server on a
# port the system chooses (which it prints first) with its configuration in a temporary folder,
# and walks the client through the registry: list, get, set (a value, an enumeration by name), a
# command, refused values, a watched node changed by another client, and a restart that brings
# the persistent values back.
#   scripts/demo.sh
# The build folder is build/release, or $KAVREL_BUILD_DIR when that is set.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export KAVREL_BUILD_DIR="${KAVREL_BUILD_DIR:-$root/build/release}"

tmp=""
server_pid=""
watch_pid=""

cleanup() {
  local pid
  for pid in "$watch_pid" "$server_pid"; do
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  [[ -z "$tmp" ]] || rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

say() { printf '\n== %s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

echo "== Building the registry server and client (scripts/setup.sh release)"
# Without the build's progress lines; what else it says (packages, errors) stays.
"$root/scripts/setup.sh" release registry-server registry-client 2>&1 | { grep -v '^\[[0-9]*/[0-9]*\] ' || true; }
bin="$KAVREL_BUILD_DIR/bin"
types_schema="$(ls "$KAVREL_BUILD_DIR"/xsd/*/types.xsd | head -n 1)"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/kavrel-demo.XXXXXX")"
config="$tmp/registry-server.xml"
port=""

# Starts the server on a port the system chooses and waits until it serves: its first line says
# where ("registry-server: serving on port <port> as ..."), the second which configuration.
start_server() {
  "$bin/registry-server" --port 0 --config-file "$config" --types-schema "$types_schema" \
    >"$tmp/server.out" 2>"$tmp/server.err" &
  server_pid=$!
  for _ in $(seq 1 100); do
    if [[ "$(wc -l <"$tmp/server.out")" -ge 2 ]]; then
      port="$(sed -n '1s/^registry-server: serving on port \([0-9]*\) .*/\1/p' "$tmp/server.out")"
      [[ -n "$port" ]] || fail "no port on the server's first line: $(head -n 1 "$tmp/server.out")"
      sed 's/^/  | /' "$tmp/server.out"
      return 0
    fi
    if ! kill -0 "$server_pid" 2>/dev/null; then
      server_pid=""
      cat "$tmp/server.err" >&2
      fail "the server did not start"
    fi
    sleep 0.1
  done
  fail "the server did not start in 10 s"
}

stop_server() {
  kill -TERM "$server_pid"
  local rc=0
  wait "$server_pid" || rc=$?
  server_pid=""
  sed 's/^/  | /' "$tmp/server.out" | tail -n 2
  [[ $rc -eq 0 ]] || fail "the server ended with exit code $rc"
}

# Runs the client against the server, showing the command first.
client() {
  echo "\$ registry-client $*"
  "$bin/registry-client" --port "$port" "$@"
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

say "Starting the server (configuration in $tmp)"
start_server

say "The registry: every node with its type, flags and value"
client list

say "Reading a few nodes"
client get /settings/gain
client get /settings/mode
client get /tables/counts --pos 1 --count 2
client info /settings/count
client info /settings/mode

say "Setting a value, and an enumeration by its name"
expect "/settings/gain = 2.5" set /settings/gain 2.5
expect "/settings/mode = external" set /settings/mode external
expect "/registers/divider = 12" set /registers/divider 12
client get /registers/words

say "A command node runs"
expect "/apply executed" exec /apply
expect "/applied = 1" get /applied

# Runs the client on a value it must refuse, with the reason on standard error.
refused() {
  echo "\$ registry-client $*"
  if "$bin/registry-client" --port "$port" "$@" 2>"$tmp/refused.err"; then
    fail "registry-client $* was taken"
  fi
  cat "$tmp/refused.err"
}

say "Refused values: the validator of /settings/count takes 0 to 100; /settings/mode has four names"
refused set /settings/count 500
refused set /settings/mode sometimes
client get /settings/count

say "Watching /settings/count and /settings/mode while another client changes them"
echo "\$ registry-client watch /settings/count /settings/mode --notifications 3 --timeout 10 &"
"$bin/registry-client" --port "$port" watch /settings/count /settings/mode --notifications 3 --timeout 10 \
  >"$tmp/watch.out" 2>&1 &
watch_pid=$!
for _ in $(seq 1 100); do
  grep -q "watching /settings/mode" "$tmp/watch.out" && break
  sleep 0.1
done
client set /settings/count 42
client set /settings/mode software
client set /settings/count 43
wait "$watch_pid" || { cat "$tmp/watch.out"; fail "the watcher did not see the three changes"; }
watch_pid=""
echo "watcher output:"
sed 's/^/  | /' "$tmp/watch.out"

say "Stopping the server: it saves the persistent values"
stop_server
echo "saved in $config:"
grep -E '<(gain|mode|count) ' "$config" | sed 's/^ */  | /'

say "Starting the server again: the persistent values come back"
start_server
expect "/settings/gain = 2.5" get /settings/gain
expect "/settings/mode = software" get /settings/mode
expect "/settings/count = 43" get /settings/count
echo "(/registers are hardware, not persistent:)"
expect "/registers/divider = 0" get /registers/divider

say "Stopping the server"
stop_server
echo
echo "Demo finished."
