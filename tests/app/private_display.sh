#!/usr/bin/env bash
# Runs a command on an X display of its own, with data and cache folders of its own, so that a
# window test neither sees nor moves the pointer of any other window, nor touches the user's files.
set -u
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 200); do
  [ -s "$work/display" ] && break
  sleep 0.05
done
if [ ! -s "$work/display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(cat "$work/display")"
export XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
export NO_AT_BRIDGE=1
"$@"
exit $?
