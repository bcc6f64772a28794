#!/usr/bin/env bash
# Run-time block suite, run from the repository root: golden cases that
# emit the block and small images around it, run them and print results.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
VERBOSE=1 bash tests/run_cases.sh tests/runtime
