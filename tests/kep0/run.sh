#!/usr/bin/env bash
# Cases that only the bootstrap interpreter has: its own limits and refusals.
set -u
cd "$(dirname "$0")/../.."
status=0
bash tests/run_cases.sh tests/kep0 || status=1
# Exhausted memory ends the program as a compiled one ends: status 70 and
# the allocator's report (the address space is limited so that it happens
# quickly).
report=$( (ulimit -v 3000000; bootstrap/kep0 tests/kep0/memory.kep) 2>&1 >/dev/null)
code=$?
if [ $code -ne 70 ] || [ "$report" != "KEP runtime error: MemoryError: allocator or object table exhausted" ]; then
  echo "FAIL tests/kep0/memory.kep: status $code, stderr: $report"
  status=1
else
  echo "memory exhaustion: ok"
fi
exit $status
