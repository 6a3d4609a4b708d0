#!/usr/bin/env bash
# The suite under ThreadSanitizer: the link jobs, Updater's workers and
# timers, the window hosts, the command lines' signal paths and the
# emulator's threads.  A third build (build/tsan) that does not fit the time
# of scripts/test.sh; run it after changing threaded code.  Extra arguments
# go to ctest (for example -R UpdaterWindow).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export QT_QPA_PLATFORM=offscreen
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRT_TSAN=ON -DRT_WERROR=ON >/dev/null
cmake --build build/tsan --parallel "$(nproc)"
ctest --test-dir build/tsan --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
