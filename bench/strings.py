parts = []
for i in range(200000):
    parts.append("word" + str(i % 100))
text = ",".join(parts)
pieces = text.split(",")
count = 0
for p in pieces:
    if p == "word7":
        count = count + 1
print(len(text), len(pieces), count)
