#!/usr/bin/env bash
# Instruction counts of the fleet's hot paths on this machine's
# architecture: VEK_Onvif_Recv_Notify with nothing waiting (idle poll) and
# with a one-message Notify waiting (delivered event), counted by callgrind
# inside that function only, and the same two for VEK_Onvif_Hub_Poll at a
# hub of 1,024 cameras (build-bench/, Release). Prints instructions per
# call. Counts, not times: they do not depend on the machine's load.
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

count() { # path, calls, function
    local out="$build/callgrind.$1.out"
    valgrind --tool=callgrind --toggle-collect="${3:-VEK_Onvif_Recv_Notify}" \
        --callgrind-out-file="$out" "$build/bench/vek_hot_paths" "$1" "$2" >/dev/null 2>&1
    awk -v calls="$2" -v path="$1" '/^(summary|totals):/ { total = $2 }
        END { printf "%s: %.0f instructions per call (%d calls)\n", path, total / calls, calls }' "$out"
}
count idle "$idle"
count deliver "$deliver"
# The hub: Poll(0) of a hub of 1,024 cameras, and Poll serving one Notify on
# its own connection (accept, read, route, read the Notify, answer, close).
count hub-idle "$idle" VEK_Onvif_Hub_Poll
count hub-deliver "$deliver" VEK_Onvif_Hub_Poll
