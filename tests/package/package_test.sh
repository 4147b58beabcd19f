#!/usr/bin/env bash
# The Debian package as a user gets it: `cpack -G DEB` from the build tree writes
# beamfall_VERSION_ARCH.deb; its Depends name the shared libraries the programs link and
# the programs they start; unpacked (dpkg-deb -x) into a scratch root, the installed
# programs alone fly the demo flight (simulator, beamfall, checker, quick look) and a
# two-line campaign, finding each other and the example geoid grid from where they are;
# `apt-get install --simulate` resolves the package's dependencies; `cmake --install` to
# another prefix installs the same files, which work there too.
#
# usage: package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd) version=$2
# shellcheck source=tests/require.sh
. "$(dirname -- "$0")/../require.sh"
require dpkg-shlibdeps dpkg-dev
require apt-get apt
require parallel parallel
require gnuplot gnuplot-nox
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$work/out/beamfall_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$work/out"; fail "no $(basename "$deb")"; }

dpkg-deb -I "$deb" | tee "$work/info"
field() { sed -n "s/^ $1: //p" "$work/info"; }
# The libraries each program links, as dpkg-shlibdeps finds them, and the programs started.
for want in 'libc6 ' 'libstdc\+\+6 ' 'libgdal[0-9]+ ' 'libproj[0-9]+ ' 'gnuplot-nox \| gnuplot' \
            'parallel'; do
  grep -Eq "(^|, )$want" <<<"$(field Depends)" || fail "Depends lacks $want"
done
[ "$(field Suggests)" = slurm-wlm ] || fail "Suggests: '$(field Suggests)', not slurm-wlm"
[ "$(field Version)" = "$version" ] || fail "Version: '$(field Version)'"

dpkg-deb -x "$deb" "$work/root"
usr=$work/root/usr
for f in bin/beamfall bin/beamfall-sim bin/beamfall-check bin/beamfall-quicklook \
         bin/beamfall-campaign bin/beamfall-sim-campaign bin/beamfall-trajectory \
         share/beamfall/egm96-greenland.grid \
         share/doc/beamfall/README.md share/doc/beamfall/docs/deck.md \
         share/man/man1/beamfall.1 share/man/man1/beamfall-campaign.1 \
         share/man/man1/beamfall-trajectory.1; do
  [ -e "$usr/$f" ] || fail "the package has no /usr/$f"
done
if [ -x "$build/beamfall-calibrate" ]; then  # built when Ceres Solver is there
  for f in bin/beamfall-calibrate share/man/man1/beamfall-calibrate.1; do
    [ -e "$usr/$f" ] || fail "the package has no /usr/$f"
  done
  # The calibration's alias: a link to beamfall-campaign beside it, not a program of its own.
  [ "$(readlink "$usr/bin/beamfall-calibrate")" = beamfall-campaign ] ||
    fail "/usr/bin/beamfall-calibrate is not a link to beamfall-campaign"
fi
for program in "$usr"/bin/*; do
  [ -x "$program" ] || fail "$program is not executable"
done

# Only the installed programs: the build tree is neither on PATH nor beside them.
export PATH=$usr/bin:/usr/bin:/bin
for program in "$usr"/bin/*; do
  name=$(basename "$program")
  [ "$("$name" --version)" = "$name $version" ] || fail "$name --version: $("$name" --version)"
done
demo=$work/demo
beamfall-sim --out "$demo" --duration 20 --nmeas 208 --scan-rate 20 --lat 78.5 --lon -15 \
  --track 30 --height 350 --surface ice --on-geoid --surface-height 0.35 \
  --geoid "$usr/share/beamfall/egm96-greenland.grid" --text-points >/dev/null
(cd "$demo" && beamfall --las points.las --date 2026-04-12 --manifest run.json <deck.txt >report.txt) ||
  fail "beamfall failed on the demo flight"
beamfall-check "$demo" >"$work/check.log" || { cat "$work/check.log"; fail "beamfall-check"; }
beamfall-quicklook "$demo/deck.txt" "$demo/run.json" >"$work/quicklook.log" 2>&1 ||
  { cat "$work/quicklook.log"; fail "beamfall-quicklook"; }
for f in dem.tif hillshade.png track.gpkg index.html; do
  [ -s "$demo/quicklook/$f" ] || fail "the quick look wrote no $f"
done

beamfall-sim-campaign 2 "$work/campaign" >/dev/null || fail "beamfall-sim-campaign"
beamfall-campaign run "$work/campaign" --jobs 2 >"$work/campaign.log" 2>&1 ||
  { cat "$work/campaign.log"; fail "beamfall-campaign run"; }
[ "$(grep -c ',ok,' "$work/campaign/summary.csv")" = 2 ] || fail "summary.csv: not 2 lines ok"
[ -s "$work/campaign/summary.html" ] || fail "no summary.html"

# `cmake --install` to another prefix: the same layout, and the campaign there makes its
# summary.
cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install failed"
(cd "$work/root/usr" && find . ! -type d | sort) >"$work/deb.files"
(cd "$work/prefix" && find . ! -type d | sort) >"$work/prefix.files"
diff "$work/deb.files" "$work/prefix.files" || fail "cmake --install and the package differ"
rm "$work/campaign/summary.csv"
"$work/prefix/bin/beamfall-campaign" summary "$work/campaign" >/dev/null ||
  fail "beamfall-campaign summary from the installed prefix"
[ "$(grep -c ',ok,' "$work/campaign/summary.csv")" = 2 ] || fail "summary.csv again: not 2 lines ok"

apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install --simulate does not resolve the dependencies"; }
grep -q '^Inst beamfall ' "$work/apt.log" || { cat "$work/apt.log"; fail "apt-get would not install it"; }
echo "package OK: $(basename "$deb")"
