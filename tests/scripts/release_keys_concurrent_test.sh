#!/usr/bin/env bash
# Several configures of one build folder at once (two ./dev.sh commands)
# each read the release keys in the same binary folder: every one must get
# both key ids right, and the header they share must end whole, never half
# written by one while another reads it. Six at once, five times.
#   release_keys_concurrent_test.sh SOURCE_DIR
set -uo pipefail
SOURCE=$(cd "${1:?source folder}" && pwd)
WORK=$(mktemp -d /tmp/ruvo-release-keys.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
KEYS=$SOURCE/tests/fixtures/keys

cat >"$WORK/configure-keys.cmake" <<EOF
cmake_minimum_required(VERSION 3.25)
set(PROJECT_SOURCE_DIR "$SOURCE")
include("$SOURCE/cmake/release_keys.cmake")
ruvo_write_release_keys("$WORK/bin/generated/update/release_keys.h"
  "tests/fixtures/keys/test-only-release-key-a.pub.pem;$KEYS/test-only-release-key-b.pub.pem" ids)
if(NOT ids STREQUAL "6479c7bdad0f2145;19804222e904f473")
  message(FATAL_ERROR "key ids: \${ids}")
endif()
EOF
mkdir -p "$WORK/bin"

failures=0
for round in 1 2 3 4 5; do
  pids=()
  for n in 1 2 3 4 5 6; do
    (cd "$WORK/bin" && cmake -P "$WORK/configure-keys.cmake" >"$WORK/$round.$n.out" 2>&1) &
    pids+=($!)
  done
  for n in "${!pids[@]}"; do
    if ! wait "${pids[$n]}"; then
      echo "FAIL round $round, configure $((n + 1)):"
      sed 's/^/     /' "$WORK/$round.$((n + 1)).out"
      failures=$((failures + 1))
    fi
  done
  header=$WORK/bin/generated/update/release_keys.h
  if [ "$(grep -c '^    // key id ' "$header")" != 2 ] || ! grep -q '^constexpr size_t RELEASE_KEY_COUNT = 2;$' "$header" ||
    [ "$(tail -n 1 "$header")" != "};" ]; then
    echo "FAIL round $round: the header is not whole:"
    sed 's/^/     /' "$header"
    failures=$((failures + 1))
  fi
done
leftovers=$(find "$WORK/bin/release-keys" -mindepth 1 | wc -l)
[ "$leftovers" = 0 ] || { echo "FAIL $leftovers scratch files left"; failures=$((failures + 1)); }

echo "$failures failure(s) in 30 configures' key steps, six at a time"
[ "$failures" -eq 0 ]
