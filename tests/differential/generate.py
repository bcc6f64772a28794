#!/usr/bin/env python3
"""Random, well-formed KEP programs for differential runs.

generate(seed) returns a program as a statement tree: a statement is a line
(a String) or a block, a List of [header, body] pairs closed by "end"
(`if` with its `elif`/`else` parts, loops, `safe`, `try`, functions,
classes). render() turns the tree into source text; the shrinker removes
statements from it.

The programs keep to operations whose results the language defines for the
kinds involved: an operand typed "Any" meets only the kinds the dynamic
operators handle, and nothing depends on whether a value's static type is
known (comparisons of numbers of mixed kinds, NaN ordering, `type` of an
instance and methods picked by static type happen only on typed operands;
a typed Bool meets in arithmetic only values met as Any). Instances are
passed to a method of their class and to a function of their own class,
whose parameters then have that class, beside String, Int, Bool and type.
Operands of each static type note their tags in a List as they run, which
is printed: the order of evaluation is compared too.
Each test function is called inside `try`, so a failure ends only that
function and prints its error text; a program may end with an uncaught
error, whose text and status are then compared as well.

    generate.py SEED      prints the program of SEED
"""
import random
import re
import sys

INT_EDGES = [
    "9223372036854775807", "(-9223372036854775807 - 1)", "9223372036854775806",
    "(-9223372036854775807)", "4611686018427387904", "(-4611686018427387904)",
    "2147483647", "2147483648", "(-2147483648)", "4294967295", "4294967296",
    "0", "1", "(-1)", "2", "3", "7", "(-7)", "10", "255", "1000000007",
]
FLOATS = [
    "0.0", "(-0.0)", "1.5", "(-2.25)", "0.1", "3.141592653589793", "1e300",
    "(-1e300)", "1e-300", "2.5e-310", "123456789.125", "1e16", "(-7.0)",
    'Float("nan")', 'Float("inf")', 'Float("-inf")', "0.5", "100.0",
    "5e-324", "9007199254740993.0", "1e-7", "0.30000000000000004", "1e22",
]
STRINGS = [
    '""', '"a"', '"héllo"', '"日本語"', '"😀x"', '"a,b,,c"', '" pad "',
    '"ABC def"', '"x y z"', '"ünïcödé"', '"42"', '"-17"', '"3.5"', '"ß"',
]
SMALL = ["0", "1", "2", "3", "(-1)", "(-2)", "5"]
# Floats at the edges of the text layout (16 integral digits, 10^-7), of
# the range (subnormals, the largest double, 2^63) and of rounding (the
# shortest digits of a sum, integers past 2^53), and texts that read as
# such Floats or round across a boundary.
FLOAT_EDGES = [
    "5e-324", "2.5e-323", "2.225073858507201e-308", "2.2250738585072014e-308",
    "1.7976931348623157e308", "9007199254740993.0", "9007199254740992.0",
    "9223372036854775808.0", "9223372036854774784.0", "18446744073709551616.0",
    "1e15", "9999999999999998.0", "1e16", "1e17", "1e22", "1e23", "0.000001",
    "0.0000001", "1e-5", "0.00009999999999999999", "1.0000000000000002",
    "0.30000000000000004", "2.675", "4.35", "0.1", "123456789012345680.0",
    "5e-310", "1e-7", "999999999999999.9", "0.5", "1.5",
]
FLOAT_TEXTS = [
    '"2.4703282292062328e-324"', '"2.4703282292062327e-324"', '"1.7976931348623158e308"',
    '"1.7976931348623159e308"', '"9007199254740993"', '"9007199254740993.000000001"',
    '"0.1e-5"', '"123456789012345678901234567890"', '"-0"', '"4.35"', '"1e-7"',
    '"99999999999999999"', '"0.000099999999999999995"', '"1e-400"', '"1e400"',
]
# Bools and None, typed or met as Any, and numbers met as Any beside them.
BOOLS = ["True", "False", "None", "[True][0]", "[False][0]", "[None][0]"]
ANY_NUMBERS = ["[2][0]", "[0][0]", "[(-1)][0]", "[2.5][0]", "[(-0.0)][0]", '[Float("nan")][0]']
ERROR_KINDS = ["ValueError", "KeyError", "CustomError", "TypeError"]


def render(tree, indent=0):
    lines = []
    pad = "    " * indent
    for statement in tree:
        if isinstance(statement, str):
            lines.append(pad + statement)
            continue
        for header, body in statement:
            lines.append(pad + header)
            lines.extend(render(body, indent + 1))
        lines.append(pad + "end")
    return lines


def source(tree):
    return "\n".join(render(tree)) + "\n"


class Scope:
    """The variables of one function: name -> (kind, typed)."""

    def __init__(self):
        self.variables = {}
        self.count = 0

    def fresh(self):
        self.count += 1
        return "v%d" % self.count

    def names(self, kind, typed=None):
        return [n for n, (k, t) in self.variables.items()
                if k == kind and (typed is None or t == typed)]


class Generator:
    def __init__(self, seed):
        self.r = random.Random(seed)
        self.classes = []
        self.scope = Scope()
        self.loop_depth = 0
        self.counter = 0

    def chance(self, p):
        return self.r.random() < p

    def pick(self, options):
        return self.r.choice(options)

    def label(self, prefix):
        self.counter += 1
        return "%s%d" % (prefix, self.counter)

    # Expressions: each returns (text, typed); typed means the compiler
    # knows the expression's kind statically.

    def literal(self, kind, depth=0):
        if kind == "int":
            return self.pick(INT_EDGES + SMALL + [str(self.r.randint(-999, 999))])
        if kind == "float":
            return self.pick(FLOATS)
        if kind == "str":
            return self.pick(STRINGS)
        if kind == "bool":
            return self.pick(["True", "False"])
        if kind == "none":
            return "None"
        items = [self.literal(self.pick(["int", "float", "str", "bool", "none"]))
                 for _ in range(self.r.randint(0, 4))]
        if kind == "list":
            if depth == 0 and self.chance(0.3):
                items.append(self.literal("list", 1))
            return "[" + ", ".join(items) + "]"
        if kind == "tuple":
            items = items or ["1"]
            return "(" + ", ".join(items) + ("," if len(items) == 1 else "") + ")"
        if kind == "dict":
            keys = self.r.sample(['"k"', '"ключ"', '"b"', "1", "2", "(-3)", "True", "None"],
                                 self.r.randint(0, 4))
            return "{" + ", ".join(k + ": " + self.literal(self.pick(["int", "str", "float", "list"]), 1)
                                   for k in keys) + "}"
        raise ValueError(kind)

    def variable(self, kind, typed=None):
        names = self.scope.names(kind, typed)
        return self.pick(names) if names else None

    def operand(self, kind, depth, typed=None):
        """A value of the kind: a literal, a variable or a smaller expression."""
        roll = self.r.random()
        if roll < 0.45:
            name = self.variable(kind, typed)
            if name:
                return name, self.scope.variables[name][1]
        if roll < 0.75 or depth <= 0:
            text = self.literal(kind)
            if typed is False:
                return "[" + text + "][0]", False
            return text, True
        return self.expression(kind, depth - 1, typed)

    def expression(self, kind, depth=2, typed=None):
        method = getattr(self, "expr_" + kind, None)
        if method is None or depth <= 0:
            return self.operand(kind, 0, typed)
        return method(depth, typed)

    def expr_int(self, depth, typed):
        a, ta = self.operand("int", depth, typed)
        b, tb = self.operand("int", depth, typed)
        t = ta and tb
        roll = self.r.randint(0, 13)
        if roll <= 2:
            return "(%s %s %s)" % (a, self.pick(["+", "-", "*"]), b), t
        if roll <= 4:
            return "(%s %s %s)" % (a, self.pick(["//", "%"]), b), t
        if roll == 5:
            return "(%s ^ %s)" % (a, self.pick(["0", "1", "2", "3", "5"])), ta
        if roll == 6:
            return "(%s%s)" % (self.pick(["-", "+"]), a), ta
        if roll == 7:
            return "abs(%s)" % a, ta
        if roll == 8:
            return "%s(%s, %s)" % (self.pick(["min", "max"]), a, b), t
        if roll == 9:
            s, _ = self.operand("str", depth - 1)
            return "len(%s)" % s, True
        if roll == 10:
            f, tf = self.operand("float", depth - 1)
            return "Int(%s)" % f, True
        if roll == 11:
            return "Int(%s)" % self.pick(['"12"', '"-0"', '"99999999999"', '" 7 "', '"x"', '"1.5"', '""']), True
        if roll == 12:
            s, _ = self.operand("str", depth - 1)
            return "%s.find(%s)" % (s, self.pick(['"a"', '"é"', '""', '","'])), True
        return "ord(%s)" % self.pick(['"a"', '"é"', '"日"', '"😀"']), True

    def expr_float(self, depth, typed):
        a, ta = self.operand("float", depth, typed)
        roll = self.r.randint(0, 8)
        if roll <= 3:
            if self.chance(0.5):
                b, tb = self.operand("float", depth, typed)
            else:
                b, tb = self.operand("int", depth, typed)
                if self.chance(0.5):
                    a, b, ta, tb = b, a, tb, ta
            op = self.pick(["+", "-", "*", "/", "//", "%"])
            return "(%s %s %s)" % (a, op, b), ta and tb
        if roll == 4:
            if not ta:
                return "(-%s)" % a, ta
            return "(%s ^ %s)" % (a, self.pick(["0", "1", "2", "3", "(-1)", "(-2)"])), ta
        if roll == 5:
            return "(-%s)" % a, ta
        if roll == 6:
            return "abs(%s)" % a, ta
        if roll == 7:
            i, _ = self.operand("int", depth - 1)
            if self.chance(0.5):
                j, _ = self.operand("int", depth - 1)
                return "(%s / %s)" % (i, j), True
            return "Float(%s)" % i, True
        if roll == 8 and typed is not True and self.chance(0.4):
            # min and max of Floats are typed Any.
            b, _ = self.operand("float", depth, typed)
            return "%s(%s, %s)" % (self.pick(["min", "max"]), a, b), False
        return "Float(%s)" % self.pick(['"2.5"', '"-0.0"', '"1e5"', '"nan"', '"inf"', '"x"', '" 3 "', '"7"']), True

    def expr_bool(self, depth, typed):
        roll = self.r.randint(0, 11)
        if roll <= 1:
            a, ta = self.operand("int", depth - 1)
            b, tb = self.operand("int", depth - 1)
            return "(%s %s %s)" % (a, self.pick(["<", "<=", ">", ">=", "==", "!="]), b), True
        if roll == 2:
            # Floats compare as Floats when one side is typed Float.
            a, _ = self.operand("float", depth - 1, True)
            b, _ = self.operand(self.pick(["float", "int"]), depth - 1)
            if self.chance(0.5):
                a, b = b, a
            return "(%s %s %s)" % (a, self.pick(["<", "<=", ">", ">=", "==", "!="]), b), True
        if roll == 3:
            a, _ = self.operand("str", depth - 1, True)
            b, _ = self.operand("str", depth - 1, True)
            return "(%s %s %s)" % (a, self.pick(["<", "<=", ">", ">=", "==", "!="]), b), True
        if roll == 4:
            a, _ = self.operand("bool", depth - 1)
            b, _ = self.operand("bool", depth - 1)
            return "(%s %s %s)" % (a, self.pick(["and", "or"]), b), True
        if roll == 5:
            a, _ = self.operand("bool", depth - 1)
            return "(not %s)" % a, True
        if roll == 6:
            kind = self.pick(["list", "tuple", "dict", "str"])
            c, tc = self.operand(kind, depth - 1, True if kind == "str" else None)
            if kind == "str":
                v, _ = self.operand("str", depth - 1)
            else:
                v = self.literal(self.pick(["int", "str", "none", "bool"]))
            return "(%s %s %s)" % (v, self.pick(["in", "not in"]), c), True
        if roll == 7:
            kind = self.pick(["list", "tuple", "dict", "str", "int"])
            a, _ = self.operand(kind, depth - 1, True)
            b, _ = self.operand(kind, depth - 1, True)
            return "(%s %s %s)" % (a, self.pick(["==", "!="]), b), True
        if roll == 8:
            s, _ = self.operand("str", depth - 1)
            return "%s.%s(%s)" % (s, self.pick(["startswith", "endswith"]),
                                  self.pick(['"a"', '"é"', '""', '"語"', '" "'])), True
        if roll == 10:
            # A chain: each operand once, the walk stops at the first false pair.
            a, _ = self.operand("int", depth - 1)
            b, _ = self.operand("int", depth - 1)
            c, _ = self.operand("int", depth - 1)
            ops = ["<", "<=", ">", ">=", "==", "!="]
            return "(%s %s %s %s %s)" % (a, self.pick(ops), b, self.pick(ops), c), True
        if roll == 11:
            v = self.any_value(depth - 1)
            return "(%s %s None)" % (v, self.pick(["is", "is not"])), True
        v, _ = self.operand(self.pick(["int", "str", "list", "float"]), depth - 1)
        return "Bool(%s)" % v, True

    def expr_str(self, depth, typed):
        a, ta = self.operand("str", depth, typed)
        roll = self.r.randint(0, 12)
        if roll <= 1:
            b, tb = self.operand("str", depth, typed)
            return "(%s + %s)" % (a, b), ta and tb
        if roll == 2 and ta:
            return "(%s * %s)" % (a, self.pick(["0", "1", "2", "3", "(-1)"])), True
        if roll == 3 and ta:
            return "%s[%s]" % (a, self.pick(SMALL + ["(-3)", "10"])), True
        if roll == 4 and ta:
            return "%s[%s:%s]" % (a, self.pick(SMALL + [""]), self.pick(SMALL + ["", "(-4)", "100"])), True
        if roll == 5 and ta:
            return "%s[%s:%s:%s]" % (a, self.pick(SMALL + [""]), self.pick(SMALL + [""]),
                                     self.pick(["1", "2", "(-1)", "(-2)", "3"])), True
        if roll == 6 and ta:
            m = self.pick(["strip", "lstrip", "rstrip", "upper", "lower", "title", "capitalize"])
            return "%s.%s()" % (a, m), True
        if roll == 7 and ta:
            return "%s.replace(%s, %s)" % (a, self.pick(['"a"', '"é"', '","', '" "']),
                                           self.pick(['""', '"--"', '"ö"'])), True
        if roll == 8:
            v, _ = self.operand(self.pick(["int", "float", "bool", "list", "tuple", "dict", "none"]), depth - 1)
            return "String(%s)" % v, True
        if roll == 9:
            return "chr(%s)" % self.pick(["65", "233", "26085", "128512", "48"]), True
        if roll == 10:
            v, tv = self.operand(self.pick(["int", "float", "str", "list", "tuple", "dict", "bool"]), depth - 1)
            return "type(%s)" % v, True
        if roll == 11:
            xs, _ = self.operand("list", depth - 1)
            return '%s.join(%s.split(","))' % (self.pick(['"-"', '""', '"日"']), a), ta
        return a, ta

    def expr_list(self, depth, typed):
        a, ta = self.operand("list", depth, typed)
        roll = self.r.randint(0, 6)
        if roll == 0 and ta:
            b, tb = self.operand("list", depth, True)
            return "(%s + %s)" % (a, b), True
        if roll == 1 and ta:
            return "%s[%s:%s]" % (a, self.pick(SMALL + [""]), self.pick(SMALL + ["", "(-4)", "100"])), True
        if roll == 2 and ta:
            return "%s[::%s]" % (a, self.pick(["1", "2", "(-1)", "(-2)"])), True
        if roll == 3:
            t, _ = self.operand(self.pick(["tuple", "str"]), depth - 1)
            return "List(%s)" % t, True
        if roll == 4 and ta:
            return "%s.copy()" % a, True
        if roll == 5:
            s, _ = self.operand("str", depth - 1, True)
            return "%s.split(%s)" % (s, self.pick(['","', '" "', '"é"'])), True
        return a, ta

    def expr_tuple(self, depth, typed):
        a, ta = self.operand("tuple", depth, typed)
        roll = self.r.randint(0, 3)
        if roll == 0 and ta:
            return "%s[%s:%s]" % (a, self.pick(SMALL + [""]), self.pick(SMALL + [""])), True
        if roll == 1:
            xs, _ = self.operand("list", depth - 1)
            return "Tuple(%s)" % xs, True
        if roll == 2 and ta:
            return "%s.copy()" % a, True
        return a, ta

    def expr_dict(self, depth, typed):
        a, ta = self.operand("dict", depth, typed)
        if ta and self.chance(0.3):
            return "%s.copy()" % a, True
        return a, ta

    # Statements.

    def any_value(self, depth=1):
        kind = self.pick(["int", "int", "float", "str", "str", "bool", "list", "tuple", "dict", "none"])
        return self.expression(kind, depth)[0]

    def declare(self, kind=None, typed=None):
        kind = kind or self.pick(["int", "int", "float", "str", "str", "list", "tuple", "dict", "bool"])
        if typed is None:
            typed = self.chance(0.55)
        text, t = self.expression(kind, self.r.choice([0, 0, 1, 2]), typed)
        if typed and not t:
            text = self.literal(kind)
        if not typed and t:
            text = "[" + text + "][0]"
        name = self.scope.fresh()
        self.scope.variables[name] = (kind, typed)
        return "%s = %s" % (name, text)

    def index(self):
        return self.pick(SMALL + ["(-4)", "4", "7", "(-9)"])

    def within(self, name, statement):
        """The statement as it stands for a typed container; for one typed
        Any, with index 0 and only when the container has an item."""
        if self.scope.variables[name][1]:
            return statement
        return [["if len(%s) > 0" % name, [re.sub(r"\[[^]]*\]", "[0]", statement, count=1)]]]

    def reads(self, name):
        """Prints an item, a slice and the length of a sequence. Out of
        range, a container typed Any raises its IndexError without the
        source position, and its slice is a List whatever it slices: such
        a container is read within its length only, and not sliced."""
        if self.scope.variables[name][1]:
            return "print %s[%s], %s[%s:%s], len(%s)" % (name, self.index(), name, self.index(), self.index(), name)
        return [["if len(%s) > 3" % name, ["print %s[%s], len(%s)" % (name, self.pick(["0", "1", "3", "(-1)", "(-4)"]), name)]]]

    def statement(self, depth):
        roll = self.r.randint(0, 26)
        if roll <= 4:
            return "print " + ", ".join(self.any_value(2) for _ in range(self.r.randint(1, 3)))
        if roll == 5:
            return self.declare()
        if roll == 6:
            # Reassign a variable with a value of its own kind and typing.
            names = [n for n, (k, _) in self.scope.variables.items() if k != "inst"]
            if names:
                name = self.pick(names)
                kind, typed = self.scope.variables[name]
                # In a loop a String or List is not built from itself: one
                # that doubles on every turn soon takes seconds to print.
                depth = 0 if self.loop_depth and kind in ("str", "list") else 2
                text, t = self.expression(kind, depth, typed)
                if t == typed:
                    return "%s = %s" % (name, text)
            return self.declare()
        if roll == 7:
            name = self.variable(self.pick(["int", "str", "float"]), True)
            if name:
                return self.augmented(name)
            return self.declare()
        if roll == 8:
            xs = self.variable("list")
            if xs:
                return self.pick([
                    "%s.append(%s)" % (xs, self.any_value(1)),
                    self.within(xs, "%s[%s] = %s" % (xs, self.index(), self.any_value(1))),
                    # del of an item of a List typed Any is the Dictionary's
                    # del when compiled: only typed Lists delete items.
                    "del(%s[%s])" % (xs, self.index()) if self.scope.variables[xs][1] else "%s.reverse()" % xs,
                    "print %s.pop()" % xs,
                    "print %s.pop(%s)" % (xs, self.index()),
                    "%s.insert(%s, %s)" % (xs, self.index(), self.any_value(0)),
                    self.extension(xs),
                    "%s.reverse()" % xs,
                    self.reads(xs),
                ])
            return self.declare("list")
        if roll == 9:
            xs = self.variable("list", True)
            if xs:
                v = self.any_value(0)
                return self.pick([
                    "print %s.index(%s)" % (xs, v), "print %s.count(%s)" % (xs, v),
                    "%s.remove(%s)" % (xs, v), "%s.clear()" % xs,
                ])
            return self.declare("list", True)
        if roll == 10:
            d = self.variable("dict")
            if d:
                k = self.pick(['"k"', '"ключ"', '"b"', "1", "2", "(-3)", "True", "None", '"zz"'])
                return self.pick([
                    "%s[%s] = %s" % (d, k, self.any_value(1)),
                    "print %s[%s]" % (d, k),
                    "print %s.get(%s)" % (d, k),
                    "print %s.get(%s, %s)" % (d, k, self.any_value(0)),
                    "print %s.setdefault(%s, %s)" % (d, k, self.any_value(0)),
                    "del(%s[%s])" % (d, k),
                    "print %s.keys(), %s.values(), %s.items(), len(%s)" % (d, d, d, d),
                    "%s.update(%s)" % (d, self.literal("dict")),
                    "print %s in %s" % (k, d),
                ])
            return self.declare("dict")
        if roll == 11:
            d = self.variable("dict", True)
            if d:
                k = self.pick(['"k"', '"b"', "1", '"zz"'])
                return self.pick(["print %s.pop(%s)" % (d, k),
                                  "print %s.pop(%s, %s)" % (d, k, self.any_value(0)),
                                  "%s.clear()" % d])
            return self.declare("dict", True)
        if roll == 12:
            t = self.variable("tuple")
            if t:
                return self.reads(t)
            return self.declare("tuple")
        if roll == 13 and self.classes:
            return self.instance_statement()
        if roll == 14:
            return "print %s(%s)" % (self.pick(["fact", "fib", "digits"]), self.pick(["0", "1", "5", "12", "20", "(-3)", "[7][0]"]))
        if roll == 15:
            return "print nest(%s, %s)" % (self.pick(["0", "1", "3", "[2][0]"]), self.any_value(0))
        if roll == 16 and self.loop_depth > 0:
            cond, _ = self.expression("bool", 1)
            return [["if " + cond, [self.pick(["break", "continue"])]]]
        if depth <= 0:
            return "print " + self.any_value(1)
        if roll == 17:
            return self.if_block(depth)
        if roll == 18:
            return self.for_block(depth)
        if roll == 19:
            return self.while_block(depth)
        if roll == 20:
            return self.safe_block(depth)
        if roll == 21:
            return self.try_block(depth)
        if roll == 22:
            kind = self.pick(ERROR_KINDS)
            return [["if " + self.expression("bool", 1)[0],
                     ["Error(%s: %s)" % (kind, self.pick(['"raised"', '"ошибка"', "String(%s)" % self.any_value(0)]))]]]
        if roll == 23:
            return 'check(%s, "CheckError: %s")' % (self.expression("bool", 1)[0], self.label("check"))
        if roll == 24:
            return self.failing()
        if roll == 25:
            s = self.variable("str")
            if s:
                return [["for ch in " + s, ["print ch, ord(ch)"]]]
        if roll == 26:
            return self.pick([self.walk, self.ordering, self.float_text, self.bool_operands,
                              self.unassigned, self.partial_return, self.wrong_kind, self.effects])()
        return "print " + self.any_value(2)

    def extension(self, xs):
        """xs extended by a List or Tuple; in a loop never by a List that
        may be xs itself, which would double it on every turn."""
        other = self.operand(self.pick(["list", "tuple"]), 1)[0]
        if self.loop_depth and re.search(r"\bv\d+\b", other):
            other = self.literal(self.pick(["list", "tuple"]))
        return "%s.extend(%s)" % (xs, other)

    def augmented(self, name):
        """An augmented assignment that keeps the variable's kind: a String
        grows by a literal (doubling it in a loop would make it too long to
        print), an Int is not divided by /."""
        kind = self.scope.variables[name][0]
        if kind == "str":
            return "%s += %s" % (name, self.literal(kind))
        if kind == "int" and self.chance(0.3):
            return "%s %s %s" % (name, self.pick(["*=", "%="]), self.pick(["3", "(-7)", "1000003", "2"]))
        ops = ["+=", "-="] + (["*=", "/=", "%="] if kind == "float" else [])
        return "%s %s %s" % (name, self.pick(ops), self.operand(kind, 1, True)[0])

    def walk(self):
        """A loop over a value of any kind, inside `safe`: those that
        cannot be walked stop it before the first item."""
        value = self.any_value(1)
        return [["safe", [[["for item in " + value, ["print item"]]]]]], "print last_error()"

    def ordering(self):
        """min, max and sort over numbers of both kinds, NaN and -0.0
        among them, or over Strings."""
        kind = self.pick(["int", "float", "float", "str"])
        items = [self.literal(kind) if kind == "str" else self.literal(self.pick(["int", "float"]))
                 for _ in range(self.r.randint(1, 6))]
        name = self.scope.fresh()
        return ("%s = [%s]" % (name, ", ".join(items)), "%s.sort()" % name,
                "print %s, min(%s), max(%s)" % (name, name, name))

    def float_edge(self):
        """A Float near an edge of its text or of rounding, typed."""
        roll = self.r.randint(0, 7)
        a = self.pick(FLOAT_EDGES)
        b = self.pick(FLOAT_EDGES)
        if roll == 0:
            return a
        if roll == 1:
            return "(%s %s %s)" % (a, self.pick(["+", "-", "*", "/"]), b)
        if roll == 2:
            return "Float(%s)" % self.pick(FLOAT_TEXTS)
        if roll == 3:
            return "(%d / %d)" % (self.r.randint(-20, 20), self.pick([3, 7, 9, 10, 11, 49, 1000, 3125]))
        if roll == 4:
            return "(%s * 10.0 ^ %d)" % (a, self.r.randint(-25, 25))
        if roll == 5:
            return "Float(%s)" % self.pick(["9007199254740993", "9223372036854775807", "(-9223372036854775807 - 1)",
                                            "4611686018427387903", "123456789012345678", "(2 ^ 62 + 1)"])
        if roll == 6:
            return "(%s %s %s)" % (a, self.pick(["//", "%"]), self.pick(["0.1", "3.0", "1e-5", "0.30000000000000004", "7.5"]))
        return "(-%s)" % a

    def float_text(self):
        """The text of a Float at an edge, printed, made a String and
        inside a List, typed and met as Any, and its Int."""
        x = self.float_edge()
        return [["safe", ["print %s, String(%s), [%s], [%s][0], Int(%s)" % (x, x, x, x, x)]]], "print last_error()"

    def bool_operands(self):
        """Bools and None as operands: no numbers beside a value met as
        Any, no order however typed; equal only to themselves."""
        a = self.pick(BOOLS + self.scope.names("bool"))
        b = self.pick(ANY_NUMBERS + BOOLS + ["1", "0", "2.5", "0.0"])
        roll = self.r.randint(0, 5)
        if roll == 0:
            # A typed Bool or None meets only values met as Any here; a
            # typed exponent must be an Int.
            b = self.pick(ANY_NUMBERS + BOOLS[3:])
            op = self.pick(["+", "-", "*", "/", "//", "%", "^"])
            if a == "None" and op in ("/", "//", "%", "^"):
                a = "[None][0]"
            text = "%s %s %s" % (a, op, b) if self.chance(0.5) or op == "^" else "%s %s %s" % (b, op, a)
        elif roll == 1:
            text = "%s %s %s" % (a, self.pick(["<", "<=", ">", ">="]), b)
        elif roll == 2:
            text = "%s(%s, %s)" % (self.pick(["min", "max"]), a, b)
        elif roll == 3:
            name = self.scope.fresh()
            items = ", ".join(self.pick(BOOLS + ["1", "2.5"]) for _ in range(self.r.randint(1, 4)))
            return ("%s = [%s]" % (name, items),
                    [["safe", ["print min(%s), max(%s)" % (name, name)]]], "print last_error()",
                    [["safe", ["%s.sort()" % name, "print %s" % name]]], "print last_error()")
        elif roll == 4:
            text = "%s %s %s" % (a, self.pick(["==", "!=", "is", "is not"]), b)
        else:
            text = "%s(%s)" % (self.pick(["Int", "Float", "abs", "-", "String", "Bool"]), self.pick(BOOLS[3:]))
        return [["safe", ["print " + text]]], "print last_error()"

    def failing(self):
        """An operation that fails for some operands, inside `safe`."""
        op = self.pick([
            "print %s // %s" % (self.operand("int", 1)[0], self.pick(["0", "[0][0]", "(1 - 1)"])),
            "print %s %% %s" % (self.operand("int", 1)[0], self.pick(["0", "[0][0]"])),
            "print %s // 0.0" % self.operand("float", 1, True)[0],
            "print %s ^ %s" % (self.operand("int", 1, True)[0], self.pick(["(-1)", "(-5)"])),
            "print [1, 2][%s]" % self.index(),
            'print "abc"[%s]' % self.index(),
            'print {"a": 1}[%s]' % self.pick(['"b"', "1", "None"]),
            "print Int(%s)" % self.pick(['"x"', '"1.5"', '""', "[[1]][0]"]),
            "print Float(%s)" % self.pick(['"x"', '""', '"1e"']),
            "print [1][0:1:0]",
            "print RealArray([1, \"a\"])",
            "print Dictionary([[1, 2, 3]])",
            "print min([])",
            "print (1, 2).index(5)",
            '"abc".index("z")',
            "print [].pop()",
            "[1].remove(9)",
            [["for i in rang(1, 5, 0)", ["print i"]]],
        ])
        return [["safe", [op]]], "print last_error()"

    def unassigned(self):
        """A variable assigned on some paths only, read after them: None
        where no path assigned it, whatever kind the others give."""
        name = self.scope.fresh()
        kind = self.pick(["int", "float", "str", "bool", "list", "dict"])
        value = self.expression(kind, 1, True)[0]
        cond = self.expression("bool", 1)[0]
        roll = self.r.randint(0, 5)
        if roll == 0:
            block = [["if " + cond, ["%s = %s" % (name, value)]]]
        elif roll == 1:
            block = [["if " + cond, ["print 1"]], ["elif " + self.expression("bool", 1)[0], ["%s = %s" % (name, value)]],
                     ["else", ["print 2"]]]
        elif roll == 2:
            block = [["for item in " + self.pick(['""', '"ab"', "[]", "[1, 2]", "()", "{}"]), ["%s = %s" % (name, value)]]]
        elif roll == 3:
            block = [["safe", [self.failing()[0][0][1][0], "%s = %s" % (name, value)]]]
        elif roll == 4:
            block = [["try", ["%s = %s" % (name, value)]], ["else", ["print last_error()"]]]
        else:
            counter = self.scope.fresh()
            return ("%s = 0" % counter,
                    [["while %s < %d" % (counter, self.r.randint(0, 3)),
                      ["%s = %s + 1" % (counter, counter), [["if " + cond, ["%s = %s" % (name, value)]]],
                       "print %s" % name]]],
                    "print %s, %s == None" % (name, name))
        return block, "print %s, %s == None" % (name, name)

    def partial_return(self):
        """Calls of functions that return a value on some paths only."""
        return "print %s(%s, %s), index_of(%s, %s) == None" % (
            "some", self.pick(["0", "1", "2", "[2][0]"]), self.any_value(0),
            self.operand("list", 1)[0], self.any_value(0))

    def wrong_kind(self):
        """Slices of values of every kind, with the stop left out or with a
        step; the library's Dictionary methods, insert, pop and del of a
        receiver of another kind (met as Any, since the compiler refuses the
        methods that a static kind does not have), with keys and indexes of
        every kind; abs of a Function; all inside `safe`. Receivers of the
        Dictionary methods are Lists, Tuples and Dictionaries: the
        library's loop over one that cannot be walked names no kind when
        compiled, and a String indexed by a String is refused otherwise."""
        value = "[%s][0]" % self.any_value(1)
        stepped = "[%s][0]" % self.operand(self.pick(["int", "float", "bool", "none", "str", "list", "tuple", "dict"]), 1)[0]
        # A List or Tuple receiver holds Ints and is given Int keys: the
        # library indexes a receiver by its items and keys, and an index of
        # another kind is refused in other words when compiled.
        key = self.pick(["0", "1", "5", "(-1)", '"a"', "None", "True", "2.5", "[0]", "fact"])
        if self.chance(0.5):
            walked = "[%s][0]" % self.operand("dict", 1)[0]
            walked_key = key
        else:
            walked = "[%s][0]" % self.pick(["[0, 1]", "(1, 7)", "[]", "(2,)", "[5]"])
            walked_key = self.pick(["0", "1", "5", "(-1)"])
        listed = "[%s][0]" % self.operand("list", 1)[0]
        # A List typed Any would be deleted from as a Dictionary when
        # compiled: del takes a List of its own.
        victim = self.scope.fresh()
        op = self.pick([
            "print %s[1:]" % value, "print %s[:]" % value, "print %s[0::]" % value, "print %s[0:5:2]" % stepped,
            "print %s.values()" % walked, "print %s.items()" % walked, "print %s.get(%s)" % (walked, walked_key),
            "print %s.setdefault(%s, 0), %s" % (walked, walked_key, walked),
            "%s.update(%s)" % (walked, self.pick(["{1: 2}", "{}", "[0]", "(0, 1)"])),
            "%s.insert(%s, 9)" % (listed, key), "print %s.pop(%s)" % (listed, key),
            "%s = %s" % (victim, self.literal("list")),
            "print abs(%s)" % self.pick(["fact", "[fact][0]", "some"]),
        ])
        if op.startswith(victim + " = "):
            return op, [["safe", ["del(%s[%s])" % (victim, key), "print %s" % victim]]], "print last_error()"
        return [["safe", [op]]], "print last_error()"

    def effects(self):
        """Operands that note their tags in a List as they run, typed by
        the functions that give them (None, Int, Float, String, List):
        inside String(), t-strings, the operators that call the library
        (List + List, String * Int, slices with a step, del of an item),
        membership and the inline operators. The List shows the order in
        which they ran."""
        log = self.scope.fresh()
        self.tags = 0
        if self.chance(0.2):
            statement = "del(%s[%s - 1])" % (self.noted(log, "list", 0), self.noted(log, "int", 0))
        else:
            statement = "print %s" % self.noted(log, self.pick(["str", "str", "list", "bool", "int", "float"]), 2)
        return "%s = []" % log, [["safe", [statement]]], "print %s, last_error()" % log

    def noted(self, log, kind, depth):
        """An expression of the kind whose operands note their tags in log."""
        def at(k):
            return self.noted(log, k, depth - 1)
        roll = self.r.randint(0, 3) if depth > 0 else 9
        if kind == "str" and roll == 0:
            return "String(%s)" % at(self.pick(["none", "none", "int", "float", "list", "str"]))
        if kind == "str" and roll == 1:
            return "t'{%s}-{%s}'" % (at(self.pick(["none", "int", "str"])), at(self.pick(["none", "list", "float"])))
        if kind == "str" and roll == 2:
            return self.pick(["(%s * %s)" % (at("str"), at("int")), "(%s * %s)" % (at("int"), at("str"))])
        if kind == "str" and roll == 3:
            return "(%s + %s)" % (at("str"), at("str"))
        if kind == "list" and roll <= 1:
            return "(%s + %s)" % (at("list"), at("list"))
        if kind == "list" and roll == 2:
            bounds = [at("int") if self.chance(0.7) else "" for _ in range(2)]
            return "%s[%s:%s:%s]" % (at("list"), bounds[0], bounds[1], at("int"))
        if kind == "list" and roll == 3:
            return "%s[%s:%s]" % (at("list"), at("int"), at("int"))
        if kind == "bool":
            if self.chance(0.5):
                return "(%s %s %s)" % (at("int"), self.pick(["in", "not in"]), at("list"))
            return "(%s %s %s)" % (at("str"), self.pick(["in", "not in"]), at("str"))
        if kind == "int" and roll <= 1:
            return "(%s %s %s)" % (at("int"), self.pick(["+", "-", "*"]), at("int"))
        if kind == "float" and roll <= 1:
            return "(%s %s %s)" % (at("float"), self.pick(["+", "-", "*", "/"]), at(self.pick(["int", "float"])))
        self.tags += 1
        return "noted_%s(%s, %d)" % (kind, log, self.tags)

    def instance_statement(self):
        cls = self.pick(self.classes)
        name = self.scope.fresh()
        self.scope.variables[name] = ("inst", True)
        args = ", ".join(self.any_value(0) for _ in range(cls["arity"]))
        return [
            "%s = %s(%s)" % (name, cls["name"], args),
            "print %s.%s(%s)" % (name, cls["method"], self.operand(self.pick(["int", "float"]), 1)[0]),
            "print %s.total, %s.label(), type(%s), len(%s)" % (name, name, name, name),
            "print %s.pair(%s), look_%s(%s)" % (name, name, cls["name"], name),
            [["for field in " + name, ["print field"]]],
        ]

    def body(self, depth, count):
        # Names assigned in a block are not read after it: the block may
        # not run.
        outer = dict(self.scope.variables)
        statements = []
        for _ in range(count):
            s = self.statement(depth)
            if isinstance(s, tuple):
                statements.extend(s)
            elif isinstance(s, list) and s and isinstance(s[0], str):
                statements.extend(s)
            else:
                statements.append(s)
        self.scope.variables = outer
        return statements

    def if_block(self, depth):
        parts = [["if " + self.expression("bool", 2)[0], self.body(depth - 1, self.r.randint(1, 3))]]
        for _ in range(self.r.randint(0, 2)):
            parts.append(["elif " + self.expression("bool", 2)[0], self.body(depth - 1, self.r.randint(1, 2))])
        if self.chance(0.5):
            parts.append(["else", self.body(depth - 1, self.r.randint(1, 2))])
        return parts

    def loop_body(self, depth):
        self.loop_depth += 1
        body = self.body(depth - 1, self.r.randint(1, 4))
        self.loop_depth -= 1
        return body

    def for_block(self, depth):
        name = self.scope.fresh()
        roll = self.r.randint(0, 3)
        if roll == 0:
            # The counter is not assigned in the body: that would move it.
            args = self.pick(["5", "2, 9", "10, 0, -3", "(-2), 3", "0", "3, 3"])
            header = "for %s in rang(%s)" % (name, args)
        elif roll == 1:
            header = "for %s in %s" % (name, self.operand("str", 1, True)[0])
            self.scope.variables[name] = ("str", True)
        else:
            header = "for %s in %s" % (name, self.operand(self.pick(["list", "tuple", "dict"]), 1)[0])
        # The body leaves the collection it walks alone, and every List
        # that may be the same List: one that grows while it is walked
        # never ends the loop.
        walked = header.split(" in ", 1)[1]
        hidden = {}
        if walked in self.scope.variables:
            hidden = {n: v for n, v in self.scope.variables.items() if n == walked or v[0] == "list"}
            for n in hidden:
                del self.scope.variables[n]
        body = self.loop_body(depth)
        self.scope.variables.update(hidden)
        body.insert(0, "print %s" % name)
        # The loop variable stays a loop variable (its kind is the loop's).
        self.scope.variables.pop(name, None)
        return [[header, body]]

    def while_block(self, depth):
        counter = self.scope.fresh()
        limit = self.r.randint(0, 6)
        body = ["%s = %s + 1" % (counter, counter)] + self.loop_body(depth)
        kind = self.pick(["while", "loop"])
        if kind == "while":
            return ["%s = 0" % counter, [["while %s < %d" % (counter, limit), body]]]
        body.insert(1, [["if %s > %d" % (counter, limit), ["break"]]])
        return ["%s = 0" % counter, [["loop", body]]]

    def safe_block(self, depth):
        return [["safe", self.body(depth - 1, self.r.randint(1, 3))]], "print last_error()"

    def try_block(self, depth):
        return [["try", self.body(depth - 1, self.r.randint(1, 3))],
                ["else", ["print \"caught\", last_error()"] + self.body(depth - 1, self.r.randint(0, 1))]]

    # Program.

    def make_class(self, index):
        name = "K%d" % index
        arity = self.r.randint(0, 2)
        params = ["a%d" % i for i in range(arity)]
        method = self.pick(["grow", "mix", "show"])
        init = ["self.total = %s" % self.literal(self.pick(["int", "float"]))]
        init += ["self.f%d = %s" % (i, p) for i, p in enumerate(params)]
        op = self.pick(["+", "-", "*"])
        cls = [["class " + name, [
            "kind = %s" % self.literal("str"),
            [["function init(" + ", ".join(["self"] + params) + ")", init]],
            [["function %s(self, x)" % method, [
                [["safe", ["self.total = self.total %s x" % op]]],
                "self.seen = last_error()",
                "return [self.total, self.seen]",
            ]]],
            [["function label(self)", ['return %s.kind + ":" + String(self.total)' % name]]],
            [["function pair(self, other)", [
                'return type(other) + " " + String(self.total) + "/" + String(other.total) + " " + String(Bool(other.total)) + String(Int(other.total == self.total))']]],
        ]]]
        # A function whose parameter receives instances of this class only.
        # It and pair are called once here: a parameter that no call reaches
        # has no class.
        look = [["function look_%s(k)" % name, ['return k.label() + " " + String(k.total) + " " + type(k)']]]
        args = ", ".join(self.literal(self.pick(["int", "str"])) for _ in range(arity))
        probe = "probe_" + name
        self.classes.append({"name": name, "arity": arity, "method": method})
        return [cls, look, "%s = %s(%s)" % (probe, name, args), "print look_%s(%s), %s.pair(%s)" % (name, probe, probe, probe)]

    def program(self):
        tree = [
            [["function fact(n)", [[["if n <= 1", ["return 1"]]], "return n * fact(n - 1)"]]],
            [["function fib(n)", [[["if n < 2", ["return n"]]], "return fib(n - 1) + fib(n - 2)"]]],
            [["function digits(n)", [[["if n < 0", ["return \"-\" + digits(-n)"]]],
                                    [["if n < 10", ["return String(n)"]]],
                                    "return digits(n // 10) + String(n % 10)"]]],
            [["function nest(n, v)", [[["if n == 0", ["return v"]]], "return [nest(n - 1, v), (n,)]"]]],
            [["function some(n, v)", [[["if n > 1", ["return v"]], ["elif n == 1", ["return [v]"]]]]]],
            [["function index_of(xs, v)", ["i = 0", [["while i < len(xs)", [[["if xs[i] == v", ["return i"]]], "i = i + 1"]]]]]],
            # Operands of every static type that note their tag in log.
            [["function noted_none(log, tag)", ["log.append(tag)"]]],
            [["function noted_int(log, tag)", ["log.append(tag)", "return len(String(tag))"]]],
            [["function noted_float(log, tag)", ["log.append(tag)", "return 0.5 * len(String(tag))"]]],
            [["function noted_str(log, tag)", ["log.append(tag)", "return String(tag)"]]],
            [["function noted_list(log, tag)", ["log.append(tag)", "return [tag, tag]"]]],
        ]
        for i in range(self.r.randint(1, 2)):
            tree.extend(self.make_class(i))
        calls = []
        for i in range(self.r.randint(3, 6)):
            self.scope = Scope()
            body = [self.declare() for _ in range(self.r.randint(2, 5))]
            body += self.body(3, self.r.randint(4, 10))
            tree.append([["function t%d()" % i, body]])
            calls.append([["try", ["t%d()" % i]], ["else", ['print "t%d failed:", last_error()' % i]]])
        tree.extend(calls)
        if self.chance(0.15):
            self.scope = Scope()
            failing = self.failing()[0][0][1]
            tree.extend(failing)
        return tree


def generate(seed):
    return Generator(seed).program()


if __name__ == "__main__":
    sys.stdout.write(source(generate(int(sys.argv[1]))))
