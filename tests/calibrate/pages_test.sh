#!/usr/bin/env bash
# The campaign's summary.html and calibration.html in a real browser (headless Chromium), on a
# desktop screen and a phone's: no console error, no request beyond the page, every figure
# drawn, the page laid out for the phone's width (it was shrunk from 980 px), no figure text
# cut off or over another, no axis repeating a tick label. Then what the figures must show:
# the calibration's maps with axes and a colour bar each, "after" on its own scale (on the
# scale of "before" it was all one dark colour), its histograms with axis labels; and the
# summary's per-line plots of lines whose values are all alike (gnuplot's own ticks read
# 0.00100, 0.00100, 0.00101 there).
# usage: pages_test.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../require.sh
source "$here/../require.sh"
require node nodejs
require "${CHROMIUM:-chromium}" chromium
require parallel parallel

work=$(mktemp -d /tmp/beamfall-pages-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
in_browser() {  # PAGE
  for width in 1400 390; do
    echo "$1 at $width px:"
    node "$here/../quicklook/render_page.mjs" --width "$width" "$1" || fail "$1 at $width px"
  done
}

"$build/beamfall-sim-campaign" 2 "$work/c" --pattern opposite --surface terrain \
  --boresight 0.1,-0.1,0.2 >/dev/null
"$build/beamfall-campaign" run "$work/c" >/dev/null || fail "campaign run"
"$build/beamfall-campaign" calibrate "$work/c" --no-progress >/dev/null || fail "calibrate"
in_browser "$work/c/summary.html"
in_browser "$work/c/calibration.html"

page=$work/c/calibration.html
for label in "east (m)" "north (m)" "misfit RMS (m)" "distance to the other line&#39;s plane (m)" \
  "distances"; do
  [ "$(grep -o ">$label</text>" "$page" | wc -l)" = 2 ] || fail "calibration.html: not two '$label'"
done
[ "$(grep -o "<linearGradient id='ramp-" "$page" | wc -l)" = 2 ] || fail "not a colour bar on each map"
scale() { sed -n "s/.*<figcaption>$1: 0 to \([0-9.]*\) m, yellow beyond<.*/\1/p" "$page"; }
before=$(scale before) after=$(scale after)
[ -n "$before" ] && [ -n "$after" ] || fail "the maps do not give their colour scales"
LC_ALL=C awk -v b="$before" -v a="$after" 'BEGIN { exit !(a < b / 10) }' ||
  fail "the after map's scale ($after m) is not its own (before: $before m)"

# Three parallel lines over level ground, run with the campaign's roll estimate as roll0:
# every line's residual roll (and bias) is the same to the figures' three decimals.
"$build/beamfall-sim-campaign" 3 "$work/alike" >/dev/null
"$build/beamfall-campaign" run "$work/alike" --roll0 0.149 >/dev/null || fail "campaign run"
rolls=$(for line in "$work"/alike/line0*; do  # each line's record holds its run's manifest
  node -e 'const r = JSON.parse(require("fs").readFileSync(process.argv[1]));
           console.log(r.manifest.regression.roll.toFixed(3))' "$line/.campaign-record"
done | sort -u)
[ "$(wc -l <<<"$rolls")" = 1 ] || fail "the lines' rolls are not alike: $rolls"
in_browser "$work/alike/summary.html"
