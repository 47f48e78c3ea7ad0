#!/usr/bin/env bash
# The files that make Brantwell a citizen of the system, checked by the
# tools the distribution checks them with: the desktop entry, the AppStream
# metainfo, the manual pages (rendered by man and groff, warnings count as
# failures, and every option the programs accept must be documented) and
# the bash completion (it offers every subcommand brantwellctl knows).
#
# Usage: SystemFiles_test.sh SOURCE_DIR BUILD_DIR BRANTWELLSRV BRANTWELLCTL [BRANTWELL]
set -uo pipefail
SOURCE=$1 BUILD=$2 SRV=$3 CTL=$4 APP=${5:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs a checker; it passes only when it succeeds and prints nothing that
# looks like a complaint.
clean() {
  local what=$1; shift
  local out
  out=$("$@" 2>&1) || { fail "$what: $out"; return; }
  if grep -Eiq '(^|[^a-z])(warning|error)|^[WE]:' <<<"$out"; then fail "$what: $out"; fi
}

if [ -n "$APP" ]; then
  clean "desktop-file-validate" desktop-file-validate "$SOURCE/packaging/desktop/com.corvanta.Brantwell.desktop"
  clean "appstreamcli validate" appstreamcli validate --no-net --no-color \
    "$BUILD/packaging/desktop/com.corvanta.Brantwell.metainfo.xml"
fi

# The unit as systemd reads it, with the built daemon in ExecStart (the
# variables of /etc/default/brantwell and their defaults included).
if command -v systemd-analyze >/dev/null; then
  unitDir=$(mktemp -d /tmp/brantwell-unit-XXXXXX)
  sed "s|@BRANTWELL_SBINDIR@|$(dirname "$SRV")|" "$SOURCE/packaging/BrantwellSrv.service" >"$unitDir/BrantwellSrv.service"
  # Any remark on the unit (an unknown key is only "ignoring") is a failure.
  remarks=$(timeout 60 systemd-analyze verify --man=no "$unitDir/BrantwellSrv.service" 2>&1 | grep -F "$unitDir")
  [ -z "$remarks" ] || fail "systemd-analyze verify: $remarks"
  rm -rf "$unitDir"
else
  echo "(no systemd-analyze here: the unit is not verified)"
fi

# Manual pages: man and groff warnings (-ww: all of them) are failures.
export LC_ALL=C.UTF-8 MANWIDTH=80 MAN_DISABLE_SECCOMP=1
pages=("BrantwellSrv.8:$SRV" "brantwellctl.1:$CTL" "Brantwell.ini.5:")
[ -n "$APP" ] && pages+=("Brantwell.1:$APP")
for entry in "${pages[@]}"; do
  page=$BUILD/packaging/man/${entry%%:*}
  program=${entry#*:}
  [ -f "$page" ] || { fail "no manual page $page"; continue; }
  warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff -ww $page: $warnings"
  warnings=$(man --warnings=w -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
  # The rendered page, with hyphens and quotes as plain ASCII.
  text=$(man -E ascii -l "$page" 2>/dev/null | col -b)
  sections="NAME SYNOPSIS DESCRIPTION OPTIONS"
  [ -z "$program" ] && sections="NAME DESCRIPTION"  # a file format, not a program
  for section in $sections; do
    grep -q "^$section" <<<"$text" || fail "${entry%%:*} has no $section section"
  done
  [ -n "$program" ] || continue
  # Every long option the program's --help lists is documented.
  for option in $(QT_QPA_PLATFORM=offscreen "$program" --help 2>&1 | grep -Eo -- '--[a-z][a-z-]+' | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "${entry%%:*} does not document $option"
  done
done

# brantwellctl: every subcommand of --help is in its manual page and is
# completed by bash.
commands=$("$CTL" --help | sed -n '/^Commands:/,/^$/p' | grep -Eo '^  [a-z-]+' | tr -d ' ')
[ -n "$commands" ] || fail "brantwellctl --help lists no commands"
ctlText=$(man -E ascii -l "$BUILD/packaging/man/brantwellctl.1" 2>/dev/null | col -b)
for c in $commands; do
  grep -Eq "^ +$c( |$)" <<<"$ctlText" || fail "brantwellctl.1 does not describe the command $c"
done

# Completes the words of a command line in a bash with the completion loaded.
complete_words() {
  bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    _brantwellctl brantwellctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"
  ' complete "$SOURCE/packaging/completion/brantwellctl" "$@"
}
offered=$(complete_words brantwellctl "" | sort | tr '\n' ' ')
expected=$(tr ' ' '\n' <<<"$commands" | sort | tr '\n' ' ')
[ "$offered" = "$expected" ] || fail "completion offers [$offered], brantwellctl knows [$expected]"
[ "$(complete_words brantwellctl --port 5140 te)" = test-message ] || fail "completion after --port N"
grep -qx -- --merge <<<"$(complete_words brantwellctl save --m)" || fail "completion of save --merge"
[ "$(complete_words brantwellctl email --su)" = --subject ] || fail "completion of email options"
[ -z "$(complete_words brantwellctl --port "")" ] || fail "completion offers words for a port number"

[ $failures -eq 0 ] && echo "all system files check out"
exit $((failures > 0))
