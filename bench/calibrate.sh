#!/usr/bin/env bash
# Boresight calibration on a simulated campaign: K parallel lines over the shared terrain with
# the same boresight and range bias injected into each, and control points, timed whole
# (reading both passes, patches, solving, standard errors, the files) within 1 GB of address
# space.
#
#   bench/calibrate.sh [--lines K] [--duration S] [--build DIR]
#
# K lines (default 6) of S seconds (default 601) at 20 scans a second of 208 measurements:
# 2.5 million measurements a line. Prints the wall time, CPU share and peak memory of
# `beamfall-calibrate` (best of 3) and its result.
set -euo pipefail
cd "$(dirname "$0")/.."
lines=6 duration=601 build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) lines=$2; shift 2 ;;
    --duration) duration=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: bench/calibrate.sh [--lines K] [--duration S] [--build DIR]" >&2; exit 2 ;;
  esac
done
cmake --build "$build" -j 2 --target campaign beamfall-calibrate >/dev/null
bin=$(readlink -f "$build")
data=$PWD/bench-data/calibrate
rm -rf "$data"
"$bin/beamfall-sim-campaign" "$lines" "$data" --pattern parallel --surface terrain \
  --duration "$duration" --nmeas 208 --boresight 0.1,-0.1,0.2 --range-bias 0.03 \
  --control-points 6 >/dev/null
echo "$lines lines, $(sed -n 's/^measurements //p' "$data/line01/truth.txt") measurements each"
best=''
for _ in 1 2 3; do
  (ulimit -v 1048576 && /usr/bin/time -f '%e s wall, %P CPU, %M KiB peak' \
    "$bin/beamfall-calibrate" "$data" --control "$data/control.csv" --no-progress \
    >"$data/stdout.txt") 2>"$data/time.txt"
  t=$(cut -d' ' -f1 "$data/time.txt")
  if [ -z "$best" ] || LC_ALL=C awk -v a="$t" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
    best=$(cat "$data/time.txt")
  fi
done
echo "best of 3: $best"
cat "$data/stdout.txt"
