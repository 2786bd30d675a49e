#!/usr/bin/env bash
# Builds the program, starts the bundled local server on 127.0.0.1:8713 and runs the program
# against it. Without a display it runs under a private Xvfb, saves a screenshot of the window
# to build/screenshot.png and closes the program again. Exits with the program's exit code.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${QINGYOU_BUILD_DIR:-build}
program="$build_dir/bin/qingyou"
port=8713
window_title="霜岭群英录青柚修改器v3.6最新版"
window_wait_seconds=60
page_settle_seconds=6
screenshot="$build_dir/screenshot.png"

server_pid=""
xvfb_pid=""
program_pid=""
ready_file=""

log() { echo "run.sh: $*" >&2; }

# shellcheck disable=SC2317  # invoked by the EXIT trap
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill -TERM "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  if [ -n "$ready_file" ]; then
    rm -f "$ready_file"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

build() {
  cmake -S . -B "$build_dir"
  # The program plus the libraries it loads by name at run time; they are not link dependencies.
  local available wanted=() target
  available=$(cmake --build "$build_dir" --target help)
  for target in qingyou wininet skin_engine; do
    if grep -Eq "^(\.\.\. )?${target}(:| |$)" <<<"$available"; then
      wanted+=("$target")
    fi
  done
  if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " == *" qingyou "* ]]; then
    cmake --build "$build_dir" -j"$(nproc)" --target "${wanted[@]}"
  else
    cmake --build "$build_dir" -j"$(nproc)"
  fi
}

start_server() {
  ready_file="$build_dir/local_server.ready"
  rm -f "$ready_file"
  python3 server/local_server.py --port "$port" --ready-file "$ready_file" &
  server_pid=$!
  for _ in $(seq 100); do
    [ -f "$ready_file" ] && { log "local server on http://127.0.0.1:$port/"; return 0; }
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  log "the local server did not start (is port $port taken?)"
  exit 1
}

start_xvfb() {
  local display
  for display in $(seq 90 130); do
    [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ] && continue
    Xvfb ":${display}" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      if DISPLAY=":${display}" xdotool getdisplaygeometry >/dev/null 2>&1; then
        export DISPLAY=":${display}"
        log "no display: running under Xvfb on $DISPLAY"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    # Lost a race for this display number, or Xvfb failed: try the next one.
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  log "could not start Xvfb"
  exit 1
}

# Ask the window to close as its close button would: a WM_DELETE_WINDOW message. Xvfb has no
# window manager to turn alt+F4 into one.
request_close() {
  python3 - "$1" <<'EOF'
import ctypes, sys

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("padding", ctypes.c_long * 12)]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit(1)
window = int(sys.argv[1])
event = ClientMessage(type=33, window=window, format=32,
                      message_type=x11.XInternAtom(display, b"WM_PROTOCOLS", 0))
event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x11.XFlush(display)
x11.XCloseDisplay(display)
EOF
}

wait_for_exit() {
  local seconds=$1
  for _ in $(seq $((seconds * 10))); do
    kill -0 "$program_pid" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

screenshot_window() {
  local window=$1 X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$')"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$screenshot"
}

run_headless() {
  start_xvfb
  "$program" &
  program_pid=$!

  local window="" waited=0
  while [ -z "$window" ]; do
    if ! kill -0 "$program_pid" 2>/dev/null; then
      log "the program ended before its window was shown"
      break
    fi
    if [ "$waited" -ge $((window_wait_seconds * 10)) ]; then
      import -window root "$screenshot" || true
      log "no window titled \"$window_title\" after ${window_wait_seconds}s; screen saved to $screenshot"
      kill -TERM "$program_pid" 2>/dev/null || true
      break
    fi
    window=$(xdotool search --onlyvisible --name "^${window_title}\$" 2>/dev/null | head -n 1 || true)
    sleep 0.1
    waited=$((waited + 1))
  done

  if [ -n "$window" ]; then
    log "window $window shown; letting the page load for ${page_settle_seconds}s"
    # No window manager hands out the focus here; without it the window is drawn as inactive.
    xdotool mousemove --window "$window" 470 300 windowfocus "$window" 2>/dev/null || true
    sleep "$page_settle_seconds"
    screenshot_window "$window"
    log "screenshot saved to $(realpath "$screenshot")"
    request_close "$window" || true
    if ! wait_for_exit 10; then
      log "the program did not close its window; destroying it"
      xdotool windowclose "$window" 2>/dev/null || true
      wait_for_exit 5 || kill -TERM "$program_pid" 2>/dev/null || true
    fi
  fi

  local status=0
  wait "$program_pid" || status=$?
  program_pid=""
  return "$status"
}

build
[ -x "$program" ] || { log "$program was not built"; exit 1; }
start_server

status=0
if [ -n "${DISPLAY:-}" ]; then
  "$program" || status=$?
else
  run_headless || status=$?
fi
log "the program ended with exit code $status"
exit "$status"
