#!/usr/bin/env bash
# compiled_run.sh PROGRAM [ARG...]: runs PROGRAM as `bootstrap/kep0 PROGRAM
# ARG...` does, but compiled (by the native compiler the build makes, else
# by the driver run by kep0 from the repository root), so that a suite
# written for kep0 runs its programs compiled when this script stands in for
# kep0. Images are kept
# below $KEP_IMAGE_CACHE by the program's path and text, so that a program run
# many times is compiled once. A program the compiler refuses ends with the
# compiler's report and status.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
program=$1; shift
cache=${KEP_IMAGE_CACHE:?KEP_IMAGE_CACHE names the directory of the images}
image="$cache/$({ realpath "$program"; cat "$program"; } | sha1sum | cut -c1-20)-$(basename "$program" .kep)"
if [ ! -x "$image" ]; then
  if [ -x "$root/compiler/pure/kepc-direct" ]; then
    "$root/compiler/pure/kepc-direct" "$program" "$image.new" || exit $?
  else
    "$root/bootstrap/kep0" "$root/compiler/pure/kepc_direct.kep" "$program" "$image.new" || exit $?
  fi
  mv "$image.new" "$image"
fi
exec "$image" "$@"
