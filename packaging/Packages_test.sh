#!/usr/bin/env bash
# Builds the Debian packages with cpack from the build tree and checks what
# an administrator gets: the files each package holds, the conffile, the
# dependencies (computed and the plugins Qt loads at run time), nothing
# below /Library, the settings manual page against the key table of the
# code, changelog and copyright, the unit, stripped binaries, the maintainer
# scripts run by dpkg in a throw-away root, and no lintian error or warning.
#
# Usage: Packages_test.sh BUILD_DIR WITH_DESKTOP(ON/OFF) SETTINGS_KEY_LIST
set -uo pipefail
BUILD=$1 WITH_DESKTOP=$2 KEY_LIST=$3
HERE=$(cd "$(dirname "$0")" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

OUT=$(mktemp -d /tmp/brantwell-packages-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
if ! cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$OUT" >"$OUT/cpack.log" 2>&1; then
  cat "$OUT/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi

echo "($SECONDS s) packages built"
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
etc/default/brantwell
lib/systemd/system/BrantwellSrv.service
usr/share/dbus-1/system.d/com.Corvanta.BrantwellSrv.conf
usr/share/dbus-1/interfaces/com.Corvanta.BrantwellSrv.xml
usr/share/bash-completion/completions/brantwellctl
usr/share/man/man8/BrantwellSrv.8.gz
usr/share/man/man1/brantwellctl.1.gz
usr/share/man/man5/Brantwell.ini.5.gz
usr/share/doc/brantwell/README.md
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
# Mail over TLS checks servers against the system's trust store.
grep -qw ca-certificates <<<"$(dpkg-deb -f "$DAEMON_DEB" Recommends)" || fail "brantwell does not recommend ca-certificates"

# The administrator's knobs are a conffile: upgrades keep their changes.
conffiles=$(dpkg-deb -I "$DAEMON_DEB" conffiles 2>/dev/null)
[ "$conffiles" = /etc/default/brantwell ] || fail "conffiles are [$conffiles], not /etc/default/brantwell"

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

# The unit starts the binary the package ships, not one below /usr/local,
# with the port and data directory of /etc/default/brantwell, and survives
# a restart of D-Bus.
root=$OUT/root-brantwell
unit=$root/lib/systemd/system/BrantwellSrv.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ -x "$root${exec_start%% *}" ] || fail "the unit starts $exec_start, which the package does not hold"
grep -qx 'EnvironmentFile=-/etc/default/brantwell' "$unit" || fail "the unit does not read /etc/default/brantwell"
for var in BRANTWELL_PORT BRANTWELL_DATA_DIR; do
  grep -q "^$var=" "$root/etc/default/brantwell" || fail "/etc/default/brantwell does not set $var"
  grep -q "\${$var}" <<<"$exec_start" || fail "ExecStart does not use $var: $exec_start"
done
grep -q '^Requires=.*dbus' "$unit" && fail "the unit requires dbus.service: restarting D-Bus would stop it"
grep -qx 'Wants=dbus.service' "$unit" || fail "the unit does not want dbus.service"
grep -q '^After=.*dbus.service' "$unit" || fail "the unit does not start after dbus.service"
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
  # The plugins Qt loads at run time, which dpkg-shlibdeps cannot see: the
  # SVG image format (severity images) and the FFmpeg multimedia backend the
  # application chooses. Their packages are the ones that hold them here.
  for plugin in imageformats/libqsvg.so multimedia/libffmpegmediaplugin.so; do
    owner=$(dpkg -S "*/qt6/plugins/$plugin" 2>/dev/null | head -n1 | cut -d: -f1)
    [ -n "$owner" ] || { fail "no installed package holds the Qt plugin $plugin"; continue; }
    grep -Eq "(^|, )$owner( |,|$)" <<<"$depends" || fail "brantwell-desktop does not depend on $owner (Qt plugin $plugin): $depends"
  done
  # Each PNG has the size its folder names.
  for s in 16 22 24 32 48 64 128 256; do
    png=$OUT/root-brantwell-desktop/usr/share/icons/hicolor/${s}x${s}/apps/com.corvanta.Brantwell.png
    size=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
    [ "$size" = "${s}x${s}" ] || fail "icon in ${s}x${s} is $size"
  done
fi

# Nothing of the old top-level /Library: no file there, no path naming it
# in any file or maintainer script.
for deb in "${packages[@]}"; do
  dpkg-deb -c "$deb" | grep -q ' \./Library' && fail "$(basename "$deb") holds files below /Library"
done
mkdir -p "$OUT/unzipped"
for r in "$OUT"/root-*; do
  while IFS= read -r -d '' gz; do
    zcat "$gz" >"$OUT/unzipped/$(basename "$gz" .gz)"
  done < <(find "$r" -name '*.gz' -print0)
done
library=$(grep -rla '/Library' "$OUT"/root-* "$OUT/unzipped" "$OUT/control" 2>/dev/null)
[ -z "$library" ] || fail "these files name /Library: $library"

# Every key the daemon knows is in the settings manual page with its type and
# default, and the page names no key the daemon does not know. Entries are
# ".B key" followed by "(type, default value)" or "(type, no default)".
page=$(zcat "$root/usr/share/man/man5/Brantwell.ini.5.gz")
documented=$(awk 'prev ~ /^\.B [A-Za-z]+$/ && /^\(/ { print substr(prev, 4) "\t" $0 } { prev = $0 }' <<<"$page" | sort)
expected=$("$KEY_LIST" | sort)
[ "$(wc -l <<<"$expected")" -ge 50 ] || fail "the key table lists only $(wc -l <<<"$expected") keys"
keydiff=$(diff <(echo "$expected") <(echo "$documented"))
[ -z "$keydiff" ] || fail "Brantwell.ini(5) differs from the key table (< code, > manual page):"$'\n'"$keydiff"

# The changelog's top entry is the package's version; the copyright file is
# machine-readable.
for deb in "${packages[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  version=$(dpkg-deb -f "$deb" Version)
  zcat "$OUT/root-$name/usr/share/doc/$name/changelog.Debian.gz" >"$OUT/changelog-$name"
  top=$(dpkg-parsechangelog -l "$OUT/changelog-$name" -S Version 2>&1)
  [ "$top" = "$version" ] || fail "$name: the changelog's top entry is $top, the package $version"
  head -n1 "$OUT/root-$name/usr/share/doc/$name/copyright" \
    | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "$name: the copyright file is not machine-readable"
done

# The maintainer scripts under dpkg, in a throw-away root: first install of a
# lower version (the earlier revision), configure twice, upgrade, reinstall, remove, purge.
oldtree=$OUT/old-version
dpkg-deb -R "$DAEMON_DEB" "$oldtree"
sed -i 's/^Version: .*/Version: 1.0.0-1/' "$oldtree/DEBIAN/control"
grep -qx 'Version: 1.0.0-1' "$oldtree/DEBIAN/control" || fail "no lower version made"
mkdir -p "$OUT/old"
dpkg-deb -b "$oldtree" "$OUT/old/brantwell_1.0.0-1.deb" >/dev/null || fail "cannot build the lower version"
rm -rf "$oldtree"
echo "($SECONDS s) maintainer scripts"
"$HERE/MaintainerScripts_check.sh" "$DAEMON_DEB" "$OUT/old/brantwell_1.0.0-1.deb"
case $? in
  0) ;;
  77) echo "(the maintainer scripts were not run under dpkg; reason above)" ;;
  *) fail "maintainer scripts under dpkg" ;;
esac

echo "($SECONDS s) lintian"
# lintian: no error and no warning.
if ! lintian_out=$(lintian --fail-on error,warning --tag-display-limit 0 "${packages[@]}" 2>&1); then
  fail "lintian:"$'\n'"$lintian_out"
elif grep -Eq '^[EW]: ' <<<"$lintian_out"; then
  fail "lintian:"$'\n'"$lintian_out"
fi

echo "($SECONDS s) done"
[ $failures -eq 0 ] && echo "packages check out: $(cd "$OUT" && ls ./*.deb | tr '\n' ' ')"
exit $((failures > 0))
