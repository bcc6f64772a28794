#!/usr/bin/env bash
# Collector suite, run from the repository root: the golden cases of this
# directory under kep0 and compiled, those of compiled/ (raw addresses and
# native libraries, which only compiled programs have) compiled. Exits 1 on
# a failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
failed=0
VERBOSE=1 bash tests/run_cases.sh tests/gc tests/gc/compiled || failed=1
exit $failed
