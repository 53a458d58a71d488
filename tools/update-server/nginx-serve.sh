#!/usr/bin/env bash
# Serves a release folder with nginx on the loopback address, as a child of
# the calling run, for the demo, the scenarios and the tests:
#
#   nginx-serve.sh start ROOT WORK [--port N] [--tls CERT KEY]
#   nginx-serve.sh stop WORK
#
# ROOT holds BRELM/. Everything of the server (config, pid, error log, temp
# folders) lives in WORK; WORK/requests.log gets one line per request,
# tab-separated: method, path as requested, User-Agent, Accept, Pragma ("-"
# for a header not sent). With --tls it also serves https on port 443 for the
# name localhost. `start` returns once nginx listens (it binds before it
# detaches) and fails at once when the port is taken: it never falls back on
# a server it did not start. Port 80 needs root; scripts/session.sh gives a
# run its own network, so the port is the run's alone.
set -euo pipefail

usage() {
  sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

start() {
  local root work port=80 cert= key=
  root=$(cd "$1" && pwd)
  mkdir -p "$2"
  work=$(cd "$2" && pwd)
  shift 2
  while (($#)); do
    case $1 in
      --port) port=$2; shift 2 ;;
      --tls) cert=$(realpath "$2"); key=$(realpath "$3"); shift 3 ;;
      *) usage ;;
    esac
  done
  mkdir -p "$work/nginx-temp"
  : >>"$work/requests.log"

  local tls=
  if [ -n "$cert" ]; then
    # Programs may resolve localhost to either loopback address.
    local listen_v6=
    [ -f /proc/net/if_inet6 ] && grep -q ' lo$' /proc/net/if_inet6 && listen_v6="listen [::1]:443 ssl;"
    tls="
  server {
    listen 127.0.0.1:443 ssl;
    $listen_v6
    server_name localhost;
    ssl_certificate $cert;
    ssl_certificate_key $key;
    root $root;
  }"
  fi

  # Workers run as the caller: the run's folders are private to it.
  local user_line=
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events { worker_connections 64; }
http {
  types { }
  default_type application/octet-stream;
  log_format ruvo '\$request_method\t\$request_uri\t\$http_user_agent\t\$http_accept\t\$http_pragma';
  access_log $work/requests.log ruvo;
  client_body_temp_path $work/nginx-temp/body;
  proxy_temp_path $work/nginx-temp/proxy;
  fastcgi_temp_path $work/nginx-temp/fastcgi;
  uwsgi_temp_path $work/nginx-temp/uwsgi;
  scgi_temp_path $work/nginx-temp/scgi;
  # Every request looks the path up again, through the release link.
  open_file_cache off;
  server {
    listen 127.0.0.1:$port;
    root $root;
  }$tls
}
CONF
  rm -f "$work/nginx.pid"
  if nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" </dev/null >>"$work/nginx-error.log" 2>&1; then
    # The master writes its pid file just after it detaches.
    for _ in $(seq 50); do
      [ -s "$work/nginx.pid" ] && { cat "$work/nginx.pid"; return 0; }
      sleep 0.05
    done
  fi
  echo "nginx did not start:" >&2
  cat "$work/nginx-error.log" >&2
  return 1
}

# Asks nginx to stop and waits until its master has gone (bounded).
stop() {
  local work=$1 pid
  [ -f "$work/nginx.pid" ] || return 0
  pid=$(cat "$work/nginx.pid")
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

case ${1:-} in
  start) (($# >= 3)) || usage; shift; start "$@" ;;
  stop) (($# == 2)) || usage; stop "$2" ;;
  *) usage ;;
esac
