#!/usr/bin/env bash
# Runs a test under a locale, or skips it (77) when the locale is not installed: without
# it the C library falls back to the C locale and the test would pass without testing.
#
# usage: in_locale.sh LOCALE COMMAND [ARGS...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: in_locale.sh LOCALE COMMAND [ARGS...]" >&2; exit 2; }
want=$1
shift
# locale -a spells de_DE.UTF-8 as de_DE.utf8.
normal() { tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/'; }
if ! locale -a 2>/dev/null | normal | grep -Fxq "$(normal <<<"$want")"; then
  echo "SKIP: the locale $want is not installed (scripts/setup.sh makes it)"
  exit 77
fi
LC_ALL=$want exec "$@"
