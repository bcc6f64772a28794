#!/usr/bin/env bash
# Tests kep-configure (stdlib/configure.kep) and the json module under kep0.
#
# Configuration cases: every NAME.kep under tests/config/ and
# tests/config/cases/ that has a NAME.out beside it is an entry module. The
# generator writes .NAME-evaluator.kep next to it; when the generator refuses,
# its own report is the result, otherwise the evaluator is run and its
# output is. The result is compared with NAME.out (standard output),
# NAME.err (standard error, default empty) and NAME.status (exit status,
# default 0); NAME.evaluator, when present, is the exact evaluator text.
# The json module has golden programs under tests/config/json_cases/.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
kep0=${KEP0:-$root/bootstrap/kep0}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
pass=0; fail=0

# stale FILE: an evaluator left by an earlier run (its first lines), which a
# refused run removes.
stale() {
  printf 'load json\n\nfunction priority(value):\n' > "$1"
}

# generate ENTRY EVALUATOR: runs the generator; its output goes to $tmp/gen.*
generate() {
  "$kep0" stdlib/configure.kep "$@" > "$tmp/gen.out" 2> "$tmp/gen.err"
  echo $? > "$tmp/gen.status"
}

# run_case ENTRY EXPECTED_BASE
run_case() {
  local entry=$1 base=$2 problems=""
  local evaluator
  evaluator="$(dirname "$entry")/.$(basename "$entry" .kep)-evaluator.kep"
  stale "$evaluator"
  generate "$entry" "$evaluator"
  if [ "$(cat "$tmp/gen.status")" != 0 ]; then
    [ -e "$evaluator" ] && problems="$problems evaluator-left-behind"
    cp "$tmp/gen.out" "$tmp/out"; cp "$tmp/gen.err" "$tmp/err"; cp "$tmp/gen.status" "$tmp/status"
  else
    if [ -f "$base.evaluator" ] && ! cmp -s "$evaluator" "$base.evaluator"; then
      problems="$problems evaluator-text"
      [ -n "${VERBOSE:-}" ] && diff "$base.evaluator" "$evaluator" | head -20
    fi
    "$kep0" "$evaluator" > "$tmp/out" 2> "$tmp/err"
    echo $? > "$tmp/status"
  fi
  rm -f "$evaluator"
  problems="$problems$(case_problems "$base" "$tmp/out" "$tmp/err" "$(cat "$tmp/status")" 0)"
  if [ -n "$problems" ] && [ -n "${VERBOSE:-}" ]; then
    diff "$base.out" "$tmp/out" | head -10; [ -f "$base.err" ] && diff "$base.err" "$tmp/err" | head -10
  fi
  report "$entry" "$problems"
}

for out in tests/config/*.out tests/config/cases/*.out; do
  entry=${out%.out}.kep
  [ -f "$entry" ] && run_case "$entry" "${out%.out}"
done
# The conformance suite names the cycle's report after the cycle, not the entry.
run_case tests/config/cycle_a.kep tests/config/cycle

# Paths are compared as texts: entered as cycle_a.kep, the module comes back
# as ./cycle_a.kep and is only then seen twice.
(cd tests/config && "$kep0" "$root/stdlib/configure.kep" cycle_a.kep "$tmp/cycle-evaluator.kep") > "$tmp/out"
problems=""
[ "$(cat "$tmp/out")" = "Configuration import cycle: ./cycle_b.kep -> ./cycle_a.kep -> ./cycle_b.kep" ] || problems=" stdout($(cat "$tmp/out"))"
report "cycle from the entry's directory" "$problems"

# The generated tree: its evaluator's whole output goes to the checker as one
# argument, as the conformance suite passes it.
evaluator=tests/config/.generated-test-evaluator.kep
generate tests/config/generated.kep "$evaluator"
json=$("$kep0" "$evaluator"; echo x); json=${json%x}
rm -f "$evaluator"
problems=""
"$kep0" tests/config_generated_check.kep "$json" > "$tmp/out" 2>&1
cmp -s "$tmp/out" tests/config_generated_check.out || problems=" checker output"
[ -n "$problems" ] && [ -n "${VERBOSE:-}" ] && diff tests/config_generated_check.out "$tmp/out"
report tests/config/generated.kep "$problems"

# Usage: ENTRY and OUTPUT are both required.
for args in "" "tests/config/defaults.kep"; do
  generate $args
  problems=""
  [ "$(cat "$tmp/gen.out")" = "usage: kep-configure ENTRY OUTPUT" ] || problems=" stdout"
  [ "$(cat "$tmp/gen.status")" = 2 ] || problems="$problems status"
  report "usage with arguments '$args'" "$problems"
done

# Purity: each feature text, alone in a module (in a comment, where it counts
# too), and the feature reported. A text that contains an earlier one of the
# list is reported as that one.
purity_table=(
  "input |input " "input(|input(" "readfile(|readfile(" "writefile(|writefile("
  "appendfile(|appendfile(" "load http|load http" "load env|load env"
  "load native|load native" "load os|load os" "from os |from os "
  "load system|load system" "from system |from system " "load time|load time"
  "from time |from time " "getenv(|getenv(" "run(|run(" "capture(|capture("
  "native_open(|native_open(" "native_call(|native_call(" "clock(|clock("
  "__kep_wall_time(|__kep_wall_time(" "__kep_sleep(|__kep_sleep("
  "__kep_run(|run(" "__kep_capture(|capture(" "exit(|exit("
  "writebytes(|writebytes(" "readbytes(|readbytes(" "mkdir(|mkdir("
  "unlink(|unlink(" "exists(|exists(" "__kep_fd_open(|__kep_fd_open("
  "__kep_syscall(|__kep_syscall(" "native_function(|native_function("
  "from env |from env " "from http |from http " "from native |from native "
  "load process|load process" "load plugin|load plugin" "load cuda|load cuda"
  "exit(0) after clock()|clock(" "my_input(x)|input(" "load osmosis|load os"
)
module="$tmp/impure.kep"
# check_impure LABEL FEATURE: the generator refuses $module for FEATURE
# and leaves no evaluator behind.
check_impure() {
  local problems=""
  stale "$tmp/impure-evaluator.kep"
  generate "$module" "$tmp/impure-evaluator.kep"
  [ "$(cat "$tmp/gen.out")" = "Impure configuration feature $2 in $module" ] || problems=" stdout($(cat "$tmp/gen.out"))"
  [ "$(cat "$tmp/gen.status")" = 1 ] || problems="$problems status"
  [ -e "$tmp/impure-evaluator.kep" ] && problems="$problems evaluator-left-behind"
  report "$1" "$problems"
}
for row in "${purity_table[@]}"; do
  text=${row%%|*}; feature=${row#*|}
  printf 'config = {}\n# %s\n' "$text" > "$module"
  check_impure "purity of '$text'" "$feature"
done

# Purity by tokens: a side-effect built-in or module however it is spaced or
# written, in code (a comment or String no longer counts here), reported
# with its listed feature text where the list has one. The expressions of a
# Tuv String end where the compiler ends them, past braces in quotes; a
# module that is not one of the configuration's may not be loaded at all.
token_table=(
  'secret = readfile ("/etc/hostname")|readfile('
  'call run ("/bin/touch", ["PWNED"])|run('
  'home = __kep_getenv ("HOME")|getenv('
  'x = input	("name")|input('
  'print "before the JSON"|print'
  'n = __kep_fd_read (0, ByteArray(), 1)|__kep_fd_read('
  'call exit (0)|exit('
  'x = t"{arg (1)}"|arg('
  'load  os|load os'
  'from  time load clock|from time '
  'load process.spawn|load process'
  "x = t\"{'}' + String(unlink ('/victim'))}\"|unlink("
  'x = t"{\"}\" + String(run ("/bin/true", []))}"|run('
  'load helper|load helper'
  'from helper load value|from helper '
  'load sub.helper|load sub.helper'
  'load json|load json'
)
# The modules the loads above name: the helper writes a file when it runs.
mkdir -p "$tmp/sub"
printf 'function value()\n    writefile("/tmp/written-by-a-configuration", "x")\n    return 1\nend\n' > "$tmp/helper.kep"
cp "$tmp/helper.kep" "$tmp/sub/helper.kep"
for row in "${token_table[@]}"; do
  text=${row%%|*}; feature=${row#*|}
  printf '%s\nconfig = {}\n' "$text" > "$module"
  check_impure "purity of the code '$text'" "$feature"
done

# Only a refusal removes OUTPUT, and only an evaluator there. A module that
# cannot be read stops the run with its own report and OUTPUT as it was; an
# OUTPUT that names a module of the configuration (the entry included, by
# another spelling of its path) is refused before anything is written or
# removed, and a refusal for another reason leaves such an OUTPUT alone too.
mkdir -p "$tmp/keep"
printf 'imports = ["gone"]\nconfig = {}\n' > "$tmp/keep/unreadable.kep"
stale "$tmp/keep/out.kep"
cp "$tmp/keep/out.kep" "$tmp/keep/expected.kep"
generate "$tmp/keep/unreadable.kep" "$tmp/keep/out.kep"
problems=""
[ "$(cat "$tmp/gen.err")" = "KEP runtime error: FileError: cannot read file" ] || problems=" stderr($(cat "$tmp/gen.err"))"
[ "$(cat "$tmp/gen.status")" = 1 ] || problems="$problems status"
cmp -s "$tmp/keep/out.kep" "$tmp/keep/expected.kep" || problems="$problems output-touched"
report "unreadable module leaves OUTPUT alone" "$problems"
printf 'imports = ["base"]\nconfig = {"app": 1}\n' > "$tmp/keep/app.kep"
printf 'config = {"base": 1}\n' > "$tmp/keep/base.kep"
printf 'imports = ["impure", "base"]\nconfig = {}\n' > "$tmp/keep/mixed.kep"
printf 'config = {"t": clock()}\n' > "$tmp/keep/impure.kep"
printf 'imports = ["stale_module"]\nconfig = {}\n' > "$tmp/keep/stale_app.kep"
stale "$tmp/keep/stale_module.kep"
printf 'config = {"t": clock()}\n' >> "$tmp/keep/stale_module.kep"
mkdir -p "$tmp/keep/x"
ln -s base.kep "$tmp/keep/base-link.kep"
ln -s "$tmp/keep/base-link.kep" "$tmp/keep/link-to-link.kep"
ln "$tmp/keep/base.kep" "$tmp/keep/base-hard.kep"
ln -s stale_module.kep "$tmp/keep/stale-link.kep"
rel=$(realpath --relative-to=. "$tmp/keep")
for file in base app stale_module; do cp "$tmp/keep/$file.kep" "$tmp/keep/$file.copy"; done
# ENTRY|OUTPUT|STDOUT: an OUTPUT that is a module of the configuration, by
# any spelling of its path or through a link, is refused and left alone; so
# is one that a refusal for another reason finds among the modules read,
# even when it holds an evaluator's text.
output_cases=(
  "$tmp/keep/app.kep|$tmp/keep/base.kep|Configuration output is the module $tmp/keep/base.kep"
  "$tmp/keep/app.kep|$tmp/keep/app.kep|Configuration output is the module $tmp/keep/app.kep"
  "$tmp/keep/app.kep|$tmp/keep/./x/../app.kep|Configuration output is the module $tmp/keep/app.kep"
  "$rel/app.kep|$tmp/keep/base.kep|Configuration output is the module $rel/base.kep"
  "$tmp/keep/app.kep|$rel/x/../base.kep|Configuration output is the module $tmp/keep/base.kep"
  "$tmp/keep/app.kep|$tmp/keep/base-link.kep|Configuration output is the module $tmp/keep/base.kep"
  "$tmp/keep/app.kep|$tmp/keep/link-to-link.kep|Configuration output is the module $tmp/keep/base.kep"
  "$tmp/keep/app.kep|$tmp/keep/base-hard.kep|Configuration output is the module $tmp/keep/base.kep"
  "$tmp/keep/mixed.kep|$tmp/keep/base.kep|Impure configuration feature clock( in $tmp/keep/impure.kep"
  "$tmp/keep/stale_app.kep|$tmp/keep/stale_module.kep|Impure configuration feature clock( in $tmp/keep/stale_module.kep"
  "$tmp/keep/stale_app.kep|$tmp/keep/stale-link.kep|Impure configuration feature clock( in $tmp/keep/stale_module.kep"
)
# Under kep0 and compiled alike.
for generator in "$kep0 stdlib/configure.kep" compiler/pure/kep-configure; do
  for row in "${output_cases[@]}"; do
    IFS='|' read -r entry output expected <<< "$row"
    $generator "$entry" "$output" > "$tmp/gen.out" 2> "$tmp/gen.err"
    echo $? > "$tmp/gen.status"
    problems=""
    [ "$(cat "$tmp/gen.out")" = "$expected" ] || problems=" stdout($(cat "$tmp/gen.out"))"
    [ "$(cat "$tmp/gen.status")" = 1 ] || problems="$problems status"
    for file in base app stale_module; do
      cmp -s "$tmp/keep/$file.kep" "$tmp/keep/$file.copy" || problems="$problems $file-touched"
    done
    [ -L "$tmp/keep/$(basename "$output")" ] || [ -e "$output" ] || problems="$problems output-removed"
    report "${generator##*/}: OUTPUT $output for $entry" "$problems"
  done
done

# A path with quotes, a backslash and a line feed reaches the evaluator intact.
odd="$tmp/say \"hi\" \\ there"$'\n'"next line"
mkdir -p "$odd"
printf 'config = {}\noptions = {"port": {"required": True, "default": 1, "type": "Int"}}\n' > "$odd/app.kep"
generate "$odd/app.kep" "$odd/.app-evaluator.kep"
"$kep0" "$odd/.app-evaluator.kep" > "$tmp/out" 2>&1
problems=""
[ "$(cat "$tmp/out")" = "Missing required option port declared in $odd/app.kep" ] || problems=" stdout($(cat "$tmp/out"))"
report "path with quotes, backslash and line feed" "$problems"

echo "config: $pass passed, $fail failed"
json_ok=0
bash tests/run_cases.sh tests/config/json_cases || json_ok=1
[ "$fail" = 0 ] && [ "$json_ok" = 0 ]
