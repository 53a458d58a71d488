# Sourced by the other scripts: one quiet Wine prefix for the project, and
# one X display plus one Wine server kept alive for a whole run.
#   ruvo_wine_start   start Xvfb (unless RUVO_USE_DISPLAY=1 and DISPLAY is set),
#                     make the prefix once, keep a Wine server alive
#   ruvo_wine_stop    stop all of it; safe to call twice (use it in a trap)

RUVO_ROOT=${RUVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${RUVO_WINEPREFIX:-$RUVO_ROOT/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# WinINet honours proxy settings even for loopback; the update server is local.
export no_proxy=127.0.0.1,localhost
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY

RUVO_XVFB_PID=

ruvo_start_xvfb() {
  local n
  for n in $(seq 91 120); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
    RUVO_XVFB_PID=$!
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    export DISPLAY=":$n"
    return 0
  done
  echo "no free X display number" >&2
  return 1
}

# Fonts with Traditional Chinese glyphs for dialogs, captions, message boxes
# and controls without a font of their own (they use "System"), no window
# manager decorations (closing a window costs ~2 s otherwise). The marker's
# number changes with these settings, so older prefixes are made again.
ruvo_make_prefix() {
  [ -f "$WINEPREFIX/.ruvo-ready-2" ] && return 0
  echo "Making the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -f /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  local reg="$WINEPREFIX/ruvo-settings.reg"
  cat >"$reg" <<'REG'
REGEDIT4

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
  touch "$WINEPREFIX/.ruvo-ready-2"
}

ruvo_wine_start() {
  if [ "${RUVO_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
    ruvo_start_xvfb
  fi
  ruvo_make_prefix
  # A persistent server and one warm-up process: later programs start in
  # milliseconds, and nothing holds the caller's output pipes.
  wineserver -p >/dev/null 2>&1 </dev/null
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

ruvo_wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$RUVO_XVFB_PID" ]; then
    kill "$RUVO_XVFB_PID" 2>/dev/null || true
    wait "$RUVO_XVFB_PID" 2>/dev/null || true
    RUVO_XVFB_PID=
  fi
}
