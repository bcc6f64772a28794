#!/usr/bin/env bash
# Times compiled KEP against CPython 3 and kep0 on the same programs: each
# program is compiled by the driver run by kep0, then the image, python3 and
# kep0 each run it (first checking that all three print the same); the
# figure is the best wall time of three runs. The word counts read a
# generated text of about 5 MB, once from a file and once from standard
# input.
# A benchmark, not a test: run it by hand from the repository root.
set -eu
cd "$(dirname "$0")/.."
kep0=bootstrap/kep0
out=$(mktemp -d); trap 'rm -rf "$out"' EXIT
text=$out/words.txt
python3 bench/words_text.py "$text"
# best INPUT COMMAND...: the best wall time of three runs reading INPUT.
best() {
  local input=$1 best=999999 t
  shift
  for _ in 1 2 3; do
    t=$( { /usr/bin/time -f "%e" "$@" < "$input" > /dev/null; } 2>&1 | tail -1)
    best=$(echo "$t $best" | awk '{print ($1 < $2) ? $1 : $2}')
  done
  echo "$best"
}
ratio() {
  echo "$1 $2" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "-" }'
}
# row NAME INPUT PROGRAM [ARGUMENT]: one line of the table.
row() {
  local name=$1 input=$2 program=$3 c p k
  shift 3
  c=$(best "$input" "$out/$program" "$@")
  p=$(best "$input" python3 "bench/$program.py" "$@")
  k=$(best "$input" "$kep0" "bench/$program.kep" "$@")
  printf "%-11s %8ss %8ss %8ss %13s %11s\n" "$name" "$c" "$p" "$k" "$(ratio "$c" "$p")" "$(ratio "$k" "$p")"
}
programs="fib loop dict strings mandelbrot sort reuse nbody parse words"
for program in $programs; do
  "$kep0" compiler/pure/kepc_direct.kep "bench/$program.kep" "$out/$program"
  "$out/$program" < "$text" > "$out/compiled.out"
  python3 "bench/$program.py" < "$text" > "$out/python.out"
  "$kep0" "bench/$program.kep" < "$text" > "$out/kep0.out"
  cmp -s "$out/compiled.out" "$out/python.out" && cmp -s "$out/compiled.out" "$out/kep0.out" \
    || echo "$program: the outputs differ"
done
printf "%-11s %9s %9s %9s %13s %11s\n" program compiled python3 kep0 compiled/py kep0/py
for program in $programs; do
  if [ "$program" = words ]; then
    row "words file" /dev/null words "$text"
    row "words stdin" "$text" words
  else
    row "$program" /dev/null "$program"
  fi
done
