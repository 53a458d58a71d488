#!/usr/bin/env bash
# Runs the end-to-end scenarios on the shipped RUVO.exe under Wine: for each
# folder in scenarios/ it starts the simulated device (if the scenario has
# one) and the update server (if it names one), runs the UI driver with the
# steps of the scenario's expected transcript, and compares what the driver
# saw with that transcript. Format of a scenario: README.md beside this script.
#
#   tests/e2e/run-scenarios.sh [--screenshots DIR] [NAME[@TRANSPORT]...]
#
# A scenario runs once per transport it lists in its "transports" file
# (default: fake): "fake" is the test-only device DLLs and the pipe
# simulator; "real" is Wine's own HID stack and an emulated hidraw node
# (ruvo-sim --hidraw), paced like a full-speed device unless the scenario
# paces it; "real-unpaced" the same with reports back to back. Real runs
# need a run with the real stacks (scripts/session.sh --hidraw, as root);
# elsewhere they are skipped with a line saying so.
#
# It runs inside a run of its own (scripts/session.sh: private network, Wine
# prefix, display and work folder), or inside the caller's when there is one.
# RUVO_E2E_BUILD names the Windows build folder (default build/windows).
# Ends with the line "N passed, N failed, N skipped"; exits non-zero if any failed.
set -uo pipefail

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RUVO_ROOT=${RUVO_ROOT:-$(cd "$E2E_DIR/../.." && pwd)}
case ${1:-} in
  -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
if [ "${RUVO_SESSION:-}" != 1 ]; then
  hidraw=()
  [ "$(id -u)" -eq 0 ] && hidraw=(--hidraw)
  exec "$RUVO_ROOT/scripts/session.sh" "${hidraw[@]}" "$0" "$@"
fi
BUILD_ROOT=$(dirname "${RUVO_E2E_BUILD:-$RUVO_ROOT/build/windows}")
BUILD_DIR=${RUVO_E2E_BUILD:-$RUVO_ROOT/build/windows}
BIN=$BUILD_DIR/bin
NATIVE_SIM=${RUVO_E2E_NATIVE_SIM:-$RUVO_ROOT/build/native/tools/simulator/ruvo-sim}
WORK_ROOT=$RUVO_RUN_DIR/e2e
DRIVER_TIMEOUT=${RUVO_E2E_DRIVER_TIMEOUT:-300}
# Wine's own errors for the driver and the program it starts land in
# driver.err, beside the driver's diagnostics; the rest of Wine stays quiet.
DRIVER_WINEDEBUG=${RUVO_E2E_DRIVER_WINEDEBUG:--all,err+all}
WINE_LOG=$RUVO_RUN_DIR/wine.log
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
SIM_PIDS=()
SIM_FDS=()  # the input each simulator quits on, by position
SERVER_WORK=
cleanup_scenario() {
  stop_device
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
# shellcheck source=tests/e2e/release-state.sh
. "$E2E_DIR/release-state.sh"

# The driver's steps are the "> " lines of the expected transcript; "#" lines
# there are comments, left out of the comparison.
steps_of() { sed -n 's/^> //p' "$1"; }
transcript_of() { grep -v '^#' "$1"; }

# The simulated device: on a pipe of its own (fake), or as the emulated node
# /dev/hidraw<index> (real). It quits on "quit" from fd 7 (the second device:
# fd 8). In the device options, $FLASH stands for the flash a previous run
# left. Its files: device<suffix>.log, flash<suffix>.bin, device<suffix>.out.
start_device() {
  local options_file=$1 work=$2 pipe=$3 flash_in=$4 index=$5 suffix=$6 fd=$7
  local fifo=$work/device$suffix.in out=$work/device$suffix.out options
  options=$(words_of "$options_file")
  if [ ! -p "$fifo" ]; then
    mkfifo "$fifo"
    eval "exec $fd<>\"\$fifo\""
  fi
  if [ "$TRANSPORT" = fake ]; then
    options=${options//\$FLASH/$(winpath "$flash_in")}
    # shellcheck disable=SC2086
    wine "$BIN/ruvo-sim.exe" --pipe "$pipe" --log "$(winpath "$work/device$suffix.log")" \
      --dump "$(winpath "$work/flash$suffix.bin")" $options \
      <"$fifo" >"$out" 2>&1 &
  else
    options=${options//\$FLASH/$flash_in}
    # A real device moves one report per millisecond; a scenario may say otherwise.
    case " $options " in *" --report-us "*) ;; *) options+=" --report-us 1000" ;; esac
    [ "$TRANSPORT" = real-unpaced ] && options+=" --report-us 0 --erase-ms 0"
    # shellcheck disable=SC2086
    "$NATIVE_SIM" --hidraw "$index" --log "$work/device$suffix.log" --dump "$work/flash$suffix.bin" $options \
      <"$fifo" >"$out" 2>&1 &
  fi
  SIM_PIDS+=($!)
  SIM_FDS+=("$fd")
  echo "$!" >"$work/device$suffix.pid"
  for _ in $(seq 300); do
    grep -q '^ruvo-sim ready' "$out" 2>/dev/null && return 0
    kill -0 "${SIM_PIDS[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "    the simulator did not get ready:"
  sed 's/^/    /' "$out"
  return 1
}

# Asks the simulators to stop, one at a time, so that they write their flash
# dumps, then waits (bounded) and makes sure they have gone. Wine's winebus
# (Wine 8) loses track of its devices when two hidraw nodes vanish at once:
# later arrivals are never listed. So the second device goes a second after
# the first, as a person would unplug them.
stop_device() {
  local i pid
  for i in "${!SIM_PIDS[@]}"; do
    pid=${SIM_PIDS[$i]}
    ((i == 0)) || sleep 1
    { echo quit >&"${SIM_FDS[$i]}"; } 2>/dev/null
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    end_process "$pid"
    wait "$pid" 2>/dev/null
  done
  SIM_PIDS=()
  SIM_FDS=()
  exec 7>&- 8>&- 2>/dev/null
}

# Plugs the device in once the driver's transcript shows the line in the
# scenario's "plug-when" file (in the background; bounded by the driver).
plug_when_seen() {
  local case_dir=$1 work=$2 pipe=$3 flash_in=$4 line
  line=$(grep -v '^#' "$case_dir/plug-when" | head -n 1)
  for _ in $(seq 600); do
    if grep -qxF -- "$line" "$work/transcript" 2>/dev/null; then
      start_device "$case_dir/device" "$work" "$pipe" "$flash_in" 0 "" 7
      return
    fi
    sleep 0.05
  done
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

# Why the driver ran no step, as far as the run can tell. Its transcript
# starts with its first step, so an empty one, or one that starts otherwise
# (Wine prints its own failures to standard output), means the driver never
# ran its script: Wine did not start it, it refused its arguments, or its
# output was lost. Said plainly instead of a diff against nothing: its exit
# status, what it printed, its standard error (its diagnostics and Wine's
# own errors), the tail of the run's Wine log, and whether Wine starts a
# program now.
explain_no_step() {
  local work=$1 status=$2 meaning probe=0
  case $status in
    0) meaning="it says every step ran: not the driver" ;;
    1) meaning="Wine could not start it: the driver gives 1 only after a step" ;;
    2) meaning="it refused its arguments or its script (one without steps too)" ;;
    3) meaning="it could not write its transcript" ;;
    124) meaning="cut short after $DRIVER_TIMEOUT s, before its first step" ;;
    126 | 127) meaning="wine could not be run" ;;
    *) meaning="Wine's status for the process" ;;
  esac
  ((status > 128 && status != 255)) && meaning="ended by signal $((status - 128))"
  echo "    the driver ran no step: exit status $status ($meaning)"
  if [ -s "$work/transcript" ]; then
    echo "    its standard output, which should start with its first step:"
    sed 's/^/    | /' "$work/transcript"
  else
    echo "    its standard output (the transcript) is empty"
  fi
  if [ -s "$work/driver.err" ]; then
    echo "    its standard error ($work/driver.err):"
    sed 's/^/    | /' "$work/driver.err"
  else
    echo "    its standard error is empty"
  fi
  if [ -s "$WINE_LOG" ]; then
    echo "    the Wine log, last lines ($WINE_LOG):"
    tail -n 20 "$WINE_LOG" | sed 's/^/    | /'
  else
    echo "    the Wine log is empty ($WINE_LOG)"
  fi
  timeout 30 wine cmd /c exit >/dev/null 2>&1 </dev/null || probe=$?
  if [ "$probe" -eq 0 ]; then echo "    Wine starts a program now (cmd /c exit: 0)"
  else echo "    Wine does not start a program now either (cmd /c exit: status $probe)"; fi
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
  local case_dir=$1 work=$2 server_work=$3 flash_in=$4 program_bin=$5 name pipe devices="" plug_pid=
  name=$(basename "$(dirname "$work")")-$(basename "$work")
  mkdir -p "$work"
  pipe="ruvo-e2e-$name-$$"
  if [ -f "$case_dir/device" ]; then
    devices="\\\\.\\pipe\\$pipe=0416:F362"
    if [ ! -f "$case_dir/plug-when" ]; then
      start_device "$case_dir/device" "$work" "$pipe" "$flash_in" 0 "" 7 || return 1
    fi
  fi
  if [ -f "$case_dir/second-device" ]; then
    start_device "$case_dir/second-device" "$work" "$pipe-2" "" 1 2 8 || return 1
    devices+=";\\\\.\\pipe\\$pipe-2=0416:F362"
  fi
  if [ -f "$case_dir/fake-devices" ]; then
    devices=$(words_of "$case_dir/fake-devices")
    devices=${devices//\$PIPE/\\\\.\\pipe\\$pipe}
  fi
  if [ "$TRANSPORT" != fake ]; then
    # Wine's own hid.dll and setupapi.dll: the exe alone in a folder, no override.
    mkdir -p "$work/bin"
    cp "$program_bin/RUVO.exe" "$work/bin/"
    program_bin=$work/bin
  fi

  steps_of "$case_dir/expected" >"$work/steps"
  transcript_of "$case_dir/expected" >"$work/expected"
  local screenshot_args=()
  [ -n "$SCREENSHOTS" ] && screenshot_args=(--screenshots "$SCREENSHOTS")
  # RUVO.exe must load the test-only device DLLs: without them Wine's own
  # would enumerate its virtual devices. Wine takes the override from the
  # Unix environment of the driver, which RUVO.exe inherits; the driver
  # itself loads neither DLL.
  local overrides=()
  [ "$TRANSPORT" = fake ] && overrides=(WINEDLLOVERRIDES="hid,setupapi=n")
  : >"$work/transcript"
  if [ -f "$case_dir/plug-when" ]; then
    # The device's input is opened here, so that it outlives the plugging subshell.
    mkfifo "$work/device.in"
    exec 7<>"$work/device.in"
    plug_when_seen "$case_dir" "$work" "$pipe" "$flash_in" &
    plug_pid=$!
  fi
  env "${overrides[@]}" WINEDEBUG="$DRIVER_WINEDEBUG" timeout "$DRIVER_TIMEOUT" wine "$BIN/ruvo-driver.exe" \
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
  if [ -n "$plug_pid" ]; then
    wait "$plug_pid"
    # The plugging ran in a subshell: its simulator's id is in a file.
    if [ -f "$work/device.pid" ]; then
      SIM_PIDS+=("$(cat "$work/device.pid")")
      SIM_FDS+=(7)
    fi
  fi
  stop_device

  local ok=0
  local ran_steps=0
  head -n 1 "$work/transcript" | grep -q '^> ' && ran_steps=1
  if [ "$ran_steps" -eq 0 ]; then
    explain_no_step "$work" "$driver_status"
    ok=1
  else
    same_or_diff transcript "$work/expected" "$work/transcript" || ok=1
  fi
  # On the real stacks nothing may pass by accident: a device that never
  # heard from the program means the program never reached the emulated node.
  if [ "$TRANSPORT" != fake ] && [ -f "$case_dir/device" ] && [ ! -s "$work/device.log" ]; then
    echo "    the simulator saw no traffic on /dev/hidraw0"
    ok=1
  fi
  if [ -f "$case_dir/expected-device-log" ]; then
    same_or_diff "device log" "$case_dir/expected-device-log" "$work/device.log" || ok=1
  fi
  if [ -f "$case_dir/expected-release-state" ]; then
    read_release_state >"$work/release-state"
    same_or_diff "accepted releases" <(sed -e 's/#.*//' -e '/^ *$/d' "$case_dir/expected-release-state") \
      "$work/release-state" || ok=1
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
  # A failure shows what the driver and Wine said beside it (Wine's own
  # errors for the program land there too): CI keeps only this output.
  if [ "$ok" -ne 0 ] && [ "$ran_steps" -eq 1 ] && [ -s "$work/driver.err" ]; then
    echo "    driver exit status $driver_status; its standard error:"
    tail -n 40 "$work/driver.err" | sed 's/^/    | /'
  fi
  if [ "$ok" -ne 0 ] && [ -s "$work/program.out" ]; then
    echo "    the program's own output:"
    tail -n 20 "$work/program.out" | sed 's/^/    | /'
  fi
  return "$ok"
}

# A scenario: its server, its run, and its rerun (rerun/: RUVO.exe run again
# against the same server, the device starting from the flash the first run
# left).
run_scenario() {
  local scenario=$1 work program_bin=$BIN
  work=$WORK_ROOT/$2
  rm -rf "$work"
  mkdir -p "$work"
  if [ -f "$scenario/variant" ]; then
    program_bin=$BUILD_ROOT/windows-$(words_of "$scenario/variant")/bin
    if [ ! -f "$program_bin/RUVO.exe" ]; then
      echo "    missing $program_bin/RUVO.exe: build that variant first"
      return 1
    fi
    # A signed build remembers the releases it accepted: each scenario
    # starts from what it says (nothing, or its release-state), its rerun
    # from what the first run left.
    reset_release_state
    if [ -f "$scenario/release-state" ]; then
      seed_release_state "$scenario/release-state" "$(release_key_set "$program_bin")" || {
        echo "    could not seed the accepted releases of $scenario/release-state"
        return 1
      }
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

# The transports a scenario runs on: its "transports" file, or fake.
transports_of() {
  if [ -f "$1/transports" ]; then words_of "$1/transports"; else echo fake; fi
}

passed=0
failed=0
skipped=0
runs=()  # scenario folder and transport, "DIR@TRANSPORT"
add_runs() {
  local dir=$1 only=${2:-} transport
  for transport in $(transports_of "$dir"); do
    [ -z "$only" ] || [ "$only" = "$transport" ] && runs+=("$dir@$transport")
  done
}
if ((${#NAMES[@]})); then
  for name in "${NAMES[@]}"; do
    case $name in
      *@*) add_runs "$E2E_DIR/scenarios/${name%@*}" "${name#*@}" ;;
      *) add_runs "$E2E_DIR/scenarios/$name" ;;
    esac
  done
else
  for dir in "$E2E_DIR"/scenarios/*/; do add_runs "${dir%/}"; done
fi
for run in "${runs[@]}"; do
  scenario=${run%@*}
  TRANSPORT=${run##*@}
  name=$(basename "$scenario")
  [ "$TRANSPORT" = fake ] || name+="@$TRANSPORT"
  if [ ! -f "$scenario/expected" ]; then
    echo "FAIL $name: needs an expected transcript"
    failed=$((failed + 1))
    continue
  fi
  if [ "$TRANSPORT" != fake ] && [ "${RUVO_HIDRAW:-}" != 1 ]; then
    echo "SKIP $name: the real HID stacks need a run with them (scripts/session.sh --hidraw, as root)"
    skipped=$((skipped + 1))
    continue
  fi
  started=$(date +%s%N)
  if run_scenario "$scenario" "$name"; then
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

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
