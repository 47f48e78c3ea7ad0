#!/usr/bin/env bash
# Installs what is missing, builds, and starts the daemon in the foreground
# on the default data directory and UDP port 514. Extra arguments go to
# BrantwellSrv (see BrantwellSrv --help).
set -euo pipefail
cd "$(dirname "$0")"
if [ "$(id -u)" -ne 0 ]; then
  echo "run.sh: BrantwellSrv listens on UDP port 514 and writes /var/lib/brantwell;" >&2
  echo "run.sh: run it as root (sudo ./run.sh)." >&2
  exit 1
fi
./scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j"$(nproc)" --target BrantwellSrv brantwellctl

SYSTEM_BUS=/run/dbus/system_bus_socket
if [ -z "${DBUS_SYSTEM_BUS_ADDRESS:-}" ] && [ ! -S "$SYSTEM_BUS" ]; then
  # No system bus on this machine: start a private one with the stock
  # system bus policy and the project's, so the application and
  # brantwellctl (as root or a member of group brantwell) reach the daemon.
  BUS_DIR=/run/brantwell
  mkdir -p "$BUS_DIR"
  chmod 0755 "$BUS_DIR"
  ./scripts/private-bus-config.sh "$BUS_DIR/bus" "$PWD/packaging/com.Corvanta.BrantwellSrv.conf" > "$BUS_DIR/bus.conf"
  rm -f "$BUS_DIR/bus"
  dbus-daemon --config-file="$BUS_DIR/bus.conf" --fork --print-pid > "$BUS_DIR/bus.pid"
  for _ in $(seq 50); do [ -S "$BUS_DIR/bus" ] && break; sleep 0.1; done
  chmod 0777 "$BUS_DIR/bus"
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$BUS_DIR/bus"
  trap 'kill "$(cat "$BUS_DIR/bus.pid")" 2>/dev/null || true' EXIT
  echo "run.sh: no system bus here; started a private one. To reach the daemon:"
  echo "  export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS"
fi
echo "run.sh: starting BrantwellSrv (Ctrl-C stops it)"
"$BUILD_DIR/daemon/BrantwellSrv" "$@"
