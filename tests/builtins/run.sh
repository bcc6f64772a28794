#!/usr/bin/env bash
# The built-in and method cases, run from the repository root: every case
# under kep0 and as a compiled image, and the cases only compiled programs
# can run (native libraries), compiled (cases.conf of each directory).
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
bash tests/run_cases.sh tests/builtins tests/builtins/compiled
