#!/usr/bin/env bash
# Cases that only the bootstrap interpreter has: its own limits and refusals.
set -u
cd "$(dirname "$0")/../.."
. tests/case_check.sh
status=0
bash tests/run_cases.sh tests/kep0 || status=1
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
exhausted="KEP runtime error: MemoryError: allocator or object table exhausted"

# kep0 and the compiler know the same built-ins and methods; the program
# names every difference.
KEP_CASE_TMP="$tmp" bootstrap/kep0 tests/kep0/executor_tables.kep || { echo "FAIL tests/kep0/executor_tables.kep"; status=1; }

# Exhausted memory ends the program as a compiled one ends: status 70 and
# the allocator's report (the address space is limited so that it happens
# quickly).
expect_failure tests/kep0/memory.kep 70 "$exhausted" \
  bash -c 'ulimit -v 3000000; exec bootstrap/kep0 tests/kep0/memory.kep' || status=1

# Output that cannot be written is an error, as in a compiled program.
printf 'print "lost"\n' > "$tmp/print.kep"
expect_failure "print to a full standard output" 1 "KEP runtime error: FileError: cannot write stdout" \
  bash -c 'exec bootstrap/kep0 "$0" > /dev/full' "$tmp/print.kep" || status=1

# One program a row, and how kep0 ends it:
#   sizes whose byte count no memory holds (or that overflow a word) end the
#   program as exhausted memory does, whatever built-in asked for them;
#   native libraries and raw memory need a compiled program: kep0
#   refuses them by name before doing anything.
refused() { echo "kep0: the built-in $1 is not available in the bootstrap interpreter"; }
cases=(
  'print len(float_zeros(4611686018427387904))' 70 "$exhausted"
  'print len(__kep_int_zeros(2305843009213693952))' 70 "$exhausted"
  'print len(__kep_byte_zeros(4611686018427387904))' 70 "$exhausted"
  'a = float_zeros(0)
print float_matmul(a, a, 4294967296, 0, 4294967296)' 70 "$exhausted"
  'print native_open("lib.so")' 1 "$(refused native_open)"
  'print native_call(0, [1, 2, 3, 4, 5, 6])' 1 "$(refused native_call)"
  'print __kep_fd_mmap(0, 4096, 0)' 1 "$(refused __kep_fd_mmap)"
  'print __kep_mem_pack(1, __kep_int_zeros(1), 0, 0, 1)' 1 "$(refused __kep_mem_pack)"
  'print __kep_test_fd_fault(1)' 1 "$(refused __kep_test_fd_fault)"
)
for ((i = 0; i < ${#cases[@]}; i += 3)); do
  printf '%s\n' "${cases[i]}" > "$tmp/case.kep"
  expect_failure "${cases[i]}" "${cases[i + 1]}" "${cases[i + 2]}" bootstrap/kep0 "$tmp/case.kep" || status=1
done
echo "limits and refusals: checked $((${#cases[@]} / 3 + 2))"
exit $status
