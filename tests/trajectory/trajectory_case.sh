#!/usr/bin/env bash
# End-to-end cases of beamfall-trajectory on the real binary, in a fresh directory. The SBET
# and smrmsg fixtures are written, and the converter's results worked out, by nav_files.py
# with Python's struct, independently of the converter's code.
#
# usage: trajectory_case.sh CONVERTER BEAMFALL SIM SBET_SAMPLE CASE
#
#   sample        the real SBET (data/sbet-sample.out): first and last rows against Python;
#                 --from/--to; an smrmsg of its epochs to the sigma file
#   sim_flight    a simulated flight written as an SBET (wander angle drifting through a
#                 turn, 18 leap seconds, across the end of the GPS week and past midnight
#                 UTC) converted back: the trajectory as the simulator wrote it, and beamfall's
#                 points on it equal to those on the simulator's own file within 1 mm
#   sigma_constant  an smrmsg of constant sigma converted to a sigma file: beamfall
#                 --sigma-trajectory gives the LAS file, sigmas and all, of the same sigmas
#                 given as --sigma-position and --sigma-attitude, byte for byte
#   bad_input     a table of bad files: exit 1, the file and record named, no output left
#   usage         a table of usage errors: exit 2, the pointer to --help, nothing written
set -euo pipefail
converter=$1 beamfall=$2 sim=$3 sample=$4 case=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/require.sh
. "$here/../require.sh"
require python3 python3
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-trajectory-case.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
  echo "FAIL: $*"
  exit 1
}
nav() { python3 "$here/nav_files.py" "$@"; }

# Runs the converter in $work; STATUS and standard error (one line) as expected.
expect() {  # STATUS STDERR_PATTERN ARGS...
  local want=$1 pattern=$2 got=0
  shift 2
  "$converter" "$@" >out.log 2>err.log || got=$?
  [ "$got" = "$want" ] || { cat out.log err.log; fail "$* exits $got, not $want"; }
  if [ -n "$pattern" ]; then
    head -1 err.log | grep -Eq -- "$pattern" || { cat err.log; fail "$*: no '$pattern'"; }
  fi
}

# The files in $work apart from the logs, in one line.
files_here() { find . -maxdepth 1 -type f ! -name '*.log' -printf '%f\n' | sort | tr '\n' ' '; }

case $case in
sample)
  cp "$sample" sample.out
  expect 0 "" sample.out --out sample.traj --leap-seconds 18
  grep -Fxq "sample.out: 200 records, 200 written to sample.traj (15.335278 .. 15.335555 h)" \
    out.log || { cat out.log; fail "summary line"; }
  nav expect-rows sample.out sample.traj --leap 18
  [ "$(awk '{ print length($0) }' sample.traj | sort -u)" = 108 ] || fail "lines not 108 wide"

  # Without leap seconds the times are GPS time, 18 s later.
  expect 0 "" sample.out --out gps.traj
  nav expect-rows sample.out gps.traj --leap 0

  # --from/--to on the output's hours, both ends included: the 2nd to the 11th record.
  t2=$(awk 'NR == 2 { print $1 }' sample.traj) t11=$(awk 'NR == 11 { print $1 }' sample.traj)
  expect 0 "" sample.out --out cut.traj --leap-seconds 18 --from "$t2" --to "$t11"
  sed -n '2,11p' sample.traj | cmp - cut.traj || fail "--from $t2 --to $t11 is not rows 2-11"

  # An smrmsg at 1 Hz (a lower rate than the SBET) from before the SBET to after it: its
  # epochs as they are, converted, and only those within --from/--to.
  first=$(python3 -c "import struct; print(struct.unpack_from('<d', open('sample.out', 'rb').read())[0])")
  nav smrmsg acc.out --start "$(python3 -c "print($first - 2.5)")" --step 1 --count 5 \
    --sigma 0.021,0.034,0.055,0.45,0.52,1.7
  expect 0 "" sample.out --out s.traj --leap-seconds 18 --accuracy acc.out --sigma-out s.sigma
  grep -q "^acc.out: 5 records, 5 written to s.sigma" out.log || { cat out.log; fail "summary"; }
  nav expect-sigma sample.out acc.out s.sigma --leap 18
  expect 0 "" sample.out --out s.traj --leap-seconds 18 --accuracy acc.out --sigma-out s.sigma \
    --from 15.335 --to 15.3355
  nav expect-sigma sample.out acc.out s.sigma --leap 18 --from 15.335 --to 15.3355
  [ "$(wc -l <s.sigma)" = 2 ] || fail "--from/--to kept $(wc -l <s.sigma) sigma epochs, not 2"
  ;;
sigma_constant)
  # 0.02 m north and east, 0.03 m down; 1.2, 1.2 and 1.8 arc minutes: 0.02, 0.02 and 0.03
  # degree, exact in the sigma file's columns. The smrmsg covers the flight and 10 s more
  # each side (its times GPS seconds of the week: day 2, 18 leap seconds).
  mkdir sim
  "$sim" --out sim --duration 20 --nmeas 60 --scan-rate 10 >/dev/null
  nav sbet-from-traj sim/flight.traj flight.out --day 2 --leap 18 --wander 0,0
  start=$(awk 'NR == 1 { printf "%.3f", 2 * 86400 + $1 * 3600 + 18 - 10 }' sim/flight.traj)
  nav smrmsg acc.out --start "$start" --step 1 --count 41 --sigma 0.02,0.02,0.03,1.2,1.2,1.8
  expect 0 "" flight.out --out unused.traj --leap-seconds 18 --accuracy acc.out \
    --sigma-out sim/flight.sigma
  export SOURCE_DATE_EPOCH=1700000000
  common=(--las points.las --date 2026-04-07 --sigma-range 0.02)
  (cd sim && "$beamfall" "${common[@]}" --sigma-trajectory flight.sigma <deck.txt >report.txt &&
    mv points.las file.las) || { cat sim/report.txt; fail "beamfall --sigma-trajectory"; }
  (cd sim && "$beamfall" "${common[@]}" --sigma-position 0.02,0.03 --sigma-attitude 0.02,0.02,0.03 \
    <deck.txt >report.txt) || { cat sim/report.txt; fail "beamfall --sigma-position"; }
  cmp sim/file.las sim/points.las || fail "the sigma file's LAS differs from the options'"
  ;;
sim_flight)
  # A Saturday flight from 23:59:30 UTC for 40 s: GPS time runs 18 s ahead, so the GPS week
  # ends (604800 s, back to 0) at 23:59:42 UTC, and UTC midnight follows at 24.0 h. The
  # wander angle drifts from -3 to +3 rad while the platform heading wraps at 0 / 2 pi.
  mkdir sim sbet
  "$sim" --out sim --start 23:59:30 --duration 40 --nmeas 60 --scan-rate 10 --turn 3,10,20 \
    --traj-rate 20 >/dev/null
  nav sbet-from-traj sim/flight.traj flight.out --day 6 --leap 18 --wander -3,0.0075
  expect 0 "" flight.out --out sbet/flight.traj --leap-seconds 18
  nav compare-traj sim/flight.traj sbet/flight.traj
  awk 'NR > 1 && $1 <= t { bad = 1 } { t = $1 } END { exit bad || !(t > 24) }' sbet/flight.traj ||
    fail "the times do not increase on past 24 h"
  cp sim/deck.txt sim/flight.2dd sbet/
  for dir in sim sbet; do
    (cd $dir && "$beamfall" --las points.las --date 2026-04-11 <deck.txt >report.txt) ||
      { cat $dir/report.txt; fail "beamfall failed in $dir"; }
  done
  nav compare-las sim/points.las sbet/points.las --max-metres 0.001
  ;;
bad_input)
  nav fixture good good.out
  nav fixture smrmsg-good good.acc
  printf 'the user'"'"'s file\n' >old.traj
  # NAME ARGS (fixture first) | pattern of the message
  while IFS='|' read -r fixture args pattern; do
    [ -n "$fixture" ] || continue
    [ "$fixture" = - ] || nav fixture "$fixture" "$fixture.in"
    before=$(files_here)
    # shellcheck disable=SC2086 # the table's arguments are words
    expect 1 "^beamfall-trajectory: $pattern\$" $args
    [ "$(wc -l <err.log)" = 1 ] || { cat err.log; fail "$args: not one line"; }
    [ "$(files_here)" = "$before" ] || fail "$args left files: $(files_here), before: $before"
    grep -Fxq "the user's file" old.traj || fail "$args changed old.traj"
  done <<'END'
short|short.in --out new.traj|short.in: 271 bytes are not a whole number of 136-byte SBET records \(record 2 is cut short\)
empty|empty.in --out new.traj|empty.in: no 136-byte SBET records \(the file is empty\)
nan|nan.in --out new.traj|nan.in, record 2: latitude is not a number
latitude|latitude.in --out old.traj|latitude.in, record 2: latitude 1.6 rad is outside -1.5707963267948966 .. 1.5707963267948966
heading|heading.in --out old.traj|heading.in, record 2: platform heading inf rad is outside -6.283185307179586 .. 6.283185307179586
backwards|backwards.in --out new.traj|backwards.in, record 2: time 400825.0012 s is not after 400825.0013 s of record 1: times must increase
repeated|repeated.in --out new.traj|repeated.in, record 2: time 400825.0013 s is not after 400825.0013 s of record 1: times must increase
-|missing.out --out new.traj|cannot open missing.out
smrmsg-short|good.out --out new.traj --accuracy smrmsg-short.in --sigma-out new.sigma|smrmsg-short.in: 152 bytes are not a whole number of 80-byte smrmsg records \(record 2 is cut short\)
smrmsg-negative|good.out --out old.traj --accuracy smrmsg-negative.in --sigma-out new.sigma|smrmsg-negative.in, record 2: east RMS -0.03 m is outside 0 .. 99999.99999999999
smrmsg-nan|good.out --out new.traj --accuracy smrmsg-nan.in --sigma-out new.sigma|smrmsg-nan.in, record 2: heading RMS is not a number
-|good.out --out new.traj --accuracy missing.acc --sigma-out new.sigma|cannot open missing.acc
-|good.out --out good.out.d/new.traj|\*\*\* open error: 'good.out.d/new.traj': No such file or directory
-|good.out --out new.traj --from 12 --to 13|good.out: no record lies within --from .. --to
-|good.out --out new.traj --accuracy good.acc --sigma-out new.sigma --from 15.340278 --to 15.3403|good.acc: no record lies within --from .. --to
END
  # The good fixture converts, and replaces an existing output whole; no other file is left.
  before=$(files_here)
  expect 0 "" good.out --out old.traj --accuracy good.acc --sigma-out new.sigma
  [ "$(wc -l <old.traj)" = 2 ] && [ "$(wc -l <new.sigma)" = 2 ] || fail "good fixture"
  [ "$(files_here | tr ' ' '\n' | grep -vx new.sigma | tr '\n' ' ')" = "$before" ] ||
    fail "files: $(files_here), before: $before"
  ;;
usage)
  nav fixture good good.out
  cp good.out good.orig
  while IFS='|' read -r args pattern; do
    [ -n "$args" ] || continue
    # shellcheck disable=SC2086 # the table's arguments are words
    expect 2 "^beamfall-trajectory: $pattern\$" $args
    grep -Fxq "Try 'beamfall-trajectory --help' for more information." err.log ||
      fail "$args: no pointer to --help"
    [ "$(files_here)" = "good.orig good.out " ] || fail "$args wrote $(files_here)"
    cmp -s good.out good.orig || fail "$args changed the SBET"
  done <<'END'
--out x.traj|needs one SBET file
good.out good.out --out x.traj|needs one SBET file
good.out|needs --out FILE
good.out --out|--out needs a file name
good.out --out x.traj --leap-seconds|--leap-seconds needs a value
good.out --out x.traj --leap-seconds -1|--leap-seconds needs a whole number of seconds from 0 to 100, not '-1'
good.out --out x.traj --leap-seconds 1.5|--leap-seconds needs a whole number of seconds from 0 to 100, not '1.5'
good.out --out x.traj --from noon|--from needs a time in decimal hours, not 'noon'
good.out --out x.traj --to nan|--to needs a time in decimal hours, not 'nan'
good.out --out x.traj --from 2 --to 1|--from is later than --to
good.out --out x.traj --accuracy good.out|--accuracy and --sigma-out go together
good.out --out x.traj --sigma-out x.sigma|--accuracy and --sigma-out go together
good.out --out good.out|--out would replace the SBET file
good.out --out ./good.out|--out would replace the SBET file
good.out --out x.traj --accuracy a.acc --sigma-out good.out|--sigma-out would replace the SBET file
good.out --out x.traj --accuracy good.orig --sigma-out good.orig|--sigma-out would replace the --accuracy file
good.out --out x.traj --accuracy a.acc --sigma-out x.traj|--out and --sigma-out name the same file
good.out --out x.traj --wander 3|unknown option '--wander'
END
  expect 2 "^beamfall-trajectory: needs one SBET file$"
  expect 0 "" --help
  grep -q "^usage: beamfall-trajectory SBET --out FILE" out.log || fail "--help"
  expect 0 "" --version
  grep -Eq "^beamfall-trajectory [0-9]+\.[0-9]+\.[0-9]+$" out.log || fail "--version"
  ;;
*)
  fail "unknown case $case"
  ;;
esac
echo "trajectory $case OK"
