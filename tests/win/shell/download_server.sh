#!/usr/bin/env bash
# CTest fixture: start or stop the loopback server the download tests use.
#   download_server.sh start <work-dir> <port>
#   download_server.sh stop <work-dir>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
action=$1 work=$2

case "$action" in
start)
  port=$3
  rm -rf "$work" && mkdir -p "$work/www/BRELM/Pool"
  : >"$work/www/empty.bin"
  cat >"$work/rules" <<RULES
/one-mib.bin sized 1048576
/sixteen-mib.bin sized 16777216
/too-long.bin sized 20000
/one-over.bin sized 16385
/error-page.bin status 404
/reset.bin sized 100000
/reset.bin reset 40000
/cut.bin sized 100000
/cut.bin cut 40000
/slow.bin sized 8192
/slow.bin slow 20
RULES
  setsid python3 "$root/tools/update-server/fault_server.py" --root "$work/www" --port "$port" \
    --rules "$work/rules" --log "$work/requests.log" --max-seconds 900 \
    >"$work/server.out" 2>&1 </dev/null &
  echo $! >"$work/server.pid"
  for _ in $(seq 50); do
    grep -q READY "$work/server.out" 2>/dev/null && exit 0
    sleep 0.1
  done
  echo "download test server did not start" >&2
  cat "$work/server.out" >&2
  exit 1
  ;;
stop)
  [ -f "$work/server.pid" ] && kill "$(cat "$work/server.pid")" 2>/dev/null || true
  ;;
esac
