d = {}
for i in range(100000):
    d["key" + str(i)] = i
total = 0
for i in range(100000):
    total = total + d["key" + str(i)]
print(len(d), total)
