#!/usr/bin/env bash
# scripts/no_skipped_tests.sh on the JUnit files of real CTest runs: a scratch project whose
# tests pass, fail or skip (exit 77) as each case says.
#   case                                   exit  named in the message
#   every test passes (one fails: ctest's      0
#     own business)
#   a test skipped                             1  the skipped test, blanks in its name kept
#   a permission test skipped as root, its     0
#     unprivileged run passed
#   the same, the unprivileged run skipped     1  both
#   the same as the third, in a run of 1000     0
#     tests (more than a pipe holds after it)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-no-skips.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A CTest project with one test per NAME=EXIT pair.
run_project() {  # NAME=EXIT...
  local dir=$work/project pair
  rm -rf "$dir"
  mkdir -p "$dir"
  {
    echo 'cmake_minimum_required(VERSION 3.21)'
    echo 'project(scratch NONE)'
    echo 'enable_testing()'
    for pair in "$@"; do
      echo "add_test(NAME \"${pair%=*}\" COMMAND sh -c \"exit ${pair##*=}\")"
      echo "set_tests_properties(\"${pair%=*}\" PROPERTIES SKIP_RETURN_CODE 77)"
    done
  } >"$dir/CMakeLists.txt"
  cmake -S "$dir" -B "$dir/build" >/dev/null
  ctest --test-dir "$dir/build" --output-junit "$dir/junit.xml" >/dev/null 2>&1 || true
}

expect() {  # STATUS WHAT NEEDLE...: the script's exit status and message on the last run
  local want=$1 what=$2 status=0 needle
  shift 2
  "$root/scripts/no_skipped_tests.sh" "$work/project/junit.xml" 2>"$work/err" || status=$?
  [ "$status" -eq "$want" ] || { cat "$work/err"; fail "$what: exit status $status, not $want"; }
  for needle in "$@"; do
    grep -Fxq "  $needle" "$work/err" || { cat "$work/err"; fail "$what: '$needle' not named"; }
  done
}

run_project a=0 b=0 c=1
expect 0 "every test ran"
run_project a=0 "las sim  # with blanks=77" c=0
expect 1 "a skipped test" "las sim  # with blanks"
run_project PermissionRun.Unreadable=77 unit_permission_unprivileged=0 a=0
expect 0 "permission tests run unprivileged"
run_project PermissionRun.Unreadable=77 unit_permission_unprivileged=77
expect 1 "permission tests run nowhere" PermissionRun.Unreadable unit_permission_unprivileged
many=()
for i in $(seq 1000); do many+=("Cases/EndToEnd.MatchesExpectedOutput/case_$i  # a long name=0"); done
run_project unit_permission_unprivileged=0 "${many[@]}" PermissionRun.Unreadable=77
expect 0 "permission tests run unprivileged, among many"
echo "no_skipped_tests OK"
