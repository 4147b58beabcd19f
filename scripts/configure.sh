#!/usr/bin/env bash
# Configures a build tree with Ninja, the one generator every script here uses, so that
# the README's two commands (and the benchmark and fuzz scripts) can share trees. A tree
# whose CMake cache was made with another generator (an older scripts/demo.sh used CMake's
# default) or for another source or build directory (a copied clone) has that cache
# removed first: CMake would refuse to use it. Quiet unless something goes wrong.
#
# usage: scripts/configure.sh [--if-needed] BUILD_DIR [CMAKE_ARGS...]
#   --if-needed  leave a tree that is already configured with Ninja as it is
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  echo "usage: scripts/configure.sh [--if-needed] BUILD_DIR [CMAKE_ARGS...]" >&2
  exit 2
}

if_needed=false
case ${1-} in
  -h | --help) sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0 ;;
  --if-needed) if_needed=true; shift ;;
esac
[ $# -ge 1 ] && [ -n "$1" ] || usage
build=$1
shift
case $build in /*) ;; *) build=$PWD/$build ;; esac

cache=$build/CMakeCache.txt
cached() { sed -n "s/^$1:INTERNAL=//p" "$cache"; }
same_dir() { [ -d "$2" ] && [ "$(cd "$1" && pwd -P)" = "$(cd "$2" && pwd -P)" ]; }

# Why the existing cache can't be used, or nothing when it can.
stale_reason() {
  local generator
  generator=$(cached CMAKE_GENERATOR)
  if [ "$generator" != Ninja ]; then
    echo "it was made with the generator '$generator'"
  elif ! same_dir "$root" "$(cached CMAKE_HOME_DIRECTORY)"; then
    echo "it was made for the sources in $(cached CMAKE_HOME_DIRECTORY)"
  elif ! same_dir "$build" "$(cached CMAKE_CACHEFILE_DIR)"; then
    echo "it was made in $(cached CMAKE_CACHEFILE_DIR)"
  fi
}

if [ -f "$cache" ]; then
  reason=$(stale_reason)
  if [ -n "$reason" ]; then
    echo "configure: removing the CMake cache of $build ($reason); configuring it anew with Ninja"
    rm -rf "$cache" "$build/CMakeFiles"
  elif $if_needed && [ -f "$build/build.ninja" ]; then
    exit 0
  fi
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake -S "$root" -B "$build" -G Ninja "$@" >"$log" 2>&1; then
  cat "$log" >&2
  echo "configure: cmake failed to configure $build" >&2
  exit 1
fi
# Warnings (on stderr) stay visible; the progress lines don't.
grep -q 'CMake Warning' "$log" && cat "$log" >&2
exit 0
