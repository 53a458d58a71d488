#!/usr/bin/env bash
# One entry point for developers and CI.
#   ./dev.sh demo    set up, build, and run the demo update against the
#                    simulated device and the local update server
#   ./dev.sh test    set up, build, and run every test
#   ./dev.sh build   set up and build only
set -euo pipefail
RUVO_ROOT=$(cd "$(dirname "$0")" && pwd)
export RUVO_ROOT
cd "$RUVO_ROOT"

JOBS=${RUVO_JOBS:-2}

setup() {
  scripts/install-packages.sh
}

build_preset() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$JOBS"
}

build_all() {
  build_preset native
  build_preset windows
}

run_tests() {
  build_preset sanitize
  scripts/run-tests.sh
}

case "${1:-}" in
  demo)  setup; build_all; exec scripts/demo.sh ;;
  test)  setup; build_all; run_tests ;;
  build) setup; build_all ;;
  *)     sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
