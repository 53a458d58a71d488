#!/usr/bin/env bash
# End to end, natively: ruvo-flash against nginx serving a ruvo-pack release
# and the simulator behind its local socket. Runs in its own network and
# mount namespace (port 80 on its own loopback); every file lives in one
# temporary folder, and everything started is stopped on every way out.
#   run-cli-e2e.sh [NATIVE_BUILD_DIR]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/native}" && pwd)

# Always a run of its own (scripts/session.sh), also inside another run:
# port 80 and the simulators' sockets are then its alone.
if [ "${RUVO_CLI_E2E_INNER:-}" != 1 ]; then
  RUVO_CLI_E2E_INNER=1 exec "$ROOT/scripts/session.sh" --no-wine "$0" "$BUILD"
fi

FLASH=$BUILD/cli/ruvo-flash
SIM=$BUILD/tools/simulator/ruvo-sim
WORK=$(mktemp -d /tmp/ruvo-cli-e2e.XXXXXX)
SIM_PID=
FLASH_PID=
PIDS4=()

REDIRECT_PID=
SLOW_PID=
SWAP_PID=
cleanup() {
  local status=$?
  set +e
  [ -n "$SWAP_PID" ] && kill "$SWAP_PID" 2>/dev/null
  [ -n "$SLOW_PID" ] && kill "$SLOW_PID" 2>/dev/null
  [ -n "$REDIRECT_PID" ] && kill "$REDIRECT_PID" 2>/dev/null
  for pid in "${PIDS4[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "$FLASH_PID" ] && kill "$FLASH_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
  "$ROOT/tools/update-server/nginx-serve.sh" stop "$WORK/nginx"
  wait 2>/dev/null
  rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# shellcheck source=tests/e2e/cli/checks.sh
source "$HERE/checks.sh"

# --- the release, published as a publisher would --------------------------
cp -r "$ROOT/tests/e2e/releases/standard" "$WORK/release"
python3 "$ROOT/tools/demo/make_firmware.py" "$WORK/release/firmware.txt" "$WORK/release"
mkdir -p "$WORK/www"
"$BUILD/tools/ruvo-pack/ruvo-pack" publish "$WORK/release/manifest.txt" "$WORK/www" >"$WORK/publish.out"
cp -r "$WORK/www" "$WORK/www-good"

start_nginx() {
  "$ROOT/tools/update-server/nginx-serve.sh" start "$WORK/www" "$WORK/nginx" >/dev/null || exit 1
}
stop_nginx() {
  "$ROOT/tools/update-server/nginx-serve.sh" stop "$WORK/nginx"
}

# The device: version 20, second version ABC, model R100, so both base
# images and the chosen option line are needed. FLASH_IN keeps the flash
# from the previous run of the same device.
start_sim() {  # extra options...
  rm -f "$WORK/sim.in"
  mkfifo "$WORK/sim.in"
  exec 3<>"$WORK/sim.in"
  local flash_in=()
  [ -f "$WORK/flash.bin" ] && flash_in=(--flash-in "$WORK/flash.bin")
  "$SIM" --socket "$WORK/sim.sock" --info 20030A1F414243010000000052313030 "${flash_in[@]}" \
    --log "$WORK/sim.log" --dump "$WORK/flash.bin" "$@" <&3 >"$WORK/sim.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 50); do
    grep -q '^ruvo-sim ready' "$WORK/sim.out" && return 0
    sleep 0.05
  done
  echo "ruvo-sim did not start" >&2
  exit 1
}
stop_sim() {
  echo quit >&3
  exec 3>&-
  wait "$SIM_PID" || true
  SIM_PID=
}
fresh_device() { rm -f "$WORK/flash.bin"; }

# Several devices at once: simulators 1..COUNT with files $WORK/<prefix>N.*
# (.sock, .in to quit it, .out, .log commands, .bin flash dump), each with the
# options given; their ids in PIDS4. stop_sims asks them to quit and waits.
start_sims() {  # COUNT PREFIX OPTIONS...
  local count=$1 prefix=$2 n
  shift 2
  PIDS4=()
  for n in $(seq "$count"); do
    rm -f "$WORK/$prefix$n.in" "$WORK/$prefix$n.bin"
    mkfifo "$WORK/$prefix$n.in"
    eval "exec $((n + 3))<>\"\$WORK/$prefix$n.in\""
    "$SIM" --socket "$WORK/$prefix$n.sock" --info 20030A1F414243010000000052313030 --log "$WORK/$prefix$n.log" \
      --dump "$WORK/$prefix$n.bin" "$@" <"$WORK/$prefix$n.in" >"$WORK/$prefix$n.out" 2>&1 &
    PIDS4+=($!)
  done
  for n in $(seq "$count"); do
    for _ in $(seq 50); do grep -q '^ruvo-sim ready' "$WORK/$prefix$n.out" && break; sleep 0.05; done
  done
}
stop_sims() {  # COUNT PREFIX
  local n
  for n in $(seq "$1"); do echo quit >"$WORK/$2$n.in"; done
  wait "${PIDS4[@]}" 2>/dev/null || true
  PIDS4=()
}

DEVICE=sim:$WORK/sim.sock
start_nginx

# --- 1. a whole update: the flash equals the images -------------------------
fresh_device
start_sim
set +e
"$FLASH" update --device "$DEVICE" --option 1 --yes >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
stop_sim
expect_exit "update" 0 "$code"
expect_grep "update says the device can be unplugged" "can be unplugged" "$WORK/out"
if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/flash.bin" "$WORK/release" BTR122.bin BVRABD.bin OPR0HK.bin \
  >"$WORK/check.out"; then pass "flash equals the images"; else fail "flash differs"; cat "$WORK/check.out"; fi
if [ "$(tail -n1 "$WORK/sim.log")" = "TEST FCB19055 FCB19055" ]; then pass "finish command last"
else fail "finish command last: $(tail -n1 "$WORK/sim.log")"; fi

# --- 2. a refused image: nothing erased -------------------------------------
fresh_device
python3 - "$WORK/www/BRELM/Pool/BVRABD.bin" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[100] ^= 0x01
open(sys.argv[1], "wb").write(data)
PY
start_sim
set +e
"$FLASH" update --device "$DEVICE" --yes >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
stop_sim
rm -rf "$WORK/www" && cp -r "$WORK/www-good" "$WORK/www"
expect_exit "refused image" 1 "$code"
expect_grep "refusal carries the window's code" "error 0402 -4" "$WORK/err"
if [ "$(cat "$WORK/sim.log")" = "READ 8175 1" ]; then pass "refused image: nothing erased"
else fail "refused image: the device saw $(wc -l <"$WORK/sim.log") commands"; fi

# --- 2b. a body longer than the catalogue announced: never written past the
# buffer, refused by the check like the window's "too large" download ------
fresh_device
head -c 300000 /dev/zero >>"$WORK/www/BRELM/Pool/OPR0TW.bin"
start_sim
set +e
"$FLASH" update --device "$DEVICE" --yes >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
stop_sim
rm -rf "$WORK/www" && cp -r "$WORK/www-good" "$WORK/www"
expect_exit "image longer than announced" 1 "$code"
expect_grep "longer image refused with the window's code" "error 0402 " "$WORK/err"
if [ "$(cat "$WORK/sim.log")" = "READ 8175 1" ]; then pass "longer image: nothing erased"
else fail "longer image: the device saw $(wc -l <"$WORK/sim.log") commands"; fi

# --- 3. a 404 page for the catalogue is refused by the check ----------------
fresh_device
mv "$WORK/www/BRELM/Door/R100.Bin" "$WORK/R100.Bin"
start_sim
set +e
"$FLASH" update --device "$DEVICE" --yes --json >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
stop_sim
mv "$WORK/R100.Bin" "$WORK/www/BRELM/Door/R100.Bin"
expect_exit "catalogue 404" 1 "$code"
expect_grep "catalogue 404 as a JSON error with its code" '"event":"error".*"code":"0302 ' "$WORK/out"
if python3 -c 'import json,sys
for line in open(sys.argv[1]):
    event = json.loads(line)
    assert event["format"] == 1 and "event" in event and "device" in event' "$WORK/out"; then
  pass "every JSON line parses and carries format 1"
else fail "JSON lines"; fi

# --- 4. the server is down ---------------------------------------------------
stop_nginx
fresh_device
start_sim
set +e
"$FLASH" update --device "$DEVICE" --yes >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
stop_sim
start_nginx
expect_exit "server down" 4 "$code"
expect_grep "server down says network" "network (connect)" "$WORK/err"

# --- 5. Ctrl-C during the second image, then a re-run that completes --------
# Paced like a real device, so the second image takes a while.
interrupt_during_second_image() {  # NAME SIGNALS MESSAGE
  fresh_device
  start_sim --report-us 2000 --erase-ms 5
  "$FLASH" update --device "$DEVICE" --yes --json >"$WORK/out" 2>"$WORK/err" &
  FLASH_PID=$!
  for _ in $(seq 200); do
    grep -q '"event":"progress","device":"[^"]*","image":"BVRABD.bin".*"phase":"write","done":1' "$WORK/out" && break
    sleep 0.05
  done
  for _ in $(seq "$2"); do kill -INT "$FLASH_PID"; sleep 0.05; done
  set +e
  wait "$FLASH_PID"
  code=$?
  set -e
  FLASH_PID=
  stop_sim
  expect_exit "$1" 130 "$code"
  expect_grep "$1: the message names the image" "$3" "$WORK/out"
  expect_grep "$1: running again completes" "running the update again completes the device" "$WORK/out"
  if [ "$(tail -n1 "$WORK/sim.log")" != "TEST FCB19055 FCB19055" ]; then pass "$1: no finish command"
  else fail "$1: finish command sent"; fi

  start_sim
  set +e
  "$FLASH" update --device "$DEVICE" --yes >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  stop_sim
  expect_exit "$1: re-run" 0 "$code"
  if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/flash.bin" "$WORK/release" BTR122.bin BVRABD.bin OPR0TW.bin \
    >"$WORK/check.out"; then pass "$1: re-run leaves the images"; else fail "$1: flash differs"; cat "$WORK/check.out"; fi
}
interrupt_during_second_image "one Ctrl-C" 1 "BVRABD.bin is complete, OPR0TW.bin not programmed"
interrupt_during_second_image "two Ctrl-C" 2 "image BVRABD.bin (2 of 3) was cut short"

# --- 6. four devices at once, paced like real ones, one failing mid-write ----
PIDS4=()
for n in 1 2 3 4; do
  extra=()
  [ "$n" = 3 ] && extra=(--unplug-after 300)  # inside the first image's writing
  mkfifo "$WORK/sim$n.in"
  eval "exec $((n + 3))<>\"\$WORK/sim$n.in\""
  "$SIM" --socket "$WORK/s$n.sock" --info 20030A1F414243010000000052313030 --report-us 1000 --erase-ms 5 \
    --dump "$WORK/flash$n.bin" "${extra[@]}" <"$WORK/sim$n.in" >"$WORK/sim$n.out" 2>&1 &
  PIDS4+=($!)
done
for n in 1 2 3 4; do
  for _ in $(seq 50); do grep -q '^ruvo-sim ready' "$WORK/sim$n.out" && break; sleep 0.05; done
done
fetched_before=$(grep -c $'GET\t/BRELM/Pool/BTR122.bin' "$WORK/nginx/requests.log" || true)
set +e
"$FLASH" update --device "sim:$WORK/s1.sock" --device "sim:$WORK/s2.sock" --device "sim:$WORK/s3.sock" \
  --device "sim:$WORK/s4.sock" --yes --log "$WORK/bench.log" >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
for n in 1 2 3 4; do echo quit >"$WORK/sim$n.in"; done
wait "${PIDS4[@]}" 2>/dev/null || true
expect_exit "four devices, one failing" 1 "$code"
for n in 1 2 4; do
  if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/flash$n.bin" "$WORK/release" BTR122.bin BVRABD.bin OPR0TW.bin \
    >"$WORK/check.out"; then pass "device $n of 4: flash equals the images"; else fail "device $n of 4"; cat "$WORK/check.out"; fi
done
expect_grep "the failing device is in the table with its code" "s3.sock .*exit 1 0403+ 0" "$WORK/out"
if [ "$(wc -l <"$WORK/bench.log")" = 4 ]; then pass "the log holds 4 lines"; else fail "log lines: $(wc -l <"$WORK/bench.log")"; fi
fetched=$(($(grep -c $'GET\t/BRELM/Pool/BTR122.bin' "$WORK/nginx/requests.log") - fetched_before))
if [ "$fetched" = 1 ]; then pass "each image fetched once for all four"; else fail "BTR122.bin fetched $fetched times"; fi

# --- 6b. Ctrl-C with several devices: every device finishes its image ------
start_sims 2 sim --report-us 2000 --erase-ms 5
"$FLASH" update --device "sim:$WORK/sim1.sock" --device "sim:$WORK/sim2.sock" --yes --json >"$WORK/out" 2>"$WORK/err" &
FLASH_PID=$!
for _ in $(seq 200); do
  grep -q '"event":"progress".*"image":"BTR122.bin".*"phase":"write","done":1' "$WORK/out" && break
  sleep 0.05
done
kill -INT "$FLASH_PID"
set +e
wait "$FLASH_PID"
code=$?
set -e
FLASH_PID=
stop_sims 2 sim
expect_exit "Ctrl-C with two devices" 130 "$code"
if [ "$(grep -c '"event":"verified".*"image":"BTR122.bin".*"mismatches":0' "$WORK/out")" = 2 ] &&
  [ "$(grep -c 'BTR122.bin is complete, BVRABD.bin, OPR0TW.bin not programmed' "$WORK/out")" = 2 ]; then
  pass "Ctrl-C with two devices: each finished its current image and stopped"
else fail "Ctrl-C with two devices"; sed 's/^/     /' "$WORK/out" | grep -v progress; fi

# --- 7. signed releases: --key replaces the built-in keys -------------------
KEYS=$ROOT/tests/fixtures/keys
sign_release() {  # KEY (a or b): the release, signed, served from www
  rm -rf "$WORK/www"
  "$BUILD/tools/ruvo-pack/ruvo-pack" publish "$WORK/release/manifest.txt" "$WORK/www" \
    --sign "$KEYS/test-only-release-key-$1.pem" >>"$WORK/publish.out"
}
signed_update() {  # NAME: updates a fresh device with key a; the exit code in $code
  fresh_device
  start_sim
  set +e
  "$FLASH" update --device "$DEVICE" --key "$KEYS/test-only-release-key-a.pub.pem" --yes >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  stop_sim
}
nothing_erased() {  # NAME
  if [ "$(cat "$WORK/sim.log")" = "READ 8175 1" ]; then pass "$1: nothing erased"
  else fail "$1: the device saw $(wc -l <"$WORK/sim.log") commands"; fi
}

sign_release a
statements_before=$(grep -c $'GET\t/BRELM/Door/R100.Sig' "$WORK/nginx/requests.log" || true)
signed_update "signed release"
expect_exit "signed release with its key" 0 "$code"
if python3 "$ROOT/tests/e2e/check_flash.py" "$WORK/flash.bin" "$WORK/release" BTR122.bin BVRABD.bin OPR0TW.bin \
  >"$WORK/check.out"; then pass "signed release: flash equals the images"; else fail "signed release: flash differs"; cat "$WORK/check.out"; fi
if [ "$(($(grep -c $'GET\t/BRELM/Door/R100.Sig' "$WORK/nginx/requests.log") - statements_before))" = 1 ]; then
  pass "signed release: the statement was fetched"
else fail "signed release: the statement was not fetched once"; fi

# Image 1 changed after signing, its XOR and sum bytes fixed: only the hash can tell.
"$BUILD/tests/e2e/craft/ruvo-craft" tamper RABD 100 "$WORK/www/BRELM/Pool/BVRABD.bin"
signed_update "changed image 1"
expect_exit "signed release, image 1 changed" 1 "$code"
expect_grep "changed image 1 refused with 0404+ 1" "error 0404+ 1" "$WORK/err"
# Image 1 starts at block 16 and runs up to the option images at block 64.
if grep -Eq '^ERASE (1[6-9]|[2-5][0-9]|6[0-3])$' "$WORK/sim.log"; then fail "changed image 1: its blocks were erased"
else pass "changed image 1: none of its blocks erased"; fi
nothing_erased "changed image 1"

sign_release b
signed_update "another key"
expect_exit "statement signed by another key" 1 "$code"
expect_grep "another key refused with 0303 -2" "error 0303 -2" "$WORK/err"
nothing_erased "another key"

# An unsigned release: the missing statement is nginx's 404 page, malformed.
rm -rf "$WORK/www" && cp -r "$WORK/www-good" "$WORK/www"
signed_update "no statement"
expect_exit "no statement" 1 "$code"
expect_grep "no statement refused with 0303 -1" "error 0303 -1" "$WORK/err"
nothing_erased "no statement"

set +e
"$FLASH" update --device "$DEVICE" --key "$WORK/no-such-key.pem" --yes >"$WORK/out" 2>"$WORK/err"
code=$?
"$FLASH" update --device "$DEVICE" --key "$KEYS/test-only-release-key-a.pem" --yes >"$WORK/out" 2>"$WORK/err2"
code2=$?
mkfifo "$WORK/key.fifo"
timeout 10 "$FLASH" update --device "$DEVICE" --key "$WORK/key.fifo" --yes >"$WORK/out" 2>"$WORK/err3"
code3=$?
set -e
expect_exit "--key of a missing file" 2 "$code"
expect_exit "--key of a private key file" 2 "$code2"
expect_exit "--key of a FIFO, refused at once" 2 "$code3"
expect_grep "a private key file is refused with its reason" "give the .pub.pem file" "$WORK/err2"

# --- 8. a device that hangs mid-write: a bounded failure, never a hang ------
fresh_device
start_sim --hang-after 300
set +e
timeout 120 "$FLASH" update --device "$DEVICE" --yes >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
stop_sim
expect_exit "device hangs mid-write" 1 "$code"
expect_grep "hung device: the image's code" "error 0403+ 0" "$WORK/err"
if [ "$(tail -n1 "$WORK/sim.log")" != "TEST FCB19055 FCB19055" ]; then pass "hung device: no finish command"
else fail "hung device: finish command sent"; fi

# --- 9. refusals before any device traffic ----------------------------------
set +e
"$FLASH" update --device "$DEVICE" </dev/null >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
expect_exit "no terminal and no --yes" 2 "$code"
set +e
"$FLASH" info --device "sim:$WORK/nothing.sock" >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
expect_exit "no simulated device at the path" 3 "$code"
set +e
"$FLASH" list >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
expect_exit "list without a device" 3 "$code"
expect_grep "list without a device says so" "no device found" "$WORK/err"

# --- redirects: followed while they stay on https, refused when they leave it
# or never end. A test CA is trusted inside this run only (its own mount
# namespace), as a publisher's CA is on a user's machine.
"$ROOT/tests/e2e/make-test-pki.sh" "$WORK/pki"
mount --bind "$WORK/pki/ca-bundle.crt" /etc/ssl/certs/ca-certificates.crt
python3 "$HERE/redirect_server.py" "$WORK/www" "$WORK/pki/localhost.pem" "$WORK/pki/localhost.key" \
  >"$WORK/redirect.out" 2>&1 &
REDIRECT_PID=$!
for _ in $(seq 50); do grep -q READY "$WORK/redirect.out" && break; sleep 0.1; done
fresh_device
start_sim
for row in "follow 0 ok" "plain 4 network (redirect)" "loop 4 network (redirect)"; do
  read -r kind wanted phrase <<<"$row"
  requests_before=$(wc -l <"$WORK/nginx/requests.log")
  set +e
  "$FLASH" info --device "$DEVICE" --base-url "https://localhost/$kind/BRELM/" >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  expect_exit "redirect ($kind)" "$wanted" "$code"
  [ "$wanted" = 0 ] || expect_grep "redirect ($kind) is named" "$phrase" "$WORK/err"
  if [ "$(wc -l <"$WORK/nginx/requests.log")" = "$requests_before" ]; then pass "redirect ($kind): nothing fetched over http"
  else fail "redirect ($kind): the plain http server was asked"; fi
done
stop_sim
kill "$REDIRECT_PID"

# --- a slow server: 2 bytes a second never trips a stall bound; each file's
# total deadline ends it, with exit 4 naming the file, before any erase. The
# deadlines are shortened for the test (RUVO_FLASH_DEADLINE: 3 s, plus the
# file's size at 100 kB/s). Each file trickles under its own path prefix.
sign_release a
# shellcheck source=tests/e2e/cli/slow-server.sh
source "$HERE/slow-server.sh"
start_slow_server
SLOW_PID=$SLOW_SERVER_PID
slow_update() {  # KIND DEVICE...: the exit code in $code, the seconds taken in $seconds
  local kind=$1 args=() started
  shift
  for device in "$@"; do args+=(--device "$device"); done
  started=$(date +%s%N)
  set +e
  RUVO_FLASH_DEADLINE=3000,100000 "$FLASH" update "${args[@]}" --key "$KEYS/test-only-release-key-a.pub.pem" \
    --base-url "http://127.0.0.1:8080/$kind/BRELM/" --yes >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  seconds=$((($(date +%s%N) - started) / 1000000000))
}
for row in "catalogue R100.Bin" "statement R100.Sig" "image BTR122.bin"; do
  read -r kind file <<<"$row"
  fresh_device
  start_sim
  slow_update "$kind" "$DEVICE"
  stop_sim
  expect_exit "slow $kind" 4 "$code"
  expect_grep "slow $kind: the file and the time-out are named" "timeout.*$file" "$WORK/err"
  # The bound is 3 s (3.2 s for the image); far less than a trickle would need.
  if [ "$seconds" -le 10 ]; then pass "slow $kind: ended after ${seconds}s"; else fail "slow $kind: took ${seconds}s"; fi
  nothing_erased "slow $kind"
done
# Two devices need the slow image: one fetches, the other waits for that
# fetch under the same deadline, and both end.
start_sims 2 slow
slow_update image "sim:$WORK/slow1.sock" "sim:$WORK/slow2.sock"
stop_sims 2 slow
expect_exit "two devices, slow image" 1 "$code"
for n in 1 2; do
  expect_grep "two devices, slow image: device $n ends with exit 4" "slow$n.sock .*exit 4" "$WORK/out"
  if [ "$(cat "$WORK/slow$n.log")" = "READ 8175 1" ]; then pass "two devices, slow image: device $n not erased"
  else fail "two devices, slow image: device $n saw $(wc -l <"$WORK/slow$n.log") commands"; fi
done
if [ "$seconds" -le 10 ]; then pass "two devices, slow image: ended after ${seconds}s"; else fail "two devices: took ${seconds}s"; fi
kill "$SLOW_PID"

# --- a release swapped between the catalogue request and the statement
# request: both releases are sound and signed, so the pair is fetched once
# more, past the run's memo, and the update goes on with the release live by
# then, for one device and for a bench (--all). A pair that still disagrees
# is refused as before. Under /swap/ the server makes serial 1 live again once
# the catalogue was read; under /split/ the live catalogue always meets the
# other release's statement.
SWAP=$WORK/swap
cp -r "$ROOT/tests/e2e/releases/standard-next" "$WORK/release-next"
python3 "$ROOT/tools/demo/make_firmware.py" "$WORK/release-next/firmware.txt" "$WORK/release-next"
for release in release-next release; do  # serial 1, then serial 2 (live)
  "$BUILD/tools/ruvo-pack/ruvo-pack" publish "$WORK/$release/manifest.txt" "$SWAP/pristine/swap" \
    --sign "$KEYS/test-only-release-key-a.pem" >>"$WORK/publish.out"
done
cp -a "$SWAP/pristine/swap" "$SWAP/pristine/split"
cp "$SWAP/pristine/split/releases/000001/Door/R100.Sig" "$SWAP/pristine/split/releases/000002/Door/R100.Sig"
echo "/swap/BRELM/Door/R100.Bin then-live 1" >"$SWAP/rules"
mkdir -p "$SWAP/www"
python3 "$ROOT/tools/update-server/fault_server.py" --root "$SWAP/www" --bind 127.0.0.1 --port 8081 \
  --rules "$SWAP/rules" --log "$SWAP/requests.log" --max-seconds 600 >"$SWAP/server.out" 2>&1 &
SWAP_PID=$!
for _ in $(seq 50); do grep -q READY "$SWAP/server.out" && break; sleep 0.1; done
swap_update() {  # KIND ARG...: a fresh copy of the served folder; the exit code in $code
  local kind=$1
  shift
  rm -rf "${SWAP:?}/www/$kind" && cp -a "$SWAP/pristine/$kind" "$SWAP/www/$kind"
  : >"$SWAP/requests.log"
  set +e
  "$FLASH" update "$@" --key "$KEYS/test-only-release-key-a.pub.pem" \
    --base-url "http://127.0.0.1:8081/$kind/BRELM/" --yes >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
}
requested() {  # KIND FILE: how often BRELM/FILE was asked for
  grep -c $'^GET\t/'"$1/BRELM/$2"$'\t' "$SWAP/requests.log" || true
}
next_images() {  # NAME FLASH
  if python3 "$ROOT/tests/e2e/check_flash.py" "$2" "$WORK/release-next" BTR123.bin BVRABD.bin OPR0TW.bin \
    >"$WORK/check.out"; then pass "$1: the flash holds the release live by then"
  else fail "$1: flash differs"; cat "$WORK/check.out"; fi
}

fresh_device
start_sim
swap_update swap --device "$DEVICE"
stop_sim
expect_exit "release swapped between the two requests" 0 "$code"
next_images "release swapped" "$WORK/flash.bin"
if [ "$(requested swap Door/R100.Bin) $(requested swap Door/R100.Sig)" = "2 2" ]; then
  pass "release swapped: the catalogue and the statement were fetched twice"
else fail "release swapped: $(requested swap Door/R100.Bin) catalogue and $(requested swap Door/R100.Sig) statement requests"; fi

start_sims 2 sim
swap_update swap --all --device "sim:$WORK/sim1.sock" --device "sim:$WORK/sim2.sock"
stop_sims 2 sim
expect_exit "--all, release swapped between the two requests" 0 "$code"
for n in 1 2; do next_images "--all, release swapped: device $n" "$WORK/sim$n.bin"; done
# The first pair once through the memo, then each device's own second pair.
if [ "$(requested swap Door/R100.Bin) $(requested swap Door/R100.Sig)" = "3 3" ] &&
  [ "$(requested swap Pool/BTR123.bin)" = 1 ]; then
  pass "--all, release swapped: each device fetched the pair again, the image once for both"
else fail "--all, release swapped: requests"; sed 's/^/     /' "$SWAP/requests.log"; fi

fresh_device
start_sim
swap_update split --device "$DEVICE"
stop_sim
expect_exit "catalogue and statement of two releases, every time" 1 "$code"
expect_grep "two releases every time: refused with 0303 -4" "error 0303 -4" "$WORK/err"
nothing_erased "two releases every time"
if [ "$(requested split Door/R100.Bin) $(requested split Door/R100.Sig)" = "2 2" ]; then
  pass "two releases every time: refused after a second pair"
else fail "two releases every time: requests"; sed 's/^/     /' "$SWAP/requests.log"; fi
kill "$SWAP_PID"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
