#!/usr/bin/env bash
# Runs golden KEP cases: every DIR/NAME.kep that has a NAME.out next to it.
#   NAME.out     expected standard output (required)
#   NAME.err     expected standard error (default: empty)
#   NAME.status  expected exit status (default: 0)
#   NAME.args    arguments, one per line (optional)
#   NAME.in      standard input (optional; default: empty)
# The runner is the first argument's executor (default: bootstrap/kep0) and runs
# from the repository root. Ends with "N passed, N failed"; exits 1 on any failure.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runner=${KEP_RUN:-bootstrap/kep0}
pass=0; fail=0
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
for dir in "$@"; do
  for src in "$dir"/*.kep; do
    base=${src%.kep}
    [ -f "$base.out" ] || continue
    args=()
    [ -f "$base.args" ] && mapfile -t args < "$base.args"
    input=/dev/null; [ -f "$base.in" ] && input="$base.in"
    $runner "$src" "${args[@]}" < "$input" > "$tmp/out" 2> "$tmp/err"
    status=$?
    want_status=0; [ -f "$base.status" ] && want_status=$(cat "$base.status")
    want_err=/dev/null; [ -f "$base.err" ] && want_err="$base.err"
    problems=""
    cmp -s "$tmp/out" "$base.out" || problems="$problems stdout"
    cmp -s "$tmp/err" "$want_err" || problems="$problems stderr"
    [ "$status" = "$want_status" ] || problems="$problems status($status, want $want_status)"
    if [ -z "$problems" ]; then
      pass=$((pass + 1))
    else
      fail=$((fail + 1))
      echo "FAIL $src:$problems"
      if [ -n "${VERBOSE:-}" ]; then
        diff "$base.out" "$tmp/out" | head -20
        diff "$want_err" "$tmp/err" | head -20
      fi
    fi
  done
done
echo "$pass passed, $fail failed"
[ "$fail" = 0 ]
