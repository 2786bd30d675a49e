#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

# A private display for the GUI tests, stopped on the way out.
display=99
while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
# Every start of the program opens several connections, and the suite starts it many times over.
Xvfb ":${display}" -screen 0 1280x1024x24 -nolisten tcp -maxclients 2048 >build/xvfb.log 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
export DISPLAY=":${display}"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"

# ---- Sanitizers: the in-process tests again, built with ASan and UBSan in build-asan ----------
bash scripts/test-sanitizers.sh

# ---- Fuzzing: every libFuzzer target for FUZZ_SECONDS (60) each, in CI or when FUZZ=1 ----------
if [ "${CI:-}" = "true" ] || [ "${FUZZ:-0}" = "1" ]; then
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
