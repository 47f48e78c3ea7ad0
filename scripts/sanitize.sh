#!/usr/bin/env bash
# Builds everything with a sanitizer into a build directory of its own and
# runs every test under it. Not part of CI: a sanitizer build takes a long
# time and the tests run several times slower.
#
#   scripts/sanitize.sh address   # AddressSanitizer + UndefinedBehaviorSanitizer (build-asan)
#   scripts/sanitize.sh thread    # ThreadSanitizer (build-tsan)
#   scripts/sanitize.sh           # both, one after the other
#
# JOBS (default 2) sets the build's and the tests' parallelism; extra
# arguments after the kind go to ctest (such as -R Wildcard).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
kinds=("${1:-address}")
[ $# -eq 0 ] && kinds=(address thread)
shift || true

run() {
  local kind=$1; shift
  local dir option
  case $kind in
    address) dir=build-asan option=BRANTWELL_SANITIZE_ADDRESS ;;
    thread) dir=build-tsan option=BRANTWELL_SANITIZE_THREAD ;;
    *) echo "usage: $0 [address|thread] [ctest arguments]" >&2; exit 2 ;;
  esac
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -D"$option"=ON "${launcher[@]}"
  cmake --build "$dir" -j"$JOBS"
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/brantwell-test-no-bus
  # halt_on_error: a report fails its test instead of scrolling past.
  export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # die_after_fork=0: the application's tests start dbus-daemon and the
  # daemon through QProcess, whose child only calls exec after the fork.
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/scripts/tsan.supp"
  # LSan reports leaks of the Qt, fontconfig and dbus libraries that no
  # test can free; only our own leaks are of interest.
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
  ctest --test-dir "$dir" --output-on-failure -j"$JOBS" --timeout 1200 "$@"
}

for kind in "${kinds[@]}"; do
  run "$kind" "$@"
done
