#!/usr/bin/env bash
# Builds Beamfall twice (optimised, and with address/undefined/float-cast-overflow
# sanitizers) and runs the whole test suite on both; then a short fuzz smoke run
# when clang is available.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# The tests run once more under a comma-decimal locale; make it exist when we can.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ "$(id -u)" = 0 ] && command -v locale-gen >/dev/null && [ -f /etc/locale.gen ]; then
    sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  else
    echo "note: locale de_DE.UTF-8 is not installed; the comma-locale runs use the C locale" >&2
  fi
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

echo "== optimised build"
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBEAMFALL_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== sanitizer build"
cmake -S . -B build-asan "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DBEAMFALL_SANITIZE=ON \
  -DBEAMFALL_TESTS=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure

if [ -x fuzz/smoke.sh ] && command -v clang++ >/dev/null; then
  echo "== fuzz smoke"
  fuzz/smoke.sh
fi
