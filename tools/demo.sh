#!/usr/bin/env bash
# The demo flight: simulates 90 s of scanning over ridged sea ice off north-east Greenland
# (EGM96 geoid from examples/), processes it with beamfall and checks the points against
# the simulated truth, and ends with the quick look (DEM, hillshade, track for GIS and a
# report page). Deterministic: the same files every time.
#
# usage: tools/demo.sh [BUILD_DIR]     (default: build; configured and built when needed)
# It runs tools/setup.sh first, which installs what the machine lacks (as root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case ${1-} in
  -h | --help) sed -n '2,7s/^# \{0,1\}//p' "$0"; exit 0 ;;
  -*) echo "usage: tools/demo.sh [BUILD_DIR]" >&2; exit 2 ;;
esac
[ $# -le 1 ] || { echo "usage: tools/demo.sh [BUILD_DIR]" >&2; exit 2; }
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac

"$root/tools/setup.sh"
"$root/tools/configure.sh" --if-needed "$build" -DCMAKE_BUILD_TYPE=Release ||
  { echo "demo: configuring $build failed" >&2; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake --build "$build" -j2 --target beamfall beamfall-sim beamfall-check >"$log" 2>&1; then
  cat "$log"
  echo "demo: building beamfall and the simulator in $build failed" >&2
  exit 1
fi
# The quick look needs GDAL and PROJ (libgdal-dev, libproj-dev) and gnuplot at run time.
quicklook=0
if cmake --build "$build" -j2 --target beamfall-quicklook >>"$log" 2>&1; then quicklook=1; fi

demo=$root/demo
rm -rf "$demo"
# 70 m/s at 350 m over sea ice 0.35 m above the geoid with pressure ridges, a 208-beam
# sweep of +-25 gon at 20 scans a second, a gentle turn after 50 s; the deck asks for text
# points, heights above the geoid and cross profiles; the points also go to a LAS file.
"$build/beamfall-sim" --out "$demo" --duration 90 --nmeas 208 --scan-rate 20 \
  --lat 78.5 --lon -15 --track 30 --turn 1,50,30 --height 350 \
  --surface ice --on-geoid --surface-height 0.35 --geoid "$root/examples/egm96-greenland.grid" \
  --text-points

echo "== beamfall --las points.las --date 2026-04-12 < demo/deck.txt"
(cd "$demo" && "$build/beamfall" --las points.las --date 2026-04-12 < deck.txt > report.txt)
cat "$demo/report.txt"

cat <<END

== Written in $demo:
  points.txt   surface points: time (decimal hours), latitude, longitude, height above the
               geoid (m), amplitude, beam index
  points.las   the same points as LAS 1.4 (open in CloudCompare, QGIS or PDAL; fields in
               README.md, "The LAS file")
  centre.txt   centre track: the point where each sweep crosses nadir, with aircraft height
               and range
  scan.cal     cross profiles: cross-track distance and height of every point
  report.txt   the report above
  deck.txt, flight.2dd, flight.traj, geoid.grid: the simulated run's input
  truth.txt    the simulated surface and every injected error

== Check against the simulated truth (beamfall-check demo):
END
"$build/beamfall-check" "$demo"

if [ "$quicklook" = 1 ]; then
  echo
  echo "== beamfall-quicklook demo/deck.txt demo/report.txt"
  "$build/beamfall-quicklook" "$demo/deck.txt" "$demo/report.txt"
  cat <<END

== Quick look in $demo/quicklook: dem.tif (mean height and point count, EPSG:3413),
   hillshade.png, track.gpkg (open both in QGIS), plots/ (gnuplot scripts, data, SVG).
   Open in a browser: $demo/quicklook/index.html
END
else
  echo
  echo "(no quick look: beamfall-quicklook was not built; it needs libgdal-dev and libproj-dev)"
fi
