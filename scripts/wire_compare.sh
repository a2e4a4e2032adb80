#!/usr/bin/env bash
# Compares the requests the library puts on the wire at two commits.
#
#   scripts/wire_compare.sh [OLD_COMMIT] [NEW_BUILD_DIR]
#
# Builds the library at OLD_COMMIT (default 9ad1e9d) in a worktree under
# /tmp, takes the current tree's build from NEW_BUILD_DIR (default build/,
# built already), compiles scripts/wire_capture.cpp against each, lets each
# drive every client operation against a capture peer on 127.0.0.1 and
# compares the captured requests, with nonce, digest, Created, MessageID
# and the peer's port masked. Exits 0 when they are identical. The old
# tree may be given in VEK_WIRE_OLD_TREE (a checkout of OLD_COMMIT).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
old_commit="${1:-9ad1e9d}"
new_build="$(realpath "${2:-build}")"
old_tree="${VEK_WIRE_OLD_TREE:-/tmp/wire-old-${old_commit}}"
work="$(mktemp -d /tmp/wire-compare.XXXXXX)"

if [ ! -d "$old_tree" ]; then
    git worktree add --detach "$old_tree" "$old_commit" >/dev/null
fi
if [ ! -f "$old_tree/build/CMakeCache.txt" ]; then
    cmake -S "$old_tree" -B "$old_tree/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$old_tree/build" -j2 --target vek_onvif_event vek_platform >/dev/null
cmake --build "$new_build" -j2 --target vek_onvif_event vek_platform >/dev/null

# capture SOURCE_TREE BUILD_DIR OUT_DIR
capture() {
    local tree=$1 build=$2 out=$3
    mkdir -p "$out"
    g++ -std=c++17 -Wall -Wextra -Werror -O1 -o "$out.bin" "$root/scripts/wire_capture.cpp" \
        "$root/tests/fixtures_lib/fixture_loopback.cpp" -I"$root/tests/fixtures_lib" \
        -I"$tree/include" -I"$build/include" -I"$tree/platform/include" \
        -L"$build" -lvek_onvif_event -lvek_platform -pthread -Wl,-rpath,"$build"
    timeout 60 "$out.bin" "$out" "$root/tests/fixtures"
}

capture "$old_tree" "$old_tree/build" "$work/old"
capture "$root" "$new_build" "$work/new"

echo "operations captured: $(ls "$work/new" | wc -l) (requests in $work/old and $work/new)"
if diff -ru "$work/old" "$work/new"; then
    echo "wire: identical ($old_commit and the current tree)"
else
    echo "wire: DIFFERENT ($old_commit and the current tree)"
    exit 1
fi
