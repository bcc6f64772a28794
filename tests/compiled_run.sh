#!/usr/bin/env bash
# compiled_run.sh [--raw] PROGRAM [ARG...]: runs PROGRAM as `bootstrap/kep0
# PROGRAM ARG...` does, but compiled (by the native compiler the build
# makes, else by the compiler's sources run by kep0), so that it stands in
# for kep0 wherever a suite runs programs. A program the compiler refuses
# ends with the compiler's report and status.
#
# With --raw the program is compiled under the raw value convention of the
# compiler's own sources: its directory is copied below a scratch
# compiler/pure/ and the copy compiled, and the copy's path in what the
# compiler and the program print reads back as PROGRAM's directory.
#
# Images are kept below $KEP_IMAGE_CACHE by the program's path, text and
# convention, so that a program run many times is compiled once.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
raw=""
if [ "${1:-}" = --raw ]; then
  raw=1; shift
fi
program=$1; shift
cache=${KEP_IMAGE_CACHE:?KEP_IMAGE_CACHE names the directory of the images}

# compile SOURCE IMAGE
compile() {
  if [ -x "$root/compiler/pure/kepc-direct" ]; then
    "$root/compiler/pure/kepc-direct" "$1" "$2"
  else
    "$root/bootstrap/kep0" "$root/compiler/pure/kepc_direct.kep" "$1" "$2"
  fi
}

key=$({ realpath "$program"; echo "$raw"; cat "$program"; } | sha1sum | cut -c1-20)
image="$cache/$key-$(basename "$program" .kep)"
if [ -z "$raw" ]; then
  if [ ! -x "$image" ]; then
    compile "$program" "$image.new" || exit $?
    mv "$image.new" "$image"
  fi
  exec "$image" "$@"
fi

# The copy of the program's directory, made once per cache.
directory=$(dirname "$program")
copy="$cache/raw-$(realpath "$directory" | sha1sum | cut -c1-20)/compiler/pure/$(basename "$directory")"
if [ ! -d "$copy" ]; then
  mkdir -p "$copy.new.$$"
  cp -r "$directory"/. "$copy.new.$$"
  mv -T "$copy.new.$$" "$copy" 2> /dev/null || rm -rf "$copy.new.$$"
fi
work=$(mktemp -d "$cache/run.XXXXXX")
if [ -x "$image" ]; then
  "$image" "$@" > "$work/out" 2> "$work/err"
else
  compile "$copy/$(basename "$program")" "$image.new" > "$work/out" 2> "$work/err" && mv "$image.new" "$image" &&
    "$image" "$@" > "$work/out" 2> "$work/err"
fi
status=$?
sed "s#$copy/#$directory/#g" "$work/out"
sed "s#$copy/#$directory/#g" "$work/err" >&2
rm -rf "$work"
exit $status
