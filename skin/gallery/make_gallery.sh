#!/usr/bin/env bash
# Pictures of the main window in all 58 skins and a contact sheet of them.
# usage: skin/gallery/make_gallery.sh [BUILD_DIR] [SHEET]   (defaults: build, docs/skins.png)
# Builds skin_gallery, starts the local server on the game portal's port and a private Xvfb,
# saves BUILD_DIR/gallery/pictures/NN-Name.png and joins their skinned parts into SHEET.
set -euo pipefail
cd "$(dirname "$0")/../.."

build_dir=${1:-build}
sheet=${2:-docs/skins.png}
pictures="$build_dir/gallery/pictures"
tiles="$build_dir/gallery/tiles"
server_pid=""
xvfb_pid=""

cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target skin_gallery

# The portal's port is a constant of the build.
port=$(sed -n 's/^#define GAME_PORTAL_HOST "[^:]*:\([0-9]*\)"$/\1/p' "$build_dir/generated/build_config.h")
port=${port:-80}
python3 server/local_server.py --port "$port" >/dev/null 2>&1 &
server_pid=$!

for display in $(seq 160 200); do
  [ -e "/tmp/.X${display}-lock" ] && continue
  Xvfb ":${display}" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    xdpyinfo -display ":${display}" >/dev/null 2>&1 && break
    sleep 0.1
  done
  if xdpyinfo -display ":${display}" >/dev/null 2>&1; then
    export DISPLAY=":${display}"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "make_gallery.sh: no Xvfb" >&2; exit 1; }

rm -rf "$pictures" "$tiles"
mkdir -p "$pictures" "$tiles" "$(dirname "$sheet")"
# The engine is written beside the gallery once and never refreshed: start from the one just built.
rm -f "$build_dir/gallery/SkinH_EL.dll"
NO_AT_BRIDGE=1 "$build_dir/gallery/skin_gallery" "$pictures"

# Each tile shows what a skin draws: the caption (26 rows) over the control strip below the page.
for picture in "$pictures"/*.png; do
  convert "$picture" \( -clone 0 -crop 942x26+0+0 \) \( -clone 0 -crop 942x103+0+602 \) -delete 0 \
    -append +repage -resize 470x "$tiles/$(basename "$picture")"
done
montage -label '%t' "$tiles"/*.png -font DejaVu-Sans -pointsize 13 -geometry +5+4 -tile 2x \
  -background '#f4f4f4' "$sheet.tmp.png"
# A palette keeps the sheet small; the skins are flat colours and gradients.
convert "$sheet.tmp.png" -depth 8 -colors 256 -define png:compression-level=9 "PNG8:$sheet"
rm -f "$sheet.tmp.png"
echo "make_gallery.sh: $(ls "$pictures" | wc -l) pictures, sheet $sheet ($(stat -c %s "$sheet") bytes)"
