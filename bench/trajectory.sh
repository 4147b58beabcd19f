#!/usr/bin/env bash
# beamfall-trajectory on an hour of SBET at 200 Hz (720,000 records, 98 MB) and its smrmsg
# at 1 Hz: elapsed time and peak memory of the conversion, the median of N runs.
#
#   bench/trajectory.sh [--runs N]     (default 5)
#
# The SBET is written once into bench-data/sbet (git-ignored) by a few lines of Python; each
# run converts it with --leap-seconds 18 and --accuracy, after a sync.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=5
[ "${1-}" = --runs ] && runs=$2
data=$root/bench-data/sbet
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target beamfall-trajectory >/dev/null
mkdir -p "$data"
cd "$data"
if [ ! -f hour.out ]; then
  python3 - <<'PY'
import struct
sbet = struct.Struct("<17d")
with open("hour.out", "wb") as f:
    for k in range(720000):
        f.write(sbet.pack(400000 + k * 0.005, 0.659 + k * 1e-9, -2.077, 6991.6, 0, 0, 0,
                          0.001, 0.05, 2.88, 0.0178, 0, 0, 0, 0, 0, 0))
with open("hour.acc", "wb") as f:
    for k in range(3600):
        f.write(struct.pack("<10d", 400000 + k, 0.02, 0.02, 0.05, 0, 0, 0, 0.5, 0.5, 1.2))
PY
fi
echo "== load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for _ in $(seq "$runs"); do
  sync
  /usr/bin/time -f "%e %M" -a -o times.out "$root/$build/beamfall-trajectory" hour.out \
    --out hour.traj --leap-seconds 18 --accuracy hour.acc --sigma-out hour.sigma >/dev/null
done
sort -n times.out | awk -v n="$runs" '{ s[NR] = $1; m = $2 > m ? $2 : m }
  END { printf "median %.2f s for 720000 records (%.0f records/s), peak RSS %d KB\n",
        s[int((n + 1) / 2)], 720000 / s[int((n + 1) / 2)], m }'
rm times.out
