#!/usr/bin/env python3
"""Writes float_oracle.txt, the golden cases for Float text and parsing.

Run once; the output is committed. CPython is the independent oracle:
repr(float) gives the shortest digits that read back as the same double,
and float(text) rounds correctly (half to even).

Lines:
  F <bits> <text>   the double with these bits (a signed 64-bit Int) prints
                    as <text>: CPython's digits in KEP's layout
  P <text> <bits>   the text parses to the double with these bits
"""
import decimal
import random
import struct
import sys

rng = random.Random(20240605)


def bits_of(x):
    return struct.unpack("<q", struct.pack("<d", x))[0]


def from_bits(b):
    return struct.unpack("<d", struct.pack("<Q", b & 0xFFFFFFFFFFFFFFFF))[0]


def layout(digits, e, negative):
    """KEP's layout of significant digits whose leading digit has exponent e."""
    count = len(digits)
    sign = "-" if negative else ""
    if e >= 16 or e <= -7:
        head = digits[0] + (".0" if count == 1 else "." + digits[1:])
        return sign + head + ("e-%d" % -e if e < 0 else "e+%d" % e)
    if e < 0:
        return sign + "0." + "0" * (-e - 1) + digits
    whole = digits[: e + 1].ljust(e + 1, "0")
    return sign + whole + "." + (digits[e + 1 :] or "0")


def kep_text(x):
    if x != x:
        return "nan"
    if x in (float("inf"), float("-inf")):
        return "inf" if x > 0 else "-inf"
    negative = bits_of(x) < 0
    a = abs(x)
    if a == 0:
        return "-0.0" if negative else "0.0"
    if a.is_integer() and a < 2.0**63:
        return ("-" if negative else "") + str(int(a)) + ".0"
    _, digit_tuple, exp = decimal.Decimal(repr(a)).normalize().as_tuple()
    digits = "".join(map(str, digit_tuple))
    return layout(digits, len(digits) - 1 + exp, negative)


formats = []
parses = []


def add_format(x):
    formats.append("F %d %s" % (bits_of(x), kep_text(x)))


def add_parse(text):
    parses.append("P %s %d" % (text, bits_of(float(text))))


def signed(x):
    return -x if rng.random() < 0.5 else x


# Doubles: random bit patterns over every exponent, NaNs and infinities included.
for _ in range(30000):
    add_format(from_bits(rng.getrandbits(64)))
# Random values in [0, 1), where short texts abound.
for _ in range(20000):
    add_format(signed(rng.random()))
# Powers of ten, as literals read them.
for k in range(-330, 311):
    add_format(float("1e%d" % k))
# Subnormals.
for _ in range(5000):
    add_format(signed(from_bits(rng.getrandbits(52))))
# Powers of two and their neighbours: the boundaries of every binade.
for b in range(1, 2047):
    for delta in (-1, 0, 1):
        add_format(from_bits((b << 52) + delta))
for b in (1, 2, 3, (1 << 52) - 1, 1 << 52, 0x7FEFFFFFFFFFFFFF):
    add_format(from_bits(b))
# Around the integral limits 2^53 and 2^63, and integral values of every size.
for base in (2.0**53, 2.0**63, 1e16, 1e17, 1e22, 1e23):
    b = bits_of(base)
    for delta in range(-20, 21):
        add_format(from_bits(b + delta))
for _ in range(2000):
    add_format(float(rng.randrange(1, 10 ** rng.randrange(1, 25))))
# Everyday numbers: a few decimals, moderate size.
for _ in range(5000):
    add_format(signed(round(rng.uniform(0, 10 ** rng.randrange(0, 8)), rng.randrange(0, 7))))


def digit_string(n):
    return str(rng.randrange(1, 10)) + "".join(str(rng.randrange(10)) for _ in range(n - 1))


def decimal_text(digits, exponent):
    """digits * 10^exponent in one of several spellings."""
    style = rng.randrange(4)
    if style == 0:
        return digits + "e" + str(exponent)
    if style == 1:
        return digits[0] + "." + digits[1:] + "E" + ("+" if exponent >= 0 else "") + str(exponent + len(digits) - 1)
    point = rng.randrange(0, len(digits) + 1)
    mantissa = digits[:point] + "." + digits[point:]
    if mantissa == ".":
        mantissa = "0."
    if style == 2:
        return mantissa + "e" + str(exponent + len(digits) - point)
    return "-" + mantissa + "e" + str(exponent + len(digits) - point)


# Short texts and long texts (17 to 40 significant digits), exponents -330..310.
for _ in range(20000):
    n = rng.randrange(1, 7)
    add_parse(decimal_text(digit_string(n), rng.randrange(-330, 311) - n + 1))
for _ in range(20000):
    n = rng.randrange(17, 41)
    add_parse(decimal_text(digit_string(n), rng.randrange(-330, 311) - n + 1))

# Halfway cases: the exact midpoint between two neighbouring doubles (a tie,
# decided towards the even mantissa), and the nearest 20-digit texts just
# below and just above it.
decimal.getcontext().prec = 2000


def exact_text(value):
    sign, digit_tuple, exp = value.normalize().as_tuple()
    digits = "".join(map(str, digit_tuple))
    return digits + "e" + str(exp)


for i in range(5000):
    if i < 4500:
        b = bits_of(rng.uniform(1.0, 2.0)) + ((rng.randrange(-200, 201)) << 52)
    else:
        b = rng.randrange(1, 0x7FEFFFFFFFFFFFFF)
    low = decimal.Decimal(from_bits(b))
    mid = (low + decimal.Decimal(from_bits(b + 1))) / 2
    add_parse(exact_text(mid))
    sign, digit_tuple, exp = mid.normalize().as_tuple()
    if len(digit_tuple) > 20:
        head = int("".join(map(str, digit_tuple[:20])))
        shift = exp + len(digit_tuple) - 20
        add_parse("%de%d" % (head, shift))
        add_parse("%de%d" % (head + 1, shift))

# Spellings at the edges of the grammar and of the range.
edge_texts = [
    "0", "-0", "0.0", "-0.0", "00000", "0e999999999", "000123.4500", ".5", "5.", "+.5e3",
    "1e5", "1E+5", "1e-5", "+1.5", "-2.5E-3", "2.3e2", "1e300", "1e-320", "1e-400", "1e400",
    "1e99999999999999999999", "1e-99999999999999999999", "1." + "0" * 400, "0." + "0" * 400 + "1",
    "1" + "0" * 400 + "e-400", "9" * 800 + "e-800", "1" * 900 + "e-900", "4.9406564584124654e-324",
    "2.4703282292062327e-324", "2.4703282292062328e-324", "1.7976931348623157e308",
    "1.7976931348623158e308", "1.797693134862315807e308", "2.2250738585072011e-308",
    "2.2250738585072014e-308", "9007199254740993", "9007199254740992.5", "0.1", "0.2", "0.3",
    "123456789012345678901234567890", "3.141592653589793238462643383279",
]
for text in edge_texts:
    add_parse(text)

out = sys.argv[1] if len(sys.argv) > 1 else "float_oracle.txt"
with open(out, "w") as f:
    f.write("\n".join(formats + parses) + "\n")
print("%d format cases, %d parse cases" % (len(formats), len(parses)))
