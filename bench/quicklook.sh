#!/usr/bin/env bash
# The quick look on the 20.8-million-measurement benchmark flight: its time, its peak memory
# and the DEM's error against the simulated truth.
#
#   bench/quicklook.sh [DATA_DIR]     (default: bench-data/f20m-quicklook)
#
# Simulates the flight of bench/run.sh when DATA_DIR holds none, runs beamfall on the
# simulator's deck (binary points, cross profiles, the EGM96 grid), times
# beamfall-quicklook once with /usr/bin/time, and holds dem.tif against the truth with the
# test suite's dem_truth (level-surface cells: the whole flight here).
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
(cd "$data" && "$bin/beamfall" < deck.txt > report.txt)
sync
echo "== beamfall-quicklook on $(awk -F: '/Total number of points output/ { print $2 + 0 }' "$data/report.txt") points"
(cd "$data" && /usr/bin/time -f "%e s elapsed, %U s user, %S s system, peak RSS %M KB" \
  "$bin/beamfall-quicklook" deck.txt report.txt)
gdalinfo "$data/quicklook/dem.tif" | grep -E "^Size is|^Pixel Size|^Origin"
echo "== dem.tif against the truth"
"$bin/tests/quicklook/dem_truth" "$data" "$data/quicklook/dem.tif" 3413
