#!/usr/bin/env bash
# Installs BrantwellSrv as a system service: builds and installs the
# programs, creates group brantwell (adding the user who ran this through
# sudo), installs the systemd unit and the D-Bus policy, reloads both.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "install.sh: run it as root (sudo packaging/install.sh)" >&2
  exit 1
fi
./scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr/local
cmake --build "$BUILD_DIR" -j"$(nproc)"
cmake --install "$BUILD_DIR"

# The group is as good as root: the user who ran this joins it only when
# this run creates it, never again on a later run.
if ! getent group brantwell >/dev/null; then
  groupadd --system brantwell
  if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    usermod -a -G brantwell "$SUDO_USER"
    echo "install.sh: added $SUDO_USER to group brantwell (log in again to use it)"
  fi
fi
mkdir -p /var/lib/brantwell
chgrp brantwell /var/lib/brantwell
chmod 0750 /var/lib/brantwell

if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
  systemctl daemon-reload
  systemctl reload dbus 2>/dev/null || true
  systemctl enable --now BrantwellSrv.service
else
  echo "install.sh: no systemd running; start /usr/local/sbin/BrantwellSrv yourself"
fi
