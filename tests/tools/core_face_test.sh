#!/usr/bin/env bash
# The tools see the core through its face: every core header a tool includes is one that
# src/run/session.hpp lists for tools (at most six), and the simulator and checker include
# none, so that they stay independent of the code they test.
#
# usage: core_face_test.sh SOURCE_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: core_face_test.sh SOURCE_DIR" >&2; exit 2; }
root=$(cd "$1" && pwd)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

layers='textio|input|georef|output|pipeline|run'
# The list: the comment lines "//   layer/name.hpp   what it is" after "A tool includes".
allowed=$(sed -n '/A tool includes from the core only/,/and nothing else/p' \
  "$root/src/run/session.hpp" | grep -oE "^//   ($layers)/[a-z0-9_]+\.hpp" | sed 's|^//   ||' | sort -u)
count=$(printf '%s\n' "$allowed" | grep -c . || true)
[ "$count" -ge 1 ] || fail "src/run/session.hpp lists no header for tools"
[ "$count" -le 6 ] || fail "src/run/session.hpp lists $count headers for tools, at most 6: $allowed"
for header in $allowed; do
  [ -f "$root/src/$header" ] || fail "src/run/session.hpp lists $header, which is not in src/"
done

includes() {  # FOLDER...: "file:header" for every core header included there
  grep -rnoE "#include \"($layers)/[^\"]+\"" "$@" --include='*.cpp' --include='*.hpp' |
    sed -E 's|^([^:]+):[0-9]+:#include "(.*)"$|\1:\2|' || true
}

bad=$(includes "$root/tools/sim")
[ -z "$bad" ] || fail "the simulator and checker include the core: $bad"

used=$(includes "$root/tools" | grep -v "^$root/tools/sim/" || true)
while IFS=: read -r file header; do
  [ -n "$file" ] || continue
  printf '%s\n' "$allowed" | grep -qxF "$header" ||
    fail "${file#"$root"/} includes $header, which src/run/session.hpp does not list for tools"
done <<< "$used"
distinct=$(printf '%s\n' "$used" | cut -d: -f2 | grep . | sort -u | tr '\n' ' ')
echo "tools include $(printf '%s\n' "$used" | grep -c . || true) times these core headers: $distinct"
