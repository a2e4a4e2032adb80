#!/usr/bin/env bash
# Builds the benchmark suite in Release (build-bench/), runs it with
# repetitions and prints one table: each library benchmark against its floor
# measured in the same run, the ratio of the medians and the target; then the
# stripped text size of the shared library for x86_64 and armhf.
# Repetitions in VEK_BENCH_REPETITIONS (default 9); extra arguments go to the
# benchmark program (e.g. --benchmark_filter=translate).
#
# `scripts/bench.sh fleet` (about five minutes) and `scripts/bench.sh fleet-long`
# run the fleet benchmark instead (see scripts/fleet.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
fleet | fleet-long) exec ./scripts/fleet.sh "$@" ;;
esac

build=build-bench
reps="${VEK_BENCH_REPETITIONS:-9}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEK_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target vek_bench vek_onvif_event >/dev/null

json="$build/bench.json"
"$build/bench/vek_bench" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
    --benchmark_out="$json" --benchmark_out_format=json "$@" >"$build/bench.log" 2>&1 ||
    { cat "$build/bench.log" >&2; exit 1; }

python3 - "$json" <<'EOF'
import json
import sys

# Target ratio of each benchmark (library median / floor median).
targets = {
    "translate_1msg": 1.5,
    "translate_10msg": 1.5,
    "translate_nested_1MiB": 1.5,
    "discovery_walk": 3.0,
    "idle_poll": 5.0,
    "push_delivery": 3.0,
    "renew_request": 3.0,
    "hub_push_delivery": 1.5,
}
# Rows set against another benchmark than "<name>/floor": row, library
# benchmark, its baseline, target.
pairs = [("hub_idle_poll 1024 vs 1", "hub_idle_poll_1024", "hub_idle_poll_1", 1.2)]
floors = {
    "translate_1msg": "mxmlLoadString + mxmlDelete of the message text",
    "translate_10msg": "mxmlLoadString + mxmlDelete of the 10 message texts",
    "translate_nested_1MiB": "mxmlLoadString + mxmlDelete of the nested message text",
    "discovery_walk": "mxmlLoadString + mxmlDelete of the topic-set text",
    "idle_poll": "non-blocking accept() answering EAGAIN",
    "push_delivery": "connect, send, accept, read the bytes, close",
    "renew_request": "same HTTP exchange of the same bytes, plain sockets",
    "hub_push_delivery": "connect, send, accept, read the bytes, write the same 202 answer, close",
    "hub_idle_poll": "the same Poll(0) with one camera registered",
}

with open(sys.argv[1]) as f:
    data = json.load(f)

medians = {}
counters = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name = b["run_name"].split("/iterations:")[0]
    if name.endswith("/real_time"):
        name = name[: -len("/real_time")]
        value = b["real_time"]
    else:
        value = b["cpu_time"]
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    medians[name] = value * scale
    counters[name] = b

def fmt(ns):
    return f"{ns / 1000:.2f} us" if ns >= 1000 else f"{ns:.0f} ns"

rows = []
table = [(key, key + "/lib", key + "/floor", target) for key, target in targets.items()] + pairs
for key, libName, floorName, target in table:
    lib, floor = medians.get(libName), medians.get(floorName)
    if lib is None or floor is None:
        continue
    ratio = lib / floor
    c = counters[libName]
    heap = f"{c.get('heap_peak_B', 0) / 1024:.1f} KiB / {c.get('heap_allocs', 0):.0f}"
    rows.append((key, fmt(lib), fmt(floor), f"{ratio:.2f}", f"<= {target:g}",
                 "yes" if ratio <= target else "NO", heap))

print("| benchmark | median | floor median | ratio | target | met | peak heap / allocations per call |")
print("|---|---|---|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
print()
shown = [r[0].split(" ")[0] for r in rows]
print("Floors: " + "; ".join(f"{k}: {v}" for k, v in floors.items() if k in shown) + ".")
push = counters.get("push_delivery/lib")
if push is not None and "stack_B" in push:
    print(f"Listener stack depth (Recv_Notify on a real Notify): {push['stack_B'] / 1024:.1f} KiB.")

# The hub's memory: its own heap, as the allocation counter sees it.
memory = [("hub_memory_camera", "camera_B", "per registered camera (its record, event URL copy and "
           "table entry; the caller's configuration and inputs not counted)", 512),
          ("hub_memory_connection", "connection_B", "per idle kept-alive connection (its "
           "record, buffers and table entry; the kernel's socket buffers not counted)", 4096)]
for name, counter, what, target in memory:
    c = counters.get(name)
    if c is None or counter not in c:
        continue
    value = c[counter]
    print(f"Hub heap {what}: {value:.0f} B (target <= {target} B): "
          + ("met" if value <= target else "MISSED"))
EOF

echo
lib="$build/libvek_onvif_event.so"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
strip -o "$tmp/x86_64.so" "$lib"
text=$(size "$tmp/x86_64.so" | awk 'NR == 2 { print $1 }')
echo "x86_64: stripped text $text bytes ($((text / 1024)) KiB)"
if [ -f build-armhf/libvek_onvif_event.so ]; then
    arm-linux-gnueabihf-strip -o "$tmp/armhf.so" build-armhf/libvek_onvif_event.so
    text=$(size "$tmp/armhf.so" | awk 'NR == 2 { print $1 }')
    echo "armhf: stripped text $text bytes ($((text / 1024)) KiB, target <= 240 KiB)"
else
    echo "armhf: not built (run scripts/armhf.sh)"
fi
