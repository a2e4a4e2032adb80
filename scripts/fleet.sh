#!/usr/bin/env bash
# The fleet benchmark (bench/fleet_main.cpp), run by `scripts/bench.sh fleet`
# (short: per-camera listeners for 16, 64 and 256 cameras, the Notify hub for
# 256 and 1024, 4096 cameras registered at one hub; about four minutes) or
# `fleet-long` (also 1024 cameras per camera, finer rates, 8 s per setting).
# Both modes run in the same process, one after the other. Builds in Release
# (build-bench/), measures the single-call push_delivery, idle_poll and
# hub_push_delivery benchmarks first (medians of 5) for the ratios, prints
# the fleet's table and targets, and draws bench/fleet.svg with gnuplot
# (Debian gnuplot-nox, installed here when missing). VEK_FLEET_SVG names
# another SVG file.
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-fleet}"
build=build-bench
svg="${VEK_FLEET_SVG:-bench/fleet.svg}"
case "$mode" in
fleet)
    args=(--cameras 16,64,256 --threads 1,2 --rates 0,500,2000,4000,8000,16000
        --hub-cameras 256,1024 --hub-rates 0,500,2000,4000,8000,16000,32000 --register 4096
        --seconds 1.5)
    ;;
fleet-long)
    args=(--cameras 16,64,256,1024 --threads 1,2 --rates 0,250,500,1000,2000,4000,8000
        --hub-cameras 256,1024,4096 --hub-rates 0,250,500,1000,2000,4000,8000,12000,16000
        --register 4096 --seconds 8)
    ;;
*)
    echo "usage: $0 fleet|fleet-long" >&2
    exit 2
    ;;
esac

./scripts/setup.sh
if ! command -v gnuplot >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq >/dev/null
    $sudo apt-get install -y -qq gnuplot-nox >/dev/null
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEK_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target vek_bench vek_fleet >/dev/null

# The single-call figures the fleet is set against.
json="$build/fleet-floors.json"
"$build/bench/vek_bench" --benchmark_filter='^(hub_)?(push_delivery|idle_poll)/' \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$json" --benchmark_out_format=json >/dev/null 2>&1
read -r push_lib push_floor idle_lib hub_lib hub_floor < <(python3 - "$json" <<'PY'
import json, sys
scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
m = {b["run_name"]: b["cpu_time"] * scale[b["time_unit"]]
     for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "median"}
print(m["push_delivery/lib"], m["push_delivery/floor"], m["idle_poll/lib"],
      m["hub_push_delivery/lib"], m["hub_push_delivery/floor"])
PY
)
awk -v l="$push_lib" -v f="$push_floor" -v i="$idle_lib" -v hl="$hub_lib" -v hf="$hub_floor" 'BEGIN {
    printf "Single calls (medians of 5): push_delivery %.1f us (floor %.1f us), idle_poll %.0f ns, hub_push_delivery %.1f us (floor with the answer %.1f us).\n\n",
        l / 1000, f / 1000, i, hl / 1000, hf / 1000 }'

data="$build/fleet.dat"
"$build/bench/vek_fleet" "${args[@]}" --hostile 0.1 --push-lib-ns "$push_lib" \
    --push-floor-ns "$push_floor" --idle-lib-ns "$idle_lib" --data "$data"

# Latency and CPU per event against the rate, one line per mode, camera
# count and thread count (the hub's lines thick, with squares); the first
# saturated rate of each marked with a cross.
plot_lines() { # column, dash type
    local column="$1" dash="$2" sep="" n t h color=1 name point width
    for h in 0 1; do
        for n in $(awk -v h="$h" '!/^#/ && $12 == h { print $1 }' "$data" | sort -nu); do
            for t in $(awk -v n="$n" -v h="$h" '!/^#/ && $1 == n && $12 == h { print $2 }' "$data" | sort -nu); do
                if [ "$h" = 1 ]; then
                    name="hub, $n cameras" point=5 width=2.5
                else
                    name="$n cameras, T=$t" point=7 width=1
                fi
                printf '%s"< awk '"'"'$1 == %s && $2 == %s && $12 == %s && $11 == 1 && $3 > 0'"'"' %s" using 3:%s with linespoints lc %d dt %s lw %s pt %s ps 0.6 title "%s"' \
                    "$sep" "$n" "$t" "$h" "$data" "$column" "$color" "$dash" "$width" "$point" "$name"
                sep=", "
                color=$((color + 1))
            done
        done
    done
    printf '%s"< awk '"'"'$10 == 1 && $11 == 1'"'"' %s" using 3:%s with points lc rgb "red" pt 2 ps 2 lw 2 title "saturation"' \
        "$sep" "$data" "$column"
}
gnuplot <<GP
set terminal svg size 1100,460 dynamic font "sans,11" background rgb "white"
set output "$svg"
set multiplot layout 1,2 title "Fleet: per-camera listeners (N cameras, T threads) and the Notify hub (one port, one thread), pushes at rate R ($mode)"
set logscale xy
set xlabel "pushes per second (aggregate)"
set grid
set key top left font ",9"
set ylabel "latency, send to report (ms)"
set title "p99 (solid) and p50 (dashed)"
plot $(plot_lines 7 1), $(plot_lines 6 2 | sed 's/title "[^"]*"/notitle/g')
unset logscale y
set logscale x
set ylabel "recorder CPU per delivered event (us)"
set title "CPU per event"
set yrange [0:*]
plot $(plot_lines 9 1)
unset multiplot
GP
echo
echo "Drawn: $svg (data: $data)"
