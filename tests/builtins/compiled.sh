#!/usr/bin/env bash
# The compiled executor of the golden cases: compiles SOURCE with the native
# compiler (built by make) into the case's scratch directory and runs the
# image with the remaining arguments.
set -u
source=$1; shift
image="$KEP_CASE_TMP/$(basename "$source" .kep).image"
compiler/pure/kepc-direct "$source" "$image" || exit $?
exec "$image" "$@"
