#!/usr/bin/env bash
# Demo of device access without hardware: the simulated device on a named
# pipe, found and read by ruvo-probe.exe through the same discovery and
# commands the updater uses. Expects the windows preset built in build/windows.
set -euo pipefail
RUVO_ROOT=${RUVO_ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
BIN=${RUVO_BIN:-$RUVO_ROOT/build/windows/bin}
for exe in ruvo-sim.exe ruvo-probe.exe hid.dll setupapi.dll; do
  [ -f "$BIN/$exe" ] || { echo "missing $BIN/$exe: build the windows preset first" >&2; exit 1; }
done

# shellcheck source=scripts/wine-session.sh
source "$RUVO_ROOT/scripts/wine-session.sh"
work=$(mktemp -d)
sim=
cleanup() {
  if [ -n "$sim" ]; then
    echo quit >&3 2>/dev/null || true
    exec 3>&- || true
    wait "$sim" 2>/dev/null || true
  fi
  ruvo_wine_stop
  rm -rf "$work"
}
trap cleanup EXIT
ruvo_wine_start

# Version 1.3A0 (bytes 21 03 0A 1F ...), updater level 2, model "RVO1".
record=21030A1F414243020000000052564F31
pipe="ruvo-demo-$$"
mkfifo "$work/sim.in"
exec 3<>"$work/sim.in"
wine "$BIN/ruvo-sim.exe" --pipe "$pipe" --info "$record" --log "Z:${work//\//\\}\\sim.log" \
  <&3 >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do
  grep -q '^ruvo-sim ready' "$work/sim.out" && break
  sleep 0.1
done
grep '^ruvo-sim ready' "$work/sim.out" || { cat "$work/sim.out" >&2; exit 1; }

echo "== the simulated device holds the record $record"
RUVO_FAKE_HID_DEVICES="\\\\.\\pipe\\$pipe=0416:F362" WINEDLLOVERRIDES="hid,setupapi=n" \
  wine "$BIN/ruvo-probe.exe" </dev/null

echo quit >&3
exec 3>&-
wait "$sim"
sim=
echo "== commands the device received"
cat "$work/sim.log"
grep -q '^READ 8175 1$' "$work/sim.log"
