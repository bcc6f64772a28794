#!/usr/bin/env bash
# The KEP test programs of tests/stdlib and tests/config compiled and run:
# each must give the output, error text and status that kep0 gives (the
# expected files those suites check under kep0). tests/native/compiled_run.sh
# stands in for kep0. Cases that wait for a fix stand in pending.txt as
# "DIRECTORY/NAME dynamic reason" and are listed, not run. Run from the
# repository root; exits 1 on a failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
export KEP_IMAGE_CACHE="$tmp/images" KEP_CASE_TMP="$tmp/scratch"
mkdir -p "$KEP_IMAGE_CACHE" "$KEP_CASE_TMP"
run=$root/tests/native/compiled_run.sh
failed=0; pass=0; fail=0; pending=0

for src in tests/stdlib/*.kep; do
  base=${src%.kep}
  [ -f "$base.out" ] || continue
  name=stdlib/$(basename "$base")
  reason=$(awk -v name="$name" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print; exit }' tests/native/pending.txt)
  if [ -n "$reason" ]; then
    echo "PENDING $name: $reason"; pending=$((pending + 1)); continue
  fi
  args=()
  [ -f "$base.args" ] && mapfile -t args < "$base.args"
  timeout 600 "$run" "$src" "${args[@]}" < /dev/null > "$tmp/out" 2> "$tmp/err"
  problems=$(case_problems "$base" "$tmp/out" "$tmp/err" $? 0)
  if [ -z "$problems" ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1)); echo "FAIL $name (compiled):$problems"; diff "$base.out" "$tmp/out" | head -10
  fi
done
echo "compiled stdlib cases: $pass passed, $fail failed, $pending pending"
[ "$fail" = 0 ] || failed=1

echo "configuration cases, compiled:"
KEP0=$run bash tests/config/run.sh || failed=1
exit $failed
