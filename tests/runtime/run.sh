#!/usr/bin/env bash
# Run-time block suite, run from the repository root:
#   1. golden cases that emit the block and small images around it, run
#      them and print results;
#   2. the Int and Float routines on the cases of number_cases.py, whose
#      expected results CPython computes.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
failed=0
VERBOSE=1 bash tests/run_cases.sh tests/runtime || failed=1

echo "-- Int and Float routines against CPython"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
python3 tests/runtime/number_cases.py table > "$tmp/table"
python3 tests/runtime/number_cases.py expected > "$tmp/want"
KEP_CASE_TMP="$tmp" "${KEP_RUN:-bootstrap/kep0}" tests/runtime/number_cases.kep "$tmp/table" > "$tmp/got" 2>&1
if diff "$tmp/want" "$tmp/got" > "$tmp/diff"; then
  echo "$(wc -l < "$tmp/want") number cases agree"
else
  echo "FAIL number cases differ (want, got):"; head -20 "$tmp/diff"; failed=1
fi
exit $failed
