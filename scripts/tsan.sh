#!/usr/bin/env bash
# Builds the concurrency test and the tests of Subscribe, the listener, the
# hub, the pull point, HTTPS cameras and the topic rules a recorder adds with
# ThreadSanitizer (VEK_BUILD_DIR, default build-tsan/) and runs them; a data
# race reported anywhere fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${VEK_BUILD_DIR:-build-tsan}"
tests=(test_concurrency test_subscription test_listener test_hub test_pull_point test_tls
    test_topic_rules)

./scripts/setup.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_TSAN=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${tests[@]}"

# (tests/tsan.supp: the simulator's HTTP server library, built without the
# sanitizer; nothing of the event library.)
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp ${TSAN_OPTIONS:-}"
# The sanitizer's shadow memory needs a fixed layout: kernels with many
# bits of mmap randomisation run the tests without address randomisation.
run=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
    run=(setarch "$(uname -m)" -R)
fi

failed=0
for test in "${tests[@]}"; do
    start=$SECONDS
    log="$build/tsan-$test.log"
    if "${run[@]}" "$build/tests/$test" --gtest_brief=1 >"$log" 2>&1; then
        echo "$test: no race reported ($((SECONDS - start)) s)"
    else
        failed=1
        echo "$test: FAILED under ThreadSanitizer (log: $log)"
        grep -E -A12 "WARNING: ThreadSanitizer|FAILED|Failure" "$log" | head -60 || true
    fi
done
exit $failed
