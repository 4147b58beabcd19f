#!/usr/bin/env bash
# scripts/setup.sh in scratch trees of its own, each with its own package list:
#   - missing Debian packages are named, in the list's order, on the exact apt-get line
#     that installs them, and set-up fails (run as an unprivileged user, who can't install
#     them; as root it would install them); comments, blanks, tabs and a package only
#     provided by another (awk) are understood;
#   - with nothing missing set-up is silent;
#   - tests/js gets `npm ci` once, then nothing until package.json changes or node_modules
#     goes; without a lock file set-up fails and leaves no stamp.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tests/unprivileged_lib.sh
. "$root/tests/unprivileged_lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-setup-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # the unprivileged user works in a tree below it

fail() {
  echo "FAIL: $*" >&2
  for f in out err; do [ -f "$work/$f" ] && sed "s/^/  $f: /" "$work/$f" >&2; done
  exit 1
}

make_tree() {  # DIR PACKAGE_LIST_LINES...
  mkdir -p "$1/scripts"
  cp "$root/scripts/setup.sh" "$1/scripts/"
  printf '%s\n' "${@:2}" >"$1/scripts/packages.txt"
}

setup_in() {  # DIR [PREFIX...]: status in $status, output in $work/out and $work/err
  local dir=$1
  shift
  status=0
  "$@" "$dir/scripts/setup.sh" >"$work/out" 2>"$work/err" || status=$?
}

missing_packages_are_named() {
  local tree=$work/missing rc=0
  make_tree "$tree" "# comment" "" "bash   # always there" "	awk" "beamfall-missing-one" \
    "coreutils" "beamfall-missing-two # the last"
  unprivileged_begin "$tree" || rc=$?
  [ "$rc" -ne 77 ] || exit 77
  [ "$rc" -eq 0 ] || fail "can't run set-up unprivileged"
  setup_in "$tree" "${as_user[@]}"
  [ "$status" -eq 1 ] || fail "missing packages: exit status $status, not 1"
  grep -Fxq '  apt-get install -y beamfall-missing-one beamfall-missing-two' "$work/err" ||
    fail "missing packages: no exact apt-get line"
  [ ! -s "$work/out" ] || fail "missing packages: output on stdout"
}

npm_ci_runs_when_needed() {
  local tree=$work/npm js=$work/npm/tests/js
  make_tree "$tree" bash
  mkdir -p "$js"
  printf '{ "name": "t", "version": "1.0.0", "private": true }\n' >"$js/package.json"

  setup_in "$tree"
  [ "$status" -eq 1 ] && grep -q 'npm ci in tests/js failed' "$work/err" ||
    fail "without a lock file: status $status"
  [ ! -f "$js/node_modules/.setup-stamp" ] || fail "a failed npm ci left a stamp"

  printf '{ "name": "t", "version": "1.0.0", "lockfileVersion": 3, "requires": true,
    "packages": { "": { "name": "t", "version": "1.0.0" } } }\n' >"$js/package-lock.json"
  expect_npm_ci "first run"
  setup_in "$tree"
  [ "$status" -eq 0 ] && [ ! -s "$work/out" ] || fail "second run: status $status or output"
  printf '{ "name": "t", "version": "1.0.0", "private": true, "description": "x" }\n' \
    >"$js/package.json"
  expect_npm_ci "changed package.json"
  rm -rf "$js/node_modules"
  expect_npm_ci "node_modules removed"
}

expect_npm_ci() {  # WHAT
  setup_in "$work/npm"
  [ "$status" -eq 0 ] || fail "$1: exit status $status"
  [ "$(cat "$work/out")" = "== setup: npm ci in tests/js" ] || fail "$1: npm ci did not run"
  [ -s "$work/npm/tests/js/node_modules/.setup-stamp" ] || fail "$1: no stamp"
}

missing_packages_are_named
npm_ci_runs_when_needed
echo "setup tests OK"
