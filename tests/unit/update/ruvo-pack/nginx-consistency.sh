#!/usr/bin/env bash
# What a client of nginx sees while releases are published: a loop fetches
# the catalogue and then every image it names, while 20 publishes of
# releases with distinct image names run. Every set fetched must be whole,
# each image at the size its record gives and accepted by the image check.
# Runs itself in a network and mount namespace of its own (nginx on
# 127.0.0.1 there); exits 77 (skipped) where that is not permitted.
# Usage: nginx-consistency.sh RUVO_PACK
set -u
SKIP=77
PACK=$(realpath "$1")
NGINX=${NGINX:-/usr/sbin/nginx}
PUBLISHES=20
MAX_SETS=3000     # the client loop's bounds: sets fetched ...
MAX_SECONDS=25    # ... and seconds

if [ -z "${RUVO_PACK_NETNS:-}" ]; then
  [ -x "$NGINX" ] || { echo "SKIP: no $NGINX"; exit $SKIP; }
  command -v curl >/dev/null || { echo "SKIP: no curl"; exit $SKIP; }
  unshare --net --mount true 2>/dev/null || { echo "SKIP: unshare --net --mount is not permitted here"; exit $SKIP; }
  exec env RUVO_PACK_NETNS=1 unshare --net --mount bash "$0" "$@"
fi
ip link set lo up || { echo "SKIP: cannot bring lo up"; exit $SKIP; }

work=$(mktemp -d)
chmod 755 "$work"  # nginx workers may run as another user
nginx_pid='' client_pid=''
cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null
  if [ -n "$nginx_pid" ]; then
    kill -QUIT "$nginx_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$nginx_pid" 2>/dev/null
    wait "$nginx_pid" 2>/dev/null
  fi
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

port=8080
mkdir -p nginx/logs nginx/tmp
cat >nginx/nginx.conf <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    disable_symlinks off;
  }
}
CONF
"$NGINX" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" &
nginx_pid=$!
base=http://127.0.0.1:$port/BRELM
for _ in $(seq 50); do
  curl -sf -o /dev/null "$base/Door/M01A.Bin" && break
  kill -0 "$nginx_pid" 2>/dev/null || fail "nginx did not start: $(cat nginx/logs/error.log)"
  sleep 0.2
done

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
