#!/usr/bin/env bash
# The man pages made at build time: each renders with man, names its program on the NAME
# line, and mentions every option that the program's own --help lists.
#
# usage: man_test.sh MAN_DIR NAME=PROGRAM...
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: man_test.sh MAN_DIR NAME=PROGRAM..." >&2; exit 2; }
dir=$1
shift
# shellcheck source=tests/require.sh
. "$(dirname -- "$0")/../require.sh"
require man man-db

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for pair in "$@"; do
  name=${pair%%=*} program=${pair#*=}
  page=$dir/$name.1
  [ -s "$page" ] || fail "$page is missing"
  # Wide lines, and words broken at a hyphen joined again, so that options stay whole.
  text=$(LC_ALL=C MANWIDTH=1000 man -l "$page" 2>&1 | sed -e ':a' -e '/-$/{N;s/-\n *//;ba' -e '}') ||
    fail "man -l $page failed"
  grep -Eq "^ +$name - [a-z]" <<<"$text" || fail "$name.1 has no NAME line for $name"
  options=$("$program" --help 2>&1 | grep -oE -- '--[a-z0-9][a-z0-9-]*' | sort -u)
  [ -n "$options" ] || fail "$name --help lists no option"
  count=0
  for option in $options; do
    grep -Eq -- "(^|[^a-z0-9-])$option([^a-z0-9-]|\$)" <<<"$text" ||
      fail "$name.1 does not mention $option"
    count=$((count + 1))
  done
  echo "$name.1: $count options"
done
