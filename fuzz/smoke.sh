#!/bin/sh
# CI smoke run of the fuzz targets: builds them with clang (libFuzzer, address
# and undefined-behaviour sanitizers) and runs each for a short time from its
# checked-in seeds. Exit status 1 on any finding.
# Environment: BUILD (default build-fuzz-smoke), SMOKE_SECONDS (default 25 per
# target: seven targets stay well under five minutes with the build).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
export BUILD="${BUILD:-$root/build-fuzz-smoke}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-fuzz-smoke.XXXXXX")
export WORK
trap 'rm -rf "$WORK"' EXIT
status=0
"$here/run.sh" all "${SMOKE_SECONDS:-25}" || status=$?
if [ "$status" -ne 0 ]; then
  for log in "$WORK"/logs/*.log; do
    if grep -q "ERROR\|SUMMARY\|fuzz finding" "$log"; then
      echo "== $log" && tail -40 "$log"
    fi
  done
fi
exit $status
