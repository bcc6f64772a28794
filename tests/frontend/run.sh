#!/usr/bin/env bash
# The front end's tests, run from the repository root under kep0:
#   1. the KEP test programs of this directory (golden cases);
#   2. the driver on every root/cases/NAME.kep that has a NAME.out, run with
#      root/ as the current directory (its compiler/pure/dynamic_stdlib.kep
#      links to the real library, and its stdlib/ holds the test modules);
#      stdout must equal NAME.out, the status NAME.status (default
#      1), stderr NAME.err (default empty), and no OUTPUT may be written;
#   3. the driver's command line and file errors;
#   4. the nesting limit, in kep0 and the KEP front end alike;
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

# 2. diagnostics and linking through the driver
pass=0
for src in "$here"/root/cases/*.kep; do
  base=${src%.kep}
  [ -f "$base.out" ] || continue
  name=cases/$(basename "$src")
  rm -f "$tmp/image"
  (cd "$here/root" && "$kep0" "$driver" "$name" "$tmp/image") > "$tmp/out" 2> "$tmp/err"
  problems=$(case_problems "$base" "$tmp/out" "$tmp/err" $? 1)
  [ -e "$tmp/image" ] && problems="$problems OUTPUT-written"
  if [ -n "$problems" ]; then
    fail "$src:$problems"
    [ -n "${VERBOSE:-}" ] && diff "$base.out" "$tmp/out" | head -20
  else
    pass=$((pass + 1))
  fi
done
echo "driver diagnostics: $pass passed"

# 3. the command line and file errors; each run gives stdout, stderr, status
run_driver() {  # DIRECTORY ARG...
  local directory=$1; shift
  (cd "$directory" && "$kep0" "$driver" "$@") > "$tmp/out" 2> "$tmp/err"
  echo $? > "$tmp/status"
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
run_driver "$here/root" cases/no_such_file.kep "$tmp/image"
expect_run "missing SOURCE" "" "$cannot_open" 1
[ -e "$tmp/image" ] && fail "missing SOURCE: OUTPUT was created"
# Without a library in the current directory (nor next to kep0) the
# installed candidate is read and fails.
mkdir "$tmp/empty"
run_driver "$tmp/empty" "$root/$here/root/cases/valid_program.kep" "$tmp/image"
expect_run "no library" "" "$cannot_open" 1

# 4. nesting: kep0 and the KEP front end (parser and linker, without the
#    code generator) refuse the same programs with the same report, and
#    accept the same ones (long flat operator chains included)
mkdir "$tmp/deep"
python3 "$here/deep_programs.py" "$tmp/deep"
nesting=0
for src in "$tmp"/deep/*.kep; do
  name=$(basename "$src" .kep)
  "$kep0" "$here/link_program.kep" "$src" > "$tmp/driver.out" 2>&1
  driver_status=$?
  "$kep0" "$src" > "$tmp/kep0.out" 2>&1
  kep0_status=$?
  case $name in
    ok_*)
      [ $driver_status -eq 0 ] && [ ! -s "$tmp/driver.out" ] || fail "nesting $name: driver status $driver_status: $(head -c 200 "$tmp/driver.out")"
      [ $kep0_status -eq 0 ] || fail "nesting $name: kep0 status $kep0_status: $(head -c 200 "$tmp/kep0.out")" ;;
    *)
      [ $driver_status -eq 1 ] && head -1 "$tmp/driver.out" | grep -qx 'error\[E1100\]: expression nested too deeply' ||
        fail "nesting $name: driver status $driver_status: $(head -c 200 "$tmp/driver.out")"
      cmp -s "$tmp/driver.out" "$tmp/kep0.out" && [ $kep0_status -eq 1 ] || fail "nesting $name: kep0 reports otherwise: $(head -c 200 "$tmp/kep0.out")" ;;
  esac
  nesting=$((nesting + 1))
done
echo "nesting: $nesting programs checked"

# 5. the front end over the tree's own sources
sources=$(find compiler/pure stdlib conformance -name '*.kep' 2>/dev/null | sort)
if [ -n "$sources" ]; then
  # shellcheck disable=SC2086
  "$kep0" "$here/parse_sources.kep" $sources || fail "parsing the tree's own sources"
fi
# With the real library present the driver links the whole compiler.
if [ -f compiler/pure/dynamic_stdlib.kep ]; then
  run_driver . compiler/pure/kepc_direct.kep "$tmp/image"
  expect_run "the driver on its own source" "" "" 0
fi
# 6. the lexer and parser compiled as an ordinary program, over every file
bash "$here/dynamic_sources.sh" || fail "the front end compiled as an ordinary program"

if [ "$failed" != 0 ]; then
  echo "frontend: FAILED"
  exit 1
fi
echo "frontend: all passed"
