#!/usr/bin/env bash
# The set-up that scripts/demo.sh, scripts/test.sh and CI run first. It makes sure this
# machine has what building and testing Beamfall needs, and does nothing (quietly) when
# it has it all:
#   - the Debian packages listed in scripts/packages.txt: installed when run as root;
#     otherwise the exact apt-get line that installs them is printed and set-up fails;
#   - the locale de_DE.UTF-8, under which the tests run once more (generated as root);
#   - the npm packages of tests/js: `npm ci` when node_modules doesn't match the lock
#     file (a stamp in node_modules records what it was installed from).
#
# usage: scripts/setup.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
npm_dirs=(tests/js)

case ${1-} in
  "") ;;
  -h | --help) sed -n '2,11s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) echo "usage: scripts/setup.sh" >&2; exit 2 ;;
esac

fail() {
  echo "setup: $*" >&2
  exit 1
}

# The package names of scripts/packages.txt, one a line.
wanted_packages() {
  sed 's/#.*//' "$root/scripts/packages.txt" | tr -s '[:space:]' '\n' | sed '/^$/d'
}

# Every installed package, and every package name an installed one provides.
present_packages() {
  dpkg-query -W -f='${db:Status-Status} ${Package}, ${Provides}\n' 2>/dev/null |
    awk '$1 == "installed" {
      sub(/^installed /, "")
      n = split($0, names, ",")
      for (i = 1; i <= n; i++) {
        name = names[i]
        sub(/^ +/, "", name)
        sub(/[ :(].*/, "", name)
        if (name != "") print name
      }
    }'
}

missing_packages() {
  local -A present=()
  local name
  while read -r name; do present[$name]=1; done < <(present_packages)
  while read -r name; do
    [ -n "${present[$name]-}" ] || echo "$name"
  done < <(wanted_packages)
}

install_packages() {
  command -v dpkg-query >/dev/null || {
    echo "setup: not a Debian system; make sure these are installed:" \
      "$(wanted_packages | tr '\n' ' ')" >&2
    return 0
  }
  local missing
  mapfile -t missing < <(missing_packages)
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ]; then
    echo "setup: these Debian packages are missing: ${missing[*]}" >&2
    echo "setup: install them as root with:" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "== setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
  mapfile -t missing < <(missing_packages)
  [ ${#missing[@]} -eq 0 ] || fail "still missing after apt-get install: ${missing[*]}"
}

has_comma_locale() { locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; }

make_comma_locale() {
  has_comma_locale && return 0
  if [ "$(id -u)" = 0 ] && command -v locale-gen >/dev/null && [ -f /etc/locale.gen ]; then
    echo "== setup: generating the locale de_DE.UTF-8"
    sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
    has_comma_locale || fail "locale-gen did not make de_DE.UTF-8"
  else
    echo "setup: note: locale de_DE.UTF-8 is not installed (as root: enable it in" \
      "/etc/locale.gen and run locale-gen); the comma-locale test runs use the C locale" >&2
  fi
}

# What node_modules is installed from: both package files and the node version.
npm_fingerprint() {
  { cat package.json package-lock.json 2>/dev/null; node --version; } | sha256sum | cut -d' ' -f1
}

install_npm_packages() {
  local dir=$1 want log
  cd "$root/$dir"
  want=$(npm_fingerprint)
  [ "$(cat node_modules/.setup-stamp 2>/dev/null)" != "$want" ] || return 0
  echo "== setup: npm ci in $dir"
  log=$(mktemp)
  # npm ci empties node_modules first, so an interrupted install leaves no stamp.
  if ! npm ci --no-audit --no-fund --prefer-offline >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    fail "npm ci in $dir failed"
  fi
  rm -f "$log"
  mkdir -p node_modules
  echo "$want" >node_modules/.setup-stamp
}

install_packages
make_comma_locale
for dir in "${npm_dirs[@]}"; do
  if [ -f "$root/$dir/package.json" ]; then (install_npm_packages "$dir"); fi
done
