#!/usr/bin/env bash
# The code generator's analysis suite, run from the repository root:
#   1. the golden cases of tests/codegen (tables of snippets and results);
#   2. the division constants of 3000 pseudo-random divisors and a fixed set,
#      checked by check_magic.py against an independent computation;
#   3. the fixed operator sequences (fused compare-and-branch, constant
#      operands, division by constants) against the GNU assembler;
#   4. the type passes over whole programs: the compiler's own sources (each
#      module, and all of them in one program), the standard library and every
#      test program that runs to status 0, each linked behind the dynamic
#      standard library;
#   5. the compiler's sources against the constructs that behave differently
#      under the raw value convention (conventions.kep).
# Exits 1 when any part fails.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
kep0=bootstrap/kep0
status=0
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

VERBOSE=1 bash tests/run_cases.sh tests/codegen || status=1

if ! "$kep0" tests/codegen/magic_table.kep 3000 | python3 tests/codegen/check_magic.py; then
  status=1
fi

# The fixed sequences of the operators (fused compare-and-branch, constant
# operands, division by constants) against the GNU assembler.
if command -v as > /dev/null && command -v objcopy > /dev/null && command -v objdump > /dev/null; then
  if ! "$kep0" tests/codegen/operator_sequences.kep > "$tmp/sequences.txt" || grep -q '^FAIL' "$tmp/sequences.txt"; then
    grep '^FAIL' "$tmp/sequences.txt"
    echo "FAIL operator_sequences.kep"
    status=1
  elif ! python3 tests/backend/compare_with_gas.py < "$tmp/sequences.txt"; then
    status=1
  fi
else
  echo "SKIP operator sequences: binutils not found"
fi

programs=(tests/codegen/compiler_modules.kep)
for source in compiler/pure/*.kep stdlib/*.kep tests/*/*.kep; do
  case $source in
    compiler/pure/dynamic_stdlib.kep) continue ;;  # always linked in front
    tests/*) [ -f "${source%.kep}.out" ] && [ ! -f "${source%.kep}.status" ] || continue ;;
  esac
  programs+=("$source")
done
# Four kep0 processes share the programs; any failing one fails the check.
output=$(printf '%s\n' "${programs[@]}" | xargs -d '\n' -n 16 -P 4 "$kep0" tests/codegen/whole_sources.kep 2>&1)
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
