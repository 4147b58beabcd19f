#!/usr/bin/env bash
# Builds Beamfall twice (optimised, and with address/undefined/float-cast-overflow
# sanitizers), every optional part included, and runs the whole test suite on both,
# failing when a test was skipped; then a short fuzz smoke run when clang is
# available, and the README's two commands on a fresh clone.
# It runs scripts/setup.sh first, which installs what the machine lacks (as root).
#
# usage: scripts/test.sh [--quick]
#   --quick  only the optimised build and one end-to-end test
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

quick=false
case ${1-} in
  "") ;;
  --quick) quick=true ;;
  -h | --help) sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
[ $# -le 1 ] || { echo "usage: scripts/test.sh [--quick]" >&2; exit 2; }

scripts/setup.sh

echo "== optimised build"
scripts/configure.sh build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DBEAMFALL_BENCH=ON -DBEAMFALL_REQUIRE_ALL=ON
cmake --build build -j "$jobs"
if $quick; then
  ctest --test-dir build --no-tests=error --output-on-failure \
    -R '^Cases/EndToEnd\.MatchesExpectedOutput/smoke_text_scanner( |$)'
  exit 0
fi
ctest --test-dir build -j "$jobs" --output-on-failure --output-junit "$PWD/build/junit.xml"
scripts/no_skipped_tests.sh build/junit.xml

echo "== sanitizer build"
scripts/configure.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DBEAMFALL_SANITIZE=ON -DBUILD_TESTING=ON -DBEAMFALL_BENCH=ON -DBEAMFALL_REQUIRE_ALL=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure --output-junit "$PWD/build-asan/junit.xml"
scripts/no_skipped_tests.sh build-asan/junit.xml

if [ -x fuzz/smoke.sh ] && command -v clang++ >/dev/null; then
  echo "== fuzz smoke"
  fuzz/smoke.sh
fi

echo "== the README's commands on a fresh clone"
tests/readme/readme_test.sh .
