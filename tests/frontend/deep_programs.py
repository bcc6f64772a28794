"""Writes the programs of the nesting table into the directory given as
argument: NAME.kep for each case. Programs whose name starts with "ok_" lie
at or within the nesting limit (or nest nothing: chains of binary operators
are flat); the others go past it."""
import sys

LIMIT = 1000  # the front end's nesting limit
# A top-level statement's block is one level and its expression another.
PARENS_OK = LIMIT - 2
CASES = {
    "ok_parens_at_limit": "x = " + "(" * PARENS_OK + "1" + ")" * PARENS_OK,
    "parens_past_limit": "x = " + "(" * (PARENS_OK + 1) + "1" + ")" * (PARENS_OK + 1),
    "if_blocks_60000": "if True\n" * 60000 + "print 1\n" + "end\n" * 60000,
    "lists": "x = " + "[" * 1200 + "]" * 1200,
    "prefix_operators": "x = " + "-" * 1200 + "1",
    "exponents": "x = " + "2 ^ " * 1200 + "1",
    "indexes": "y = x" + "[0]" * 1200,
    "members": "y = x" + ".a" * 1200,
    "calls": "y = f" + "()" * 1200,
    "tuv_string": 'x = t"{' + "(" * 1200 + "1" + ")" * 1200 + '}"',
    "ok_flat_concatenation": "print len(" + " + ".join(['"a"'] * 100001) + ")",
    "ok_flat_conditions": "x = " + " or ".join(["False and True"] * 20000),
    # Chains that do not fold, one of each form of operator code.
    "ok_flat_operators": "\n".join([
        "i = 3", "s = \"ab\"", "f = 0.5", "function same(v)", "    return v", "end", "a = same(7)",
        "print " + " + ".join(["i"] * 2000) + " - " + " * ".join(["i"] * 3),
        "print len(" + " + ".join(["s"] * 2000) + ")",
        "print " + " + ".join(["f"] * 2000),
        "print " + " - ".join(["a"] * 2000) + " + a ^ 2",
        "print " + " // ".join(["a"] * 40) + " + " + " % ".join(["a"] * 40),
        "print " + " and ".join(["i > 2"] * 2000) + " or a < 0",
        "if " + " or ".join(["i < 2 and a > 0"] * 2000) + " or not (a < 0)",
        "    print \"branch taken\"",
        "end",
    ]),
}
for name, text in CASES.items():
    with open(f"{sys.argv[1]}/{name}.kep", "w") as f:
        f.write(text + "\n")
