#!/usr/bin/env bash
# Generated code, run from the repository root:
#   1. golden cases of this directory (literal data, relocations);
#   2. the fixed sequences of generated code against the GNU assembler
#      (skipped without binutils);
#   3. the configuration suite (tests/config/run.sh) with the generator
#      and the evaluators it writes compiled, tests/compiled_run.sh standing
#      in for kep0.
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
echo "configuration cases, compiled:"
KEP0=$root/tests/compiled_run.sh KEP_IMAGE_CACHE=$tmp bash tests/config/run.sh || failed=1
exit $failed
