#!/usr/bin/env bash
# End-to-end cases of beamfall-campaign on simulated campaigns, with the real engines.
#
# usage: campaign_test.sh BUILD_DIR CASE
#   parallel   GNU parallel: outputs byte-identical to beamfall run by hand in each folder
#              (one folder named with a blank, quotes, $(...) and backquotes); a second run
#              does nothing; a touched deck re-runs only its line; a broken line is reported
#              while the others finish; a killed run leaves its running lines unrecorded.
#   slurm      a real single-node Slurm started here: outputs byte-identical to GNU parallel's,
#              with --las too; a campaign larger than Slurm's MaxArraySize in several arrays;
#              each line's progress printed while its array runs; an interrupted run cancels
#              its array and is taken up where it stopped.
#   products   --las: each line's LAS file byte-identical to beamfall --las by hand with the
#              folder's number and date; --quicklook: each line's page, made once.
#   crossline  the overlaps show the injected roll, and --roll0 with the campaign's estimate
#              removes it, from decks without roll0 and from comma-separated decks with one.
#   spelling   decks in every spelling beamfall reads (.TRUE., F, 1.5D0, commas, values
#              continued over lines) give the same summary as the plain decks, with and
#              without --roll0.
#   passthru   --rigorous --boresight --range-offset: outputs byte-identical to beamfall with
#              them by hand; a second run does nothing; a changed value re-runs every line.
#   empty_line a line without data (its trajectory empty) beside a good one and one whose
#              scanner file is empty: failed, named, out of the roll estimate and the
#              overlaps, no placeholder figures in summary.csv, exit status 1.
#   patterns   simulated campaigns of every pattern, with lines on both sides of both axes of
#              the grid: the cross-line check (cells, mean, RMS, the GeoTIFFs' cells) equals
#              the check held in memory, pair by pair (campaign_crosscheck).
#   shared     the same on the six-line calibration campaign of an independent simulator
#              (a thinned copy: data/README.md).
#   deck_txt   a line whose deck is deck.txt (as beamfall-sim names it) runs as one with deck;
#              a folder with both is refused before anything runs.
#   numbering  a table of folder names and the LAS point source IDs the lines get.
#   usage      a table of command lines with their exit status and message.
#   summary_memory  the summary's peak memory does not grow with the lines' length, and it
#              leaves no scratch file behind.
# Exit status 77: skipped (only when the Slurm daemons cannot start; the reason is printed).
set -euo pipefail
build=$(readlink -f -- "$1") case=$2
# shellcheck source=tests/require.sh
. "$(dirname -- "$0")/../require.sh"
require parallel parallel
require gnuplot gnuplot-nox
campaign=$build/beamfall-campaign
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-campaign-test.XXXXXX")
cleanup() {
  [[ $(type -t slurm_stop) == function ]] && slurm_stop
  rm -rf -- "$work"
}
trap cleanup EXIT
# Every shell that could see this name unquoted would create a file called pwned.
readonly nasty="line 02 it's \"odd\" \$(touch pwned) \`touch pwned\`"

fail() {
  echo "FAIL: $*"
  exit 1
}
expect_in() {  # TEXT NEEDLE WHAT
  [[ $1 == *"$2"* ]] || { printf '%s\n' "$1"; fail "$3: expected '$2'"; }
}

# A 4-line campaign, line02 renamed, and a copy of it processed by hand.
make_campaign() {
  "$build/beamfall-sim-campaign" 4 "$work/c" --sim "$build/beamfall-sim" >/dev/null
  mv -- "$work/c/line02" "$work/c/$nasty"
}
process_by_hand() {
  local dest=$1 d
  cp -r -- "$work/c" "$dest"
  for d in "$dest"/*/; do
    (cd -- "$d" && "$build/beamfall" <deck >report.txt)
  done
}
# Waits (at most SECONDS) until only two lines of the campaign keep their record: the two
# running lines of a --jobs 2 or --max-running 2 run have removed theirs and wait in
# slow-beamfall.
two_records_left() {
  local dir=$1 seconds=$2 k
  for ((k = 0; k < seconds * 10; ++k)); do
    [[ $(find "$dir" -name .campaign-record | wc -l) == 2 ]] && break
    sleep 0.1
  done
  sleep 0.3
}
# The line folders' files, byte for byte, without the campaign's own bookkeeping.
same_outputs() {
  diff -r --exclude=.campaign-record --exclude=.campaign --exclude='summary.*' \
    --exclude=overlaps -- "$1" "$2" || fail "$3: outputs differ"
}
no_injection() {
  [[ -z $(find "$work" / -maxdepth 1 -name pwned 2>/dev/null) ]] || fail "a folder name reached a shell"
  [[ -z $(find "$work" -name pwned) ]] || fail "a folder name reached a shell"
}
# Size and time of every record: unchanged means the line was not run.
snapshot() {
  local d
  for d in "$work/c"/*/; do
    [[ -f $d/deck ]] && stat -c '%n %s %.9Y' -- "$d.campaign-record" "$d/report.txt"
  done
  return 0
}
record_status() { jq -r .status -- "$work/c/$1/.campaign-record"; }

case_parallel() {
  make_campaign
  process_by_hand "$work/hand"
  local out before
  out=$("$campaign" run "$work/c" --jobs 2) || fail "first run failed: $out"
  expect_in "$out" "4 line(s), 0 up to date, 4 to run" "first run"
  expect_in "$out" "$nasty: done in" "first run's progress"
  same_outputs "$work/hand" "$work/c" "parallel run against beamfall by hand"
  [[ $(grep -c ',ok,' "$work/c/summary.csv") == 4 ]] || fail "summary.csv: 4 lines ok"
  # line01's row against its report, read here with awk: scans, points, flight heights, roll.
  local want
  want=$(LC_ALL=C awk '
    /Total number of scans read:/ { s = $NF } /Total number of points output:/ { p = $NF }
    /min and max flight elevation:/ { lo = $(NF - 1); hi = $NF }
    /slope \(roll0\):/ { r = $(NF - 1) }
    END { printf "line01,ok,%s,%s,%s,%s,%s", s, p, lo, hi, r }' "$work/c/line01/report.txt")
  [[ $(grep '^line01,' "$work/c/summary.csv" | cut -d, -f1-4,7,8,10) == "$want" ]] ||
    fail "summary.csv's line01 row is not its report's: $want"
  grep -qF "\"line 02 it's \"\"odd\"\"" "$work/c/summary.csv" || fail "summary.csv: quoted name"
  grep -q 'line 02 it&#39;s &quot;odd&quot;' "$work/c/summary.html" || fail "summary.html: name"

  before=$(snapshot)
  out=$("$campaign" run "$work/c" --jobs 2) || fail "second run failed"
  expect_in "$out" "4 up to date, 0 to run" "second run"
  [[ $(snapshot) == "$before" ]] || fail "second run touched a line"

  touch -- "$work/c/line03/deck"
  out=$("$campaign" run "$work/c" --jobs 2) || fail "run after touch failed"
  expect_in "$out" "3 up to date, 1 to run" "run after touching line03's deck"
  expect_in "$out" "line03: done" "run after touching line03's deck"
  diff <(printf '%s\n' "$before" | grep -v line03) <(snapshot | grep -v line03) >/dev/null ||
    fail "touching line03's deck re-ran another line"

  # A deck option change is an option change too: --las is recorded, so it would re-run all;
  # here a broken line: its trajectory is missing.
  sed -i '2s/.*/missing.traj/' "$work/c/line04/deck"
  local rc=0
  out=$("$campaign" run "$work/c" --jobs 2 --force) || rc=$?
  ((rc == 1)) || fail "a failed line must give exit status 1, not $rc"
  expect_in "$out" "Failed lines:" "broken line"
  expect_in "$out" "line04" "broken line"
  expect_in "$out" "$(tail -n 1 "$work/c/line04/report.txt")" "broken line's last report line"
  [[ $(tail -n 1 "$work/c/line04/report.txt") == *"***"* ]] || fail "line04's report ends in its error"
  for l in line01 "$nasty" line03; do
    [[ $(record_status "$l") == 0 ]] || fail "$l did not finish beside the broken line"
  done
  [[ $(record_status line04) == 1 ]] || fail "line04's record holds its exit status"
  grep -q '^line04,failed (1),' "$work/c/summary.csv" || fail "summary.csv: line04 failed"
  out=$("$campaign" run "$work/c" --jobs 2) || true
  expect_in "$out" "3 up to date, 1 to run" "a failed line is never up to date"

  # Killed while two lines run (the binary waits before starting): those two have no record
  # and run again; the other two keep theirs.
  sed -i '2s/.*/flight.traj/' "$work/c/line04/deck"
  "$campaign" run "$work/c" >/dev/null || fail "repair run"
  printf '#!/bin/sh\nsleep 30\nexec "%s" "$@"\n' "$build/beamfall" >"$work/slow-beamfall"
  chmod +x "$work/slow-beamfall"
  BEAMFALL=$work/slow-beamfall setsid "$campaign" run "$work/c" --jobs 2 --force >/dev/null &
  local pid=$!
  two_records_left "$work/c" 10
  rc=0
  out=$("$campaign" run "$work/c" 2>&1) || rc=$?
  ((rc == 1)) || fail "a second run beside a running one must be refused"
  expect_in "$out" "another run is working on" "a second run beside a running one"
  kill -TERM -- "-$pid"
  wait "$pid" || true
  [[ $(find "$work/c" -name .campaign-record | wc -l) == 2 ]] || fail "the killed run recorded a line"
  out=$("$campaign" run "$work/c" --jobs 2) || fail "run after the kill failed"
  expect_in "$out" "2 up to date, 2 to run" "run after the kill"
  same_outputs "$work/hand" "$work/c" "after the kill"

  # TERM sent to the campaign alone, not to its process group: GNU parallel gets it too and
  # ends its tasks; the campaign holds its lock until they have ended, then exits 143.
  BEAMFALL=$work/slow-beamfall setsid "$campaign" run "$work/c" --jobs 2 --force >/dev/null &
  pid=$!
  two_records_left "$work/c" 10
  kill -TERM "$pid"
  rc=0
  wait "$pid" || rc=$?
  [[ $rc == 143 ]] || fail "the campaign stopped by TERM alone exited $rc, expected 143"
  # (a zombie is ended already; only its reaping by init may lag)
  local alive
  alive=$(ps -o pid=,stat=,args= -s "$pid" | awk '$2 !~ /^Z/') || true
  [[ -z $alive ]] || fail "processes of the stopped campaign outlived it: $alive"
  [[ $(find "$work/c" -name .campaign-record | wc -l) == 2 ]] ||
    fail "the campaign stopped by TERM alone recorded a line"
  out=$("$campaign" run "$work/c" --jobs 2) || fail "run after TERM to the campaign alone failed"
  expect_in "$out" "2 up to date, 2 to run" "run after TERM to the campaign alone"
  same_outputs "$work/hand" "$work/c" "after TERM to the campaign alone"

  # Started with SIGCHLD ignored (a parent's setting that survives exec): the campaign takes it
  # back, so GNU parallel's end and every line's exit status are still seen.
  rc=0
  out=$(timeout 300 python3 -c 'import os, signal, sys
signal.signal(signal.SIGCHLD, signal.SIG_IGN)
os.execv(sys.argv[1], sys.argv[1:])' "$campaign" run "$work/c" --jobs 2 --force 2>&1) || rc=$?
  [[ $rc == 0 ]] || fail "a run started with SIGCHLD ignored exited $rc (124: it hung): $out"
  same_outputs "$work/hand" "$work/c" "a run started with SIGCHLD ignored"

  # A record the campaign cannot take makes its line run again: cut short, of the first
  # version, without its outputs, with a status that is not a number.
  local record=$work/c/line03/.campaign-record kind
  for kind in cut old no-outputs bad-status; do
    case $kind in
      cut) head -c 100 -- "$record" >"$record.bad" ;;
      old) printf 'beamfall-campaign record 1\nstatus 0\nseconds 1.000\noptions\n' >"$record.bad" ;;
      no-outputs) jq 'del(.outputs)' -- "$record" >"$record.bad" ;;
      bad-status) jq '.status = "0"' -- "$record" >"$record.bad" ;;
    esac
    mv -- "$record.bad" "$record"
    out=$("$campaign" run "$work/c" --jobs 2) || fail "run after a $kind record failed: $out"
    expect_in "$out" "3 up to date, 1 to run" "a $kind record"
    expect_in "$out" "line03: done in" "a $kind record"
  done
  same_outputs "$work/hand" "$work/c" "after the unreadable records"
  no_injection
}

# A line's LAS options as the test reads them off its folder: the number in the folder's
# name (line01 -> 1, the odd one "line 02 ..." -> 2) and the one-line date file.
las_options() {
  local name=$1 date
  date=$(<"$work/c/$name/date")
  [[ $name =~ ([0-9]+) ]] || fail "$name: no number in the folder's name"
  printf '%s\n' --las points.las --line-id "$((10#${BASH_REMATCH[1]}))" --date "$date"
}
# beamfall --las by hand in each folder of a copy, SOURCE_DATE_EPOCH at the flight date's
# midnight (UTC) as the README says.
las_by_hand() {
  local dest=$1 d name
  local -a opts
  cp -r -- "$work/c" "$dest"
  for d in "$dest"/*/; do
    name=$(basename -- "$d")
    mapfile -t opts < <(las_options "$name")
    (cd -- "$d" && SOURCE_DATE_EPOCH=$(date -u -d "${opts[5]}" +%s) \
      "$build/beamfall" "${opts[@]}" <deck >report.txt) || fail "$name: beamfall --las by hand"
  done
}
# The file source ID (header bytes 4-5, little-endian) of a LAS file.
las_file_source_id() { od -An -tu2 -j4 -N2 -- "$1" | tr -d ' '; }

# --las and --quicklook through GNU parallel. line04 writes its points to the LAS file only
# (point file 0), so its quick-look and the cross-line check must read them from there.
case_products() {
  make_campaign
  sed -i '4s/.*/0/' "$work/c/line04/deck"
  las_by_hand "$work/hand"
  local out before name
  out=$("$campaign" run "$work/c" --jobs 2 --las) || fail "--las run failed: $out"
  same_outputs "$work/hand" "$work/c" "--las run against beamfall --las by hand"
  # line04's points are in its LAS file only: the cross-line check reads them there.
  expect_in "$out" "overlap line03 minus line04:" "the cross-line check of a LAS-only line"
  for name in line01 "$nasty" line03 line04; do
    [[ $(las_file_source_id "$work/c/$name/points.las") == "$(las_options "$name" | sed -n 4p)" ]] ||
      fail "$name: the LAS file source ID is not the folder's number"
  done

  out=$("$campaign" run "$work/c" --jobs 2 --las --quicklook) || fail "--quicklook run failed: $out"
  expect_in "$out" "0 up to date, 4 to run" "--quicklook is an option change"
  for name in line01 "$nasty" line03 line04; do
    # The page holds the hillshade inline, made only from the points (line04: from the LAS).
    grep -q '<img alt="Colour-relief hillshade[^"]*" src="data:image/[^;]*;base64,' -- \
      "$work/c/$name/quicklook/index.html" 2>/dev/null ||
      fail "$name: no quicklook/index.html with the points' hillshade"
  done
  diff -r --exclude=.campaign-record --exclude=.campaign --exclude='summary.*' \
    --exclude=overlaps --exclude=quicklook --exclude=quicklook.log -- "$work/hand" "$work/c" ||
    fail "the --quicklook run changed a line's outputs"

  before=$(snapshot; stat -c '%n %.9Y' -- "$work/c"/*/quicklook/index.html)
  out=$("$campaign" run "$work/c" --jobs 2 --las --quicklook) || fail "second --quicklook run"
  expect_in "$out" "4 up to date, 0 to run" "second --quicklook run"
  [[ $(snapshot; stat -c '%n %.9Y' -- "$work/c"/*/quicklook/index.html) == "$before" ]] ||
    fail "the second --quicklook run touched a line"
  rm -r -- "$work/c/line03/quicklook"
  out=$("$campaign" run "$work/c" --jobs 2 --las --quicklook) || fail "run after removing a quick-look"
  expect_in "$out" "3 up to date, 1 to run" "run after removing line03's quick-look"
  [[ -s $work/c/line03/quicklook/index.html ]] || fail "line03's quick-look was not made again"
  no_injection
}

case_slurm() {
  # shellcheck source-path=SCRIPTDIR source=slurm_node.sh
  source "$(dirname -- "$0")/slurm_node.sh"
  command -v slurmctld >/dev/null || { echo "SKIP: slurmctld not installed (slurm-wlm)"; exit 77; }
  if ! slurm_start "$work/slurm"; then
    echo "SKIP: the Slurm daemons cannot start here: $slurm_why"
    exit 77
  fi
  make_campaign
  cp -r -- "$work/c" "$work/par"
  "$campaign" run "$work/par" --jobs 2 >/dev/null || fail "the GNU parallel run failed"
  local out
  out=$("$campaign" run "$work/c" --slurm --partition test --max-running 2) ||
    fail "the Slurm run failed: $out"
  expect_in "$out" "4 to run" "Slurm run"
  # The test's slurm.conf has MaxArraySize=3: arrays of two tasks at most.
  expect_in "$out" "4 line(s) as 2 Slurm job arrays of at most 2" "Slurm run beyond MaxArraySize"
  [[ $(grep -c '^[^:]*: done in .* s \[[1-4] done, ' <<<"$out") == 4 ]] ||
    fail "the Slurm run did not print each finished line with its counts: $out"
  same_outputs "$work/par" "$work/c" "Slurm run against the GNU parallel run"
  [[ $(grep -c ',ok,' "$work/c/summary.csv") == 4 ]] || fail "summary.csv: 4 lines ok"
  out=$("$campaign" run "$work/c" --slurm) || fail "second Slurm run failed"
  expect_in "$out" "4 up to date, 0 to run" "second Slurm run"

  # Interrupted while two tasks run: the array is cancelled, the two running lines lose their
  # record, the two pending ones keep theirs, and the next run takes up exactly the two.
  printf '#!/bin/sh\nsleep 30\nexec "%s" "$@"\n' "$build/beamfall" >"$work/slow-beamfall"
  chmod +x "$work/slow-beamfall"
  BEAMFALL=$work/slow-beamfall "$campaign" run "$work/c" --force --slurm --max-running 2 \
    >/dev/null &
  local pid=$!
  two_records_left "$work/c" 15
  kill -TERM "$pid"
  local rc=0
  wait "$pid" || rc=$?
  [[ $rc == 143 ]] || fail "the run stopped by TERM exited $rc, expected 143"
  for ((k = 0; k < 100; ++k)); do
    [[ -z $(squeue -h) ]] && break
    sleep 0.2
  done
  [[ -z $(squeue -h) ]] || fail "the interrupted run left its array in Slurm"
  [[ $(find "$work/c" -name .campaign-record | wc -l) == 2 ]] ||
    fail "the interrupted Slurm run recorded a line"
  out=$("$campaign" run "$work/c" --slurm) || fail "Slurm run after the interruption failed"
  expect_in "$out" "2 up to date, 2 to run" "Slurm run after the interruption"
  same_outputs "$work/par" "$work/c" "Slurm run after the interruption"

  # The LAS files too: SOURCE_DATE_EPOCH makes their headers the same wherever a task runs.
  "$campaign" run "$work/par" --jobs 2 --las >/dev/null || fail "the GNU parallel --las run failed"
  out=$("$campaign" run "$work/c" --slurm --las) || fail "the Slurm --las run failed: $out"
  expect_in "$out" "0 up to date, 4 to run" "Slurm --las run"
  [[ -s "$work/c/line01/points.las" ]] || fail "the Slurm --las run wrote no LAS file"
  same_outputs "$work/par" "$work/c" "Slurm --las run against the GNU parallel --las run"

  # Progress while an array runs (it once said nothing until the end): the odd line holds
  # until a file goes, so line01, its neighbour in the first array, shows as done with one
  # line running and two left while sbatch still waits.
  printf '#!/bin/sh\nwhile [ -e hold ]; do sleep 0.2; done\nexec "%s" "$@"\n' "$build/beamfall" \
    >"$work/held-beamfall"
  chmod +x "$work/held-beamfall"
  touch -- "$work/c/$nasty/hold"
  BEAMFALL=$work/held-beamfall BFC_POLL_SECONDS=1 "$campaign" run "$work/c" --slurm --las \
    >"$work/progress.out" &
  pid=$!
  for ((k = 0; k < 300; ++k)); do
    grep -q '^line01: done' "$work/progress.out" && break
    sleep 0.2
  done
  out=$(<"$work/progress.out")
  rm -f -- "$work/c/$nasty/hold"
  wait "$pid" || fail "the held Slurm run failed: $(<"$work/progress.out")"
  grep -qE '^line01: done in [0-9.]+ s \[1 done, 1 running, 2 left\]$' <<<"$out" ||
    fail "no progress while the array ran: $out"
  out=$(<"$work/progress.out")
  expect_in "$out" "line04: done in" "the held Slurm run"
  expect_in "$out" "[4 done, 0 running, 0 left]" "the held Slurm run"
  same_outputs "$work/par" "$work/c" "the held Slurm run against the GNU parallel --las run"

  # A start file that can't be written is an error before anything is submitted (it once
  # went unnoticed, and every old record counted as just finished).
  rm -f -- "$work/c/.campaign/slurm.start"
  mkdir -- "$work/c/.campaign/slurm.start"
  rc=0
  out=$("$campaign" run "$work/c" --slurm --force 2>&1) || rc=$?
  [[ $rc == 1 ]] || fail "an unwritable start file: exit status $rc, expected 1: $out"
  expect_in "$out" "cannot write $work/c/.campaign/slurm.start" "an unwritable start file"
  [[ -z $(squeue -h) ]] || fail "an unwritable start file: a job was submitted"
  rmdir -- "$work/c/.campaign/slurm.start"
  no_injection
}

# True when two numbers of degrees agree within 0.002: the regression's estimate of the
# injected roll at full precision (the summary once took the report's value rounded to 0.01,
# and hit the injected value only through that rounding).
near() { LC_ALL=C awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(a != "" && d < 0.002 && d > -0.002) }'; }

# The campaign's estimate, recomputed here from the lines' records at full precision: the
# median over the lines that succeeded of the roll0 each ran with (--roll0, else the deck's)
# plus its regression's roll.
records_estimate() {
  jq -s '[.[] | select(.status == 0) | .manifest | ((.options.roll0 // .deck.roll0) + .regression.roll)]
    | sort | if length % 2 == 1 then .[length / 2 | floor] else (.[length / 2 - 1] + .[length / 2]) / 2 end' \
    -- "$work/c"/*/.campaign-record | LC_ALL=C xargs printf '%.3f'
}

# The printed estimate (OUTPUT) is the records' median and near the injected roll (WANT).
check_estimate() {
  local est
  est=$(sed -n 's/^campaign roll estimate (roll0): \([-0-9.]*\) degrees.*/\1/p' <<<"$1")
  [[ $est == "$(records_estimate)" ]] || fail "$3: estimate $est, from the records $(records_estimate)"
  near "$est" "$2" || fail "$3: estimate $est, expected $2"
}

# The overlap of two neighbouring lines, flown in opposite directions: with the roll r left
# out of the decks, each line's points tilt by -r y (y: distance to starboard; at sea level
# the scanner's height above ground equals the ellipsoidal height, so the report's roll
# estimate is r itself). In the overlap strip of width O = 87 m the two starboard distances
# add up to the line spacing, so line a minus line b = -r (y_a - y_b) runs linearly across the
# strip from -r O to +r O: mean 0, RMS r O / sqrt(3). A 5 m cell the strip's edge only grazes
# still counts, so the strip on the grid is about a cell wider: O = 92 m, RMS = 0.002618 x 92 /
# 1.732 = 0.139 m. The aircraft's +-0.8 degree roll moves the swath edges by +-5 m, so the
# strip's width varies: accept 10 %.
case_crossline() {
  "$build/beamfall-sim-campaign" 4 "$work/c" --sim "$build/beamfall-sim" >/dev/null
  mkdir "$work/decks"
  for l in 1 2 3 4; do cp "$work/c/line0$l/deck" "$work/decks/$l"; done
  local out est
  out=$("$campaign" run "$work/c" --jobs 2) || fail "run failed"
  printf '%s\n' "$out"
  [[ $(grep -c '^overlap ' <<<"$out") == 3 ]] || fail "three neighbouring pairs overlap"
  LC_ALL=C awk '/^overlap / { m = $(NF - 4); r = $(NF - 1)
      if (m + 0 > 0.02 || m + 0 < -0.02 || r < 0.139 * 0.9 || r > 0.139 * 1.1) bad = 1 }
      END { exit bad }' <<<"$out" || fail "overlaps not as the injected roll gives"
  # The GeoTIFF of the first pair, read by GDAL: its valid cells and their mean are the
  # summary's.
  local cells mean
  cells=$(sed -n 's/^overlap line01 minus line02: \([0-9]*\) cells.*/\1/p' <<<"$out")
  mean=$(sed -n 's/^overlap line01 minus line02: .* mean \([-0-9.]*\) m.*/\1/p' <<<"$out")
  gdalinfo -stats "$work/c/overlaps/line1-line2.tif" | LC_ALL=C awk -v n="$cells" -v m="$mean" '
    /^Size is/ { gsub(",", ""); size = $3 * $4 }
    /STATISTICS_VALID_PERCENT=/ { split($0, v, "="); valid = v[2] }
    /STATISTICS_MEAN=/ { split($0, v, "="); mean = v[2] }
    END { exit !(size * valid / 100 > n - 0.5 && size * valid / 100 < n + 0.5 &&
                 sprintf("%.3f", mean) == sprintf("%.3f", m)) }' ||
    fail "overlaps/line1-line2.tif does not hold the summary's $cells cells of mean $mean"
  est=$(sed -n 's/^campaign roll estimate (roll0): \([-0-9.]*\) degrees.*/\1/p' <<<"$out")
  check_estimate "$out" 0.150 "from decks without roll0"
  out=$("$campaign" run "$work/c" --roll0 "$est" --jobs 2) || fail "--roll0 run failed"
  printf '%s\n' "$out"
  expect_in "$out" "0 up to date, 4 to run" "--roll0 re-runs every line"
  # Left: the range steps (2.3 mm a point), about 2 mm in the difference of two cell means.
  LC_ALL=C awk '/^overlap / { if ($(NF - 1) >= 0.01) bad = 1 } END { exit bad }' <<<"$out" ||
    fail "after --roll0 an overlap's RMS is 1 cm or more"
  for l in 1 2 3 4; do
    cmp -s "$work/c/line0$l/deck" "$work/decks/$l" || fail "--roll0 changed line0$l's deck"
  done
  [[ ! -e $work/c/line01/deck.roll0 ]] || fail "--roll0 wrote a copy of the deck"
  jq -e --argjson v "$est" '.manifest.options.roll0 == $v' -- "$work/c/line01/.campaign-record" \
    >/dev/null || fail "line01 did not run with roll0 $est"
  # The lines ran with roll0 = the estimate and estimate the rest, about 0: the value to
  # enter stays the injected roll (it was once the residual's median, about 0).
  check_estimate "$out" 0.150 "after --roll0"

  # Decks that already carry roll0 0.10, written with commas (once refused: awk's default
  # fields took "0,0.10,0" as one): each line estimates the residual 0.05, the value to
  # enter is 0.10 + 0.05, and one run with it removes the misalignment.
  for l in 1 2 3 4; do sed -i '11s/.*/0,0.10,0/' "$work/c/line0$l/deck"; done
  out=$("$campaign" run "$work/c" --jobs 2) || fail "run from decks with roll0 0.10 failed"
  printf '%s\n' "$out"
  local residual
  residual=$(sed -n "s/^residual roll after the decks' roll0: \([-0-9.]*\) degrees.*/\1/p" <<<"$out")
  near "$residual" 0.050 || fail "decks with roll0 0.10: residual $residual, expected 0.050"
  est=$(sed -n 's/^campaign roll estimate (roll0): \([-0-9.]*\) degrees.*/\1/p' <<<"$out")
  check_estimate "$out" 0.150 "from decks with roll0 0.10"
  out=$("$campaign" run "$work/c" --roll0 "$est" --jobs 2) || fail "second --roll0 run failed"
  printf '%s\n' "$out"
  [[ $(grep -c '^overlap ' <<<"$out") == 3 ]] || fail "three pairs overlap after the second --roll0"
  LC_ALL=C awk '/^overlap / { if ($(NF - 1) >= 0.01) bad = 1 } END { exit bad }' <<<"$out" ||
    fail "after --roll0 from decks with roll0 0.10 an overlap's RMS is 1 cm or more"
  jq -e --argjson v "$est" '.manifest.options.roll0 == $v' -- "$work/c/line01/.campaign-record" \
    >/dev/null || fail "line01 did not run with roll0 $est from commas"
}

# Regression: a line whose run had no data (an empty trajectory: beamfall warned and output no
# point, with exit status 0) counted as ok; its regression's 0.00 halved the campaign's roll
# estimate and summary.csv showed the report's placeholders 9999.00 and -9999.00. A line with
# an empty scanner file (beamfall stops: exit status 1) beside it.
case_empty_line() {
  "$build/beamfall-sim-campaign" 3 "$work/c" --sim "$build/beamfall-sim" >/dev/null
  : >"$work/c/line02/flight.traj"
  : >"$work/c/line03/flight.2dd"
  local out rc=0 row
  out=$("$campaign" run "$work/c" --jobs 2) || rc=$?
  printf '%s\n' "$out"
  ((rc == 1)) || fail "a run with lines without data must exit 1, not $rc"
  expect_in "$out" "line01: done in" "the good line"
  grep -qE '^line02 +(no points|exit status 1) +\*\*\* warning: no trajectory data' <<<"$out" ||
    fail "the table of failed lines lacks line02 and its warning"
  grep -qE '^line03 +exit status 1 +\*\*\* end of file met in header' <<<"$out" ||
    fail "the table of failed lines lacks line03 and its error"
  grep -qE '^failed lines, left out of the roll estimate and the cross-line check: line02 \((no points|exit status 1)\), line03 \(exit status 1\)$' <<<"$out" ||
    fail "the summary does not name the failed lines"
  grep -q '<strong>failed lines, left out of the roll estimate and the cross-line check: line02' \
    "$work/c/summary.html" || fail "summary.html does not name the failed lines"
  # The estimate is line01's alone: its roll0 (0) plus its regression's roll, as the record has it.
  local want
  want=$(jq '.manifest.regression.roll' -- "$work/c/line01/.campaign-record" | LC_ALL=C xargs printf '%.3f')
  expect_in "$out" "campaign roll estimate (roll0): $want degrees" "the estimate from the good line"
  expect_in "$out" "(median over 1 lines" "the estimate from the good line"
  [[ $(grep -c '^overlap ' <<<"$out") == 0 ]] || fail "a failed line is in the cross-line check"
  [[ -z $(find "$work/c" -name '*.tif') ]] || fail "a failed line has an overlap GeoTIFF"
  for row in line02 line03; do
    # Status, then scans and points (when the run counted them), then no figure at all.
    grep -qE "^$row,failed \((no points|1)\),[0-9]*,[0-9]*,,,,,,,[0-9]*,[0-9]*,[0-9]*,[0-9.]+\$" \
      "$work/c/summary.csv" || fail "summary.csv's $row row: $(grep "^$row," "$work/c/summary.csv")"
  done
  grep -q '9999' "$work/c/summary.csv" && fail "summary.csv holds a placeholder: $(<"$work/c/summary.csv")"
  grep -q '^line01,ok,160,19200,' "$work/c/summary.csv" || fail "summary.csv: line01 ok"
  out=$("$campaign" run "$work/c" --jobs 2) || true
  expect_in "$out" "1 up to date, 2 to run" "a line without data is never up to date"
}

# Runs the campaign DIR and checks its cross-line check against the check held in memory, on
# the summary's 5 m grid and on 1 m cells, whose 128 m tiles lie on both sides of both axes.
crosscheck() {
  local dir=$1 out
  out=$("$campaign" run "$dir" --jobs 2) || fail "$dir: run failed: $out"
  printf '%s\n' "$out" >"$dir.out"
  "$build/tests/campaign/campaign_crosscheck" "$dir" "$dir.out" 1 >"$dir.check" ||
    { cat -- "$dir.check"; fail "$dir: the cross-line check differs from the reference"; }
  grep -E '^(5 m cells:|crosscheck)' -- "$dir.check"
}

# Regression: the streamed check lost every point of a line before it left tile (-1, -1) of the
# grid (south-west of the campaign's centre): line01/line02 of the 3-line campaign had 1042
# cells of 2012, and 3 of the 6 pairs of the 4-line crossing lost cells. Every pattern of the
# simulator, some with lines long and many enough to reach tiles -2 to 1 both ways at 5 m.
case_patterns() {
  local -a table=(
    "3"
    "4 --pattern crossing --surface terrain"
    "6 --duration 20"
    "2 --pattern opposite --surface terrain --duration 20"
    "3 --pattern offset --surface terrain --duration 20"
    "4 --pattern crossing --duration 20"
    "4 --pattern heights --height 250 --height2 450 --surface terrain"
  )
  local row lines opts k=0
  for row in "${table[@]}"; do
    k=$((k + 1))
    read -r lines opts <<<"$row"
    echo "campaign $k: beamfall-sim-campaign $lines DIR $opts"
    # shellcheck disable=SC2086  # the table's options hold no blanks
    "$build/beamfall-sim-campaign" "$lines" "$work/p$k" $opts --sim "$build/beamfall-sim" >/dev/null
    crosscheck "$work/p$k"
  done
}

case_shared() {
  cp -r -- "$(dirname -- "$0")/data/calibration-campaign" "$work/shared"
  chmod -R u+w -- "$work/shared"
  crosscheck "$work/shared"
}

# The campaign once listed only folders holding `deck`, so a line made by beamfall-sim, whose
# deck is deck.txt, was not a line at all.
case_deck_txt() {
  "$build/beamfall-sim-campaign" 2 "$work/c" --sim "$build/beamfall-sim" --duration 2 >/dev/null
  mv -- "$work/c/line02/deck" "$work/c/line02/deck.txt"
  cp -r -- "$work/c" "$work/hand"
  local out args rc=0
  out=$("$campaign" run "$work/c" --jobs 2) || fail "run with a deck.txt failed: $out"
  expect_in "$out" "2 line(s), 0 up to date, 2 to run" "a line with deck.txt"
  expect_in "$out" "line02: done in" "a line with deck.txt"
  [[ $(jq -r '.inputs[0].name' -- "$work/c/line02/.campaign-record") == deck.txt ]] ||
    fail "line02's record does not stamp deck.txt"
  cmp -- "$work/c/line02/report.txt" <(cd "$work/hand/line02" && "$build/beamfall" <deck.txt) ||
    fail "line02 did not run deck.txt"
  out=$("$campaign" run "$work/c" --jobs 2) || fail "second run failed: $out"
  expect_in "$out" "2 up to date, 0 to run" "a line with deck.txt, run again"
  cp -- "$work/c/line02/deck.txt" "$work/c/line02/deck"
  for args in "run $work/c" "summary $work/c"; do
    rc=0
    # shellcheck disable=SC2086  # the arguments hold no blanks
    out=$("$campaign" $args 2>&1) || rc=$?
    ((rc == 1)) || fail "$args with deck and deck.txt in a line: exit status $rc, expected 1"
    expect_in "$out" "$work/c/line02: both deck and deck.txt; keep the one to run" "$args"
  done
}

# Line numbers (LAS point source IDs) from folder names: the number in each name when every
# one has a different number from 1 to 65535, else 1, 2, ... in folder order. line00 once got
# --line-id 0, which beamfall refuses; a number of 20 digits once wrapped around into range.
case_numbering() {
  "$build/beamfall-sim-campaign" 1 "$work/sim" --duration 1 --nmeas 20 \
    --sim "$build/beamfall-sim" >/dev/null
  local -a table=(
    "line00 line01|1 2"
    "L7 L65535|7 65535"
    "a65536 b2|1 2"
    "x18446744073709551621 y2|1 2"
    "x0000000000000000000005 y2|5 2"
    "m3 n3|1 2"
  )
  local row names want got dir name k=0
  for row in "${table[@]}"; do
    IFS='|' read -r names want <<<"$row"
    k=$((k + 1))
    dir=$work/n$k
    for name in $names; do
      mkdir -p "$dir"
      cp -r "$work/sim/line01" "$dir/$name"
    done
    "$campaign" run "$dir" --las --jobs 2 >/dev/null 2>&1 || fail "$names: run failed"
    got=$(for name in $names; do las_file_source_id "$dir/$name/points.las"; done | xargs)
    [[ $got == "$want" ]] || fail "folders $names: point source IDs $got, expected $want"
  done
}

# The same campaign twice: plain decks, and decks respelled in forms beamfall reads alike
# (switches .TRUE., .t., F; reals 14.0D0, 1.4E0; commas; parameter line 1 continued over two
# lines, so that roll0 is no longer on deck line 11). Both campaigns write their points as
# text (binout F), so the cross-line check reads text points too. Every column of
# summary.csv but the seconds, the roll estimate and the overlaps must be the same; they
# once lost the times and the regression of every respelled line.
case_spelling() {
  "$build/beamfall-sim-campaign" 3 "$work/plain" --sim "$build/beamfall-sim" >/dev/null
  local d
  for d in "$work/plain"/*/; do sed -i '9s/.*/1 1 T F T T T/' "$d/deck"; done
  cp -r -- "$work/plain" "$work/spelled"
  for d in "$work/spelled"/*/; do
    printf '%s\n' flight.2dd flight.traj 0 points.bin centre.txt "$(sed -n 6p "$d/deck" |
      LC_ALL=C awk '{ printf "%s.0D0, %s,", $1, $2 }')" "  $(sed -n 6p "$d/deck" | cut -d' ' -f3)" \
      '0.0D0,48' '-90 , 90,-180 ,180' '1,1,.TRUE.,F,.t.,T,.true.' '0.6D0 -0.3 1.4E0' \
      '0,0,0' '1' '1,120' '1.0' >"$d/deck.new"
    mv -- "$d/deck.new" "$d/deck"
  done
  local roll0 plain_out spelled_out
  for roll0 in '' 0.150; do
    plain_out=$("$campaign" run "$work/plain" --jobs 2 ${roll0:+--roll0 "$roll0"}) ||
      fail "plain decks ${roll0:+with --roll0 }failed: $plain_out"
    spelled_out=$("$campaign" run "$work/spelled" --jobs 2 ${roll0:+--roll0 "$roll0"}) ||
      fail "respelled decks ${roll0:+with --roll0 }failed: $spelled_out"
    printf '%s\n' "$spelled_out"
    diff <(cut -d, -f1-13 "$work/plain/summary.csv") <(cut -d, -f1-13 "$work/spelled/summary.csv") ||
      fail "summary.csv of the respelled decks ${roll0:+with --roll0 }differs"
    diff <(grep -E '^(campaign roll|residual|overlap)' <<<"$plain_out") \
      <(grep -E '^(campaign roll|residual|overlap)' <<<"$spelled_out") ||
      fail "the respelled decks' estimate or overlaps ${roll0:+with --roll0 }differ"
    [[ $(grep -c '^overlap ' <<<"$spelled_out") == 2 ]] || fail "two pairs overlap: $spelled_out"
    # Every line ok, with its times, heights, bias and roll.
    [[ $(grep -cE '^line0[1-3],ok,[0-9]+,[0-9]+,[0-9.]+,[0-9.]+,[0-9.]+,[0-9.]+,-?[0-9.]+,-?[0-9.]+,' \
      "$work/spelled/summary.csv") == 3 ]] || fail "summary.csv lacks figures: $(<"$work/spelled/summary.csv")"
  done
  expect_in "$spelled_out" "campaign roll estimate (roll0): 0.150 degrees" "respelled decks after --roll0"
  jq -e '.manifest.options.roll0 == 0.15' -- "$work/spelled/line01/.campaign-record" >/dev/null ||
    fail "the respelled line01 did not run with roll0 0.150"
}

# Command-line behaviour: arguments, exit status, a piece of the message.
case_passthru() {
  "$build/beamfall-sim-campaign" 2 "$work/c" --sim "$build/beamfall-sim" --surface terrain \
    --boresight 0.1,-0.1,0.2 --range-bias 0.03 >/dev/null
  local -a opts=(--rigorous --boresight 0.1,-0.1,0.2 --range-offset -0.03)
  local d out before
  cp -r -- "$work/c" "$work/hand"
  for d in "$work/hand"/*/; do
    (cd -- "$d" && "$build/beamfall" "${opts[@]}" <deck >report.txt)
  done
  out=$("$campaign" run "$work/c" --jobs 2 "${opts[@]}") || fail "first run failed: $out"
  expect_in "$out" "0 up to date, 2 to run" "first run"
  same_outputs "$work/hand" "$work/c" "run with the options against beamfall by hand"
  # The options changed the points: a campaign run without them would not pass the diff.
  cp -r -- "$work/hand/line01" "$work/plain"
  cmp -s -- "$work/c/line01/report.txt" <(cd "$work/plain" && "$build/beamfall" <deck) &&
    fail "the options made no difference to line01's report"

  before=$(snapshot)
  out=$("$campaign" run "$work/c" --jobs 2 "${opts[@]}") || fail "second run failed"
  expect_in "$out" "2 up to date, 0 to run" "second run"
  [[ $(snapshot) == "$before" ]] || fail "second run touched a line"

  local -a changed
  for changed in "--boresight 0.1,-0.1,0.25 --range-offset -0.03 --rigorous" \
    "--boresight 0.1,-0.1,0.25 --range-offset -0.02 --rigorous" \
    "--boresight 0.1,-0.1,0.25 --range-offset -0.02"; do
    # shellcheck disable=SC2086  # the options hold no blanks
    out=$("$campaign" run "$work/c" --jobs 2 $changed) || fail "run with $changed failed"
    expect_in "$out" "0 up to date, 2 to run" "changing the options to $changed"
  done
}

case_usage() {
  mkdir -p "$work/empty" "$work/nodate/l1" "$work/one/l1"
  printf 'x\n' >"$work/nodate/l1/deck"
  printf 'x\n' >"$work/one/l1/deck"
  local -a table=(
    "2|missing command|"
    "2|unknown command 'go'|go"
    "2|run needs a campaign folder|run"
    "2|--jobs needs a positive count|run $work/empty --jobs 0"
    "2|--jobs needs a positive count|run $work/empty --jobs"
    "2|unknown option '--bogus'|run $work/empty --bogus"
    "2|--date needs a date YYYY-MM-DD|run $work/empty --date 2026-13-45"
    "2|--roll0 wants a number of degrees, not 'abc'|run $work/empty --roll0 abc"
    "2|--roll0 wants a number of degrees, not '1.5,2'|run $work/empty --roll0 1.5,2"
    "2|--roll0 needs a value|run $work/empty --roll0"
    "1|no line folders with a deck|run $work/empty --roll0 1.5D0"
    "1|no line folders with a deck|run $work/empty --roll0 1e-3"
    "1|no line folders with a deck|run $work/empty --roll0 -.5"
    "2|--boresight wants ROLL,PITCH,HEADING|run $work/one --boresight 0.1,0.2"
    "2|--boresight wants ROLL,PITCH,HEADING|run $work/one --boresight 0.1,x,0.2"
    "2|--range-offset wants a number of metres|run $work/one --range-offset 3cm"
    "2|--range-offset wants a number of metres|run $work/one --range-offset nan"
    "2|--range-offset needs a value|run $work/one --range-offset"
    "2|--threads wants a whole number from 1 to 1024, not '0'|run $work/one --threads 0"
    "2|--threads wants a whole number from 1 to 1024, not 'x'|run $work/one --threads x"
    "2|--threads needs a value|run $work/one --threads"
    "2|--partition and --max-running go with --slurm|run $work/empty --max-running 2"
    "2|one campaign folder only|run $work/empty $work/empty"
    "2|summary needs exactly one campaign folder|summary"
    "1|no such campaign folder|run $work/missing"
    "1|no line folders with a deck|run $work/empty"
    "1|l1: no flight date|run $work/nodate --las"
    "0|usage: beamfall-campaign run DIR|--help"
    "0|usage: beamfall-campaign run DIR|run $work/one --help"
    "0|usage: beamfall-campaign run DIR|summary -h"
    "2|unknown option '--bogus'|summary $work/empty --bogus"
  )
  local row code text args out rc
  for row in "${table[@]}"; do
    IFS='|' read -r code text args <<<"$row"
    rc=0
    # shellcheck disable=SC2086  # the table's arguments hold no blanks
    out=$("$campaign" $args 2>&1) || rc=$?
    [[ $rc == "$code" ]] || fail "'$args': exit status $rc, expected $code: $out"
    expect_in "$out" "$text" "'$args'"
    [[ $code != 2 ]] ||
      expect_in "$out" "Try 'beamfall-campaign --help'" "'$args' points to --help"
  done
  # A value beamfall takes in a form the documentation doesn't show reaches the line's run.
  mkdir -p "$work/spelt/l1"
  printf 'x\n' >"$work/spelt/l1/deck"
  rc=0
  out=$("$campaign" run "$work/spelt" --roll0 1.5D0 2>&1) || rc=$?
  [[ $rc == 1 ]] || fail "--roll0 1.5D0 on a bad deck: exit status $rc, expected 1: $out"
  jq -e '.options.roll0 == "1.5D0"' -- "$work/spelt/l1/.campaign-record" >/dev/null ||
    fail "the line did not run with --roll0 1.5D0"
  # The usage errors on the folder with a line ran nothing there.
  [[ $(ls -A "$work/one" "$work/one/l1") == "$(printf '%s\n' "$work/one:" l1 '' "$work/one/l1:" deck)" ]] ||
    fail "a usage error ran the campaign's line"
}

# A line's beamfall --threads: given, or the cores the campaign may use (nproc here: this
# process's affinity; a cgroup quota would lower it) shared among the lines run at once. The
# outputs are those of one thread by hand, and a change of threads alone runs no line again.
line_threads() {  # LINE: the --threads value of its run, from its manifest's arguments
  jq -r '.manifest.arguments | index("--threads") as $k | .[$k + 1]' -- "$work/c/$1/.campaign-record"
}
case_threads() {
  "$build/beamfall-sim-campaign" 2 "$work/c" --sim "$build/beamfall-sim" >/dev/null
  cp -r -- "$work/c" "$work/hand"
  local d out cores t
  for d in "$work/hand"/*/; do
    (cd -- "$d" && "$build/beamfall" --threads 1 <deck >report.txt)
  done
  cores=$(nproc)
  [[ -z $(cat /sys/fs/cgroup/cpu.max 2>/dev/null | grep -v '^max ') ]] ||
    { echo "SKIP: a cgroup CPU quota: the expected threads would need it"; exit 77; }
  out=$("$campaign" run "$work/c" --jobs 1) || fail "run with --jobs 1 failed: $out"
  same_outputs "$work/hand" "$work/c" "run on $cores threads a line against one thread by hand"
  for d in line01 line02; do
    [[ $(line_threads "$d") == "$cores" ]] || fail "$d: --threads $(line_threads "$d"), expected $cores (one line at a time)"
  done
  out=$("$campaign" run "$work/c" --jobs 2 --force) || fail "run with --jobs 2 failed: $out"
  t=$((cores / 2 > 0 ? cores / 2 : 1))
  [[ $(line_threads line01) == "$t" ]] || fail "line01: --threads $(line_threads line01), expected $t (two lines at once)"
  out=$("$campaign" run "$work/c" --jobs 2 --threads 3 --force) || fail "run with --threads 3 failed"
  same_outputs "$work/hand" "$work/c" "run on 3 threads a line against one thread by hand"
  [[ $(line_threads line02) == 3 ]] || fail "line02: --threads 3 not passed on"
  [[ $(jq .options.threads -- "$work/c/line02/.campaign-record") == 3 ]] ||
    fail "line02's record does not hold its threads"
  out=$("$campaign" run "$work/c" --jobs 2 --threads 2) || fail "run with --threads 2 failed"
  expect_in "$out" "2 up to date, 0 to run" "a change of threads alone"
}

# Two lines flown over the same track, 300 s and then 600 s long: the summary that held every
# line's grid and the common cells in memory grew by some 21 MB as they doubled (93 MB against
# 72 MB); streamed, its peak stays within a few MB (the page's figure is capped in pixels).
case_summary_memory() {
  [[ -x /usr/bin/time ]] || { echo "SKIP: /usr/bin/time is not installed (Debian package time)"; exit 77; }
  local peak=() seconds out
  for seconds in 300 600; do
    rm -rf -- "$work/c"
    "$build/beamfall-sim-campaign" 2 "$work/c" --sim "$build/beamfall-sim" --pattern opposite \
      --duration "$seconds" >/dev/null
    "$campaign" run "$work/c" --jobs 2 >/dev/null || fail "run of the $seconds s lines failed"
    out=$(/usr/bin/time -f "%M" -o "$work/rss" "$campaign" summary "$work/c") ||
      fail "summary of the $seconds s lines failed"
    printf '%s\n' "$out"
    [[ $(grep -c '^overlap line01 minus line02: ' <<<"$out") == 1 ]] || fail "the lines overlap"
    [[ -z $(find "$work/c" -name '.summary-grid*') ]] || fail "a scratch grid file stayed behind"
    peak+=("$(tail -1 "$work/rss")")
    echo "lines of $seconds s: summary's peak RSS ${peak[-1]} KB"
  done
  [[ $((peak[1] - peak[0])) -le 10000 ]] ||
    fail "the summary's peak RSS grew from ${peak[0]} KB to ${peak[1]} KB as the lines doubled"
}

"case_$case"
echo "PASS: $case"
