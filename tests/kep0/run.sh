#!/usr/bin/env bash
# Cases that only the bootstrap interpreter has: its own limits and refusals.
set -u
cd "$(dirname "$0")/../.."
status=0
bash tests/run_cases.sh tests/kep0 || status=1
# Exhausted memory ends the program as a compiled one ends: status 70 and
# the allocator's report (the address space is limited so that it happens
# quickly).
report=$( (ulimit -v 3000000; bootstrap/kep0 tests/kep0/memory.kep) 2>&1 >/dev/null)
code=$?
if [ $code -ne 70 ] || [ "$report" != "KEP runtime error: MemoryError: allocator or object table exhausted" ]; then
  echo "FAIL tests/kep0/memory.kep: status $code, stderr: $report"
  status=1
else
  echo "memory exhaustion: ok"
fi
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
# Output that cannot be written is an error, as in a compiled program.
printf 'print "lost"\n' > "$tmp/print.kep"
report=$(bootstrap/kep0 "$tmp/print.kep" 2>&1 >/dev/full)
code=$?
if [ $code -ne 1 ] || [ "$report" != "KEP runtime error: FileError: cannot write stdout" ]; then
  echo "FAIL print to a full standard output: status $code, stderr: $report"
  status=1
fi

# Sizes whose byte count no memory holds (or that overflow a word) end the
# program the same way, whatever built-in asked for them.
impossible=(
  'print len(float_zeros(4611686018427387904))'
  'print len(__kep_int_zeros(2305843009213693952))'
  'print len(__kep_byte_zeros(4611686018427387904))'
  'a = float_zeros(0)
print float_matmul(a, a, 4294967296, 0, 4294967296)'
)
for program in "${impossible[@]}"; do
  printf '%s\n' "$program" > "$tmp/size.kep"
  report=$(bootstrap/kep0 "$tmp/size.kep" 2>&1 >/dev/null)
  code=$?
  if [ $code -ne 70 ] || [ "$report" != "KEP runtime error: MemoryError: allocator or object table exhausted" ]; then
    echo "FAIL impossible size ($program): status $code, stderr: $report"
    status=1
  fi
done
echo "impossible sizes: checked ${#impossible[@]}"
exit $status
