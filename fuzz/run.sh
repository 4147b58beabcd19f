#!/bin/sh
# Runs fuzz targets with libFuzzer for a given time each.
# Usage: fuzz/run.sh TARGET SECONDS
#   TARGET: deck, freeread, trajectory, geoid, scanbin, scantext, run, a
#           comma-separated list of these, or all.
# Environment: BUILD (default build-fuzz, configured with clang when missing),
# WORK (default $BUILD/fuzz-work: the growing corpora, findings and logs).
# Each target starts from its checked-in seeds fuzz/corpus/NAME and from what
# earlier runs in WORK found. One process per target, at low priority.
# Exit status 1 when any target reported a finding (its input is kept under
# $WORK/findings/NAME/).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
all="deck freeread trajectory geoid scanbin scantext run campaign_record manifest"
[ $# -eq 2 ] || { echo "usage: $0 TARGET|all SECONDS" >&2; exit 2; }
targets=$1
seconds=$2
[ "$targets" = all ] && targets=$all
targets=$(echo "$targets" | tr ',' ' ')
BUILD=${BUILD:-$root/build-fuzz}
WORK=${WORK:-$BUILD/fuzz-work}

CC=clang CXX=clang++ "$root/scripts/configure.sh" --if-needed "$BUILD" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBEAMFALL_FUZZ=ON -DBUILD_TESTING=OFF
nice cmake --build "$BUILD" --target fuzz_all >/dev/null

max_len() {
  case $1 in
    deck | freeread) echo 1024 ;;
    run) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

status=0
for t in $targets; do
  case " $all " in *" $t "*) ;; *) echo "unknown target $t" >&2; exit 2 ;; esac
  corpus=$WORK/corpus/$t
  findings=$WORK/findings/$t
  mkdir -p "$corpus" "$findings" "$WORK/logs"
  log=$WORK/logs/$t-$(date +%Y%m%d-%H%M%S).log
  dict=
  [ -f "$here/dict/$t.dict" ] && dict=-dict=$here/dict/$t.dict
  rc=0
  # shellcheck disable=SC2086
  nice -n 10 "$BUILD/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="$findings/" $dict \
    "$corpus" "$here/corpus/$t" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  line="$(date -u +%Y-%m-%dT%H:%MZ) $t seconds=${secs:-?} runs=${runs:-?} exit=$rc corpus=$(ls "$corpus" | wc -l)"
  echo "$line" | tee -a "$WORK/summary.txt"
  if [ "$rc" -ne 0 ]; then
    echo "finding in $t: see $log and $findings" >&2
    status=1
  fi
done
exit $status
