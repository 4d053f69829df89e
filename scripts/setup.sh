#!/usr/bin/env bash
# Installs what building and testing Quayside needs on Debian 12.
# Runs apt-get as root, through sudo when not root; does nothing when every
# package is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev
  nlohmann-json3-dev
  iproute2 nftables
  samba smbclient libnss-wrapper
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core fonts-liberation
  libglib2.0-dev libsecret-1-dev
  gvfs gvfs-backends gvfs-fuse fuse3 dbus xdg-utils
  gnome-keyring
  xvfb xdotool x11-utils x11-apps imagemagick libx11-dev libxext-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update -qq
as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
