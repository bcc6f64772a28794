#!/usr/bin/env bash
# Runs the standard library's tests: every NAME.kep here that has a NAME.out,
# the Float oracle check (float_oracle_check.kep over float_oracle.txt)
# among them. Each program gets ten minutes, so that a step that has turned
# quadratic fails instead of hanging. Exits 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
KEP_RUN="timeout 600 ${KEP_RUN:-bootstrap/kep0}" exec bash tests/run_cases.sh tests/stdlib
