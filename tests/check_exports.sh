#!/usr/bin/env bash
# The shared library exports the C interface, its namespace table and the
# callbacks libgsoap++ resolves from the program, and nothing else.
set -euo pipefail
lib="$1"
gsoap="$2"

exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
needed=$(nm -D --undefined-only "$gsoap" | awk '{print $2}' | grep -v '@' | grep -v -e '^_ITM' -e '^__gmon' | sort)

status=0
for sym in $needed; do
    if ! grep -qx "$sym" <<<"$exported"; then
        echo "missing callback for libgsoap++: $sym"
        status=1
    fi
done
for sym in $exported; do
    case "$sym" in
        VEK_Onvif_* | __Onvif_CalcNonce | __Onvif_CalcDigest | SHA1* | eventNamespaces) ;;
        *)
            if ! grep -qx "$sym" <<<"$needed"; then
                echo "unexpected export: $sym"
                status=1
            fi
            ;;
    esac
done
if grep -q '__VEK_Onvif' <<<"$exported"; then
    echo "internal steps must not be exported"
    status=1
fi
exit $status
