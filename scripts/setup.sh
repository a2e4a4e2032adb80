#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the
# library, its tools and tests, and fetches the source of the gSOAP runtime
# the library compiles in (fetch_gsoap_source.sh). Idempotent; silent when
# everything is there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config dpkg-dev
    gsoap libgsoap-dev libmxml-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libcpp-httplib-dev libcli11-dev nlohmann-json3-dev libssl-dev
)

install_missing() {
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq >/dev/null
    $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    install_missing
fi
# The gSOAP runtime compiled into the library: Debian's source package.
"$(dirname "$0")/fetch_gsoap_source.sh"

