#!/usr/bin/env bash
# Each point's uncertainty (the noise model options) on the real beamfall binary, in a fresh
# directory; the LAS files read back by las_sigma.py, written from the LAS layout alone.
#
# usage: tpu_case.sh BEAMFALL SIM CASE
#
#   zscores, zscores_rigorous
#       Five minutes of flight over level ground at 30 m, 350 m below the aircraft, with
#       navigation errors that are first-order Gauss-Markov processes of 1 s (0.02 m on north,
#       east, up; 0.02 degree on roll, pitch, heading) and 0.02 m of range noise, told to
#       beamfall as they are (the range's sigma with the 8 mm range step's 2.3 mm added). The
#       heights' z-scores, (height - 30 m) / sigma_vertical, have RMS within 0.9-1.1 over all
#       points and 0.85-1.15 in every band of 9 degrees of scan angle: some 150 independent
#       stretches of the errors make the RMS good to about 6 %. The median sigma_horizontal
#       within 1 degree of nadir is within 10 % of the first-order value by hand:
#       sqrt(2 x 0.02^2 + 2 x (350 m x 0.02 degree in radians)^2) = 0.1750 m (position on
#       two axes, roll and pitch turning a 350 m arm; heading turns only the lever arm and
#       the 11 m the 1.8 degree pitch puts the beam forward: 4 mm, left out). A model that
#       leaves the roll out fails the bands at the swath's edges. The manifest's percentiles
#       are those of the file. Without the options the LAS records keep their length.
#   calibration
#       --calibration FILE against the same values as --boresight and --range-offset: the
#       point file and the LAS file byte for byte. With the noise model, a roll sigma of
#       0.05 degree in the file makes each edge point's sigma_vertical grow by
#       range x sin(scan angle) x sigma (in quadrature). A parameter reported not observable
#       is refused unless an option gives it; files that can't be read are refused.
#   usage
#       A table of bad noise model options: exit 2, the pointer to --help, no file written.
set -euo pipefail
beamfall=$(readlink -f "$1") sim=$2 case=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/require.sh
. "$here/../require.sh"
require python3 python3
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-tpu-case.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
export SOURCE_DATE_EPOCH=1700000000

fail() {
  echo "FAIL: $*"
  exit 1
}
las() { python3 "$here/las_sigma.py" "$@"; }
within() { LC_ALL=C awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }
run() {  # DIR ARGS...: beamfall in DIR on its deck
  local dir=$1
  shift
  (cd "$dir" && "$beamfall" "$@" <deck.txt >report.txt 2>err.txt) ||
    { cat "$dir/report.txt" "$dir/err.txt"; fail "beamfall $* in $dir"; }
}

noise=(--sigma-position 0.02,0.02 --sigma-attitude 0.02,0.02,0.02 --sigma-range 0.02013)

zscores() {
  "$sim" --out flight --duration 300 --nmeas 60 --scan-rate 10 --traj-noise 0.02,0.02,1 \
    --range-noise 0.02 --seed 4 >/dev/null
  run flight "$@" --las z.las --date 2024-05-01 "${noise[@]}" --manifest m.json
  las zscores flight/z.las 30 | tee z.txt
  read -r _ n rms < <(grep '^all ' z.txt)
  ((n > 150000)) || fail "only $n points"
  within "$rms" 0.9 1.1 || fail "RMS z-score $rms over all points"
  [ "$(grep -c '^band ' z.txt)" = 5 ] || fail "not five bands of scan angle"
  while read -r _ lo hi m band_rms; do
    ((m > 20000)) || fail "band $lo .. $hi: only $m points"
    within "$band_rms" 0.85 1.15 || fail "band $lo .. $hi degrees: RMS z-score $band_rms"
  done < <(grep '^band ' z.txt)
  read -r _ m median < <(grep '^nadir_sigma_horizontal ' z.txt)
  hand=$(LC_ALL=C awk 'BEGIN { a = 350 * 0.02 * 3.14159265358979 / 180
                               printf "%.6f", sqrt(2 * 0.02 ^ 2 + 2 * a ^ 2) }')
  within "$median" "$(LC_ALL=C awk -v h="$hand" 'BEGIN { print 0.9 * h }')" \
    "$(LC_ALL=C awk -v h="$hand" 'BEGIN { print 1.1 * h }')" ||
    fail "median sigma_horizontal near nadir $median, by hand $hand"

  # The manifest's percentiles are the file's.
  python3 - flight/m.json <(las percentiles flight/z.las) <<'PY' || fail "manifest percentiles"
import json, sys
m = json.load(open(sys.argv[1]))["uncertainty"]
for line in open(sys.argv[2]):
    name, *want = line.split()
    got = [m[name][k] for k in ("p5", "p50", "p95")]
    if [f"{g:.3f}" for g in got] != want:
        sys.exit(f"{name}: manifest {got}, file {want}")
PY

  # Leaving the roll out of the model: the swath's edges are no longer explained.
  run flight "$@" --las noroll.las --date 2024-05-01 --sigma-position 0.02,0.02 \
    --sigma-attitude 0,0.02,0.02 --sigma-range 0.02013
  las zscores flight/noroll.las 30 >noroll.txt
  read -r _ _ _ _ edge < <(grep '^band -22.5 ' noroll.txt)
  within "$edge" 1.15 100 || fail "without roll the edge band's RMS z-score is $edge"

  # Without the options: three extra dimensions, records of 39 bytes.
  run flight "$@" --las plain.las --date 2024-05-01
  [ "$(las describe flight/plain.las | cut -d' ' -f1 | tr '\n' ' ')" = "amplitude measurement range " ] ||
    fail "extra dimensions without the options: $(las describe flight/plain.las)"
  [ "$(las describe flight/z.las | tail -2 | tr '\n' ' ')" = \
    "sigma_horizontal 5 0.001 39 sigma_vertical 5 0.001 43 " ] ||
    fail "the sigmas' descriptors: $(las describe flight/z.las)"
}

calibration_json() {  # FILE RANGE_OBSERVABLE
  if [ "$2" = true ]; then
    range='{"value": -0.0213, "sigma": 0.0011, "sigma_formal": 0.0004, "sigma_empirical": 0.0011, "observable": true}'
    range_corr=', "range_offset_m": 0.0'
    range_row=', "range_offset_m": {"roll_deg": 0.0, "pitch_deg": 0.0, "heading_deg": 0.0, "range_offset_m": 1.0}'
  else
    range='{"value": null, "sigma": null, "sigma_formal": null, "sigma_empirical": null, "observable": false, "reason": "standard error 0.1362 m beyond the limit 0.03 m"}'
    range_corr='' range_row=''
  fi
  cat >"$1" <<JSON
{
  "warnings": [],
  "parameters": {
    "roll_deg": {"value": 0.1201034567891234, "sigma": 0.05, "sigma_formal": 1.3e-05, "sigma_empirical": 0.05, "observable": true},
    "pitch_deg": {"value": -0.0800821, "sigma": 0.0, "sigma_formal": 0.0, "sigma_empirical": null, "observable": true},
    "heading_deg": {"value": 0.197767, "sigma": 0.0, "sigma_formal": 0.0, "sigma_empirical": null, "observable": true},
    "range_offset_m": $range
  },
  "correlation": {
    "roll_deg": {"roll_deg": 1.0, "pitch_deg": 0.0, "heading_deg": 0.0$range_corr},
    "pitch_deg": {"roll_deg": 0.0, "pitch_deg": 1.0, "heading_deg": 0.0$range_corr},
    "heading_deg": {"roll_deg": 0.0, "pitch_deg": 0.0, "heading_deg": 1.0$range_corr}$range_row
  },
  "tie_patches": 2000, "control_points": 0, "resamples": 12, "control": [],
  "apply": "beamfall-campaign run DIR --calibration DIR/calibration.json --force"
}
JSON
}

calibration() {
  "$sim" --out flight --duration 10 --nmeas 60 --scan-rate 10 --boresight 0.12,-0.08,0.2 \
    --range-bias 0.0213 --seed 2 >/dev/null
  calibration_json cal.json true
  options=(--boresight 0.1201034567891234,-0.0800821,0.197767 --range-offset -0.0213)
  for mode in --rigorous ""; do  # a.bin is left from the flat-earth run
    run flight $mode --calibration ../cal.json --las a.las --date 2024-05-01
    cp flight/points.bin a.bin
    run flight $mode "${options[@]}" --las b.las --date 2024-05-01
    cmp a.bin flight/points.bin || fail "$mode points with --calibration differ from the options'"
    cmp flight/a.las flight/b.las || fail "$mode LAS with --calibration differs from the options'"
  done

  # The roll's 0.05 degree: sigma_vertical^2 grows by (range sin(angle) sigma)^2, the angle
  # the beam's from the vertical: the LAS scan angle (the aircraft's roll and the scanner's
  # angle) less the boresight's roll of 0.12 degree, which it does not hold (positive roll
  # turns the beam to the left, negative LAS angles). The range offset's 1.1 mm adds
  # (1.1 mm cos(angle))^2 < 1.3e-6 m^2: within the check's tolerance.
  run flight --calibration ../cal.json --las c.las --date 2024-05-01 "${noise[@]}"
  run flight "${options[@]}" --las d.las --date 2024-05-01 "${noise[@]}"
  paste -d' ' <(las sigmas flight/c.las) <(las sigmas flight/d.las) | LC_ALL=C awk '
    function abs(x) { return x < 0 ? -x : x }
    abs($2) > 20 {
      want = $1 * sin(($2 - 0.1201) * 3.14159265358979 / 180) * 0.05 * 3.14159265358979 / 180
      got = sqrt($4 * $4 - $8 * $8); ++n
      # Each sigma is rounded to 1 mm: the difference of squares is good to 2 x 0.5 mm x sigma;
      # and 1 % of it for what the plane of the scan angle leaves out (the pitch of the aircraft
      # of 1.8 degrees and crab, the 0.006 degree steps of the angle field).
      if (abs(got * got - want * want) > 0.001 * ($4 + $8) + 0.01 * want * want + 2e-6) { print "edge point", NR, got, want; bad = 1 }
    }
    END { if (n < 700) { print "only", n, "edge points"; bad = 1 }; exit bad }' ||
    fail "sigma_vertical at the edge does not grow as the roll's sigma says"

  # Not observable: refused, unless the option gives it.
  calibration_json weak.json false
  status=0
  (cd flight && "$beamfall" --calibration ../weak.json <deck.txt >report.txt 2>err.txt) || status=$?
  [ "$status" = 2 ] && grep -q "range_offset_m is not observable (standard error 0.1362 m" flight/err.txt ||
    { cat flight/err.txt; fail "a range offset not observable: exit $status"; }
  run flight --calibration ../weak.json --range-offset -0.0213
  cmp a.bin flight/points.bin || fail "--range-offset with a calibration that lacks it"

  # Files that can't be read: one line, exit 2, nothing written.
  printf '{"parameters": {}}' >empty.json
  printf '{"parameters": ' >cut.json
  sed 's/"sigma": 0.05,/"sigma": -0.05,/' cal.json >negative.json
  sed 's/"heading_deg": 1.0/"heading_deg": 1.5/' cal.json >corr.json
  sed 's/"value": 0.1201034567891234/"value": "0.12"/' cal.json >text.json
  while IFS='|' read -r file pattern; do
    rm -f flight/points.bin
    status=0
    (cd flight && "$beamfall" --calibration "../$file" <deck.txt >report.txt 2>err.txt) || status=$?
    [ "$status" = 2 ] || fail "$file: exit $status"
    grep -q -- "$pattern" flight/err.txt || { cat flight/err.txt; fail "$file: no '$pattern'"; }
    [ ! -e flight/points.bin ] || fail "$file: points written"
  done <<'TABLE'
missing.json|--calibration ../missing.json: No such file or directory
empty.json|--calibration ../empty.json: no parameters.roll_deg
cut.json|not JSON: value expected at byte 16
negative.json|parameters.roll_deg.sigma is negative
corr.json|correlation.heading_deg.heading_deg is outside -1 .. 1
text.json|parameters.roll_deg.value is not a number
TABLE
}

usage() {
  "$sim" --out flight --duration 1 --nmeas 10 >/dev/null
  while IFS='|' read -r args pattern; do
    status=0
    # shellcheck disable=SC2086
    (cd flight && "$beamfall" --las u.las --date 2024-05-01 $args <deck.txt >report.txt 2>err.txt) ||
      status=$?
    [ "$status" = 2 ] || fail "$args: exit $status"
    grep -q -- "$pattern" flight/err.txt || { cat flight/err.txt; fail "$args: no '$pattern'"; }
    grep -q "Try 'beamfall --help'" flight/err.txt || fail "$args: no pointer to --help"
    [ ! -e flight/u.las ] && [ ! -s flight/report.txt ] || fail "$args: something written"
  done <<'TABLE'
--sigma-position 0.02 --sigma-attitude 0,0,0 --sigma-range 0|--sigma-position wants H,V in metres
--sigma-position 0.02,-0.01 --sigma-attitude 0,0,0 --sigma-range 0|--sigma-position wants H,V in metres, such as 0.03,0.05, not '0.02,-0.01'
--sigma-position 0.02,0.01 --sigma-attitude 0,0,x --sigma-range 0|--sigma-attitude wants ROLL,PITCH,HEADING
--sigma-position 0.02,0.01 --sigma-attitude 0,0,0,0 --sigma-range 0|--sigma-attitude wants
--sigma-position 0.02,0.01 --sigma-attitude 0,0,0 --sigma-range -0.01|--sigma-range wants a number of metres
--sigma-position 0.02,0.01 --sigma-attitude 0,0,0 --sigma-range nan|--sigma-range wants
--sigma-position 0.02,0.01 --sigma-attitude 0,0,0 --sigma-range 0 --sigma-angle -1|--sigma-angle wants a number of gon
--sigma-position 0.02,0.01 --sigma-attitude 0,0,0 --sigma-range 0 --sigma-lever 1e999|--sigma-lever wants
--sigma-position 0.02,0.01 --sigma-attitude 0,0,0 --sigma-range 0 --beam-divergence -0.5|--beam-divergence wants a number of milliradians
--sigma-position 0.02,0.01 --sigma-attitude 0,0,0|the noise model wants --sigma-range
--sigma-range 0.02|the noise model wants
--sigma-angle 0.001|the noise model wants
--sigma-trajectory s.txt --sigma-position 0.02,0.01 --sigma-range 0|--sigma-trajectory gives the position's
--sigma-trajectory=|--sigma-trajectory wants a file name
--calibration=|--calibration wants a file name
TABLE
  # The noise model needs the LAS file it is written to.
  status=0
  (cd flight && "$beamfall" --sigma-position 0.02,0.01 --sigma-attitude 0,0,0 --sigma-range 0 \
    <deck.txt >report.txt 2>err.txt) || status=$?
  [ "$status" = 2 ] && grep -q "the noise model needs --las" flight/err.txt ||
    { cat flight/err.txt; fail "the noise model without --las: exit $status"; }
}

case $case in
zscores) zscores ;;
zscores_rigorous) zscores --rigorous ;;
calibration) calibration ;;
usage) usage ;;
*) fail "unknown case $case" ;;
esac
echo "tpu_case $case: passed"
