#!/usr/bin/env bash
# Campaign throughput: a simulated campaign run whole by beamfall-campaign with 1 and 2 jobs
# (GNU parallel), against the same lines run by hand, and one line alone for its peak memory.
#
#   bench/campaign.sh [--lines K] [--duration S] [--build DIR] [--summary-only]
#
# Simulates K lines (default 8) of S seconds each (default 600) at 20 scans a second of 208
# measurements (4160 measurements a second of flight, binary point file, cross profiles) into
# bench-data/campaign, then times (best of 3 each):
#   - `beamfall-campaign run --force` with --jobs 1 and 2 without its summary;
#   - the K `beamfall < deck > report.txt` runs by hand, one after the other;
#   - `beamfall-campaign summary` alone (the cross-line check included);
#   - `beamfall-campaign run --force --jobs 1` whole, and its ratio to the runs by hand plus
#     the summary alone: the campaign's own cost.
# Prints lines per minute, measurements and points per second, the ratio and peak memory.
#
# --summary-only times only the summary, on the campaign the last full run left (give the
# same --lines and --duration); BEAMFALL_CAMPAIGN_SUMMARY names another summary program to
# time (an older build, for a comparison; it is run as PROGRAM DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
lines=8 duration=600 build=build summary_only=false
usage() {
  echo "usage: bench/campaign.sh [--lines K] [--duration S] [--build DIR] [--summary-only]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) lines=$2; shift 2 ;;
    --duration) duration=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --summary-only) summary_only=true; shift ;;
    *) usage ;;
  esac
done
cmake --build "$build" -j 2 --target campaign >/dev/null
bin=$(readlink -f "$build")
summary_prog=("$bin/beamfall-campaign" summary)
[ -n "${BEAMFALL_CAMPAIGN_SUMMARY:-}" ] && summary_prog=("$(readlink -f "$BEAMFALL_CAMPAIGN_SUMMARY")")
data=$PWD/bench-data/campaign
meas=$(LC_ALL=C awk -v k="$lines" -v s="$duration" 'BEGIN { printf "%d", k * s * 20 * 208 }')

best_of_3() {  # prints the best wall time of three runs of the command, seconds
  local best='' t
  for _ in 1 2 3; do
    sync
    t=$( { /usr/bin/time -f '%e' "$@" >/dev/null; } 2>&1 | tail -n 1)
    if [ -z "$best" ] || LC_ALL=C awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$t
    fi
  done
  echo "$best"
}

summary_s=''
best_summary() {  # best of 3 of the summary alone, and its peak RSS
  local rss
  summary_s=$(best_of_3 "${summary_prog[@]}" "$data")
  LC_ALL=C awk -v s="$summary_s" -v m="$meas" 'BEGIN {
    printf "summary alone: %.2f s, %.2f million points/s\n", s, m / s / 1e6 }'
  rss=$({ /usr/bin/time -f '%M' "${summary_prog[@]}" "$data" >/dev/null; } 2>&1 | tail -n 1)
  echo "peak RSS: the summary $((rss / 1024)) MB"
}

# Every line's beamfall run by hand, one after the other.
readonly by_hand='for d in "$1"/*/; do [ -f "$d/deck" ] || continue; (cd "$d" && "$2" <deck >report.txt) || exit; done'


if $summary_only; then
  [ -f "$data/line01/report.txt" ] ||
    { echo "bench/campaign.sh: no campaign yet: run it once without --summary-only" >&2; exit 1; }
  best_summary
  exit 0
fi

rm -rf "$data"
mkdir -p "$data"
# beamfall-sim-campaign's lines, longer and with the scanner's full 208 measurements.
"$bin/beamfall-sim-campaign" "$lines" "$data" --duration "$duration" --nmeas 208 >/dev/null

# The lines alone: the summary program replaced by true(1); then the summary alone on the
# finished campaign.
for jobs in 1 2; do
  lines_s=$(BEAMFALL_CAMPAIGN_SUMMARY=true best_of_3 "$bin/beamfall-campaign" run "$data" --force \
    --jobs "$jobs")
  LC_ALL=C awk -v j="$jobs" -v t="$lines_s" -v k="$lines" -v m="$meas" 'BEGIN {
    printf "jobs %d: %.2f s: %.1f lines/min, %.2f million measurements/s\n", j, t, 60 * k / t,
           m / t / 1e6 }'
done
hand_s=$(best_of_3 bash -c "$by_hand" by-hand "$data" "$bin/beamfall")
echo "by hand: $hand_s s for the $lines beamfall runs"
best_summary
# The whole run against the same work done by hand, the lines then the summary back to back
# (a summary right after the lines reads their fresh files while the system writes them
# out: "summary alone" above starts from a synced disk). Wall times alternate, best of 3;
# the CPU times (user + system) are the steadier figure on a shared machine.
cpu_of() {  # wall and CPU seconds of one run of the command
  { /usr/bin/time -f '%e %U %S' "$@" >/dev/null; } 2>&1 | tail -n 1
}
best_run='' best_ref='' cpu_run='' cpu_ref=''
for _ in 1 2 3; do
  sync
  read -r w u s < <(cpu_of "$bin/beamfall-campaign" run "$data" --force --jobs 1)
  [ -z "$best_run" ] || LC_ALL=C awk -v a="$w" -v b="$best_run" 'BEGIN { exit !(a < b) }' &&
    { best_run=$w; cpu_run=$(LC_ALL=C awk -v u="$u" -v s="$s" 'BEGIN { print u + s }'); }
  sync
  read -r w u s < <(cpu_of bash -c "$by_hand"' && "$3" summary "$1"' by-hand "$data" \
    "$bin/beamfall" "$bin/beamfall-campaign")
  [ -z "$best_ref" ] || LC_ALL=C awk -v a="$w" -v b="$best_ref" 'BEGIN { exit !(a < b) }' &&
    { best_ref=$w; cpu_ref=$(LC_ALL=C awk -v u="$u" -v s="$s" 'BEGIN { print u + s }'); }
done
LC_ALL=C awk -v r="$best_run" -v h="$best_ref" -v cr="$cpu_run" -v ch="$cpu_ref" 'BEGIN {
  printf "run --jobs 1 --force whole: %.2f s = %.3f x (by hand, then the summary: %.2f s)\n",
         r, r / h, h
  printf "  CPU: %.2f s = %.3f x %.2f s\n", cr, cr / ch, ch }'
rss=$(cd "$data/line01" && { /usr/bin/time -f '%M' "$bin/beamfall" <deck >/dev/null; } 2>&1 | tail -n 1)
echo "peak RSS: one line's beamfall $((rss / 1024)) MB"
