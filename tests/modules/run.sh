#!/usr/bin/env bash
# The standard library's modules: every NAME.kep here that has a NAME.out,
# run by kep0 and compiled (by the native compiler where it was built, else
# by kep0 running the compiler's sources) and run; both must give NAME.out.
# Exits 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
here=tests/modules
bash tests/run_cases.sh "$here"
