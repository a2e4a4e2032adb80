#!/usr/bin/env bash
# Installs the library from a configured build directory (VEK_BUILD_DIR,
# default build/) into a temporary prefix and uses it as a recorder would:
# a C program built with `pkg-config --cflags --libs vek_onvif_event` and a
# CMake project using find_package(vek_onvif_event), both defining the
# platform symbols themselves, their XML helper with Mini-XML
# (tests/install/), run with every symbol bound at load time, and the same
# program loading the library with dlopen, which works only when it was
# linked with -rdynamic. Checks that no installed file carries a run path and that the
# platform stand-in installs only as its own component. Then builds the
# Debian packages (cpack -G DEB) and prints dpkg-deb -I of each. A cross build
# (cmake/armhf-toolchain.cmake) is checked the same way, its programs run
# through the build's emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="${VEK_BUILD_DIR:-build}"
version=$(cat VERSION)
major=${version%%.*}

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${VEK_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
fi
cmake --build "$build" -j"${VEK_JOBS:-2}" --target vek_onvif_event vek_platform

# The C compiler the build found (a toolchain file's is not cached).
cc=$(sed -n 's/^set(CMAKE_C_COMPILER "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCCompiler.cmake | head -1)
toolchain=$(cache_value CMAKE_TOOLCHAIN_FILE)
# The armhf toolchain file names its emulator in VEK_QEMU_ARM.
emulator=$(cache_value VEK_QEMU_ARM)
libdir=$(cache_value CMAKE_INSTALL_LIBDIR)
triplet=$(cache_value CMAKE_LIBRARY_ARCHITECTURE)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

echo "-- cmake --install $build --prefix $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -mindepth 1 \( -type f -o -type l \) | sort | sed 's/^\.\//   /')

status=0
check() {
    if ! "$@"; then
        status=1
    fi
}
expect_file() {
    if [ ! -e "$prefix/$1" ]; then
        echo "missing: $1"
        return 1
    fi
}
check expect_file "$libdir/libvek_onvif_event.so.$version"
check expect_file "$libdir/libvek_onvif_event.so.$major"
check expect_file "$libdir/libvek_onvif_event.so"
check expect_file "$libdir/pkgconfig/vek_onvif_event.pc"
check expect_file "$libdir/cmake/vek_onvif_event/vek_onvif_event-config.cmake"
check expect_file "include/vek_onvif_event/vek_onvif_event.h"
check expect_file "include/vek_onvif_event/vek_onvif_event_version.h"
check expect_file "include/vek_onvif_event/vek_platform.h"
if find "$prefix" -name 'libvek_platform*' | grep -q .; then
    echo "the platform stand-in was installed without being asked for"
    status=1
fi

soname=$(readelf -d "$prefix/$libdir/libvek_onvif_event.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
echo "-- SONAME $soname"
[ "$soname" = "libvek_onvif_event.so.$major" ] || {
    echo "SONAME is $soname"
    status=1
}

no_run_path() {
    local dir="$1" found=0 file
    while IFS= read -r file; do
        if readelf -h "$file" >/dev/null 2>&1 && readelf -d "$file" | grep -q -e '(RUNPATH)' -e '(RPATH)'; then
            echo "run path in $file: $(readelf -d "$file" | grep -e RUNPATH -e RPATH)"
            found=1
        fi
    done < <(find "$dir" -type f)
    return $found
}
check no_run_path "$prefix"

run() {
    # shellcheck disable=SC2086
    env LD_BIND_NOW=1 LD_LIBRARY_PATH="$prefix/$libdir" $emulator "$@"
}

echo "-- C program built with pkg-config"
pc_path="$prefix/$libdir/pkgconfig"
if [ -n "$triplet" ] && [ -n "$toolchain" ]; then
    export PKG_CONFIG_LIBDIR="$pc_path:/usr/lib/$triplet/pkgconfig:/usr/share/pkgconfig"
else
    export PKG_CONFIG_PATH="$pc_path${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"
fi
flags=$(pkg-config --cflags --libs vek_onvif_event)
echo "   pkg-config --cflags --libs vek_onvif_event: $flags"
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror tests/install/consumer.c $flags -o "$work/consumer-pc"
if readelf -d "$work/consumer-pc" | grep NEEDED | grep -q vek_platform; then
    echo "the program needs the platform stand-in"
    status=1
fi
check run "$work/consumer-pc" "$version"

echo "-- C program that loads the library with dlopen"
# Its platform symbols are exported only with -rdynamic; without it the library cannot be loaded.
dl_flags=$(pkg-config --cflags vek_onvif_event)
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -DCONSUMER_DLOPEN tests/install/consumer.c $dl_flags \
    $(pkg-config --libs mxml) -ldl -rdynamic -o "$work/consumer-dlopen"
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -DCONSUMER_DLOPEN tests/install/consumer.c $dl_flags \
    $(pkg-config --libs mxml) -ldl -o "$work/consumer-dlopen-hidden"
check run "$work/consumer-dlopen" "libvek_onvif_event.so.$major" "$version"
if run "$work/consumer-dlopen-hidden" "libvek_onvif_event.so.$major" "$version" 2>"$work/dlopen.err"; then
    echo "the library loaded without the program's platform symbols exported"
    status=1
elif ! grep -q "undefined symbol" "$work/dlopen.err"; then
    echo "dlopen without -rdynamic failed otherwise: $(cat "$work/dlopen.err")"
    status=1
else
    echo "   without -rdynamic: $(cat "$work/dlopen.err")"
fi

echo "-- CMake project with find_package(vek_onvif_event)"
cmake_args=(-DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release)
if [ -n "$toolchain" ]; then
    cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
fi
cmake -S tests/install -B "$work/consumer-cmake" "${cmake_args[@]}" >/dev/null
cmake --build "$work/consumer-cmake" >/dev/null
check run "$work/consumer-cmake/consumer" "$version"

echo "-- component platform"
cmake --install "$build" --prefix "$work/platform" --component platform >/dev/null
(cd "$work/platform" && find . -mindepth 1 \( -type f -o -type l \) | sort | sed 's/^\.\//   /')
check test -e "$work/platform/$libdir/libvek_platform.so.$major"

echo "-- Debian packages"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
for deb in "$build"/packages/*.deb; do
    echo "== $(basename "$deb")"
    dpkg-deb -I "$deb"
    dpkg-deb -c "$deb" | awk '{print "   " $6 ($7 ? " " $7 " " $8 : "")}'
    mkdir -p "$work/deb"
    dpkg-deb -x "$deb" "$work/deb"
done
check no_run_path "$work/deb"
# The runtime package: no gSOAP package, a shlibs file, an ldconfig trigger
# and a copyright file in each package.
for deb in "$build"/packages/*.deb; do
    name=$(dpkg-deb -f "$deb" Package)
    if dpkg-deb -f "$deb" Depends | grep -q gsoap; then
        echo "$name depends on gSOAP: $(dpkg-deb -f "$deb" Depends)"
        status=1
    fi
    if ! dpkg-deb -c "$deb" | grep -q "usr/share/doc/$name/copyright"; then
        echo "$name has no copyright file"
        status=1
    fi
    case "$name" in
    libvek-onvif-event"$major")
        control="$work/control-$name"
        dpkg-deb -e "$deb" "$control"
        grep -qx "libvek_onvif_event $major $name (>= $version-1)" "$control/shlibs" ||
            { echo "$name: shlibs is '$(cat "$control/shlibs" 2>/dev/null)'"; status=1; }
        grep -qx "activate-noawait ldconfig" "$control/triggers" ||
            { echo "$name: no ldconfig trigger"; status=1; }
        ;;
    esac
done

cd "$root"
if [ $status -ne 0 ]; then
    echo "install check FAILED"
    exit 1
fi
echo "install check passed"
