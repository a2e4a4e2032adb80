#!/usr/bin/env bash
# The recorder's target: cross builds the library, its tests and tools for
# 32-bit ARM (Debian armhf) into build-armhf (VEK_ARMHF_BUILD_DIR), runs the
# whole test suite under qemu-user through ctest, and prints the stripped
# text size of libvek_onvif_event.so for armhf. Installs what it needs first
# (idempotent; silent when everything is there).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

triplet=arm-linux-gnueabihf
# The armhf libraries install beside the host ones (all Multi-Arch: same);
# the header-only CLI11 and nlohmann-json are architecture-free and come
# from setup.sh.
packages=(
    g++-$triplet gcc-$triplet binutils-$triplet qemu-user qemu-user-binfmt binfmt-support
    libgsoap-dev:armhf libmxml-dev:armhf libgtest-dev:armhf libgmock-dev:armhf
    libssl-dev:armhf libcpp-httplib-dev:armhf
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    $sudo dpkg --add-architecture armhf
    need_update=1
fi
missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    need_update=1
fi
if [ $need_update -eq 1 ]; then
    $sudo apt-get update -qq >/dev/null
fi
if [ ${#missing[@]} -gt 0 ]; then
    # A Multi-Arch: same package must have one version on both architectures:
    # apt upgrades the host's copy alongside when the armhf one is newer.
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# ctest starts each test program through qemu-arm, and test_tool starts
# onvif-events through it too. Registering qemu-arm with binfmt_misc (what
# qemu-user-binfmt provides, enabled here because no init system starts it)
# only makes armhf programs runnable by hand as well; it is not required.
binfmt_enabled() { grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-arm 2>/dev/null; }
if ! binfmt_enabled; then
    $sudo update-binfmts --enable qemu-arm >/dev/null 2>&1 ||
        echo "armhf.sh: qemu-arm not registered with binfmt_misc; tests run through qemu-arm" >&2
fi

build="${VEK_ARMHF_BUILD_DIR:-build-armhf}"
jobs="${VEK_ARMHF_JOBS:-2}"

start=$SECONDS
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/armhf-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE="${VEK_BUILD_TYPE:-RelWithDebInfo}" -DVEK_OPTIMIZE_FOR_SIZE=ON >/dev/null
cmake --build "$build" -j"$jobs"
built=$SECONDS
echo "armhf configure and build: $((built - start)) s"

ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 600
echo "armhf tests under qemu: $((SECONDS - built)) s"

stripped="$build/libvek_onvif_event.stripped.so"
cp "$build/libvek_onvif_event.so" "$stripped"
$triplet-strip "$stripped"
$triplet-size "$stripped"
text=$($triplet-size "$stripped" | awk 'NR == 2 {print $1}')
echo "armhf libvek_onvif_event.so stripped text size: $text bytes"
