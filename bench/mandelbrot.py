# Escape counts of a 120 x 60 grid over [-2, 1] x [-1, 1], 200 steps at most.
def escape(cr, ci):
    zr = 0.0
    zi = 0.0
    n = 0
    while n < 200 and zr * zr + zi * zi <= 4.0:
        t = zr * zr - zi * zi + cr
        zi = 2.0 * zr * zi + ci
        zr = t
        n = n + 1
    return n
total = 0
for y in range(60):
    for x in range(120):
        total = total + escape(-2.0 + 3.0 * x / 120.0, -1.0 + 2.0 * y / 60.0)
print(total)
