#!/usr/bin/env bash
# Generated code, run from the repository root:
#   1. golden cases of this directory (literal data, relocations);
#   2. the fixed sequences of generated code against the GNU assembler
#      (skipped without binutils);
#   3. the language cases of tests/lang compiled and run (lang.sh);
#   4. the programs of tests/stdlib and tests/config compiled and run
#      (programs.sh).
# Exits 1 when any part fails.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
kep0=bootstrap/kep0
here=tests/native
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
failed=0

VERBOSE=1 bash tests/run_cases.sh "$here" || failed=1

if command -v as > /dev/null && command -v objcopy > /dev/null && command -v nm > /dev/null; then
  if "$kep0" "$here/sequence_cases.kep" > "$tmp/sequences.txt"; then
    python3 tests/backend/compare_with_gas.py < "$tmp/sequences.txt" || failed=1
  else
    echo "FAIL sequence_cases.kep did not run"; failed=1
  fi
else
  echo "SKIP generated sequences against the GNU assembler: binutils not found"
fi
# The recursion guard keeps within the stack limit the process has, however
# small or unlimited: unbounded recursion is caught, never a signal.
compiler/pure/kepc-direct tests/lang/recursion_caught.kep "$tmp/recursion" || failed=1
for limit in unlimited 8192 2048 1024 512; do
  (ulimit -s $limit && "$tmp/recursion") > "$tmp/recursion.out" 2>&1
  cmp -s tests/lang/recursion_caught.out "$tmp/recursion.out" \
    || { echo "FAIL recursion under ulimit -s $limit: $(head -3 "$tmp/recursion.out")"; failed=1; }
done
bash "$here/lang.sh" || failed=1
bash "$here/programs.sh" || failed=1
exit $failed
