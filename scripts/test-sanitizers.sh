#!/usr/bin/env bash
# Builds the tests that run our code in-process with AddressSanitizer (leak checks included) and
# UndefinedBehaviorSanitizer in build-asan, and runs them. Extra arguments go to ctest.
# Tests that start the program or a probe process are left to the normal run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${QINGYOU_SANITIZE_BUILD:-build-asan}

# Test executables whose tests run our code in-process, and the ctest names to run from them.
targets=(values_test url_test update_address_test http_request_test wininet_test runtime_test
         skin_test skin_apply_test skin_engine_test)
include='^(values|runtime|net|wininet|skin)\.'
# Process-level tests: they start the program or the runtime probe as a child.
exclude='^net\..*UpdateCheck|^runtime\.(LibraryBinding|FatalRuntimeError|EndProgram|RunDirectory)\.|^runtime\.ProcessPendingEvents\.APendingQuit'

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQINGYOU_SANITIZE=ON -DQINGYOU_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# In-process tests of message boxes and events need a display; start a private one if there is none.
if [ -z "${DISPLAY:-}" ]; then
  display=99
  while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
  Xvfb ":${display}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
  export DISPLAY=":${display}"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

# The program handles a heap that says no, so the allocator must be allowed to say it.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
# ASan's dlopen interceptor hides the test's RUNPATH from the loader: name lib/ for bare-name binding.
export LD_LIBRARY_PATH=$root/$build/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export NO_AT_BRIDGE=1

ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300 -R "$include" -E "$exclude" "$@"
