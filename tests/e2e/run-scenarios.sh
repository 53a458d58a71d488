#!/usr/bin/env bash
# Runs the end-to-end scenarios on the shipped RUVO.exe under Wine: for each
# folder in scenarios/ it starts the simulated device (if the scenario has
# one) and the update server (if it names one), runs the UI driver with the
# scenario's steps, and compares what the driver saw with the expected
# transcript. Format of a scenario: README.md beside this script.
#
#   tests/e2e/run-scenarios.sh [--screenshots DIR] [NAME...]
#
# Inside a Wine session (WINEPREFIX and DISPLAY set, as dev.sh does) it uses
# that session; otherwise it starts its own and stops it at the end.
# RUVO_E2E_BUILD names the Windows build folder (default build/windows).
# Ends with the line "N passed, N failed"; exits non-zero if any failed.
set -uo pipefail

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RUVO_ROOT=${RUVO_ROOT:-$(cd "$E2E_DIR/../.." && pwd)}
BUILD_DIR=${RUVO_E2E_BUILD:-$RUVO_ROOT/build/windows}
BIN=$BUILD_DIR/bin
WORK_ROOT=$BUILD_DIR/e2e
DRIVER_TIMEOUT=${RUVO_E2E_DRIVER_TIMEOUT:-300}
SCREENSHOTS=
NAMES=()

while (($#)); do
  case $1 in
    --screenshots) SCREENSHOTS=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) NAMES+=("$1"); shift ;;
  esac
done

for program in RUVO.exe ruvo-driver.exe ruvo-sim.exe hid.dll setupapi.dll; do
  if [ ! -f "$BIN/$program" ]; then
    echo "missing $BIN/$program: build the windows preset first (or set RUVO_E2E_BUILD)" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
done

# A Unix path as the Windows programs see it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Everything started here is remembered and stopped on every way out.
OWN_SESSION=0
SIM_PID=
SERVER_WORK=
cleanup_scenario() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=
  fi
  exec 7>&- 2>/dev/null
  if [ -n "$SERVER_WORK" ]; then
    stop_server "$SERVER_WORK"
    SERVER_WORK=
  fi
}
cleanup_all() {
  cleanup_scenario
  if [ "$OWN_SESSION" = 1 ]; then
    ruvo_wine_stop
  fi
}
trap cleanup_all EXIT
trap 'exit 130' INT TERM

if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=../../scripts/wine-session.sh
  source "$RUVO_ROOT/scripts/wine-session.sh"
  OWN_SESSION=1
  ruvo_wine_start
fi
export WINEDEBUG=${WINEDEBUG:--all}

# Lines of a scenario file without comments and blank lines, joined by blanks.
words_of() { sed -e 's/#.*//' "$1" | tr '\n' ' ' | xargs; }

# The simulated device on a pipe of its own; quits on "quit" from fd 7.
start_device() {
  local scenario=$1 work=$2 pipe=$3
  local fifo=$work/device.in
  mkfifo "$fifo"
  exec 7<>"$fifo"
  # shellcheck disable=SC2046
  wine "$BIN/ruvo-sim.exe" --pipe "$pipe" --log "$(winpath "$work/device.log")" \
    --dump "$(winpath "$work/flash.bin")" $(words_of "$scenario/device") \
    <"$fifo" >"$work/device.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 300); do
    grep -q '^ruvo-sim ready' "$work/device.out" 2>/dev/null && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "  the simulator did not get ready:" >&2
  sed 's/^/    /' "$work/device.out" >&2
  return 1
}

# Asks the simulator to stop, so that it writes its flash dump, then waits.
stop_device() {
  [ -n "$SIM_PID" ] || return 0
  echo quit >&7
  for _ in $(seq 100); do
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  cleanup_scenario
}

# Hook for scenarios with a "server" file: tests/e2e/start-server.sh
# <server file> <work dir> starts the update server, returns once it serves,
# and leaves the ids of what it started in <work dir>/server.pids.
start_server() {
  local scenario=$1 work=$2
  if [ ! -x "$E2E_DIR/start-server.sh" ]; then
    echo "  the scenario needs an update server, but tests/e2e/start-server.sh is missing" >&2
    return 1
  fi
  SERVER_WORK=$work
  "$E2E_DIR/start-server.sh" "$scenario/server" "$work" >"$work/server.out" 2>&1 </dev/null
}
stop_server() {
  local work=$1 pid
  [ -f "$work/server.pids" ] || return 0
  while read -r pid; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
  done <"$work/server.pids"
  rm -f "$work/server.pids"
}

# Compares one produced file with its expected one (line ends of either kind:
# the Windows programs write CRLF); prints a diff when they differ.
same_or_diff() {
  local what=$1 expected=$2 actual=$3
  if diff -u --strip-trailing-cr --label "expected $what" --label "actual $what" "$expected" "$actual" >"$actual.diff"; then
    return 0
  fi
  sed 's/^/    /' "$actual.diff"
  return 1
}

run_scenario() {
  local scenario=$1 name work pipe devices=""
  name=$(basename "$scenario")
  work=$WORK_ROOT/$name
  rm -rf "$work"
  mkdir -p "$work"

  if [ -f "$scenario/device" ]; then
    pipe="ruvo-e2e-$name-$$"
    start_device "$scenario" "$work" "$pipe" || return 1
    devices="\\\\.\\pipe\\$pipe=0416:F362"
    if [ -f "$scenario/fake-devices" ]; then
      devices=$(words_of "$scenario/fake-devices")
      devices=${devices//\$PIPE/\\\\.\\pipe\\$pipe}
    fi
  fi
  if [ -f "$scenario/server" ]; then
    start_server "$scenario" "$work" || return 1
  fi

  local screenshot_args=()
  [ -n "$SCREENSHOTS" ] && screenshot_args=(--screenshots "$SCREENSHOTS")
  # RUVO.exe must load the test-only device DLLs: without them Wine's own
  # would enumerate its virtual devices. Wine takes the override from the
  # Unix environment of the driver, which RUVO.exe inherits; the driver
  # itself loads neither DLL.
  WINEDLLOVERRIDES="hid,setupapi=n" timeout "$DRIVER_TIMEOUT" wine "$BIN/ruvo-driver.exe" \
    --program "$(winpath "$BIN/RUVO.exe")" \
    --env "RUVO_FAKE_HID_DEVICES=$devices" \
    --program-output "$(winpath "$work/program.out")" \
    "${screenshot_args[@]}" \
    "$(winpath "$scenario/steps")" >"$work/transcript" 2>"$work/driver.err" </dev/null
  local driver_status=$?
  if [ "$driver_status" -eq 124 ]; then
    # The driver was cut short: end the program it started, by its id.
    local program_id
    program_id=$(sed -n 's/^ruvo-driver: started process \([0-9]*\)$/\1/p' "$work/driver.err")
    [ -n "$program_id" ] && wine taskkill /f /pid "$program_id" >/dev/null 2>&1 </dev/null
    echo "FAILED: the driver did not finish within $DRIVER_TIMEOUT s" >>"$work/transcript"
  fi
  stop_device

  local ok=0
  same_or_diff transcript "$scenario/expected" "$work/transcript" || ok=1
  if [ -f "$scenario/expected-device-log" ]; then
    same_or_diff "device log" "$scenario/expected-device-log" "$work/device.log" || ok=1
  fi
  # Hook for checks beyond the transcript (flash contents, server requests):
  # an executable "check" in the scenario runs with the work folder.
  if [ -x "$scenario/check" ]; then
    if ! SCENARIO_DIR=$scenario WORK_DIR=$work RUVO_BIN=$BIN "$scenario/check" >"$work/check.out" 2>&1; then
      echo "    check failed:"
      sed 's/^/    /' "$work/check.out"
      ok=1
    fi
  fi
  if [ "$ok" -ne 0 ] && [ "$driver_status" -ne 0 ] && [ "$driver_status" -ne 1 ]; then
    echo "    driver exit status $driver_status; its diagnostics:"
    sed 's/^/    /' "$work/driver.err"
  fi
  cleanup_scenario
  return "$ok"
}

passed=0
failed=0
scenarios=()
if ((${#NAMES[@]})); then
  for name in "${NAMES[@]}"; do scenarios+=("$E2E_DIR/scenarios/$name"); done
else
  for dir in "$E2E_DIR"/scenarios/*/; do scenarios+=("${dir%/}"); done
fi
for scenario in "${scenarios[@]}"; do
  name=$(basename "$scenario")
  if [ ! -f "$scenario/steps" ] || [ ! -f "$scenario/expected" ]; then
    echo "FAIL $name: needs steps and expected"
    failed=$((failed + 1))
    continue
  fi
  started=$(date +%s%N)
  if run_scenario "$scenario"; then
    echo "PASS $name ($((($(date +%s%N) - started) / 1000000)) ms)"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
