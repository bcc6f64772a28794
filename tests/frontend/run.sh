#!/usr/bin/env bash
# The front end's tests, run from the repository root under kep0:
#   1. the KEP test programs of this directory (golden cases);
#   2. the driver on every root/cases/NAME.kep that has a NAME.out, run with
#      root/ as the current directory (its compiler/pure/dynamic_stdlib.kep
#      links to the real library, and its stdlib/ holds the test modules);
#      stdout must equal NAME.out, the status NAME.status (default
#      1), stderr NAME.err (default empty), and OUTPUT is written exactly
#      when the status is 0; kep0 must refuse the refused ones alike;
#   3. the driver's command line, its stress switch and file errors;
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

# 2. diagnostics and linking through the driver, and kep0's diagnostics
#    of the same refused programs (root/cases/cases.conf)
bash tests/run_cases.sh "$here/root/cases" || failed=1

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
run_driver "$here/root" "" "$tmp/image"
expect_run "an empty SOURCE is a path" "" "$cannot_open" 1
rm -f "$tmp/image"
run_driver "$here/root" cases/no_such_file.kep "$tmp/image"
expect_run "missing SOURCE" "" "$cannot_open" 1
[ -e "$tmp/image" ] && fail "missing SOURCE: OUTPUT was created"
# How OUTPUT is written, by the driver under kep0 and by the native
# compiler: a regular OUTPUT is replaced only by a complete image (one
# still running included; a write cut short by the file-size limit leaves
# the old file and nothing beside it), with mode 0755 under umask 022; a
# FIFO stays a FIFO and its reader gets the image.
valid="$root/$here/root/cases/valid_program.kep"
cannot_write="KEP runtime error: FileError: cannot write file"
for compiler in "$kep0 $driver" "$root/compiler/pure/kepc-direct"; do
  label=${compiler##*/}
  out=$tmp/output
  rm -rf "$out"; mkdir "$out"
  (umask 022; $compiler "$valid" "$out/image") || fail "$label: a new OUTPUT is not written"
  [ "$(stat -c %a "$out/image")" = 755 ] || fail "$label: a new OUTPUT has mode $(stat -c %a "$out/image")"
  cp /bin/sleep "$out/busy"
  "$out/busy" 30 & busy=$!
  runs_in "$here/root" $compiler "$valid" "$out/busy"
  expect_run "$label over an OUTPUT that is running" "" "" 0
  kill "$busy"; wait "$busy" 2> /dev/null
  cmp -s "$out/busy" "$out/image" || fail "$label: the running OUTPUT is not the new image"
  cp /bin/true "$out/old"; cp /bin/true "$out/old.copy"
  runs_in "$here/root" bash -c "ulimit -f 20; exec $compiler '$valid' '$out/old'"
  expect_run "$label over the file-size limit" "" "$cannot_write" 1
  cmp -s "$out/old" "$out/old.copy" || fail "$label: a failed write changed OUTPUT"
  [ "$(ls "$out")" = "$(printf 'busy\nimage\nold\nold.copy')" ] || fail "$label: a failed write left $(ls "$out" | tr '\n' ' ')"
  mkfifo "$out/fifo"
  cat "$out/fifo" > "$out/read" & reader=$!
  runs_in "$here/root" $compiler "$valid" "$out/fifo"
  expect_run "$label to a FIFO" "" "" 0
  if [ -p "$out/fifo" ]; then wait "$reader"; else kill "$reader"; fail "$label: the FIFO OUTPUT was replaced"; fi
  cmp -s "$out/read" "$out/image" || fail "$label: the FIFO's reader did not get the image"
done
# Arguments other than SOURCE and OUTPUT, by kep0's driver and the native
# compiler alike: the usage text, status 2, nothing written.
for compiler in "$kep0 $driver" "$root/compiler/pure/kepc-direct"; do
  for arguments in "" "cases/valid_program.kep" "cases/valid_program.kep $tmp/image extra" \
      "cases/valid_program.kep $tmp/image ''" "cases/valid_program.kep $tmp/image a b"; do
    rm -f "$tmp/image"
    eval "runs_in \"\$here/root\" $compiler $arguments"
    expect_run "${compiler##*/} with arguments '$arguments'" "$usage" "" 2
    [ -e "$tmp/image" ] && fail "${compiler##*/} with arguments '$arguments': OUTPUT was written"
  done
done
# OUTPUT that is SOURCE, a module the program loads or the library, however
# spelled, is refused before anything is written: status 1, the file named
# as it was read.
same=$tmp/same
mkdir -p "$same/sub"
printf 'load helper\nprint helper.value()\n' > "$same/main.kep"
printf 'function value()\n    return 7\nend\n' > "$same/helper.kep"
ln -s main.kep "$same/symlink.kep"
ln "$same/main.kep" "$same/hard.kep"
ln -s "$same/helper.kep" "$same/helper-link"
ln -s symlink.kep "$same/link-to-link"
mkdir -p "$same/compiler/pure"
ln -s "$root/compiler/pure/dynamic_stdlib.kep" "$same/compiler/pure/"
# OUTPUT|the input named
same_table=(
  "main.kep|main.kep" "./main.kep|main.kep" "$same/main.kep|main.kep" "sub/../main.kep|main.kep"
  "symlink.kep|main.kep" "link-to-link|main.kep" "hard.kep|main.kep"
  "helper.kep|./helper.kep" "helper-link|./helper.kep" "$same/sub/../helper.kep|./helper.kep"
  "compiler/pure/dynamic_stdlib.kep|compiler/pure/dynamic_stdlib.kep"
)
snapshot() { (cd "$same" && find . -printf '%p %i %s %l\n' | sort && cat main.kep helper.kep); }
before=$(snapshot)
for compiler in "$kep0 $driver" "$root/compiler/pure/kepc-direct"; do
  for row in "${same_table[@]}"; do
    output=${row%%|*}
    runs_in "$same" $compiler main.kep "$output"
    expect_run "${compiler##*/} main.kep $output" "" "KEP runtime error: FileError: OUTPUT is the input file ${row#*|}" 1
    [ "$(snapshot)" = "$before" ] || fail "${compiler##*/} main.kep $output: the files changed"
  done
  runs_in "$same" $compiler main.kep sub/image
  expect_run "${compiler##*/} main.kep sub/image" "" "" 0
  [ "$("$same/sub/image")" = 7 ] || fail "${compiler##*/}: the image beside the refused ones does not run"
  rm -f "$same/sub/image"
done
# KEP_GC_STRESS, the collection stress switch, is a number of bytes from 1
# to 2^32 - 1 or unset (empty counts as unset); any other value is refused
# before anything is written, never cut to 32 bits or ignored.
stress_refused="KEP runtime error: ValueError: KEP_GC_STRESS must be a number of bytes from 1 to 4294967295, not"
stress_table=(
  "4294967296|1" "18446744073709551617|1" "-1|1" "0|1" "abc|1" "12x|1" " 5|1" "+5|1"
  "4294967295|0" "1|0" "|0"
)
for compiler in "$kep0 $driver" "$root/compiler/pure/kepc-direct"; do
  for row in "${stress_table[@]}"; do
    value=${row%|*}
    rm -f "$tmp/image"
    runs_in "$here/root" env KEP_GC_STRESS="$value" $compiler cases/valid_program.kep "$tmp/image"
    if [ "${row#*|}" = 1 ]; then
      expect_run "${compiler##*/} under KEP_GC_STRESS='$value'" "" "$stress_refused $value" 1
      [ -e "$tmp/image" ] && fail "${compiler##*/} under KEP_GC_STRESS='$value': OUTPUT was written"
    else
      expect_run "${compiler##*/} under KEP_GC_STRESS='$value'" "" "" 0
      "$tmp/image" > /dev/null || fail "${compiler##*/} under KEP_GC_STRESS='$value': the image fails"
    fi
  done
done
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
