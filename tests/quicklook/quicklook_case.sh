#!/usr/bin/env bash
# End-to-end cases of beamfall-quicklook: simulate a short flight, process it with the real
# beamfall, make the quick look, and check the products with independent readers (gdalinfo,
# ogrinfo, the simulator's truth, headless Chromium).
#
# usage: quicklook_case.sh BEAMFALL SIM QUICKLOOK DEM_TRUTH POINTS_TO_LAS GEOID_GRID CASE
#                          [DEM_REFERENCE]
#
# Bounds: a DEM cell's mean height differs from the true surface at its centre by the
# points' rounding (binary: 0.5 mm; text F8.2: 5 mm), the flat-earth geolocation's horizontal
# error (up to about 1 m here) times the slope (2e-4 on the ice), and the cell's extent times
# the slope (a 5 m cell: 1 mm at most): well inside the 1 cm RMS asked of level parts.
set -euo pipefail
beamfall=$1 sim=$2 quicklook=$3 dem_truth=$4 points_to_las=$5 grid=$6 case=$7
dem_reference=${8-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/require.sh
. "$here/../require.sh"
require gdalinfo gdal-bin
require ogrinfo gdal-bin
require gnuplot gnuplot-nox
[ "$case" != page ] || { require node nodejs; require "${CHROMIUM:-chromium}" chromium; }
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-quicklook-case.XXXXXX")
trap 'rm -rf "$work"' EXIT

simulate() { "$sim" --out "$work" "$@" >/dev/null; }
process() { (cd "$work" && "$beamfall" --manifest run.json < deck.txt > report.txt); }
fail() { echo "FAIL: $*"; exit 1; }
metric() { sed -n "s/^$1=//p" "$work/truth.out"; }
le() { LC_ALL=C awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; }
near() { LC_ALL=C awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(d < 1e-3 && d > -1e-3) }'; }

# The DEM against the truth, and its CRS and extent as gdalinfo reports them.
check_dem() {  # EPSG
  local dem=$work/quicklook/dem.tif info
  "$dem_truth" "$work" "$dem" "$1" > "$work/truth.out"
  cat "$work/truth.out"
  le "$(metric level_rms)" 0.01 || fail "level cells RMS $(metric level_rms) m above 1 cm"
  [ "$(metric level_cells)" -ge 1000 ] || fail "only $(metric level_cells) level cells"
  [ "$(metric counted)" = "$(metric points)" ] || fail "count band holds $(metric counted) of $(metric points) points"
  info=$(gdalinfo "$dem")
  grep -q "ID\[\"EPSG\",$1\]\]$" <<<"$info" || fail "gdalinfo shows no EPSG:$1"
  local origin size
  origin=$(sed -n 's/^Origin = (\(.*\),\(.*\))$/\1 \2/p' <<<"$info")
  size=$(sed -n 's/^Size is \([0-9]*\), \([0-9]*\)$/\1 \2/p' <<<"$info")
  near "${origin% *}" "$(metric west)" || fail "west edge ${origin% *}, expected $(metric west)"
  near "${origin#* }" "$(metric north)" || fail "north edge ${origin#* }, expected $(metric north)"
  [ "$size" = "$(metric width) $(metric height)" ] || fail "size $size, expected $(metric width) $(metric height)"
  grep -q "Block=256x256 Type=Float32" <<<"$info" || fail "not tiled Float32"
  grep -q "COMPRESSION=DEFLATE" <<<"$info" || fail "not compressed"
  grep -q "Description = point count" <<<"$info" || fail "no count band"
}

# One line feature, as many points as the centre file has lines.
check_gpkg() {
  local info lines
  info=$(ogrinfo -al -so "$work/quicklook/track.gpkg")
  lines=$(wc -l < "$work/centre."*)
  awk '/^Layer name: track$/ { t = 1 } t && /^Feature Count:/ { print $3; exit }' <<<"$info" |
    grep -qx 1 || fail "track layer is not one feature"
  awk '/^Layer name: centre_points$/ { t = 1 } t && /^Feature Count:/ { print $3; exit }' <<<"$info" |
    grep -qx "$lines" || fail "centre_points does not hold $lines points"
  grep -q "^Geometry: Measured Line String" <<<"$info" || fail "track is not a line with times"
}

case $case in
polar_binary)
  # Sea ice with ridges on the EGM96 geoid at 78.5 N: EPSG:3413, binary points.
  simulate --duration 10 --nmeas 120 --surface ice --on-geoid --surface-height 0.35 \
    --geoid "$grid"
  process
  "$quicklook" "$work/deck.txt" "$work/run.json" --cell 2
  check_dem 3413
  check_gpkg
  ;;
utm_text)
  # A level surface at 45 N 10 E with text points and a turn: UTM zone 32 N, default cell.
  simulate --duration 10 --nmeas 120 --lat 45 --lon 10 --track 172 --turn 1.5,1,10 --text-points
  process
  (cd "$work" && "$quicklook" deck.txt run.json --out products) > "$work/stdout"
  mv "$work/products" "$work/quicklook"
  grep -q "products/index.html" "$work/stdout" || fail "no index.html named on stdout"
  check_dem 32632
  check_gpkg
  ;;
las_points)
  # The same points from a LAS 1.4 file (--las): the same DEM to the last bit.
  simulate --duration 6 --nmeas 120 --surface ice --on-geoid --surface-height 0.35 --geoid "$grid"
  process
  "$points_to_las" "$work/points.bin" "$work/points.las"
  "$quicklook" "$work/deck.txt" "$work/run.json" --out "$work/from_bin" > /dev/null
  "$quicklook" "$work/deck.txt" "$work/run.json" --out "$work/from_las" --las "$work/points.las" > /dev/null
  sums() { gdalinfo -checksum "$1" | grep -E "Checksum=|^Size is|^Origin"; }
  [ -n "$(sums "$work/from_bin/dem.tif")" ] || fail "no checksums"
  [ "$(sums "$work/from_bin/dem.tif")" = "$(sums "$work/from_las/dem.tif")" ] ||
    fail "the DEM from the LAS file differs"
  ;;
page)
  # The page in a real browser: no console error, no request, every picture drawn.
  simulate --duration 10 --nmeas 120 --surface ice --on-geoid --surface-height 0.35 --geoid "$grid"
  process
  "$quicklook" "$work/deck.txt" "$work/run.json" > /dev/null
  node "$here/render_page.mjs" "$work/quicklook/index.html" || fail "page check"
  [ "$(grep -c '<img ' "$work/quicklook/index.html")" = 4 ] || fail "not four pictures"
  ;;
profile_mode)
  # useatt F: no map products, the three plots that need no coordinates, and a note saying so.
  simulate --duration 4 --nmeas 120
  LC_ALL=C awk 'NR == 9 { $7 = "F" } { print }' "$work/deck.txt" > "$work/deck.new"
  mv "$work/deck.new" "$work/deck.txt"
  process
  "$quicklook" "$work/deck.txt" "$work/run.json" > "$work/stdout"
  for f in dem.tif hillshade.png track.gpkg; do
    [ ! -e "$work/quicklook/$f" ] || fail "$f made in profile mode"
  done
  grep -q "^note: Profile mode" "$work/stdout" || fail "stdout does not say profile mode"
  grep -q "Profile mode" "$work/quicklook/index.html" || fail "page does not say profile mode"
  [ "$(grep -c '<img ' "$work/quicklook/index.html")" = 3 ] || fail "not three plots"
  ;;
fortran_spellings)
  # The deck in other spellings beamfall reads (switches as .TRUE., .true., .T. and t, reals
  # with a D exponent, values separated by commas, the switch line continued over two lines)
  # gives the same run and the same products as the plain deck.
  simulate --duration 6 --nmeas 120 --surface ice --on-geoid --surface-height 0.35 --geoid "$grid"
  LC_ALL=C awk 'BEGIN { split(".TRUE. T .true. .T. t", yes, " ") }
    NR <= 5 { print; next }
    { line = ""
      for (i = 1; i <= NF; i++) {
        v = $i
        if (v == "T") v = yes[(n++ % 5) + 1]
        else if (v ~ /\./ || (NR == 6 && i == 3)) v = v (v ~ /\./ ? "" : ".") "D0"
        line = line (line == "" ? "" : ", ") v
        if (NF == 7 && i == 3) { print line; line = "" }
      }
      print line }' "$work/deck.txt" > "$work/fortran.txt"
  grep -q "D0" "$work/fortran.txt" && grep -q "^T, .true., .T., t$" "$work/fortran.txt" ||
    fail "the deck was not respelled"
  (cd "$work" && "$beamfall" --manifest fortran.json < fortran.txt > fortran_report.txt) ||
    fail "beamfall refuses the respelled deck"
  process
  "$quicklook" "$work/deck.txt" "$work/run.json" --out "$work/plain" > /dev/null
  "$quicklook" "$work/fortran.txt" "$work/fortran.json" --out "$work/fortran" > /dev/null
  for f in dem.tif hillshade.png index.html plots/cross_profiles.dat plots/histogram.dat \
    plots/along_track.dat; do
    [ -s "$work/plain/$f" ] || fail "no $f"
    cmp -s "$work/plain/$f" "$work/fortran/$f" || fail "$f differs with the respelled deck"
  done
  # The GeoPackage records when it was written: its features are compared.
  features() { ogrinfo -al "$1" | grep -v "^INFO"; }
  [ "$(features "$work/plain/track.gpkg")" = "$(features "$work/fortran/track.gpkg")" ] ||
    fail "track.gpkg differs with the respelled deck"
  # The page's figures are the run's: the manifest gives what the report prints.
  report=$work/report.txt page=$work/plain/index.html
  read -r lat0 lat1 lon0 lon1 < <(sed -n 's/^ aircraft positions within area: *//p' "$report")
  for row in "Aircraft latitude (deg)</td><td>$lat0 to $lat1<" \
    "Aircraft longitude (deg)</td><td>$lon0 to $lon1<" \
    "Points output</td><td>$(sed -n 's/^ Total number of points output: *\([0-9]*\).*/\1/p' "$report")<" \
    "Bias (m), roll (degrees)</td><td>$(sed -n 's/^ bias: *\([-0-9.]*\) m,.*/\1/p' "$report"), "; do
    grep -qF "<td>$row" "$page" || fail "the page lacks the report's <td>$row"
  done
  ;;
command_line)
  # Usage errors exit 2 with the usage; a missing input is one line naming it, exit 1.
  simulate --duration 2 --nmeas 60
  process
  expect() {  # STATUS FIRST_LINE_PATTERN ARGS...
    local want=$1 pattern=$2 got=0; shift 2
    (cd "$work" && "$quicklook" "$@") > "$work/out" 2> "$work/err" || got=$?
    [ "$got" = "$want" ] || fail "$* exits $got, not $want"
    head -1 "$work/err" "$work/out" | grep -q -- "$pattern" || fail "$*: no '$pattern'"
  }
  expect 0 "^usage: beamfall-quicklook" --help
  expect 2 "needs DECK and REPORT" deck.txt
  expect 2 "unknown option '--grid'" deck.txt run.json --grid 3
  expect 2 "positive number of metres" deck.txt run.json --cell -1
  expect 2 "--out needs a value" deck.txt run.json --out
  expect 1 "^beamfall-quicklook: cannot open nodeck.txt$" nodeck.txt run.json
  expect 1 "^beamfall-quicklook: cannot open none.txt$" deck.txt none.txt
  expect 1 "^beamfall-quicklook: cannot open none.las$" deck.txt run.json --las none.las
  # The run's figures come from its manifest: the human report alone is refused, naming the
  # option; with --manifest the report may stay on the command line or be left out.
  expect 1 "^beamfall-quicklook: report.txt: not a beamfall manifest; run beamfall with --manifest" \
    deck.txt report.txt
  expect 0 "^quick-look products in alt" deck.txt report.txt --manifest run.json --out alt
  expect 0 "^quick-look products in alt" deck.txt --manifest run.json --out alt
  expect 2 "needs DECK and REPORT" deck.txt run.json run.json --manifest run.json
  sed 's/^centre.txt/other.txt/' "$work/deck.txt" > "$work/other.txt"
  expect 1 "^beamfall-quicklook: run.json is the manifest of another deck than other.txt$" \
    other.txt run.json
  rm -rf "$work/alt"
  mv "$work/centre.txt" "$work/centre.old"
  expect 1 "^beamfall-quicklook: cannot open centre.txt$" deck.txt run.json
  [ "$(wc -l < "$work/err")" = 1 ] || fail "the error is not one line"
  [ ! -e "$work/quicklook" ] || fail "products begun although an input is missing"
  ;;
streamed_dem)
  # A circle flown once round at 45 N: the track comes back over the tiles it wrote out at
  # the start. dem.tif must equal, cell for cell and bit for bit, the grid of every point held
  # in memory at once (dem_reference); 2 m cells, a power of two, so that both name the same
  # cell for every point.
  simulate --duration 120 --nmeas 120 --lat 45 --lon 9 --track 0 --turn 3,0,120
  process
  "$quicklook" "$work/deck.txt" "$work/run.json" --cell 2 > /dev/null
  "$dem_reference" "$work" "$work/quicklook/dem.tif" 32632 > "$work/reference.out"
  cat "$work/reference.out"
  ref() { sed -n "s/^$1=//p" "$work/reference.out"; }
  [ "$(ref cells)" -ge 100000 ] || fail "only $(ref cells) cells"
  [ "$(ref mismatched)" = 0 ] || fail "$(ref mismatched) cells differ from the one-pass grid"
  [ "$(ref filled)" = "$(ref cells)" ] || fail "dem.tif fills $(ref filled) cells, not $(ref cells)"
  ;;
flat_memory)
  # The peak memory of the whole quick look (gnuplot included) does not grow with the flight:
  # a straight line twice as long, at 1 m cells, where a grid held whole would need some
  # 50 MB more (the extra 10 km of a 290 m swath in 1 m cells of 12 bytes).
  [ -x /usr/bin/time ] || { echo "SKIP: /usr/bin/time is not installed (Debian package time)"; exit 77; }
  peak=()
  for seconds in 150 300; do
    rm -rf "$work"/*
    simulate --duration "$seconds" --nmeas 120 --lat 45 --lon 9 --track 0 --wobble 0
    process
    /usr/bin/time -f "%M" -o "$work/rss" "$quicklook" "$work/deck.txt" "$work/run.json" \
      --cell 1 > /dev/null
    peak+=("$(tail -1 "$work/rss")")
    echo "flight of $seconds s: peak RSS ${peak[-1]} KB"
  done
  [ $((peak[1] - peak[0])) -le 12000 ] ||
    fail "peak RSS grew from ${peak[0]} KB to ${peak[1]} KB as the flight doubled"
  ;;
*)
  echo "unknown case $case"; exit 2
  ;;
esac
echo "ok $case"
