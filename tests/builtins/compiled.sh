#!/usr/bin/env bash
# The compiled executor of the golden cases: compiles SOURCE with the driver
# (run by kep0) into the case's scratch directory and runs the
# image with the remaining arguments.
set -u
source=$1; shift
image="$KEP_CASE_TMP/$(basename "$source" .kep).image"
bootstrap/kep0 compiler/pure/kepc_direct.kep "$source" "$image" || exit $?
exec "$image" "$@"
