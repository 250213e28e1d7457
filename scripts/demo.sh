#!/usr/bin/env bash
# The whole system at work: builds the example application instrument-app, registry-client and
# the simulated chassis controller and boards, starts the application in the foreground on a free
# loopback port on a simulated chassis (sim/boards/data/two_boards.txt: the chassis manager, an
# event-receiver board in slot 2 and a timing board in slot 3) with its registry persisted in a
# temporary folder, and walks registry-client through it: browse the registry and the timing
# board, read its clock status, set a trigger, a DAC output and a trigger source, a refused value,
# a watched event counter, the timing board's event signal and the event-receiver board's
# trigger-code signal (fed through the simulated board's FIFO and played by its generator), then
# a stop with SIGTERM and a restart that brings a persistent setting back.
#   scripts/demo.sh
# The build folder is build/release, or $KAVREL_BUILD_DIR when that is set; the build runs
# $KAVREL_JOBS jobs (default: nproc). With KAVREL_DEMO_NO_BUILD=1 it builds nothing and runs the
# programs already in the build folder (CI runs it so against the dev build).
#
# Each step is a numbered "say"; the client's commands are shown with "$", their output indented.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export KAVREL_BUILD_DIR="${KAVREL_BUILD_DIR:-$root/build/release}"

tmp=""
app_pid=""
side_pids=()

cleanup() {
  local pid
  for pid in "${side_pids[@]}" "$app_pid"; do
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

# The build's output with its progress on one line: ninja's [N/M] count, rewritten in place on a
# terminal, every tenth step (and the last) elsewhere; what else it says (packages, errors) as it
# comes.
build_progress() {
  local line pending=0
  while IFS= read -r line; do
    if [[ "$line" =~ ^\[([0-9]+)/([0-9]+)\]\  ]]; then
      if [[ -t 1 ]]; then
        printf '\r\033[K   building: step %s of %s' "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
        pending=1
      elif ((BASH_REMATCH[1] > 0 && (BASH_REMATCH[1] % 10 == 0 || BASH_REMATCH[1] == BASH_REMATCH[2]))); then
        printf '   building: step %s of %s\n' "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
      fi
      continue
    fi
    if ((pending)); then
      printf '\n'
      pending=0
    fi
    printf '%s\n' "$line"
  done
  if ((pending)); then
    printf '\n'
  fi
}

bin="$KAVREL_BUILD_DIR/bin"
lib="$KAVREL_BUILD_DIR/lib"
if [[ "${KAVREL_DEMO_NO_BUILD:-0}" != 1 ]]; then
  echo "== Building instrument-app, registry-client and the simulated chassis (scripts/setup.sh release," \
    "${KAVREL_JOBS:-$(nproc)} jobs; KAVREL_JOBS sets another count)"
  echo "   A first build takes some 15 minutes of processor time: about 5 minutes on 4 free cores, longer on" \
    "a busy machine; later builds compile only what changed."
  "$root/scripts/setup.sh" release instrument-app registry-client kavrelsimcmc kavrelsimboards 2>&1 | build_progress
fi
for file in "$bin/instrument-app" "$bin/registry-client" "$lib/libkavrelsimcmc.so" "$lib/libkavrelsimboards.so"; do
  [[ -e "$file" ]] || fail "$file is missing (build it, or leave KAVREL_DEMO_NO_BUILD unset)"
done
started=$SECONDS

tmp="$(mktemp -d "${TMPDIR:-/tmp}/kavrel-demo.XXXXXX")"
config="$tmp/instrument-app.xml"
log="$tmp/instrument-app.log"
boardlog="$tmp/boards.log"
chassis="$root/sim/boards/data/two_boards.txt"
pax=/boards/pax3
zolt=/boards/zolt2
port=""

# The simulated chassis controller and boards, preloaded into the application's process (a
# build with AddressSanitizer wants them after its run-time library, which it need not check,
# and leaves the outside libraries' known leaks to the project's suppressions).
sim_env=(LD_PRELOAD="$lib/libkavrelsimcmc.so $lib/libkavrelsimboards.so")
if grep -qE '^KAVREL_SANITIZE:[A-Z]+=.*address' "$KAVREL_BUILD_DIR/CMakeCache.txt" 2>/dev/null; then
  sim_env+=(ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
    LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/cmake/lsan.supp}")
fi
sim_env+=(KAVREL_SIM_CHASSIS="$chassis" KAVREL_SIM_FEED_DIR="$tmp" KAVREL_SIM_BOARD_LOG="$boardlog")

# The words as the shell reads them back: bare when that is safe, else in single quotes.
shell_words() {
  local word out=()
  for word in "$@"; do
    if [[ "$word" =~ ^[A-Za-z0-9_./:=+,@%-]+$ ]]; then
      out+=("$word")
    else
      out+=("'${word//\'/\'\\\'\'}'")
    fi
  done
  echo "${out[*]}"
}

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

# Polls (every 0.1 s, 60 s at most) until the command succeeds; false when it never does.
poll() {
  local _
  for _ in $(seq 1 600); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Starts the application and waits until it answers; a port taken in the meantime is tried again.
start_app() {
  local attempt line word
  for attempt in 1 2 3 4 5; do
    # The log is appended to: what this start wrote begins after the lines already there.
    app_from=$(($( (cat "$log" 2>/dev/null || true) | wc -l) + 1))
    port="$(free_port)"
    # The very line shown is what runs, so that it can be pasted (with the folder made again
    # once the demo has removed it).
    line="env"
    for word in "${sim_env[@]}"; do
      line+=" \\"$'\n'"    $(shell_words "$word")"
    done
    line+=" \\"$'\n'"    $(shell_words "$bin/instrument-app" --no-daemon -p "$port" -L "$tmp/" -l instrument-app.log)"
    line+=" \\"$'\n'"    $(shell_words -c "$config" --config-registry -b kvr:///3 kvr:///2)"
    echo "\$ mkdir -p $(shell_words "$tmp") && $line"
    (eval "exec $line") >"$tmp/app.out" 2>&1 &
    app_pid=$!
    if poll answers && kill -0 "$app_pid" 2>/dev/null && ! port_taken; then
      echo "serving on port $port (pid $app_pid); its log:"
      tail -n "+$app_from" "$log" | indent
      return 0
    fi
    if ! port_taken; then
      kill -0 "$app_pid" 2>/dev/null && fail "instrument-app did not answer in 60 s"
      cat "$tmp/app.out" "$log" >&2
      fail "instrument-app did not start"
    fi
    wait "$app_pid" || true
    app_pid=""
    echo "port $port was taken (attempt $attempt); another one"
  done
  fail "instrument-app found no port"
}
# Whether this start could not serve on its port: another process took it after free_port.
port_taken() {
  tail -n "+$app_from" "$log" 2>/dev/null | grep -q "CRITICAL Error: inet: "
}
# True once the application answers, or once it has ended or found its port taken (start_app
# tells them apart). Its own log line first: whatever took the port may answer as well.
answers() {
  if ! kill -0 "$app_pid" 2>/dev/null || port_taken; then
    return 0
  fi
  tail -n "+$app_from" "$log" 2>/dev/null | grep -q "Serving requests on port $port\.$" &&
    "$bin/registry-client" --port "$port" get /app-name >/dev/null 2>&1
}

stop_app() {
  local from rc=0
  from=$(($(wc -l <"$log") + 1))
  echo "\$ kill -TERM $app_pid"
  kill -TERM "$app_pid"
  wait "$app_pid" || rc=$?
  app_pid=""
  [[ $rc -eq 0 ]] || { cat "$tmp/app.out" >&2; fail "instrument-app ended with exit code $rc"; }
  echo "instrument-app ended with exit code 0; its log since:"
  tail -n "+$from" "$log" | indent
  tail -n "+$from" "$log" | grep -q "INFO Shutting down.$" || fail "no shutdown line in the log"
  tail -n "+$from" "$log" | grep -q "INFO Stopped.$" || fail "no line of the end in the log"
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

# Starts a client in the background with its output in the file; its pid in $side.
background() {
  local out="$1"
  shift
  echo "  \$ registry-client $* &"
  "$bin/registry-client" --port "$port" "$@" >"$out" 2>&1 &
  side=$!
  side_pids+=("$side")
}
has() { grep -qE -- "$2" "$1"; }

# What the simulated boards saw since the line count given: lines matching the pattern.
board_lines() {
  echo "  the simulated boards saw:"
  tail -n "+$1" "$boardlog" | grep -E -- "$2" | indent || fail "the boards did not see /$2/"
}

# Writes trigger-code atoms {code, time stamp} (two little-endian 64-bit words) into the
# event-receiver board's feed FIFO.
feed_codes() {
  perl -e 'print pack("q<q<", @ARGV[2 * $_, 2 * $_ + 1]) for 0 .. @ARGV / 2 - 1' "$@" >"$tmp/kavrel2.strm0"
}

say "Starting instrument-app on the simulated chassis (its files in $tmp)"
start_app
echo "the simulated boards' first lines (the SFP oscillator programmed, the transceiver reset):"
grep -E "SI57xSFP|mgt W32" "$boardlog" | head -n 3 | indent

say "Browsing: the application, its boards and their components (three levels of the tree)"
echo "  \$ registry-client list / | (the paths of up to three names)"
"$bin/registry-client" --port "$port" list / >"$tmp/list.out" || fail "list / failed"
awk '{ path = $1 } gsub("/", "", path) <= 3' "$tmp/list.out" | indent
grep -qE "^$pax/clk_mgr " "$tmp/list.out" && grep -qE "^$zolt/signals/zolt .* r------s" "$tmp/list.out" ||
  fail "the boards' subtrees are missing"

say "The timing board's trigger channel 2 and clock manager, with types and flags"
echo "  (hidden nodes, such as the prescalers and the chips behind the bus controllers, are reached by path)"
client list "$pax/triggers/t2"
client list "$pax/clk_mgr"

say "Reading: the ADC frequency, the clock status enumerations, the board's identity"
expect "= 250000000" get "$pax/clock_info/adc_frequency"
client info "$pax/clk_mgr/mc/source"
expect "= Internal" get "$pax/clk_mgr/sc/source"
client list "$pax/info"

say "Setting a trigger prescaler, a DAC output and a trigger source by its name"
from=$(($(wc -l <"$boardlog") + 1))
expect "= 1000" set "$pax/triggers/t2/prescaler" 1000
expect "= 32768" set "$pax/mc_dac_controller/DAC8552/output/A" 32768
expect "= Internal" set "$pax/triggers/t2/source" Internal
board_lines "$from" "slot 3 (triggers W(32 \+0x48|64 \+0x40)|DAC8552)"

say "A value the DAC's validator refuses (0 to 65535), and the value kept"
refused set "$pax/mc_dac_controller/DAC8552/output/A" 70000
expect "= 32768" get "$pax/mc_dac_controller/DAC8552/output/A"

say "Watching the counter of event 2 while another client sets channel 2 to Pulse"
background "$tmp/watch.out" watch "$pax/events/t2/count" --notifications 1 --timeout 60
watch_pid=$side
poll has "$tmp/watch.out" "^watching " || fail "the watcher did not start: $(cat "$tmp/watch.out")"
client set "$pax/triggers/t2/source" Pulse
wait "$watch_pid" || { cat "$tmp/watch.out"; fail "the watcher did not see the count change"; }
echo "  the watcher's output:"
indent <"$tmp/watch.out"

say "Streaming the timing board's events: the machine clock's (id 16) and a Pulse's (id 2)"
client set "$pax/triggers/t2/source" Off
background "$tmp/events.out" stream "$pax/signals/event"
events_pid=$side
poll has "$tmp/events.out" "^  connected " || fail "the event stream did not connect: $(cat "$tmp/events.out")"
client set "$pax/triggers/t2/source" Pulse
# Until event 2 and three machine-clock events after it have arrived; then interrupted.
poll has "$tmp/events.out" "^id=2 " || fail "no event 2 arrived"
poll awk '/^id=2 /{ seen = 1 } seen && /^id=16 / { n++ } END { exit n < 3 }' "$tmp/events.out" ||
  fail "the machine clock's events stopped"
kill -TERM "$events_pid"
wait "$events_pid" || fail "the event stream ended with an error: $(cat "$tmp/events.out")"
echo "  its output (of the events, the first three, event 2 and the last):"
awk 'function flush() { if (skipped) print "..."; if (held != "") print held; held = ""; skipped = 0 }
     /^id=/ { n++; if (n <= 3 || /^id=2 /) { flush(); print } else { if (held != "") skipped++; held = $0 } next }
     { flush(); print }' "$tmp/events.out" | indent
atoms=$(grep -c "^id=" "$tmp/events.out")
grep -q "^  received    $atoms atoms" "$tmp/events.out" || fail "the statistics do not count $atoms atoms"
echo "  => $atoms events arrived: $(grep -c "^id=16 " "$tmp/events.out") of the machine clock, $(grep -c "^id=2 " "$tmp/events.out") of the Pulse"

say "Streaming the event-receiver board's trigger codes: fed through its FIFO, then from its generator"
background "$tmp/codes.out" stream "$zolt/signals/zolt" --count 8 --timeout 60
codes_pid=$side
poll has "$tmp/codes.out" "^  connected " || fail "the trigger-code stream did not connect: $(cat "$tmp/codes.out")"
echo "  (five atoms {code, time stamp}, {1, 1000} to {5, 5000}, written into $tmp/kavrel2.strm0)"
feed_codes 1 1000 2 2000 3 3000 4 4000 5 5000
poll has "$tmp/codes.out" "^zolt_code=5 " || fail "the fed codes did not arrive: $(cat "$tmp/codes.out")"
client set "$zolt/rtc/generator/code" 21 22 23
client set "$zolt/rtc/generator/delay" 1000 2500 0
client exec "$zolt/rtc/generator/apply"
wait "$codes_pid" || { cat "$tmp/codes.out"; fail "fewer than 8 trigger codes arrived"; }
echo "  its output:"
indent <"$tmp/codes.out"
codes="$(sed -n 's/^zolt_code=\([0-9]*\) .*/\1/p' "$tmp/codes.out" | tr '\n' ' ')"
[[ "$codes" == "1 2 3 4 5 21 22 23 " ]] || fail "trigger codes $codes, not 1 to 5, 21, 22, 23"
gaps="$(awk -F'timestamp=' '/^zolt_code=2[123] / { if (t != "") printf "%d ", $2 - t; t = $2 }' "$tmp/codes.out")"
[[ "$gaps" == "1000 2500 " ]] || fail "the generated codes are $gaps apart, not 1000 2500"
echo "  => 8 atoms arrived: 5 fed, 3 from the generator with time stamps 1000 and 2500 apart"

say "Stopping the application with SIGTERM: it saves the persistent settings"
stop_app
echo "saved in $config (the timing board's channel 2):"
# Each persisted value of the channel with the path of elements that holds it.
awk '/<[a-z_0-9]+>$/ { match($0, /<[a-z_0-9]+>/); path[++depth] = substr($0, RSTART + 1, RLENGTH - 2); next }
     /<\/[a-z_0-9]+>$/ { depth--; next }
     /value=/ { p = ""; for (i = 1; i <= depth; i++) p = p "/" path[i]; if (p ~ /pax3\/triggers\/t2$/) { sub(/^ */, ""); print p ": " $0 } }' \
  "$config" | indent

say "Starting it again: the prescaler comes back from the file"
start_app
expect "$pax/triggers/t2/prescaler = 1000" get "$pax/triggers/t2/prescaler"

say "Stopping the application"
stop_app
for pid in "${side_pids[@]}"; do
  ! kill -0 "$pid" 2>/dev/null || fail "registry-client $pid is still running"
done
echo
echo "Demo finished in $((SECONDS - started)) s after the build: instrument-app with a timing board and an"
echo "event-receiver board on the simulated chassis, browsed, set, watched and streamed by registry-client,"
echo "stopped and started again; nothing is left running."
