#!/usr/bin/env bash
# kep-test (conformance/kep_test.kep), compiled, against the compiler in
# full mode up to the fixed point; the suite's programs on their own (their
# statuses, and the reports of the programs the compiler must reject); and
# kep-test's modes, labels and failure protocol against a stand-in compiler
# (fake_compiler.sh). The suite's scratch files have fixed
# names under /tmp, so this script holds /tmp/kep-test-suite.lock while it
# runs.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
exec 9> /tmp/kep-test-suite.lock
flock 9
pass=0; fail=0
if ! compiler/pure/kepc-direct conformance/kep_test.kep "$tmp/kep-test" > "$tmp/build.out" 2>&1; then
  echo "FAIL kep-test does not compile:"; head -5 "$tmp/build.out"; exit 1
fi
# The compiler under test: a script that runs the self-compiled compiler, so
# that every step passes and the fixed point, which compares the compiler's
# own file with what it makes of its source, is missed.
cat > "$tmp/kepc" <<SCRIPT
#!/bin/sh
exec "$root/compiler/pure/kepc-direct" "\$1" "\$2"
SCRIPT
chmod +x "$tmp/kepc"

# run_kep_test CWD ARGS...: kep-test's output in $tmp/out, $tmp/err, $tmp/status.
run_kep_test() {
  local cwd=$1
  shift
  runs_in "$cwd" "$tmp/kep-test" "$@"
}
# expect LABEL OUT ERR STATUS: compares the last run.
expect() {
  report "$1" "$(run_problems "$4" "$2" "$3")"
}

failure() { printf 'KEP runtime error: TestFailure: %s' "$1"; }

# Full mode with the compiler: every step up to the fixed point passes, and
# the fixed point is missed.
started=$SECONDS
run_kep_test "$root" full "$tmp/kepc"
# Standard output and error carry the output of the programs run (the
# compiler's reports on the rejected programs, the package programs'
# refusals); the fixed point ends it.
problems=""
[ "$(tail -1 "$tmp/err")" = "$(failure "compiler fixed point differs")" ] || problems="$problems stderr($(tail -1 "$tmp/err"))"
[ "$(cat "$tmp/status")" = 1 ] || problems="$problems status($(cat "$tmp/status"))"
report "full mode with the compiler, up to the fixed point" "$problems"
echo "kep-test full: $((SECONDS - started)) s"
# exits_with STATUS COMMAND...: the command, run on its own, ends with STATUS.
exits_with() {
  local want=$1 status
  shift
  "$@" > /dev/null 2>&1 < /dev/null
  status=$?
  [ "$status" = "$want" ] || report "$(printf '%.60s' "$*") exits with $want" " status($status)"
}
# The programs whose output kep-test compares are meant to succeed, but for
# the evaluator of a configuration whose option has the wrong type.
for row in codegen-optimization-test user-module-path-test selfhost-test table-growth-test full-conformance-test \
    json-fuzz-test gc-stress-test frontend-fuzz-test "process-fault-test 0" "process-fault-test 2" \
    config-defaults-test config-lazy-test "config-type-error-test|1"; do
  want=0; [ "$row" != "${row%|*}" ] && want=${row#*|}
  read -ra command <<< "${row%|*}"
  exits_with "$want" "/tmp/kep-${command[0]}" "${command[@]:1}"
done
# The generated configuration's evaluator, and its checker given the
# evaluator's whole output as its one argument.
json=$(/tmp/kep-config-generated-test 2> /dev/null < /dev/null; printf x)
exits_with 0 /tmp/kep-config-generated-test
exits_with 0 /tmp/kep-config-generated-check "${json%x}"
# Each program the compiler must reject is refused for its own reason: a
# report with this code, and status 1.
for row in builtin_arity:E2001:"builtin len expects 1 argument(s), got 2" \
    method_arity:E2001:"function argument count mismatch for Counter__add" \
    fixed_collection:E2001:"Tuple items are immutable" \
    private_class:E2001:"unknown native function: lang__lib__shapes__Secret" \
    dictionary_key:E2001:"mutable or collection value cannot be a Dictionary key" \
    intarray_type:E2001:"IntArray append requires an Int" \
    floatarray_type:E2001:"FloatArray append requires a Float" \
    bytearray_type:E2001:"ByteArray append requires an Int" \
    legacy_power:E1100:"expected an expression"; do
  IFS=: read -r name code message <<< "$row"
  "$tmp/kepc" "tests/${name}_negative.kep" "$tmp/negative" > "$tmp/out" 2>&1
  status=$?
  problems=""
  [ "$status" = 1 ] || problems=" status($status)"
  [ "$(head -1 "$tmp/out")" = "error[$code]: $message" ] || problems="$problems report($(head -1 "$tmp/out"))"
  report "${name}_negative refused" "$problems"
done

fake="$root/tests/runner/fake_compiler.sh"
mkdir -p "$tmp/tree/compiler/pure"
cp "$fake" "$tmp/tree/compiler/pure/kepc-direct"
export FAKE_LOG="$tmp/log"
fixed_point="compiler/pure/kepc_direct.kep /tmp/kep-fixed-test"
scalar="tests/compiler/scalar_smoke.kep /tmp/kep-scalar-test"
# label | stand-in's settings | directory | arguments | stdout | stderr | status | first compile
cases=(
  "fixed point reached|FAKE_MODE=self|$root|fixed-point $fake|pure KEP fixed point passed||0|$fixed_point"
  "fixed point missed|FAKE_MODE=other|$root|fixed-point $fake||$(failure "compiler fixed point differs")|1|$fixed_point"
  "fixed point not compiled|FAKE_MODE=fail|$root|fixed-point $fake||$(failure "compile fixed-point stage")|1|$fixed_point"
  "no arguments: full mode with ./compiler/pure/kepc-direct|FAKE_MODE=fail|$tmp/tree|||$(failure "compile scalar smoke")|1|$scalar"
  "a compiler first: full mode, the second argument ignored|FAKE_MODE=fail|$root|$fake fixed-point||$(failure "compile scalar smoke")|1|$scalar"
  "fast mode stops at the first failure|FAKE_MODE=fail|$root|fast $fake||$(failure "compile scalar smoke")|1|$scalar"
  "one byte more|FAKE_MODE=echo FAKE_CORRUPT=tests/codegen_optimization_conformance.kep|$root|fast $fake||$(failure "codegen optimization output differs")|1|$scalar"
  "an optimised image of 60001 bytes|FAKE_MODE=echo FAKE_PADDED=tests/codegen_optimization_conformance.kep FAKE_SIZE=60001|$root|fast $fake||$(failure "optimized standalone ELF exceeds 60000 bytes")|1|$scalar"
)
for row in "${cases[@]}"; do
  IFS='|' read -r label settings dir args out err status first <<< "$row"
  read -ra argv <<< "$args"
  : > "$FAKE_LOG"
  (export $settings; run_kep_test "$dir" "${argv[@]}")
  expect "$label" "$out" "$err" "$status"
  [ "$(head -1 "$FAKE_LOG")" = "$first" ] || report "$label: first compile" " $(head -1 "$FAKE_LOG")"
done
# Every output right though every status is 3 (the kep command and the
# package programs are those the full run built): fast mode passes, with
# an optimised image of exactly 60000 bytes. The hardware test runs only
# when KEP_CUDA_HARDWARE_TEST is exactly "1".
for value in 1 01; do
  : > "$FAKE_LOG"
  (export FAKE_MODE=echo FAKE_PADDED=tests/codegen_optimization_conformance.kep FAKE_SIZE=60000 KEP_CUDA_HARDWARE_TEST=$value; run_kep_test "$root" fast "$fake")
  problems=""
  [ "$(tail -1 "$tmp/out")" = "pure KEP fast tests passed" ] || problems=" stdout($(tail -1 "$tmp/out"))"
  [ "$(cat "$tmp/status")" = 0 ] || problems="$problems status($(cat "$tmp/status")) $(head -c 200 "$tmp/err")"
  report "KEP_CUDA_HARDWARE_TEST=$value" "$problems"
  compiled=no
  grep -q '^tests/cuda_hardware_conformance.kep /tmp/kep-cuda-hardware-test$' "$FAKE_LOG" && compiled=yes
  want=no; [ "$value" = 1 ] && want=yes
  [ "$compiled" = "$want" ] || report "KEP_CUDA_HARDWARE_TEST=$value: hardware test compiled" " $compiled"
done
echo "kep-test: $pass passed, $fail failed"
[ "$fail" = 0 ]
