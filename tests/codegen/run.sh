#!/usr/bin/env bash
# The code generator's analysis suite, run from the repository root:
#   1. the golden cases of tests/codegen (tables of snippets and results);
#   2. the division constants of 3000 pseudo-random divisors and a fixed set,
#      checked by check_magic.py against an independent computation;
#   3. the type passes over whole programs: the compiler's own sources (each
#      module, and all of them in one program), the standard library and every
#      test program that runs to status 0, each linked behind the dynamic
#      standard library;
#   4. the compiler's sources against the constructs that behave differently
#      under the raw value convention (conventions.kep).
# Exits 1 when any part fails.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
kep0=bootstrap/kep0
status=0

VERBOSE=1 bash tests/run_cases.sh tests/codegen || status=1

if ! "$kep0" tests/codegen/magic_table.kep 3000 | python3 tests/codegen/check_magic.py; then
  status=1
fi

programs=(tests/codegen/compiler_modules.kep)
for source in compiler/pure/*.kep stdlib/*.kep tests/*/*.kep; do
  case $source in
    compiler/pure/dynamic_stdlib.kep) continue ;;  # always linked in front
    tests/*) [ -f "${source%.kep}.out" ] && [ ! -f "${source%.kep}.status" ] || continue ;;
  esac
  programs+=("$source")
done
output=$("$kep0" tests/codegen/whole_sources.kep "${programs[@]}" 2>&1)
whole_status=$?
failing=$(printf '%s\n' "$output" | grep -v ', ok$')
passed=$(printf '%s\n' "$output" | grep -c ', ok$')
if [ $whole_status -ne 0 ] || [ -n "$failing" ]; then
  printf '%s\n' "$failing"
  status=1
fi
echo "whole programs: $passed passed, $((${#programs[@]} - passed)) failed"

# The compiler's sources (and the tools) must compile to the behaviour they
# show under kep0: conventions.kep lists the constructs that would not.
for program in tests/codegen/compiler_modules.kep compiler/pure/kepc_direct.kep stdlib/configure.kep stdlib/json.kep; do
  report=$("$kep0" tests/codegen/conventions.kep "$program" 2>&1)
  if [ "$report" != "no problems" ]; then
    echo "value conventions ($program):"
    printf '%s\n' "$report"
    status=1
  fi
done
[ $status -eq 0 ] && echo "value conventions: no problems"
exit $status
