#!/usr/bin/env bash
# Runs tests of a GoogleTest binary as an unprivileged user: tests of file permissions,
# which root would walk through. The binary is copied into a fresh directory (so that no
# directory on the way to the build tree has to let that user in) and run there with
# TMPDIR inside it; as root that directory belongs to the user nobody, who runs the tests.
# Fails when a selected test fails or is skipped, or when none ran. Exit status 77
# (skipped) only when root has neither setpriv nor runuser.
#
# usage: tests/unprivileged.sh GTEST_BINARY GTEST_FILTER
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: tests/unprivileged.sh GTEST_BINARY GTEST_FILTER" >&2; exit 2; }
binary=$1 filter=$2
# shellcheck source=tests/unprivileged_lib.sh
. "$(dirname "$0")/unprivileged_lib.sh"

fail() {
  echo "unprivileged: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-unprivileged.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$binary" "$work/tests"
mkdir "$work/tmp"
status=0
unprivileged_begin "$work" || status=$?
[ "$status" -ne 77 ] || exit 77
[ "$status" -eq 0 ] || fail "can't run $filter unprivileged"

cd "$work"
"${as_user[@]}" env TMPDIR="$work/tmp" ./tests --gtest_filter="$filter" >out.txt 2>&1 || status=$?
cat out.txt
[ "$status" -eq 0 ] || fail "$filter failed (exit status $status)"
! grep -q '^\[  SKIPPED \]' out.txt || fail "$filter: tests were skipped"
grep -Eq '^\[  PASSED  \] [1-9][0-9]* tests?\.' out.txt || fail "$filter: no test ran"
