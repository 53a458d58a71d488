#!/usr/bin/env bash
# Benchmark: the real HID stacks against the bus's own bound, each side by
# side with our test transport in one run, every device paced like a
# full-speed one (1 ms per report, 20 ms per erase):
#   - programming a 256 KiB image (program_bench --paced) through Wine's own
#     HID stack and an emulated hidraw node, in turns with the same through
#     the test-only DLLs and the in-process pipe simulator (goal: at most
#     1.05 times the bound);
#   - ruvo-flash updating a release of one 256 KiB image through hidapi's
#     hidraw back end, in turns with the socket simulator; the bound is what
#     the device itself counted (reports x 1 ms + erases x 20 ms; goal: at
#     most 1.02 times it).
# Prints figures; never passes or fails on time. Fails when a run did wrong
# work (an image that did not arrive, a device that counted other commands).
#   hid-stacks.sh [NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR [ROUNDS]]]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
NATIVE=$(cd "${1:-$ROOT/build/native}" && pwd)
WINDOWS=$(cd "${2:-$ROOT/build/windows}" && pwd)
ROUNDS=${3:-3}
if [ "${RUVO_HIDRAW:-}" != 1 ]; then
  exec "$ROOT/scripts/session.sh" --hidraw "$0" "$NATIVE" "$WINDOWS" "$ROUNDS"
fi

WORK=$RUVO_RUN_DIR/hid-stacks
mkdir -p "$WORK"
SIM=$NATIVE/tools/simulator/ruvo-sim
REPORT_US=1000 ERASE_MS=20
SIM_PID=
cleanup() {
  set +e
  [ -n "$SIM_PID" ] && { echo quit >&3; wait "$SIM_PID"; }
  "$ROOT/tools/update-server/nginx-serve.sh" stop "$WORK/nginx" 2>/dev/null
}
trap cleanup EXIT

# One paced device as /dev/hidraw<index> (or a socket), until stop_device.
start_device() {  # --hidraw N | --socket PATH, then the log file
  rm -f "$WORK/sim.in"
  mkfifo "$WORK/sim.in"
  exec 3<>"$WORK/sim.in"
  "$SIM" "$1" "$2" --info 20030A1F414243010000000052313030 --report-us "$REPORT_US" --erase-ms "$ERASE_MS" \
    --log "$3" <"$WORK/sim.in" >"$WORK/sim.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 100); do grep -q '^ruvo-sim ready' "$WORK/sim.out" && return 0; sleep 0.05; done
  echo "the simulator did not start:" >&2
  cat "$WORK/sim.out" >&2
  exit 1
}
stop_device() {
  echo quit >&3
  wait "$SIM_PID"
  SIM_PID=
  exec 3>&-
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "== programming 256 KiB: Wine's own HID stack against the test-only DLLs ($ROUNDS rounds, in turns)"
mkdir -p "$WORK/real"
cp "$WINDOWS/bin/program_bench.exe" "$WORK/real/"
start_device --hidraw 0 "$WORK/program.log"
: >"$WORK/program-times"
for round in $(seq "$ROUNDS"); do
  WINEDLLOVERRIDES="hid,setupapi=n" wine "$WINDOWS/bin/program_bench.exe" --paced --reps 1 \
    --report-us "$REPORT_US" --erase-ms "$ERASE_MS" >"$WORK/fake.out"
  wine "$WORK/real/program_bench.exe" --paced --system-device --reps 1 \
    --report-us "$REPORT_US" --erase-ms "$ERASE_MS" >"$WORK/real.out"
  bound=$(sed -n 's/.*bound \([0-9.]*\) s.*/\1/p' "$WORK/real.out" | head -n1)
  fake=$(sed -n 's/.*median ProgramImage *\([0-9.]*\) s.*/\1/p' "$WORK/fake.out")
  real=$(sed -n 's/.*median ProgramImage *\([0-9.]*\) s.*/\1/p' "$WORK/real.out")
  echo "$fake $real" >>"$WORK/program-times"
  printf "  round %d: test-only DLLs %.3f s, Wine's stack %.3f s (bound %.3f s)\n" "$round" "$fake" "$real" "$bound"
done
stop_device
# Each round programmed the image twice through Wine's stack (ProgramImage
# and the bare transport): 64 erases each, nothing refused.
erases=$(grep -c '^ERASE' "$WORK/program.log")
if [ "$erases" -ne $((ROUNDS * 2 * 64)) ] || grep -q '^BAD' "$WORK/program.log"; then
  echo "the emulated device counted $erases erases and $(grep -c '^BAD' "$WORK/program.log") refused reports" >&2
  exit 1
fi
fake=$(cut -d' ' -f1 "$WORK/program-times" | median)
real=$(cut -d' ' -f2 "$WORK/program-times" | median)
awk -v f="$fake" -v r="$real" -v b="$bound" 'BEGIN {
  printf "  median: test-only DLLs %.3f s (x%.4f the bound), Wine'"'"'s stack %.3f s (x%.4f the bound; goal <= 1.05); Wine / DLLs x%.4f\n",
    f, f / b, r, r / b, r / f }'

echo
echo "== ruvo-flash updating one 256 KiB image: hidapi against the socket simulator ($ROUNDS rounds, in turns)"
mkdir -p "$WORK/release/fw" "$WORK/www"
printf 'fw/boot.bin 262144\n' >"$WORK/release/firmware.txt"
printf 'model R100\nstatus 2\nimage BTR122.bin 0 fw/boot.bin Boot 22\n' >"$WORK/release/manifest.txt"
python3 "$ROOT/tools/demo/make_firmware.py" "$WORK/release/firmware.txt" "$WORK/release"
"$NATIVE/tools/ruvo-pack/ruvo-pack" publish "$WORK/release/manifest.txt" "$WORK/www" >/dev/null
"$ROOT/tools/update-server/nginx-serve.sh" start "$WORK/www" "$WORK/nginx" >/dev/null

# The least time the device allows for what it was asked: every report it
# moved at 1 ms and every erase at 20 ms, from its own command log.
bound_of() {
  awk -v us="$REPORT_US" -v ms="$ERASE_MS" '
    /^(WRITE|READ) / { reports += 1 + 4 * $3; next }
    /^ERASE/ { reports += 1; erases += 1; next }
    /^TEST/ { reports += 1 }
    END { printf "%.3f\n", reports * us / 1e6 + erases * ms / 1e3 }' "$1"
}
flash_once() {  # DEVICE LOG; prints the ratio wall / bound
  local started ended
  started=$(date +%s%N)
  "$NATIVE/cli/ruvo-flash" update --device "$1" --yes >"$WORK/flash.out" 2>&1 ||
    { echo "ruvo-flash failed:" >&2; cat "$WORK/flash.out" >&2; exit 1; }
  ended=$(date +%s%N)
  grep -q '^BAD' "$2" && { echo "the device refused reports" >&2; exit 1; }
  awk -v w=$(((ended - started) / 1000)) -v b="$(bound_of "$2")" 'BEGIN { printf "%.3f %.3f %.4f\n", w / 1e6, b, w / 1e6 / b }'
}
: >"$WORK/flash-times"
for round in $(seq "$ROUNDS"); do
  start_device --hidraw 1 "$WORK/hidapi-$round.log"
  read -r hw hb hr < <(flash_once /dev/hidraw1 "$WORK/hidapi-$round.log")
  stop_device
  start_device --socket "$WORK/sim.sock" "$WORK/socket-$round.log"
  read -r sw sb sr < <(flash_once "sim:$WORK/sim.sock" "$WORK/socket-$round.log")
  stop_device
  echo "$sr $hr" >>"$WORK/flash-times"
  printf "  round %d: socket %.3f s (bound %.3f s, x%.4f), hidapi %.3f s (bound %.3f s, x%.4f)\n" \
    "$round" "$sw" "$sb" "$sr" "$hw" "$hb" "$hr"
done
printf "  median ratio to the bound: socket x%.4f, hidapi x%.4f (goal <= 1.02)\n" \
  "$(cut -d' ' -f1 "$WORK/flash-times" | median)" "$(cut -d' ' -f2 "$WORK/flash-times" | median)"
