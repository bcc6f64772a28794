#!/usr/bin/env bash
# Times kep0 against CPython on the same small programs (best of three runs).
# A benchmark, not a test: run it by hand from the repository root.
set -eu
cd "$(dirname "$0")"
kep0=../kep0
best() {
  local best=999999 t
  for _ in 1 2 3; do
    t=$( { /usr/bin/time -f "%e" "$@" > /dev/null; } 2>&1 | tail -1)
    best=$(echo "$t $best" | awk '{print ($1 < $2) ? $1 : $2}')
  done
  echo "$best"
}
printf "%-10s %8s %8s %7s\n" program kep0 python ratio
for program in fib loop dict strings; do
  k=$(best "$kep0" "$program.kep")
  p=$(best python3 "$program.py")
  printf "%-10s %7ss %7ss %7s\n" "$program" "$k" "$p" "$(echo "$k $p" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "-" }')"
done
