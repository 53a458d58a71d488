# Sourced by the ruvo-flash scripts once WORK and ROOT are set: when the
# script exits, however it ends, what it started and still runs is stopped
# (stop_own first, when the script defines one; then FLASH_PID, SERVER_PID,
# SIM_PIDS and SERVER_PIDS; then its nginx), its work folder goes, and its
# exit status is kept.
end_run() {
  local status=$? pid
  set +e
  declare -F stop_own >/dev/null && stop_own
  for pid in ${FLASH_PID:-} ${SERVER_PID:-} ${SIM_PIDS[@]+"${SIM_PIDS[@]}"} ${SERVER_PIDS[@]+"${SERVER_PIDS[@]}"}; do
    kill "$pid" 2>/dev/null
  done
  [ -d "$WORK/nginx" ] && "$ROOT/tools/update-server/nginx-serve.sh" stop "$WORK/nginx"
  wait 2>/dev/null
  rm -rf "$WORK"
  exit "$status"
}
trap end_run EXIT
trap 'exit 1' INT TERM
