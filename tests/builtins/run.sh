#!/usr/bin/env bash
# The built-in and method cases, run from the repository root: every case
# under kep0, then every case again as a compiled image together with the
# cases only compiled programs can run (native libraries).
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
status=0
bash tests/run_cases.sh tests/builtins || status=1
KEP_RUN="bash tests/builtins/compiled.sh" bash tests/run_cases.sh tests/builtins tests/builtins/compiled || status=1
exit $status
