#!/bin/sh
# Writes the seed corpora under fuzz/corpus/ from small fixtures: the text
# fixtures of the end-to-end cases and a few .2dd files built with mk2dd.
# Usage: fuzz/make_seeds.sh MK2DD   (the mk2dd program of a build directory)
set -eu
mk2dd=$1
here=$(cd "$(dirname "$0")" && pwd)
cases=$here/../tests/e2e/cases
c=$here/corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A three-measurement-per-scan file of two scans, 60/100/140 gon, timer 0.1 s apart.
cat > "$tmp/two.2dd.txt" <<'D'
header nmeas=3
scan
m 62500 20 3000 10000
m 62500 20 5000 20000
m 62500 20 7000 30000
scan
m 62500 20 3000 40000
m 62500 20 5000 50000
m 62500 20 7000 60000
D
# The same with a wrap, a bad syncseq and a cut last measurement.
cat > "$tmp/odd.2dd.txt" <<'D'
header nmeas=2 angleid=3
scan
m 100 -5 15000 90000
m 200 127 9999 99999
scan 7
m 300 0 0 5
m 400 1 1 6
truncate 60
D
"$mk2dd" "$tmp/two.2dd.txt" "$tmp/two.2dd"
"$mk2dd" "$tmp/odd.2dd.txt" "$tmp/odd.2dd"

smoke=$cases/smoke_text_scanner
# deck: the fixture deck, and the same deck in the binary form.
cp "$smoke/deck" "$c/deck/smoke"
sed 's/^1 1 F F T T T$/2 3 T T F T F/' "$smoke/deck" > "$c/deck/binary"

# freeread: eight operation bytes, then text.
{ printf '\001\002\003\004\005\000\001\002'; cat "$smoke/deck"; } > "$c/freeread/deck"
{ printf '\001\001\001\001\001\001\001\000'; cat "$smoke/traj.txt"; } > "$c/freeread/reals"
{ printf '\002\003\001\000\002\001\003\005'; printf '1,,2 +3 -4 1.5D0 .5 5. 1e3 T .FALSE. x\r\n'; } > "$c/freeread/mixed"

# trajectory: a control byte (layout, window), then the file.
{ printf '\004'; cat "$smoke/traj.txt"; } > "$c/trajectory/attitude_all"
{ printf '\001'; cat "$smoke/traj.txt"; } > "$c/trajectory/position_window"

# geoid: row and column coordinates (doubles 1.5, 2.25), then the file.
grid='55 58 10 12 0.5 0.5
1 2 3 4 5
6 7 8 9 10
11 12 13 14 15
16 17 18 19 20
21 22 23 24 25
26 27 28 29 30
31 32 33 34 9999.5
'
{ printf '\000\000\000\000\000\000\370\077\000\000\000\000\000\000\002\100'; printf '%s' "$grid"; } > "$c/geoid/seven_by_five"
{ printf '\000\000\000\000\000\000\360\077\000\000\000\000\000\000\360\077'; printf '0 1 0 1 1 1\n9999 2\n3 4\n'; } > "$c/geoid/two_by_two"

# scanbin: thinning interval, window choice, then the file.
{ printf '\001\000'; cat "$tmp/two.2dd"; } > "$c/scanbin/two_scans"
{ printf '\002\004'; cat "$tmp/odd.2dd"; } > "$c/scanbin/odd"

# scantext: thinning interval, window choice, then the file.
{ printf '\001\000'; cat "$smoke/scan.txt"; } > "$c/scantext/smoke"
{ printf '\003\001'; cat "$smoke/scan.txt"; } > "$c/scantext/thinned"

# run: deck ==== s ==== t ==== g
deck_text='s
t
0
p
c
10 0 0
10.0 10.1
60 80 -50 -30
1 1 F F T T T
0 0 0
0 0 0
0
1 200
10.0
'
deck_bin=$(printf '%s' "$deck_text" | sed 's/^1 1 F F T T T$/1 1 T F T T T/')
deck_geo=$(printf '%s' "$deck_text" | sed '3s/^0$/g/')
{ printf '%s' "$deck_text"; printf '===='; cat "$smoke/scan.txt"; printf '===='; cat "$smoke/traj.txt"; } > "$c/run/text"
{ printf '%s\n' "$deck_bin"; printf '===='; cat "$tmp/two.2dd"; printf '===='; cat "$smoke/traj.txt"; } > "$c/run/binary"
{ printf '%s\n' "$deck_geo"; printf '===='; cat "$smoke/scan.txt"; printf '===='; cat "$smoke/traj.txt"; printf '====68 72 -42 -38 1 1\n'; for r in 1 2 3 4 5; do echo '40 41 42 43 44'; done; } > "$c/run/geoid"
