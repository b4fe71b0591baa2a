# Sourced by the tools: a private Wine world for tests and the demo. Everything lives under
# $SETUP_BUILD_DIR/wine: a 64-bit prefix, a 32-bit prefix, a virtual display, and a persistent
# wineserver per prefix (so a test program starts in a few tens of milliseconds).
#   wine_env_start   create what is missing, start the display and the servers, write the env file
#   wine_env_stop    stop the servers and the display (safe to call twice)
# The env file ($WINE_STATE_DIR/env) is what tools/wine-exec and the end-to-end tests read.

: "${SETUP_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
: "${SETUP_BUILD_DIR:=$SETUP_ROOT/build}"
export SETUP_ROOT SETUP_BUILD_DIR
export WINE_STATE_DIR="$SETUP_BUILD_DIR/wine"
export WINEPREFIX="$WINE_STATE_DIR/prefix64"
export WINEPREFIX32="$WINE_STATE_DIR/prefix32"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# shellcheck source=tools/i386-env.sh
source "$SETUP_ROOT/tools/i386-env.sh"

_wine_prepare_prefix() {  # prefix arch
  local prefix=$1 arch=$2
  [ -f "$prefix/.ready" ] && return 0
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  WINEPREFIX=$prefix WINEARCH=$arch wineboot -i >/dev/null 2>&1 || return 1
  # Without a window manager every hide or destroy of a top-level window stalls two seconds.
  WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || return 1
  WINEPREFIX=$prefix wineserver -w
  touch "$prefix/.ready"
}

_wine_free_display() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; return 0; }
  done
  return 1
}

wine_env_start() {
  mkdir -p "$WINE_STATE_DIR"
  if [ "${SETUP_EMULATE_I386:-0}" = 1 ]; then
    i386_force_start || { echo "wine-env: cannot run 32-bit programs under the emulator" >&2; return 1; }
  fi
  _wine_prepare_prefix "$WINEPREFIX" win64 || { echo "wine-env: cannot create $WINEPREFIX" >&2; return 1; }
  _wine_prepare_prefix "$WINEPREFIX32" win32 || { echo "wine-env: cannot create $WINEPREFIX32" >&2; return 1; }
  local n
  n=$(_wine_free_display) || { echo "wine-env: no free display" >&2; return 1; }
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! > "$WINE_STATE_DIR/xvfb.pid"
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  WINEPREFIX=$WINEPREFIX setsid wineserver -p </dev/null >/dev/null 2>&1 &
  WINEPREFIX=$WINEPREFIX32 setsid wineserver -p </dev/null >/dev/null 2>&1 &
  # Start each prefix's system processes now, detached from any pipe: started later by a test
  # program, they would inherit its output pipe and the reader would never see the end of it.
  WINEPREFIX=$WINEPREFIX wine cmd /c exit </dev/null >/dev/null 2>&1
  WINEPREFIX=$WINEPREFIX32 wine cmd /c exit </dev/null >/dev/null 2>&1
  cat > "$WINE_STATE_DIR/env" <<ENV
export WINEPREFIX='$WINEPREFIX'
export WINEPREFIX32='$WINEPREFIX32'
export DISPLAY='$DISPLAY'
export WINEDEBUG='$WINEDEBUG'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export WINE_STATE_DIR='$WINE_STATE_DIR'
export SETUP_BUILD_DIR='$SETUP_BUILD_DIR'
ENV
}

wine_env_stop() {
  # Test servers that outlived their test process (tests/e2e/servers.py lists each one's pid);
  # a pid is only ended while it still names an nginx, never a process that reused the number.
  local pidfile pid
  for pidfile in "$WINE_STATE_DIR"/servers/*.pid; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = nginx ]; then kill "$pid" >/dev/null 2>&1 || true; fi
    rm -f "$pidfile"
  done
  WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$WINEPREFIX32 wineserver -k >/dev/null 2>&1 || true
  if [ -f "$WINE_STATE_DIR/xvfb.pid" ]; then
    kill "$(cat "$WINE_STATE_DIR/xvfb.pid")" >/dev/null 2>&1 || true
    rm -f "$WINE_STATE_DIR/xvfb.pid"
  fi
  rm -f "$WINE_STATE_DIR/env"
  if [ "${SETUP_EMULATE_I386:-0}" = 1 ]; then i386_force_stop; fi
}
