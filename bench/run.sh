#!/usr/bin/env bash
# Times compiled KEP against CPython 3 and kep0 on the same programs: each
# program is compiled by the driver run by kep0, then the image, python3 and
# kep0 each run it (first checking that all three print the same); the
# figure is the best wall time of three runs. The word counts read a
# generated text of about 5 MB, once from a file and once from standard
# input. The second set, written from docs/language.md alone, follows with
# the peak memory of one run of each (kilobytes), and
# the tokenizer over 10,000 and 100,000 characters; a program the compiler
# refuses is named and timed under CPython and kep0 only.
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
# peak COMMAND...: the peak memory (KB) of one run.
peak() {
  { /usr/bin/time -f "%M" "$@" > /dev/null; } 2>&1 | tail -1
}
# row NAME INPUT PROGRAM [ARGUMENT]: one line of the table; the image's
# column is "-" when the compiler refused the program.
row() {
  local name=$1 input=$2 program=$3 c=- p k
  shift 3
  [ -x "$out/$program" ] && c=$(best "$input" "$out/$program" "$@")
  p=$(best "$input" python3 "bench/$program.py" "$@")
  k=$(best "$input" "$kep0" "bench/$program.kep" "$@")
  printf "%-11s %9s %8ss %8ss %13s %11s" "$name" "${c/%[0-9]/&s}" "$p" "$k" "$(ratio "$c" "$p")" "$(ratio "$k" "$p")"
}
# ratio of two times, "-" when the first is missing
ratio() {
  echo "$1 $2" | awk '{ if ($1 != "-" && $2 > 0) printf "%.2f", $1 / $2; else print "-" }'
}
# build PROGRAM [ARGUMENT]: compiles it and checks that the image, CPython
# and kep0 print the same.
build() {
  local program=$1
  shift
  if ! "$kep0" compiler/pure/kepc_direct.kep "bench/$program.kep" "$out/$program" > "$out/compile.out" 2>&1; then
    echo "$program: refused by the compiler: $(head -1 "$out/compile.out")"
    python3 "bench/$program.py" "$@" < "$text" > "$out/python.out"
    "$kep0" "bench/$program.kep" "$@" < "$text" > "$out/kep0.out"
    cmp -s "$out/python.out" "$out/kep0.out" || echo "$program: the outputs differ"
    return
  fi
  "$out/$program" "$@" < "$text" > "$out/compiled.out"
  python3 "bench/$program.py" "$@" < "$text" > "$out/python.out"
  "$kep0" "bench/$program.kep" "$@" < "$text" > "$out/kep0.out"
  cmp -s "$out/compiled.out" "$out/python.out" && cmp -s "$out/compiled.out" "$out/kep0.out" \
    || echo "$program: the outputs differ"
}
programs="fib loop dict strings mandelbrot sort reuse nbody parse words"
second="trees tokens jsonrt report perms bigrams particles maze"
for program in $programs $second; do
  build "$program"
done
printf "%-11s %9s %9s %9s %13s %11s\n" program compiled python3 kep0 compiled/py kep0/py
for program in $programs; do
  if [ "$program" = words ]; then
    row "words file" /dev/null words "$text"
    echo
    row "words stdin" "$text" words
  else
    row "$program" /dev/null "$program"
  fi
  echo
done
echo
printf "%-11s %9s %9s %9s %13s %11s %9s %9s\n" program compiled python3 kep0 compiled/py kep0/py "peak KB" "py KB"
for program in $second; do
  row "$program" /dev/null "$program"
  c=-
  [ -x "$out/$program" ] && c=$(peak "$out/$program")
  printf " %9s %9s\n" "$c" "$(peak python3 "bench/$program.py")"
done
build tokens 10000
row "tokens 10^4" /dev/null tokens 10000
echo
