#!/usr/bin/env bash
# Soak run (not part of CI): Beamfall on a binary scanner file beyond 4 GiB.
# Checks that the whole file is read (every scan counted, every measurement
# formatted as a text point line, written to /dev/null, one centre point per
# scan) and that the peak memory of the big run
# is that of a small run of the same kind: nothing grows with the file.
#
# Usage: scripts/soak.sh [BUILD_DIR] [SCANS]
#   BUILD_DIR  a build with beamfall and mk2dd (default build)
#   SCANS      scans in the big file (default 140000: 4.48 GB, 560 million
#              measurements); the file is made by repeating one scan.
# Needs about SCANS * 32 kB of free disk under TMPDIR (or /tmp) for a while.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
scans=${2:-140000}
beamfall=$build/beamfall
mk2dd=$build/tests/mk2dd
[ -x "$beamfall" ] && [ -x "$mk2dd" ] || { echo "build beamfall and mk2dd in $build first" >&2; exit 2; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-soak.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# One scan of 4000 measurements (the most whose syncseq 8 * nmeas fits 16
# bits is 4095): a sweep from 60 to 139.98 gon, range 400 m, timer 0.001 to
# 0.96076 s, so that each new scan is one proper timer wrap (one second) later.
nmeas=4000
{
  echo "header nmeas=$nmeas"
  echo "scan"
  awk -v n=$nmeas 'BEGIN { for (k = 0; k < n; k++) printf "m 50000 20 %d %d\n", 3000 + 2 * k, 100 + 24 * k }'
} > one.2dd.txt
"$mk2dd" one.2dd.txt one.2dd
scan_bytes=$((2 + 8 * nmeas))
[ "$(stat -c %s one.2dd)" -eq $((47 + scan_bytes)) ]
tail -c "$scan_bytes" one.2dd > scan.bin
head -c 47 one.2dd > header.bin

# Files of N scans: the header, then blocks of 1000 scans, then the rest.
make_file() {  # NAME SCANS
  local name=$1 n=$2 k
  : > block.bin
  for ((k = 0; k < 1000 && k < n; k++)); do cat scan.bin >> block.bin; done
  cp header.bin "$name"
  for ((k = 0; k + 1000 <= n; k += 1000)); do cat block.bin >> "$name"; done
  for ((; k < n; k++)); do cat scan.bin >> "$name"; done
  rm -f block.bin
}

# Trajectory: a straight line over 1000 hours, position only.
printf '0 10.0 20.0 1000.0\n1000 10.1 20.0 1000.0\n' > traj.txt

run() {  # SCANFILE -> stdout in NAME.out, peak memory in NAME.rss (kB)
  local name=$1
  printf '%s\ntraj.txt\n0\n/dev/null\ncen.txt\n0 0 0\n0 1000\n-90 90 -180 180\n1 1 T F F F T\n0 0 0\n0 0 0\n-128\n1 %d\n0\n' \
    "$name" "$nmeas" > "$name.deck"
  /usr/bin/time -f '%M %e' -o "$name.time" "$beamfall" < "$name.deck" > "$name.out"
  read -r rss secs < "$name.time"
  echo "$rss" > "$name.rss"
  echo "$secs" > "$name.secs"
}

check() {  # NAME SCANS
  local name=$1 n=$2
  grep -qx " Total number of scans read:  $n " "$name.out" ||
    { echo "FAIL: $name: not all $n scans were read" >&2; tail -20 "$name.out" >&2; exit 1; }
  grep -qx " Total number of points output:  $((n * nmeas)) " "$name.out" ||
    { echo "FAIL: $name: not all measurements were output" >&2; exit 1; }
  [ "$(wc -l < cen.txt)" -eq "$n" ] || { echo "FAIL: $name: centre points missing" >&2; exit 1; }
}

make_file small.2dd 1000
run small.2dd
check small.2dd 1000

make_file big.2dd "$scans"
size=$(stat -c %s big.2dd)
run big.2dd
check big.2dd "$scans"
rm -f big.2dd

small_rss=$(cat small.2dd.rss)
big_rss=$(cat big.2dd.rss)
echo "big file: $size bytes ($scans scans, $((scans * nmeas)) measurements) in $(cat big.2dd.secs) s," \
  "peak memory $big_rss kB; small file (1000 scans): peak memory $small_rss kB"
[ "$size" -gt 4294967296 ] || { echo "FAIL: the file is not beyond 4 GiB" >&2; exit 1; }
if [ "$big_rss" -gt $((small_rss + 4096)) ]; then
  echo "FAIL: peak memory grew with the file ($small_rss kB -> $big_rss kB)" >&2
  exit 1
fi
echo "soak OK"
