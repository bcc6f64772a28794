#!/usr/bin/env bash
# kep-install, run in scratch source trees (the real sources, with small
# stand-ins for programs not built here) into scratch prefixes:
#   1. what it installs, where, byte for byte, and that a second run, and a
#      run of the installed installer over its own prefix, succeed;
#   2. the order of the copies, seen through the first missing source;
#   3. refusals and failure reports, and that a failed or interrupted copy
#      leaves the file it would have replaced whole;
#   4. the installed tree used from outside the source tree: its compiler
#      sources and library compile a program that loads json and a module of
#      its own; with a native kepc, the installed kepc does so with HOME
#      elsewhere, the installed kep-configure writes an evaluator, the
#      installed kep runs a program from standard input, and the installed
#      kepc compiles its own installed source to itself, byte for byte.
# Run from anywhere; exits 1 on a failure.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. tests/case_check.sh
kep0=$root/bootstrap/kep0
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
pass=0; fail=0

native=$root/compiler/pure/kepc-direct
# compile SOURCE OUTPUT: with the native compiler where it was built, else
# with kep0 running the compiler's own sources.
compile() {
  if [ -x "$native" ]; then
    "$native" "$1" "$2"
  else
    "$kep0" compiler/pure/kepc_direct.kep "$1" "$2"
  fi
}

installer=$root/compiler/pure/kep-install
if [ ! -x "$installer" ]; then
  installer=$tmp/kep-install
  compile compiler/pure/install.kep "$installer" > "$tmp/compile.out" 2>&1 || {
    echo "FAIL kep-install does not compile:"; cat "$tmp/compile.out"; exit 1; }
fi

# Programs a tree holds, built here or not: a program not built gets a
# one-line stand-in, so that the copies can be followed anyway.
programs=(compiler/pure/kep-cli compiler/pure/kepc-direct compiler/pure/kep-configure tests/kep-test)
# make_tree DIR: a source tree with the real sources and the installer.
make_tree() {
  mkdir -p "$1/compiler/pure" "$1/stdlib" "$1/tests" "$1/cuda"
  cp compiler/pure/*.kep "$1/compiler/pure/"
  cp stdlib/*.kep "$1/stdlib/"
  cp "$installer" "$1/compiler/pure/kep-install"
  for program in "${programs[@]}"; do
    if [ -x "$program" ]; then cp "$program" "$1/$program"; else printf 'stand-in for %s\n' "$program" > "$1/$program"; fi
  done
  # The sources of the kep command, while they are being written elsewhere.
  for source in compiler/pure/cli.kep compiler/pure/package.kep; do
    [ -f "$1/$source" ] || printf '# stand-in for %s\n' "$source" > "$1/$source"
  done
}

# install TREE ARG...: runs the installer in TREE; results in $tmp/out, err, status.
install() {
  local tree=$1
  shift
  runs_in "$tree" "$installer" "$@"
}

# installed_as TREE PREFIX: every program and source of TREE at its place
# below PREFIX, byte for byte, and nothing else there.
installed_as() {
  local tree=$1 prefix=$2 problems="" expected actual
  expected=$(
    cd "$tree"
    for program in "${programs[@]}" compiler/pure/kep-install cuda/kep-cuda-worker; do
      [ -f "$program" ] && echo "$program bin/$(basename "$program")"
    done | sed -e 's| bin/kep-cli$| bin/kep|' -e 's| bin/kepc-direct$| bin/kepc|'
    for source in compiler/pure/*.kep stdlib/*.kep; do echo "$source lib/kep/$source"; done)
  while read -r source destination; do
    cmp -s "$tree/$source" "$prefix/$destination" || problems="$problems $destination"
  done <<< "$expected"
  actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
  [ "$actual" = "$(cut -d' ' -f2 <<< "$expected" | sort)" ] || problems="$problems file-set($(comm -13 <(cut -d' ' -f2 <<< "$expected" | sort) <(echo "$actual") | tr '\n' ' '))"
  printf '%s' "$problems"
}

# ---------------------------------------------------------------- 1. installs

tree=$tmp/tree; make_tree "$tree"
prefix=$tmp/prefix
install "$tree" "$prefix"
report "install into a new prefix" "$(run_problems 0 "installed pure KEP into $prefix" "")$(installed_as "$tree" "$prefix")"
# Every module an installed compiler source loads is installed beside it.
problems=""
for source in "$prefix"/lib/kep/compiler/pure/*.kep; do
  for module in $(sed -n 's/^[[:space:]]*\(load\|from\)[[:space:]]\+\([A-Za-z_][A-Za-z0-9_]*\).*/\2/p' "$source"); do
    [ -f "$prefix/lib/kep/compiler/pure/$module.kep" ] || [ -f "$prefix/lib/kep/stdlib/$module.kep" ] || problems="$problems $(basename "$source"):$module"
  done
done
report "the installed compiler sources load only installed modules" "$problems"

printf '# changed since the first run\n' >> "$tree/stdlib/time.kep"
install "$tree" "$prefix"
report "a second run replaces every file" "$(run_problems 0 "installed pure KEP into $prefix" "")$(installed_as "$tree" "$prefix")"
# The running installer is one of the files it replaces.
runs_in "$tree" "$prefix/bin/kep-install" "$prefix"
report "the installed installer reinstalls over itself" "$(run_problems 0 "installed pure KEP into $prefix" "")$(installed_as "$tree" "$prefix")"

printf 'stand-in for the GPU worker\n' > "$tree/cuda/kep-cuda-worker"
install "$tree" "$tmp/with-worker"
report "install with the GPU worker" "$(run_problems 0 "installed pure KEP into $tmp/with-worker" "")$(installed_as "$tree" "$tmp/with-worker")"
rm "$tree/cuda/kep-cuda-worker"

# Prefixes taken as written: a trailing "/", a relative one.
for prefix_text in "$tmp/slash/" "relative-prefix"; do
  install "$tree" "$prefix_text"
  problems=$(run_problems 0 "installed pure KEP into $prefix_text" "")
  (cd "$tree" && [ -f "$prefix_text/bin/kepc" ] && [ -f "$prefix_text/lib/kep/stdlib/json.kep" ]) || problems="$problems not-installed"
  report "prefix '$prefix_text'" "$problems"
done
rm -rf "$tree/relative-prefix"

# ---------------------------------------------------------------- 2. order
# A source that cannot be read (a directory in its place) ends the run at
# its turn. SOURCE MADE UNREADABLE | installed before it | not installed
order_cases=(
  "tests/kep-test|bin/kep bin/kepc bin/kep-configure|bin/kep-test bin/kep-install lib/kep/compiler/pure/assembler.kep"
  "compiler/pure/assembler.kep|bin/kep-install bin/kep-cuda-worker|lib/kep/compiler/pure/bytes.kep"
  "compiler/pure/kepc_direct.kep|lib/kep/compiler/pure/linker.kep|lib/kep/compiler/pure/native_runtime.kep"
  "compiler/pure/x86_64.kep|lib/kep/compiler/pure/process_runtime.kep|lib/kep/compiler/pure/codegen_builtins.kep"
  "compiler/pure/codegen_calls.kep|lib/kep/compiler/pure/codegen_builtins_system.kep|lib/kep/compiler/pure/codegen_division.kep lib/kep/stdlib/ai.kep"
  "stdlib/ai.kep|lib/kep/compiler/pure/io_runtime_text.kep|lib/kep/stdlib/config.kep"
  "stdlib/kconf.kep|lib/kep/stdlib/json.kep|lib/kep/stdlib/tuv.kep"
)
printf 'stand-in for the GPU worker\n' > "$tree/cuda/kep-cuda-worker"
for row in "${order_cases[@]}"; do
  IFS='|' read -r missing present absent <<< "$row"
  mv "$tree/$missing" "$tmp/aside"; mkdir "$tree/$missing"
  prefix=$(mktemp -d "$tmp/order.XXXX")
  install "$tree" "$prefix"
  rmdir "$tree/$missing"; mv "$tmp/aside" "$tree/$missing"
  problems=$(run_problems 1 "" "KEP runtime error: FileError: cannot read file")
  for path in $present; do [ -f "$prefix/$path" ] || problems="$problems missing:$path"; done
  for path in $absent; do [ -e "$prefix/$path" ] && problems="$problems present:$path"; done
  report "without $missing" "$problems"
done
rm "$tree/cuda/kep-cuda-worker"

# ---------------------------------------------------------------- 3. failures

install "$tree" ""
report "empty prefix" "$(run_problems 2 "" "kep-install: empty prefix")"

# An argument that begins with "-" is no prefix, and a second argument is
# one too many: a usage error, before anything is created.
for arguments in "--help" "-" "-x" "$tmp/extra one" "$tmp/extra ''" "$tmp/extra $tmp/extra"; do
  before=$(cd "$tree" && find . | sort)
  eval "install \"\$tree\" $arguments"
  problems=$(run_problems 2 "" "usage: kep-install [PREFIX]")
  [ "$(cd "$tree" && find . | sort)" = "$before" ] || problems="$problems created"
  [ -e "$tmp/extra" ] && problems="$problems prefix-created"
  report "arguments '$arguments'" "$problems"
done

# Sources missing (outside the source tree, or a source taken away): the
# first is named and nothing is created. DIRECTORY|SOURCES TAKEN AWAY|STDERR
missing_cases=(
  "$tree|tests/kep-test|kep-install: missing tests/kep-test: run it from the root of the built source tree"
  "$tree|stdlib/json.kep compiler/pure/lexer.kep|kep-install: missing compiler/pure/lexer.kep: run it from the root of the built source tree"
  "$tmp|-|kep-install: missing compiler/pure/kep-cli: run it from the root of the built source tree"
)
for row in "${missing_cases[@]}"; do
  IFS='|' read -r directory taken stderr <<< "$row"
  [ "$taken" = - ] && taken=""
  for source in $taken; do mv "$tree/$source" "$tmp/aside.$(basename "$source")"; done
  runs_in "$directory" "$installer" "$tmp/never"
  for source in $taken; do mv "$tmp/aside.$(basename "$source")" "$tree/$source"; done
  problems=$(run_problems 1 "" "$stderr")
  [ -e "$tmp/never" ] && problems="$problems created" && rm -rf "$tmp/never"
  report "missing sources in $(basename "$directory"): ${taken:-all}" "$problems"
done

install "$tree" "$tmp/no/such/parent"
report "prefix below a missing directory" "$(run_problems 1 "" "KEP runtime error: FileError: cannot write file")"

mv "$tree/stdlib/time.kep" "$tmp/time.kep"; mkdir "$tree/stdlib/time.kep"
install "$tree" "$tmp/unreadable"
rmdir "$tree/stdlib/time.kep"; mv "$tmp/time.kep" "$tree/stdlib/time.kep"
report "a source that cannot be read" "$(run_problems 1 "" "KEP runtime error: FileError: cannot read file")"

# A destination that cannot be replaced: the copy fails, and what was there
# stays as it was, with no temporary file beside it.
prefix=$tmp/blocked
install "$tree" "$prefix"
rm "$prefix/lib/kep/stdlib/time.kep"; mkdir "$prefix/lib/kep/stdlib/time.kep"
printf 'kept\n' > "$prefix/lib/kep/stdlib/time.kep/note"
before=$(cd "$prefix/lib/kep/stdlib" && ls -A)
install "$tree" "$prefix"
problems=$(run_problems 1 "" "KEP runtime error: FileError: cannot write file")
[ "$(cat "$prefix/lib/kep/stdlib/time.kep/note" 2>/dev/null)" = kept ] || problems="$problems directory-changed"
[ "$(cd "$prefix/lib/kep/stdlib" && ls -A)" = "$before" ] || problems="$problems left:$(cd "$prefix/lib/kep/stdlib" && ls -A | tr '\n' ' ')"
report "a destination that cannot be replaced" "$problems"

# The temporary files that interrupted runs left beside destinations (the
# GPU worker's too, though this tree has none) are gone after the next run.
prefix=$tmp/leftovers
install "$tree" "$prefix"
for path in bin/kepc bin/kep-cuda-worker lib/kep/compiler/pure/lexer.kep lib/kep/stdlib/json.kep; do
  printf 'half a file\n' > "$prefix/$path.kep-install-new"
done
install "$tree" "$prefix"
problems=$(run_problems 0 "installed pure KEP into $prefix" "")$(installed_as "$tree" "$prefix")
report "temporary files of an interrupted run removed" "$problems"

# A run that fails or dies while it writes bin/kepc (its second write, made
# to fail or to kill it through strace) leaves the bin/kepc of the earlier
# installation whole. FAULT|STATUS|STDERR
fault_cases=(
  "error=ENOSPC|1|KEP runtime error: FileError: cannot write file"
  "signal=KILL|137|"
)
if command -v strace > /dev/null && ! strace -o /dev/null -e trace=write -e inject=write:error=ENOSPC:when=1 echo 2> /dev/null; then
  prefix=$tmp/interrupted
  install "$tree" "$prefix"
  cp "$prefix/bin/kepc" "$tmp/kepc-before"
  cp "$tree/compiler/pure/kepc-direct" "$tmp/kepc-source"
  printf 'a newer compiler\n' >> "$tree/compiler/pure/kepc-direct"
  for row in "${fault_cases[@]}"; do
    IFS='|' read -r fault status stderr <<< "$row"
    # (The shell's own note of the killed run is not wanted.)
    { (cd "$tree" && strace -o /dev/null -e trace=write -e inject=write:$fault:when=2 "$installer" "$prefix") > "$tmp/out" 2> "$tmp/err"
      echo $? > "$tmp/status"; } 2> /dev/null
    problems=$(run_problems "$status" "" "$stderr")
    cmp -s "$prefix/bin/kepc" "$tmp/kepc-before" || problems="$problems bin/kepc-damaged"
    report "a run that meets $fault while writing" "$problems"
  done
  cp "$tmp/kepc-source" "$tree/compiler/pure/kepc-direct"
else
  echo "SKIP interrupted writes: strace cannot inject faults here"
fi

# ---------------------------------------------------------------- 4. use
# A program outside the source tree that loads json from the installed
# library and a module beside it; HOME holds a json of its own, which the
# installed one precedes, and a module found only there.
prefix=$tmp/prefix
away=$tmp/away; home=$tmp/home
mkdir -p "$away" "$home/.local/lib/kep/stdlib"
printf 'function encode(value)\n    return "the json module of HOME"\nend\n' > "$home/.local/lib/kep/stdlib/json.kep"
printf 'function greeting()\n    return "from HOME"\nend\n' > "$home/.local/lib/kep/stdlib/personal.kep"
printf 'function double(n)\n    return 2 * n\nend\n' > "$away/util.kep"
cat > "$away/prog.kep" <<'EOF'
load json
load util
load personal
print json.encode({"doubled": util.double(21), "list": [1, "two"]})
print json.decode("[3, 4]")[1], personal.greeting()
EOF
expected='{"doubled": 42, "list": [1, "two"]}
4 from HOME'

# The installed compiler sources, run by kep0 in the installed tree, find the
# installed library there: nothing comes from the source tree.
(cd "$prefix/lib/kep" && HOME=$home "$kep0" compiler/pure/kepc_direct.kep "$away/prog.kep" "$away/prog-from-sources") > "$tmp/out" 2>&1
problems=""
[ -s "$tmp/out" ] && problems=" compile($(head -3 "$tmp/out"))"
[ "$(cd "$away" && HOME=$home ./prog-from-sources 2>&1)" = "$expected" ] || problems="$problems output($(cd "$away" && ./prog-from-sources 2>&1 | head -3))"
report "the installed sources compile a program" "$problems"

built() {  # built PROGRAM: whether the tree holds a build of it, not a stand-in
  [ -x "$root/$1" ]
}
if built compiler/pure/kepc-direct; then
  (cd "$away" && HOME=$home "$prefix/bin/kepc" prog.kep prog && HOME=$home ./prog) > "$tmp/out" 2>&1
  problems=""
  [ "$(cat "$tmp/out")" = "$expected" ] || problems=" output($(head -3 "$tmp/out"))"
  report "the installed kepc compiles outside the tree" "$problems"

  (cd "$prefix/lib/kep" && HOME=$home "$prefix/bin/kepc" compiler/pure/kepc_direct.kep "$tmp/kepc-again") > "$tmp/out" 2>&1
  problems=""
  cmp -s "$tmp/kepc-again" "$prefix/bin/kepc" || problems=" differs($(head -3 "$tmp/out"))"
  report "the installed kepc compiles its installed source to itself" "$problems"
else
  echo "SKIP the installed kepc: compiler/pure/kepc-direct is not built"
fi

if built compiler/pure/kep-configure && built compiler/pure/kepc-direct; then
  printf 'config = {"name": "away", "port": 8080}\n' > "$away/app.kep"
  (cd "$away" && HOME=$home "$prefix/bin/kep-configure" app.kep .app-evaluator.kep \
    && HOME=$home "$prefix/bin/kepc" .app-evaluator.kep app-evaluator && ./app-evaluator) > "$tmp/out" 2>&1
  problems=""
  [ "$(cat "$tmp/out")" = '{"name": "away", "port": 8080}' ] || problems=" output($(head -3 "$tmp/out"))"
  report "the installed kep-configure writes an evaluator" "$problems"
else
  echo "SKIP the installed kep-configure: it is not built"
fi

if built compiler/pure/kep-cli; then
  (cd "$away" && printf 'load time\nprint "stdin", 6 * 7, time.time() > 1577836800.0\nexit\n' | HOME=$home "$prefix/bin/kep") > "$tmp/out" 2>&1
  problems=""
  [ "$(cat "$tmp/out")" = "stdin 42 True" ] || problems=" output($(head -3 "$tmp/out"))"
  report "the installed kep runs a program from standard input" "$problems"
else
  echo "SKIP the installed kep: compiler/pure/kep-cli is not built"
fi

# make install from the root of the tree, once every program is built.
if built compiler/pure/kep-cli && built tests/kep-test && built compiler/pure/kepc-direct && built compiler/pure/kep-configure; then
  make --no-print-directory install PREFIX="$tmp/made" > "$tmp/out" 2>&1
  problems=""
  [ "$(tail -1 "$tmp/out")" = "installed pure KEP into $tmp/made" ] || problems=" output($(tail -3 "$tmp/out"))"
  cmp -s "$tmp/made/bin/kepc" compiler/pure/kepc-direct || problems="$problems bin/kepc"
  report "make install PREFIX=..." "$problems"
else
  echo "SKIP make install: not every program is built"
fi

echo "install: $pass passed, $fail failed"
[ "$fail" = 0 ]
