#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only what is missing is installed; `apt-get update` runs at most once.
set -euo pipefail

PACKAGES=(
  cmake g++ pkg-config
  libgtest-dev libgmock-dev
  libsdbus-c++-dev libsdbus-c++-bin libsystemd-dev dbus
  nlohmann-json3-dev libicu-dev libssl-dev libsqlite3-dev openssl
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev libgl-dev
  python3-aiosmtpd util-linux xvfb poppler-utils rsyslog rsyslog-openssl clang libclang-rt-dev
  dpkg-dev lintian desktop-file-utils appstream librsvg2-bin man-db groff-base bash-completion
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
