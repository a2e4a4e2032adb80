#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang 14, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs each for a bounded time:
#   scripts/fuzz.sh [SECONDS]        (default 60 seconds per target)
# VEK_FUZZ_BUILD_DIR: build directory (default build-fuzz). VEK_FUZZ_TARGETS:
# the targets to run (default all). The corpus each run grows is kept in
# <build>/corpus/<target>; a crash, leak or hang leaves its input in
# <build>/artifacts/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build="${VEK_FUZZ_BUILD_DIR:-build-fuzz}"

./scripts/setup.sh
# The compiler and the fuzzer runtime: only this script needs them.
missing=()
for pkg in clang-14 libclang-rt-14-dev; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq >/dev/null
    $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S fuzz -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" -j2
"$build/make_seeds" "$build/seeds" >/dev/null
# Seeds kept as files: fuzz/seeds/<target>/.
for folder in fuzz/seeds/*/; do
    target=$(basename "$folder")
    mkdir -p "$build/seeds/$target"
    cp "$folder"* "$build/seeds/$target/"
done

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Longest input per target: a Notify or a topic set may be large, one
# message or a holder's content is small, header values smaller still.
declare -A max_len=([node_property]=32768 [alarm_msg]=16384 [prope_msg]=65536 [listener]=65536
    [www_authenticate]=4096 [http_date]=128 [pull_point_reference]=65536 [holder_content]=16384
    [hub_frame]=65536)
targets="${VEK_FUZZ_TARGETS:-node_property alarm_msg prope_msg listener www_authenticate http_date
    pull_point_reference holder_content hub_frame}"
failed=0
mkdir -p "$build/artifacts" "$build/logs"
for target in $targets; do
    corpus="$build/corpus/$target"
    log="$build/logs/$target.log"
    mkdir -p "$corpus"
    echo "== fuzz_$target: ${seconds}s =="
    start=$(date +%s)
    if "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="${max_len[$target]}" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$corpus" "$build/seeds/$target" \
        >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: ${runs:-?} executions in $(($(date +%s) - start))s," \
            "corpus $(find "$corpus" -type f | wc -l) inputs"
    else
        failed=1
        echo "fuzz_$target FAILED (log: $log)"
        grep -E "ERROR|SUMMARY|Test unit written|#[0-9]+ +0x" "$log" | head -40 || true
    fi
done
exit $failed
