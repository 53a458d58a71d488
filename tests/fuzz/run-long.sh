#!/bin/sh
# Long fuzzing run: each target in turn (one at a time, the machine is shared)
# over a scratch copy of its seeds, then a table of executions and findings.
#   tests/fuzz/run-long.sh [seconds-per-target] [build-dir] [target ...]
# Defaults: 300 seconds, build/sanitize (configured with RUVO_FUZZ=ON), all targets.
# Exits 1 when any target left a finding (crash, leak, timeout, out of memory);
# the findings stay under <build-dir>/fuzz-long/<target>-findings/.
set -eu

seconds=${1:-300}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-$here/../../build/sanitize}
[ $# -ge 2 ] && shift 2 || shift $#
targets=${*:-"fuzz_check_catalogue fuzz_check_image fuzz_identify"}

work=$build/fuzz-long
mkdir -p "$work"
summary=$work/summary.txt
printf '%-22s %12s %10s %8s %9s\n' target executions exec/s corpus findings > "$summary"
status=0

for target in $targets; do
    binary=$build/tests/fuzz/$target
    if [ ! -x "$binary" ]; then
        echo "run-long: $binary is missing; build it first (cmake --build $build --target $target)" >&2
        exit 2
    fi
    corpus=$work/$target
    findings=$work/$target-findings
    rm -rf "$corpus" "$findings"
    mkdir -p "$corpus" "$findings"
    cp "$here/corpus/$target"/* "$corpus"/
    log=$work/$target.log
    echo "run-long: $target for ${seconds}s (log: $log)" >&2
    # A finding ends the target's run early with a non-zero status; go on with the next.
    "$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings"/ "$corpus" \
        > "$log" 2>&1 || true
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    found=$(find "$findings" -type f | wc -l)
    units=$(find "$corpus" -type f | wc -l)
    printf '%-22s %12s %10s %8s %9s\n' "$target" "${execs:-?}" "${rate:-?}" "$units" "$found" >> "$summary"
    [ "$found" -eq 0 ] || status=1
done

cat "$summary"
exit $status
