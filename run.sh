#!/usr/bin/env bash
# Installs what is missing, builds, and starts the daemon in the foreground
# on the default data directory and UDP port 514.
set -euo pipefail
cd "$(dirname "$0")"
if [ "$(id -u)" -ne 0 ]; then
  echo "run.sh: BrantwellSrv listens on UDP port 514 and writes /Library/Brantwell;" >&2
  echo "run.sh: run it as root (sudo ./run.sh)." >&2
  exit 1
fi
./scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j"$(nproc)" --target BrantwellSrv
exec "$BUILD_DIR/daemon/BrantwellSrv" "$@"
