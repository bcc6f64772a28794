#!/usr/bin/env bash
# The built-in and method cases, run from the repository root:
#   1. every case under kep0;
#   2. the compile-time rejections (kepc reports, run by kep0);
#   3. with KEP_BUILTINS_COMPILED=1, every case again as a compiled image,
#      together with the cases only compiled programs can run (native
#      libraries), once the run-time block has every routine they call.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
status=0
bash tests/run_cases.sh tests/builtins || status=1
if [ "${KEP_BUILTINS_COMPILED:-}" = 1 ]; then
  KEP_RUN="bash tests/builtins/compiled.sh" bash tests/run_cases.sh tests/builtins tests/builtins/compiled || status=1
fi
exit $status
