#!/usr/bin/env bash
# The language cases of tests/lang compiled by the native compiler (built by
# make) and run,
# under both value conventions: the dynamic one of ordinary programs and the
# raw one of programs below compiler/pure/, for which the cases are copied
# below a scratch compiler/pure/ directory (paths in the output are read
# back as tests/lang/). Standard output, standard error and the exit status
# must equal the files that kep0 satisfies, as tests/run_cases.sh checks
# them for kep0 itself.
#
# Cases that need routines not written yet stand in pending.txt, one line
# "NAME CONVENTION reason" (CONVENTION: dynamic, internal or both); cases
# whose results depend on the value convention stand in dynamic_only.txt
# and run under the dynamic one only. Both are listed, not run. Run from
# the repository root; exits 1 on a failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
kepc=compiler/pure/kepc-direct
pending_list=tests/native/pending.txt
dynamic_only_list=tests/native/dynamic_only.txt
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
export KEP_CASE_TMP="$tmp/scratch"
mkdir -p "$KEP_CASE_TMP" "$tmp/compiler/pure"
cp -r tests/lang "$tmp/compiler/pure/lang"
pass=0; fail=0; pending=0

pending_reason() {  # NAME CONVENTION
  awk -v name="$1" -v convention="$2" '$1 == name && ($2 == convention || $2 == "both") { $1 = ""; $2 = ""; sub(/^ +/, ""); print; exit }' "$pending_list"
  [ "$2" = internal ] && awk -v name="$1" '$1 == name { $1 = ""; sub(/^ +/, ""); print "depends on the value convention: " $0; exit }' "$dynamic_only_list"
}

# compile_and_run SOURCE BASE: the compiler's report when it refuses the
# program, else the program's own run.
compile_and_run() {
  local src=$1 base=$2 args=() input=/dev/null
  [ -f "$base.args" ] && mapfile -t args < "$base.args"
  [ -f "$base.in" ] && input="$base.in"
  rm -f "$tmp/image"
  if ! "$kepc" "$src" "$tmp/image" > "$tmp/out" 2> "$tmp/err"; then
    return 1
  fi
  "$tmp/image" "${args[@]}" < "$input" > "$tmp/out" 2> "$tmp/err"
}

for base in tests/lang/*; do
  case $base in *.kep) ;; *) continue ;; esac
  base=${base%.kep}
  [ -f "$base.out" ] || continue
  name=$(basename "$base")
  for convention in dynamic internal; do
    reason=$(pending_reason "$name" "$convention")
    if [ -n "$reason" ]; then
      echo "PENDING $name ($convention): $reason"
      pending=$((pending + 1))
      continue
    fi
    src=$base.kep
    [ $convention = internal ] && src=$tmp/compiler/pure/lang/$name.kep
    compile_and_run "$src" "$base"
    status=$?
    if [ $convention = internal ]; then
      sed -i "s#$tmp/compiler/pure/lang/#tests/lang/#g" "$tmp/out" "$tmp/err"
    fi
    problems=$(case_problems "$base" "$tmp/out" "$tmp/err" $status 0)
    if [ -z "$problems" ]; then
      pass=$((pass + 1))
    else
      fail=$((fail + 1))
      echo "FAIL $name ($convention):$problems"
      diff "$base.out" "$tmp/out" | head -10
    fi
  done
done
echo "compiled language cases: $pass passed, $fail failed, $pending pending"
[ "$fail" = 0 ]
