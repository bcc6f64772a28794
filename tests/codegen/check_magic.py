#!/usr/bin/env python3
"""Checks the division constants that magic_table.kep prints.

Each line is "d M s". For every divisor the pair must equal the classic
signed magic-number search carried out with unbounded integers, and the
multiply-high sequence of the integer division code must give floor
division and floor modulo for boundary and random dividends, computed here
with Python's own // and %.
"""
import random
import sys

TWO64 = 1 << 64
MIN64, MAX64 = -(1 << 63), (1 << 63) - 1


def wrap(v):
    v %= TWO64
    return v - TWO64 if v > MAX64 else v


def reference_magic(d):
    two63 = 1 << 63
    anc = two63 - 1 - two63 % d
    p = 63
    q1, r1 = divmod(two63, anc)
    q2, r2 = divmod(two63, d)
    while True:
        p += 1
        q1, r1 = 2 * q1, 2 * r1
        if r1 >= anc:
            q1, r1 = q1 + 1, r1 - anc
        q2, r2 = 2 * q2, 2 * r2
        if r2 >= d:
            q2, r2 = q2 + 1, r2 - d
        delta = d - r2
        if not (q1 < delta or (q1 == delta and r1 == 0)):
            break
    return wrap(q2 + 1), p - 64


def magic_floor(x, d, m, s):
    """The generated sequence: imul, optional add, sar, sign fix, floor fix."""
    high = (x * m) >> 64
    if m < 0:
        high = wrap(high + x)
    high >>= s
    q = wrap(high + ((x % TWO64) >> 63))
    r = wrap(x - wrap(q * d))
    if r < 0:
        q, r = q - 1, r + d
    return q, r


def dividends(d, rng):
    edges = {MIN64, MIN64 + 1, -1, 0, 1, MAX64 - 1, MAX64, d - 1, d, d + 1, -d, -d - 1, -d + 1}
    for k in (MAX64 // d, MIN64 // d, MIN64 // d + 1, 1, -1):
        for delta in (-1, 0, 1):
            edges.add(wrap(k * d + delta))
    edges.update(rng.randint(MIN64, MAX64) for _ in range(40))
    edges.update(rng.randint(-4 * d, 4 * d) for _ in range(20))
    return edges


def main():
    rng = random.Random(7)
    checked = failed = 0
    for line in sys.stdin:
        d, m, s = (int(field) for field in line.split())
        want = reference_magic(d)
        problems = []
        if (m, s) != want:
            problems.append(f"constants {m} {s}, expected {want[0]} {want[1]}")
        for x in dividends(d, rng):
            if magic_floor(x, d, m, s) != (x // d, x % d):
                problems.append(f"wrong quotient for {x}")
                break
        checked += 1
        if problems:
            failed += 1
            print(f"FAIL d={d}: " + "; ".join(problems))
    if checked < 20:
        print(f"FAIL only {checked} divisors read")
        failed += 1
    print(f"division magic: {checked - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
