#!/usr/bin/env bash
# The front end's tests, run from the repository root under kep0:
#   1. the KEP test programs of this directory (golden cases);
#   2. the driver on every root/cases/NAME.kep that has a NAME.out, run with
#      root/ as the current directory (its compiler/pure/dynamic_stdlib.kep
#      links to the real library, and its stdlib/ holds the test modules);
#      stdout must equal NAME.out, the status NAME.status (default
#      1), stderr NAME.err (default empty), and OUTPUT is written exactly
#      when the status is 0;
#   3. the driver's command line and file errors;
#   4. the nesting limit, in kep0 and the driver alike;
#   5. the front end over the compiler's and the library's own sources.
# Exits 1 when anything fails.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
kep0="$root/bootstrap/kep0"
driver="$root/compiler/pure/kepc_direct.kep"
here=tests/frontend
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
failed=0

fail() {
  echo "FAIL $*"
  failed=1
}

# 1. test programs
bash tests/run_cases.sh "$here" || failed=1

# Runs CHECK on every FILE side by side, as many at once as there are
# processors; CHECK prints its FAIL lines. Sets passed to the number of
# files without any.
side_by_side() {  # CHECK FILE...
  local check=$1 jobs i=0 result
  shift
  jobs=$(nproc)
  mkdir "$tmp/results"
  for file in "$@"; do
    i=$((i + 1))
    "$check" "$file" > "$tmp/results/$i" &
    [ $((i % jobs)) -eq 0 ] && wait
  done
  wait
  passed=0
  for result in "$tmp"/results/*; do
    if [ -s "$result" ]; then
      cat "$result"
      failed=1
    else
      passed=$((passed + 1))
    fi
  done
  rm -rf "$tmp/results"
}

# 2. diagnostics and linking through the driver
driver_case() {  # SOURCE
  local src=$1 base=${1%.kep} work problems
  work=$(mktemp -d "$tmp/case.XXXXXX")
  (cd "$here/root" && "$kep0" "$driver" "cases/$(basename "$src")" "$work/image") > "$work/out" 2> "$work/err"
  problems=$(case_problems "$base" "$work/out" "$work/err" $? 1)
  # A program that compiles is written to OUTPUT, any other leaves none.
  if [ "$(cat "$base.status" 2>/dev/null || echo 1)" = 0 ]; then
    [ -e "$work/image" ] || problems="$problems OUTPUT-missing"
  else
    [ -e "$work/image" ] && problems="$problems OUTPUT-written"
  fi
  if [ -n "$problems" ]; then
    fail "$src:$problems"
    [ -n "${VERBOSE:-}" ] && diff "$base.out" "$work/out" | head -20
  fi
}
cases=()
for src in "$here"/root/cases/*.kep; do
  [ -f "${src%.kep}.out" ] && cases+=("$src")
done
side_by_side driver_case "${cases[@]}"
echo "driver diagnostics: $passed passed"

# 3. the command line and file errors; each run gives stdout, stderr, status
run_driver() {  # DIRECTORY ARG...
  runs_in "$1" "$kep0" "$driver" "${@:2}"
}
expect_run() {  # LABEL STDOUT STDERR STATUS
  [ "$(cat "$tmp/out")" = "$2" ] || fail "$1: stdout '$(cat "$tmp/out")'"
  [ "$(cat "$tmp/err")" = "$3" ] || fail "$1: stderr '$(cat "$tmp/err")'"
  [ "$(cat "$tmp/status")" = "$4" ] || fail "$1: status $(cat "$tmp/status")"
}
usage="usage: kepc SOURCE OUTPUT"
cannot_open="KEP runtime error: FileError: cannot open file"

run_driver "$here/root"
expect_run "no arguments" "$usage" "" 2
run_driver "$here/root" cases/valid_program.kep
expect_run "one argument" "$usage" "" 2
run_driver "$here/root" cases/valid_program.kep "$tmp/image" extra arguments
expect_run "arguments after OUTPUT are ignored" "" "" 0
run_driver "$here/root" "" "$tmp/image"
expect_run "an empty SOURCE is a path" "" "$cannot_open" 1
rm -f "$tmp/image"
run_driver "$here/root" cases/no_such_file.kep "$tmp/image"
expect_run "missing SOURCE" "" "$cannot_open" 1
[ -e "$tmp/image" ] && fail "missing SOURCE: OUTPUT was created"
# An OUTPUT whose program is still running is replaced by the new image.
cp /bin/sleep "$tmp/busy"
"$tmp/busy" 30 & busy=$!
run_driver "$here/root" cases/valid_program.kep "$tmp/busy"
expect_run "an OUTPUT that is running" "" "" 0
kill "$busy"
"$tmp/busy" > "$tmp/out" 2>&1 || fail "an OUTPUT that is running: the new image does not run"
# Without a library in the current directory (nor next to kep0) the
# installed candidate is read and fails.
mkdir "$tmp/empty"
run_driver "$tmp/empty" "$root/$here/root/cases/valid_program.kep" "$tmp/image"
expect_run "no library" "" "$cannot_open" 1

# 4. nesting: kep0 and the driver refuse the same programs with the same
#    report, and accept the same ones (long flat operator chains included),
#    whose images print what kep0 prints.
nesting_case() {  # SOURCE
  local src=$1 name driver_status kep0_status
  name=$(basename "$src" .kep)
  "$kep0" "$driver" "$src" "$src.image" > "$src.driver" 2>&1
  driver_status=$?
  "$kep0" "$src" > "$src.kep0" 2>&1
  kep0_status=$?
  case $name in
    ok_*)
      [ $driver_status -eq 0 ] && [ ! -s "$src.driver" ] || fail "nesting $name: driver status $driver_status: $(head -c 200 "$src.driver")"
      [ $kep0_status -eq 0 ] || fail "nesting $name: kep0 status $kep0_status: $(head -c 200 "$src.kep0")"
      "$src.image" > "$src.run" 2>&1
      cmp -s "$src.run" "$src.kep0" || fail "nesting $name: the image prints $(head -c 200 "$src.run")" ;;
    *)
      [ $driver_status -eq 1 ] && head -1 "$src.driver" | grep -qx 'error\[E1100\]: expression nested too deeply' ||
        fail "nesting $name: driver status $driver_status: $(head -c 200 "$src.driver")"
      [ -e "$src.image" ] && fail "nesting $name: OUTPUT was written"
      cmp -s "$src.driver" "$src.kep0" && [ $kep0_status -eq 1 ] || fail "nesting $name: kep0 reports otherwise: $(head -c 200 "$src.kep0")" ;;
  esac
}
mkdir "$tmp/deep"
python3 "$here/deep_programs.py" "$tmp/deep"
side_by_side nesting_case "$tmp"/deep/*.kep
echo "nesting: $passed programs passed"

# 4b. long and malformed input: kep0, the driver under kep0 and the native
#     compiler agree on every report (code and position), each within a
#     bounded time and address space; the programs that compile print what
#     kep0 prints.
native=compiler/pure/kepc-direct
bounded() {  # OUTPUT COMMAND...: at most 60 s and 2 GB
  local out=$1
  shift
  (ulimit -v 2000000; timeout 60 "$@") > "$out" 2>&1
}
long_case() {  # SOURCE
  local src=$1 name want
  name=$(basename "$src" .kep)
  bounded "$src.kep0" "$kep0" "$src"
  bounded "$src.driver" "$kep0" "$driver" "$src" "$src.driver-image"
  bounded "$src.native" "$native" "$src" "$src.native-image"
  case $name in
    ok_*)
      for image in driver-image native-image; do
        bounded "$src.run" "$src.$image" || fail "long input $name: the $image fails: $(head -c 200 "$src.run")"
        cmp -s "$src.run" "$src.kep0" || fail "long input $name: the $image prints $(head -c 200 "$src.run")"
      done ;;
    *)
      head -1 "$src.kep0" | grep -q '^error\[E' || fail "long input $name: kep0 reports $(head -c 200 "$src.kep0")"
      for front in driver native; do
        cmp -s "$src.$front" "$src.kep0" || fail "long input $name: the $front reports $(head -c 300 "$src.$front")"
        [ -e "$src.$front-image" ] && fail "long input $name: the $front wrote OUTPUT"
      done ;;
  esac
}
mkdir "$tmp/long"
python3 "$here/long_programs.py" "$tmp/long"
side_by_side long_case "$tmp"/long/*.kep
echo "long and malformed input: $passed programs passed"

# 5. the front end over the tree's own sources
sources=$(find compiler/pure stdlib conformance -name '*.kep' 2>/dev/null | sort)
if [ -n "$sources" ]; then
  # shellcheck disable=SC2086
  "$kep0" "$here/parse_sources.kep" $sources || fail "parsing the tree's own sources"
fi
# With the real library present the driver compiles the whole compiler.
if [ -f compiler/pure/dynamic_stdlib.kep ]; then
  rm -f "$tmp/image"
  run_driver . compiler/pure/kepc_direct.kep "$tmp/image"
  expect_run "the driver on its own source" "" "" 0
  [ -x "$tmp/image" ] || fail "the driver on its own source: no executable OUTPUT"
fi
# 6. the lexer and parser compiled as an ordinary program, over every file
bash "$here/dynamic_sources.sh" || fail "the front end compiled as an ordinary program"

if [ "$failed" != 0 ]; then
  echo "frontend: FAILED"
  exit 1
fi
echo "frontend: all passed"
