#!/usr/bin/env bash
# Times compiled KEP against CPython 3 and kep0 on the same programs: each
# program is compiled by the driver run by kep0, then the image, python3 and kep0 each run it; the figure is the best wall time
# of three runs.
# A benchmark, not a test: run it by hand from the repository root.
set -eu
cd "$(dirname "$0")/.."
kep0=bootstrap/kep0
out=$(mktemp -d); trap 'rm -rf "$out"' EXIT
best() {
  local best=999999 t
  for _ in 1 2 3; do
    t=$( { /usr/bin/time -f "%e" "$@" > /dev/null; } 2>&1 | tail -1)
    best=$(echo "$t $best" | awk '{print ($1 < $2) ? $1 : $2}')
  done
  echo "$best"
}
printf "%-11s %9s %9s %9s %13s %11s\n" program compiled python3 kep0 compiled/py kep0/py
for program in fib loop dict strings mandelbrot sort; do
  "$kep0" compiler/pure/kepc_direct.kep "bench/$program.kep" "$out/$program"
  c=$(best "$out/$program")
  p=$(best python3 "bench/$program.py")
  k=$(best "$kep0" "bench/$program.kep")
  printf "%-11s %8ss %8ss %8ss %13s %11s\n" "$program" "$c" "$p" "$k" \
    "$(echo "$c $p" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "-" }')" \
    "$(echo "$k $p" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "-" }')"
done
