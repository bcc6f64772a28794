#!/usr/bin/env python3
"""Int and Float routine cases, with CPython's own arithmetic as the oracle.

  number_cases.py table     one line per case for number_cases.kep:
                            NAME|ROUTINE|ARGS|RESULT, ARGS joined by ";",
                            each "i:INT", "f:BITS" (a Float object holding
                            these bits, as a signed Int) or "s:TEXT" (a
                            String literal); RESULT "int" or "float"
  number_cases.py expected  "NAME: VALUE" per case as number_cases.kep
                            prints it: an Int as 64-bit two's-complement hex
                            without leading zeros, a Float as the hex of
                            its bits the same way, "nan" for every NaN
"""
import math
import struct
import sys

INF = math.inf
NAN = math.nan
WRAP = 2 ** 64
INT_MIN = -2 ** 63


def bits(x):
    return struct.unpack("<q", struct.pack("<d", x))[0]


def divide(a, b):
    if b == 0.0:
        if a == 0.0 or math.isnan(a):
            return NAN
        return math.copysign(INF, a) * math.copysign(1.0, b)
    return a / b


def sequential_power(x, n):
    """1.0 times x, n times in order, each product rounded; 1.0 / that for
    a negative n."""
    p = 1.0
    for _ in range(abs(n)):
        p = p * x
    return divide(1.0, p) if n < 0 else p


def truncate(x):
    if math.isnan(x) or math.isinf(x):
        return INT_MIN
    t = int(x)
    return t if INT_MIN <= t < 2 ** 63 else INT_MIN


def int_power(b, e):
    return pow(b, e, WRAP) if e > 0 else 1


CASES = []


def case(name, routine, args, result, value):
    CASES.append((name, routine, args, result, value))


for text in ["", "007", "9223372036854775807", "18446744073709551617"]:
    case("parse_literal_int " + (text or "(empty)"), "runtime_parse_literal_int",
         [("s", text)], "int", int(text or "0") % WRAP)

for b, e in [(0, 0), (-2, 3), (2, 64), (3, 40), (5, 0), (7, -1), (-3, 63), (3, 2 ** 62 + 5)]:
    case("int_power %d ^ %d" % (b, e), "runtime_int_power", [("i", b), ("i", e)], "int",
         int_power(b, e))

for x, n in [(NAN, 0), (-2.0, 3), (10.0, -1), (2.0, -2), (0.0, -1), (-0.0, -1), (1.1, 50),
             (0.9, -30), (-2.0, 3000), (0.5, 2000), (-0.5, 2001), (-0.5, -2001), (NAN, 5),
             (-1.0, 4097)]:
    case("float_power %r ^ %d" % (x, n), "runtime_float_power", [("f", x), ("i", n)], "float",
         sequential_power(x, n))
# Exponents too large for the oracle's loop: once the product is 0, an
# infinity or +-1 it keeps its magnitude, and each further factor of a
# negative base flips its sign.
for x, n, value in [(-1.0, 10 ** 18 + 1, -1.0), (-1.0, 10 ** 18, 1.0), (2.0, 10 ** 18, INF),
                    (-2.0, 10 ** 18 + 1, -INF), (-0.5, -(10 ** 18 + 1), -INF),
                    (1.5, INT_MIN, 1.0)]:
    case("float_power %r ^ %d" % (x, n), "runtime_float_power", [("f", x), ("i", n)], "float",
         value)

for i in [0, -7, 2 ** 53 + 1, 2 ** 63 - 1, INT_MIN]:
    case("float_from_int %d" % i, "runtime_float_from_int", [("i", i)], "float", float(i))

for x in [2.9, -2.9, 0.0, NAN, INF, -INF, 1e19, -1e19, 9.2e18, 2.0 ** 63, -2.0 ** 63]:
    case("float_to_int %r" % x, "runtime_float_to_int", [("f", x)], "int", truncate(x))

case("float_new 1.5", "runtime_float_new", [("i", bits(1.5))], "float", 1.5)

operations = [("add", "runtime_float_add", lambda a, b: a + b),
              ("sub", "runtime_float_sub", lambda a, b: a - b),
              ("mul", "runtime_float_mul", lambda a, b: a * b),
              ("div", "runtime_float_div", divide)]
pairs = [(0.1, 0.2), (1e308, 1e308), (INF, -INF), (5e-324, 0.5), (1.0, 3.0), (-0.0, 0.0),
         (1.0, 0.0), (-1.0, 0.0), (0.0, 0.0), (NAN, 1.0)]
for word, routine, op in operations:
    for a, b in pairs:
        if word != "div" and b == 0.0 and a != -0.0:
            continue
        case("float_%s %r %r" % (word, a, b), routine, [("f", a), ("f", b)], "float", op(a, b))

# Text, the mantissa and divisor it reads, and whether a "-" occurs.
for text, mantissa, divisor, minus in [("12.50", 1250, 100, False), ("-3", 3, 1, True),
                                       ("1-2", 12, 1, True), (".", 0, 1, False),
                                       ("-0", 0, 1, True), ("3.14159", 314159, 100000, False),
                                       ("1.2.3", 123, 100, False), ("0.1", 1, 10, False)]:
    value = float(mantissa) / float(divisor)
    case("string_to_float " + text, "runtime_string_to_float", [("s", text)], "float",
         -value if minus else value)


def hex_text(word):
    return "%x" % (word % WRAP)


def expected(result, value):
    if result == "float":
        return "nan" if math.isnan(value) else hex_text(bits(value))
    return hex_text(value)


def argument(kind, value):
    if kind == "f":
        return "f:%d" % bits(value)
    if kind == "i":
        return "i:%d" % value
    return "s:" + value


if __name__ == "__main__":
    for name, routine, args, result, value in CASES:
        if sys.argv[1] == "table":
            print("|".join([name, routine, ";".join(argument(k, v) for k, v in args), result]))
        else:
            print("%s: %s" % (name, expected(result, value)))
