#!/usr/bin/env bash
# Instruction counts of the fleet's two hot paths on this machine's
# architecture: VEK_Onvif_Recv_Notify with nothing waiting (idle poll) and
# with a one-message Notify waiting (delivered event), counted by callgrind
# inside that function only (build-bench/, Release). Prints instructions
# per call. Counts, not times: they do not depend on the machine's load.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
idle="${VEK_HOT_IDLE_CALLS:-5000}"
deliver="${VEK_HOT_DELIVER_CALLS:-500}"

./scripts/setup.sh
if ! command -v valgrind >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq >/dev/null
    $sudo apt-get install -y -qq valgrind >/dev/null
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEK_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target vek_hot_paths >/dev/null

count() { # path, calls
    local out="$build/callgrind.$1.out"
    valgrind --tool=callgrind --toggle-collect=VEK_Onvif_Recv_Notify \
        --callgrind-out-file="$out" "$build/bench/vek_hot_paths" "$1" "$2" >/dev/null 2>&1
    awk -v calls="$2" -v path="$1" '/^(summary|totals):/ { total = $2 }
        END { printf "%s: %.0f instructions per call (%d calls)\n", path, total / calls, calls }' "$out"
}
count idle "$idle"
count deliver "$deliver"
