import gc

words = []
for i in range(200000):
    words.append(str(i))
words = None
gc.collect()
rows = []
for i in range(200000):
    rows.append([i, i + 1])
print(len(rows), rows[199999][1])
