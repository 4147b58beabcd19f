#!/usr/bin/env bash
# beamfall-sim-campaign: a simulated campaign of K flight lines for beamfall-campaign, in one of
# the flight patterns that calibrating a scanner needs.
#
# The default pattern, parallel: the lines run north and south in turn (track 0 and 180) over
# level ground at sea level, 350 m above it, with a +-25 gon sweep: a swath of 2 W = 2 x 350
# tan(22.5 deg) = 290 m. Neighbouring lines are D = 2 W (1 - 0.30) = 203 m apart, so their
# swaths overlap by O = 2 W - D = 87 m (30 %). Every line carries the same boresight and range
# bias, left out of the decks: a boresight roll tilts each line's points across its swath, and
# lines flown in opposite directions tilt the opposite way in their common strip, so level
# ground already shows it. Pitch and heading move the points along and across track, which
# only relief shows: --surface terrain gives every line the same ridges and hills, fixed to the
# pattern's centre and --terrain-seed. The lines are flown one after the other in time; each
# is centred on its place in the pattern (the first scan of the first northbound parallel line
# at 78.5 N).
set -euo pipefail

usage() {
  cat <<'EOF'
usage: beamfall-sim-campaign K DIR [options]
Writes K line folders DIR/line01 ... with deck, flight.2dd, flight.traj, date and truth.txt.
pattern
  --pattern NAME        parallel: side by side 203 m apart (30 % overlap), directions alternating
                        opposite: all on one track, directions alternating
                        offset: all northbound, each 203 m east of the one before
                        crossing: all through the centre, tracks 180/K degrees apart
                        heights: one track at two flying heights, both directions (north at H,
                        north at H2, south at H, south at H2, ...) [parallel]
  --height M            flying height above the level ground [350]
  --height2 M           the second flying height of the heights pattern [--height + 100]
injected into every line, left out of the decks
  --boresight R,P,H     scanner boresight roll, pitch, heading, degrees [0.15,0,0]
  --roll DEG            the same as --boresight DEG,0,0
  --range-bias M        metres added to every range (beamfall --range-offset -M corrects it) [0]
surface and flight (passed on to beamfall-sim)
  --surface level|terrain  level ground, or the shared terrain: ridges of 0.5-2 m and hills
                        and hollows of 2-8 m, the same under every line [level]
  --terrain-seed N      the shared terrain's features [1]
  --surface-height M    height of the level ground [0]
  --geoid FILE          geoid grid named in every deck (heights above the geoid)
  --on-geoid            the ground's heights are above the geoid (needs --geoid)
  --pitch DEG           the aircraft's mean pitch: the beam looks forward [1.8]
  --crab DEG            heading minus track [2]
  --wobble X            scale of the attitude and height oscillations, 0 for none [1]
  --duration S          seconds of each line [8]
  --nmeas N             measurements per scan [120]
navigation and measurement errors (passed on to beamfall-sim; see its --help)
  --traj-rate HZ        trajectory samples per second [10]
  --motion-rate HZ      samples per second of the true motion, a whole multiple of
                        --traj-rate: interpolating the trajectory then misses the motion in
                        between [--traj-rate]
  --traj-noise POS_M,ATT_DEG,TAU_S
                        Gauss-Markov errors in every line's trajectory file: POS_M metres
                        north, east and up, ATT_DEG degrees of roll, pitch and heading, each
                        correlated over TAU_S seconds [none]
  --range-noise M       standard deviation of Gaussian noise on every range [0]
  --seed N              the lines' seeds are 1000 N + 1, 1000 N + 2, ...: their attitude
                        oscillations and their range and trajectory noise [0]
control points
  --control-points N    also write DIR/control.csv: N points on level ground under the first
                        line's swath, latitude,longitude,height in the decks' height system
  --sim PATH            the simulator [beamfall-sim beside this script, else on PATH]
  --version             the program's version (the simulator's)
EOF
}

[[ ${1:-} == --help ]] && { usage; exit 0; }
# Its version is the simulator's it is shipped with.
if [[ ${1:-} == --version ]]; then
  sim=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")/beamfall-sim
  [[ -x $sim ]] || sim=beamfall-sim
  version=$("$sim" --version) || exit 1
  echo "beamfall-sim-campaign ${version##* }"
  exit 0
fi
[[ $# -ge 2 && $1 =~ ^[1-9][0-9]*$ ]] || { usage >&2; exit 2; }
count=$1 dir=$2
shift 2
pattern=parallel boresight=0.15,0,0 duration=8 nmeas=120 height=350 height2=
surface_height=0 control=0 surface=level seed=0
sim_opts=()  # passed on to every line as they stand
sim=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")/beamfall-sim
[[ -x $sim ]] || sim=beamfall-sim
need_value() { [[ $# -ge 2 ]] || { echo "beamfall-sim-campaign: $1 needs a value" >&2; exit 2; }; }
while (($#)); do
  case $1 in
    --pattern | --height | --height2 | --boresight | --roll | --range-bias | --surface | \
      --terrain-seed | --surface-height | --geoid | --pitch | --crab | --wobble | --duration | \
      --nmeas | --control-points | --sim | --traj-rate | --motion-rate | --traj-noise | \
      --range-noise | --seed) need_value "$@" ;;
  esac
  case $1 in
    --pattern) pattern=$2 ;;
    --height) height=$2 ;;
    --height2) height2=$2 ;;
    --boresight) boresight=$2 ;;
    --roll) boresight=$2,0,0 ;;
    --duration) duration=$2 ;;
    --nmeas) nmeas=$2 ;;
    --surface-height) surface_height=$2 ;;
    --control-points) control=$2 ;;
    --sim) sim=$2 ;;
    --seed) seed=$2 ;;
    --surface)
      [[ $2 == level || $2 == terrain ]] ||
        { echo "beamfall-sim-campaign: --surface is level or terrain" >&2; exit 2; }
      surface=$2
      sim_opts+=("$1" "$2") ;;
    --range-bias | --terrain-seed | --geoid | --pitch | --crab | --wobble | --traj-rate | \
      --motion-rate | --traj-noise | --range-noise)
      sim_opts+=("$1" "$2") ;;
    --on-geoid) sim_opts+=("$1"); shift; continue ;;
    *) usage >&2; exit 2 ;;
  esac
  shift 2
done
case $pattern in
  parallel | opposite | offset | crossing | heights) ;;
  *) echo "beamfall-sim-campaign: no pattern '$pattern' (parallel, opposite, offset, crossing, heights)" >&2
     exit 2 ;;
esac
number='[-+]?([0-9]+([.][0-9]*)?|[.][0-9]+)'
for v in "$height" "$duration" "$surface_height" ${height2:+"$height2"}; do
  [[ $v =~ ^$number$ ]] || { echo "beamfall-sim-campaign: '$v' is not a number" >&2; exit 2; }
done
for ((k = 0; k < ${#sim_opts[@]}; ++k)); do
  case ${sim_opts[k]} in
    --range-bias | --pitch | --crab | --wobble | --traj-rate | --motion-rate | --range-noise)
      [[ ${sim_opts[k + 1]} =~ ^$number$ ]] ||
        { echo "beamfall-sim-campaign: ${sim_opts[k]} '${sim_opts[k + 1]}' is not a number" >&2; exit 2; } ;;
  esac
done
[[ $boresight =~ ^$number,$number,$number$ ]] ||
  { echo "beamfall-sim-campaign: --boresight wants ROLL,PITCH,HEADING, not '$boresight'" >&2; exit 2; }
[[ $control =~ ^[0-9]+$ ]] || { echo "beamfall-sim-campaign: --control-points wants a count" >&2; exit 2; }
[[ $seed =~ ^[0-9]{1,12}$ ]] || { echo "beamfall-sim-campaign: --seed wants a whole number, not '$seed'" >&2; exit 2; }
[[ $nmeas =~ ^[0-9]+$ ]] && ((10#$nmeas >= 1 && 10#$nmeas <= 4095)) ||
  { echo "beamfall-sim-campaign: --nmeas wants a count from 1 to 4095, not '$nmeas'" >&2; exit 2; }
LC_ALL=C awk -v d="$duration" 'BEGIN { exit !(d > 0) }' ||
  { echo "beamfall-sim-campaign: --duration must be positive, not '$duration'" >&2; exit 2; }
for ((k = 0; k < ${#sim_opts[@]}; ++k)); do
  v=${sim_opts[k + 1]:-}
  case ${sim_opts[k]} in
    --terrain-seed) [[ $v =~ ^[0-9]+$ ]] ||
      { echo "beamfall-sim-campaign: --terrain-seed wants a whole number, not '$v'" >&2; exit 2; } ;;
    --pitch) LC_ALL=C awk -v p="$v" 'BEGIN { exit !(p > -30 && p < 30) }' ||
      { echo "beamfall-sim-campaign: --pitch must lie within +-30 degrees, not '$v'" >&2; exit 2; } ;;
    --geoid) [[ -f $v && -r $v ]] ||
      { echo "beamfall-sim-campaign: no readable geoid grid '$v'" >&2; exit 2; } ;;
  esac
done
# 100 m higher by default: the range counter ends near 524 m, so twice the usual 350 m would
# leave the outer beams without returns.
[[ -n $height2 ]] || height2=$(LC_ALL=C awk -v h="$height" 'BEGIN { print h + 100 }')

readonly lat0=78.5 lon0=-15 speed=70 sweep_deg=22.5 overlap=0.30
# Metres per degree of latitude and of longitude at lat0 (WGS84 radii of curvature).
read -r m_lat m_lon < <(LC_ALL=C awk -v p="$lat0" 'BEGIN {
  a = 6378137; e2 = 0.00669437999014; r = atan2(0, -1) / 180; s = sin(p * r)
  w = sqrt(1 - e2 * s * s)
  printf "%.6f %.6f\n", a * (1 - e2) / (w * w * w) * r, a / w * cos(p * r) * r }')
# The pattern's centre, where the shared terrain is fixed: the middle of the first line.
read -r clat clon < <(LC_ALL=C awk -v lat0="$lat0" -v lon0="$lon0" -v v="$speed" \
  -v t="$duration" -v m_lat="$m_lat" 'BEGIN { printf "%.9f %.9f\n", lat0 + v * t / 2 / m_lat, lon0 }')

# Whatever the simulator still refuses (or a write that fails) takes away what this run made,
# so that a failed run leaves nothing behind: the folder when it made it, else its lines.
made_dir=
[[ -e $dir ]] || made_dir=1
made_lines=()
remove_made() {
  if [[ -n $made_dir ]]; then
    rm -rf -- "$dir"
  else
    rm -rf -- "${made_lines[@]/#/$dir/}"
  fi
}
trap 'status=$?; ((status == 0)) || remove_made' EXIT
mkdir -p -- "$dir"
for ((k = 0; k < count; ++k)); do
  name=$(printf 'line%02d' $((k + 1)))
  # Each line: its track, its centre's offset east of the pattern's centre, its height; the
  # start position lies half a line and the trajectory's lead before the centre.
  read -r lat lon track start h < <(LC_ALL=C awk -v k="$k" -v n="$count" -v p="$pattern" \
    -v m_lat="$m_lat" -v m_lon="$m_lon" -v clat="$clat" -v clon="$clon" -v v="$speed" \
    -v t="$duration" -v h1="$height" -v h2="$height2" -v sw="$sweep_deg" -v ov="$overlap" 'BEGIN {
      pi = atan2(0, -1)
      w = h1 * sin(sw * pi / 180) / cos(sw * pi / 180)
      d = 2 * w * (1 - ov)
      track = 0; east = 0; h = h1
      if (p == "parallel") { track = (k % 2) * 180; east = k * d }
      else if (p == "opposite") track = (k % 2) * 180
      else if (p == "offset") east = k * d
      else if (p == "crossing") track = k * 180 / n
      else if (p == "heights") { track = int(k / 2) % 2 * 180; h = k % 2 ? h2 : h1 }
      secs = 14 * 3600 + 20 * 60 + 7.25 + 120 * k
      # The simulated trajectory starts (at the given position) 1.5 s or a little more
      # before the first scan, on a 0.1 s step.
      lead = secs - int((secs - 1.5) * 10) / 10
      back = v * (t / 2 + lead)
      lat = clat - back * cos(track * pi / 180) / m_lat
      lon = clon + (east - back * sin(track * pi / 180)) / m_lon
      printf "%.9f %.9f %s %02d:%02d:%05.2f %s\n", lat, lon, track,
             int(secs / 3600), int(secs / 60) % 60, secs - 60 * int(secs / 60), h }')
  [[ -e $dir/$name ]] || made_lines+=("$name")
  extra=()
  ((k == 0 && control > 0)) && extra=(--control-points "$control")
  [[ $surface != terrain ]] || extra+=(--terrain-origin "$clat,$clon")
  "$sim" --out "$dir/$name" --lat "$lat" --lon "$lon" --track "$track" --start "$start" \
    --duration "$duration" --nmeas "$nmeas" --scan-rate 20 --height "$h" \
    --surface-height "$surface_height" --boresight "$boresight" --seed $((1000 * 10#$seed + k + 1)) \
    "${sim_opts[@]}" "${extra[@]}" >/dev/null
  mv -- "$dir/$name/deck.txt" "$dir/$name/deck"
  # The checker finds the deck through the truth file.
  sed -i 's/^deck deck\.txt$/deck deck/' "$dir/$name/truth.txt"
  ((k > 0 || control == 0)) || mv -- "$dir/$name/control.csv" "$dir/control.csv"
  printf '2026-06-%02d\n' $((k % 28 + 1)) >"$dir/$name/date"
done
echo "beamfall-sim-campaign: $count lines ($pattern) in $dir"
