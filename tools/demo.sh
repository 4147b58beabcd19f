#!/usr/bin/env bash
# The demo flight: simulates 90 s of scanning over ridged sea ice off north-east Greenland
# (EGM96 geoid from examples/), processes it with beamfall and checks the points against
# the simulated truth. Deterministic: the same files every time.
#
# usage: tools/demo.sh [--rigorous] [BUILD_DIR]   (default: build; configured and built when
#        needed). --rigorous: the same flight written as binary points by beamfall --rigorous
#        and checked against the rigorous statement of each beam.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=() points=(--text-points) point_file="points.txt  " distance="cross-track distance"
if [ "${1:-}" = --rigorous ]; then
  mode=(--rigorous) points=() point_file="points.bin  " distance="offset across the heading"
  shift
fi
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release; } \
     >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target beamfall beamfall-sim beamfall-check >>"$log" 2>&1; then
  cat "$log"
  echo "demo: building beamfall and the simulator in $build failed" >&2
  exit 1
fi

demo=$root/demo
rm -rf "$demo"
# 70 m/s at 350 m over sea ice 0.35 m above the geoid with pressure ridges, a 208-beam
# sweep of +-25 gon at 20 scans a second, a gentle turn after 50 s; the deck asks for text
# points (binary with --rigorous, whose centimetres the text's 1e-6 degree would hide),
# heights above the geoid and cross profiles.
"$build/beamfall-sim" --out "$demo" --duration 90 --nmeas 208 --scan-rate 20 \
  --lat 78.5 --lon -15 --track 30 --turn 1,50,30 --height 350 \
  --surface ice --on-geoid --surface-height 0.35 --geoid "$root/examples/egm96-greenland.grid" \
  "${points[@]}"

echo "== beamfall ${mode[*]:+--rigorous }< demo/deck.txt"
(cd "$demo" && "$build/beamfall" "${mode[@]}" < deck.txt > report.txt)
cat "$demo/report.txt"

cat <<END

== Written in $demo:
  $point_file surface points: time (decimal hours), latitude, longitude, height above the
               geoid (m), amplitude, beam index
  centre.txt   centre track: the point where each sweep crosses nadir, with aircraft height
               and range
  scan.cal     cross profiles: $distance and height of every point
  report.txt   the report above
  deck.txt, flight.2dd, flight.traj, geoid.grid: the simulated run's input
  truth.txt    the simulated surface and every injected error

== Check against the simulated truth (beamfall-check ${mode[*]:+--rigorous }demo):
END
"$build/beamfall-check" "${mode[@]}" "$demo"
