#!/usr/bin/env bash
# Every test suite, in one run of its own (scripts/session.sh): the native
# tests, the same under ASan/UBSan with short fuzz runs, the Windows tests
# under Wine, the console updater under Wine, the end-to-end scenarios and
# the packages (lintian, each .deb installed into a throwaway system, the
# Windows zip). Expects the native, sanitize and windows presets and
# build/packages built (./dev.sh test does that first).
set -uo pipefail
RUVO_ROOT=${RUVO_ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
export RUVO_ROOT
# As root the run also has the real HID stacks (session.sh --hidraw): the
# scenarios and ruvo-flash then run on Wine's own HID stack and hidapi too.
if [ "${RUVO_SESSION:-}" != 1 ]; then
  hidraw=()
  [ "$(id -u)" -eq 0 ] && hidraw=(--hidraw)
  exec "$RUVO_ROOT/scripts/session.sh" "${hidraw[@]}" "$0" "$@"
fi
cd "$RUVO_ROOT"
JOBS=${RUVO_JOBS:-2}

failed=0
echo "== native tests (host gcc)"
ctest --preset native -j "$JOBS" || failed=1
echo "== native tests under ASan/UBSan, short fuzz runs (clang)"
ctest --preset sanitize -j "$JOBS" || failed=1
echo "== Windows tests under Wine"
ctest --preset windows || failed=1
echo "== ruvo-flash.exe under Wine against the pipe simulator"
tests/e2e/cli/run-cli-wine.sh || failed=1
echo "== end-to-end scenarios on RUVO.exe"
tests/e2e/run-scenarios.sh || failed=1
echo "== the packages: lintian, installed into a throwaway system, the Windows zip"
tests/packaging/install_test.sh build/packages build/native || failed=1

if [ "$failed" -ne 0 ]; then
  echo "Some tests failed." >&2
  exit 1
fi
echo "All test suites passed."
