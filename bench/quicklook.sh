#!/usr/bin/env bash
# The quick look on the 20.8-million-measurement benchmark flight: its time against the
# beamfall run that made its points, its peak memory at the default cell and at 3 m and 1 m,
# and the DEM's error against the simulated truth.
#
#   bench/quicklook.sh [DATA_DIR]     (default: bench-data/f20m-quicklook)
#
# Simulates the flight of bench/run.sh when DATA_DIR holds none, then, in the same minute:
# times beamfall on the simulator's deck (binary points, cross profiles, the EGM96 grid) and
# beamfall-quicklook at the default cell, --cell 3 and --cell 1 with /usr/bin/time (peak RSS
# is the largest of the quick look and its gnuplot children), prints each time as a multiple
# of beamfall's, and holds the default dem.tif against the truth with the test suite's
# dem_truth (level-surface cells: the whole flight here).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
data=${1:-$root/bench-data/f20m-quicklook}
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j2 --target beamfall beamfall-sim beamfall-quicklook dem_truth >/dev/null
bin=$root/$build

if [ ! -f "$data/flight.2dd" ]; then
  "$bin/beamfall-sim" --out "$data" --duration 5000 --scan-rate 20 --nmeas 208 --traj-rate 10 \
    --lat 72 --lon -40 --track 0 --turn 0.05,0,1000000 \
    --geoid "$root/examples/egm96-greenland.grid" >/dev/null
fi
timed() {  # LABEL COMMAND...: prints the label and the figures, leaves the seconds in $secs
  local label=$1; shift
  /usr/bin/time -o "$data/time.out" -f "%e %U %S %M" "$@" > /dev/null
  read -r secs user sys rss < "$data/time.out"
  printf '%-28s %6.2f s elapsed, %6.2f s user, %5.2f s system, peak RSS %7d KB' \
    "$label" "$secs" "$user" "$sys" "$rss"
}
echo "== load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$data"
sync
timed "beamfall" sh -c "'$bin/beamfall' --manifest run.json < deck.txt > report.txt"
run_secs=$secs
echo
sync
echo "== beamfall-quicklook on $(awk -F: '/Total number of points output/ { print $2 + 0 }' report.txt) points"
for cell in default 3 1; do
  args=(deck.txt run.json --out "quicklook-$cell")
  [ "$cell" = default ] || args+=(--cell "$cell")
  timed "quicklook ($cell)" "$bin/beamfall-quicklook" "${args[@]}"
  LC_ALL=C awk -v q="$secs" -v b="$run_secs" 'BEGIN { printf "  (%.2f x beamfall)\n", q / b }'
done
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -rf quicklook && mv quicklook-default quicklook
cd "$root"
gdalinfo "$data/quicklook/dem.tif" | grep -E "^Size is|^Pixel Size|^Origin"
echo "== dem.tif against the truth"
"$bin/tests/quicklook/dem_truth" "$data" "$data/quicklook/dem.tif" 3413
