#!/usr/bin/env bash
# beamfall-sim-campaign's flight patterns, read back from the lines' own files: where each
# line's middle lies, its track and height (from the trajectory, flown level without wobble or
# crab and with the pitch asked for), the one terrain and the one sensor error under every line
# (from the truth files), decks that leave the error out, the control points, and the
# navigation and measurement errors passed on to every line.
#
# usage: sim_campaign_case.sh SIM_CAMPAIGN SIM
set -euo pipefail
campaign=$1 sim=$2
[[ -x $campaign ]] || { echo "no $campaign"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-sim-campaign.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# mid DIR: the line's middle trajectory sample: east and north metres from 78.5 N, 15 W,
# height, pitch, roll, heading.
mid() {
  LC_ALL=C awk '{ row[NR] = $0 } END {
    split(row[int((NR + 1) / 2)], f, " ")
    printf "%.1f %.1f %s %s %s %s\n", (f[3] + 15) * 22265.2, (f[2] - 78.5) * 111649.1, f[4], f[5],
           f[6], f[7] }' "$1/flight.traj"
}
near() { LC_ALL=C awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { exit !(a - b <= t && b - a <= t) }'; }

# pattern | the lines' tracks | the lines' heights | east offsets of the lines' middles from the
# first's (metres; a line's middle is its sample nearest it, within 7 m of 70 m/s x 0.1 s)
while IFS='|' read -r pattern tracks heights easts; do
  dir=$work/$pattern
  "$campaign" 4 "$dir" --sim "$sim" --pattern "$pattern" --duration 2 --nmeas 20 \
    --surface terrain --terrain-seed 3 --boresight 0.1,-0.1,0.2 --range-bias 0.03 \
    --wobble 0 --crab 0 --pitch 3 --height2 500 --control-points 6 >/dev/null
  read -r -a track <<<"$tracks"
  read -r -a height <<<"$heights"
  read -r -a east <<<"$easts"
  read -r e0 n0 _ < <(mid "$dir/line01")
  terrain=$(grep -E '^(surface|ridge|hill)' "$dir/line01/truth.txt")
  for k in 0 1 2 3; do
    line=$dir/line0$((k + 1))
    read -r e n h pitch roll heading < <(mid "$line")
    near "$heading" "${track[k]}" 1e-9 || near "$heading" "$((track[k] - 360))" 1e-9 ||
      fail "$pattern line $((k + 1)): heading $heading, want ${track[k]}"
    near "$h" "${height[k]}" 1e-9 || fail "$pattern line $((k + 1)): height $h, want ${height[k]}"
    near "$pitch" 3 1e-9 && near "$roll" 0 1e-9 || fail "$pattern: pitch $pitch roll $roll"
    near "$e" "$(LC_ALL=C awk -v a="$e0" -v b="${east[k]}" 'BEGIN { print a + b }')" 8 ||
      fail "$pattern line $((k + 1)): middle $e m east, want ${east[k]} m from the first's"
    # All lines' middles lie on one parallel of latitude: the pattern's centre.
    near "$n" "$n0" 8 || fail "$pattern line $((k + 1)): middle $n m north, want $n0"
    [[ $(grep -E '^(surface|ridge|hill)' "$line/truth.txt") == "$terrain" ]] ||
      fail "$pattern line $((k + 1)): another terrain"
    grep -qx 'boresight 0.1 -0.1 0.2  # roll pitch heading, degrees, not corrected by the deck' \
      "$line/truth.txt" && grep -qx 'range_bias 0.03  # metres' "$line/truth.txt" ||
      fail "$pattern line $((k + 1)): not the injected sensor error"
    [[ $(sed -n 11p "$line/deck") == "0 0 0" ]] || fail "$pattern: the deck corrects the boresight"
  done
  [[ $(wc -l <"$dir/control.csv") == 7 && $(head -1 "$dir/control.csv") == latitude,longitude,height ]] ||
    fail "$pattern: control.csv"
  # Level ground at the default height 0, under the first line's swath (within 150 m of its
  # middle: 2 s of flight, a swath of +-116 m).
  tail -n +2 "$dir/control.csv" | while IFS=, read -r lat lon h; do
    [[ $h == 0.0000 ]] || fail "$pattern: control point height $h"
    near "$(LC_ALL=C awk -v a="$lon" -v b="$lat" -v e="$e0" -v n="$n0" 'BEGIN {
      x = (a + 15) * 22265.2 - e; y = (b - 78.5) * 111649.1 - n; print sqrt(x * x + y * y) }')" 0 150 ||
      fail "$pattern: control point $lat,$lon away from the first line"
  done
done <<'END'
parallel|0 180 0 180|350 350 350 350|0 203.1 406.3 609.4
opposite|0 180 0 180|350 350 350 350|0 0 0 0
offset|0 0 0 0|350 350 350 350|0 203.1 406.3 609.4
crossing|0 45 90 135|350 350 350 350|0 0 0 0
heights|0 0 180 180|350 500 350 500|0 0 0 0
END

# Navigation and measurement errors passed on to every line: the lines' seeds from --seed,
# the range noise, the trajectory's rate (20 Hz: 0.05 s apart), the motion apart from it.
"$campaign" 2 "$work/errors" --sim "$sim" --duration 2 --nmeas 20 --seed 2 --traj-rate 20 \
  --motion-rate 100 --traj-noise 0.01,0.001,5 --range-noise 0.005 >/dev/null
for k in 1 2; do
  line=$work/errors/line0$k
  grep -qx "seed 200$k" "$line/truth.txt" || fail "line0$k: not seed 200$k"
  grep -qx 'range_noise 0.005  # metres, standard deviation' "$line/truth.txt" ||
    fail "line0$k: range noise not passed on"
  [[ -s $line/motion.traj ]] || fail "line0$k: no motion.traj"
  LC_ALL=C awk 'NR > 1 { d = ($1 - t) * 3600; if (d < 0.0499 || d > 0.0501) exit 1 } { t = $1 }' \
    "$line/flight.traj" || fail "line0$k: trajectory not at 20 Hz"
done

# Usage errors: exit 2 and nothing written. The last rows are refused by the simulator only,
# after the campaign's folder was made (measurements closer than the timer's step, a motion
# rate no multiple of the trajectory's, a noise without its correlation time).
for args in "--pattern spiral" "--surface ice" "--height x" "--control-points -1" "--boresight" \
  "--boresight 0.1,0.2" "--roll x" "--range-bias 3cm" "--wobble" "--nmeas x" "--nmeas 0" \
  "--terrain-seed x" "--duration 0" "--duration -1" "--pitch 45" "--pitch -30" \
  "--geoid $work/missing.grid" "--seed x" "--seed -1" "--traj-rate x" "--range-noise 1cm" \
  "--nmeas 4095" "--surface terrain --nmeas 4095" "--motion-rate 15" "--traj-noise 0.1"; do
  status=0
  # shellcheck disable=SC2086
  "$campaign" 2 "$work/bad" --sim "$sim" $args >/dev/null 2>&1 || status=$?
  [[ $status == 2 && ! -e $work/bad ]] || fail "$args: exit $status"
done
# A folder that was there stays as it was: only the lines the failed run made are gone.
mkdir -p "$work/kept/line02"
printf 'mine\n' >"$work/kept/line02/notes"
before=$(cd "$work/kept" && find . -exec stat -c '%n %s %Y' {} +)
status=0
"$campaign" 3 "$work/kept" --sim "$sim" --nmeas 4095 >/dev/null 2>&1 || status=$?
[[ $status == 2 && $(cd "$work/kept" && find . -exec stat -c '%n %s %Y' {} +) == "$before" ]] ||
  fail "a failed run into an existing folder: exit $status, left $(ls -A "$work/kept")"

# beamfall-sim: the terrain's origin belongs to the terrain; a usage error is exit 2, nothing
# written.
for args in "--terrain-origin 78.5,-15" "--surface level --terrain-origin 78.5,-15" \
  "--surface ice --terrain-origin 78.5,-15" "--terrain-origin 78.5" "--nmeas x"; do
  status=0
  # shellcheck disable=SC2086
  "$sim" --out "$work/one" --duration 1 --nmeas 10 $args >/dev/null 2>&1 || status=$?
  [[ $status == 2 && ! -e $work/one ]] || fail "beamfall-sim $args: exit $status"
done
echo "sim_campaign_case: passed"
