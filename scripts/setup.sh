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

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Samba comes for the lab's private file servers on loopback addresses; the
# system's own smbd and nmbd, which its package starts on every interface,
# are stopped and kept from starting again.
quiet_samba() {
  local svc
  for svc in smbd nmbd samba-ad-dc; do
    if [ -d /run/systemd/system ] && command -v systemctl >/dev/null; then
      if systemctl is-enabled --quiet "$svc" 2>/dev/null || systemctl is-active --quiet "$svc" 2>/dev/null; then
        as_root systemctl disable --now "$svc" >/dev/null 2>&1 || true
      fi
    elif [ -x "/etc/init.d/$svc" ]; then
      if ls /etc/rc[2-5].d/S??"$svc" >/dev/null 2>&1 || "/etc/init.d/$svc" status >/dev/null 2>&1; then
        as_root "/etc/init.d/$svc" stop >/dev/null 2>&1 || true
        as_root update-rc.d "$svc" disable >/dev/null 2>&1 || true
      fi
    fi
  done
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  quiet_samba
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update -qq
as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
quiet_samba
