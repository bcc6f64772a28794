#!/usr/bin/env python3
"""Ties docs/errors.md to the sources: every report and error text that the
compiler, kep0, the library and the tools write must be in it.

The texts are found where the sources make them:
  - the calls that report a compile error (their String arguments: the
    code, the message and the help, or the literal pieces of them);
  - every String literal that starts with an error kind ("TypeError: ...")
    in the compiler's, the library's and kep0's sources, and every
    `Error(Kind: "...")` statement of the library.
A text built from pieces is checked piece by piece. Also checks that the
tour's list of built-in names is the built-in table's. Prints one line per
text missing; exits 1 when any is.
"""
import glob
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
STRING = r'"((?:[^"\\]|\\.)*)"'
# The calls whose String arguments are a compile report's code, message or help.
REPORTERS = re.compile(r'\b(compile_error|report_compile_error|report_at_token|expect_value|expect_kind|'
                       r'require_types|require_class_type|check_int_exponent|report_diagnostic|resolve_error|'
                       r'parse_module_name|parse_bracket_items|method_error|give_up)\(')
KIND_TEXT = re.compile(r'"([A-Z][A-Za-z]*(?:Error|Failure): (?:[^"\\]|\\.)*)"')
RAISE = re.compile(r'Error\(([A-Z][A-Za-z]*): *' + STRING)
# Literals of a reporting line that are no report text.
NOT_TEXT = re.compile(r'^(E\d{4}|[A-Za-z_]+\.(kep|hpp|cpp)|[^ ]*)$')


def unescape(text):
    return text.replace('\\"', '"').replace("\\\\", "\\")


def pieces(text):
    """The literal piece of a text, without the blanks around it."""
    return [text.strip()] if len(text.strip()) > 2 else []


def source_texts():
    found = []
    kep = sorted(glob.glob(os.path.join(ROOT, "compiler/pure/*.kep")) + glob.glob(os.path.join(ROOT, "stdlib/*.kep")))
    cpp = sorted(glob.glob(os.path.join(ROOT, "bootstrap/src/*.cpp")) + glob.glob(os.path.join(ROOT, "bootstrap/src/*.hpp")))
    for path in kep + cpp:
        name = os.path.relpath(path, ROOT)
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                where = "%s:%d" % (name, number)
                if line.lstrip().startswith(("#", "//")):
                    continue
                if REPORTERS.search(line) and "function " not in line:
                    for text in re.findall(STRING, line):
                        if not NOT_TEXT.match(text):
                            found.append((where, unescape(text)))
                kind_texts = KIND_TEXT.findall(line)
                for text in kind_texts:
                    found.append((where, unescape(text)))
                # The pieces joined to an error's kind on its line.
                if kind_texts or RAISE.search(line):
                    for text in re.findall(STRING, line):
                        if " " in text.strip() and text not in kind_texts:
                            found.append((where, unescape(text)))
                for kind, text in RAISE.findall(line):
                    found.append((where, kind + ": " + unescape(text)))
    return found


def builtin_list_problems(guide):
    start = guide.index("The built-ins are `abs`")
    listed = set(re.findall(r"`([A-Za-z_0-9]+)`", guide[start:guide.index("every name that begins", start)]))
    with open(os.path.join(ROOT, "compiler/pure/codegen_builtin_table.kep"), encoding="utf-8") as f:
        table = {n for n in re.findall(r'^    \["([A-Za-z_0-9]+)"', f.read(), re.M) if not n.startswith("__kep_")}
    return ["docs/language.md: the tour's built-in names differ from the table: %s" % sorted(listed ^ table)] \
        if listed != table else []


def main():
    with open(os.path.join(ROOT, "docs/errors.md"), encoding="utf-8") as f:
        catalogue = " ".join(f.read().split())
    with open(os.path.join(ROOT, "docs/language.md"), encoding="utf-8") as f:
        guide = f.read()
    problems = builtin_list_problems(guide)
    seen = set()
    for where, text in source_texts():
        for piece in pieces(text):
            if piece not in catalogue and piece not in seen:
                seen.add(piece)
                problems.append("%s: not in docs/errors.md: %r" % (where, piece))
    for line in problems:
        print(line)
    print("error catalogue: %d texts missing" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
