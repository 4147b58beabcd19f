#!/usr/bin/env bash
# Fails when a test of a CTest run was skipped or not run: after scripts/setup.sh every test
# must run. Reads the JUnit file of `ctest --output-junit FILE`.
#
# The one allowed skip: as root, the GoogleTest permission tests skip themselves (root walks
# through file permissions) and unit_permission_unprivileged runs them as another user; they
# count as run when that test passed.
#
# usage: scripts/no_skipped_tests.sh JUNIT_FILE
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: scripts/no_skipped_tests.sh JUNIT_FILE" >&2; exit 2; }
junit=$1
[ -s "$junit" ] || { echo "no_skipped_tests: $junit is missing or empty" >&2; exit 1; }

# STATUS, a tab and NAME of every test case, one a line (names hold blanks).
cases() {
  sed -n 's/^[[:space:]]*<testcase name="\([^"]*\)".* status="\([^"]*\)".*/\2\t\1/p' "$junit"
}
all_cases=$(cases)
passed() { grep -Fxq "$(printf 'run\t%s' "$1")" <<<"$all_cases"; }

allowed() {  # NAME
  case $1 in
    PermissionRun.*) passed unit_permission_unprivileged ;;
    *) return 1 ;;
  esac
}

total=0 skipped=()
[ -n "$all_cases" ] || { echo "no_skipped_tests: no test in $junit" >&2; exit 1; }
while IFS=$'\t' read -r status name; do
  total=$((total + 1))
  [ "$status" = run ] || [ "$status" = fail ] || allowed "$name" || skipped+=("$name")
done <<<"$all_cases"
if [ ${#skipped[@]} -gt 0 ]; then
  echo "no_skipped_tests: ${#skipped[@]} of $total tests did not run (their output says why):" >&2
  printf '  %s\n' "${skipped[@]}" >&2
  exit 1
fi
