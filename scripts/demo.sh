#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows the link at work.
# Until the receiver commands exist, this runs the pseudo-terminal round trip
# of the link frames: a full 4100-byte frame from a played receiver.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --parallel "$(nproc)"
./build/release/torvix/link/torvix_link_frame_tests --gtest_filter='LinkFrameTest.*'
