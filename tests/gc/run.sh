#!/usr/bin/env bash
# Collector suite, run from the repository root: the golden cases of this
# directory under kep0 and compiled, those of compiled/ (raw addresses and
# native libraries, which only compiled programs have) compiled, and
# exhausted memory in a compiled program. Exits 1 on a failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
failed=0
echo "-- under kep0"
VERBOSE=1 bash tests/run_cases.sh tests/gc || failed=1
echo "-- compiled"
KEP_RUN="bash tests/builtins/compiled.sh" VERBOSE=1 \
  bash tests/run_cases.sh tests/gc tests/gc/compiled || failed=1

# A program that keeps more than its address space holds ends with the
# allocator's report and status 70, however often it collects.
echo "-- exhausted memory, compiled"
. tests/case_check.sh
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
compiler/pure/kepc-direct tests/gc/keep_all.kep "$tmp/keep_all" || failed=1
expect_failure tests/gc/keep_all.kep 70 "KEP runtime error: MemoryError: allocator or object table exhausted" \
  bash -c 'ulimit -v 300000; exec "$0"' "$tmp/keep_all" || failed=1
exit $failed
