#!/usr/bin/env bash
# The one runner of golden cases. A case is a program NAME.kep with a
# NAME.out beside it; the files beside it say how it runs and what it must
# give:
#   NAME.out     expected standard output (required)
#   NAME.err     expected standard error (default: empty)
#   NAME.status  expected exit status (default: the directory's, else 0)
#   NAME.args    arguments, one per line (optional)
#   NAME.in      standard input (optional; default: empty)
#
# A directory's cases.conf, when there is one, says how its cases run, one
# KEY=VALUE a line (blank lines and lines starting with "#" skipped):
#   executors=E...  every case runs under each of these, in this order
#                   (default: kep0):
#                     kep0      the bootstrap interpreter;
#                     compiled  the case's image (tests/compiled_run.sh);
#                     raw       the image under the raw value convention;
#                     driver    the compiler's sources run by kep0 on the
#                               case: their report and status are the
#                               results, and OUTPUT is written exactly when
#                               the status is 0.
#                   E:refusals runs under E only the cases whose expected
#                   status is not 0.
#   directory=DIR   the working directory of the runs, from the repository
#                   root; a case is named to its executor relative to it
#                   (default: the root).
#   status=N        the expected status of a case without NAME.status.
#   timeout=S       a run that takes longer than S seconds is stopped.
#   jobs=N          cases run N at a time ("all": one per processor).
#   raw_skip=FILE   the cases FILE names (first word of a line) do not run
#                   under raw: their results depend on the value convention.
#
# Usage: run_cases.sh PATH...: every case of each directory PATH, or the one
# case PATH (a NAME.kep). KEP_RUN, when set, is the one executor instead of
# the configured ones: a command that runs a program as kep0 does. A case may write scratch files below
# $KEP_CASE_TMP, a fresh directory per run. Ends with "N passed, N failed";
# exits 1 on any failure; VERBOSE=1 shows the differences.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. tests/case_check.sh
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
export KEP_CASE_TMP="$tmp/scratch" KEP_IMAGE_CACHE=${KEP_IMAGE_CACHE:-$tmp/images}
mkdir -p "$KEP_CASE_TMP" "$KEP_IMAGE_CACHE" "$tmp/results"

# configure DIR: the settings of DIR's cases.conf, defaults elsewhere.
configure() {
  executors=kep0; directory=.; status=0; timeout=""; jobs=1; raw_skip=/dev/null
  [ -f "$1/cases.conf" ] || return 0
  local key value
  while IFS='=' read -r key value; do
    case $key in
      executors|directory|status|timeout|jobs|raw_skip) printf -v "$key" '%s' "$value" ;;
      ''|'#'*) ;;
      *) echo "FAIL $1/cases.conf: unknown setting $key"; exit 1 ;;
    esac
  done < "$1/cases.conf"
  [ "$jobs" = all ] && jobs=$(nproc)
  return 0
}

# run_case SOURCE EXECUTOR RESULT: runs one case under one executor and
# writes its FAIL line, if any, to RESULT.
run_case() {
  local src=$1 executor=$2 result=$3 base=${1%.kep} name work args=() input=/dev/null command problems
  name=${src#"$directory"/}
  work=$(mktemp -d "$tmp/case.XXXXXX")
  [ -f "$base.args" ] && mapfile -t args < "$base.args"
  [ -f "$base.in" ] && input="$root/$base.in"
  case $executor in
    kep0) command=("$root/bootstrap/kep0" "$name") ;;
    compiled) command=("$root/tests/compiled_run.sh" "$name") ;;
    raw) command=("$root/tests/compiled_run.sh" --raw "$name") ;;
    driver) command=("$root/bootstrap/kep0" "$root/compiler/pure/kepc_direct.kep" "$name" "$work/image") ;;
    KEP_RUN) read -r -a command <<< "$KEP_RUN"; command+=("$name") ;;
  esac
  [ -n "$timeout" ] && command=(timeout "$timeout" "${command[@]}")
  (cd "$directory" && "${command[@]}" "${args[@]}") < "$input" > "$work/out" 2> "$work/err"
  problems=$(case_problems "$base" "$work/out" "$work/err" $? "$status")
  if [ "$executor" = driver ]; then
    if [ "$(cat "$base.status" 2>/dev/null || echo "$status")" = 0 ]; then
      [ -e "$work/image" ] || problems="$problems OUTPUT-missing"
    else
      [ -e "$work/image" ] && problems="$problems OUTPUT-written"
    fi
  fi
  if [ -n "$problems" ]; then
    echo "FAIL $src ($executor):$problems"
    if [ -n "${VERBOSE:-}" ]; then
      diff "$base.out" "$work/out" | head -20
      [ -f "$base.err" ] && diff "$base.err" "$work/err" | head -20
    fi
  fi > "$result"
  rm -rf "$work"
}

# run_cases EXECUTOR SOURCE...: the cases under one executor, jobs at a time.
run_cases() {
  local executor=$1 only=all src i=0 result
  shift
  case $executor in *:refusals) only=refusals; executor=${executor%:refusals} ;; esac
  for src in "$@"; do
    if [ "$only" = refusals ] && [ "$(cat "${src%.kep}.status" 2>/dev/null || echo "$status")" = 0 ]; then
      continue
    fi
    if [ "$executor" = raw ] && grep -q "^$(basename "$src" .kep)\( \|$\)" "$raw_skip"; then
      continue
    fi
    i=$((i + 1)); count=$((count + 1))
    printf -v result '%s/results/%06d' "$tmp" "$count"
    run_case "$src" "$executor" "$result" &
    [ $((i % jobs)) -eq 0 ] && wait
  done
  wait
}

count=0
for path in "$@"; do
  if [ -d "$path" ]; then
    dir=${path%/}
    sources=()
    for src in "$dir"/*.kep; do
      [ -f "${src%.kep}.out" ] && sources+=("$src")
    done
  else
    dir=$(dirname "$path"); sources=("$path")
  fi
  configure "$dir"
  [ "$directory" = . ] || [ -d "$directory" ] || { echo "FAIL $dir/cases.conf: no directory $directory"; exit 1; }
  # Sources are named from the root; the runs see them from the directory.
  [ "$directory" = . ] || directory=${directory%/}
  [ ${#sources[@]} -gt 0 ] || continue
  [ -n "${KEP_RUN:-}" ] && executors=KEP_RUN
  for executor in $executors; do
    run_cases "$executor" "${sources[@]}"
  done
done
pass=0; fail=0
for result in "$tmp"/results/*; do
  [ -e "$result" ] || continue
  if [ -s "$result" ]; then
    cat "$result"; fail=$((fail + 1))
  else
    pass=$((pass + 1))
  fi
done
echo "$pass passed, $fail failed"
[ "$fail" = 0 ]
