#!/usr/bin/env bash
# What a client of nginx sees while releases are published: a loop fetches
# the catalogue and then every image it names, while 20 publishes of
# releases with distinct image names run. Every set fetched must be whole,
# each image at the size its record gives and accepted by the image check.
# Runs itself in a run of its own (scripts/session.sh: nginx on 127.0.0.1
# there); exits 77 (skipped) where that is not permitted.
# Usage: nginx-consistency.sh RUVO_PACK
set -u
SKIP=77
PACK=$(realpath "$1")
ROOT=$(cd "$(dirname "$0")/../../../.." && pwd)
PUBLISHES=20
MAX_SETS=3000     # the client loop's bounds: sets fetched ...
MAX_SECONDS=25    # ... and seconds

# Always a run of its own, also inside another run: port 80 is then its alone.
if [ "${NGINX_CONSISTENCY_RUN:-}" != 1 ]; then
  command -v nginx >/dev/null || { echo "SKIP: no nginx"; exit $SKIP; }
  command -v curl >/dev/null || { echo "SKIP: no curl"; exit $SKIP; }
  unshare --net --mount --pid --fork true 2>/dev/null || { echo "SKIP: no namespaces here"; exit $SKIP; }
  NGINX_CONSISTENCY_RUN=1 exec "$ROOT/scripts/session.sh" --no-wine bash "$0" "$@"
fi

work=$(mktemp -d)
client_pid=''
cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null
  "$ROOT/tools/update-server/nginx-serve.sh" stop "$work/nginx"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAIL $*"; exit 1; }
cd "$work" || exit 1
umask 022

# 20 releases of model M01A; release i names T0M2ii, V0MAii and C0M0ii (ii in hex).
for i in $(seq 1 $PUBLISHES); do
  tag=$(printf '%02X' "$i")
  mkdir -p "rel$i"
  head -c $((150000 + i * 1000)) /dev/urandom >"rel$i/a.bin"
  head -c $((60000 + i * 100)) /dev/urandom >"rel$i/b.bin"
  head -c $((30000 + i * 10)) /dev/urandom >"rel$i/c.bin"
  printf 'model M01A\nimage T0M2%s 0 a.bin base %s\nimage V0MA%s 64 b.bin second\nimage C0M0%s 128 c.bin region\n' \
    "$tag" "$i" "$tag" "$tag" >"rel$i/manifest.txt"
done
"$PACK" publish rel1/manifest.txt www >/dev/null || fail "the first publish"

"$ROOT/tools/update-server/nginx-serve.sh" start www "$work/nginx" >/dev/null || fail "nginx did not start"
base=http://127.0.0.1/BRELM

# The client: one set per round, stopping after the publishes are done (and
# it has fetched a set after them), or at its bounds.
client() {
  local sets=0 start=$SECONDS dir=client
  mkdir -p $dir
  while [ "$sets" -lt $MAX_SETS ] && [ $((SECONDS - start)) -lt $MAX_SECONDS ]; do
    local last=0 began
    began=$(date +%s%N)
    [ -e publishes.done ] && last=1
    curl -sf -o $dir/catalogue "$base/Door/M01A.Bin" || { echo "set $sets: catalogue: curl $?"; return 1; }
    "$PACK" verify catalogue M01A $dir/catalogue >$dir/verify.out || { echo "set $sets: catalogue refused"; return 1; }
    "$PACK" inspect --id M01A $dir/catalogue | sed -n 's/^  \[[0-9]*\] \([^ ]*\)  size \([0-9]*\) .*/\1 \2/p' >$dir/records
    [ -s $dir/records ] || { echo "set $sets: no records"; return 1; }
    local fetch=() k=0
    while read -r name size; do
      fetch+=(-o "$dir/image$k" "$base/Pool/$name")
      k=$((k + 1))
    done <$dir/records
    rm -f $dir/image*
    curl -sf --fail-early "${fetch[@]}" || { echo "set $sets: an image: curl $? (missing)"; return 1; }
    k=0
    while read -r name size; do
      local got
      got=$(stat -c %s "$dir/image$k")
      [ "$got" -eq "$size" ] || { echo "set $sets: $name is $got bytes, its record says $size"; return 1; }
      "$PACK" verify image "${name:2:4}" "$dir/image$k" >/dev/null || { echo "set $sets: $name refused"; return 1; }
      k=$((k + 1))
    done <$dir/records
    sha256sum <$dir/catalogue >>$dir/seen
    echo $((($(date +%s%N) - began) / 1000000)) >>$dir/set-ms
    sets=$((sets + 1))
    [ "$last" = 1 ] && break
  done
  echo "sets $sets"
}
client >client.out 2>&1 &
client_pid=$!

# The publishes, paced a little so the client's sets straddle swaps. Each
# keeps 10 releases, so an image goes only after 10 more publishes: the
# retention a publisher sizes to outlast a download (pruning itself is
# covered by the unit tests).
published=0 began=$(date +%s%N)
for i in $(seq 2 $PUBLISHES); do
  "$PACK" publish "rel$i/manifest.txt" www --keep 10 >publish.out 2>&1 || fail "publish $i: $(cat publish.out)"
  published=$((published + 1))
  sleep 0.2
done
touch publishes.done
publish_ms=$((($(date +%s%N) - began) / 1000000))
wait "$client_pid"
code=$?
client_pid=
cat client.out
[ "$code" -eq 0 ] || fail "the client saw a broken release"
catalogues=$(sort -u client/seen | wc -l)
echo "$((published + 1)) publishes in ${publish_ms} ms, $(wc -l <client/seen) whole sets fetched (longest" \
  "$(sort -n client/set-ms | tail -1) ms), $catalogues distinct catalogues seen"
[ "$catalogues" -ge 2 ] || fail "the client never saw a swap"
[ "$(readlink www/BRELM/Door)" = "../releases/$(printf '%06d' $PUBLISHES)/Door" ] || fail "the last release is not live"
[ "$(find www/releases -mindepth 1 -maxdepth 1 | wc -l)" -eq 10 ] || fail "not 10 releases kept: $(ls www/releases)"
[ "$(find www/BRELM/Pool -mindepth 1 | wc -l)" -eq 30 ] || fail "the Pool holds other than the kept releases' images: $(ls www/BRELM/Pool)"
echo "ok"
