# Sourced by the ruvo-flash end-to-end scripts: the release in $WORK/www
# served on 127.0.0.1:8080 by the fault server, where the catalogue, the
# statement and one image each come at 2 bytes a second, each under its own
# path prefix (http://127.0.0.1:8080/<catalogue|statement|image>/BRELM/).
# Sets SLOW_SERVER_PID; the caller stops it.
start_slow_server() {
  local kind
  for kind in catalogue statement image; do
    mkdir -p "$WORK/slow/$kind" && cp -a "$WORK/www/." "$WORK/slow/$kind/"
  done
  cat >"$WORK/slow.rules" <<'RULES'
/catalogue/BRELM/Door/R100.Bin trickle 2
/statement/BRELM/Door/R100.Sig2 trickle 2
/image/BRELM/Pool/BTR122.bin trickle 2
RULES
  python3 "$ROOT/tools/update-server/fault_server.py" --root "$WORK/slow" --bind 127.0.0.1 --port 8080 \
    --rules "$WORK/slow.rules" --log "$WORK/slow.log" --max-seconds 600 >"$WORK/slow.out" 2>&1 &
  SLOW_SERVER_PID=$!
  for _ in $(seq 50); do grep -q READY "$WORK/slow.out" && return 0; sleep 0.1; done
  echo "the slow server did not start" >&2
  return 1
}
