#!/usr/bin/env bash
# Benchmark: ruvo-flash updating 4 simulated devices at once against 1,
# side by side in one run, every device paced like a real one (1 ms per
# report, 5 ms per erase). Prints wall times, their ratio (the goal is 4
# devices in at most 1.10 times the time of one) and the host CPU per
# device. Never passes or fails on time.
#   bench-multi.sh [NATIVE_BUILD_DIR] [ROUNDS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/native}" && pwd)
ROUNDS=${2:-2}

# Always a run of its own (scripts/session.sh), also inside another run:
# port 80 and the simulators' sockets are then its alone.
if [ "${RUVO_BENCH_INNER:-}" != 1 ]; then
  RUVO_BENCH_INNER=1 exec "$ROOT/scripts/session.sh" --no-wine "$0" "$BUILD" "$ROUNDS"
fi

WORK=$(mktemp -d /tmp/ruvo-bench-multi.XXXXXX)
SIM_PIDS=()
# shellcheck source=tests/e2e/cli/end-run.sh
source "$ROOT/tests/e2e/cli/end-run.sh"

cp -r "$HERE/release" "$WORK/release"
python3 "$ROOT/tools/demo/make_firmware.py" "$WORK/release/firmware.txt" "$WORK/release"
mkdir -p "$WORK/www"
"$BUILD/tools/ruvo-pack/ruvo-pack" publish "$WORK/release/manifest.txt" "$WORK/www" >/dev/null
"$ROOT/tools/update-server/nginx-serve.sh" start "$WORK/www" "$WORK/nginx" >/dev/null || exit 1

# Devices stay up across rounds; each update rewrites the same images.
for n in 1 2 3 4; do
  mkfifo "$WORK/sim$n.in"
  eval "exec $((n + 3))<>\"\$WORK/sim$n.in\""
  "$BUILD/tools/simulator/ruvo-sim" --socket "$WORK/s$n.sock" --info 20030A1F414243010000000052313030 \
    --report-us 1000 --erase-ms 5 <"$WORK/sim$n.in" >"$WORK/sim$n.out" 2>&1 &
  SIM_PIDS+=($!)
done
for n in 1 2 3 4; do
  for _ in $(seq 50); do grep -q '^ruvo-sim ready' "$WORK/sim$n.out" && break; sleep 0.05; done
done

run() {  # DEVICES... ; prints "wall user sys"
  local args=()
  for n in "$@"; do args+=(--device "sim:$WORK/s$n.sock"); done
  /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$BUILD/cli/ruvo-flash" update "${args[@]}" --yes \
    >"$WORK/out" 2>"$WORK/err" || { echo "update failed:" >&2; cat "$WORK/err" >&2; exit 1; }
  cat "$WORK/time"
}

echo "round  devices  wall_s  cpu_s  cpu_per_device_s"
one=0 four=0 cpu1=0 cpu4=0
for round in $(seq "$ROUNDS"); do
  # The same device named twice counts once but keeps the several-device
  # path, so both sides run the same code.
  read -r wall user sys < <(run 1 1 | tail -n1)
  cpu=$(echo "$user + $sys" | bc)
  printf "%5d  %7d  %6.2f  %5.2f  %16.3f\n" "$round" 1 "$wall" "$cpu" "$cpu"
  one=$(echo "$one + $wall" | bc); cpu1=$(echo "$cpu1 + $cpu" | bc)
  read -r wall user sys < <(run 1 2 3 4 | tail -n1)
  cpu=$(echo "$user + $sys" | bc)
  printf "%5d  %7d  %6.2f  %5.2f  %16.3f\n" "$round" 4 "$wall" "$cpu" "$(echo "scale=3; $cpu / 4" | bc)"
  four=$(echo "$four + $wall" | bc); cpu4=$(echo "$cpu4 + $cpu" | bc)
done
echo "time ratio, 4 devices / 1 device: $(echo "scale=3; $four / $one" | bc) (goal <= 1.10)"
echo "host CPU per device: 1 device $(echo "scale=3; $cpu1 / $ROUNDS" | bc) s, 4 devices $(echo "scale=3; $cpu4 / $ROUNDS / 4" | bc) s"
