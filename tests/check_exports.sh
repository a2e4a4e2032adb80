#!/usr/bin/env bash
# The shared library exports exactly what its headers declare (the C
# interface and the namespace table eventNamespaces) and nothing of the
# gSOAP runtime compiled into it: no soap_* symbol, no "namespaces", no
# NEEDED gSOAP library, and no reference to a soap_* symbol left for the
# process to bind. It carries the SONAME of its major version (VERSION
# file), leaves the platform symbols to the program (defines none, names no
# platform library) and needs no RUNPATH.
#   check_exports.sh LIBRARY PLATFORM_STAND_IN VERSION_FILE HEADER...
set -euo pipefail
lib="$1"
platform="$2"
version_file="$3"
shift 3

exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
# Every name the headers declare with VEK_ONVIF_API.
declared=$(grep -h -v '^#' "$@" | grep -o 'VEK_ONVIF_API[^(;]*[ *][A-Za-z_0-9]*[[:space:]]*[([]' |
    sed 's/.*[ *]\([A-Za-z_0-9]*\)[[:space:]]*[([]$/\1/' | sort -u)

status=0
if [ "$exported" != "$declared" ]; then
    echo "exports differ from the headers' declarations (< exported, > declared):"
    diff <(echo "$exported") <(echo "$declared") || true
    status=1
fi
if grep -q -e '^soap_' -e '^namespaces$' <<<"$exported"; then
    echo "the library exports the runtime: $(grep -e '^soap_' -e '^namespaces$' <<<"$exported" | head -5)"
    status=1
fi
undefined=$(nm -D --undefined-only "$lib" | awk '{print $2}' | sort)
if grep -q -e '^soap_' -e '^namespaces$' -e '^_Z.*soap' <<<"$undefined"; then
    echo "the library leaves runtime symbols to the process: $(grep -e '^soap_' -e '^_Z.*soap' <<<"$undefined" | head -5)"
    status=1
fi

dynamic=$(readelf -d "$lib")
if grep -q 'NEEDED.*gsoap' <<<"$dynamic"; then
    echo "the library needs a gSOAP library: $(grep NEEDED <<<"$dynamic" | grep gsoap)"
    status=1
fi
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
