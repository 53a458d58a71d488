#!/usr/bin/env bash
# What a build may trust, checked where a publisher meets it: configuring
# the project. A test-only key needs RUVO_ALLOW_TEST_KEYS, release keys with
# an http base URL need RUVO_ALLOW_PLAIN_HTTP; a publisher's own key over
# https needs neither, and the default build (no keys, http) stays as it is.
#   release_config_test.sh SOURCE_DIR
set -uo pipefail
SOURCE=$(cd "${1:?source folder}" && pwd)
WORK=$(mktemp -d /tmp/ruvo-release-config.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

TEST_KEY=$SOURCE/tests/fixtures/keys/test-only-release-key-a.pub.pem
openssl ecparam -name prime256v1 -genkey -noout -out "$WORK/publisher.pem" 2>/dev/null
openssl pkey -in "$WORK/publisher.pem" -pubout -out "$WORK/publisher.pub.pem" 2>/dev/null
OWN_KEY=$WORK/publisher.pub.pem
HTTP=http://127.0.0.1/BRELM/
HTTPS=https://updates.example.org/BRELM/

failures=0
# KEY URL OPT-INS WANTED: "ok", or a phrase the refusal must contain.
row() {
  local key=$1 url=$2 optins=$3 wanted=$4 args=() out status
  args=(-DRUVO_RELEASE_KEYS="$key" -DRUVO_UPDATE_BASE_URL="$url")
  [[ $optins == *test* ]] && args+=(-DRUVO_ALLOW_TEST_KEYS=ON)
  [[ $optins == *http* ]] && args+=(-DRUVO_ALLOW_PLAIN_HTTP=ON)
  rm -rf "$WORK/build"
  out=$(cmake -S "$SOURCE" -B "$WORK/build" "${args[@]}" 2>&1)
  status=$?
  local what="keys=${key##*/} url=$url opt-ins=${optins:-none}"
  if [ "$wanted" = ok ]; then
    [ "$status" -eq 0 ] && { echo "ok   $what: configures"; return; }
  elif [ "$status" -ne 0 ] && grep -q -- "$wanted" <<<"$out"; then
    echo "ok   $what: refused ($wanted)"
    return
  fi
  echo "FAIL $what: status $status, wanted $wanted"
  sed 's/^/     /' <<<"$out" | tail -n 15
  failures=$((failures + 1))
}

row "$TEST_KEY" "$HTTPS" ""          "test-only key"
row "$TEST_KEY" "$HTTP"  "test"      "with an http base URL"
row "$TEST_KEY" "$HTTP"  "http"      "test-only key"
row "$TEST_KEY" "$HTTPS" "test"      ok
row "$TEST_KEY" "$HTTP"  "test http" ok
row "$OWN_KEY"  "$HTTP"  ""          "with an http base URL"
row "$OWN_KEY"  "$HTTPS" ""          ok
row ""          "$HTTP"  ""          ok

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
