# Sourced by scripts/session.sh: one X display, one Wine prefix and one Wine
# server for a run.
#   ruvo_wine_start   start Xvfb (unless RUVO_USE_DISPLAY=1 and DISPLAY is set),
#                     give the run its own prefix, keep a Wine server and its
#                     desktop alive
#   ruvo_wine_stop    stop all of it; safe to call twice
#
# The prefix is made once, under a lock, as a template (RUVO_WINE_TEMPLATE,
# default build/wine-template); each run overlays a writable layer of its own
# on it in RUVO_RUN_DIR, so runs never share a prefix or a Wine server. Where
# an overlay cannot be mounted the run copies the template instead.

RUVO_ROOT=${RUVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
RUVO_WINE_TEMPLATE=${RUVO_WINE_TEMPLATE:-$RUVO_ROOT/build/wine-template}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# WinINet honours proxy settings even for loopback; the update server is local.
export no_proxy=127.0.0.1,localhost
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY

RUVO_XVFB_PID=
RUVO_PREFIX_MOUNTED=

# Waits until FILE has a line matching PATTERN; gives up when PID has ended
# or after 30 s.
ruvo_await_line() {
  local file=$1 pattern=$2 pid=$3
  for _ in $(seq 300); do
    grep -q -- "$pattern" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Xvfb picks a free display itself (-displayfd) and writes its number once it
# accepts connections: no race for a number, and a display that never comes
# up is a failure. Its sockets are the run's own (scripts/session.sh), so it
# takes no lock file in the shared /tmp.
ruvo_start_xvfb() {
  local out=$RUVO_RUN_DIR/xvfb.display
  : >"$out"
  Xvfb -displayfd 3 -nolock -screen 0 1280x1024x24 -nolisten tcp 3>"$out" >"$RUVO_RUN_DIR/xvfb.log" 2>&1 </dev/null &
  RUVO_XVFB_PID=$!
  if ruvo_await_line "$out" '^[0-9]' "$RUVO_XVFB_PID"; then
    DISPLAY=":$(head -n 1 "$out")"
    export DISPLAY
    return 0
  fi
  echo "Xvfb did not start:" >&2
  cat "$RUVO_RUN_DIR/xvfb.log" >&2
  return 1
}

# Fonts with Traditional Chinese glyphs for dialogs, captions, message boxes
# and controls without a font of their own (they use "System"), no window
# manager decorations (closing a window costs ~2 s otherwise). winebus starts
# its udev bus (not SDL's, which needs a library we do not install) and reads
# /dev/hidraw* itself, watching /dev for arrivals and removals: no udevd
# runs in a run of its own. The marker's
# number changes with these settings, so older templates are made again.
# Runs in a subshell holding the template's lock; its Wine server is gone
# before the lock is released.
ruvo_make_template() (
  export WINEPREFIX=$RUVO_WINE_TEMPLATE
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  [ -f "$WINEPREFIX/.ruvo-ready-3" ] && exit 0
  echo "Making the Wine prefix template $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -f /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  local reg="$WINEPREFIX/ruvo-settings.reg"
  cat >"$reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\winebus]
"Enable SDL"=dword:00000000
"DisableUdevd"=dword:00000001

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="WenQuanYi Micro Hei"
"MS Shell Dlg 2"="WenQuanYi Micro Hei"
"Tahoma"="WenQuanYi Micro Hei"
"MS Sans Serif"="WenQuanYi Micro Hei"
"PMingLiU"="WenQuanYi Micro Hei"
"System"="WenQuanYi Micro Hei"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Tahoma"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
REG
  wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1 </dev/null
  wineserver -w
  touch "$WINEPREFIX/.ruvo-ready-3"
)

# The run's own prefix: the template below, the run's changes above it.
ruvo_mount_prefix() {
  export WINEPREFIX=$RUVO_RUN_DIR/wineprefix
  mkdir -p "$WINEPREFIX" "$RUVO_RUN_DIR/wine-upper" "$RUVO_RUN_DIR/wine-work"
  if mount -t overlay ruvo-prefix \
    -o "lowerdir=$RUVO_WINE_TEMPLATE,upperdir=$RUVO_RUN_DIR/wine-upper,workdir=$RUVO_RUN_DIR/wine-work" \
    "$WINEPREFIX" 2>/dev/null; then
    RUVO_PREFIX_MOUNTED=$WINEPREFIX
  else
    cp -a "$RUVO_WINE_TEMPLATE/." "$WINEPREFIX/"
  fi
}

ruvo_wine_start() {
  : "${RUVO_RUN_DIR:?scripts/session.sh sets the run folder}"
  if [ "${RUVO_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
    ruvo_start_xvfb || return 1
  fi
  ruvo_make_template
  ruvo_mount_prefix
  # A persistent server and one warm-up process: later programs start in
  # milliseconds, and nothing holds the caller's output pipes. What they
  # say goes to the run's Wine log, which a failing run keeps.
  wineserver -p >>"$RUVO_RUN_DIR/wine.log" 2>&1 </dev/null
  wine cmd /c exit >>"$RUVO_RUN_DIR/wine.log" 2>&1 </dev/null || true
  ruvo_anchor_desktop
}

# The Wine server closes a desktop a second after its last program ends, and
# a program starting just then finds none and ends without a window. A run
# starts its programs with gaps of about that length, so it keeps one hidden
# desktop user (tools/uidriver/desktop_anchor.cpp) for its whole length. A
# run without the Windows build (making the template, say) goes without.
ruvo_anchor_desktop() {
  local anchor build out=$RUVO_RUN_DIR/desktop-anchor.out
  for build in "${RUVO_E2E_BUILD:-}" "$RUVO_ROOT/build/windows"; do
    anchor=$build/bin/ruvo-desktop-anchor.exe
    [ -n "$build" ] && [ -f "$anchor" ] && break
    anchor=
  done
  [ -n "$anchor" ] || return 0
  wine "$anchor" >"$out" 2>&1 </dev/null &
  ruvo_await_line "$out" '^ready' $! && return 0
  echo "the desktop anchor did not get ready:" >&2
  cat "$out" >&2
  return 1
}

ruvo_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "$RUVO_PREFIX_MOUNTED" ]; then
    umount "$RUVO_PREFIX_MOUNTED" 2>/dev/null || umount -l "$RUVO_PREFIX_MOUNTED" 2>/dev/null || true
    RUVO_PREFIX_MOUNTED=
  fi
  if [ -n "$RUVO_XVFB_PID" ]; then
    kill "$RUVO_XVFB_PID" 2>/dev/null || true
    wait "$RUVO_XVFB_PID" 2>/dev/null || true
    RUVO_XVFB_PID=
  fi
}
