#!/usr/bin/env bash
# The tools against the runs they wrap, side by side in one run: the quick look of the
# 20.8-million-measurement benchmark flight against the single-thread beamfall run that made
# its points, and a campaign's `run` of 8 lines of 2.5 million measurements against the same
# runs by hand followed by `summary` (the campaign's own cost).
#
#   bench/tools.sh [--rounds N] [--build DIR]
#
# Builds the programs in DIR (default build-bench), simulates the flight of bench/quicklook.sh
# into bench-data/f20m-quicklook and the campaign of bench/campaign.sh into
# bench-data/campaign when they are not there, then runs N rounds (default 3), each of: the
# beamfall run (--threads 1 where beamfall has the option), the quick look at its default
# cell, the campaign's `run --force --jobs 1` whole, and the same lines by hand then the
# summary. Every command is timed with /usr/bin/time after a sync; the best wall time of the
# rounds is the figure, with the CPU time (user + system) of that round beside it. Prints
# the two ratios: the quick look's to the run, the campaign's to the work by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=3 build=build-bench
usage() {
  echo "usage: bench/tools.sh [--rounds N] [--build DIR]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j2 --target beamfall beamfall-sim beamfall-quicklook campaign >/dev/null
bin=$(readlink -f "$build")
flight=$root/bench-data/f20m-quicklook
campaign=$root/bench-data/campaign

if [ ! -f "$flight/flight.2dd" ]; then
  "$bin/beamfall-sim" --out "$flight" --duration 5000 --scan-rate 20 --nmeas 208 \
    --traj-rate 10 --lat 72 --lon -40 --track 0 --turn 0.05,0,1000000 \
    --geoid "$root/examples/egm96-greenland.grid" >/dev/null
fi
if [ ! -f "$campaign/line08/deck" ]; then
  rm -rf "$campaign"
  mkdir -p "$campaign"
  "$bin/beamfall-sim-campaign" 8 "$campaign" --duration 600 --nmeas 208 >/dev/null
fi
# The single-thread run: beamfall without the option has one thread only.
single=()
"$bin/beamfall" --help 2>/dev/null | grep -q -- '--threads' && single=(--threads 1)

# Every line's beamfall run by hand, one after the other, then the summary.
readonly by_hand='for d in "$1"/*/; do [ -f "$d/deck" ] || continue;
  (cd "$d" && "$2" <deck >report.txt) || exit; done; "$3" summary "$1"'

declare -A best cpu
timed() {  # KEY COMMAND...: keeps the best wall time of KEY and that round's CPU time
  local key=$1 w u s
  shift
  sync
  /usr/bin/time -o "$root/bench-data/tools.time" -f '%e %U %S' "$@" >/dev/null 2>&1
  read -r w u s < "$root/bench-data/tools.time"
  if [ -z "${best[$key]:-}" ] || LC_ALL=C awk -v a="$w" -v b="${best[$key]}" 'BEGIN { exit !(a < b) }'; then
    best[$key]=$w
    cpu[$key]=$(LC_ALL=C awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')
  fi
}

echo "== load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((k = 1; k <= rounds; ++k)); do
  timed run bash -c 'cd "$1" && "$2" "${@:3}" --manifest run.json < deck.txt > report.txt' \
    run "$flight" "$bin/beamfall" "${single[@]}"
  timed quicklook "$bin/beamfall-quicklook" "$flight/deck.txt" "$flight/run.json" \
    --out "$flight/quicklook-tools"
  timed campaign "$bin/beamfall-campaign" run "$campaign" --force --jobs 1
  timed by_hand bash -c "$by_hand" by-hand "$campaign" "$bin/beamfall" "$bin/beamfall-campaign"
done
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
row() {  # LABEL KEY REFERENCE-LABEL REFERENCE-KEY
  LC_ALL=C awk -v l="$1" -v w="${best[$2]}" -v c="${cpu[$2]}" -v rl="$3" -v rw="${best[$4]}" \
    -v rc="${cpu[$4]}" 'BEGIN {
    printf "%-30s %6.2f s (CPU %6.2f s)  %-26s %6.2f s (CPU %6.2f s)  %5.3f x (CPU %5.3f x)\n",
           l, w, c, rl, rw, rc, w / rw, c / rc }'
}
echo "best of $rounds rounds:"
row "quick look, default cell" quicklook "beamfall ${single[*]:-(one thread)}" run
row "campaign run --jobs 1 (8 x 2.5 M)" campaign "by hand, then summary" by_hand
