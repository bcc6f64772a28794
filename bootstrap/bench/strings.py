text = ""
for i in range(50000):
    text += "word" + str(i % 100) + ","
parts = text.split(",")
count = 0
for p in parts:
    if p == "word7":
        count = count + 1
print(len(parts), count)
