#!/usr/bin/env bash
# Prints the configuration of a private system bus: Debian's stock system
# bus configuration (deny by default) with its own listen address, without
# what only the machine's own bus may do (user switch, fork, pid file,
# syslog, activation, the machine's policy directories), and with the given
# policy files included, as a package installs them.
# Usage: private-bus-config.sh SOCKET [POLICY_FILE...]
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 SOCKET [POLICY_FILE...]" >&2
  exit 2
fi
socket=$1
shift
stock=/usr/share/dbus-1/system.conf
grep -q '<policy context="default">' "$stock" || {
  echo "$0: $stock is not the stock system bus configuration (package dbus)" >&2
  exit 1
}
includes=""
for f in "$@"; do
  includes+="  <include>$f</include>"$'\n'
done
sed -E \
  -e 's|<user>[^<]*</user>||' \
  -e 's|<fork\s*/>||' \
  -e 's|<pidfile>[^<]*</pidfile>||' \
  -e 's|<syslog\s*/>||' \
  -e 's|<standard_system_servicedirs\s*/>||' \
  -e 's|<servicehelper>[^<]*</servicehelper>||' \
  -e 's|<includedir>[^<]*</includedir>||' \
  -e 's|<include\b[^>]*>[^<]*</include>||' \
  -e "s|<listen>[^<]*</listen>|<listen>unix:path=$socket</listen>|" \
  "$stock" | awk -v inc="$includes" '/<\/busconfig>/ { printf "%s", inc } { print }'
