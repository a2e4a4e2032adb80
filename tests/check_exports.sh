#!/usr/bin/env bash
# The shared library exports the C interface, its namespace table and the
# callbacks libgsoap++ resolves from the program, and nothing else. It
# carries the SONAME of its major version (VERSION file), leaves the platform
# symbols to the program (defines none, names no platform library) and
# needs no RUNPATH.
#   check_exports.sh LIBRARY LIBGSOAP++ PLATFORM_STAND_IN VERSION_FILE
set -euo pipefail
lib="$1"
gsoap="$2"
platform="$3"
version_file="$4"

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
for sym in VEK_Onvif_GetVersion; do
    if ! grep -qx "$sym" <<<"$exported"; then
        echo "not exported: $sym"
        status=1
    fi
done

dynamic=$(readelf -d "$lib")
major=$(cut -d. -f1 "$version_file")
soname=$(sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' <<<"$dynamic")
if [ "$soname" != "libvek_onvif_event.so.$major" ]; then
    echo "SONAME is '$soname', expected libvek_onvif_event.so.$major"
    status=1
fi
if grep -q 'NEEDED.*vek_platform' <<<"$dynamic"; then
    echo "the library names the platform stand-in: $(grep NEEDED <<<"$dynamic" | grep vek_platform)"
    status=1
fi
if grep -q -e '(RUNPATH)' -e '(RPATH)' <<<"$dynamic"; then
    echo "the library carries a run path: $(grep -e RUNPATH -e RPATH <<<"$dynamic")"
    status=1
fi
undefined=$(nm -D --undefined-only "$lib" | awk '{print $2}' | sort)
platform_syms=$(nm -D --defined-only "$platform" | awk '{print $3}' | sort)
for sym in $platform_syms; do
    if grep -qx "$sym" <<<"$exported"; then
        echo "the library defines the platform symbol $sym"
        status=1
    fi
done
if ! grep -qx ZU_MEM_MallocEx <<<"$undefined"; then
    echo "ZU_MEM_MallocEx is not left to the program"
    status=1
fi
exit $status
