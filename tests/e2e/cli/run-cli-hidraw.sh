#!/usr/bin/env bash
# End to end on hidapi's hidraw back end: ruvo-flash finds, opens and updates
# emulated hidraw nodes (ruvo-sim --hidraw N) in a /sys and /dev of the run's
# own (scripts/session.sh --hidraw), from nginx serving a ruvo-pack release.
# Every file lives in one temporary folder, and everything started is
# stopped on every way out. Needs root (mount namespaces, FUSE, and another
# user for the permission cases); otherwise it exits with 77 (skipped).
#   run-cli-hidraw.sh [NATIVE_BUILD_DIR]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/native}" && pwd)

if [ "${RUVO_CLI_HIDRAW_INNER:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "needs root (emulated hidraw nodes, another user): skipped"
    exit 77
  fi
  RUVO_CLI_HIDRAW_INNER=1 exec "$ROOT/scripts/session.sh" --hidraw --no-wine "$0" "$BUILD"
fi

SIM=$BUILD/tools/simulator/ruvo-sim
WORK=$(mktemp -d /tmp/ruvo-cli-hidraw.XXXXXX)
chmod 0755 "$WORK"  # the unprivileged user runs its own copy of the tool from here
mkdir "$WORK/bin"
cp "$BUILD/cli/ruvo-flash" "$WORK/bin/ruvo-flash"
chmod 0755 "$WORK/bin/ruvo-flash"
FLASH=$WORK/bin/ruvo-flash
declare -A SIM_PIDS=()
FLASH_PID=

# shellcheck source=tests/e2e/cli/end-run.sh
source "$HERE/end-run.sh"

# shellcheck source=tests/e2e/cli/checks.sh
source "$HERE/checks.sh"

# --- the release, published as a publisher would; nginx serves it ----------
cp -r "$ROOT/tests/e2e/releases/standard" "$WORK/release"
python3 "$ROOT/tools/demo/make_firmware.py" "$WORK/release/firmware.txt" "$WORK/release"
mkdir -p "$WORK/www"
"$BUILD/tools/ruvo-pack/ruvo-pack" publish "$WORK/release/manifest.txt" "$WORK/www" >"$WORK/publish.out"
"$ROOT/tools/update-server/nginx-serve.sh" start "$WORK/www" "$WORK/nginx" >/dev/null
IMAGES=(BTR122.bin BVRABD.bin OPR0TW.bin)  # both base images and option line 0

# The devices: version 20 (both base images needed) and version 21, model R100.
INFO=20030A1F414243010000000052313030
INFO_21=21030A1F414243010000000052313030

# /dev/hidrawN, a fresh device: its command log hN.log, its flash hN.flash
# once stopped. Its input is a FIFO it holds open itself, so only "quit" ends it.
start_node() {  # N [ruvo-sim options...]
  local n=$1
  shift
  rm -f "$WORK/h$n".{in,out,log,flash}
  mkfifo "$WORK/h$n.in"
  "$SIM" --hidraw "$n" --info "$INFO" --log "$WORK/h$n.log" --dump "$WORK/h$n.flash" "$@" \
    <>"$WORK/h$n.in" >"$WORK/h$n.out" 2>&1 &
  SIM_PIDS[$n]=$!
  for _ in $(seq 100); do
    grep -q "^ruvo-sim ready /dev/hidraw$n\$" "$WORK/h$n.out" && return 0
    sleep 0.05
  done
  echo "ruvo-sim --hidraw $n did not start:" >&2
  cat "$WORK/h$n.out" >&2
  exit 1
}
stop_nodes() {
  local n
  for n in "${!SIM_PIDS[@]}"; do echo quit >"$WORK/h$n.in"; done
  for n in "${!SIM_PIDS[@]}"; do wait "${SIM_PIDS[$n]}" || true; done
  SIM_PIDS=()
}

# Runs ruvo-flash (as AS, when set) and shows what it printed (stdout lines
# marked "1|", then stderr lines "2|"); stdout in $WORK/out, stderr in
# $WORK/err, the exit code in $code.
AS=()
flash() {  # ARGS...
  set +e
  timeout 120 "${AS[@]}" "$FLASH" "$@" >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  echo "   \$ ${AS[*]:+${AS[*]} }ruvo-flash $*"
  sed 's/^/   1| /' "$WORK/out"
  sed 's/^/   2| /' "$WORK/err"
  echo "   (exit $code)"
}
flash_equals_images() {  # NAME N
  if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/h$2.flash" "$WORK/release" "${IMAGES[@]}" >"$WORK/check.out"
  then pass "$1: the flash of /dev/hidraw$2 equals the images"
  else fail "$1: the flash of /dev/hidraw$2 differs"; sed 's/^/     /' "$WORK/check.out"; fi
}
no_command() {  # NAME N
  if [ ! -s "$WORK/h$2.log" ]; then pass "$1: /dev/hidraw$2 saw no command"
  else fail "$1: /dev/hidraw$2 saw $(wc -l <"$WORK/h$2.log") commands"; fi
}

# --- 1. list: two nodes, each with its own record ---------------------------
start_node 0
start_node 1 --info "$INFO_21"
flash list
stop_nodes
expect_exit "list of two nodes" 0 "$code"
expect_grep "list: the record of /dev/hidraw0" \
  "^device /dev/hidraw0: version 03A0, second version ABC, updater level 1, model R100$" "$WORK/out"
expect_grep "list: the record of /dev/hidraw1" \
  "^device /dev/hidraw1: version 13A0, second version ABC, updater level 1, model R100$" "$WORK/out"

# --- 2. update without --device: the one node there is ---------------------
start_node 0
flash update --yes
stop_nodes
expect_exit "update of the one node" 0 "$code"
expect_grep "update says the device can be unplugged" "can be unplugged" "$WORK/out"
flash_equals_images "update" 0
if [ "$(head -n1 "$WORK/h0.log")" = "READ 8175 1" ] && [ "$(tail -n1 "$WORK/h0.log")" = "TEST FCB19055 FCB19055" ]
then pass "update: the record read first, the finish command last"
else fail "update: device log"; sed 's/^/     /' "$WORK/h0.log"; fi
cp "$WORK/h0.log" "$WORK/update.log"  # what one undisturbed update sends

# --- 3. two nodes: --device picks one ---------------------------------------
start_node 0
start_node 1
flash update --device /dev/hidraw1 --yes
stop_nodes
expect_exit "update --device /dev/hidraw1 of two" 0 "$code"
flash_equals_images "--device /dev/hidraw1" 1
no_command "--device /dev/hidraw1" 0

# --- 4. --all: four nodes at once, /dev/hidraw2 unplugged while writing -----
for n in 0 1 2 3; do
  extra=()
  [ "$n" = 2 ] && extra=(--unplug-after 300)  # inside the first image's writing
  start_node "$n" --report-us 200 "${extra[@]}"
done
flash update --all --yes --log "$WORK/bench.log"
stop_nodes
expect_exit "--all, one of four unplugged" 1 "$code"
for n in 0 1 3; do
  flash_equals_images "--all" "$n"
  expect_grep "--all: /dev/hidraw$n ok in the table" "^/dev/hidraw$n  *R100  *03A0  *03A0  *BTR122.bin,BVRABD.bin,OPR0TW.bin  *ok$" "$WORK/out"
done
expect_grep "--all: the unplugged node in the table with its code" "^/dev/hidraw2  *R100  *03A0 .* exit 1 0403+ 0: " "$WORK/out"
if [ "$(wc -l <"$WORK/bench.log")" = 4 ]; then pass "--all: the log holds 4 lines"
else fail "--all: $(wc -l <"$WORK/bench.log") log lines"; fi

# --- 5. permissions: the kernel's check of the node's mode and group --------
# As nobody, with or without a group of its own (4242) that the node may have.
while read -r mode group groups wanted name; do
  start_node 0 --node-mode "$mode" --node-group "$group"
  if [ "$groups" = - ]; then AS=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  else AS=(setpriv --reuid=65534 --regid=65534 "--groups=$groups"); fi
  flash update --yes
  AS=()
  stop_nodes
  expect_exit "$name" "$wanted" "$code"
  if [ "$wanted" = 5 ]; then
    expect_grep "$name: says so, with the hint" "no permission to open /dev/hidraw0 (install the ruvo-flash package for its udev rule" "$WORK/err"
    no_command "$name" 0
  else
    flash_equals_images "$name" 0
  fi
done <<'CASES'
0600 0    -    5 root's 0600 node, another user
0660 4242 4242 0 0660 node of the user's group
0660 4242 -    5 0660 node of a group the user is not in
CASES

# --- 6. two ruvo-flash on one node: the second is refused, the first goes on
start_node 0 --report-us 1000 --erase-ms 30  # paced like a real device
"$FLASH" update --yes --json >"$WORK/first.out" 2>"$WORK/first.err" &
FLASH_PID=$!
for _ in $(seq 200); do
  grep -q '"event":"device"' "$WORK/first.out" && break
  sleep 0.05
done
for command in "update --device /dev/hidraw0 --yes" "list"; do
  # shellcheck disable=SC2086
  flash $command
  expect_exit "$command while another updates the node" 6 "$code"
  expect_grep "$command while another updates: says so" \
    "^ruvo-flash: device /dev/hidraw0 is in use by another ruvo-flash; try again when it has finished" "$WORK/err"
done
if grep -q '"event":"done"' "$WORK/first.out"; then fail "the first update had ended before the second began"; fi
set +e
wait "$FLASH_PID"
code=$?
set -e
FLASH_PID=
stop_nodes
expect_exit "the first update" 0 "$code"
flash_equals_images "the first update" 0
if cmp -s "$WORK/h0.log" "$WORK/update.log"; then pass "the node saw the first update's commands alone"
else fail "the node saw other commands"; diff "$WORK/update.log" "$WORK/h0.log" | sed 's/^/     /'; fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
