#!/usr/bin/env bash
# One physical end-to-end case: simulate a short flight, run the real beamfall on it in a
# fresh directory, and let beamfall-check hold the result against the truth.
#
# usage: sim_case.sh BEAMFALL SIM CHECK GEOID_GRID CASE
#
# Where every bound comes from (flights at 78.5 N unless said otherwise):
#   binary point file: heights in mm (rounding <= 0.5 mm); lat, lon in 1e-7 degree
#     (<= 5.6 mm north at 111.6 km per degree, <= 1.1 mm east at 22.3 km per degree of
#     longitude): <= 5.7 mm horizontally; thr in 1e-7 h: <= 0.18 ms.
#   text point file (45 N): h F8.2 <= 5 mm; lat F10.6 <= 55.6 mm, lon F12.6 <= 39.4 mm:
#     <= 68.2 mm horizontally; thr F9.6: <= 1.8 ms.
#   centre file: lat F10.6, lon F12.6: <= 56.9 mm horizontally at 78.5 N.
#   report: bias F7.2 <= 5 mm, roll F6.2 <= 0.005 degree.
#   range counts of 8 mm: <= 4 mm along the beam, so <= 1.7 mm sideways at the swath's
#     edge (25 gon sweep, about 1 degree of roll).
# "unexplained" compares each point with the checker's own flat-earth statement of the same
# beam (true attitude, measured range, the deck's lever arm and angles), so only output
# rounding remains; "excess" compares it with the truth alone (flat-earth geolocation of
# the exact beam), so rounding and the range step remain.
# The rigorous_* cases run beamfall --rigorous and let the checker hold each point against the
# rigorous statement of its beam: then "excess" and the horizontal misfit are against the true
# footprint itself, and the regression's expected roll is the misalignment itself.
set -euo pipefail
beamfall=$1 sim=$2 check=$3 grid=$4 case=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-sim-case.XXXXXX")
trap 'rm -rf "$work"' EXIT

mode=()  # --rigorous for beamfall and beamfall-check in the rigorous_* cases
case $case in rigorous_*) mode=(--rigorous) ;; esac
sensor=()  # --boresight and --range-offset, told to beamfall and beamfall-check alike
simulate() { "$sim" --out "$work" "$@" >/dev/null; }
process() {
  if ! (cd "$work" && "$beamfall" "${mode[@]}" "${sensor[@]}" < deck.txt > report.txt); then
    echo "beamfall failed:"; cat "$work/report.txt"; exit 1
  fi
}
verify() {
  local status=0
  "$check" "${mode[@]}" "${sensor[@]}" "$work" "${@/#/--require=}" > "$work/check.txt" || status=$?
  cat "$work/check.txt"
  return "$status"
}
metric() { tr ' ' '\n' < "$work/check.txt" | sed -n "s/^$1=//p"; }  # from the last verify
roll_estimate() { sed -n 's/.*(roll0): *\([-0-9.]*\) degrees.*/\1/p' "$work/report.txt"; }
set_roll0() {  # parameter line 6 of the deck is its 11th line: pitch0 roll0 heading0
  LC_ALL=C awk -v r="$1" 'NR == 11 { $2 = r } { print }' "$work/deck.txt" > "$work/deck.new"
  mv "$work/deck.new" "$work/deck.txt"
}

short=(--duration 8 --nmeas 120 --scan-rate 20)
# Every binary run: each point traced to its own measurement, none lost or doubled, the
# report's counts agree, the lines have their widths, the centre track has one point per
# sweep, and each point is where the deck's geometry puts it, to the output's rounding.
traced=(count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.000181
        unexplained_max\<=0.0006 horiz_unexplained_max\<=0.0058 centre_missing\<=0
        centre_unexplained_max\<=0.057)
# Without injected errors, also against the truth alone: no farther from the true footprint
# than flat-earth geolocation of the exact beam, plus rounding and the range step.
exact_truth=(horiz_excess_max\<=0.008)

# rigorous_roll SIMULATE_OPTIONS...: a boresight roll of 0.15 degree left out of the deck,
# over level ground. The offset across the heading makes the regression's slope the
# misalignment itself: the report says 0.15 (print rounding 0.005), whatever the height over
# the surface. One pass of the user's loop (roll0 = the estimate) leaves 0.00, and the points
# then lie on the surface: horizontal misfit <= 5.7 mm of binary rounding, 1.7 mm of range
# step and 1 mm for the 0.005 degree left in roll0 at 400 m; heights within the 2.3 mm of the
# range step (sd). Over a level surface at a nearly constant height a short flight's ranges do
# not sweep the 8 mm step evenly, so the residuals' mean keeps up to 1.2 mm of the step's
# rounding (the checker's beam-by-beam statement from the measured ranges shows the same):
# bounded by 2 mm apart from the sd. HORIZ and CENTRE bound the horizontal rounding of the binary points and of the
# centre file at the flight's latitude.
rigorous_roll() {
  local horiz=$1 centre=$2
  shift 2
  local traced_here=(count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.000181
                     unexplained_max\<=0.0006 horiz_unexplained_max\<="$horiz" centre_missing\<=0
                     centre_unexplained_max\<="$centre")
  simulate "$@" --boresight 0.15,0,0
  process
  verify "${traced_here[@]}" roll_injected_error\<=0.005 roll_model_error\<=0.0051
  set_roll0 "$(roll_estimate)"
  echo "== one pass: roll0 = $(roll_estimate)"
  process
  verify "${traced_here[@]}" roll_abs\<=0.005 horiz_misfit_max\<=0.02 level_sd\<=0.0025 \
    level_mean_abs\<=0.002
}

case $case in
level_straight)
  # No injected error, the deck's lever arm the true one: the 2 cm RMS, and the
  # centre points within 0.16 m of the true footprint of the first beam past nadir (up to
  # 20 m ahead or aside of the aircraft, pitch 2 degrees: 0.51 % of it from flat-earth
  # scaling is 0.10 m, plus 0.057 m of rounding). No error to estimate: the model's roll
  # and bias are 0 and 30 m within print rounding.
  simulate "${short[@]}"
  process
  verify "${traced[@]}" "${exact_truth[@]}" level_rms\<=0.02 centre_misfit_max\<=0.16 roll_abs\<=0.005 \
    roll_model_error\<=0.0051 bias_error\<=0.0056 bias_model_error\<=0.0051
  ;;
level_turn_text)
  # A 10.5 degree turn through heading 180 at 45 N with the text point file.
  simulate --duration 12 --nmeas 120 --lat 45 --lon 10 --track 172 --turn 1.5,1,10 --text-points
  process
  verify count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.0018 level_rms\<=0.02 \
    unexplained_max\<=0.0051 horiz_unexplained_max\<=0.069 horiz_excess_max\<=0.071 \
    centre_missing\<=0 centre_unexplained_max\<=0.069 roll_model_error\<=0.0051 \
    bias_model_error\<=0.0051
  ;;
range_bias)
  # A range bias b = 0.30 m lowers every point by b cos(incidence): the intercept (the mean
  # height) lies 0.30 x (1 - mean cos) = 8 mm above 30 - b, plus 5 mm of print rounding:
  # within the 2 cm. The residuals show it (mean >= 0.30 cos 25 degrees).
  simulate "${short[@]}" --range-bias 0.30
  process
  verify "${traced[@]}" bias_error\<=0.02 bias_model_error\<=0.0051 level_mean_abs\>=0.27
  ;;
roll_calibration)
  # Boresight roll r = 0.15 degree left out of the deck. Over level ground the points tilt
  # by -H tan(scanang) r (H: scanner over surface, 348.6 m), the regression runs against
  # tan(scanang) h_a (h_a about 380 m): estimate r H / h_a = 0.138 (the checker derives it
  # over the flown beams). Then the user's loop: roll0 += estimate, rerun, at most twice.
  simulate "${short[@]}" --boresight 0.15,0,0
  process
  verify "${traced[@]}" roll_error\<=0.01 roll_model_error\<=0.0051 level_rms\>=0.05
  roll0=0
  for pass in 1 2; do
    est=$(roll_estimate)
    if LC_ALL=C awk -v e="$est" 'BEGIN { exit !(e <= 0.005 && e >= -0.005) }'; then break; fi
    roll0=$(LC_ALL=C awk -v a="$roll0" -v b="$est" 'BEGIN { printf "%.2f", a + b }')
    echo "== pass $pass: roll0 = $roll0"
    set_roll0 "$roll0"
    process
  done
  verify "${traced[@]}" roll_abs\<=0.01 roll_model_error\<=0.0051 level_rms\<=0.02
  ;;
roll_ice_sheet)
  # The same boresight roll over an ice sheet at 2500 m: H / h_a = 350 / 2850, so the
  # estimate is 0.018 degree, not 0.15: the regression measures the tilt in units of the
  # ellipsoidal aircraft height.
  simulate "${short[@]}" --surface-height 2500 --boresight 0.15,0,0
  process
  verify "${traced[@]}" roll_error\<=0.01 roll_model_error\<=0.0051
  ;;
geoid)
  # With the EGM96 grid in the deck the heights are above the geoid (about 30.3 m here):
  # residuals against the surface less the geoid within the same bounds. The processing's
  # grid lookup returns a node's value within 1e-4 of a cell of it (<= 0.3 mm here).
  simulate "${short[@]}" --geoid "$grid"
  process
  verify count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.000181 level_rms\<=0.02 \
    unexplained_max\<=0.0009 horiz_unexplained_max\<=0.0058 horiz_excess_max\<=0.008 \
    centre_missing\<=0 centre_unexplained_max\<=0.057 bias_error\<=0.0056 \
    bias_model_error\<=0.0051
  ;;
ridges_on_geoid)
  # Sea ice 0.35 m above the geoid with pressure ridges (flanks up to 0.4) and a 2e-4 slope.
  # On the flanks the horizontal rounding (<= 5.7 mm) shows in height: x 0.4 = 2.3 mm, plus
  # 0.5 mm and the grid lookup's 0.3 mm. Some points must land on ridges (feature_rms
  # exists).
  simulate --duration 12 --nmeas 120 --surface ice --on-geoid --surface-height 0.35 \
    --geoid "$grid"
  process
  verify count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.000181 level_rms\<=0.02 \
    unexplained_max\<=0.0035 horiz_unexplained_max\<=0.0058 horiz_excess_max\<=0.008 \
    centre_missing\<=0 centre_unexplained_max\<=0.057 feature_rms\>=0 \
    roll_model_error\<=0.0051 bias_model_error\<=0.0051
  ;;
time_window)
  # A processing window from 2.503 s to 6.2 s after the first scan's second: the scans before
  # it are passed over whole, the data end at the first beam after it; the checker counts the
  # returns of exactly those beams and one centre point per sweep inside.
  simulate "${short[@]}" --window 2.503,6.2
  process
  verify "${traced[@]}" "${exact_truth[@]}" level_rms\<=0.02
  ;;
lever_mismatch_detected)
  # Control: a deck whose lever arm is 0.5 m off sideways. Beamfall still does what the deck
  # says (unexplained stays small), and the truth shows the 0.5 m (excess >= 0.4 m near
  # nadir, where flat-earth scaling adds only centimetres).
  simulate "${short[@]}" --deck-lever 0.6,0.2,1.4
  process
  verify count_mismatch\<=0 unexplained_max\<=0.0006 horiz_unexplained_max\<=0.0058 \
    horiz_excess_max\>=0.4
  ;;
rigorous_demo_ridges)
  # The demo flight (90 s, 208 beams a sweep, a turn after 50 s) over sea ice with pressure
  # ridges on the geoid, as binary points. Against the true footprints: binary rounding 5.7 mm
  # and the range step 1.7 mm leave the points within 2 cm horizontally (flat-earth: 1 m); on
  # ridge flanks (up to 0.4) that rounding shows in height, but the RMS stays at the range
  # step's 2.3 mm plus at most 1 mm (flat-earth: 38 mm); level parts within 2.5 mm RMS.
  simulate --duration 90 --nmeas 208 --scan-rate 20 --lat 78.5 --lon -15 --track 30 \
    --turn 1,50,30 --height 350 --surface ice --on-geoid --surface-height 0.35 --geoid "$grid"
  process
  verify count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.000181 \
    unexplained_max\<=0.0035 horiz_unexplained_max\<=0.0058 centre_missing\<=0 \
    centre_unexplained_max\<=0.057 horiz_misfit_max\<=0.02 feature_rms\<=0.005 \
    level_rms\<=0.0025 roll_model_error\<=0.0051 bias_model_error\<=0.0051
  ;;
rigorous_roll_ice_sheet)
  # Ice sheet at 2500 m, the aircraft 350 m above it (flat-earth estimate: 0.02 degree).
  rigorous_roll 0.0058 0.057 "${short[@]}" --surface-height 2500
  ;;
rigorous_turn_45n)
  # A turn through heading 180 at 45 N: binary rounding there is 5.6 mm north and 3.9 mm
  # east, 6.8 mm horizontally; in the centre file 55.6 and 39.4 mm, 68.2 mm.
  rigorous_roll 0.0069 0.069 --duration 12 --nmeas 120 --scan-rate 20 --lat 45 --lon 10 --track 172 \
    --turn 1.5,1,10
  ;;
rigorous_roll_averaged)
  # The ice sheet with averages of 3 beams: each average's offset across the heading is the
  # mean of its beams', so the estimate stays the misalignment.
  simulate "${short[@]}" --surface-height 2500 --boresight 0.15,0,0 --naver 3
  process
  verify count_mismatch\<=0 roll_injected_error\<=0.005
  ;;
rigorous_boresight_terrain)
  # The shared terrain (ridges of 0.5-2 m, hills and hollows of 2-8 m) under a line with a
  # boresight of roll 0.1, pitch -0.1, heading 0.2 degrees and a range bias of +3 cm, all
  # left out of the deck. Uncorrected, the roll tilts the swath (0.1 degree at the swath's
  # edge, 145 m out: 0.25 m), pitch moves the points 350 m x 0.1 degree = 0.61 m along track
  # and heading up to 145 m x 0.2 degree = 0.51 m: decimetres in height on the relief and in
  # position. Run with the injected values (--range-offset -0.03): against the true surface
  # only the range step's 2.3 mm (sd) and the horizontal rounding on slopes remain, within 4 mm
  # RMS; against the true footprints the 5.7 mm of binary rounding and 1.7 mm of range step,
  # within 1 cm. On ridge flanks (up to 0.4) the rounding shows in height: unexplained
  # 5.7 x 0.4 + 0.5 + 1 mm. (Over relief the report's regression fits the ground's own tilt, so
  # its roll and bias say nothing here.) Terrain seed 2 puts a hill under the line: the true
  # surface under the points varies by metres (surface_sd).
  local_traced=(count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.000181
                unexplained_max\<=0.0035 horiz_unexplained_max\<=0.0058 centre_missing\<=0
                centre_unexplained_max\<=0.057)
  simulate "${short[@]}" --surface terrain --terrain-origin 78.502,-15.01 --terrain-seed 2 \
    --boresight 0.1,-0.1,0.2 --range-bias 0.03
  process
  verify "${local_traced[@]}" surface_sd\>=0.5 all_rms\>=0.05 horiz_misfit_rms\>=0.1
  sensor=(--boresight 0.1,-0.1,0.2 --range-offset -0.03)
  process
  verify "${local_traced[@]}" all_rms\<=0.004 horiz_misfit_max\<=0.01
  ;;
boresight_terrain_flat)
  # The same line in the flat-earth mode: its own scaling error (0.5 % of offsets up to 150 m)
  # stays, but with the injected values the points are at least five times closer to the
  # true surface (RMS) and to where flat-earth geolocation of the exact beam puts them.
  local_traced=(count_mismatch\<=0 format_errors\<=0 time_offset_max\<=0.000181
                unexplained_max\<=0.0035 horiz_unexplained_max\<=0.0058 centre_missing\<=0)
  simulate "${short[@]}" --surface terrain --terrain-origin 78.502,-15.01 --terrain-seed 2 \
    --boresight 0.1,-0.1,0.2 --range-bias 0.03
  process
  verify "${local_traced[@]}" surface_sd\>=0.5
  without_h=$(metric all_rms) without_x=$(metric horiz_excess_rms)
  sensor=(--boresight 0.1,-0.1,0.2 --range-offset -0.03)
  process
  verify "${local_traced[@]}"
  with_h=$(metric all_rms) with_x=$(metric horiz_excess_rms)
  echo "height rms $without_h -> $with_h m; horizontal excess rms $without_x -> $with_x m"
  LC_ALL=C awk -v a="$without_h" -v b="$with_h" -v c="$without_x" -v d="$with_x" \
    'BEGIN { exit !(a >= 5 * b && c >= 5 * d && b > 0 && d > 0) }'
  ;;
rigorous_line_88n)
  # A line at 88 N, where a degree of longitude is 3.9 km and the meridians converge fast.
  rigorous_roll 0.0058 0.057 "${short[@]}" --lat 88 --lon 40 --track 60
  ;;
*)
  echo "unknown case $case"; exit 2
  ;;
esac
