#!/usr/bin/env bash
# Starts the loopback update server of one scenario (127.0.0.1:80) and returns
# once it serves. Called by run-scenarios.sh as
#   start-server.sh <server file> <work dir>
# and leaves the ids of what it started in <work dir>/server.pids. The request
# log is <work dir>/requests.log (tab-separated: method, path, User-Agent,
# Accept, Pragma).
#
# Server file, one statement per line ("#" comments):
#   release NAME                  publish releases/NAME/manifest.txt with ruvo-pack
#                                 (its firmware generated from firmware.txt)
#   signed-release NAME KEY       the same, signed with the test-only release key
#                                 KEY (a or b): also writes BRELM/Door/<model>.Sig2
#                                 (serial: the release's number; expires in 30 days)
#   tamper-image NAME ID OFFSET   flip one bit of BRELM/Pool/NAME at OFFSET and
#                                 fix its XOR and sum bytes (ruvo-craft): the
#                                 package check passes, only a signed build's
#                                 hash can tell
#   craft-image NAME ID FIRST LAST TAIL LENGTH
#                                 BRELM/Pool/NAME: an image package with exactly
#                                 this header (ruvo-craft)
#   craft-catalogue MODEL STATUS [NAME SIZE DESCRIPTION]...
#                                 BRELM/Door/MODEL.Bin without limit tests
#   copy FROM TO                  serve BRELM/FROM also as BRELM/TO
#   rule PATH FAULT VALUE         a fault rule of tools/update-server/fault_server.py
#   tls CERT                      nginx also serves https on 127.0.0.1:443 with the
#                                 certificate CERT of make-test-pki.sh (localhost,
#                                 wrong-name, untrusted); the run's mount
#                                 namespace trusts the test CA (only inside a run
#                                 of scripts/session.sh)
#   sign-statement FORMAT SERIAL EXPIRES MODEL KEYS
#                                 BRELM/Door/MODEL.Sig (FORMAT 1) or .Sig2 (2) of
#                                 the live release, signed by the test-only keys
#                                 KEYS (letters, comma-separated, repeats allowed),
#                                 expiring EXPIRES seconds from now or "never"
#                                 (ruvo-craft: what the publisher tool refuses)
#   remove PATH                   BRELM/PATH is not served
#   refresh KEY                   ruvo-pack refresh: the live release re-signed with
#                                 key KEY as the next serial
#   rollback KEY                  ruvo-pack rollback: the release before the live
#                                 one, re-signed with key KEY as the next serial
set -euo pipefail
E2E_DIR=$(cd "$(dirname "$0")" && pwd)
RUVO_ROOT=${RUVO_ROOT:-$(cd "$E2E_DIR/../.." && pwd)}
NATIVE=${RUVO_NATIVE_BUILD:-$RUVO_ROOT/build/native}
server_file=$1 work=$2
www=$work/www
mkdir -p "$www/BRELM/Door" "$www/BRELM/Pool"
: >"$work/rules"

while read -r verb rest; do
  case $verb in
    ''|'#'*) continue ;;
    release|signed-release)
      read -r name key <<<"$rest"
      src=$E2E_DIR/releases/$name
      sign=()
      if [ "$verb" = signed-release ]; then
        sign=(--sign "$RUVO_ROOT/tests/fixtures/keys/test-only-release-key-$key.pem" --expires 30)
      fi
      rm -rf "$work/release-$name"
      cp -r "$src" "$work/release-$name"
      python3 "$RUVO_ROOT/tools/demo/make_firmware.py" "$src/firmware.txt" "$work/release-$name"
      "$NATIVE/tools/ruvo-pack/ruvo-pack" publish "$work/release-$name/manifest.txt" "$www" "${sign[@]}" \
        >>"$work/publish.out"
      ;;
    tamper-image)
      read -r name id offset <<<"$rest"
      "$NATIVE/tests/e2e/craft/ruvo-craft" tamper "$id" "$offset" "$www/BRELM/Pool/$name"
      ;;
    craft-image)
      read -r name id first last tail length <<<"$rest"
      "$NATIVE/tests/e2e/craft/ruvo-craft" image "$id" "$first" "$last" "$tail" "$length" "$www/BRELM/Pool/$name"
      ;;
    craft-catalogue)
      read -r model status records <<<"$rest"
      # shellcheck disable=SC2086
      "$NATIVE/tests/e2e/craft/ruvo-craft" catalogue "$model" "$status" "$www/BRELM/Door/$model.Bin" $records
      ;;
    copy)
      read -r from to <<<"$rest"
      cp "$www/BRELM/$from" "$www/BRELM/$to"
      ;;
    rule)
      echo "$rest" >>"$work/rules"
      ;;
    tls)
      echo "$rest" >"$work/tls"
      ;;
    sign-statement)
      read -r format serial expires model keys <<<"$rest"
      pems=()
      for key in ${keys//,/ }; do pems+=("$RUVO_ROOT/tests/fixtures/keys/test-only-release-key-$key.pem"); done
      "$NATIVE/tests/e2e/craft/ruvo-craft" statement "$format" "$serial" "$expires" "$model" "$www/BRELM/Door" \
        "$www/BRELM/Pool" "${pems[@]}"
      ;;
    remove)
      rm "$www/BRELM/$rest"
      ;;
    refresh|rollback)
      "$NATIVE/tools/ruvo-pack/ruvo-pack" "$verb" "$www" \
        --sign "$RUVO_ROOT/tests/fixtures/keys/test-only-release-key-$rest.pem" --expires 30 >>"$work/publish.out"
      ;;
    *)
      echo "unknown server statement: $verb" >&2
      exit 2
      ;;
  esac
done <"$server_file"

# nginx serves every release that needs no injected fault; the fault server
# only what nginx cannot do. The run's network is its own, so the port is
# free: a server that does not start is a failure, never retried.
tls=()
if [ -s "$work/tls" ]; then
  # The bind mount must stay inside the run: never on the host's own view.
  if [ "${RUVO_SESSION:-}" != 1 ]; then
    echo "tls needs a run of its own (scripts/session.sh)" >&2
    exit 2
  fi
  # One test PKI per run, its bundle mounted once: the prefix sees one CA
  # set all run long, and no mount is stacked on another's source file.
  pki=$RUVO_RUN_DIR/test-pki
  if [ ! -f "$pki/ca-bundle.crt" ]; then
    "$E2E_DIR/make-test-pki.sh" "$pki"
    mount --bind "$pki/ca-bundle.crt" /etc/ssl/certs/ca-certificates.crt
  fi
  cert=$(cat "$work/tls")
  tls=(--tls "$pki/$cert.pem" "$pki/$cert.key")
fi
if [ ! -s "$work/rules" ]; then
  "$RUVO_ROOT/tools/update-server/nginx-serve.sh" start "$www" "$work" "${tls[@]}" >"$work/server.pids"
  exit 0
fi
setsid python3 "$RUVO_ROOT/tools/update-server/fault_server.py" --root "$www" --port 80 \
  --rules "$work/rules" --log "$work/requests.log" --max-seconds 600 \
  >"$work/server.log" 2>&1 </dev/null &
pid=$!
echo "$pid" >"$work/server.pids"
for _ in $(seq 50); do
  grep -q READY "$work/server.log" 2>/dev/null && exit 0
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
echo "the update server did not start:" >&2
cat "$work/server.log" >&2
exit 1
