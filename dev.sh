#!/usr/bin/env bash
# One entry point for developers and CI.
#   ./dev.sh demo    set up, build, and run the demo update against the
#                    simulated device and the local update server
#   ./dev.sh test    set up, build, and run every test
#   ./dev.sh build   set up and build only
#   ./dev.sh package set up and build the packages people install into
#                    build/packages/ (scripts/package.sh)
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

# RUVO.exe variants for the scenarios that need another build: only the exe
# and the test-only device DLLs beside it, each in build/windows-<variant>.
#   signed  releases signed with the test-only key a, plain http
#   secure  the same over https://localhost/BRELM/
#   threshold  keys a, b and c, two of which must sign every release
# All opt in to the test-only key (and signed over http) explicitly; a
# publisher's build refuses them.
TEST_RELEASE_KEY=tests/fixtures/keys/test-only-release-key-a.pub.pem
TEST_RELEASE_KEYS_ABC="$TEST_RELEASE_KEY;${TEST_RELEASE_KEY/key-a/key-b};${TEST_RELEASE_KEY/key-a/key-c}"
build_variant() {
  local variant=$1
  shift
  cmake --preset windows -B "build/windows-$variant" "$@" >/dev/null
  cmake --build "build/windows-$variant" -j "$JOBS" --target RUVO ruvo_fake_hid ruvo_fake_setupapi
}

build_all() {
  build_preset native
  build_preset windows
  build_variant signed -DRUVO_RELEASE_KEYS="$TEST_RELEASE_KEY" -DRUVO_ALLOW_TEST_KEYS=ON -DRUVO_ALLOW_PLAIN_HTTP=ON
  build_variant secure -DRUVO_RELEASE_KEYS="$TEST_RELEASE_KEY" -DRUVO_ALLOW_TEST_KEYS=ON \
    -DRUVO_UPDATE_BASE_URL=https://localhost/BRELM/
  build_variant threshold -DRUVO_RELEASE_KEYS="$TEST_RELEASE_KEYS_ABC" -DRUVO_RELEASE_KEY_THRESHOLD=2 \
    -DRUVO_ALLOW_TEST_KEYS=ON -DRUVO_ALLOW_PLAIN_HTTP=ON
}

# Set-up and builds, one command at a time per checkout: two commands
# started at once (two demos, a demo and the tests, ...) would otherwise
# install, configure and build the same folders together. The runs after it
# go on in parallel, each in a run of its own (scripts/session.sh). flock
# holds the lock in its own process and closes it in this script's copy
# (-o), so nothing the build starts (a service a package install starts)
# can keep holding it.
LOCK=build/dev.lock
CONFLICT=75
build_locked() {  # [EXTRA PRESET...]
  mkdir -p build
  local status=0
  flock -n -E "$CONFLICT" -o "$LOCK" "$RUVO_ROOT/dev.sh" locked-build "$@" || status=$?
  if [ "$status" -eq "$CONFLICT" ]; then
    echo "dev.sh: another ./dev.sh command is setting up or building this checkout; waiting for it ($LOCK)" >&2
    flock -o "$LOCK" "$RUVO_ROOT/dev.sh" locked-build "$@"
  elif [ "$status" -ne 0 ]; then
    exit "$status"
  fi
}

case "${1:-}" in
  demo)  build_locked; exec scripts/demo.sh ;;
  test)  build_locked sanitize package; exec scripts/run-tests.sh ;;
  build) build_locked ;;
  package) build_locked --only package ;;
  # Only through build_locked, which holds the lock. Each extra word is a
  # preset to build, or "package"; --only skips the usual builds.
  locked-build)
    shift
    setup
    if [ "${1:-}" = --only ]; then shift; else build_all; fi
    for extra in "$@"; do
      if [ "$extra" = package ]; then scripts/package.sh; else build_preset "$extra"; fi
    done ;;
  *)     sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
