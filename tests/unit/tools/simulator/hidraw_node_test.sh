#!/usr/bin/env bash
# The emulated hidraw node against what the kernel's hidraw does for its
# openers (hidraw_node_test.py), in a run with a /sys and /dev of its own.
#   hidraw_node_test.sh NATIVE_BUILD_DIR
# Exits 77 (skipped) where that run cannot be made (not root).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/native}" && pwd)
if [ "${RUVO_HIDRAW_TEST_INNER:-}" != 1 ]; then
  RUVO_HIDRAW_TEST_INNER=1 exec "$ROOT/scripts/session.sh" --hidraw --no-wine "$0" "$BUILD"
fi
exec python3 "$HERE/hidraw_node_test.py" "$BUILD/tools/simulator/ruvo-sim" "$RUVO_RUN_DIR"
