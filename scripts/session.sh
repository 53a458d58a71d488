#!/usr/bin/env bash
# Runs one command as a run of its own, so that runs on one machine never meet:
#
#   scripts/session.sh [--no-wine] [--hidraw] COMMAND [ARGS...]
#
# - a private network namespace: 127.0.0.1 port 80 is this run's alone, and
#   nothing reaches another run's servers;
# - a private mount namespace, with X sockets of its own;
# - a private PID namespace: when the run ends, passed, failed or interrupted,
#   the kernel ends whatever it started that is still running;
# - a work folder, RUVO_RUN_DIR (default: a new folder under build/runs/),
#   kept when the command fails and removed when it passes, unless it was given;
# - unless --no-wine: an Xvfb display and a Wine prefix of the run's own,
#   overlaid on the template prefix (made once, under a lock), with one Wine
#   server kept alive (scripts/wine-session.sh);
# - with --hidraw: a /sys and a /dev of the run's own, where emulated hidraw
#   nodes (ruvo-sim --hidraw N) meet the real HID stacks, hidapi's and Wine's
#   (scripts/hid-stack.sh). Needs root; otherwise it exits with 77 (skipped).
#
# Exits with the command's status (130 on Ctrl-C). RUVO_USE_DISPLAY=1 with
# DISPLAY set shows the windows on that X display instead of Xvfb.
set -euo pipefail
RUVO_ROOT=${RUVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export RUVO_ROOT

with_wine=1
with_hidraw=0
while (($#)); do
  case $1 in
    --no-wine) with_wine=0; shift ;;
    --hidraw) with_hidraw=1; shift ;;
    *) break ;;
  esac
done
if (($# == 0)); then
  sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi

# Outside: start this script again as the first process of new namespaces.
# The child gets SIGTERM if this process dies, and ends the run cleanly.
if [ "${RUVO_SESSION_STAGE:-}" != inside ]; then
  unshare_args=(--net --mount --pid --fork --mount-proc --kill-child=TERM)
  if [ "$(id -u)" -ne 0 ]; then
    unshare_args=(--user --map-root-user "${unshare_args[@]}")
  fi
  flags=()
  ((with_wine)) || flags+=(--no-wine)
  ((with_hidraw)) && flags+=(--hidraw)
  exec env RUVO_SESSION_STAGE=inside unshare "${unshare_args[@]}" -- "$0" "${flags[@]}" "$@"
fi
unset RUVO_SESSION_STAGE
export RUVO_SESSION=1

ip link set lo up

# Private X sockets: this run's Xvfb may take any display number without
# meeting another run's (their abstract sockets are already per network).
# The rest of /tmp stays shared, so a checkout or a folder under /tmp works.
if [ "$with_wine" = 1 ] && { [ "${RUVO_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; }; then
  mkdir -p /tmp/.X11-unix
  mount -t tmpfs -o mode=1777 ruvo-x11 /tmp/.X11-unix
fi

run_dir_given=0
if [ -n "${RUVO_RUN_DIR:-}" ]; then
  run_dir_given=1
  mkdir -p "$RUVO_RUN_DIR"
else
  mkdir -p "$RUVO_ROOT/build/runs"
  RUVO_RUN_DIR=$(mktemp -d "$RUVO_ROOT/build/runs/run.XXXXXX")
fi
RUVO_RUN_DIR=$(cd "$RUVO_RUN_DIR" && pwd)
export RUVO_RUN_DIR

if ((with_hidraw)); then
  # shellcheck source=scripts/hid-stack.sh
  source "$RUVO_ROOT/scripts/hid-stack.sh"
  ruvo_hid_stack_start || {
    status=$?
    [ "$run_dir_given" -eq 1 ] || rm -rf "$RUVO_RUN_DIR"
    exit "$status"
  }
  export RUVO_HIDRAW=1
fi
if ((with_wine)); then
  # shellcheck source=scripts/wine-session.sh
  source "$RUVO_ROOT/scripts/wine-session.sh"
fi

status=0
finish() {
  trap - EXIT INT TERM
  if ((with_wine)); then
    ruvo_wine_stop
  fi
  if [ "$status" -eq 0 ] && [ "$run_dir_given" -eq 0 ]; then
    rm -rf "$RUVO_RUN_DIR"
  elif [ "$status" -ne 0 ]; then
    echo "run folder kept: $RUVO_RUN_DIR" >&2
  fi
  exit "$status"
}
trap finish EXIT
trap 'status=130; finish' INT
trap 'status=143; finish' TERM

if ((with_wine)); then
  ruvo_wine_start || { status=$?; echo "the Wine session did not start" >&2; finish; }
fi
# In the background, so that a signal is handled at once rather than after
# the command ends; whatever it leaves running ends with this process.
# Standard input stays the caller's, where the caller has one.
if { : <&0; } 2>/dev/null; then
  "$@" <&0 &
else
  "$@" </dev/null &
fi
wait $! || status=$?
finish
