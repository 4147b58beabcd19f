#!/usr/bin/env bash
# Whole-run benchmark of beamfall on a simulated 20-million-measurement flight.
#
#   bench/run.sh [--runs N] [--scaling] [--only REGEX | --las-only | --rigorous]
#   bench/run.sh [--runs N] --threads-only
#   bench/run.sh --callgrind [--only REGEX]
#
# Builds an optimised tree in build-bench/, simulates 100,000 scans of 208
# measurements (trajectory at 10 Hz with attitude, the EGM96 grid) into
# bench-data/, then times whole runs of beamfall in several modes: the median
# of N runs (default 5) after one warm-up run. Prints measurements per second,
# MB/s of scanner input, the ratio to the arithmetic floor and peak resident
# memory. --scaling adds 2, 20 and 200 million measurement runs (the last
# once; it needs about 6 GB of disk). --only times just the modes whose label
# matches the extended regular expression. --callgrind instead counts the
# instructions per measurement of every mode under valgrind's callgrind on the
# same flight one tenth as long (2.08 million measurements, all of them also in
# the text form): figures that do not change with the load of the machine.
# --las-only and --rigorous are --only with the binary point file and the LAS
# or the --rigorous modes. The table ends with the ratios of the LAS-only and
# the --rigorous runs to the binary point file's, and of the LAS run with the
# noise model to the one without. Every mode runs with
# --threads 1; a second table then times the binary point file and the text
# point file with cross profiles with --threads 1 and --threads 2 side by side
# (their runs alternate, so a busy machine slows both alike) and gives the
# speed-up; --threads-only prints that table alone.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
scaling=0
only=
callgrind=0
threads_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --scaling) scaling=1; shift ;;
    --only) only=$2; shift 2 ;;
    --callgrind) callgrind=1; shift ;;
    --threads-only) threads_only=1; shift ;;
    --las-only) only='^binary point file$|LAS'; shift ;;
    --rigorous) only='^binary point file|rigorous'; shift ;;
    *) echo "usage: bench/run.sh [--runs N] [--scaling] [--only REGEX | --threads-only] | --callgrind [--only REGEX]" >&2; exit 2 ;;
  esac
done

root=$PWD
build="build-bench"
data=$root/bench-data
scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBEAMFALL_BENCH=ON
cmake --build "$build" -j "$(nproc)" >/dev/null
bin=$root/$build

simulate() {  # dir duration_seconds [trajectory_rate]
  if [ ! -f "$1/flight.2dd" ]; then
    # A gentle endless turn keeps even the longest flight inside the geoid grid.
    "$bin/beamfall-sim" --out "$1" --duration "$2" --scan-rate 20 --nmeas 208 --traj-rate "${3:-10}" \
      --lat 72 --lon -40 --track 0 --turn 0.05,0,1000000 \
      --geoid "$root/examples/egm96-greenland.grid" >/dev/null
  fi
}

# deck_with SOURCE NAME POINTFILE NAVER BINOUT CALIB [SCANFILE BIN2DD]: a copy of the
# simulated deck with the point file and line 4 changed.
deck_with() {
  local src=$1 out=$2 pts=$3 naver=$4 binout=$5 calib=$6 scan=${7:-} bin2dd=${8:-T}
  awk -v pts="$pts" -v naver="$naver" -v binout="$binout" -v calib="$calib" \
      -v scan="$scan" -v bin2dd="$bin2dd" '
    NR == 1 && scan != "" { print scan; next }
    NR == 4 { print pts; next }
    NR == 9 { print naver, $2, bin2dd, binout, $5, calib, $7; next }
    { print }' "$src" > "$out"
}

# time_run DIR DECK [BEAMFALL_ARGS...]: median elapsed seconds and the largest
# peak RSS (KB).
time_run() {
  local dir=$1 deck=$2 times=() rss=0
  shift 2
  (cd "$dir" && "$bin/beamfall" "$@" < "$deck" > /dev/null)  # warm-up
  for _ in $(seq "$runs"); do
    local line
    sync  # the last run's output is on disk: no run pays for another's writeback
    line=$(cd "$dir" && { /usr/bin/time -f "%e %M" "$bin/beamfall" "$@" < "$deck" > /dev/null; } 2>&1 | tail -1)
    times+=("${line% *}")
    [ "${line#* }" -gt "$rss" ] && rss=${line#* }
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  echo "$median $rss"
}

# time_pair DIR DECK: the median elapsed seconds of --threads 1 and of
# --threads 2, their runs alternating, and the larger peak RSS (KB) of each.
time_pair() {
  local dir=$1 deck=$2 t1=() t2=() rss1=0 rss2=0
  (cd "$dir" && "$bin/beamfall" --threads 2 < "$deck" > /dev/null)  # warm-up
  for _ in $(seq "$runs"); do
    local line
    for threads in 1 2; do
      sync
      line=$(cd "$dir" && { /usr/bin/time -f "%e %M" "$bin/beamfall" --threads "$threads" < "$deck" > /dev/null; } 2>&1 | tail -1)
      if [ "$threads" = 1 ]; then
        t1+=("${line% *}"); [ "${line#* }" -gt "$rss1" ] && rss1=${line#* }
      else
        t2+=("${line% *}"); [ "${line#* }" -gt "$rss2" ] && rss2=${line#* }
      fi
    done
  done
  local m1 m2
  m1=$(printf '%s\n' "${t1[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  m2=$(printf '%s\n' "${t2[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  echo "$m1 $m2 $rss1 $rss2"
}

# threads_table: --threads 1 against --threads 2 on the 20.8 M flight.
threads_table() {
  echo "| mode (20.8 M measurements)                   | 1 thread s | 2 threads s | speed-up | RSS MB 1 / 2 | target |"
  echo "|----------------------------------------------|------------|-------------|----------|--------------|--------|"
  for pair in "binary point file|d_bin" "text point file, cross profiles|d_txt_cal"; do
    IFS='|' read -r label deck <<< "$pair"
    read -r a b r1 r2 < <(time_pair "$data/f20m" "$deck")
    awk -v l="$label" -v a="$a" -v b="$b" -v r1="$r1" -v r2="$r2" 'BEGIN {
      printf "| %-44s | %10.3f | %11.3f | %8.2f | %5.1f / %4.1f | >= 1.7  |\n", l, a, b, a / b, r1 / 1024, r2 / 1024 }'
  done
  echo
  echo "cores this process may use: $(nproc); load average before: $load_before"
}

report() {  # label measurements scanner_bytes seconds rss target
  awk -v l="$1" -v n="$2" -v b="$3" -v t="$4" -v r="$5" -v target="$6" -v f="$floor" -v g="$floor_geoid" 'BEGIN {
    rate = n / t
    printf "| %-44s | %7.2f | %7.1f | %5.2f | %11.2f | %7.1f | %-6s |\n", l, rate / 1e6, b / t / 1e6, rate / f, rate / g, r / 1024, target }'
}

floor_rates() {  # dir deck [--rigorous] -> "plain with_geoid" in measurements per second
  (cd "$1" && "$bin/beamfall_floor" ${3:-} < "$2" 2>/dev/null) |
    awk '{ gsub(";", ""); print $4 * 1e6, $10 * 1e6 }'
}

# make_decks: the decks of every mode in the current directory, and the text
# form of its first $text_count measurements.
make_decks() {
  deck_with deck.txt d_bin points.bin 1 T F
  deck_with deck.txt d_bin_cal points.bin 1 T T
  deck_with deck.txt d_txt points.txt 1 F F
  deck_with deck.txt d_txt_cal points.txt 1 F T
  deck_with deck.txt d_txt_avg points.txt 3 F F
  deck_with deck.txt d_centre 0 1 T F
  "$bin/beamfall_to_text" flight.2dd "$text_count" > flight_2m.txt
  deck_with deck.txt d_scantxt points.bin 1 T F flight_2m.txt F
  deck_with deck.txt d_scantxt_cal points.bin 1 T T flight_2m.txt F
}

# The modes, one a line: label|deck|target|scanner file|extra beamfall arguments.
# A new mode is a deck made above and a line here.
modes=(
  "binary point file|d_bin|>= 18|flight.2dd|"
  "binary point file, cross profiles|d_bin_cal|>= 15|flight.2dd|"
  "text point file|d_txt|>= 11|flight.2dd|"
  "text point file, cross profiles|d_txt_cal|>= 9|flight.2dd|"
  "text point file, naver 3|d_txt_avg||flight.2dd|"
  "point file 0 (centre track only)|d_centre||flight.2dd|"
  "text scanner form (2 M), binary pts|d_scantxt|>= 8|flight_2m.txt|"
  "text scanner form (2 M), cross profiles|d_scantxt_cal||flight_2m.txt|"
  "LAS file only (point file 0, --las)|d_centre|<= 1.15 x binary|flight.2dd|--las points.las --date 2026-04-12"
  "binary point file and LAS file|d_bin||flight.2dd|--las points.las --date 2026-04-12"
  "LAS file only, noise model|d_centre|<= 1.5 x LAS|flight.2dd|--las points.las --date 2026-04-12 --sigma-position 0.03,0.05 --sigma-attitude 0.005,0.005,0.008 --sigma-range 0.02 --sigma-angle 0.001 --sigma-lever 0.01 --beam-divergence 0.5"
  "binary point file, --rigorous|d_bin|>= 0.9 x binary|flight.2dd|--rigorous"
  "binary point file, cross profiles, --rigorous|d_bin_cal||flight.2dd|--rigorous"
  "binary point file, --boresight, --range-offset|d_bin||flight.2dd|--boresight 0.1,-0.1,0.2 --range-offset -0.03"
  "binary point file, --rigorous --boresight|d_bin||flight.2dd|--rigorous --boresight 0.1,-0.1,0.2 --range-offset -0.03"
  "text scanner form (2 M), --boresight|d_scantxt||flight_2m.txt|--boresight 0.1,-0.1,0.2 --range-offset -0.03"
)

mkdir -p "$data"
if [ "$callgrind" = 1 ]; then
  simulate "$data/f2m" 500
  cd "$data/f2m"
  text_count=2080000
  make_decks
  echo "| mode                                         | instructions per measurement |"
  echo "|----------------------------------------------|------------------------------|"
  for mode in "${modes[@]}"; do
    IFS='|' read -r label deck target scan extra <<< "$mode"
    if [ -n "$only" ] && ! grep -Eq -- "$only" <<< "$label"; then continue; fi
    read -r -a args <<< "$extra"
    count=$(if [ "$scan" = flight.2dd ]; then echo 2080000; else wc -l < "$scan"; fi)
    total=$(valgrind --tool=callgrind --callgrind-out-file="callgrind.$deck" "$bin/beamfall" --threads 1 "${args[@]}" \
      < "$deck" 2>&1 >/dev/null | awk '/Collected :/ { print $NF }')
    awk -v l="$label" -v t="$total" -v n="$count" 'BEGIN { printf "| %-44s | %28.0f |\n", l, t / n }'
  done
  exit 0
fi
simulate "$data/f20m" 5000
cd "$data/f20m"
n=$((100000 * 208))
text_count=2000000
make_decks

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
if [ "$threads_only" = 1 ]; then
  threads_table
  exit 0
fi

floor=0 floor_geoid=0 floor_rigorous=0
for _ in 1 2 3 4; do
  read -r f g < <(floor_rates "$data/f20m" d_bin)
  floor=$(awk -v a="$floor" -v b="$f" 'BEGIN { print (b > a ? b : a) }')
  floor_geoid=$(awk -v a="$floor_geoid" -v b="$g" 'BEGIN { print (b > a ? b : a) }')
  read -r f _ < <(floor_rates "$data/f20m" d_bin --rigorous)
  floor_rigorous=$(awk -v a="$floor_rigorous" -v b="$f" 'BEGIN { print (b > a ? b : a) }')
done

awk -v f="$floor" -v g="$floor_geoid" -v r="$floor_rigorous" 'BEGIN {
  printf "floor (decode, interpolation, trigonometry, rotation; best of 4): %.2f million measurements/s\n", f / 1e6
  printf "floor with the geoid lookup the deck asks for: %.2f million measurements/s\n", g / 1e6
  printf "floor with the rigorous geometry (--rigorous): %.2f million measurements/s\n", r / 1e6 }'
echo
echo "| mode                                         | Mmeas/s |    MB/s | floor | floor+geoid |  RSS MB | target |"
echo "|----------------------------------------------|---------|---------|-------|-------------|---------|--------|"
for mode in "${modes[@]}"; do
  IFS='|' read -r label deck target scan extra <<< "$mode"
  if [ -n "$only" ] && ! grep -Eq -- "$only" <<< "$label"; then continue; fi
  # The text form holds one measurement a line; the binary one n of them.
  if [ "$scan" = flight.2dd ]; then count=$n; else count=$(wc -l < "$scan"); fi
  read -r -a args <<< "--threads 1 $extra"
  read -r t r < <(time_run "$data/f20m" "$deck" "${args[@]}")
  report "$label" "$count" "$(stat -c %s "$scan")" "$t" "$r" "$target"
  case $label in
    "binary point file") t_binary=$t ;;
    "LAS file only (point file 0, --las)") t_las=$t ;;
    "LAS file only, noise model") t_noise=$t ;;
    "binary point file, --rigorous") t_rigorous=$t ;;
  esac
done
ratio() {  # label seconds: the mode's time against the binary point file's
  [ -n "${2:-}" ] && [ -n "${t_binary:-}" ] && awk -v l="$1" -v a="$2" -v b="$t_binary" 'BEGIN {
    printf "%s / binary point file, elapsed: %.3f s / %.3f s = %.3f\n", l, a, b, a / b }'
  return 0
}
echo
ratio "LAS file only" "${t_las:-}"
ratio "--rigorous" "${t_rigorous:-}"
if [ -n "${t_noise:-}" ] && [ -n "${t_las:-}" ]; then
  awk -v a="$t_noise" -v b="$t_las" 'BEGIN {
    printf "LAS file only, noise model / LAS file only, elapsed: %.3f s / %.3f s = %.3f\n", a, b, a / b }'
fi
if [ -z "$only" ]; then
  echo
  threads_table
fi

if [ "$scaling" = 1 ]; then
  echo
  echo "| measurements | seconds | Mmeas/s | RSS MB |"
  echo "|--------------|---------|---------|--------|"
  # The longest flight's trajectory at 5 Hz: 10 Hz would exceed the table.
  for flight in "f2m:500:2080000:10" "f20m:5000:20800000:10" "f200m:50000:208000000:5"; do
    IFS=: read -r name dur count rate <<< "$flight"
    simulate "$data/$name" "$dur" "$rate"
    (cd "$data/$name" && deck_with deck.txt d_bin points.bin 1 T F)
    if [ "$name" = f200m ]; then runs_saved=$runs; runs=1; fi
    read -r t r < <(time_run "$data/$name" d_bin --threads 1)
    [ "$name" = f200m ] && runs=$runs_saved
    awk -v n="$count" -v t="$t" -v r="$r" 'BEGIN { printf "| %12d | %7.2f | %7.2f | %6.1f |\n", n, t, n / t / 1e6, r / 1024 }'
  done
fi
