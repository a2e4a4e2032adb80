#!/usr/bin/env bash
# Sets up, builds and runs every test. Extra CMake options may be given in
# VEK_CMAKE_ARGS; the build directory in VEK_BUILD_DIR (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
build="${VEK_BUILD_DIR:-build}"
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${VEK_BUILD_TYPE:-RelWithDebInfo}" ${VEK_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
