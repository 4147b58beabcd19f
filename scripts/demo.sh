#!/usr/bin/env bash
# The demo flight: simulates 90 s of scanning over ridged sea ice off north-east Greenland
# (EGM96 geoid from examples/), processes it with beamfall, checks the points against the
# simulated truth, and ends with the quick look (DEM, hillshade, track for GIS and a report
# page). Deterministic: the same files every time.
#
# usage: scripts/demo.sh [--rigorous] [BUILD_DIR]   (default: build; configured and built
#        when needed). --rigorous: the same flight written as binary points by
#        beamfall --rigorous and checked against the rigorous statement of each beam.
# It runs scripts/setup.sh first, which installs what the machine lacks (as root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: scripts/demo.sh [--rigorous] [BUILD_DIR]"
mode=() points=(--text-points) point_file="points.txt  " distance="cross-track distance"
case ${1-} in
  -h | --help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
  --rigorous)
    mode=(--rigorous) points=() point_file="points.bin  " distance="offset across the heading"
    shift ;;
  -*) echo "$usage" >&2; exit 2 ;;
esac
[ $# -le 1 ] || { echo "$usage" >&2; exit 2; }
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac

"$root/scripts/setup.sh"
"$root/scripts/configure.sh" --if-needed "$build" -DCMAKE_BUILD_TYPE=Release ||
  { echo "demo: configuring $build failed" >&2; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake --build "$build" -j2 --target beamfall beamfall-sim beamfall-check \
     beamfall-quicklook >"$log" 2>&1; then
  cat "$log"
  echo "demo: building beamfall, the simulator and the quick look in $build failed" >&2
  exit 1
fi

demo=$root/demo
rm -rf "$demo"
# The LAS header's creation day and the GeoPackage's timestamps: the flight's day, so that
# every run writes the same files.
export SOURCE_DATE_EPOCH=1775952000  # 2026-04-12 00:00 UTC
# 70 m/s at 350 m over sea ice 0.35 m above the geoid with pressure ridges, a 208-beam
# sweep of +-25 gon at 20 scans a second, a gentle turn after 50 s; the deck asks for text
# points (binary with --rigorous, whose centimetres the text's 1e-6 degree would hide),
# heights above the geoid and cross profiles; the points also go to a LAS file.
"$build/beamfall-sim" --out "$demo" --duration 90 --nmeas 208 --scan-rate 20 \
  --lat 78.5 --lon -15 --track 30 --turn 1,50,30 --height 350 \
  --surface ice --on-geoid --surface-height 0.35 --geoid "$root/examples/egm96-greenland.grid" \
  "${points[@]}"

echo "== beamfall ${mode[*]:+--rigorous }--las points.las --date 2026-04-12 < demo/deck.txt"
(cd "$demo" && "$build/beamfall" "${mode[@]}" --las points.las --date 2026-04-12 \
  --manifest run.json < deck.txt > report.txt)
cat "$demo/report.txt"

cat <<END

== Written in $demo:
  $point_file surface points: time (decimal hours), latitude, longitude, height above the
               geoid (m), amplitude, beam index
  points.las   the same points as LAS 1.4 (open in CloudCompare, QGIS or PDAL; fields in
               docs/options.md, "The LAS file")
  centre.txt   centre track: the point where each sweep crosses nadir, with aircraft height
               and range
  scan.cal     cross profiles: $distance and height of every point
  report.txt   the report above
  run.json     the run's manifest: its files, figures and estimates for programs
  deck.txt, flight.2dd, flight.traj, geoid.grid: the simulated run's input
  truth.txt    the simulated surface and every injected error

== Check against the simulated truth (beamfall-check ${mode[*]:+--rigorous }demo):
END
"$build/beamfall-check" "${mode[@]}" "$demo"

echo
echo "== beamfall-quicklook demo/deck.txt demo/run.json"
"$build/beamfall-quicklook" "$demo/deck.txt" "$demo/run.json"
cat <<END

== Quick look in $demo/quicklook: dem.tif (mean height and point count, EPSG:3413),
   hillshade.png, track.gpkg (open both in QGIS), plots/ (gnuplot scripts, data, SVG).
   Open in a browser: $demo/quicklook/index.html
END
