# shellcheck shell=bash
# Sourced by the test scripts: `require COMMAND PACKAGE` skips the test (CTest's skip
# code 77, with the reason on its own line) when a program it runs is not installed.
# scripts/setup.sh installs all of them, and scripts/test.sh fails on any skipped test.
require() {  # COMMAND DEBIAN_PACKAGE
  command -v "$1" >/dev/null 2>&1 && return 0
  echo "SKIP: $1 is not installed (Debian package $2)"
  exit 77
}
