#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running the program need; with --test,
# also those the test suite needs. Installs only what is missing.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi

packages=(
  # build
  cmake g++ make pkg-config libgtk-3-dev libwebkit2gtk-4.1-dev libcurl4-openssl-dev
  # the menu icons and the Debian package
  librsvg2-bin dpkg-dev file
  # run: opening addresses, CJK glyphs, the bundled local server, a display when there is none
  xdg-utils fonts-noto-cjk python3 xvfb xauth xdotool imagemagick
)
if [ "${1:-}" = "--test" ]; then
  packages+=(libgtest-dev googletest attr curl x11-utils locales)
  # checking the menu entry, its metadata and the package
  packages+=(desktop-file-utils appstream lintian)
  # the fuzz targets: clang with its libFuzzer and sanitizer runtimes
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
