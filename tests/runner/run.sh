#!/usr/bin/env bash
# kep-test (conformance/kep_test.kep), compiled, against the real compiler
# in fast mode, and its modes, labels and failure protocol against a
# stand-in compiler (fake_compiler.sh). The suite's scratch files have fixed
# names under /tmp, so every run of kep-test holds /tmp/kep-test-suite.lock.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
pass=0; fail=0
report() {  # report LABEL PROBLEMS
  if [ -z "$2" ]; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL $1:$2"; fi
}
compile=(bootstrap/kep0 tests/runtime/compile_with_traps.kep compiler/pure/dynamic_stdlib.kep)
if ! "${compile[@]}" conformance/kep_test.kep "$tmp/kep-test" > "$tmp/build.out" 2>&1; then
  echo "FAIL kep-test does not compile:"; head -5 "$tmp/build.out"; exit 1
fi
# The compiler under test while the self-compiled one is not built here.
cat > "$tmp/kepc" <<SCRIPT
#!/bin/sh
exec "$root/${compile[0]}" "$root/${compile[1]}" "$root/${compile[2]}" "\$1" "\$2"
SCRIPT
chmod +x "$tmp/kepc"

# run_kep_test CWD ARGS...: kep-test's output in $tmp/out, $tmp/err, $tmp/status.
run_kep_test() {
  local cwd=$1; shift
  (cd "$cwd" && flock /tmp/kep-test-suite.lock "$tmp/kep-test" "$@") > "$tmp/out" 2> "$tmp/err" < /dev/null
  echo $? > "$tmp/status"
}
# expect LABEL OUT ERR STATUS: compares the last run.
expect() {
  local problems=""
  [ "$(cat "$tmp/out")" = "$2" ] || problems="$problems stdout($(head -c 300 "$tmp/out"))"
  [ "$(cat "$tmp/err")" = "$3" ] || problems="$problems stderr($(head -c 300 "$tmp/err"))"
  [ "$(cat "$tmp/status")" = "$4" ] || problems="$problems status($(cat "$tmp/status"))"
  report "$1" "$problems"
}

started=$SECONDS
run_kep_test "$root" fast "$tmp/kepc"
expect "fast mode with the compiler" "pure KEP fast tests passed" "" 0
echo "kep-test fast: $((SECONDS - started)) s"

fake="$root/tests/runner/fake_compiler.sh"
mkdir -p "$tmp/tree/compiler/pure"
cp "$fake" "$tmp/tree/compiler/pure/kepc-direct"
export FAKE_LOG="$tmp/log"
failure() { printf 'KEP runtime error: TestFailure: %s' "$1"; }
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
  "outputs equal, statuses not examined|FAKE_MODE=echo|$root|fast $fake|pure KEP fast tests passed||0|$scalar"
  "one byte more|FAKE_MODE=echo FAKE_CORRUPT=tests/table_growth_conformance.kep|$root|fast $fake||$(failure "table growth conformance output differs")|1|$scalar"
  "full mode goes on to the fixed point|FAKE_MODE=echo|$root|full $fake||$(failure "compiler fixed point differs")|1|$scalar"
)
for row in "${cases[@]}"; do
  IFS='|' read -r label settings dir args out err status first <<< "$row"
  read -ra argv <<< "$args"
  : > "$FAKE_LOG"
  (export $settings; run_kep_test "$dir" "${argv[@]}")
  expect "$label" "$out" "$err" "$status"
  [ "$(head -1 "$FAKE_LOG")" = "$first" ] || report "$label: first compile" " $(head -1 "$FAKE_LOG")"
done
echo "kep-test: $pass passed, $fail failed"
[ "$fail" = 0 ]
