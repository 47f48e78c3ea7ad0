#!/usr/bin/env bash
# Builds the Debian packages: brantwell (daemon, brantwellctl, unit, bus
# policy) and brantwell-desktop (the application), in build-package/packages.
# The build uses Debian's hardening flags (dpkg-buildflags) and installs
# below /usr; lintian checks the result.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build-package}
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DBRANTWELL_BUILD_TESTS=OFF \
  "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
# Only what the packages hold.
cmake --build "$BUILD_DIR" -j"$(nproc)" --target BrantwellSrv brantwellctl Brantwell brantwell_system_files
rm -f "$BUILD_DIR"/packages/*.deb
(cd "$BUILD_DIR" && cpack -G DEB)
lintian --fail-on error,warning "$BUILD_DIR"/packages/*.deb
echo "package.sh: built"
ls -1 "$BUILD_DIR"/packages/*.deb
