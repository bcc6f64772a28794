#!/usr/bin/env python3
"""Runs every example of the documents named on the command line.

An example is a fenced block followed by the blocks that say what it gives:

  ```kep                 a program, run under kep0 and compiled by kepc
  ```kep file=NAME.kep   a module beside the next program or shell example
  ```shell               commands run by bash in the example's directory,
                         with the tree's programs first on PATH and HOME
                         that directory; needs=PATH (below the tree) skips
                         it, with a line, where that file was not built
  ```input               the standard input of the example before it
  ```output              its standard output (a shell example's output
                         and error together)
  ```stderr              its standard error
  ```diagnostic          the compile report on standard output, status 1

An expectation block may add status=N (the exit status, 0 by default, 1 for
a diagnostic) and kep0 or compiled (for that executor only). Every program
needs an expectation for each executor. Prints one FAIL line per
difference and "N passed, N failed"; exits 1 on any failure.
"""
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KEP0 = os.path.join(ROOT, "bootstrap/kep0")
KEPC = os.path.join(ROOT, "compiler/pure/kepc-direct")
# The names a user has on PATH after an install, mapped to the tree's builds.
TOOLS = {
    "kep0": "bootstrap/kep0", "kepc": "compiler/pure/kepc-direct", "kep": "compiler/pure/kep-cli",
    "kep-configure": "compiler/pure/kep-configure", "kep-install": "compiler/pure/kep-install",
    "kep-test": "tests/kep-test", "kep-cuda-worker": "cuda/kep-cuda-worker",
}
EXECUTORS = ("kep0", "compiled")
FENCE = re.compile(r"^```(\S*)(.*)$")
TIMEOUT = 60


def blocks(path):
    """The fenced blocks of a document: (line, language, words, text)."""
    found = []
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    k = 0
    while k < len(lines):
        m = FENCE.match(lines[k])
        if not m:
            k += 1
            continue
        start = k
        body = []
        k += 1
        while k < len(lines) and lines[k] != "```":
            body.append(lines[k])
            k += 1
        found.append((start + 1, m.group(1), m.group(2).split(), "".join(line + "\n" for line in body)))
        k += 1
    return found


def option(words, name, default=None):
    for w in words:
        if w.startswith(name + "="):
            return w[len(name) + 1:]
    return default


def examples(path):
    """The examples of a document with their files and expectations."""
    result = []
    files = {}
    current = None
    for line, language, words, text in blocks(path):
        if language == "kep" and option(words, "file"):
            files[option(words, "file")] = text
        elif language in ("kep", "shell"):
            current = {"where": "%s:%d" % (path, line), "kind": language, "text": text,
                       "files": files, "input": "", "expect": {}, "needs": option(words, "needs")}
            files = {}
            result.append(current)
        elif language in ("input", "output", "stderr", "diagnostic"):
            if current is None:
                raise SystemExit("%s:%d: %s block without an example" % (path, line, language))
            if language == "input":
                current["input"] = text
                continue
            default_status = "1" if language == "diagnostic" else "0"
            status = option(words, "status", default_status)
            for executor in [w for w in EXECUTORS if w in words] or EXECUTORS:
                want = current["expect"].setdefault(executor, {"out": "", "err": "", "status": "0"})
                if language == "stderr":
                    want["err"] = text
                else:
                    want["out"] = text
                if language != "stderr" or option(words, "status"):
                    want["status"] = status
    return result


def run(command, cwd, stdin, env=None):
    try:
        p = subprocess.run(command, cwd=cwd, input=stdin.encode(), capture_output=True,
                           timeout=TIMEOUT, env=env)
        return p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace"), str(p.returncode)
    except subprocess.TimeoutExpired:
        return "", "timed out", "timeout"


def compare(where, executor, want, got):
    problems = []
    for key, label in (("out", "stdout"), ("err", "stderr"), ("status", "status")):
        if want[key] != got[key]:
            problems.append("%s: want %r, got %r" % (label, want[key], got[key]))
    return ["FAIL %s (%s): %s" % (where, executor, "; ".join(problems))] if problems else []


def setup(example, work):
    for name, text in example["files"].items():
        os.makedirs(os.path.dirname(os.path.join(work, name)) or work, exist_ok=True)
        with open(os.path.join(work, name), "w", encoding="utf-8") as f:
            f.write(text)


def run_program(example, work):
    """Runs the program under each executor in a directory of its own, so
    that files one run makes are not there for the other."""
    missing = [e for e in EXECUTORS if e not in example["expect"]]
    if missing:
        return ["FAIL %s: no expected result for %s" % (example["where"], ", ".join(missing))]
    failures = []
    for executor in EXECUTORS:
        directory = os.path.join(work, executor)
        os.mkdir(directory)
        setup(example, directory)
        with open(os.path.join(directory, "example.kep"), "w", encoding="utf-8") as f:
            f.write(example["text"])
        if executor == "kep0":
            got = run([KEP0, "example.kep"], directory, example["input"])
        else:
            got = run([KEPC, "example.kep", "example"], directory, "")
            if got[2] == "0" and got[1] == "":
                got = run(["./example"], directory, example["input"])
        failures += compare(example["where"], executor, example["expect"][executor],
                            {"out": got[0], "err": got[1], "status": got[2]})
    return failures


def run_shell(example, work):
    if example["needs"] and not os.path.exists(os.path.join(ROOT, example["needs"])):
        print("SKIP %s: %s was not built" % (example["where"], example["needs"]))
        return []
    setup(example, work)
    bin_dir = os.path.join(work, ".bin")
    os.mkdir(bin_dir)
    for name, target in TOOLS.items():
        if os.path.exists(os.path.join(ROOT, target)):
            os.symlink(os.path.join(ROOT, target), os.path.join(bin_dir, name))
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], HOME=work, KEP_TREE=ROOT)
    out, err, status = run(["bash", "-c", "exec 2>&1\n" + example["text"]], work, example["input"], env)
    want = example["expect"].get("kep0")
    if want is None:
        return ["FAIL %s: no expected output" % example["where"]]
    return compare(example["where"], "shell", want, {"out": out, "err": want["err"], "status": status})


def check(example):
    work = tempfile.mkdtemp(prefix="kep-doc-")
    try:
        if example["kind"] == "shell":
            return run_shell(example, work)
        return run_program(example, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    todo = [e for path in sys.argv[1:] for e in examples(path)]
    jobs = int(os.environ.get("KEP_DOC_JOBS", "4"))
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        results = list(pool.map(check, todo))
    failed = 0
    for failures in results:
        for line in failures:
            print(line)
        failed += bool(failures)
    print("%d passed, %d failed" % (len(todo) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
