#!/usr/bin/env bash
# LAS output of the real beamfall binary, checked by check_las.mjs (the independent
# @loaders.gl/las reader plus a decoder of the fields it skips) and by projinfo.
#
# usage: las_case.sh BEAMFALL SIM GEOID_GRID CASE
#   sim       simulated flight: every point against the binary point file of the same
#             run; point file "0" gives the same LAS file and the same report; utc times
#   geoid     heights above a geoid grid, averaging: compound WKT named after the grid or
#             by --vertical-crs, read by projinfo; 43-byte records with the group count
#   fixture   rolled aircraft, three hand-worked scans: scan angle, direction and edge
#             flags, extra bytes, times (values in check_las.mjs)
#   range_offset  the fixture with --range-offset: the LAS range field holds the corrected
#             range, and the rmin filter counts the corrected ranges (report and manifest)
#   stop      a run stopped mid-way by a full disk still leaves a complete LAS file, also
#             when the LAS file itself could not be written to the end; one stopped by an
#             input error before the scanner data (here and in geoid) leaves the LAS file
#             of an earlier run as it was, and creates none where there was none
#   interrupt SIGTERM mid-run: exit 143 and a complete LAS file, a prefix of the whole run's;
#             SIGTERM while the trajectory is read: the earlier LAS file as it was
#   options   usage errors: exit 2, one line on standard error, no file created
set -euo pipefail
beamfall=$1 sim=$2 grid=$3 case=$4
here=$(cd "$(dirname "$0")" && pwd)
check="$here/check_las.mjs"
# shellcheck source=tests/require.sh
. "$here/../require.sh"
require node nodejs
require projinfo proj-bin
require jq jq
if [ ! -d "$here/node_modules/@loaders.gl/las" ]; then
  echo "SKIP: $here/node_modules is missing: run 'npm ci' in $here (scripts/setup.sh does)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-las-case.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Adjusted Standard GPS Time at 0 h of a day, from the calendar, not from beamfall.
day_start() { echo $(( ($(date -u -d "$1" +%s) - $(date -u -d 1980-01-06 +%s)) - 1000000000 )); }
set_deck_line() {  # name line or parameter line N of the deck (1-based over all 14 lines)
  LC_ALL=C awk -v n="$1" -v v="$2" 'NR == n { $0 = v } { print }' deck.txt > deck.new
  mv deck.new deck.txt
}
run() {  # run ARGS...: beamfall with ARGS on deck.txt; report in report.txt, errors in err.txt
  "$beamfall" "$@" < deck.txt > report.txt 2> err.txt
}
wkt_ok() {  # the WKT of a LAS file is accepted by PROJ, and says $2
  projinfo "$(cat "$1.wkt")" -o WKT2_2019 > proj.txt 2>&1 || { cat proj.txt; exit 1; }
  grep -q "$2" proj.txt || { echo "projinfo does not show $2:"; cat proj.txt; exit 1; }
}

# The fixture's ranges (scan.txt, field 2) that do not exceed RMIN once OFFSET is added: what
# the rmin filter must reject, counted here from the file rather than by beamfall.
short_ranges() {  # RMIN OFFSET
  LC_ALL=C awk -v r="$1" -v o="$2" '$2 + o <= r { n++ } END { print n + 0 }' scan.txt
}
range_offset_case() {
  local offset rmin want
  # The LAS range field: each point's range plus the offset, in millimetres.
  for offset in 2.5 -2.5; do
    run --las off.las --date 2024-02-29 --line-id 7 --range-offset "$offset"
    node "$check" off.las --fixture --line-id 7 --day-start "$(day_start 2024-02-29)" \
      --range-offset "$offset"
  done
  # rmin 1000 m lies 2 m above three ranges of 998 m and 46 m below one of 1045.94 m.
  set_deck_line 14 1000.0
  for offset in 0 2.5 -2.5 -46; do
    run --manifest m.json --range-offset "$offset"
    want=$(short_ranges 1000 "$offset")
    grep -q "^ measurements less than  *1000  *meters  *$want  *meas\. *\$" report.txt ||
      { echo "offset $offset: want $want ranges rejected:"; grep 'measurements less' report.txt; exit 1; }
    [ "$(jq .summary.rejected.range m.json)" = "$want" ] ||
      { echo "offset $offset: manifest rejected $(jq .summary.rejected.range m.json), want $want"; exit 1; }
  done
  # The offset moved ranges across rmin both ways.
  [ "$(short_ranges 1000 2.5)" = 0 ] && [ "$(short_ranges 1000 -46)" = 4 ] ||
    { echo "the fixture no longer straddles rmin"; exit 1; }
}

case $case in
sim)
  "$sim" --out . --duration 6 --nmeas 120 --scan-rate 20 >/dev/null
  export SOURCE_DATE_EPOCH=1776000000  # 2026-04-12 13:20 UTC
  created=$((10#$(date -u -d @$SOURCE_DATE_EPOCH +%j))),$(date -u -d @$SOURCE_DATE_EPOCH +%Y)
  run --las out.las --date 2026-04-12 --line-id 4242
  [ ! -s err.txt ] || { echo "standard error not empty:"; cat err.txt; exit 1; }
  node "$check" out.las --points points.bin --day-start "$(day_start 2026-04-12)" \
    --line-id 4242 --created "$created"
  # PROJ reads the WKT 1 compound form back as the geographic 3D CRS.
  wkt_ok out.las 'ID\["EPSG",4979\]'
  # UTC times: 18 leap seconds later on the GPS scale.
  run --las utc.las --date 2026-04-12 --line-id 4242 --time-scale utc
  node "$check" utc.las --points points.bin --day-start $(($(day_start 2026-04-12) + 18)) \
    --line-id 4242
  # Point file "0": the same LAS file, and the report of a run without --las.
  set_deck_line 4 0
  run
  mv report.txt plain.txt
  run --las only.las --date 2026-04-12 --line-id 4242
  cmp out.las only.las
  cmp plain.txt report.txt
  ;;
geoid)
  "$sim" --out . --duration 3 --nmeas 100 --on-geoid --geoid "$grid" --naver 3 >/dev/null
  run --las named.las --date 2026-04-12 --vertical-crs EPSG:5773
  node "$check" named.las --points points.bin --day-start "$(day_start 2026-04-12)" --naver 3
  wkt_ok named.las 'EGM96 height'
  run --las grid.las --date 2026-04-12
  node "$check" grid.las --points points.bin --day-start "$(day_start 2026-04-12)" --naver 3
  wkt_ok grid.las 'height above geoid grid geoid.grid'
  run --las other.las --date 2026-04-12 --vertical-crs epsg:9999
  node "$check" other.las --naver 3
  wkt_ok other.las 'ID\["EPSG",9999\]'
  # A geoid grid cut short stops the run before the scanner data: the LAS file of the
  # earlier run is left exactly as it was (the fault: it was replaced by one with no
  # points), and none is created where there was none.
  head -c 200 "$(sed -n 3p deck.txt)" > short.grid
  set_deck_line 3 short.grid
  cp named.las kept.las
  for las in kept.las short.las; do
    status=0
    run --las "$las" --date 2026-04-12 --vertical-crs EPSG:5773 || status=$?
    [ "$status" = 1 ] || { echo "exit status $status, want 1"; cat report.txt; exit 1; }
    tail -1 report.txt | grep -q "^ \*\*\* input error: geoid grid file 'short.grid'" ||
      { tail -3 report.txt; exit 1; }
  done
  cmp kept.las named.las
  [ ! -e short.las ] || { echo "short.las was created"; exit 1; }
  ;;
fixture | range_offset)
  # Level flight north at 1000 m with the aircraft rolled 10 degrees (right wing down);
  # t0 = 10 h, one measurement every 0.1 s of timer.
  printf '%s\n' scan.txt traj.txt 0 0 cen.txt '10.0 0 0.0' '10.0 10.01' '50 60 0 20' \
    '1 1 F F T F T' '0 0 0' '0 0 0' 0 '1 1000' 10.0 > deck.txt
  printf '%s\n' '9.9999 55.0 9.0 1000.0 0.0 10.0 0.0' '10.01 55.01 9.0 1000.0 0.0 10.0 0.0' \
    > traj.txt
  printf '%s\n' '1 1224.615282 20 60.0 0.1' '2 1045.942892 20 80.0 0.2' \
    '3 998.0 20 100.0 0.3' '4 1052.775708 20 120.0 0.4' '5 1242.576401 20 140.0 0.5' \
    '1 1242.576401 20 140.0 0.6' '2 1052.775708 20 120.0 0.7' '3 998.0 20 100.0 0.8' \
    '1 998.0 20 100.0 0.9' '1 500000.0 20 60.0 0.95' > scan.txt
  if [ "$case" = range_offset ]; then
    range_offset_case
    exit 0
  fi
  run --las fix.las --date 2024-02-29 --line-id 7
  node "$check" fix.las --fixture --line-id 7 --day-start "$(day_start 2024-02-29)"
  # The last return lies 4.6 degrees west, beyond the 2.1 degrees that 1e-9 reaches:
  # left out of the LAS file only (the report counts it), and counted on standard error.
  grep -q '^beamfall: 1 of the points lay beyond the coordinate range of fix.las' err.txt
  grep -q '^ Total number of points output:  10 $' report.txt
  ;;
stop)
  # Text points on a full device: the first buffer written out fails mid-run.
  "$sim" --out . --duration 6 --nmeas 208 --scan-rate 20 --text-points >/dev/null
  set_deck_line 4 /dev/full
  status=0
  run --las stopped.las --date 2026-04-12 || status=$?
  [ "$status" = 1 ] || { echo "exit status $status, want 1"; cat report.txt; exit 1; }
  tail -1 report.txt | grep -q '^ \*\*\* write error' || { tail -3 report.txt; exit 1; }
  node "$check" stopped.las
  [ "$(od -An -t u8 -j 247 -N 8 stopped.las | tr -d ' ')" -gt 0 ]
  # The LAS file itself cut at 512 KiB by a file size limit, mid-record: the header counts
  # the whole records that reached the disk, and the cut one is removed.
  set_deck_line 4 0
  status=0
  (ulimit -f 512 && run --las limited.las --date 2026-04-12) || status=$?
  [ "$status" = 1 ] || { echo "exit status $status, want 1"; cat report.txt; exit 1; }
  tail -1 report.txt | grep -q "^ \*\*\* write error: 'limited.las'" || { tail -3 report.txt; exit 1; }
  node "$check" limited.las
  [ "$(od -An -t u8 -j 247 -N 8 limited.las | tr -d ' ')" -gt 10000 ]
  # A trajectory value that is not a number stops the run before the scanner data: the
  # earlier run's LAS file stays as it was, byte for byte (the fault: it was replaced).
  sed '3s/^\([^ ]*\) /\1x /' flight.traj > bad.traj
  set_deck_line 2 bad.traj
  cp limited.las early.las
  status=0
  run --las early.las --date 2026-04-12 || status=$?
  [ "$status" = 1 ] || { echo "exit status $status, want 1"; cat report.txt; exit 1; }
  tail -1 report.txt | grep -q "^ \*\*\* input error: trajectory file 'bad.traj'" ||
    { tail -3 report.txt; exit 1; }
  cmp early.las limited.las
  ;;
interrupt)
  # SIGTERM once the first block of LAS records is on disk: exit 128 + 15, and a complete
  # LAS file whose records are those of the uninterrupted run (the last one's edge flag
  # aside: it is the last point of the file).
  "$sim" --out . --duration 240 --nmeas 208 --scan-rate 20 >/dev/null
  run --las full.las --date 2026-04-12
  "$beamfall" --las cut.las --date 2026-04-12 < deck.txt > cut.txt 2>/dev/null &
  pid=$!
  for _ in $(seq 20000); do
    [ "$(stat -c %s cut.las 2>/dev/null || echo 0)" -gt 0 ] && break
    sleep 0.001
  done
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  [ "$status" = 143 ] || { echo "exit status $status, want 143 (0: lengthen the flight)"; exit 1; }
  tail -1 cut.txt | grep -q 'interrupted by signal 15'
  node "$check" cut.las
  count=$(od -An -t u8 -j 247 -N 8 cut.las | tr -d ' ')
  first=$(od -An -t u4 -j 96 -N 4 cut.las | tr -d ' ')
  [ "$count" -gt 0 ] && [ "$count" -lt "$(od -An -t u8 -j 247 -N 8 full.las | tr -d ' ')" ]
  cmp -n $(( (count - 1) * 39 + 15 )) <(tail -c +$((first + 1)) cut.las) \
    <(tail -c +$((first + 1)) full.las)
  # SIGTERM while the trajectory is read from a pipe that waits for more: the outputs are
  # created only once the inputs are read, so an earlier run's LAS file stays as it was.
  mkfifo traj.fifo
  set_deck_line 2 traj.fifo
  cp full.las early.las
  "$beamfall" --las early.las --date 2026-04-12 < deck.txt > early.txt 2> early.err &
  pid=$!
  exec 3> traj.fifo  # waits until beamfall opens the pipe, its signal handlers set
  head -3 flight.traj >&3
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  exec 3>&-
  [ "$status" = 143 ] || { echo "exit status $status, want 143"; cat early.txt; exit 1; }
  tail -1 early.txt | grep -q 'interrupted by signal 15'
  [ "$(cat early.err)" = "beamfall: *** interrupted by signal 15 (SIGTERM)" ] || { cat early.err; exit 1; }
  cmp early.las full.las
  ;;
options)
  "$sim" --out . --duration 1 >/dev/null
  cp deck.txt deck.keep
  before=$(ls)
  # args | what the one-line message names
  while IFS='|' read -r args want; do
    status=0
    # shellcheck disable=SC2086
    "$beamfall" $args < deck.txt > out.txt 2> err.txt || status=$?
    [ "$status" = 2 ] || { echo "$args: exit $status, want 2"; exit 1; }
    grep -q -- "$want" err.txt || { echo "$args: no '$want' in:"; cat err.txt; exit 1; }
    [ "$(head -1 err.txt | cut -c1-10)" = "beamfall: " ] && [ "$(wc -l < err.txt)" = 2 ]
    [ ! -s out.txt ] || { echo "$args: wrote a report"; exit 1; }
    rm out.txt err.txt
    [ "$(ls)" = "$before" ] || { echo "$args: files changed:"; ls; exit 1; }
  done <<'END'
--las x.las|--las needs --date
--las x.las --date 2026-13-01|not a day
--las x.las --date 2026-02-29|not a day
--las x.las --date 1980-01-05|not a day
--las x.las --date 12.04.2026|YYYY-MM-DD
--las x.las --date 2026-04-12 --line-id 0|--line-id
--las x.las --date 2026-04-12 --line-id 65536|--line-id
--las x.las --date 2026-04-12 --line-id 7x|--line-id
--las x.las --date 2026-04-12 --time-scale tai|--time-scale
--las x.las --date 2026-04-12 --vertical-crs 5773|--vertical-crs
--las x.las --date|needs a value
--las|needs a value
--las=|wants a file name
--no-progress=yes|takes no value
--colour|unknown option
--boresight 0.1,0.2|--boresight
--boresight 0.1,0.2,0.3,0.4|--boresight
--boresight 0.1,,0.3|--boresight
--boresight 0.1;0.2;0.3|--boresight
--boresight nan,0,0|--boresight
--boresight 1e999,0,0|--boresight
--boresight|needs a value
--range-offset 3cm|--range-offset
--range-offset inf|--range-offset
--range-offset=|--range-offset
--range-offset +-0.03|--range-offset
END
  # Profile mode (useatt F) writes no coordinates: refused before any file is touched.
  set_deck_line 9 '1 1 T T T T F'
  before=$(ls)
  status=0
  "$beamfall" --las x.las --date 2026-04-12 < deck.txt > out.txt 2> err.txt || status=$?
  [ "$status" = 2 ] && grep -q 'profile mode' err.txt
  rm out.txt err.txt
  [ "$(ls)" = "$before" ]
  # --help and --version: standard output, exit 0. Read whole: grep -q would stop reading at
  # its match, and with pipefail the help cut short by SIGPIPE failed the case now and then.
  help=$("$beamfall" --help)
  grep -q -- '--las FILE' <<<"$help"
  version=$("$beamfall" --version)
  grep -q '^beamfall [0-9]' <<<"$version"
  ;;
*)
  echo "las_case: unknown case $case" >&2
  exit 2
  ;;
esac
echo "las_case $case: passed"
