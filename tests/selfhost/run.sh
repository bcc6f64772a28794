#!/usr/bin/env bash
# The self-hosting build's own checks, run from the repository root after
# `make` (which already requires stage 1, stage 2 and stage 3 to be equal):
#   1. the stage comparison reports nothing for equal images and, for
#      images that differ, the first differing offset and what lies there;
#   2. the native compiler gives the same image as kep0 running the
#      compiler, for a program outside the compiler;
#   3. heap objects live far above the Ints programs compute with: Ints
#      spread over the low 2 GiB stay Ints while many objects are alive;
#   4. the native compiler reproduces itself with address randomisation
#      off too (the same addresses on every run).
# Exits 1 when anything fails.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
kep0=bootstrap/kep0
kepc=compiler/pure/kepc-direct
here=tests/selfhost
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL $1"; failed=1; }

sample=$here/sample.kep
"$kepc" "$sample" "$tmp/a" || fail "the native compiler refused $sample"

# 1. equal, then a byte changed in the code and one in the literal data
"$kep0" $here/compare_stages.kep "$sample" "$tmp/a" "$tmp/a" > "$tmp/out"
[ $? = 0 ] && [ ! -s "$tmp/out" ] || fail "equal images: status or output"
size=$(stat -c %s "$tmp/a")
flip() {  # flip FILE OFFSET: a copy of the image with one byte changed
  cp "$tmp/a" "$1"
  printf '\x0f' | cmp -s - <(dd if="$1" bs=1 skip="$2" count=1 2>/dev/null) && byte='\x90' || byte='\x0f'
  printf "$byte" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}
flip "$tmp/code" 4000
"$kep0" $here/compare_stages.kep "$sample" "$tmp/a" "$tmp/code" > "$tmp/out"
status=$?
grep -Eq "differ first at byte offset 4000: the code, in [A-Za-z_0-9]+ \+ [0-9]+$" "$tmp/out" && [ $status = 1 ] \
  || fail "code difference: $(cat "$tmp/out") (status $status)"
flip "$tmp/data" $((size - 1))
"$kep0" $here/compare_stages.kep "$sample" "$tmp/a" "$tmp/data" > "$tmp/out"
grep -q "differ first at byte offset $((size - 1)): the literal data, at data offset [0-9]*$" "$tmp/out" \
  || fail "data difference: $(cat "$tmp/out")"

# 2. kep0 running the compiler and the native compiler agree
"$kep0" compiler/pure/kepc_direct.kep "$sample" "$tmp/b"
cmp -s "$tmp/a" "$tmp/b" || fail "kep0 and the native compiler compile $sample differently"

# 3. the sample's own checks (object addresses against nearby Ints)
"$tmp/a" > "$tmp/out" 2>&1
status=$?
cmp -s $here/sample.out "$tmp/out" && [ $status = 0 ] || fail "sample run: $(head -5 "$tmp/out") (status $status)"
"$kep0" "$sample" > "$tmp/out"
cmp -s $here/sample.out "$tmp/out" || fail "sample under kep0: $(head -5 "$tmp/out")"

# 4. without address randomisation
if command -v setarch > /dev/null && setarch -R true 2> /dev/null; then
  setarch -R "$kepc" compiler/pure/kepc_direct.kep "$tmp/self" || fail "self-compile without randomisation: status $?"
  cmp -s "$kepc" "$tmp/self" || fail "self-compile without randomisation differs"
else
  echo "SKIP self-compile without address randomisation: setarch cannot turn it off"
fi

[ $failed = 0 ] && echo "selfhost: all passed"
exit $failed
