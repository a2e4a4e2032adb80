#!/usr/bin/env bash
# Runs the integration tests (Subscribe and the listener, the pull point,
# discovery over the wire, HTTPS) once under valgrind memcheck; any memory error or
# definite leak fails. The build directory is VEK_BUILD_DIR (default build/,
# configured and built here if needed).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${VEK_BUILD_DIR:-build}"
tests=(test_subscription test_listener test_pull_point test_discovery_wire test_tls)

./scripts/setup.sh
if ! command -v valgrind >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq >/dev/null
    $sudo apt-get install -y -qq valgrind >/dev/null
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${VEK_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j2 --target "${tests[@]}"

# GoogleTest prints a test parameter without a printer byte by byte,
# padding included: uninitialised reads in the test framework, not in the
# library.
suppressions="$build/valgrind-gtest.supp"
cat >"$suppressions" <<'SUPP'
{
   gtest-prints-parameter-padding-value
   Memcheck:Value8
   ...
   fun:*PrintBytesInObjectTo*
}
{
   gtest-prints-parameter-padding-cond
   Memcheck:Cond
   ...
   fun:*PrintBytesInObjectTo*
}
SUPP

failed=0
for test in "${tests[@]}"; do
    start=$(date +%s)
    log="$build/valgrind-$test.log"
    if valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
        --show-leak-kinds=definite --suppressions="$suppressions" --log-file="$log" \
        "$build/tests/$test" --gtest_brief=1 >"$build/valgrind-$test.out" 2>&1; then
        echo "$test: clean under valgrind ($(($(date +%s) - start))s)"
    else
        failed=1
        echo "$test: FAILED under valgrind (log: $log)"
        grep -E "ERROR SUMMARY|definitely lost|Invalid|uninitialised" "$log" | head -20 || true
        grep -E "FAILED|Failure" "$build/valgrind-$test.out" | head -20 || true
    fi
done
exit $failed
