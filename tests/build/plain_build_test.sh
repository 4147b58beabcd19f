#!/usr/bin/env bash
# The plain build a new user starts with, `cmake -S . -B build && cmake --build build`, on a
# machine with only a C++20 compiler and CMake: every optional dependency is hidden
# (CMAKE_DISABLE_FIND_PACKAGE_<Name>), the configuration must succeed and its summary list
# each optional part as not built with the package that adds it, and the build must give a
# beamfall that runs the smoke case byte for byte. The same tree with BEAMFALL_REQUIRE_ALL
# must refuse to configure. Then a machine with Ceres but without GDAL and PROJ (hidden, PROJ's
# pkg-config lookup too): the calibration needs neither, so its door `beamfall-campaign
# calibrate` and its alias beamfall-calibrate must be built there while the quick look and
# the campaign's run and summary are not (and say so when called).
#
# usage: plain_build_test.sh SOURCE_DIR GENERATOR
set -euo pipefail
src=$(cd "$1" && pwd) generator=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-plain-build.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

hidden=(GTest GDAL PROJ PkgConfig Ceres nlohmann_json benchmark GeographicLib help2man dpkg)
hide=()
for name in "${hidden[@]}"; do hide+=("-DCMAKE_DISABLE_FIND_PACKAGE_$name=ON"); done

cmake -S "$src" -B "$work/build" -G "$generator" --no-warn-unused-cli "${hide[@]}" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "the plain configuration failed"; }
# The summary: each part, on the line after "not built:", with its Debian package.
summary=$(sed -n '/^   not built:$/,/^$/p' "$work/configure.log")
cat "$work/configure.log"
while IFS='|' read -r part package; do
  grep -Eq "^     $part .*apt-get install .*\\b$package\\b" <<<"$summary" ||
    fail "the summary does not list '$part' as not built with '$package'"
done <<'END'
beamfall-quicklook|libgdal-dev
beamfall-campaign run/summary|libproj-dev
beamfall-campaign calibrate|libceres-dev
tests|libgtest-dev
benchmarks|libbenchmark-dev
man pages|help2man
Debian package|dpkg-dev
END
sed -n '/^   built:$/,/^   not built:$/p' "$work/configure.log" | grep -q '^     beamfall  ' ||
  fail "the summary does not list beamfall as built"
grep -q 'CMake Warning' "$work/configure.log" && fail "the plain configuration warns"

cmake --build "$work/build" >"$work/build.log" 2>&1 || { tail -40 "$work/build.log"; fail "the plain build failed"; }
grep -q 'warning:' "$work/build.log" && { grep -A3 'warning:' "$work/build.log"; fail "warnings"; }

# The smoke case, byte for byte against its expected files.
case_dir=$src/tests/e2e/cases/smoke_text_scanner
cp "$case_dir"/deck "$case_dir"/*.txt "$work/"
(cd "$work" && "$work/build/beamfall" <deck >stdout) || fail "beamfall failed on the smoke case"
cmp "$work/stdout" "$case_dir/expected/stdout" || fail "the report differs"
for f in "$case_dir"/expected/files/*; do
  cmp "$work/$(basename "$f")" "$f" || fail "$(basename "$f") differs"
done

# Asked for every part, the same machine must say no.
if cmake -S "$src" -B "$work/strict" -G "$generator" "${hide[@]}" -DBEAMFALL_REQUIRE_ALL=ON \
     >"$work/strict.log" 2>&1; then
  fail "BEAMFALL_REQUIRE_ALL configured without the optional parts"
fi
grep -q 'BEAMFALL_REQUIRE_ALL' "$work/strict.log" || { cat "$work/strict.log"; fail "no reason given"; }
# GDAL and PROJ hidden, Ceres and nlohmann-json as this machine has them.
no_geo=(-DCMAKE_DISABLE_FIND_PACKAGE_GDAL=ON -DCMAKE_DISABLE_FIND_PACKAGE_PROJ=ON
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DBEAMFALL_BENCH=OFF)
cmake -S "$src" -B "$work/no-geo" -G "$generator" "${no_geo[@]}" >"$work/no-geo.log" 2>&1 ||
  { cat "$work/no-geo.log"; fail "the configuration without GDAL and PROJ failed"; }
for part in beamfall-quicklook "beamfall-campaign run/summary"; do
  sed -n '/^   not built:$/,/^$/p' "$work/no-geo.log" | grep -q "^     $part .*libgdal-dev" ||
    fail "without GDAL and PROJ, $part is not listed as not built"
done
if sed -n '/^   not built:$/,/^$/p' "$work/no-geo.log" |
     grep -Eq '^     beamfall-campaign calibrate .*apt-get install (libceres-dev|nlohmann-json3-dev)$'; then
  echo "the calibration is not built here, and the summary says why: the build without GDAL and PROJ is not tried"
else
  sed -n '/^   built:$/,/^   not built:$/p' "$work/no-geo.log" | grep -q '^     beamfall-campaign calibrate ' ||
    { cat "$work/no-geo.log"; fail "without GDAL and PROJ, the calibration is neither built nor explained"; }
  cmake --build "$work/no-geo" --target beamfall-calibrate >"$work/no-geo-build.log" 2>&1 ||
    { tail -40 "$work/no-geo-build.log"; fail "the calibration did not build without GDAL and PROJ"; }
  grep -q 'warning:' "$work/no-geo-build.log" && { grep -A3 'warning:' "$work/no-geo-build.log"; fail "warnings"; }
  "$work/no-geo/beamfall-calibrate" --version | grep -q '^beamfall-calibrate ' ||
    fail "beamfall-calibrate built without GDAL and PROJ does not run"
  status=0
  "$work/no-geo/beamfall-campaign" calibrate "$work/none" 2>"$work/err" || status=$?
  [ "$status" = 1 ] && grep -q "^beamfall-campaign calibrate: no campaign folder" "$work/err" ||
    fail "beamfall-campaign calibrate built without GDAL and PROJ: exit status $status, $(cat "$work/err")"
  status=0
  "$work/no-geo/beamfall-campaign" run "$work/none" 2>"$work/err" || status=$?
  [ "$status" = 1 ] && grep -q "run and summary are not built here: they need GDAL and PROJ" "$work/err" ||
    fail "beamfall-campaign run built without GDAL and PROJ: exit status $status, $(cat "$work/err")"
  echo "beamfall-campaign calibrate and beamfall-calibrate built without GDAL and PROJ"
fi
echo "plain build OK"
