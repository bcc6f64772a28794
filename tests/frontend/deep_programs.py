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
}
for name, text in CASES.items():
    with open(f"{sys.argv[1]}/{name}.kep", "w") as f:
        f.write(text + "\n")
