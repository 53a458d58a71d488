#!/usr/bin/env bash
# What a hostile server and device record carry reaches the user escaped:
# the real ruvo-flash against the simulator on a local socket and a small
# HTTP server on a free loopback port that serves a crafted catalogue (names
# and descriptions with escape sequences and C1 controls). The plain output
# holds no control a terminal acts on, --json parses as UTF-8 with every
# text intact, and a model id outside the id rule is never asked for.
# Needs no root and no network namespace.
#   terminal-text.sh RUVO_FLASH RUVO_SIM RUVO_CRAFT
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
FLASH=$1
SIM=$2
CRAFT=$3
WORK=$(mktemp -d /tmp/ruvo-terminal-text.XXXXXX)
SERVER_PID=
SIM_PIDS=()
# shellcheck source=tests/e2e/cli/end-run.sh
source "$HERE/end-run.sh"

# shellcheck source=tests/e2e/cli/checks.sh
source "$HERE/checks.sh"

# --- the server: a crafted catalogue, every request logged -----------------
# Descriptions widen byte by byte, so \x9b is U+009B (CSI) in the option line.
mkdir -p "$WORK/www/BRELM/Door"
"$CRAFT" catalogue R100 2 "$WORK/www/BRELM/Door/R100.Bin" \
  BTR122 100 base $'BV\x1b[31m' 100 second OPR0TW 100 $'\x1b[2J\x9b east' >/dev/null
python3 - "$WORK/www" "$WORK/port" "$WORK/requests" <<'PY' &
import functools, http.server, sys
root, port_file, log = sys.argv[1:]
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        with open(log, "a") as f:
            f.write(self.path + "\n")
server = http.server.HTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=root))
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os; os.rename(port_file + ".tmp", port_file)
server.serve_forever()
PY
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
BASE=http://127.0.0.1:$(cat "$WORK/port")/BRELM/
touch "$WORK/requests"

# --- the devices: second version 9B C2 85 (a C1 byte, then NEL as UTF-8);
# models R100, ESC [ 2 J, and R1?a (a query, which any client would send) --
start_sim() {  # NAME INFO_HEX FD
  mkfifo "$WORK/$1.in"
  eval "exec $3<>\"\$WORK/\$1.in\""
  "$SIM" --socket "$WORK/$1.sock" --info "$2" <&"$3" >"$WORK/$1.out" 2>&1 &
  SIM_PIDS+=($!)
  for _ in $(seq 50); do
    grep -q '^ruvo-sim ready' "$WORK/$1.out" && return 0
    sleep 0.05
  done
  echo "ruvo-sim did not start" >&2
  exit 1
}
start_sim good 20030A1F9BC285010000000052313030 3
start_sim bad 20030A1F9BC28501000000001B5B324A 4
start_sim query 20030A1F9BC285010000000052313F61 5

run() {  # NAME DEVICE ARGS...; exit code in $code
  local name=$1 device=$2
  shift 2
  set +e
  "$FLASH" info --device "sim:$WORK/$device.sock" --base-url "$BASE" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  code=$?
  set -e
}

# Checks the output files with Python's strict decoders. Plain: valid UTF-8
# without C0 (but the line break), DEL or C1, and the texts shown escaped.
# JSON: each line UTF-8 and JSON, the texts intact after decoding.
check() {  # NAME MODE
  if python3 - "$WORK/$1" "$2" >"$WORK/$1.check" 2>&1 <<'PY'; then pass "$1: $2 output as it should be"; else fail "$1: $2 output"; sed 's/^/     /' "$WORK/$1.check"; fi
import json, sys
base, mode = sys.argv[1:]
out = open(base + ".out", "rb").read().decode("utf-8", "strict")
err = open(base + ".err", "rb").read().decode("utf-8", "strict")
def no_controls(text):
    bad = [hex(ord(c)) for c in text if (ord(c) < 0x20 and c != "\n") or 0x7F <= ord(c) <= 0x9F]
    assert not bad, f"controls {bad} in {text!r}"
def has(text, part):
    assert part in text, f"{part!r} not in {text!r}"
if mode == "plain":
    no_controls(out + err)
    has(out, "second version \\x9B\\u0085, updater level 1, model R100")
    has(out, "option 0: 20TW  [ \\x1B[2J\\u009B east ]")
    has(out, "base images needed: BTR122, BV\\x1B[31m")
elif mode == "plain-bad-model":
    no_controls(out + err)
    has(out, "model \\x1B[2J")
    has(err, 'model id "\\x1B[2J" is not 4 characters')
else:
    assert err == "", err
    no_controls(out)
    events = {}
    for line in out.splitlines():
        event = json.loads(line)
        events[event["event"]] = event
    assert events["device"]["second_version"] == "\x9b\x85", events["device"]
    if mode == "json":
        assert events["offer"]["options"] == [" 20TW  [ \x1b[2J\x9b east ]"], events["offer"]
        assert events["offer"]["bases_needed"] == ["BTR122", "BV\x1b[31m"], events["offer"]
    else:
        assert events["device"]["model"] == "\x1b[2J", events["device"]
        assert events["error"]["exit"] == 1, events["error"]
        assert 'model id "\x1b[2J"' in events["error"]["text"], events["error"]
PY
}

run plain good
expect_exit "info, plain" 0 "$code"
check plain plain
run json good --json
expect_exit "info, --json" 0 "$code"
check json json

run plain-bad bad
expect_exit "model id outside the rule, plain" 1 "$code"
check plain-bad plain-bad-model
run json-bad bad --json
expect_exit "model id outside the rule, --json" 1 "$code"
check json-bad json-bad-model
: >"$WORK/requests"
run query query
expect_exit "model id R1?a" 1 "$code"
expect_grep "model id R1?a refused" 'model id "R1?a" is not 4 characters' "$WORK/query.err"
if [ ! -s "$WORK/requests" ]; then pass "a model id outside the rule asks the server nothing"
else fail "the server was asked: $(tr '\n' ' ' <"$WORK/requests")"; fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
