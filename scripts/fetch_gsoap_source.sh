#!/usr/bin/env bash
# Fetches the source of the gSOAP runtime that the library compiles into
# itself: Debian's source package of the gSOAP the machine has (the version
# of its soapcpp2, 2.8.124 on Debian 12), unpacked with Debian's patches into
# .deps/gsoap-<version> (VEK_DEPS_DIR). Idempotent; silent when it is there.
#
# apt fetches it from Debian's archive with a private sources list, index
# folder and cache under .deps/apt, so the machine's apt configuration and
# state stay as they were; apt checks the downloaded files against the
# archive's signed index (InRelease, Debian's archive keyring). Nothing of
# the runtime's source goes into the repository (.deps is ignored).
#
# An offline build points CMake at a copy it already has instead:
#   cmake -DVEK_GSOAP_SOURCE=<unpacked folder, .dsc or tarball> ...
set -euo pipefail
cd "$(dirname "$0")/.."

version="${VEK_GSOAP_VERSION:-2.8.124}"
debian_revision="${VEK_GSOAP_DEBIAN_REVISION:-2}"
suite="${VEK_GSOAP_SUITE:-bookworm}"
deps="${VEK_DEPS_DIR:-$PWD/.deps}"
target="$deps/gsoap-$version"

[ -f "$target/gsoap/stdsoap2.cpp" ] && exit 0

for tool in apt-get dpkg-source; do
    command -v "$tool" >/dev/null || { echo "fetch_gsoap_source.sh: $tool is missing (dpkg-dev)" >&2; exit 1; }
done

apt_dir="$deps/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/download"
sources="$apt_dir/sources.list"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" >"$sources"

apt_options=(
    -o "Dir::Etc::SourceList=$sources"
    -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "Debug::NoLocking=1"
)
# apt drops to its own user for downloads; that user cannot write into a
# folder of ours, so the download stays with whoever runs this.
if [ "$(id -u)" -eq 0 ]; then
    apt_options+=(-o "APT::Sandbox::User=root")
fi

echo "Fetching Debian's source of gSOAP $version into $target"
apt-get "${apt_options[@]}" -qq update
(cd "$apt_dir/download" &&
    apt-get "${apt_options[@]}" -qq source --download-only "gsoap=$version-$debian_revision" >/dev/null)

rm -rf "$target.partial"
# dpkg-source applies Debian's patches, as Debian's own build does. (It
# cannot check the uploader's signature without Debian's developer keyring;
# apt has already checked every file against the archive's signed index.)
dpkg-source --no-copy -x "$apt_dir/download/gsoap_$version-$debian_revision.dsc" "$target.partial" \
    >"$apt_dir/dpkg-source.log" 2>&1 || { cat "$apt_dir/dpkg-source.log" >&2; exit 1; }
grep -q "GSOAP_VERSION $(echo "$version" | awk -F. '{printf "%d%02d%03d", $1, $2, $3}')" \
    "$target.partial/gsoap/stdsoap2.h" ||
    { echo "fetch_gsoap_source.sh: the fetched stdsoap2.h is not gSOAP $version" >&2; exit 1; }
mv "$target.partial" "$target"
