#!/usr/bin/env bash
# Runs the brantwell package's maintainer scripts the way dpkg runs them, in
# a throw-away root: the machine's own root seen through an overlay whose
# writes land in a tmpfs of a private mount namespace, so that dpkg --root
# installs, upgrades, removes and purges without changing the machine (its
# groups, its dpkg database, its systemd units). No systemd and no system
# bus run in that root. Called by Packages_test.sh.
#
# Usage: MaintainerScripts_check.sh NEW_DEB OLD_DEB (OLD_DEB: a lower version)
# Exit: 0 passed, 1 failed, 77 the root cannot be made here (reason printed).
set -uo pipefail
NEW=$1 OLD=$2

if [ -z "${BRANTWELL_IN_THROWAWAY_NS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: the throw-away root needs root (mount namespaces, dpkg --root)"; exit 77; }
  command -v unshare >/dev/null || { echo "SKIP: no unshare"; exit 77; }
  unshare -m --propagation private true 2>/dev/null || { echo "SKIP: no private mount namespace here"; exit 77; }
  BRANTWELL_IN_THROWAWAY_NS=1 exec unshare -m --propagation private "$0" "$@"
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

T=$(mktemp -d /tmp/brantwell-root-XXXXXX)
mount -t tmpfs -o mode=0755 tmpfs "$T" || { echo "SKIP: tmpfs cannot be mounted"; exit 77; }
mkdir -p "$T/upper" "$T/work" "$T/root"
if ! mount -t overlay overlay -o "lowerdir=/,upperdir=$T/upper,workdir=$T/work" "$T/root" 2>/dev/null; then
  echo "SKIP: no overlay file system over / here"
  exit 77
fi
R=$T/root
mount --rbind /dev "$R/dev"
mount -t proc proc "$R/proc"
# Empty /run and /tmp: no systemd as PID 1, no system bus to reload.
mount -t tmpfs tmpfs "$R/run"
mount -t tmpfs tmpfs "$R/tmp"

# As in any chroot: no init script is started or reloaded from inside (the
# bus's trigger would reload it), and man-db does not rebuild its index
# after every step (seconds each).
printf '#!/bin/sh\nexit 101\n' >"$R/usr/sbin/policy-rc.d"
chmod 755 "$R/usr/sbin/policy-rc.d"
rm -f "$R/var/lib/man-db/auto-update"

in_root() { chroot "$R" "$@"; }
# dpkg as an administrator runs it through sudo.
dpkg_as_admin() { SUDO_USER=brantwelladmin DEBIAN_FRONTEND=noninteractive dpkg --root="$R" --force-unsafe-io "$@" >"$T/dpkg.log" 2>&1 || { cat "$T/dpkg.log"; fail "dpkg $*"; }; }

# A clean start: the root is the machine's, which may have had brantwell.
in_root dpkg --purge brantwell-desktop brantwell >/dev/null 2>&1
in_root delgroup --quiet brantwell >/dev/null 2>&1
in_root rm -rf /var/lib/brantwell /etc/systemd/system/BrantwellSrv.service \
  /etc/systemd/system/multi-user.target.wants/BrantwellSrv.service /var/lib/systemd/deb-systemd-helper-enabled/BrantwellSrv.service.dsh-also \
  /var/lib/systemd/deb-systemd-helper-masked/BrantwellSrv.service
in_root useradd --no-create-home --shell /usr/sbin/nologin brantwelladmin || fail "useradd"

WANTS=/etc/systemd/system/multi-user.target.wants/BrantwellSrv.service
MASK=/etc/systemd/system/BrantwellSrv.service
members() { in_root getent group brantwell | cut -d: -f4; }
check_state() {  # what every step leaves: one group, one directory root:brantwell 0750
  local step=$1
  [ "$(grep -c '^brantwell:' "$R/etc/group")" = 1 ] || fail "$step: group brantwell is in /etc/group $(grep -c '^brantwell:' "$R/etc/group") times"
  [ "$(grep -c '^brantwell:' "$R/etc/gshadow")" = 1 ] || fail "$step: group brantwell is in /etc/gshadow more or less than once"
  local owner
  owner=$(in_root stat -c '%U:%G %a' /var/lib/brantwell 2>&1)
  [ "$owner" = "root:brantwell 750" ] || fail "$step: /var/lib/brantwell is $owner"
  [ "$(in_root dpkg-query -W -f '${Status}' brantwell 2>/dev/null)" = "install ok installed" ] || fail "$step: brantwell is not installed"
}

# First installation (of the lower version): the group, the directory, the
# sudo user in the group, the unit enabled (symlink only: no systemd runs).
dpkg_as_admin -i "$OLD"
check_state "first install"
[ "$(members)" = brantwelladmin ] || fail "first install: group members are [$(members)], not the sudo user"
[ -L "$R$WANTS" ] || fail "first install: the unit is not enabled"
grep -q '^BRANTWELL_DATA_DIR=/var/lib/brantwell$' "$R/etc/default/brantwell" || fail "no /etc/default/brantwell"
# configure run twice in a row changes nothing.
DPKG_MAINTSCRIPT_PACKAGE=brantwell DPKG_MAINTSCRIPT_NAME=postinst SUDO_USER=brantwelladmin \
  in_root /var/lib/dpkg/info/brantwell.postinst configure "" >/dev/null || fail "postinst configure again"
check_state "postinst configure again"

# The administrator takes the user out of the group; nothing puts them back.
in_root gpasswd -d brantwelladmin brantwell >/dev/null || fail "gpasswd -d"
echo "PORT_NOTE=kept" >>"$R/etc/default/brantwell"  # the administrator's own line
dpkg_as_admin -i "$NEW"
check_state "upgrade"
[ -z "$(members)" ] || fail "upgrade added [$(members)] to group brantwell"
dpkg_as_admin -i "$NEW"
check_state "reinstall"
[ -z "$(members)" ] || fail "reinstall added [$(members)] to group brantwell"
grep -q '^PORT_NOTE=kept$' "$R/etc/default/brantwell" || fail "an upgrade replaced the administrator's /etc/default/brantwell"
[ -L "$R$WANTS" ] || fail "upgrade: the unit is no longer enabled"

# Remove and install again: the unit is enabled again, the events stay.
echo "1700000000,User.Notice,10.0.0.1,kept" >"$R/var/lib/brantwell/2023-11-14.log"
dpkg_as_admin -r brantwell
[ -d "$R/var/lib/brantwell" ] || fail "remove deleted /var/lib/brantwell"
[ "$(readlink "$R$MASK")" = /dev/null ] || fail "remove did not mask the unit"
dpkg_as_admin -i "$NEW"
check_state "install after remove"
[ -L "$R$WANTS" ] || fail "install after remove: the unit stays disabled"
[ -e "$R$MASK" ] && fail "install after remove: the unit stays masked"

# An administrator's disable survives an upgrade and a reinstall.
rm -f "$R$WANTS"  # what systemctl disable does to a unit of multi-user.target
dpkg_as_admin -i "$NEW"
[ -L "$R$WANTS" ] && fail "reinstall enabled the unit the administrator had disabled"

# Purge asks nothing, forgets the unit's state, keeps the events and group.
dpkg_as_admin --purge brantwell
[ -f "$R/var/lib/brantwell/2023-11-14.log" ] || fail "purge deleted the stored events"
[ -e "$R/etc/default/brantwell" ] && fail "purge left /etc/default/brantwell"
[ -e "$R$MASK" ] && fail "purge left the unit masked"
grep -q '^brantwell:' "$R/etc/group" || fail "purge deleted the group"
# After a purge the next installation is a first one again.
dpkg_as_admin -i "$NEW"
check_state "install after purge"
[ -L "$R$WANTS" ] || fail "install after purge: the unit is not enabled"

[ $failures -eq 0 ] && echo "maintainer scripts: install, configure twice, upgrade, reinstall, remove, purge check out"
exit $((failures > 0))
