#!/usr/bin/env bash
# The standard library's modules: every NAME.kep here that has a NAME.out,
# run by kep0 and compiled (by the native compiler where it was built, else
# by kep0 running the compiler's sources) and run; both must give NAME.out.
# Exits 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
here=tests/modules
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
# Cases write their scratch files below it, compiled as under kep0.
export KEP_CASE_TMP=$tmp
failed=0
bash tests/run_cases.sh "$here" || failed=1

native=compiler/pure/kepc-direct
pass=0; fail=0
for src in "$here"/*.kep; do
  base=${src%.kep}
  [ -f "$base.out" ] || continue
  image=$tmp/$(basename "$base")
  if [ -x "$native" ]; then
    "$native" "$src" "$image" > "$tmp/compile" 2>&1
  else
    bootstrap/kep0 compiler/pure/kepc_direct.kep "$src" "$image" > "$tmp/compile" 2>&1
  fi
  if [ $? != 0 ]; then
    fail=$((fail + 1)); echo "FAIL $src: does not compile: $(head -3 "$tmp/compile")"; continue
  fi
  "$image" < /dev/null > "$tmp/out" 2> "$tmp/err"
  problems=$(case_problems "$base" "$tmp/out" "$tmp/err" $? 0)
  if [ -z "$problems" ]; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL $src compiled:$problems"; fi
done
echo "compiled: $pass passed, $fail failed"
[ "$fail" = 0 ] && [ "$failed" = 0 ]
