#!/usr/bin/env bash
# The standard library's modules: every NAME.kep here that has a NAME.out,
# run by kep0 and compiled (by the native compiler where it was built, else
# by kep0 running the compiler's sources) and run; both must give NAME.out.
# Exits 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
here=tests/modules
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
failed=0
bash tests/run_cases.sh "$here" || failed=1
KEP_IMAGE_CACHE=$tmp KEP_RUN=tests/native/compiled_run.sh bash tests/run_cases.sh "$here" || failed=1
exit $failed
