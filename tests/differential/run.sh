#!/usr/bin/env bash
# Random programs (generate.py) run under kep0 and compiled must agree:
# standard output, standard error and exit status (compare.py). The seeds
# are fixed, so that a failure here is reproducible with
#   python3 tests/differential/compare.py --first SEED --count 1
# With the native compiler the run covers a few hundred programs; while
# programs are compiled by kep0, which takes a second each, fewer.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
export KEP_CASE_TMP="$tmp"
if [ -x compiler/pure/kepc-direct ]; then count=240; else count=160; fi
python3 tests/differential/compare.py --first 1 --count "${KEP_DIFFERENTIAL_COUNT:-$count}"
