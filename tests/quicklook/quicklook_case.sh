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
  # The page in a real browser, on a desktop screen and a phone's: no console error, no
  # request, every picture drawn, laid out for the phone's width (it was shrunk from 980 px).
  # Then each plot on its own: no text cut off at its edge or over another (the map's title
  # was cut off, its key hid the axis label), no axis repeating a tick label.
  simulate --duration 10 --nmeas 120 --surface ice --on-geoid --surface-height 0.35 --geoid "$grid"
  process
  "$quicklook" "$work/deck.txt" "$work/run.json" > /dev/null
  for width in 1400 390; do
    node "$here/render_page.mjs" --width "$width" "$work/quicklook/index.html" ||
      fail "page check at $width px"
  done
  [ "$(grep -c '<img ' "$work/quicklook/index.html")" = 4 ] || fail "not four pictures"
  for svg in "$work"/quicklook/plots/*.svg; do
    { echo '<!DOCTYPE html><html><body style="margin:0">'; sed '/^<?xml/d' "$svg"
      echo '</body></html>'; } > "$work/plot.html"
    node "$here/render_page.mjs" --width 1400 "$work/plot.html" || fail "$(basename "$svg")"
  done
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
too_fine_cell)
  # A cell far finer than the points (1 cm on a 30 s flight: billions of cells) used to grid
  # for minutes; it is refused at once, with the grid's size and the smallest cell that fits,
  # before any product is begun. (Where that smallest cell lies is the unit test's: a grid of
  # that size takes half a minute.)
  simulate --duration 30 --nmeas 120
  process
  status=0
  (cd "$work" && timeout 20 "$quicklook" deck.txt run.json --cell 0.01) > "$work/out" \
    2> "$work/err" || status=$?
  [ "$status" = 2 ] || fail "--cell 0.01 exits $status, not 2"
  grep -Eq "^beamfall-quicklook: --cell 0.01: the DEM would have about [0-9]+ million cells under the swath, more than the 500 million a quick look grids; the smallest cell that fits is [0-9.]+ m$" \
    "$work/err" || fail "no size and smallest cell in: $(head -1 "$work/err")"
  grep -q "^Try 'beamfall-quicklook --help'" "$work/err" || fail "no pointer to --help"
  [ ! -e "$work/quicklook" ] || fail "products begun for a grid that is refused"
  [ -z "$(find "$work" -maxdepth 1 -name '.quicklook*')" ] || fail "a work folder is left"
  ;;
failure_keeps_folder)
  # A quick look that fails (here gnuplot is not found) used to leave plots/ and track.gpkg
  # behind. The products are made in a work folder beside the output folder and moved in
  # at the end: a failure leaves no output folder, or an earlier quick look in it untouched,
  # and no work folder.
  simulate --duration 4 --nmeas 120
  process
  status=0
  env PATH=/nonexistent "$quicklook" "$work/deck.txt" "$work/run.json" > /dev/null \
    2> "$work/err" || status=$?
  [ "$status" = 1 ] || fail "without gnuplot: exit $status, not 1"
  grep -q "gnuplot not found" "$work/err" || fail "the error does not name gnuplot"
  [ ! -e "$work/quicklook" ] || fail "a failed quick look left $(ls "$work/quicklook")"
  "$quicklook" "$work/deck.txt" "$work/run.json" > /dev/null || fail "the quick look fails"
  echo "mine" > "$work/quicklook/notes.txt"
  before=$(cd "$work/quicklook" && find . -type f -printf '%p %s %T@\n' | sort | tee "$work/before")
  [ -n "$before" ] || fail "no products"
  status=0
  env PATH=/nonexistent "$quicklook" "$work/deck.txt" "$work/run.json" > /dev/null 2>&1 ||
    status=$?
  [ "$status" = 1 ] || fail "without gnuplot, over an earlier quick look: exit $status, not 1"
  after=$(cd "$work/quicklook" && find . -type f -printf '%p %s %T@\n' | sort)
  [ "$before" = "$after" ] || fail "the failed quick look changed the earlier one"
  leftovers=$(find "$work" -maxdepth 1 -name '.quicklook*')
  [ -z "$leftovers" ] || fail "left behind: $leftovers"
  # A quick look that succeeds replaces the earlier one's products and keeps the rest; one of
  # profile mode makes no DEM, and the earlier dem.tif goes rather than pass for its own.
  touch -d '1 hour ago' "$work/quicklook/index.html"
  "$quicklook" "$work/deck.txt" "$work/run.json" > /dev/null || fail "the second quick look fails"
  [ "$work/quicklook/index.html" -nt "$work/quicklook/notes.txt" ] || fail "index.html not replaced"
  [ -s "$work/quicklook/notes.txt" ] || fail "the user's own file in the folder is gone"
  LC_ALL=C awk 'NR == 9 { $7 = "F" } { print }' "$work/deck.txt" > "$work/profile.txt"
  (cd "$work" && "$beamfall" --manifest profile.json < profile.txt > profile_report.txt)
  "$quicklook" "$work/profile.txt" "$work/profile.json" --out "$work/quicklook" > /dev/null
  [ ! -e "$work/quicklook/dem.tif" ] || fail "an earlier dem.tif is left beside a profile-mode page"
  grep -q "Profile mode" "$work/quicklook/index.html" || fail "not the profile-mode page"
  [ -s "$work/quicklook/plots/histogram.svg" ] && [ ! -e "$work/quicklook/plots/map.svg" ] ||
    fail "plots/ is not the profile-mode quick look's"
  ;;
stopped_run)
  # The quick look of a run that stopped (docs/quicklook.md): shown, under a banner saying so,
  # when its files are its own whole records; refused, naming the stop, when it stopped
  # before writing them. Earlier, such a run's manifest was refused after products were
  # begun ("no centre point"), and an earlier run's files could pass for the stopped one's.
  simulate --duration 10 --nmeas 120
  process
  mkdir "$work/earlier"
  cp -p "$work/points.bin" "$work/centre.txt" "$work/scan.cal" "$work/earlier/"
  touch -d '1 hour ago' "$work"/earlier/*
  # Stopped mid-run: a file size limit cuts points.bin (exit status 1, a write error).
  status=0
  (cd "$work" && ulimit -f 300 && "$beamfall" --manifest cut.json < deck.txt > cut.txt 2>/dev/null) ||
    status=$?
  [ "$status" = 1 ] || fail "the cut run exits $status, not 1"
  "$quicklook" "$work/deck.txt" "$work/cut.json" --out "$work/cut" > "$work/stdout" ||
    fail "the stopped run's quick look fails"
  grep -q '<p class="stopped">This run stopped (exit status 1): \*\*\* write error' \
    "$work/cut/index.html" || fail "no banner on the stopped run's page"
  grep -q "^note: This run stopped (exit status 1)" "$work/stdout" || fail "stdout does not say so"
  [ -s "$work/cut/dem.tif" ] || fail "no DEM of the stopped run's points"
  # Stopped before writing (a geoid that is not there): nothing of its own to show.
  # A run that checks its inputs before writing leaves its outputs as they were (older than
  # the run); one that empties them first leaves them empty: both are told the same way.
  touch -d '1 hour ago' "$work/points.bin" "$work/centre.txt" "$work/scan.cal"
  LC_ALL=C awk 'NR == 3 { print "nogeoid.grid"; next } 1' "$work/deck.txt" > "$work/nogeoid.txt"
  status=0
  (cd "$work" && "$beamfall" --manifest nogeoid.json < nogeoid.txt > nogeoid_report.txt 2>/dev/null) ||
    status=$?
  [ "$status" != 0 ] || fail "the run without its geoid succeeds"
  expect_refused() {  # WHAT
    local got=0
    "$quicklook" "$work/nogeoid.txt" "$work/nogeoid.json" --out "$work/refused" > /dev/null \
      2> "$work/err" || got=$?
    [ "$got" = 1 ] || fail "$1: exit $got, not 1"
    grep -q "^beamfall-quicklook: $work/nogeoid.json: the run stopped before writing $1 (\*\*\* open error: 'nogeoid.grid'.*); it has nothing to show$" \
      "$work/err" || fail "$1: $(cat "$work/err")"
    [ "$(wc -l < "$work/err")" = 1 ] || fail "the error is not one line"
    [ ! -e "$work/refused" ] || fail "products begun for a run with nothing to show"
  }
  # Its outputs as the run left them (emptied, or not there) ...
  if [ -s "$work/centre.txt" ]; then
    expect_refused "centre.txt"
  else
    expect_refused "a centre point"
  fi
  # ... or an earlier run's, older than the stopped run.
  cp -p "$work"/earlier/* "$work/"
  expect_refused "centre.txt"
  ;;
*)
  echo "unknown case $case"; exit 2
  ;;
esac
echo "ok $case"
