#!/usr/bin/env bash
# The campaign's summary.html and calibration.html in a real browser (headless Chromium):
# no console error, no request beyond the page, every figure drawn.
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

"$build/beamfall-sim-campaign" 2 "$work/c" --pattern opposite --surface terrain \
  --boresight 0.1,-0.1,0.2 >/dev/null
"$build/beamfall-campaign" run "$work/c" >/dev/null || fail "campaign run"
"$build/beamfall-campaign" calibrate "$work/c" --no-progress >/dev/null || fail "calibrate"
for page in summary.html calibration.html; do
  echo "$page:"
  node "$here/../quicklook/render_page.mjs" "$work/c/$page" || fail "$page in the browser"
done
