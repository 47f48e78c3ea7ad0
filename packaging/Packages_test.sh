#!/usr/bin/env bash
# Builds the Debian packages with cpack from the build tree and checks what
# an administrator gets: the files each package holds, the dependencies
# dpkg-shlibdeps computed, the maintainer scripts, a unit that starts the
# binary the package ships, stripped binaries, and no lintian error.
#
# Usage: Packages_test.sh BUILD_DIR WITH_DESKTOP(ON/OFF)
set -uo pipefail
BUILD=$1 WITH_DESKTOP=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

OUT=$(mktemp -d /tmp/brantwell-packages-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
if ! cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$OUT" >"$OUT/cpack.log" 2>&1; then
  cat "$OUT/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi

# Files (not directories) a package holds, without the leading "./".
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort; }

check_package() {
  local name=$1 expected=$2 deb
  deb=$(ls "$OUT"/"${name}"_*.deb 2>/dev/null)
  [ -f "$deb" ] || { fail "no package $name in: $(ls "$OUT")"; return 1; }
  local actual
  actual=$(files_of "$deb")
  local diff
  diff=$(diff <(sort <<<"$expected") <(echo "$actual"))
  [ -z "$diff" ] || fail "$name holds other files than expected (< expected, > built):"$'\n'"$diff"
  [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$name: wrong Package field"
  local version
  version=$(dpkg-deb -f "$deb" Version)
  grep -Eq '^[0-9]+\.[0-9]+\.[0-9]+-[0-9]+$' <<<"$version" || fail "$name: odd version $version"
  # Installs the package's files (not its scripts) into a directory.
  mkdir -p "$OUT/root-$name"
  dpkg-deb -x "$deb" "$OUT/root-$name"
}

DAEMON_FILES="usr/sbin/BrantwellSrv
usr/bin/brantwellctl
lib/systemd/system/BrantwellSrv.service
usr/share/dbus-1/system.d/com.Corvanta.BrantwellSrv.conf
usr/share/dbus-1/interfaces/com.Corvanta.BrantwellSrv.xml
usr/share/bash-completion/completions/brantwellctl
usr/share/man/man8/BrantwellSrv.8.gz
usr/share/man/man1/brantwellctl.1.gz
usr/share/doc/brantwell/copyright
usr/share/doc/brantwell/changelog.Debian.gz"
check_package brantwell "$DAEMON_FILES"
DAEMON_DEB=$(ls "$OUT"/brantwell_*.deb)

# Dependencies come from the libraries the binaries link, plus what the
# maintainer scripts call.
depends=$(dpkg-deb -f "$DAEMON_DEB" Depends)
for d in libc6 libsdbus-c++ libsystemd0 libssl3 libsqlite3 libicu adduser dbus; do
  grep -q "$d" <<<"$depends" || fail "brantwell does not depend on $d: $depends"
done

# The maintainer scripts: present, executable, valid shell; they never
# delete the data directory.
control_files=$(dpkg-deb --ctrl-tarfile "$DAEMON_DEB" | tar -tv)
for script in postinst prerm postrm; do
  grep -Eq "^-rwxr-xr-x .* \./$script\$" <<<"$control_files" || fail "brantwell: no executable $script"
done
mkdir -p "$OUT/control"
dpkg-deb -e "$DAEMON_DEB" "$OUT/control"
for script in postinst prerm postrm; do
  sh -n "$OUT/control/$script" || fail "$script is not valid shell"
done
grep -Eq 'rm .*(/var/lib/brantwell|DATA_DIR)' "$OUT/control/postrm" "$OUT/control/prerm" \
  && fail "a maintainer script deletes the stored events"
grep -q 'addgroup --system' "$OUT/control/postinst" || fail "postinst creates no system group"

# The unit starts the binary the package ships, not one below /usr/local.
root=$OUT/root-brantwell
exec_start=$(sed -n 's/^ExecStart=//p' "$root/lib/systemd/system/BrantwellSrv.service")
[ -x "$root$exec_start" ] || fail "the unit starts $exec_start, which the package does not hold"
# Binaries are stripped and modes are the usual ones.
for binary in usr/sbin/BrantwellSrv usr/bin/brantwellctl; do
  sections=$(readelf -S "$root/$binary")
  grep -q '\.debug_info' <<<"$sections" && fail "$binary is not stripped"
  [ "$(stat -c %a "$root/$binary")" = 755 ] || fail "$binary has mode $(stat -c %a "$root/$binary")"
done

packages=("$DAEMON_DEB")
if [ "$WITH_DESKTOP" = ON ]; then
  DESKTOP_FILES="usr/bin/Brantwell
usr/share/applications/com.corvanta.Brantwell.desktop
usr/share/metainfo/com.corvanta.Brantwell.metainfo.xml
usr/share/icons/hicolor/scalable/apps/com.corvanta.Brantwell.svg
$(for s in 16 22 24 32 48 64 128 256; do echo "usr/share/icons/hicolor/${s}x${s}/apps/com.corvanta.Brantwell.png"; done)
usr/share/man/man1/Brantwell.1.gz
usr/share/doc/brantwell-desktop/copyright
usr/share/doc/brantwell-desktop/changelog.Debian.gz"
  check_package brantwell-desktop "$DESKTOP_FILES"
  DESKTOP_DEB=$(ls "$OUT"/brantwell-desktop_*.deb)
  packages+=("$DESKTOP_DEB")
  depends=$(dpkg-deb -f "$DESKTOP_DEB" Depends)
  for d in libqt6widgets6 libqt6dbus6 "brantwell (= $(dpkg-deb -f "$DAEMON_DEB" Version))"; do
    grep -qF "$d" <<<"$depends" || fail "brantwell-desktop does not depend on $d: $depends"
  done
  # Each PNG has the size its folder names.
  for s in 16 22 24 32 48 64 128 256; do
    png=$OUT/root-brantwell-desktop/usr/share/icons/hicolor/${s}x${s}/apps/com.corvanta.Brantwell.png
    size=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
    [ "$size" = "${s}x${s}" ] || fail "icon in ${s}x${s} is $size"
  done
fi

# lintian: no error. Warnings are listed in the output for the reader.
if lintian_out=$(lintian --fail-on error --tag-display-limit 0 "${packages[@]}" 2>&1); then
  [ -n "$lintian_out" ] && echo "lintian (no errors):"$'\n'"$lintian_out"
else
  fail "lintian:"$'\n'"$lintian_out"
fi

[ $failures -eq 0 ] && echo "packages check out: $(cd "$OUT" && ls ./*.deb | tr '\n' ' ')"
exit $((failures > 0))
