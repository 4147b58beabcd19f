#!/usr/bin/env bash
# Campaign throughput: a simulated campaign run whole by beamfall-campaign with 1 and 2 jobs
# (GNU parallel), and one line alone for its peak memory.
#
#   bench/campaign.sh [--lines K] [--duration S] [--build DIR]
#
# Simulates K lines (default 8) of S seconds each (default 600) at 20 scans a second of 208
# measurements (4160 measurements a second of flight, binary point file, cross profiles) into
# bench-data/campaign, then times `beamfall-campaign run --force` with --jobs 1 and 2 (best
# of 3 each) and `beamfall-campaign summary` alone; the run's time includes its summary, so
# the lines' own time is the difference. Prints lines per minute and measurements per second.
set -euo pipefail
cd "$(dirname "$0")/.."
lines=8 duration=600 build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) lines=$2; shift 2 ;;
    --duration) duration=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: bench/campaign.sh [--lines K] [--duration S] [--build DIR]" >&2; exit 2 ;;
  esac
done
cmake --build "$build" -j 2 --target campaign >/dev/null
bin=$(readlink -f "$build")
data=$PWD/bench-data/campaign
rm -rf "$data"
mkdir -p "$data"

# beamfall-sim-campaign's lines, longer and with the scanner's full 208 measurements.
"$bin/beamfall-sim-campaign" "$lines" "$data" --duration "$duration" --nmeas 208 >/dev/null
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

summary=$(best_of_3 "$bin/beamfall-campaign" summary "$data")
echo "campaign: $lines lines x ${duration} s, $meas measurements; summary alone: $summary s" \
  "($(LC_ALL=C awk -v m="$meas" -v s="$summary" 'BEGIN { printf "%.2f", m / s / 1e6 }')" \
  "million points/s)"
for jobs in 1 2; do
  total=$(best_of_3 "$bin/beamfall-campaign" run "$data" --force --jobs "$jobs")
  LC_ALL=C awk -v j="$jobs" -v t="$total" -v s="$summary" -v k="$lines" -v m="$meas" 'BEGIN {
    l = t - s
    printf "jobs %d: run %.2f s (lines %.2f s + summary): %.1f lines/min, %.2f million measurements/s\n",
           j, t, l, 60 * k / l, m / l / 1e6 }'
done
rss=$(cd "$data/line01" && { /usr/bin/time -f '%M' "$bin/beamfall" <deck >/dev/null; } 2>&1 | tail -n 1)
echo "one line alone: peak RSS $((rss / 1024)) MB"
