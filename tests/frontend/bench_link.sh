#!/usr/bin/env bash
# Links a program of 20,000 small functions with kep0 and with the KEP front
# end (the driver's parse and link, link_program.kep, under kep0) and prints
# both times. Not part of the check:
# run it by hand from the repository root when the linker changes.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
python3 -c '
for i in range(20000):
    print("function f%d(x)\n    return x + %d\nend" % (i, i))
print("print f19999(1)")' > "$tmp/functions.kep"
TIMEFORMAT="kep0 (link and run): %R s"
time bootstrap/kep0 "$tmp/functions.kep" > /dev/null
TIMEFORMAT="KEP front end under kep0: %R s"
time bootstrap/kep0 tests/frontend/link_program.kep "$tmp/functions.kep"
