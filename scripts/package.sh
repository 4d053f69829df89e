#!/usr/bin/env bash
# Builds the Debian package quayside. Usage: package.sh [BUILD_DIR]
#
# Installs what building needs (setup.sh, and the packaging tools), builds
# the programs and the installed files in BUILD_DIR (default build-deb/, with
# Debian's hardening flags; an existing build directory is reused as it is
# configured), runs CPack's DEB generator and checks the result: the desktop
# entries (desktop-file-validate), the AppStream metadata (appstreamcli,
# offline) and the package (lintian: no errors). The last lines of the
# output are the paths of the .deb files made.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-deb}

"$top/scripts/setup.sh"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
tools=(dpkg-dev file desktop-file-utils appstream lintian)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "package: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

args=(-DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
if [ ! -f "$build/CMakeCache.txt" ]; then
  # A new build directory: a release build with the distribution's flags.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
         "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
         "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)")
fi
cmake -S "$top" -B "$build" "${args[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target quayside-install-files -- --no-print-directory >/dev/null

desktop-file-validate "$top"/packaging/*.desktop >&2
appstreamcli validate --no-net "$top"/packaging/*.metainfo.xml >&2

rm -f "$build"/package/*.deb
(cd "$build" && cpack -G DEB) >&2
for deb in "$build"/package/*.deb; do
  lintian --fail-on error "$deb" >&2
done
ls -1 "$build"/package/*.deb
