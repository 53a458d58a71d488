#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures. Nothing here
# passes or fails on time; the script fails only when a benchmark could not
# run or found its results wrong (a body that is not the server's data, an
# image that did not reach the simulated device, a counter that miscounts).
#
#   scripts/bench.sh                 every section
#   scripts/bench.sh signed alloc    only these, in the order below
#
# Sections. Native: `check`, the Google Benchmark programs in tests/bench
# (package check). Windows, under Wine: `download`, download_bench
# (DownloadFile next to a bare WinINet loop, against the loopback test
# server); `program`, program_bench (ProgramImage on the paced and the
# unpaced in-process simulator); `alloc`, alloc_bench (heap calls made by
# the transfers); `signed`, update_bench (the paced update of a three-image
# release, unsigned and signed in turns, and CNG's SHA-256 throughput).
# `multi`: ruvo-flash on four paced devices against one. `hid`, as root: the
# real HID stacks (tests/bench/hid-stacks.sh), programming through Wine's own
# HID stack and ruvo-flash through hidapi, each against the bus bound beside
# our test transport. See docs/performance.md for what the figures mean.
#
# Environment (all optional):
#   RUVO_NATIVE_BUILD   native build folder   (default build/native)
#   RUVO_WINDOWS_BUILD  windows build folder  (default build/windows)
#   RUVO_BENCH_PORT     loopback server port  (default 18090)
#   RUVO_JOBS           build jobs            (default 2)
#
# The benchmarks run in a run of their own (scripts/session.sh): private
# network, Wine prefix and display.
set -euo pipefail
RUVO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
export RUVO_ROOT
cd "$RUVO_ROOT"
if [ "${RUVO_SESSION:-}" != 1 ]; then
  exec scripts/session.sh "$0" "$@"
fi

SECTIONS="check download program alloc signed multi hid"
for section in "$@"; do
  case " $SECTIONS " in
    *" $section "*) ;;
    *) echo "bench.sh: no section '$section' (sections: $SECTIONS)" >&2; exit 2 ;;
  esac
done
ASKED=" ${*:-$SECTIONS} "
# True when any of the named sections runs.
want() {
  local section
  for section in "$@"; do
    case "$ASKED" in *" $section "*) return 0 ;; esac
  done
  return 1
}

JOBS=${RUVO_JOBS:-2}
NATIVE_BUILD=${RUVO_NATIVE_BUILD:-$RUVO_ROOT/build/native}
WINDOWS_BUILD=${RUVO_WINDOWS_BUILD:-$RUVO_ROOT/build/windows}
PORT=${RUVO_BENCH_PORT:-18090}
BODY_BYTES=16777216
# A bound on each Windows program, so a hang cannot hold the run for good.
PROGRAM_LIMIT=900s

# The presets' settings, in the folder asked for; only the benchmark folders'
# targets (and what they need) are built.
build() {
  local preset=$1 dir=$2 target=$3
  cmake --preset "$preset" -B "$dir" >/dev/null
  cmake --build "$dir" -j "$JOBS" --target "$target"
}

echo "== building the benchmarks"
if want check; then build native "$NATIVE_BUILD" tests/bench/all; fi
if want download program alloc signed hid; then build windows "$WINDOWS_BUILD" tests/bench/win/all; fi

if want check; then
  echo
  echo "== package check (native, Google Benchmark; medians of 5 repetitions)"
  for program in "$NATIVE_BUILD"/tests/bench/*_bench; do
    "$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>&1 |
      grep -E '^(Benchmark|-+$|BM_.*_median)'
  done
fi

# Everything below runs under Wine and talks to a loopback server; all of it
# is stopped on the way out, also on failure.
work=$RUVO_RUN_DIR/bench
mkdir -p "$work"
server_pid=
nginx_work=
cleanup() {
  if [ -n "$nginx_work" ]; then
    tools/update-server/nginx-serve.sh stop "$nginx_work" || true
    nginx_work=
  fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
trap cleanup EXIT

bin=$WINDOWS_BUILD/bin

# Median of `curl -s -o /dev/null` over 9 runs, in ms.
curl_median() {
  for _ in $(seq 9); do
    curl -s -o /dev/null -w '%{time_total}\n' "$1"
  done | sort -n | awk '{ t[NR] = $1 } END { printf "%.1f ms\n", t[int((NR + 1) / 2)] * 1000 }'
}

if want download; then
  mkdir -p "$work/www"
  echo "/sixteen-mib.bin sized $BODY_BYTES" >"$work/rules"
  python3 tools/update-server/fault_server.py --root "$work/www" --bind 127.0.0.1 --port "$PORT" \
    --rules "$work/rules" --log "$work/requests.log" --max-seconds 1800 \
    >"$work/server.out" 2>&1 </dev/null &
  server_pid=$!
  for _ in $(seq 50); do
    grep -q READY "$work/server.out" 2>/dev/null && break
    sleep 0.1
  done
  if ! grep -q READY "$work/server.out"; then
    echo "the loopback server did not start on 127.0.0.1:$PORT" >&2
    cat "$work/server.out" >&2
    exit 1
  fi
  url=http://127.0.0.1:$PORT/sixteen-mib.bin

  echo
  echo "== download (Windows, under Wine)"
  timeout "$PROGRAM_LIMIT" wine "$bin/download_bench.exe" "$url" --bytes "$BODY_BYTES"
  echo "  for reference, curl -s -o /dev/null on the same URL: $(curl_median "$url") (median of 9)"
fi

# The device programs load the test-only hid/setupapi next to them and point
# them at their own in-process simulator.
device_program() {
  WINEDLLOVERRIDES="hid,setupapi=n" timeout "$PROGRAM_LIMIT" wine "$bin/$1.exe" "${@:2}"
}

if want program; then
  echo
  echo "== image programming (Windows, under Wine, in-process simulated device)"
  device_program program_bench --unpaced
  echo
  device_program program_bench --paced --report-us 1000 --erase-ms 20
fi

if want alloc; then
  echo
  echo "== allocations during transfers (Windows, under Wine)"
  device_program alloc_bench
fi

if want signed; then
  echo
  echo "== signed releases (Windows, under Wine, paced in-process simulated device)"
  # The update thread fetches from the program's base URL, port 80 of this
  # run's own loopback; nginx serves the images the benchmark writes.
  mkdir -p "$work/update/www/BRELM/Pool"
  nginx_work=$work/update/nginx
  tools/update-server/nginx-serve.sh start "$work/update/www" "$nginx_work" >/dev/null
  pool=$work/update/www/BRELM/Pool
  pool_windows="Z:${pool//\//\\}"
  # Unsigned and signed in turns, so that drift of the machine hits both alike.
  for _ in 1 2 3 4 5; do
    device_program update_bench "$pool_windows" --reps 1 --report-us 1000 --erase-ms 20
    device_program update_bench_signed "$pool_windows" --reps 1 --report-us 1000 --erase-ms 20
  done | tee "$work/update/runs.txt"
  # The middle of the five times each build printed ("... median 9.876 s"),
  # and the middle of the five ratios of a turn's signed and unsigned run.
  middle() { sort -n | sed -n 3p; }
  times() { grep "^$1 " "$work/update/runs.txt" | awk '{ print $(NF - 1) }'; }
  unsigned=$(times unsigned | middle) signed=$(times signed | middle)
  turn=$(paste <(times unsigned) <(times signed) | awk '{ printf "%.4f\n", $2 / $1 }' | middle)
  awk -v u="$unsigned" -v s="$signed" -v t="$turn" 'BEGIN {
    printf "  median unsigned %.3f s, signed %.3f s: ratio signed / unsigned %.4f (median of the turns: %s)\n", u, s, s / u, t }'
  device_program update_bench_signed --sha256
fi

if want multi; then
  echo
  echo "== ruvo-flash: four paced devices at once against one (native, socket simulators)"
  build native "$NATIVE_BUILD" ruvo-flash
  build native "$NATIVE_BUILD" ruvo-sim
  tests/bench/cli/bench-multi.sh "$NATIVE_BUILD"
fi

if want hid; then
  echo
  echo "== the real HID stacks against the bus bound (Wine's own, hidapi's; emulated hidraw nodes)"
  if [ "$(id -u)" -eq 0 ]; then
    build native "$NATIVE_BUILD" ruvo-pack
    tests/bench/hid-stacks.sh "$NATIVE_BUILD" "$WINDOWS_BUILD"
  else
    echo "  skipped: emulated hidraw nodes need root"
  fi
fi
