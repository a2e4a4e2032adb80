#!/usr/bin/env bash
# Sets up, builds and runs `onvif-events demo`: a simulated camera on 127.0.0.1 through the
# whole life of a recorder's subscription, then three simulated cameras on one port whose events
# come through one Notify hub. Extra arguments go to the demo (e.g. --verbose).
# The build directory is VEK_BUILD_DIR (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
build="${VEK_BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${VEK_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target onvif-events
exec "$build/tools/onvif-events/onvif-events" demo "$@"
