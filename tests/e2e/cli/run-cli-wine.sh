#!/usr/bin/env bash
# The Windows console ruvo-flash.exe under Wine: it updates the pipe
# simulator (ruvo-sim.exe) through the test-only hid/setupapi DLLs, from
# nginx serving a ruvo-pack release signed with a test-only key: --key is
# read with crypt32 and the statement checked with CNG. In a run with the
# real HID stacks (scripts/session.sh --hidraw) it also updates an emulated
# hidraw node through Wine's own hid.dll, setupapi.dll and winebus. Own
# network and mount namespace, own Wine prefix; everything started is
# stopped on every way out.
#   run-cli-wine.sh [NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR]]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
NATIVE=$(cd "${1:-$ROOT/build/native}" && pwd)
WINDOWS=$(cd "${2:-$ROOT/build/windows}" && pwd)

# A run of its own (scripts/session.sh, with its Wine session), or the
# caller's when there is one.
if [ "${RUVO_SESSION:-}" != 1 ]; then
  hidraw=()
  [ "$(id -u)" -eq 0 ] && hidraw=(--hidraw)
  exec "$ROOT/scripts/session.sh" "${hidraw[@]}" "$0" "$NATIVE" "$WINDOWS"
fi

BIN=$WINDOWS/bin
WORK=$(mktemp -d /tmp/ruvo-cli-wine.XXXXXX)
WINWORK="Z:${WORK//\//\\}"
SIM_PID=
SIM_PIDS=()
SERVER_PIDS=()  # the slow and the redirecting servers

cleanup() {
  local status=$?
  set +e
  [ -n "$SIM_PID" ] && { echo quit >&3; wait "$SIM_PID" 2>/dev/null; }
  for pid in "${SIM_PIDS[@]}" "${SERVER_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  "$ROOT/tools/update-server/nginx-serve.sh" stop "$WORK/nginx"
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
pass() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
expect_exit() { if [ "$2" = "$3" ]; then pass "$1 (exit $3)"; else fail "$1: exit $3, wanted $2"; sed 's/^/     /' "$WORK/err"; fi; }

cp -r "$ROOT/tests/e2e/releases/standard" "$WORK/release"
python3 "$ROOT/tools/demo/make_firmware.py" "$WORK/release/firmware.txt" "$WORK/release"
mkdir -p "$WORK/www"
KEYS=$ROOT/tests/fixtures/keys
"$NATIVE/tools/ruvo-pack/ruvo-pack" publish "$WORK/release/manifest.txt" "$WORK/www" \
  --sign "$KEYS/test-only-release-key-a.pem" --expires 30 >"$WORK/publish.out"
winpath() { echo "Z:${1//\//\\}"; }
# shellcheck source=tests/e2e/release-state.sh
. "$ROOT/tests/e2e/release-state.sh"
"$ROOT/tools/update-server/nginx-serve.sh" start "$WORK/www" "$WORK/nginx" >/dev/null || exit 1


PIPE='\\.\pipe\ruvo-cli-wine'
mkfifo "$WORK/sim.in"
exec 3<>"$WORK/sim.in"
wine "$BIN/ruvo-sim.exe" --pipe ruvo-cli-wine --info 20030A1F414243010000000052313030 \
  --log "$WINWORK\\sim.log" --dump "$WINWORK\\flash.bin" <&3 >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 100); do grep -q '^ruvo-sim ready' "$WORK/sim.out" && break; sleep 0.1; done

flash() {  # devices-list args...
  local devices=$1
  shift
  set +e
  WINEDLLOVERRIDES="hid,setupapi=n" RUVO_FAKE_HID_DEVICES="$devices" \
    wine "$BIN/ruvo-flash.exe" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
}

flash "" list
expect_exit "list without a device" 3 "$code"
grep -q "no device found" "$WORK/err" && pass "list says no device" || fail "list message"

flash "$PIPE=0416:F362" list
expect_exit "list" 0 "$code"
grep -q "ruvo-cli-wine: version 03A0, second version ABC, updater level 1, model R100" "$WORK/out" \
  && pass "list shows the record" || { fail "list output"; cat "$WORK/out"; }

# Checked with another key: refused before any erase.
flash "$PIPE=0416:F362" update --option 1 --yes --key "$(winpath "$KEYS/test-only-release-key-b.pub.pem")"
expect_exit "statement checked with another key" 1 "$code"
grep -q "error 0303 -2" "$WORK/err" && pass "another key refused with 0303 -2" || { fail "another key"; cat "$WORK/err"; }
if grep -q '^ERASE' "$WORK/sim.log"; then fail "another key: something was erased"; else pass "another key: nothing erased"; fi

flash "$PIPE=0416:F362" update --option 1 --yes --key "$(winpath "$KEYS/test-only-release-key-a.pub.pem")"
expect_exit "signed update with its key" 0 "$code"
grep -q "can be unplugged" "$WORK/out" && pass "update says the device can be unplugged" || fail "update output"

# The accepted release is remembered where the window keeps it: the
# registry, HKCU\Software\RUVO. A record raised above it there by hand (as
# if the window had accepted a newer release) makes the same release a
# replay for ruvo-flash.exe too.
if [ "$(read_release_state)" = "R100 1" ]; then pass "the accepted release is in the registry: R100 1"
else fail "the registry holds '$(read_release_state)', wanted R100 1"; fi
echo "R100 999" >"$WORK/newer-record"
seed_release_state "$WORK/newer-record" "$(key_set 6479c7bdad0f2145)"  # key a, the one --key gives
cp "$WORK/sim.log" "$WORK/sim-before-replay"
flash "$PIPE=0416:F362" update --option 1 --yes --key "$(winpath "$KEYS/test-only-release-key-a.pub.pem")"
expect_exit "a release older than the registry's record" 1 "$code"
grep -q "error 0303 -7" "$WORK/err" && pass "refused as a replay with 0303 -7" || { fail "replay"; cat "$WORK/err"; }
if [ "$(diff "$WORK/sim-before-replay" "$WORK/sim.log" | grep -c '^> ERASE')" = 0 ]; then pass "replay: nothing erased"
else fail "replay: something was erased"; fi
reset_release_state

echo quit >&3
exec 3>&-
wait "$SIM_PID" || true
SIM_PID=
if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/flash.bin" "$WORK/release" BTR122.bin BVRABD.bin OPR0HK.bin \
  >"$WORK/check.out"; then pass "flash equals the images"; else fail "flash differs"; cat "$WORK/check.out"; fi
# The update's own commands end before the replay's record read.
if [ "$(tail -n1 "$WORK/sim-before-replay" | tr -d '\r')" = "TEST FCB19055 FCB19055" ]; then pass "finish command last"
else fail "finish command last"; fi

# Two devices at once (--all), each through its own CHidIO.
SIM_PIDS=()
for n in a b; do
  mkfifo "$WORK/sim-$n.in"
  eval "exec {fd_$n}<>\"\$WORK/sim-$n.in\""
  wine "$BIN/ruvo-sim.exe" --pipe "ruvo-cli-wine-$n" --info 20030A1F414243010000000052313030 \
    --dump "$WINWORK\\flash-$n.bin" <"$WORK/sim-$n.in" >"$WORK/sim-$n.out" 2>&1 &
  SIM_PIDS+=($!)
done
for n in a b; do
  for _ in $(seq 100); do grep -q '^ruvo-sim ready' "$WORK/sim-$n.out" && break; sleep 0.1; done
done
flash '\\.\pipe\ruvo-cli-wine-a=0416:F362;\\.\pipe\ruvo-cli-wine-b=0416:F362' update --all --yes \
  --log "$WINWORK\\run.log"
for n in a b; do echo quit >"$WORK/sim-$n.in"; done
wait "${SIM_PIDS[@]}" || true
SIM_PIDS=()
expect_exit "update --all, two devices" 0 "$code"
for n in a b; do
  if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/flash-$n.bin" "$WORK/release" BTR122.bin BVRABD.bin OPR0TW.bin \
    >"$WORK/check.out"; then pass "--all: device $n equals the images"; else fail "--all: device $n"; cat "$WORK/check.out"; fi
done
if [ "$(wc -l <"$WORK/run.log")" = 2 ]; then pass "--all: two log lines"; else fail "--all: log lines"; fi

# A slow server (2 bytes a second) for the catalogue, the statement and an
# image: each ends with exit 4 naming the file, within its shortened deadline
# (RUVO_FLASH_DEADLINE: 3 s plus the file's size at 100 kB/s), before any
# erase. Each file trickles under its own path prefix.
# shellcheck source=tests/e2e/cli/slow-server.sh
source "$HERE/slow-server.sh"
start_slow_server
SERVER_PIDS+=("$SLOW_SERVER_PID")
mkfifo "$WORK/sim-slow.in"
exec {fd_slow}<>"$WORK/sim-slow.in"
wine "$BIN/ruvo-sim.exe" --pipe ruvo-cli-wine-slow --info 20030A1F414243010000000052313030 \
  --log "$WINWORK\\slow-sim.log" <"$WORK/sim-slow.in" >"$WORK/sim-slow.out" 2>&1 &
SLOW_SIM=$!
for _ in $(seq 100); do grep -q '^ruvo-sim ready' "$WORK/sim-slow.out" && break; sleep 0.1; done
for row in "catalogue R100.Bin" "statement R100.Sig2" "image BTR122.bin"; do
  read -r kind file <<<"$row"
  started=$(date +%s)
  RUVO_FLASH_DEADLINE=3000,100000 flash '\\.\pipe\ruvo-cli-wine-slow=0416:F362' update --yes \
    --key "$(winpath "$KEYS/test-only-release-key-a.pub.pem")" --base-url "http://127.0.0.1:8080/$kind/BRELM/"
  seconds=$(($(date +%s) - started))
  expect_exit "slow $kind" 4 "$code"
  grep -q "timeout.*$file" "$WORK/err" && pass "slow $kind: the file and the time-out are named" \
    || { fail "slow $kind: message"; cat "$WORK/err"; }
  if [ "$seconds" -le 12 ]; then pass "slow $kind: ended after ${seconds}s"; else fail "slow $kind: took ${seconds}s"; fi
done
echo quit >"$WORK/sim-slow.in"
wait "$SLOW_SIM" 2>/dev/null || true
if grep -q '^ERASE' "$WORK/slow-sim.log"; then fail "slow server: something was erased"; else pass "slow server: nothing erased"; fi

# Redirects under Wine's WinINet: one that stays on https is followed, one to
# http is refused (no INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP), and one that
# never ends ends at the latest with the file's deadline. The test CA is
# trusted inside this run only.
# One test PKI per run, its bundle mounted once (as the scenarios' servers
# do): this script may share its run with them.
PKI=$RUVO_RUN_DIR/test-pki
if [ ! -f "$PKI/ca-bundle.crt" ]; then
  "$ROOT/tests/e2e/make-test-pki.sh" "$PKI"
  mount --bind "$PKI/ca-bundle.crt" /etc/ssl/certs/ca-certificates.crt
fi
python3 "$HERE/redirect_server.py" "$WORK/www" "$PKI/localhost.pem" "$PKI/localhost.key" \
  >"$WORK/redirect.out" 2>&1 &
SERVER_PIDS+=($!)
for _ in $(seq 50); do grep -q READY "$WORK/redirect.out" && break; sleep 0.1; done
mkfifo "$WORK/sim-redirect.in"
exec {fd_redirect}<>"$WORK/sim-redirect.in"
wine "$BIN/ruvo-sim.exe" --pipe ruvo-cli-wine-redirect --info 20030A1F414243010000000052313030 \
  <"$WORK/sim-redirect.in" >"$WORK/sim-redirect.out" 2>&1 &
REDIRECT_SIM=$!
for _ in $(seq 100); do grep -q '^ruvo-sim ready' "$WORK/sim-redirect.out" && break; sleep 0.1; done
for row in "follow 0" "plain 4" "loop 4"; do
  read -r kind wanted <<<"$row"
  requests_before=$(wc -l <"$WORK/nginx/requests.log")
  RUVO_FLASH_DEADLINE=3000,100000 flash '\\.\pipe\ruvo-cli-wine-redirect=0416:F362' info \
    --key "$(winpath "$KEYS/test-only-release-key-a.pub.pem")" --base-url "https://localhost/$kind/BRELM/"
  expect_exit "redirect ($kind) under Wine" "$wanted" "$code"
  if [ "$(wc -l <"$WORK/nginx/requests.log")" = "$requests_before" ]; then pass "redirect ($kind): nothing fetched over http"
  else fail "redirect ($kind): the plain http server was asked"; fi
done
echo quit >"$WORK/sim-redirect.in"
wait "$REDIRECT_SIM" 2>/dev/null || true
kill "${SERVER_PIDS[@]}" 2>/dev/null || true
wait "${SERVER_PIDS[@]}" 2>/dev/null || true
SERVER_PIDS=()

# Wine's own HID stack: the exe alone in a folder, no override, the device an
# emulated hidraw node paced like a full-speed device.
if [ "${RUVO_HIDRAW:-}" = 1 ]; then
  mkdir -p "$WORK/real"
  cp "$BIN/ruvo-flash.exe" "$WORK/real/"
  mkfifo "$WORK/sim-real.in"
  exec {fd_real}<>"$WORK/sim-real.in"
  "$NATIVE/tools/simulator/ruvo-sim" --hidraw 0 --info 20030A1F414243010000000052313030 --report-us 1000 \
    --erase-ms 5 --log "$WORK/real.log" --dump "$WORK/flash-real.bin" <"$WORK/sim-real.in" >"$WORK/sim-real.out" 2>&1 &
  SIM_PIDS+=($!)
  for _ in $(seq 100); do grep -q '^ruvo-sim ready' "$WORK/sim-real.out" && break; sleep 0.1; done
  set +e
  wine "$WORK/real/ruvo-flash.exe" update --option 1 --yes \
    --key "$(winpath "$KEYS/test-only-release-key-a.pub.pem")" </dev/null >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  echo quit >"$WORK/sim-real.in"
  wait "${SIM_PIDS[@]}" || true
  SIM_PIDS=()
  expect_exit "update on Wine's own HID stack" 0 "$code"
  if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/flash-real.bin" "$WORK/release" BTR122.bin BVRABD.bin OPR0HK.bin \
    >"$WORK/check.out"; then pass "Wine's stack: flash equals the images"; else fail "Wine's stack: flash"; cat "$WORK/check.out"; fi
  if [ "$(tail -n1 "$WORK/real.log")" = "TEST FCB19055 FCB19055" ]; then pass "Wine's stack: finish command last"
  else fail "Wine's stack: finish command last"; fi
else
  echo "skip ruvo-flash.exe on Wine's own HID stack: needs a run with it (scripts/session.sh --hidraw, as root)"
fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
