#!/usr/bin/env python3
"""Runs random programs under kep0 and compiled, and compares them.

    compare.py [--first SEED] [--count N] [--jobs J] [--compiler COMMAND]
               [--batch B]

For each seed from FIRST on, the program of generate.py is run by
bootstrap/kep0 and compiled by COMMAND (words; SOURCE and OUTPUT are
appended) and run. Standard output, standard error and the exit status must
be equal. For a difference the seed is printed with the smallest program
that still shows it (statements removed one at a time while the difference
stays) and both results. Run from the repository root; exits 1 when any
program differs. Prints "N programs, N differ".

With --batch B (for long runs, where compiling the library into every
image is most of the time) B programs at a time are renamed apart and run
as one, each program's top level in a function of its own; only when the
batch differs are its programs compared one by one.
"""
import argparse
import concurrent.futures
import copy
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate  # noqa: E402

KEP0 = "bootstrap/kep0"
TIMEOUT = 60
RUN_TIMEOUT = 10
SHRINK_SECONDS = 120


def default_compiler():
    """The native compiler when the build made it, else the driver run by
    kep0 (a second or so per program)."""
    native = "compiler/pure/kepc-direct"
    if os.access(native, os.X_OK):
        return [native]
    return [KEP0, "compiler/pure/kepc_direct.kep"]


def execute(command, timeout=RUN_TIMEOUT):
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return done.stdout, done.stderr, done.returncode
    except subprocess.TimeoutExpired:
        return b"", b"timed out", -1


def results(tree, directory, compiler):
    """(kep0 result, compiled result) of one program."""
    path = os.path.join(directory, "program.kep")
    image = os.path.join(directory, "program")
    with open(path, "w") as f:
        f.write(generate.source(tree))
    interpreted = execute([KEP0, path])
    if os.path.exists(image):
        os.unlink(image)
    compiled = execute(compiler + [path, image], TIMEOUT)
    if compiled[2] == 0:
        compiled = execute([image])
    else:
        compiled = (b"compile failed: " + compiled[0], compiled[1], compiled[2])
    return interpreted, compiled


def refused(result):
    """Whether kep0 stopped the program before running it."""
    return b"error[E" in result[0]


def kind_of_difference(interpreted, compiled):
    """What a smaller program must keep: the kind of the compiled result
    (refused by the compiler, killed by a signal, or run) and whether the
    outputs or only the statuses differ."""
    if interpreted == compiled or refused(interpreted):
        return None
    compiled_kind = "refused" if compiled[0].startswith(b"compile failed") else (
        "signal" if compiled[2] < 0 else "ran")
    return compiled_kind, interpreted[2] == compiled[2]


def differs(tree, directory, compiler, kind):
    return kind_of_difference(*results(tree, directory, compiler)) == kind


def declared_name(statement):
    """The variable a plain assignment line declares, or None."""
    if isinstance(statement, str):
        words = statement.split(" ", 2)
        if len(words) == 3 and words[1] == "=" and words[0].isidentifier():
            return words[0]
    return None


def removable(tree, statement):
    """A statement may go unless it assigns a name the rest still reads."""
    name = declared_name(statement)
    return name is None or re.search(r"\b%s\b" % name, generate.source(tree)) is None


def shrink_list(statements, tree, still_differs, deadline):
    """Removes what it can from one statement List (changed in place): a
    half at a time while that works, then single statements, then the
    parts of each remaining block."""
    while len(statements) > 4 and time.time() < deadline:
        half = len(statements) // 2
        for start in (0, half):
            kept = statements[:]
            del statements[start:start + half]
            if all(removable(tree, s) for s in kept[start:start + half]) and still_differs():
                break
            statements[:] = kept
        else:
            break
    i = 0
    while i < len(statements) and time.time() < deadline:
        removed = statements.pop(i)
        if removable(tree, removed) and still_differs():
            continue
        statements.insert(i, removed)
        i += 1
    for statement in statements:
        if isinstance(statement, str):
            continue
        j = 1
        while j < len(statement) and time.time() < deadline:
            part = statement.pop(j)
            if still_differs():
                continue
            statement.insert(j, part)
            j += 1
        for _, body in statement:
            shrink_list(body, tree, still_differs, deadline)


def shrink(tree, directory, compiler, kind, seconds=SHRINK_SECONDS):
    """The tree with every statement removed whose removal keeps the
    difference of that kind (within the time given)."""
    tree = copy.deepcopy(tree)
    shrink_list(tree, tree, lambda: differs(tree, directory, compiler, kind), time.time() + seconds)
    return tree


def check(seed, compiler):
    with tempfile.TemporaryDirectory(dir=os.environ.get("KEP_CASE_TMP")) as directory:
        tree = generate.generate(seed)
        interpreted, compiled = results(tree, directory, compiler)
        if interpreted == compiled and interpreted[2] != -1:
            return None
        if refused(interpreted) or interpreted[2] == -1:
            return "seed %d: kep0 refused the program or timed out:\n%s" % (seed, interpreted[0].decode(errors="replace")[-2000:])
        small = shrink(tree, directory, compiler, kind_of_difference(interpreted, compiled))
        interpreted, compiled = results(small, directory, compiler)
        lines = ["seed %d differs; smallest program:" % seed, generate.source(small)]
        for name, result in (("kep0", interpreted), ("compiled", compiled)):
            lines.append("-- %s: status %d" % (name, result[2]))
            lines.append("stdout: " + result[0].decode(errors="replace"))
            lines.append("stderr: " + result[1].decode(errors="replace"))
        return "\n".join(lines)


# The top-level names a program declares: its functions and classes.
DECLARED = re.compile(r"^(?:function|class) (\w+)")


def batch_source(seeds):
    """One program running the programs of seeds in turn: the names each
    declares take the prefix "s" + seed + "_", its other top-level
    statements go into the function s<seed>_main, called inside `try`."""
    parts, calls = [], []
    for seed in seeds:
        tree = generate.generate(seed)
        prefix = "s%d_" % seed
        definitions = [s for s in tree if not isinstance(s, str) and DECLARED.match(s[0][0])]
        rest = [s for s in tree if not any(s is d for d in definitions)]
        names = [DECLARED.match(d[0][0]).group(1) for d in definitions]
        text = generate.source(definitions + [[["function main()", rest]]])
        parts.append(re.sub(r"\b(%s)\b" % "|".join(names + ["main"]), lambda m: prefix + m.group(1), text))
        calls.append('try\n    %smain()\nelse\n    print "%s stopped:", last_error()\nend\n' % (prefix, prefix))
    return "".join(parts + calls)


def check_batch(seeds, compiler):
    """The reports of the programs of seeds that differ; the batch is run
    first, and its programs one by one only when it differs."""
    with tempfile.TemporaryDirectory(dir=os.environ.get("KEP_CASE_TMP")) as directory:
        path = os.path.join(directory, "batch.kep")
        image = os.path.join(directory, "batch")
        with open(path, "w") as f:
            f.write(batch_source(seeds))
        # A batch runs as long as its programs together may.
        interpreted = execute([KEP0, path], RUN_TIMEOUT * len(seeds))
        compiled = execute(compiler + [path, image], TIMEOUT)
        if compiled[2] == 0:
            compiled = execute([image], RUN_TIMEOUT * len(seeds))
        if interpreted == compiled and interpreted[2] != -1:
            return []
    reports = [check(seed, compiler) for seed in seeds]
    reports = [r for r in reports if r]
    if not reports:
        reports = ["seeds %d to %d differ only when run together" % (seeds[0], seeds[-1])]
    return reports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--first", type=int, default=1)
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--compiler", default=None)
    parser.add_argument("--batch", type=int, default=1)
    options = parser.parse_args()
    compiler = options.compiler.split() if options.compiler else default_compiler()
    seeds = range(options.first, options.first + options.count)
    groups = [seeds[i:i + options.batch] for i in range(0, len(seeds), options.batch)]
    if options.batch == 1:
        run = lambda group: [r for r in [check(group[0], compiler)] if r]
    else:
        run = lambda group: check_batch(group, compiler)
    failures = 0
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        for reports in pool.map(run, groups):
            for report in reports:
                failures += 1
                print(report, flush=True)
    print("%d programs, %d differ" % (len(seeds), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
