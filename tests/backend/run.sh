#!/usr/bin/env bash
# Machine-code back end suite: byte lists, encoders, assembler, ELF writer.
#   1. golden cases (fixed byte tables, labels and fixups, assembler errors);
#   2. every encoder against the GNU assembler (skipped without binutils);
#   3. the labelled program of fixup_program.kep against as and ld;
#   4. the first native program: built, run, read back with readelf.
# Runs from the repository root; exits 1 when any part fails.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
kep0=${KEP_RUN:-bootstrap/kep0}
here=tests/backend
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
failed=0

echo "-- golden cases"
bash tests/run_cases.sh "$here" || failed=1

missing=""
for tool in as ld objcopy objdump nm; do
  command -v "$tool" > /dev/null || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  echo "SKIP binutils comparison and as+ld fixups: not found:$missing"
else
  echo "-- encoders against the GNU assembler"
  if "$kep0" "$here/encoder_cases.kep" > "$tmp/cases.txt"; then
    python3 "$here/compare_with_gas.py" < "$tmp/cases.txt" || failed=1
  else
    echo "FAIL encoder_cases.kep did not run"; failed=1
  fi

  echo "-- labels and fixups against as and ld"
  if as -o "$tmp/fixups.o" "$here/fixup_program.s" &&
     ld -o "$tmp/fixups" -e start -Ttext=0x400078 "$tmp/fixups.o" &&
     objcopy -O binary -j .text "$tmp/fixups" "$tmp/fixups.bin"; then
    want=$(python3 -c 'import sys; print(open(sys.argv[1], "rb").read().hex(" ").upper())' "$tmp/fixups.bin")
    got=$("$kep0" "$here/fixup_program.kep")
    if [ "$got" = "$want" ]; then
      echo "fixups: same $(( ${#want} / 3 + 1 )) bytes as as+ld"
    else
      echo "FAIL fixups differ from as+ld"; echo "  kep   $got"; echo "  as+ld $want"; failed=1
    fi
  else
    echo "FAIL fixup_program.s did not assemble and link"; failed=1
  fi
fi

echo "-- first native program"
python3 "$here/check_first_program.py" "$kep0" "$tmp" || failed=1

exit $failed
