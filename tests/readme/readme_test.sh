#!/usr/bin/env bash
# The README's two commands as a new user meets them, on a fresh clone of the committed
# tree (HEAD of the repository given) in a temporary directory, after checking that they
# are the two commands README's first code block shows:
#   1. a build/ left there by an older scripts/demo.sh, made with CMake's default generator
#      (configured, not built), when make is installed;
#   2. scripts/demo.sh, the first command: it must build in that tree and pass its check;
#   3. scripts/test.sh --quick, the second command's set-up, optimised build and one test,
#      on the same tree;
#   4. scripts/demo.sh again, after the second command: the same demo files, byte for byte.
# The packages the machine already has are reused. Prints each step's last lines.
#
# usage: tests/readme/readme_test.sh REPOSITORY
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: tests/readme/readme_test.sh REPOSITORY" >&2; exit 2; }
src=$(cd "$1" && pwd)
# CI's checkout may belong to another user than the one running the tests.
git=(git -c safe.directory='*')

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

head=$("${git[@]}" -C "$src" rev-parse --verify HEAD) || fail "$src has no commit to clone"
work=$(mktemp -d "${TMPDIR:-/tmp}/beamfall-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
clone=$work/beamfall

step() {  # NAME COMMAND...: runs COMMAND in the clone, shows its last lines
  local name=$1 status=0
  shift
  echo "-- $name"
  (cd "$clone" && "$@") >"$work/log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -40 "$work/log" >&2
    fail "$name: exit status $status"
  fi
  tail -2 "$work/log" | cut -c1-160 | sed 's/^/   /'
}

"${git[@]}" clone -q "$src" "$clone"
"${git[@]}" -C "$clone" checkout -q --detach "$head"

# The commands run here are the two of README's first code block, as it shows them.
commands=$(awk '/^```/ { n++; next } n == 1 && !/^#/ && NF' "$clone/README.md")
[ "$commands" = "$(printf 'scripts/demo.sh\nscripts/test.sh')" ] ||
  fail "README's first code block holds '$commands', not the two commands tested here"

if command -v make >/dev/null; then
  step "an old build/ made with CMake's default generator" \
    cmake -S . -B build -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release
fi
step "scripts/demo.sh" scripts/demo.sh
if [ -f "$clone/build/Makefile" ]; then
  grep -q "^configure: removing the CMake cache of $clone/build" "$work/log" ||
    fail "scripts/demo.sh did not replace the old build tree's cache"
fi
grep -q '^== Check against the simulated truth' "$work/log" || fail "scripts/demo.sh: no check"
mv "$clone/demo" "$work/demo-first"
step "scripts/test.sh --quick" scripts/test.sh --quick
grep -q 'tests passed, 0 tests failed out of 1$' "$work/log" ||
  fail "scripts/test.sh --quick: not exactly one test passed"
step "scripts/demo.sh after scripts/test.sh" scripts/demo.sh
# The run's manifest records how long the run took; every other byte must be the same.
diff -r --exclude=run.json "$work/demo-first" "$clone/demo" >/dev/null ||
  fail "the second demo's files differ from the first's"
without_elapsed() { grep -v '"elapsed_seconds":' "$1"; }
cmp -s <(without_elapsed "$work/demo-first/run.json") <(without_elapsed "$clone/demo/run.json") ||
  fail "the second demo's manifest differs from the first's beyond its elapsed time"
echo "README commands OK"
