#!/usr/bin/env bash
# The demo update: RUVO.exe under Wine updates the simulated device from a
# release published with ruvo-pack and served by nginx on 127.0.0.1:80,
# driven by the UI driver as a user would. Prints the driver's transcript as
# it goes, saves a screenshot of each stage and checks at the end that the
# simulated flash holds exactly the published images. Expects the native and
# windows presets built (./dev.sh demo does that first).
#
# It runs in a run of its own (scripts/session.sh), so two demos never meet.
# RUVO_DEMO_DIR names its folder (default build/demo); two demos at once need
# a folder each.
set -euo pipefail
RUVO_ROOT=${RUVO_ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
export RUVO_ROOT
if [ "${RUVO_SESSION:-}" != 1 ]; then
  RUVO_USE_DISPLAY=${RUVO_USE_DISPLAY:-1} exec "$RUVO_ROOT/scripts/session.sh" "$0" "$@"
fi
BIN=${RUVO_BIN:-$RUVO_ROOT/build/windows/bin}
PACK=${RUVO_PACK:-$RUVO_ROOT/build/native/tools/ruvo-pack/ruvo-pack}
WORK=${RUVO_DEMO_DIR:-$RUVO_ROOT/build/demo}
DEMO=$RUVO_ROOT/tools/demo
for file in "$BIN/RUVO.exe" "$BIN/ruvo-driver.exe" "$BIN/ruvo-sim.exe" "$BIN/hid.dll" "$BIN/setupapi.dll" "$PACK"; do
  [ -f "$file" ] || { echo "missing $file: run ./dev.sh demo (it builds first)" >&2; exit 1; }
done
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The demo folder is this run's alone while it runs.
mkdir -p "$WORK"
exec 8>"$WORK.lock"
flock -n 8 || { echo "another demo is using $WORK: set RUVO_DEMO_DIR to a folder of its own" >&2; exit 1; }

sim= driver=
# Every step may fail; none may keep the rest from running.
cleanup() {
  set +e
  [ -n "$driver" ] && kill "$driver" 2>/dev/null
  if [ -n "$sim" ]; then
    echo quit >&3 2>/dev/null
    wait "$sim" 2>/dev/null
  fi
  "$RUVO_ROOT/tools/update-server/nginx-serve.sh" stop "$WORK/server"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

find "$WORK" -mindepth 1 -delete
mkdir -p "$WORK/screenshots"
echo "== publishing the demo release"
cp -r "$DEMO/release" "$WORK/release"
python3 "$DEMO/make_firmware.py" "$WORK/release/firmware.txt" "$WORK/release"
"$PACK" publish "$WORK/release/manifest.txt" "$WORK/www"

echo "== serving it with nginx on http://127.0.0.1/BRELM/"
"$RUVO_ROOT/tools/update-server/nginx-serve.sh" start "$WORK/www" "$WORK/server" >/dev/null

echo "== RUVO.exe starts; no device yet"
pipe="ruvo-demo-$$"
WINEDLLOVERRIDES="hid,setupapi=n" wine "$BIN/ruvo-driver.exe" \
  --program "$(winpath "$BIN/RUVO.exe")" \
  --env "RUVO_FAKE_HID_DEVICES=\\\\.\\pipe\\$pipe=0416:F362" \
  --program-output "$(winpath "$WORK/program.out")" \
  --screenshots "$WORK/screenshots" --timeout 60 \
  "$(winpath "$DEMO/demo.steps")" </dev/null 2>"$WORK/driver.err" > >(tee "$WORK/transcript") &
driver=$!

# Plug the device in once the window has been seen searching: version 1.220
# (bytes 21 02 02 00), second version "A04", updater level 2, model "D220".
# Paced like a full-speed device: 1 ms per report, 30 ms per block erase.
until [ -f "$WORK/screenshots/1-searching.png" ]; do
  kill -0 "$driver" 2>/dev/null || { echo "the driver ended early (see $WORK/driver.err)" >&2; exit 1; }
  sleep 0.2
done
echo "== plugging the simulated device in"
mkfifo "$WORK/sim.in"
exec 3<>"$WORK/sim.in"
wine "$BIN/ruvo-sim.exe" --pipe "$pipe" --info 21020200413034020000000044323230 \
  --report-us 1000 --erase-ms 30 \
  --log "$(winpath "$WORK/device.log")" --dump "$(winpath "$WORK/flash.bin")" \
  <&3 >"$WORK/sim.out" 2>&1 &
sim=$!

wait "$driver" || { driver=; echo "the demo update did not finish (see $WORK/driver.err)" >&2; exit 1; }
driver=
grep -q '^FAILED' "$WORK/transcript" && exit 1

echo quit >&3
wait "$sim"
sim=
echo "== the device received $(wc -l <"$WORK/device.log") commands; the last: $(tail -n 1 "$WORK/device.log")"
echo "== the requests nginx served:"
cut -f1,2 "$WORK/server/requests.log" | sed 's/^/   /'
echo "== the simulated flash against the published images"
python3 "$RUVO_ROOT/tests/e2e/check_flash.py" "$WORK/flash.bin" "$WORK/release" BTD222.bin BVDA05.bin OPD0HK.bin
echo "== screenshots in $WORK/screenshots"
