#!/usr/bin/env bash
# Runs the end-to-end scenarios on the shipped RUVO.exe under Wine: for each
# folder in scenarios/ it starts the simulated device (if the scenario has
# one) and the update server (if it names one), runs the UI driver with the
# steps of the scenario's expected transcript, and compares what the driver
# saw with that transcript. Format of a scenario: README.md beside this script.
#
#   tests/e2e/run-scenarios.sh [--screenshots DIR] [NAME...]
#
# It runs inside a run of its own (scripts/session.sh: private network, Wine
# prefix, display and work folder), or inside the caller's when there is one.
# RUVO_E2E_BUILD names the Windows build folder (default build/windows).
# Ends with the line "N passed, N failed"; exits non-zero if any failed.
set -uo pipefail

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RUVO_ROOT=${RUVO_ROOT:-$(cd "$E2E_DIR/../.." && pwd)}
case ${1:-} in
  -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
if [ "${RUVO_SESSION:-}" != 1 ]; then
  exec "$RUVO_ROOT/scripts/session.sh" "$0" "$@"
fi
BUILD_ROOT=$(dirname "${RUVO_E2E_BUILD:-$RUVO_ROOT/build/windows}")
BUILD_DIR=${RUVO_E2E_BUILD:-$RUVO_ROOT/build/windows}
BIN=$BUILD_DIR/bin
WORK_ROOT=$RUVO_RUN_DIR/e2e
DRIVER_TIMEOUT=${RUVO_E2E_DRIVER_TIMEOUT:-300}
SCREENSHOTS=
NAMES=()

while (($#)); do
  case $1 in
    --screenshots) SCREENSHOTS=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
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

# Ends a process that is not our child: asks, waits a bounded time, insists.
end_process() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
}

# Everything a scenario started is remembered and stopped after it, whatever
# way it ended, before the next one starts.
SIM_PID=
SERVER_WORK=
cleanup_scenario() {
  if [ -n "$SIM_PID" ]; then
    end_process "$SIM_PID"
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=
  fi
  exec 7>&- 2>/dev/null
  if [ -n "$SERVER_WORK" ]; then
    stop_server "$SERVER_WORK"
    SERVER_WORK=
  fi
}
trap cleanup_scenario EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
export WINEDEBUG=${WINEDEBUG:--all}

# Lines of a scenario file without comments and blank lines, joined by blanks.
words_of() { sed -e 's/#.*//' "$1" | tr '\n' ' ' | xargs; }

# The driver's steps are the "> " lines of the expected transcript; "#" lines
# there are comments, left out of the comparison.
steps_of() { sed -n 's/^> //p' "$1"; }
transcript_of() { grep -v '^#' "$1"; }

# The simulated device on a pipe of its own; quits on "quit" from fd 7. In
# the device options, $FLASH stands for the flash a previous run left.
start_device() {
  local case_dir=$1 work=$2 pipe=$3 flash_in=$4
  local fifo=$work/device.in options
  options=$(words_of "$case_dir/device")
  options=${options//\$FLASH/$(winpath "$flash_in")}
  mkfifo "$fifo"
  exec 7<>"$fifo"
  # shellcheck disable=SC2086
  wine "$BIN/ruvo-sim.exe" --pipe "$pipe" --log "$(winpath "$work/device.log")" \
    --dump "$(winpath "$work/flash.bin")" $options \
    <"$fifo" >"$work/device.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 300); do
    grep -q '^ruvo-sim ready' "$work/device.out" 2>/dev/null && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "    the simulator did not get ready:"
  sed 's/^/    /' "$work/device.out"
  return 1
}

# Asks the simulator to stop, so that it writes its flash dump, then waits
# (bounded) and makes sure it has gone.
stop_device() {
  [ -n "$SIM_PID" ] || return 0
  echo quit >&7
  for _ in $(seq 100); do
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  end_process "$SIM_PID"
  wait "$SIM_PID" 2>/dev/null
  SIM_PID=
  exec 7>&- 2>/dev/null
}

# Hook for scenarios with a "server" file: tests/e2e/start-server.sh
# <server file> <work dir> starts the update server, returns once it serves,
# and leaves the ids of what it started in <work dir>/server.pids.
start_server() {
  local scenario=$1 work=$2
  SERVER_WORK=$work
  if ! "$E2E_DIR/start-server.sh" "$scenario/server" "$work" >"$work/server.out" 2>&1 </dev/null; then
    echo "    the update server did not start:"
    sed 's/^/    /' "$work/server.out"
    return 1
  fi
}
stop_server() {
  local work=$1 pid
  [ -f "$work/server.pids" ] || return 0
  while read -r pid; do
    [ -n "$pid" ] && end_process "$pid"
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

# One run of RUVO.exe as `case_dir` (a scenario or its rerun/ folder) describes
# it: its device, the driver with its steps, then every comparison. The
# server, when there is one, is already up and its files are in server_work.
run_program() {
  local case_dir=$1 work=$2 server_work=$3 flash_in=$4 program_bin=$5 name pipe devices=""
  name=$(basename "$(dirname "$work")")-$(basename "$work")
  mkdir -p "$work"
  if [ -f "$case_dir/device" ]; then
    pipe="ruvo-e2e-$name-$$"
    start_device "$case_dir" "$work" "$pipe" "$flash_in" || return 1
    devices="\\\\.\\pipe\\$pipe=0416:F362"
    if [ -f "$case_dir/fake-devices" ]; then
      devices=$(words_of "$case_dir/fake-devices")
      devices=${devices//\$PIPE/\\\\.\\pipe\\$pipe}
    fi
  fi

  steps_of "$case_dir/expected" >"$work/steps"
  transcript_of "$case_dir/expected" >"$work/expected"
  local screenshot_args=()
  [ -n "$SCREENSHOTS" ] && screenshot_args=(--screenshots "$SCREENSHOTS")
  # RUVO.exe must load the test-only device DLLs: without them Wine's own
  # would enumerate its virtual devices. Wine takes the override from the
  # Unix environment of the driver, which RUVO.exe inherits; the driver
  # itself loads neither DLL.
  WINEDLLOVERRIDES="hid,setupapi=n" timeout "$DRIVER_TIMEOUT" wine "$BIN/ruvo-driver.exe" \
    --program "$(winpath "$program_bin/RUVO.exe")" \
    --env "RUVO_FAKE_HID_DEVICES=$devices" \
    --program-output "$(winpath "$work/program.out")" \
    "${screenshot_args[@]}" \
    "$(winpath "$work/steps")" >"$work/transcript" 2>"$work/driver.err" </dev/null
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
  same_or_diff transcript "$work/expected" "$work/transcript" || ok=1
  if [ -f "$case_dir/expected-device-log" ]; then
    same_or_diff "device log" "$case_dir/expected-device-log" "$work/device.log" || ok=1
  fi
  # Hook for checks beyond the transcript (flash contents, server requests):
  # an executable "check" runs with the work folders.
  if [ -x "$case_dir/check" ]; then
    if ! SCENARIO_DIR=$case_dir WORK_DIR=$work SERVER_DIR=$server_work RUVO_BIN=$BIN "$case_dir/check" >"$work/check.out" 2>&1; then
      echo "    check failed:"
      sed 's/^/    /' "$work/check.out"
      ok=1
    fi
  fi
  if [ "$ok" -ne 0 ] && [ "$driver_status" -ne 0 ] && [ "$driver_status" -ne 1 ]; then
    echo "    driver exit status $driver_status; its diagnostics:"
    sed 's/^/    /' "$work/driver.err"
  fi
  return "$ok"
}

# A scenario: its server, its run, and its rerun (rerun/: RUVO.exe run again
# against the same server, the device starting from the flash the first run
# left).
run_scenario() {
  local scenario=$1 work program_bin=$BIN
  work=$WORK_ROOT/$(basename "$scenario")
  rm -rf "$work"
  mkdir -p "$work"
  if [ -f "$scenario/variant" ]; then
    program_bin=$BUILD_ROOT/windows-$(words_of "$scenario/variant")/bin
    if [ ! -f "$program_bin/RUVO.exe" ]; then
      echo "    missing $program_bin/RUVO.exe: build that variant first"
      return 1
    fi
  fi
  if [ -f "$scenario/server" ]; then
    start_server "$scenario" "$work" || return 1
  fi
  run_program "$scenario" "$work" "$work" "" "$program_bin" || return 1
  if [ -d "$scenario/rerun" ]; then
    run_program "$scenario/rerun" "$work/rerun" "$work" "$work/flash.bin" "$program_bin" || return 1
  fi
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
  if [ ! -f "$scenario/expected" ]; then
    echo "FAIL $name: needs an expected transcript"
    failed=$((failed + 1))
    continue
  fi
  started=$(date +%s%N)
  if run_scenario "$scenario"; then
    result=PASS
  else
    result=FAIL
  fi
  cleanup_scenario
  if [ "$result" = PASS ]; then
    echo "PASS $name ($((($(date +%s%N) - started) / 1000000)) ms)"
    passed=$((passed + 1))
  else
    echo "FAIL $name (files in $WORK_ROOT/$name)"
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
