#!/usr/bin/env bash
# End to end, natively: ruvo-flash against nginx serving a ruvo-pack release
# and the simulator behind its local socket. Runs in its own network and
# mount namespace (port 80 on its own loopback); every file lives in one
# temporary folder, and everything started is stopped on every way out.
#   run-cli-e2e.sh [NATIVE_BUILD_DIR]
#
# Most cases are rows of the CASES table below, run by one loop; the few
# that signal ruvo-flash mid-run or give each device its own fault are small
# functions after it, on the same simulators and checks.
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
PACK=$BUILD/tools/ruvo-pack/ruvo-pack
KEYS=$ROOT/tests/fixtures/keys
KEY_A=$KEYS/test-only-release-key-a.pub.pem
KEYS_ABC="--key $KEY_A --key $KEYS/test-only-release-key-b.pub.pem --key $KEYS/test-only-release-key-c.pub.pem"
WORK=$(mktemp -d /tmp/ruvo-cli-e2e.XXXXXX)
SWAP=$WORK/swap
# Accepted releases are remembered here, never in the user's own state
# folder; each row starts with none, unless its set-up seeds some.
export XDG_STATE_HOME=$WORK/state
NGINX_UP=0
FLASH_PID=
SERVER_PIDS=()  # the https redirect server, the slow server, the swap server

stop_own() { stop_sims; }
# shellcheck source=tests/e2e/cli/end-run.sh
source "$HERE/end-run.sh"

# shellcheck source=tests/e2e/cli/checks.sh
source "$HERE/checks.sh"
# shellcheck source=tests/e2e/cli/slow-server.sh
source "$HERE/slow-server.sh"

# --- simulated devices -------------------------------------------------------
# A device NAME has the files $WORK/NAME.{sock,in,out,log,bin}: its socket,
# the input it quits on, its output, its command log and its flash, which the
# next start of the same NAME begins from (fresh_devices forgets it). The
# device: version 20, second version ABC, model R100, so both base images and
# the chosen option line are needed.
INFO=20030A1F414243010000000052313030
SIM_PIDS=()
SIM_FDS=()
declare -A SIM_EXTRA=()  # options for one device only, by name; cleared by stop_sims

fresh_devices() {  # NAME...
  local name
  for name in "$@"; do rm -f "$WORK/$name.bin" "$WORK/$name.log"; done
}
start_sims() {  # "NAME..." OPTIONS...: one simulator per name, all with OPTIONS
  local names=$1 name fd
  shift
  for name in $names; do
    rm -f "$WORK/$name.in"
    mkfifo "$WORK/$name.in"
    exec {fd}<>"$WORK/$name.in"
    local flash_in=()
    [ -f "$WORK/$name.bin" ] && flash_in=(--flash-in "$WORK/$name.bin")
    # shellcheck disable=SC2086
    "$SIM" --socket "$WORK/$name.sock" --info "$INFO" "${flash_in[@]}" --log "$WORK/$name.log" \
      --dump "$WORK/$name.bin" "$@" ${SIM_EXTRA[$name]:-} <&"$fd" >"$WORK/$name.out" 2>&1 &
    SIM_PIDS+=($!)
    SIM_FDS+=("$fd")
  done
  for name in $names; do
    for _ in $(seq 50); do
      grep -q '^ruvo-sim ready' "$WORK/$name.out" && continue 2
      sleep 0.05
    done
    echo "ruvo-sim $name did not start:" >&2
    cat "$WORK/$name.out" >&2
    exit 1
  done
}
# Asks every simulator to quit, so that it writes its flash, and waits.
stop_sims() {
  local fd
  for fd in "${SIM_FDS[@]}"; do
    echo quit >&"$fd"
    exec {fd}>&-
  done
  ((${#SIM_PIDS[@]} == 0)) || wait "${SIM_PIDS[@]}" 2>/dev/null || true
  SIM_PIDS=()
  SIM_FDS=()
  SIM_EXTRA=()
}
devices_args() {  # NAME...: the --device options for them
  local name
  for name in "$@"; do printf -- '--device sim:%s/%s.sock ' "$WORK" "$name"; done
}

# --- checks on a device and on the servers -----------------------------------
UNTOUCHED="READ 8175 1"  # the information page read, nothing erased or written
FINISH="TEST FCB19055 FCB19055"
check_flash() {  # NAME FLASH RELEASE IMAGES...: the flash holds exactly the images
  local name=$1 flash=$2 release=$3
  shift 3
  if python3 "$ROOT/tests/e2e/check_flash.py" "$flash" "$WORK/$release" "$@" >"$WORK/check.out"; then
    pass "$name: flash equals the images"
  else fail "$name: flash differs"; cat "$WORK/check.out"; fi
}
untouched() {  # NAME LOG
  if [ "$(cat "$2")" = "$UNTOUCHED" ]; then pass "$1: nothing erased"
  else fail "$1: the device saw $(wc -l <"$2") commands"; fi
}
finished() {  # NAME LOG
  if [ "$(tail -n1 "$2")" = "$FINISH" ]; then pass "$1: finish command last"
  else fail "$1: finish command not last: $(tail -n1 "$2")"; fi
}
unfinished() {  # NAME LOG
  if [ "$(tail -n1 "$2")" != "$FINISH" ]; then pass "$1: no finish command"
  else fail "$1: finish command sent"; fi
}
requests_since() {  # LOG FIRST-LINE PATH: GETs of PATH from that line of the log on
  tail -n "+$2" "$1" | grep -c $'^GET\t'"$3"$'\t' || true
}

# --- the releases, published as a publisher would ------------------------------
# pristine/ holds every tree a case serves; serve copies one to www, where
# nginx and the https redirect server read it.
for release in standard standard-next; do
  cp -r "$ROOT/tests/e2e/releases/$release" "$WORK/$release"
  python3 "$ROOT/tools/demo/make_firmware.py" "$WORK/$release/firmware.txt" "$WORK/$release"
done
"$PACK" publish "$WORK/standard/manifest.txt" "$WORK/pristine/good" >"$WORK/publish.out"
for key in a b; do
  "$PACK" publish "$WORK/standard/manifest.txt" "$WORK/pristine/signed-$key" \
    --sign "$KEYS/test-only-release-key-$key.pem" --expires 30 >>"$WORK/publish.out"
done
serve() {  # TREE
  rm -rf "$WORK/www"
  cp -a "$WORK/pristine/$1" "$WORK/www"
}
start_nginx() {
  "$ROOT/tools/update-server/nginx-serve.sh" start "$WORK/www" "$WORK/nginx" >/dev/null || exit 1
  NGINX_UP=1
}
serve good
start_nginx

# Redirects: an https server on 443 whose redirects stay on https, leave it
# or never end. A test CA is trusted inside this run only (its own mount
# namespace), as a publisher's CA is on a user's machine.
"$ROOT/tests/e2e/make-test-pki.sh" "$WORK/pki"
mount --bind "$WORK/pki/ca-bundle.crt" /etc/ssl/certs/ca-certificates.crt
python3 "$HERE/redirect_server.py" "$WORK/www" "$WORK/pki/localhost.pem" "$WORK/pki/localhost.key" \
  >"$WORK/redirect.out" 2>&1 &
SERVER_PIDS+=($!)
for _ in $(seq 50); do grep -q READY "$WORK/redirect.out" && break; sleep 0.1; done

# A slow server on 8080: the release signed with key a, its catalogue,
# statement and one image each trickling at 2 bytes a second under their own
# prefix. The deadlines are shortened for those cases (RUVO_FLASH_DEADLINE:
# 3 s, plus the file's size at 100 kB/s).
serve signed-a
start_slow_server
SERVER_PIDS+=("$SLOW_SERVER_PID")
serve good
# shellcheck disable=SC2034  # used by the table
SLOW="RUVO_FLASH_DEADLINE=3000,100000 update --key $KEY_A --yes --base-url http://127.0.0.1:8080"

# A release swapped between the catalogue request and the statement request,
# on 8081: both releases are sound and signed. Under /swap/ the server makes
# serial 1 live again once the catalogue was read; under /split/ the live
# catalogue always meets the other release's statement.
for release in standard-next standard; do  # serial 1, then serial 2 (live)
  "$PACK" publish "$WORK/$release/manifest.txt" "$SWAP/pristine/swap" \
    --sign "$KEYS/test-only-release-key-a.pem" --expires 30 >>"$WORK/publish.out"
done
cp -a "$SWAP/pristine/swap" "$SWAP/pristine/split"
cp "$SWAP/pristine/split/releases/000001/Door/R100.Sig2" "$SWAP/pristine/split/releases/000002/Door/R100.Sig2"
echo "/swap/BRELM/Door/R100.Bin then-live 1" >"$SWAP/rules"
mkdir -p "$SWAP/www"
: >"$SWAP/requests.log"
python3 "$ROOT/tools/update-server/fault_server.py" --root "$SWAP/www" --bind 127.0.0.1 --port 8081 \
  --rules "$SWAP/rules" --log "$SWAP/requests.log" --max-seconds 600 >"$SWAP/server.out" 2>&1 &
SERVER_PIDS+=($!)
for _ in $(seq 50); do grep -q READY "$SWAP/server.out" && break; sleep 0.1; done
# shellcheck disable=SC2034  # used by the table
SWAPPED="update --key $KEY_A --yes --base-url http://127.0.0.1:8081"

# --- set-ups a row names: each changes what the servers hold for that case ----
# Before every row nginx runs and serves the unsigned release (good).
setup_good() { :; }
setup_signed_a() { serve signed-a; }
setup_signed_b() { serve signed-b; }
setup_flipped() {  # image 1 with one byte changed: its sums no longer match
  python3 - "$WORK/www/BRELM/Pool/BVRABD.bin" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[100] ^= 0x01
open(sys.argv[1], "wb").write(data)
PY
}
setup_longer() { head -c 300000 /dev/zero >>"$WORK/www/BRELM/Pool/OPR0TW.bin"; }
setup_no_catalogue() { rm "$WORK/www/BRELM/Door/R100.Bin"; }
setup_tampered() {  # image 1 changed after signing, its XOR and sum bytes fixed: only the hash can tell
  "$BUILD/tests/e2e/craft/ruvo-craft" tamper RABD 100 "$WORK/www/BRELM/Pool/BVRABD.bin"
}
setup_down() {
  "$ROOT/tools/update-server/nginx-serve.sh" stop "$WORK/nginx"
  NGINX_UP=0
}
setup_key_fifo() { rm -f "$WORK/key.fifo" && mkfifo "$WORK/key.fifo"; }
setup_swap() { rm -rf "${SWAP:?}/www/swap" && cp -a "$SWAP/pristine/swap" "$SWAP/www/swap"; }
setup_split() { rm -rf "${SWAP:?}/www/split" && cp -a "$SWAP/pristine/split" "$SWAP/www/split"; }
# Statements of the unsigned release that the publisher tool would not sign
# (ruvo-craft): FORMAT SERIAL EXPIRES-IN-SECONDS|never KEYS (letters, repeats allowed).
craft_statement() {
  local format=$1 serial=$2 expires=$3 keys=$4 pems=() key
  for key in ${keys//,/ }; do pems+=("$KEYS/test-only-release-key-$key.pem"); done
  "$BUILD/tests/e2e/craft/ruvo-craft" statement "$format" "$serial" "$expires" R100 "$WORK/www/BRELM/Door" \
    "$WORK/www/BRELM/Pool" "${pems[@]}"
}
setup_expired() { craft_statement 2 3 -60 a; }
setup_serial_3() { craft_statement 2 3 86400 a; }
setup_signed_a_twice() { craft_statement 2 3 86400 a,a; }
setup_signed_a_c() { craft_statement 2 3 86400 a,c; }
setup_format1_only() { craft_statement 1 1 never a; }
setup_state_file() { mkdir -p "$XDG_STATE_HOME" && echo "not a folder" >"$WORK/state-file"; }

# --- the cases ---------------------------------------------------------------
# One row per case, columns separated by "|" ("#" lines are comments):
#   name | set-up | devices | ruvo-flash arguments | exit | output | checks | limit
# set-up: setup_<word> for each word, "-" read as "_" (see above).
# devices: "-" (none), "one [OPTIONS]" (a fresh device, dev), or
#   "bench N [OPTIONS]" (N fresh devices, bench1..N); OPTIONS go to ruvo-sim.
# arguments: shell words; $DEVICES is the --device options of the row's
#   devices; leading NAME=VALUE words go to the environment. Standard input
#   is /dev/null: no terminal.
# output: "out PATTERN" or "err PATTERN" (shell words), grep'd in that
#   stream, or "-".
# checks, for every device of the row unless noted:
#   flash=IMAGES      the flash holds exactly these images of the release
#   next-flash=IMAGES the same, of the other release (standard-next)
#   finished          the finish command was the last command
#   unfinished        no finish command
#   untouched         the information page read, nothing erased
#   image1-kept       none of image 1's blocks (16 up to 63) erased
#   ends=N            the device's line in the table ends with exit N
#   json              (the row) every output line is a JSON event of format 1
#   requests=N        (the row) N requests reached nginx
#   nginx:PATH=N      (the row) nginx was asked N times for PATH
#   swap:PATH=N       (the row) the swap server was asked N times for PATH
# limit: seconds ruvo-flash may take; "-" is 120. A number given is part of
#   the case and reported.
read -r -d '' CASES <<'TABLE' || true
# A whole update; then what the check refuses before anything is erased: an
# image with a byte changed, a body longer than the catalogue announced
# (never written past the buffer, refused like the window's "too large"
# download), a 404 page for the catalogue; and no server at all.
whole update | good | one | update $DEVICES --option 1 --yes | 0 | out 'can be unplugged' | flash=BTR122.bin,BVRABD.bin,OPR0HK.bin finished | -
refused image | flipped | one | update $DEVICES --yes | 1 | err 'error 0402 -4' | untouched | -
image longer than announced | longer | one | update $DEVICES --yes | 1 | err 'error 0402 ' | untouched | -
catalogue 404, as JSON | no-catalogue | one | update $DEVICES --yes --json | 1 | out '"event":"error".*"code":"0302 ' | json | -
server down | down | one | update $DEVICES --yes | 4 | err 'network (connect)' | - | -
# Signed releases: --key replaces the built-in keys. A statement is fetched
# and checked; image 1 changed after signing (its sums fixed) is refused
# before its blocks are erased; another key's statement, or none (nginx's 404
# page, malformed), is refused.
signed release with its key | signed-a | one | update $DEVICES --key $KEY_A --yes | 0 | - | flash=BTR122.bin,BVRABD.bin,OPR0TW.bin nginx:/BRELM/Door/R100.Sig2=1 | -
signed release, image 1 changed | signed-a tampered | one | update $DEVICES --key $KEY_A --yes | 1 | err 'error 0404+ 1' | image1-kept untouched | -
statement signed by another key | signed-b | one | update $DEVICES --key $KEY_A --yes | 1 | err 'error 0303 -2' | untouched | -
no statement | good | one | update $DEVICES --key $KEY_A --yes | 1 | err 'error 0303 -1' | untouched | -
--key of a missing file | good | - | update --device sim:$WORK/dev.sock --key $WORK/no-such-key.pem --yes | 2 | - | - | -
--key of a private key file | good | - | update --device sim:$WORK/dev.sock --key $KEYS/test-only-release-key-a.pem --yes | 2 | err 'give the .pub.pem file' | - | -
--key of a FIFO, refused at once | key-fifo | - | update --device sim:$WORK/dev.sock --key $WORK/key.fifo --yes | 2 | - | - | 10
# A device that hangs mid-write: a bounded failure, never a hang.
device hangs mid-write | good | one --hang-after 300 | update $DEVICES --yes | 1 | err 'error 0403+ 0' | unfinished | 120
# Refusals before any device traffic.
no terminal and no --yes | good | - | update --device sim:$WORK/dev.sock | 2 | - | - | -
no simulated device at the path | good | - | info --device sim:$WORK/nothing.sock | 3 | - | - | -
list without a device | good | - | list | 3 | err 'no device found' | - | -
# Redirects: followed while they stay on https, refused when they leave it
# or never end; nothing is ever asked of the plain http server.
redirect followed on https | good | one | info $DEVICES --base-url https://localhost/follow/BRELM/ | 0 | - | requests=0 | -
redirect from https to http | good | one | info $DEVICES --base-url https://localhost/plain/BRELM/ | 4 | err 'network (redirect)' | requests=0 | -
redirect loop | good | one | info $DEVICES --base-url https://localhost/loop/BRELM/ | 4 | err 'network (redirect)' | requests=0 | -
# A slow server: 2 bytes a second never trips a stall bound; each file's
# total deadline ends it (3 s, 3.2 s for the image), with exit 4 naming the
# file, before any erase. With two devices one fetches the image and the
# other waits for that fetch under the same deadline, and both end.
slow catalogue | good | one | $SLOW/catalogue/BRELM/ $DEVICES | 4 | err 'timeout.*R100.Bin' | untouched | 10
slow statement | good | one | $SLOW/statement/BRELM/ $DEVICES | 4 | err 'timeout.*R100.Sig2' | untouched | 10
slow image | good | one | $SLOW/image/BRELM/ $DEVICES | 4 | err 'timeout.*BTR122.bin' | untouched | 10
two devices, slow image | good | bench 2 | $SLOW/image/BRELM/ $DEVICES | 1 | - | ends=4 untouched | 10
# A release swapped between the catalogue request and the statement request:
# the pair is fetched once more, past the run's memo, and the update goes on
# with the release live by then, for one device and for a bench (--all: the
# first pair once through the memo, then each device's own second pair, the
# image once for both). A pair that still disagrees is refused.
release swapped | swap | one | $SWAPPED/swap/BRELM/ $DEVICES | 0 | - | next-flash=BTR123.bin,BVRABD.bin,OPR0TW.bin swap:/swap/BRELM/Door/R100.Bin=2 swap:/swap/BRELM/Door/R100.Sig2=2 | -
--all, release swapped | swap | bench 2 | $SWAPPED/swap/BRELM/ --all $DEVICES | 0 | - | next-flash=BTR123.bin,BVRABD.bin,OPR0TW.bin swap:/swap/BRELM/Door/R100.Bin=3 swap:/swap/BRELM/Door/R100.Sig2=3 swap:/swap/BRELM/Pool/BTR123.bin=1 | -
two releases every time | split | one | $SWAPPED/split/BRELM/ $DEVICES | 1 | err 'error 0303 -4' | untouched swap:/split/BRELM/Door/R100.Bin=2 swap:/split/BRELM/Door/R100.Sig2=2 | -
# Statement format 2: an expired statement; a base image older than the
# device's (version 23), refused on a client that never saw a newer release;
# a server with only the first format, never read; two of three keys needed
# (one key, the same key twice, two distinct keys); a record of accepted
# releases that cannot be read.
expired statement | expired | one | update $DEVICES --key $KEY_A --yes | 1 | err 'error 0303 -6' | untouched | -
base image older than the device's | serial-3 | one --info 23030A1F414243010000000052313030 | update $DEVICES --key $KEY_A --yes | 1 | err 'error 0303 -8' | untouched | -
only the first statement format | format1-only | one | update $DEVICES --key $KEY_A --yes | 1 | err 'error 0303 -1' | untouched nginx:/BRELM/Door/R100.Sig2=1 nginx:/BRELM/Door/R100.Sig=0 | -
threshold 2, one key | serial-3 | one | update $DEVICES $KEYS_ABC --threshold 2 --yes | 1 | err 'error 0303 -2' | untouched | -
threshold 2, the same key twice | signed-a-twice | one | update $DEVICES $KEYS_ABC --threshold 2 --yes | 1 | err 'error 0303 -2' | untouched | -
threshold 2, two keys | signed-a-c | one | update $DEVICES $KEYS_ABC --threshold 2 --option 1 --yes | 0 | - | flash=BTR122.bin,BVRABD.bin,OPR0HK.bin finished | -
record of accepted releases unreadable | serial-3 state-file | one | update $DEVICES --key $KEY_A --state $WORK/state-file --yes | 1 | err 'error 0304 -1' | untouched | -
TABLE

trim() { local text=$1; text=${text#"${text%%[! ]*}"}; printf '%s' "${text%"${text##*[! ]}"}"; }

# One check word of a row, for the row's devices (in $devices).
row_check() {  # NAME CHECK NGINX-FROM SWAP-FROM
  local name=$1 check=$2 device label images count
  case $check in
    json)
      if python3 -c 'import json,sys
for line in open(sys.argv[1]):
    event = json.loads(line)
    assert event["format"] == 1 and "event" in event and "device" in event' "$WORK/out"; then
        pass "$name: every JSON line parses and carries format 1"
      else fail "$name: JSON lines"; fi
      return ;;
    requests=*)
      count=$(($(wc -l <"$WORK/nginx/requests.log") - $3 + 1))
      if [ "$count" = "${check#*=}" ]; then pass "$name: $count requests over http"
      else fail "$name: $count requests over http, wanted ${check#*=}"; fi
      return ;;
    nginx:* | swap:*)
      local log=$WORK/nginx/requests.log from=$3 path=${check#*:}
      [ "${check%%:*}" = swap ] && log=$SWAP/requests.log from=$4
      count=$(requests_since "$log" "$from" "${path%=*}")
      if [ "$count" = "${path##*=}" ]; then pass "$name: ${path%=*} fetched $count time(s)"
      else fail "$name: ${path%=*} fetched $count time(s), wanted ${path##*=}"; tail -n "+$from" "$log" | sed 's/^/     /'; fi
      return ;;
  esac
  for device in $devices; do
    label=$name
    [ "$devices" = dev ] || label="$name: $device"
    # shellcheck disable=SC2086  # the images, one word each
    case $check in
      flash=*) images=${check#*=}; check_flash "$label" "$WORK/$device.bin" standard ${images//,/ } ;;
      next-flash=*) images=${check#*=}; check_flash "$label" "$WORK/$device.bin" standard-next ${images//,/ } ;;
      finished) finished "$label" "$WORK/$device.log" ;;
      unfinished) unfinished "$label" "$WORK/$device.log" ;;
      untouched) untouched "$label" "$WORK/$device.log" ;;
      image1-kept)
        if grep -Eq '^ERASE (1[6-9]|[2-5][0-9]|6[0-3])$' "$WORK/$device.log"; then fail "$label: image 1's blocks erased"
        else pass "$label: none of image 1's blocks erased"; fi ;;
      ends=*) expect_grep "$label ends with exit ${check#*=}" "$device.sock .*exit ${check#*=}" "$WORK/out" ;;
      *) fail "$name: unknown check $check" ;;
    esac
  done
}

run_case() {  # NAME SETUP DEVICES ARGUMENTS EXIT OUTPUT CHECKS LIMIT
  local name=$1 setup=$2 device_spec=$3 arguments=$4 wanted=$5 output=$6 checks=$7 limit=$8
  local devices="" word words=() environment=() nginx_from swap_from started code seconds
  [ "$NGINX_UP" = 1 ] || start_nginx
  serve good
  rm -rf "$XDG_STATE_HOME"
  for word in $setup; do "setup_${word//-/_}"; done

  read -r -a words <<<"$device_spec"
  case ${words[0]} in
    -) ;;
    one) devices=dev ;;
    bench) devices=$(seq -f 'bench%g' -s ' ' "${words[1]}"); words=("${words[@]:1}") ;;
    *) fail "$name: unknown devices $device_spec"; return ;;
  esac
  if [ -n "$devices" ]; then
    # shellcheck disable=SC2086
    fresh_devices $devices
    start_sims "$devices" "${words[@]:1}"
  fi
  # shellcheck disable=SC2034,SC2086  # DEVICES is used by the table's arguments
  DEVICES=$(devices_args $devices)
  eval "words=($arguments)"
  while [[ ${words[0]} == *=* ]]; do environment+=("${words[0]}"); words=("${words[@]:1}"); done

  nginx_from=$(($(wc -l <"$WORK/nginx/requests.log" 2>/dev/null || echo 0) + 1))
  swap_from=$(($(wc -l <"$SWAP/requests.log") + 1))
  started=$(date +%s%N)
  set +e
  env "${environment[@]}" timeout "${limit/-/120}" "$FLASH" "${words[@]}" </dev/null >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  seconds=$((($(date +%s%N) - started) / 1000000000))
  stop_sims

  if [ "$code" = 124 ]; then fail "$name: still running after ${limit/-/120} s"
  else
    expect_exit "$name" "$wanted" "$code"
    [ "$limit" = - ] || pass "$name: ended within $limit s (after ${seconds} s)"
  fi
  if [ "$output" != - ]; then
    eval "words=($output)"
    expect_grep "$name: std${words[0]} has '${words[1]}'" "${words[1]}" "$WORK/${words[0]}"
  fi
  if [ "$checks" != - ]; then
    for word in $checks; do row_check "$name" "$word" "$nginx_from" "$swap_from"; done
  fi
  return 0
}

while IFS="|" read -r -u 9 name setup devices arguments wanted output checks limit; do
  [[ $name == \#* ]] && continue
  run_case "$(trim "$name")" "$(trim "$setup")" "$(trim "$devices")" "$(trim "$arguments")" "$(trim "$wanted")" \
    "$(trim "$output")" "$(trim "$checks")" "$(trim "$limit")"
done 9<<<"$CASES"

# --- cases that do not fit a row ----------------------------------------------
[ "$NGINX_UP" = 1 ] || start_nginx
serve good

# Runs ruvo-flash update with ARGS in the background (JSON events to out),
# sends it SIGNALS Ctrl-Cs once its events match PATTERN, and leaves its exit
# code in `code` with the simulators stopped.
interrupt_when() {  # PATTERN SIGNALS ARGS...
  local pattern=$1 signals=$2
  shift 2
  "$FLASH" update "$@" --yes --json >"$WORK/out" 2>"$WORK/err" &
  FLASH_PID=$!
  for _ in $(seq 200); do
    grep -q "$pattern" "$WORK/out" && break
    sleep 0.05
  done
  for _ in $(seq "$signals"); do kill -INT "$FLASH_PID"; sleep 0.05; done
  set +e
  wait "$FLASH_PID"
  code=$?
  set -e
  FLASH_PID=
  stop_sims
}

# Ctrl-C (SIGNALS times) during the second image, then a re-run of the same
# device that completes. Paced like a real device, so the second image takes
# a while.
interrupt_during_second_image() {  # NAME SIGNALS MESSAGE
  fresh_devices dev
  start_sims dev --report-us 2000 --erase-ms 5
  interrupt_when '"event":"progress","device":"[^"]*","image":"BVRABD.bin".*"phase":"write","done":1' "$2" \
    --device "sim:$WORK/dev.sock"
  expect_exit "$1" 130 "$code"
  expect_grep "$1: the message names the image" "$3" "$WORK/out"
  expect_grep "$1: running again completes" "running the update again completes the device" "$WORK/out"
  unfinished "$1" "$WORK/dev.log"

  start_sims dev
  set +e
  timeout 120 "$FLASH" update --device "sim:$WORK/dev.sock" --yes </dev/null >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  stop_sims
  expect_exit "$1: re-run" 0 "$code"
  check_flash "$1: re-run" "$WORK/dev.bin" standard BTR122.bin BVRABD.bin OPR0TW.bin
}
interrupt_during_second_image "one Ctrl-C" 1 "BVRABD.bin is complete, OPR0TW.bin not programmed"
interrupt_during_second_image "two Ctrl-C" 2 "image BVRABD.bin (2 of 3) was cut short"

# Four devices at once, paced like real ones, the third unplugged inside the
# first image's writing: the others complete, and each image is fetched once.
name="four devices, one failing"
fresh_devices bench1 bench2 bench3 bench4
SIM_EXTRA[bench3]="--unplug-after 300"
start_sims "bench1 bench2 bench3 bench4" --report-us 1000 --erase-ms 5
fetched_from=$(($(wc -l <"$WORK/nginx/requests.log") + 1))
set +e
# shellcheck disable=SC2046
timeout 120 "$FLASH" update $(devices_args bench1 bench2 bench3 bench4) --yes --log "$WORK/bench.log" \
  </dev/null >"$WORK/out" 2>"$WORK/err"
code=$?
set -e
stop_sims
expect_exit "$name" 1 "$code"
for n in 1 2 4; do check_flash "$name: device $n" "$WORK/bench$n.bin" standard BTR122.bin BVRABD.bin OPR0TW.bin; done
expect_grep "$name: the failing device is in the table with its code" "bench3.sock .*exit 1 0403+ 0" "$WORK/out"
if [ "$(wc -l <"$WORK/bench.log")" = 4 ]; then pass "$name: the log holds 4 lines"
else fail "$name: log lines: $(wc -l <"$WORK/bench.log")"; fi
fetched=$(requests_since "$WORK/nginx/requests.log" "$fetched_from" /BRELM/Pool/BTR122.bin)
if [ "$fetched" = 1 ]; then pass "$name: each image fetched once for all four"
else fail "$name: BTR122.bin fetched $fetched times"; fi

# ruvo-flash update of the device "dev" checked with key a; its exit code in `code`.
update_dev_signed() {
  start_sims dev
  set +e
  timeout 120 "$FLASH" update --device "sim:$WORK/dev.sock" --key "$KEY_A" --yes </dev/null >"$WORK/out" 2>"$WORK/err"
  code=$?
  set -e
  stop_sims
}

# A replay of an older signed release after a newer one was accepted: the
# first run accepts serial 6 and remembers it; serial 3 served next is
# refused before anything is erased, and the record stays at 6.
name="replay of an older release"
rm -rf "$XDG_STATE_HOME"
for step in "6 0" "3 1"; do
  read -r serial wanted <<<"$step"
  serve good
  craft_statement 2 "$serial" 86400 a
  fresh_devices dev
  update_dev_signed
  expect_exit "$name: serial $serial" "$wanted" "$code"
done
expect_grep "$name: refused as a replay" "error 0303 -7" "$WORK/err"
untouched "$name: serial 3" "$WORK/dev.log"
record=$(cat "$XDG_STATE_HOME"/ruvo-flash/R100.* 2>/dev/null)
if [ "${record%% *}" = 6 ]; then pass "$name: the record holds serial 6"
else fail "$name: the record holds '$record'"; fi

# A publisher's year: the standard release, refreshed, the next release, then
# a rollback to the standard release's content. Each is signed as a higher
# serial, each is accepted by the client that accepted the one before, and
# its record rises every time.
name="refresh and rollback"
rm -rf "$XDG_STATE_HOME" "$WORK/www"
fresh_devices dev
serial=0
for action in publish:standard refresh publish:standard-next rollback; do
  sign=(--sign "$KEYS/test-only-release-key-a.pem" --expires 30)
  case $action in
    publish:*) "$PACK" publish "$WORK/${action#publish:}/manifest.txt" "$WORK/www" "${sign[@]}" ;;
    *) "$PACK" "$action" "$WORK/www" "${sign[@]}" ;;
  esac >>"$WORK/publish.out"
  serial=$((serial + 1))
  update_dev_signed
  expect_exit "$name: after ${action/:/ }" 0 "$code"
  record=$(cat "$XDG_STATE_HOME"/ruvo-flash/R100.* 2>/dev/null)
  if [ "${record%% *}" = "$serial" ]; then pass "$name: the record rose to serial $serial"
  else fail "$name: the record holds '$record', wanted serial $serial"; fi
done
check_flash "$name: the rolled-back release" "$WORK/dev.bin" standard BTR122.bin BVRABD.bin OPR0TW.bin
serve good

# Ctrl-C with two devices: every device finishes the image it is writing.
name="Ctrl-C with two devices"
fresh_devices bench1 bench2
start_sims "bench1 bench2" --report-us 2000 --erase-ms 5
# shellcheck disable=SC2046
interrupt_when '"event":"progress".*"image":"BTR122.bin".*"phase":"write","done":1' 1 $(devices_args bench1 bench2)
expect_exit "$name" 130 "$code"
if [ "$(grep -c '"event":"verified".*"image":"BTR122.bin".*"mismatches":0' "$WORK/out")" = 2 ] &&
  [ "$(grep -c 'BTR122.bin is complete, BVRABD.bin, OPR0TW.bin not programmed' "$WORK/out")" = 2 ]; then
  pass "$name: each finished its current image and stopped"
else fail "$name"; sed 's/^/     /' "$WORK/out" | grep -v progress; fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
