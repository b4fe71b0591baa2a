# Sourced by the tools: private Wine worlds for tests and the demo. A world is a 64-bit prefix, a
# 32-bit prefix, a virtual display of its own and a persistent wineserver per prefix (so a test
# program starts in a few tens of milliseconds). The first world lives in $WINE_STATE_DIR
# ($SETUP_BUILD_DIR/wine unless set), further ones in $WINE_STATE_DIR/world<n>: nothing a test does
# to its prefixes, its registry, drive C: or its display reaches a test running in another world.
#   wine_env_start [n]  create what is missing of n worlds (1 unless told), start their displays and
#                       servers, write each world's env file and the list of worlds
#   wine_env_stop       stop the servers and the displays of every world (safe to call twice)
# A world's env file ($WINE_STATE_DIR/env, .../world<n>/env) is what tools/wine-exec and the
# end-to-end tests read; $WINE_STATE_DIR/worlds lists the worlds, and a test takes one of them for
# itself by locking its file "lock" (tools/wine-exec, tests/e2e/harness.py).

: "${SETUP_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
: "${SETUP_BUILD_DIR:=$SETUP_ROOT/build}"
export SETUP_ROOT SETUP_BUILD_DIR
# A test that holds another world (tests/e2e/harness.py) hands it to the tools it runs this way.
: "${WINE_STATE_DIR:=$SETUP_BUILD_DIR/wine}"
export WINE_STATE_DIR
export WINEPREFIX="$WINE_STATE_DIR/prefix64"
export WINEPREFIX32="$WINE_STATE_DIR/prefix32"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# shellcheck source=tools/i386-env.sh
source "$SETUP_ROOT/tools/i386-env.sh"

_wine_prepare_prefix() {  # prefix arch [ready prefix to copy]
  local prefix=$1 arch=$2 template=${3:-}
  [ -f "$prefix/.ready" ] && return 0
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  # A copy of a finished prefix is a prefix of its own (its wineserver is found by the folder's
  # inode), and copying costs a fraction of what creating one costs, above all under an emulator.
  if [ -n "$template" ] && [ -f "$template/.ready" ]; then
    cp -a "$template" "$prefix" && return 0
    rm -rf "$prefix"
  fi
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

# The folders of the worlds wine_env_start made, first world first.
_wine_worlds() {
  if [ -f "$WINE_STATE_DIR/worlds" ]; then cat "$WINE_STATE_DIR/worlds"; else echo "$WINE_STATE_DIR"; fi
}

_wine_world_start() {  # folder
  local dir=$1 p64=$1/prefix64 p32=$1/prefix32 n i
  # What the harness remembers of the prefixes' settings (tests/e2e/harness.py) is not trusted past a run.
  rm -f "$dir"/windows-version-*
  n=$(_wine_free_display) || { echo "wine-env: no free display" >&2; return 1; }
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! > "$dir/xvfb.pid"
  for i in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  WINEPREFIX=$p64 setsid wineserver -p </dev/null >/dev/null 2>&1 &
  WINEPREFIX=$p32 setsid wineserver -p </dev/null >/dev/null 2>&1 &
  # Start each prefix's system processes now, detached from any pipe: started later by a test
  # program, they would inherit its output pipe and the reader would never see the end of it.
  DISPLAY=":$n" WINEPREFIX=$p64 wine cmd /c exit </dev/null >/dev/null 2>&1
  DISPLAY=":$n" WINEPREFIX=$p32 wine cmd /c exit </dev/null >/dev/null 2>&1
  cat > "$dir/env" <<ENV
export WINEPREFIX='$p64'
export WINEPREFIX32='$p32'
export DISPLAY=':$n'
export WINEDEBUG='$WINEDEBUG'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export WINE_STATE_DIR='$dir'
export SETUP_BUILD_DIR='$SETUP_BUILD_DIR'
ENV
}

wine_env_start() {  # [number of worlds]
  local count=${1:-1} i dir worlds=()
  mkdir -p "$WINE_STATE_DIR"
  if [ "${SETUP_EMULATE_I386:-0}" = 1 ]; then
    i386_force_start || { echo "wine-env: cannot run 32-bit programs under the emulator" >&2; return 1; }
  fi
  # The first world's prefixes are made first, the others are copies of them, all before any
  # server runs that could write to a prefix while it is copied.
  for ((i = 0; i < count; i++)); do
    dir=$WINE_STATE_DIR
    [ "$i" -eq 0 ] || dir=$WINE_STATE_DIR/world$i
    worlds+=("$dir")
    _wine_prepare_prefix "$dir/prefix64" win64 "$WINEPREFIX" || { echo "wine-env: cannot create $dir/prefix64" >&2; return 1; }
    _wine_prepare_prefix "$dir/prefix32" win32 "$WINEPREFIX32" || { echo "wine-env: cannot create $dir/prefix32" >&2; return 1; }
  done
  printf '%s\n' "${worlds[@]}" >"$WINE_STATE_DIR/worlds"
  # What the tests made once for all of them (tests/e2e/harness.py, shared) is made again each time.
  rm -rf "$WINE_STATE_DIR/shared"
  for dir in "${worlds[@]}"; do
    _wine_world_start "$dir" || return 1
  done
  export DISPLAY
  DISPLAY=$(sed -n "s/^export DISPLAY='\(.*\)'$/\1/p" "$WINE_STATE_DIR/env")
}

_wine_world_stop() {  # folder
  local dir=$1 pidfile pid
  # Test servers that outlived their test process (tests/e2e/servers.py lists each one's pid);
  # a pid is only ended while it still names an nginx, never a process that reused the number.
  for pidfile in "$dir"/servers/*.pid; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = nginx ]; then kill "$pid" >/dev/null 2>&1 || true; fi
    rm -f "$pidfile"
  done
  WINEPREFIX=$dir/prefix64 wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$dir/prefix32 wineserver -k >/dev/null 2>&1 || true
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" >/dev/null 2>&1 || true
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$dir/env"
}

wine_env_stop() {
  local dir
  while read -r dir; do
    [ -d "$dir" ] && _wine_world_stop "$dir"
  done < <(_wine_worlds)
  rm -f "$WINE_STATE_DIR/worlds"
  if [ "${SETUP_EMULATE_I386:-0}" = 1 ]; then i386_force_stop; fi
}
