#!/usr/bin/env bash
# beamfall-sim's trajectory options, read back from its files: --motion-rate writes the true
# motion to motion.traj and every (motion-rate / traj-rate)-th sample of it, unchanged, to the
# trajectory file; --traj-noise adds errors whose standard deviations and correlation from
# sample to sample are those of the first-order Gauss-Markov processes asked for; the checker
# holds the points of such a run against the motion and states them from the file beamfall
# read; without the options no motion file is written and truth.txt names none.
#
# usage: sim_trajectory_case.sh BEAMFALL SIM CHECK
set -euo pipefail
beamfall=$(readlink -f "$1") sim=$2 check=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-sim-trajectory.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
near() { LC_ALL=C awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { exit !(a - b <= t && b - a <= t) }'; }

# Without the options: the trajectory file is the motion.
"$sim" --out "$work/plain" --duration 4 --nmeas 20 >/dev/null
[[ ! -e $work/plain/motion.traj ]] || fail "motion.traj written without --motion-rate"
! grep -q '^motion ' "$work/plain/truth.txt" || fail "truth.txt names a motion file"

# --motion-rate: the file holds every 5th sample of the motion, as written there.
"$sim" --out "$work/fine" --duration 4 --nmeas 20 --traj-rate 10 --motion-rate 50 >/dev/null
grep -qx 'motion motion.traj  # the true motion; the trajectory file misses it' \
  "$work/fine/truth.txt" || fail "truth.txt does not name motion.traj"
cmp -s <(awk 'NR % 5 == 1' "$work/fine/motion.traj") "$work/fine/flight.traj" ||
  fail "flight.traj is not every 5th sample of motion.traj"
(($(wc -l <"$work/fine/flight.traj") > 40)) || fail "flight.traj too short"

# --traj-noise: 1200 s at 10 Hz, errors of 0.05 m and 0.01 degrees over 2 s. The differences
# from the motion, in metres north, east, up and degrees: each standard deviation within 10 %
# (some 300 independent stretches), each lag-one correlation exp(-0.1 / 2) = 0.951 within 0.02.
"$sim" --out "$work/noisy" --duration 1200 --nmeas 2 --scan-rate 1 --traj-rate 10 \
  --traj-noise 0.05,0.01,2 --seed 5 >/dev/null
stats=$(paste -d' ' "$work/noisy/flight.traj" "$work/noisy/motion.traj" | LC_ALL=C awk '
  function wrap(d) { while (d > 180) d -= 360; while (d < -180) d += 360; return d }
  { r = 6378137 / sqrt(1 - 0.00669438 * sin($2 * 0.0174533) ^ 2)
    x[1] = ($2 - $9) * 0.0174533 * r * (1 - 0.00669438) / (1 - 0.00669438 * sin($2 * 0.0174533) ^ 2)
    x[2] = ($3 - $10) * 0.0174533 * r * cos($2 * 0.0174533)
    x[3] = $4 - $11; x[4] = $5 - $12; x[5] = $6 - $13; x[6] = wrap($7 - $14)
    for (c = 1; c <= 6; ++c) { s[c] += x[c] * x[c]; if (NR > 1) l[c] += x[c] * p[c]; p[c] = x[c] } }
  END { for (c = 1; c <= 6; ++c) printf "%.6g %.4f ", sqrt(s[c] / NR), l[c] / s[c]; print "" }')
read -r -a v <<<"$stats"
for c in 0 1 2 3 4 5; do
  want=$( ((c < 3)) && echo 0.05 || echo 0.01)
  near "${v[2 * c]}" "$want" "$(LC_ALL=C awk -v w="$want" 'BEGIN { print 0.1 * w }')" ||
    fail "noise component $((c + 1)): standard deviation ${v[2 * c]}, want $want"
  near "${v[2 * c + 1]}" 0.951 0.02 || fail "noise component $((c + 1)): lag correlation ${v[2 * c + 1]}"
done

# The checker on a run over such a trajectory: the points miss the surface by the navigation
# errors (centimetres), but the checker's own statement of each point, from the file beamfall
# read, explains them to a millimetre.
"$sim" --out "$work/run" --duration 10 --nmeas 60 --traj-rate 10 --motion-rate 100 \
  --traj-noise 0.02,0.002,5 >/dev/null
(cd "$work/run" && "$beamfall" --rigorous <deck.txt >report.txt) || fail "beamfall"
"$check" --rigorous "$work/run" --require='unexplained_rms<=0.001' --require='all_rms>=0.005' \
  >"$work/check.txt" || { cat "$work/check.txt"; fail "the checker on a noisy trajectory"; }

# Usage errors: exit 2, nothing written.
for args in "--motion-rate 15" "--motion-rate 5" "--motion-rate 2000" "--traj-noise 0.1,0.1" \
  "--traj-noise -1,0,1" "--traj-noise 0.1,0.1,0" "--traj-noise 0.1,x,1"; do
  status=0
  # shellcheck disable=SC2086
  "$sim" --out "$work/bad" --duration 1 --nmeas 10 $args >/dev/null 2>&1 || status=$?
  [[ $status == 2 && ! -e $work/bad ]] || fail "beamfall-sim $args: exit $status"
done
echo "sim_trajectory_case: passed"
