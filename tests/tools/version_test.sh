#!/usr/bin/env bash
# Every shipped program answers --version (only beamfall did): "NAME VERSION" on standard
# output and nothing else, exit status 0, also after other arguments; and a program of
# several commands, after its command.
#
# usage: version_test.sh VERSION NAME=PROGRAM...
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: version_test.sh VERSION NAME=PROGRAM..." >&2; exit 2; }
version=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-version.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

check() {  # NAME PROGRAM ARGS...
  local name=$1 program=$2 status=0
  shift 2
  "$program" "$@" > "$work/out" 2> "$work/err" < /dev/null || status=$?
  [ "$status" = 0 ] || fail "$name $*: exit status $status"
  [ "$(cat "$work/out")" = "$name $version" ] || fail "$name $*: '$(cat "$work/out")'"
  [ ! -s "$work/err" ] || fail "$name $*: wrote on standard error: $(head -1 "$work/err")"
  echo "$name $*: $(cat "$work/out")"
}

for pair in "$@"; do
  name=${pair%%=*} program=${pair#*=}
  check "$name" "$program" --version
  case $name in
    beamfall-campaign)
      check "$name" "$program" run somewhere --version
      check "$name" "$program" calibrate somewhere --version ;;
    beamfall-quicklook) check "$name" "$program" deck.txt run.json --version ;;
    beamfall-calibrate) check "$name" "$program" somewhere --version ;;
    beamfall-sim) check "$name" "$program" --text-points --version ;;
    beamfall-check) check "$name" "$program" --rigorous --version ;;
  esac
done
