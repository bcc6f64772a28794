#!/usr/bin/env bash
# Collection stress run, from the repository root. The native compiler
# builds images with KEP_GC_STRESS=BYTES in its environment: they collect
# after every BYTES requested and fill each block they free with a poison
# word, so a value kept where the collector does not look is lost at once.
#   1. the language, built-in, library and differential cases, compiled
#      with 4096 (those in compiled.sh's list at the milder setting);
#   2. the compiler built with the milder setting compiles itself, without
#      the switch, to the bytes of the stages.
# `bash tests/stress/run.sh all` is the full run: every case at 4096 (those
# in compiled.sh's list at 256 KiB, which at 4096 take longer than the
# runner's bound), the collector's and the area cases too, 1,000
# differential programs, and the self-compile at 256 KiB. Exits 1 on a
# failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
export KEP_GC_STRESS=4096 KEP_GC_STRESS_MILD=2097152
dirs=(tests/lang tests/builtins tests/builtins/compiled tests/stdlib)
differential=80
if [ "${1:-}" = all ]; then
  dirs+=(tests tests/gc tests/gc/compiled)
  differential=1000
  KEP_GC_STRESS_MILD=262144
fi
# Each part writes its log and status; they run side by side.
part() {
  local name=$1; shift
  { "$@"; echo $? > "$tmp/$name.status"; } > "$tmp/$name.log" 2>&1
}
part cases env KEP_RUN="bash tests/stress/compiled.sh" bash tests/run_cases.sh "${dirs[@]}" &
part differential env KEP_DIFFERENTIAL_COUNT=$differential bash tests/differential/run.sh &
# The compiler under stress compiles itself; the switch is off for that
# run, so its output must be the stages' bytes.
self_compile() {
  KEP_GC_STRESS=$KEP_GC_STRESS_MILD compiler/pure/kepc-direct \
    compiler/pure/kepc_direct.kep "$tmp/kepc-stress" &&
  env -u KEP_GC_STRESS "$tmp/kepc-stress" compiler/pure/kepc_direct.kep "$tmp/stage" &&
  cmp "$tmp/stage" compiler/pure/kepc-direct && echo "self-compile under stress: same bytes"
}
part self_compile self_compile &
wait
failed=0
for name in cases differential self_compile; do
  echo "-- $name"
  cat "$tmp/$name.log"
  [ "$(cat "$tmp/$name.status" 2>/dev/null)" = 0 ] || { echo "FAIL stress $name"; failed=1; }
done
exit $failed
