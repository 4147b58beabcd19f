#!/usr/bin/env bash
# beamfall-campaign: runs every flight line of a campaign folder through beamfall, on all
# cores with GNU parallel or as one Slurm job array, re-running only what changed, and
# summarises the lines and their overlaps.
#
# A line's task is always the same command, wherever it runs (`_task` below): the engines
# (parallel, sbatch) do the scheduling. Each task writes a small record into its line folder
# only after the line has finished; "up to date" is decided from that record, never from
# the engine's own accounting. Folder names travel as NUL-separated list entries and
# quoted arguments, never through a shell command line.
set -euo pipefail

readonly kRecord=.campaign-record
readonly kRecordTag='beamfall-campaign record 1'
prog=beamfall-campaign

usage() {
  cat <<'EOF'
usage: beamfall-campaign run DIR [--jobs N] [--las] [--date YYYY-MM-DD] [--quicklook]
                         [--force] [--roll0 VALUE]
                         [--slurm [--partition P] [--max-running M]]
       beamfall-campaign summary DIR
       beamfall-campaign --help

A campaign DIR holds one folder per flight line, each with its input `deck` and the input
files the deck names. `run` processes every line that is not up to date, in its own folder:
  beamfall [--las points.las --line-id N --date D] < deck > report.txt
then writes DIR/summary.csv and DIR/summary.html (`summary` does only that).

  --jobs N          lines at once with GNU parallel [number of cores]
  --las             also write points.las; the line number (a number from 1 to 65535 in
                    the folder's name, else the folder's place in name order) is the point
                    source ID
  --date D          flight date of every line without a one-line `date` file
  --quicklook       make each line's quick-look products after its run
  --force           run every line, up to date or not
  --roll0 VALUE     run each line with VALUE as roll0 on parameter line 6, which must be deck
                    line 11, from a copy of its deck (deck.roll0); the user's deck is never
                    changed. VALUE is the summary's campaign roll estimate
  --slurm           Slurm job arrays instead of GNU parallel (several when the lines are more
                    than MaxArraySize - 1); waits for them, printing each line as it finishes
  --partition P     Slurm partition
  --max-running M   at most M array tasks at once

A line is up to date when its record (.campaign-record) says it succeeded with the same
options and the same beamfall binary, its deck and input files are those recorded, and its
outputs are unchanged and not older than any of them.

Environment: BEAMFALL, BEAMFALL_QUICKLOOK, BEAMFALL_CAMPAIGN_SUMMARY name the programs
(default: beside this script, else on PATH). DIR/.campaign holds the run's lock, list of
lines, GNU parallel's job log and Slurm's logs.
Exit status: 0 all lines succeeded, 1 a line failed or an error, 2 usage error.
EOF
}

die() {
  echo "$prog: $*" >&2
  exit 1
}
usage_error() {
  echo "$prog: $*" >&2
  echo "Try '$prog --help' for more information." >&2
  exit 2
}

# A program beside this script (the build directory, or bin/ when installed), else among the
# installed helpers in ../libexec/beamfall, else on PATH; an environment variable overrides all.
locate() {
  local override=$1 name=$2 here
  if [[ -n $override ]]; then
    printf '%s\n' "$override"
    return
  fi
  here=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")
  if [[ -x $here/$name ]]; then
    printf '%s\n' "$here/$name"
  elif [[ -x $here/../libexec/beamfall/$name ]]; then
    readlink -f -- "$here/../libexec/beamfall/$name"
  else
    command -v -- "$name" || printf '%s\n' "$name"
  fi
}

absolute() {
  local p
  p=$(command -v -- "$1" 2>/dev/null) || p=$1
  readlink -f -- "$p" 2>/dev/null || printf '%s\n' "$p"
}

# The line folders of a campaign: sub-folders holding a deck, in byte order of their names.
list_lines() {
  local dir=$1 name
  while IFS= read -r -d '' name; do
    [[ -f $dir/$name/deck ]] && printf '%s\0' "$name"
  done < <(find "$dir" -mindepth 1 -maxdepth 1 -type d ! -name '.*' -printf '%f\0' |
    LC_ALL=C sort -z)
}

# Line numbers: the number in each folder's name when every name has one from 1 to 65535
# (a LAS point source ID; beamfall refuses 0) and they differ, else 1, 2, ... in folder order.
line_ids() {
  local -n names_ref=$1 ids_ref=$2
  local name k
  local -A seen=()
  ids_ref=()
  for name in "${names_ref[@]}"; do
    # At most five digits after leading zeros: more would wrap around in bash's arithmetic.
    if [[ $name =~ ([0-9]+) ]] && [[ ${BASH_REMATCH[1]} =~ ^0*([0-9]{1,5})$ ]] &&
      ((10#${BASH_REMATCH[1]} >= 1 && 10#${BASH_REMATCH[1]} <= 65535)); then
      k=$((10#${BASH_REMATCH[1]}))
      if [[ -z ${seen[$k]:-} ]]; then
        seen[$k]=1
        ids_ref+=("$k")
        continue
      fi
    fi
    ids_ref=()
    for k in "${!names_ref[@]}"; do ids_ref+=($((k + 1))); done
    return
  done
}

# The deck's file names (first 36 characters of name lines 1 to 5, trailing blanks dropped;
# "0" for no file), one a line.
deck_names() {
  local deck=$1 line k
  for ((k = 0; k < 5; ++k)); do
    IFS= read -r line || line=
    line=${line%$'\r'}
    line=${line:0:36}
    line=${line%"${line##*[! ]}"}
    printf '%s\n' "$line"
  done <"$deck"
}

# "size mtime_ns name" of a file, or "missing - name".
identity() {
  local kind=$1 file=$2
  if [[ -e $file ]]; then
    # The C locale: a comma-decimal locale would write the time as 1796908074,147983119.
    printf '%s %s %s\n' "$kind" "$(LC_ALL=C stat -L -c '%s %.9Y' -- "$file")" "$file"
  else
    printf '%s missing - %s\n' "$kind" "$file"
  fi
}

# What the line's run depends on: the binary, the deck and the input files it names.
input_identities() {
  local deck=$1 k=0 name
  identity binary "$BEAMFALL"
  identity input deck
  while IFS= read -r name; do
    k=$((k + 1))
    ((k <= 3)) && [[ $name != 0 && -n $name ]] && identity input "$name"
  done < <(deck_names "$deck")
  [[ -n ${BFC_ROLL0:-} ]] && identity input deck.roll0
  return 0
}

output_names() {
  local k=0 name
  printf '%s\n' report.txt
  while IFS= read -r name; do
    k=$((k + 1))
    ((k >= 4)) && [[ $name != 0 && -n $name ]] && printf '%s\n' "$name"
  done < <(deck_names "$1")
  [[ -f scan.cal ]] && printf '%s\n' scan.cal
  [[ -n ${BFC_LAS:-} ]] && printf '%s\n' points.las
  # The page stands for the quick-look products: removing them makes the line run again.
  [[ -n ${BFC_QUICKLOOK:-} ]] && printf '%s\n' quicklook/index.html
  return 0
}

# The deck's point file name, "0" when it writes none.
deck_point_file() {
  deck_names "$1" | sed -n 4p
}

# The options a line runs with, as one line of the record.
options_line() {
  local id=$1 date=$2
  printf 'options'
  [[ -n ${BFC_LAS:-} ]] && printf ' --las points.las --line-id %s --date %s' "$id" "$date"
  [[ -n ${BFC_ROLL0:-} ]] && printf ' roll0=%s' "$BFC_ROLL0"
  [[ -n ${BFC_QUICKLOOK:-} ]] && printf ' quicklook'
  printf '\n'
}

# Succeeded with these options and inputs, outputs untouched since and not older than any
# input. Runs in the line folder.
line_is_current() {
  local id=$1 date=$2 newest=0 t kind size mtime name
  [[ -f $kRecord ]] || return 1
  local -a rec
  mapfile -t rec <"$kRecord"
  [[ ${rec[0]:-} == "$kRecordTag" && ${rec[1]:-} == 'status 0' ]] || return 1
  [[ ${rec[3]:-} == "$(options_line "$id" "$date")" ]] || return 1
  local deck=deck
  [[ -n ${BFC_ROLL0:-} ]] && deck=deck.roll0
  [[ -f $deck ]] || return 1
  local expected
  expected=$(input_identities "$deck")
  local recorded_inputs recorded_outputs
  recorded_inputs=$(printf '%s\n' "${rec[@]:4}" | grep -E '^(binary|input) ' || true)
  [[ $recorded_inputs == "$expected" ]] || return 1
  recorded_outputs=$(printf '%s\n' "${rec[@]:4}" | grep '^output ' || true)
  [[ -n $recorded_outputs ]] || return 1
  # Times in nanoseconds since 1970 fit bash's 64-bit arithmetic.
  while read -r kind size mtime name; do
    [[ $size != missing ]] || return 1
    t=$((10#${mtime%.*}${mtime#*.}))
    ((t > newest)) && newest=$t
  done <<<"$expected"
  while read -r kind size mtime name; do
    [[ $size != missing && "$(identity output "$name")" == "output $size $mtime $name" ]] ||
      return 1
    t=$((10#${mtime%.*}${mtime#*.}))
    ((t >= newest)) || return 1
  done <<<"$recorded_outputs"
}

# The deck with VALUE as roll0 on parameter line 6 (pitch0 roll0 heading0), which must be
# the deck's eleventh line: parameter lines 1 to 5 (deck lines 6 to 10) each hold all their
# values, since a free-format read that runs on over the next line would move line 6 down.
# The line keeps its other values and what follows them; blanks, tabs and commas separate.
write_roll0_deck() {
  LC_ALL=C awk -v r="$BFC_ROLL0" '
    function values(s, v) { gsub(/^[ \t\r,]+|[ \t\r,]+$/, "", s); return s == "" ? 0 : split(s, v, /[ \t\r,]+/) }
    BEGIN { need[6] = 3; need[7] = 2; need[8] = 4; need[9] = 7; need[10] = 3 }
    NR >= 6 && NR <= 10 && values($0) < need[NR] { bad = 1; exit }
    NR == 11 {
      if (!match($0, /^[ \t\r,]*[^ \t\r,]+[ \t\r,]+[^ \t\r,]+[ \t\r,]+[^ \t\r,]+/) ||
          substr($0, 1, RLENGTH) ~ /,[ \t\r]*,/) { bad = 1; exit }
      values(substr($0, 1, RLENGTH), v)
      $0 = v[1] " " r " " v[3] substr($0, RLENGTH + 1)
    }
    { print }
    END { if (bad || NR < 11) exit 1 }' deck >deck.roll0.tmp || {
    rm -f deck.roll0.tmp
    echo "*** --roll0: deck line 11 must hold parameter line 6 (pitch0 roll0 heading0), with" \
      "parameter lines 1 to 5 each on one line"
    return 1
  }
  # Keep the copy's time when its text is unchanged, so an up-to-date line stays so.
  if cmp -s deck.roll0.tmp deck.roll0 && [[ ! deck -nt deck.roll0 ]]; then
    rm -f deck.roll0.tmp
  else
    mv -f deck.roll0.tmp deck.roll0
  fi
}

# One flight line, in its folder: the whole task, identical under parallel and Slurm.
task() {
  local name=$1 id=$2 date=$3
  cd -- "$CAMPAIGN_DIR/$name" || return 1
  rm -f -- "$kRecord"
  # An interrupted line leaves no record, so the next run takes it up again.
  trap 'exit 130' INT TERM HUP
  local deck=deck status=0 start end
  local -a args=()
  start=$(date +%s.%N)  # not EPOCHREALTIME: it takes the locale's decimal comma
  if [[ -n ${BFC_ROLL0:-} ]]; then
    deck=deck.roll0
    write_roll0_deck >report.txt || status=1
  fi
  if [[ -n ${BFC_LAS:-} ]]; then
    args=(--las points.las --line-id "$id" --date "$date")
    SOURCE_DATE_EPOCH=$(date -u -d "$date" +%s)
    export SOURCE_DATE_EPOCH
  fi
  if ((status == 0)); then
    "$BEAMFALL" "${args[@]}" <"$deck" >report.txt || status=$?
  fi
  if ((status == 0)) && [[ -n ${BFC_QUICKLOOK:-} ]]; then
    local -a ql_args=()
    # A deck that writes its points to the LAS file only: the quick-look reads them there.
    [[ -n ${BFC_LAS:-} && $(deck_point_file "$deck") == 0 ]] && ql_args=(--las points.las)
    "$QUICKLOOK" "$deck" report.txt "${ql_args[@]}" >quicklook.log 2>&1 || status=$?
  fi
  end=$(date +%s.%N)
  {
    printf '%s\nstatus %s\n' "$kRecordTag" "$status"
    LC_ALL=C awk -v a="$start" -v b="$end" 'BEGIN { printf "seconds %.3f\n", b - a }'
    options_line "$id" "$date"
    input_identities "$deck"
    local out
    while IFS= read -r out; do identity output "$out"; done < <(output_names "$deck")
  } >"$kRecord.tmp"
  mv -f -- "$kRecord.tmp" "$kRecord"
  if [[ -z ${BFC_QUIET:-} ]]; then
    if ((status == 0)); then
      printf '%s: done in %s s\n' "$name" "$(sed -n 's/^seconds //p' "$kRecord")"
    else
      printf '%s: FAILED (exit status %s)\n' "$name" "$status"
    fi
  fi
  return "$status"
}

# A Slurm array task: entry FIRST + SLURM_ARRAY_TASK_ID of the NUL-separated list of triples.
array_task() {
  local list=$1 first=$2 k=${SLURM_ARRAY_TASK_ID:?not a Slurm array task}
  local -a items
  mapfile -d '' -t items <"$list"
  k=$((first + k))
  task "${items[3 * k]}" "${items[3 * k + 1]}" "${items[3 * k + 2]}"
}

line_date() {
  local dir=$1 d=
  [[ -f $dir/date ]] && { IFS= read -r d <"$dir/date" || true; }
  d=${d//[[:space:]]/}
  [[ -n $d ]] || d=${campaign_date:-}
  printf '%s\n' "$d"
}

valid_date() {
  [[ $1 =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]] && date -u -d "$1" +%s >/dev/null 2>&1
}

run_parallel() {
  local todo=$1 state=$2
  local -a opts=(--will-cite -q -0 -N3 -a "$todo" --joblog "$state/joblog" --jobs "$jobs")
  if [[ -t 1 ]]; then
    opts+=(--eta --bar)
    export BFC_QUIET=1
  fi
  parallel "${opts[@]}" "$BFC_SELF" _task 9>&- || true
}

# Tasks in one array: Slurm refuses an array index of MaxArraySize or more.
slurm_array_limit() {
  local max
  max=$(scontrol show config 2>/dev/null | sed -n 's/^MaxArraySize *= *\([0-9]*\).*/\1/p')
  [[ $max =~ ^[0-9]+$ ]] || max=1001
  printf '%s\n' "$((max > 2 ? max - 1 : 1))"
}

# One line's result from its record: "NAME: done in S s" or "NAME: FAILED (...)".
line_result() {
  local name=$1 file=$CAMPAIGN_DIR/$1/$kRecord status
  status=$(sed -n '2s/^status //p' "$file" 2>/dev/null || true)
  if [[ $status == 0 ]]; then
    printf '%s: done in %s s' "$name" "$(sed -n 's/^seconds //p' "$file")"
  else
    printf '%s: FAILED (exit status %s)' "$name" "${status:-none, no record}"
  fi
}

# Prints each line of slurm_names that has finished since the last call, with the lines
# done, running (Slurm's count for JOBID) and left; with "final", every line not yet printed.
# On a terminal, a status line that the next call overwrites shows the counts in between.
slurm_progress() {
  local jobid=$1 final=${2:-} k running=0 record
  local -a fresh=()
  for k in "${!slurm_names[@]}"; do
    [[ -z ${reported[k]:-} ]] || continue
    # A line has finished when its record is newer than the first submission (its task
    # removes the old one when it starts and writes the new one at its end). Bash's own file
    # test: no process per line and poll, for a campaign may have thousands of lines.
    record=$CAMPAIGN_DIR/${slurm_names[k]}/$kRecord
    if [[ -n $final || $record -nt $slurm_start ]]; then
      fresh+=("$k")
      reported[k]=1
    fi
  done
  [[ -n $jobid ]] &&
    running=$({ squeue -h -r -j "$jobid" -t RUNNING -o %i 2>/dev/null || true; } | wc -l)
  local counts="[${#reported[@]} done, $running running,"
  counts+=" $((${#slurm_names[@]} - ${#reported[@]} - running)) left]"
  [[ -t 1 ]] && printf '\r\033[K'
  for k in "${fresh[@]}"; do
    printf '%s %s\n' "$(line_result "${slurm_names[k]}")" "$counts"
  done
  [[ -t 1 && -n $jobid ]] && printf 'Slurm job %s: %s' "$jobid" "$counts"
  return 0
}

# One job array of COUNT lines from entry FIRST of the list, waited for while its progress
# is printed every few seconds.
run_slurm_array() {
  local todo=$1 state=$2 first=$3 count=$4 out=/dev/null jobid='' pid
  local array="0-$((count - 1))"
  [[ -n $max_running ]] && array+="%$max_running"
  # Slurm expands % and \ in file names; a campaign path holding them logs nowhere.
  [[ $state == *[%\\]* ]] || out="$state/slurm-%A_%a.out"
  local -a opts=(--parsable --wait --array="$array" --job-name=beamfall-campaign
    --output="$out" --chdir="$CAMPAIGN_DIR" --export=ALL)
  [[ -n $partition ]] && opts+=(--partition="$partition")
  # sbatch --wait leaves the job running when it is interrupted: cancel it, so that no task
  # goes on writing into a line the next run takes up again.
  local idfile=$state/slurm.jobid
  : >"$idfile"
  sbatch "${opts[@]}" "$BFC_SELF" _array "$todo" "$first" >"$idfile" 9>&- &
  pid=$!
  # sbatch itself goes too: it would wait on for a controller that may be gone.
  trap 'jobid=$(<"$idfile"); [[ -n $jobid ]] && scancel "${jobid%%;*}"; kill "$pid" 2>/dev/null
    exit 130' INT TERM HUP
  while kill -0 "$pid" 2>/dev/null; do
    # The sleep in the background, so that an interrupt's trap runs at once; without the lock,
    # so that a run started right after this one ends is not refused.
    sleep "${BFC_POLL_SECONDS:-3}" 9>&- &
    wait "$!" || true
    jobid=$(<"$idfile")
    [[ $jobid =~ ^[0-9]+ ]] && slurm_progress "${BASH_REMATCH[0]}"
  done
  wait "$pid" || true
  trap - INT TERM HUP
  jobid=$(<"$idfile")
  [[ $jobid =~ ^[0-9]+ ]] || die "sbatch did not accept the job array"
  slurm_progress ''
  echo "$prog: Slurm job ${jobid%%;*} finished"
}

# The lines as job arrays of at most Slurm's limit, one after the other (so that
# --max-running holds for the whole campaign), each line's result printed as it finishes.
run_slurm() {
  local todo=$1 state=$2
  local -n slurm_names=$3
  local n=${#slurm_names[@]} limit first slurm_start=$state/slurm.start
  local -a reported=()
  touch -- "$slurm_start"
  limit=$(slurm_array_limit)
  if ((n <= limit)); then
    echo "$prog: submitting $n line(s) as one Slurm job array; waiting for it to finish"
  else
    echo "$prog: submitting $n line(s) as $(((n + limit - 1) / limit)) Slurm job arrays of" \
      "at most $limit, one after the other"
  fi
  for ((first = 0; first < n; first += limit)); do
    run_slurm_array "$todo" "$state" "$first" "$((n - first < limit ? n - first : limit))"
  done
  # A line without a new record (its task never ran, or was killed) is reported too.
  slurm_progress '' final
}

# Lines scheduled but without a successful record, with their report's last line.
report_failures() {
  local -n sched_ref=$1
  local name status last failed=0
  for name in "${sched_ref[@]}"; do
    status=$(sed -n '2s/^status //p' "$CAMPAIGN_DIR/$name/$kRecord" 2>/dev/null || true)
    [[ $status == 0 ]] && continue
    if ((failed == 0)); then
      printf '\nFailed lines:\n%-30s %-8s %s\n' line status 'last report line'
    fi
    failed=$((failed + 1))
    last=$(tail -n 1 -- "$CAMPAIGN_DIR/$name/report.txt" 2>/dev/null || true)
    printf '%-30s %-8s %s\n' "$name" "${status:-none}" "$last"
  done
  return "$((failed > 0))"
}

run_summary() {
  "$SUMMARY" "$CAMPAIGN_DIR"
}

cmd_run() {
  jobs=$(nproc) campaign_date='' max_running='' partition=''
  local force='' slurm=''
  export BFC_LAS='' BFC_ROLL0='' BFC_QUICKLOOK=''
  local dir=''
  while (($#)); do
    case $1 in
      --jobs) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage_error "--jobs needs a positive count"
        jobs=$2; shift ;;
      --las) BFC_LAS=1 ;;
      --date) valid_date "${2:-}" || usage_error "--date needs a date YYYY-MM-DD"
        campaign_date=$2; shift ;;
      --quicklook) BFC_QUICKLOOK=1 ;;
      --force) force=1 ;;
      --roll0) [[ ${2:-} =~ ^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)$ ]] ||
        usage_error "--roll0 needs a number of degrees"
        BFC_ROLL0=$2; shift ;;
      --slurm) slurm=1 ;;
      --partition) [[ -n ${2:-} ]] || usage_error "--partition needs a name"
        partition=$2; shift ;;
      --max-running) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage_error "--max-running needs a count"
        max_running=$2; shift ;;
      -*) usage_error "unknown option '$1'" ;;
      *) [[ -z $dir ]] || usage_error "one campaign folder only ('$dir', '$1')"
        dir=$1 ;;
    esac
    shift
  done
  [[ -n $dir ]] || usage_error "run needs a campaign folder"
  [[ -z $slurm && (-n $partition || -n $max_running) ]] &&
    usage_error "--partition and --max-running go with --slurm"
  [[ -d $dir ]] || die "$dir: no such campaign folder"
  CAMPAIGN_DIR=$(readlink -f -- "$dir")
  export CAMPAIGN_DIR BEAMFALL QUICKLOOK BFC_SELF
  [[ -x $BEAMFALL ]] || die "beamfall not found ($BEAMFALL); set BEAMFALL"
  [[ -z $BFC_QUICKLOOK || -x $QUICKLOOK ]] || die "beamfall-quicklook not found; set BEAMFALL_QUICKLOOK"

  local -a names ids
  mapfile -d '' -t names < <(list_lines "$CAMPAIGN_DIR")
  ((${#names[@]})) || die "$dir: no line folders with a deck"
  line_ids names ids
  local state=$CAMPAIGN_DIR/.campaign
  mkdir -p -- "$state"
  # Two runs on one campaign would run the same lines into the same folders.
  exec 9>"$state/lock"
  flock -n 9 || die "another run is working on $dir"
  local todo=$state/todo.list k date
  local -a scheduled=()
  : >"$todo"
  for k in "${!names[@]}"; do
    date=$(line_date "$CAMPAIGN_DIR/${names[k]}")
    if [[ -n $BFC_LAS ]] && ! valid_date "$date"; then
      die "${names[k]}: no flight date (a one-line date file YYYY-MM-DD, or --date)"
    fi
    if [[ -z $force ]] &&
      (cd -- "$CAMPAIGN_DIR/${names[k]}" && line_is_current "${ids[k]}" "$date"); then
      continue
    fi
    printf '%s\0%s\0%s\0' "${names[k]}" "${ids[k]}" "$date" >>"$todo"
    scheduled+=("${names[k]}")
  done
  local n=${#scheduled[@]} failed=0
  echo "$prog: ${#names[@]} line(s), $((${#names[@]} - n)) up to date, $n to run"
  if ((n > 0)); then
    if [[ -n $slurm ]]; then
      run_slurm "$todo" "$state" scheduled
    else
      run_parallel "$todo" "$state"
    fi
    report_failures scheduled || failed=1
  fi
  run_summary || failed=1
  return "$failed"
}

main() {
  BEAMFALL=$(locate "${BEAMFALL:-}" beamfall)
  QUICKLOOK=$(locate "${BEAMFALL_QUICKLOOK:-}" beamfall-quicklook)
  SUMMARY=$(locate "${BEAMFALL_CAMPAIGN_SUMMARY:-}" beamfall-campaign-summary)
  BFC_SELF=${BFC_SELF:-$(readlink -f -- "${BASH_SOURCE[0]}")}
  # The tasks run inside the line folders: every program by its absolute path.
  BEAMFALL=$(absolute "$BEAMFALL")
  QUICKLOOK=$(absolute "$QUICKLOOK")
  case ${1:-} in
    --help | -h) usage ;;
    run) shift; cmd_run "$@" ;;
    summary) shift
      [[ $# -eq 1 ]] || usage_error "summary needs exactly one campaign folder"
      [[ -d $1 ]] || die "$1: no such campaign folder"
      CAMPAIGN_DIR=$(readlink -f -- "$1")
      run_summary ;;
    _task) shift; task "$@" ;;
    _array) shift; array_task "$@" ;;
    '') usage_error "missing command" ;;
    *) usage_error "unknown command '$1'" ;;
  esac
}

main "$@"
