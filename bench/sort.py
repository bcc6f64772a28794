# 200,000 pseudo-random Ints from a linear congruential sequence, sorted.
values = []
x = 12345
for i in range(200000):
    x = (x * 1103515245 + 12345) % 2147483648
    values.append(x)
values.sort()
print(values[0], values[100000], values[199999])
