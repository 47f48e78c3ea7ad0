#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j"$(nproc)"
# No test may reach the machine's own system bus: tests that need a bus
# start a private one and point this variable at it.
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/brantwell-test-no-bus
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" --timeout 600
