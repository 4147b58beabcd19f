#!/usr/bin/env bash
# beamfall-sim-campaign: a simulated campaign of K parallel flight lines for beamfall-campaign.
#
# The lines run north and south in turn (track 0 and 180) over level ground at sea level, 350 m
# above it, with a +-25 gon sweep: a swath of 2 W = 2 x 350 tan(22.5 deg) = 290 m. Neighbouring
# lines are D = 2 W (1 - 0.30) = 203 m apart, so their swaths overlap by O = 2 W - D = 87 m
# (30 %). Every line carries the same boresight roll, left out of the decks: it tilts each
# line's points across its swath, and lines flown in opposite directions tilt the opposite
# way in their common strip, so level ground already shows it. (The simulator draws an ice
# surface's ridges along each line alone, so a ridged surface would differ between lines.)
# The lines cover the same stretch of latitude (the first scan of a northbound line at 78.5 N),
# one after the other in time.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: beamfall-sim-campaign K DIR [--roll DEG] [--duration S] [--nmeas N] [--sim PATH]
Writes K line folders DIR/line01 ... with deck, flight.2dd, flight.traj, date and truth.txt.
  --roll DEG      injected boresight roll, degrees [0.15]
  --duration S    seconds of each line [8]
  --nmeas N       measurements per scan [120]
  --sim PATH      the simulator [beamfall-sim beside this script, else on PATH]
EOF
}

[[ ${1:-} == --help ]] && { usage; exit 0; }
[[ $# -ge 2 && $1 =~ ^[1-9][0-9]*$ ]] || { usage >&2; exit 2; }
count=$1 dir=$2
shift 2
roll=0.15 duration=8 nmeas=120
sim=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")/beamfall-sim
[[ -x $sim ]] || sim=beamfall-sim
while (($#)); do
  case $1 in
    --roll) roll=$2; shift ;;
    --duration) duration=$2; shift ;;
    --nmeas) nmeas=$2; shift ;;
    --sim) sim=$2; shift ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done

readonly lat0=78.5 lon0=-15 speed=70 height=350 sweep_deg=22.5 overlap=0.30
# Metres per degree of latitude and of longitude at lat0 (WGS84 radii of curvature).
read -r m_lat m_lon < <(LC_ALL=C awk -v p="$lat0" 'BEGIN {
  a = 6378137; e2 = 0.00669437999014; r = atan2(0, -1) / 180; s = sin(p * r)
  w = sqrt(1 - e2 * s * s)
  printf "%.6f %.6f\n", a * (1 - e2) / (w * w * w) * r, a / w * cos(p * r) * r }')

mkdir -p -- "$dir"
for ((k = 0; k < count; ++k)); do
  name=$(printf 'line%02d' $((k + 1)))
  read -r lat lon track start < <(LC_ALL=C awk -v k="$k" -v m_lat="$m_lat" -v m_lon="$m_lon" \
    -v lat0="$lat0" -v lon0="$lon0" -v v="$speed" -v t="$duration" -v h="$height" \
    -v sw="$sweep_deg" -v ov="$overlap" 'BEGIN {
      w = h * sin(sw * atan2(0, -1) / 180) / cos(sw * atan2(0, -1) / 180)
      d = 2 * w * (1 - ov)
      south = k % 2
      secs = 14 * 3600 + 20 * 60 + 7.25 + 120 * k
      # The simulated trajectory starts (at the given position) 1.5 s or a little more
      # before the first scan, on a 0.1 s step.
      lead = secs - int((secs - 1.5) * 10) / 10
      lat = lat0 + (south ? v * (t + lead) : -v * lead) / m_lat
      printf "%.9f %.9f %d %02d:%02d:%05.2f\n", lat, lon0 + k * d / m_lon, south ? 180 : 0,
             int(secs / 3600), int(secs / 60) % 60, secs - 60 * int(secs / 60) }')
  "$sim" --out "$dir/$name" --lat "$lat" --lon "$lon" --track "$track" --start "$start" \
    --duration "$duration" --nmeas "$nmeas" --scan-rate 20 --height "$height" \
    --surface-height 0 --boresight "$roll,0,0" --seed $((k + 1)) >/dev/null
  mv -- "$dir/$name/deck.txt" "$dir/$name/deck"
  printf '2026-06-%02d\n' $((k % 28 + 1)) >"$dir/$name/date"
done
echo "beamfall-sim-campaign: $count lines in $dir"
