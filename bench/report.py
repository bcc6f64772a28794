# Report formatting: 60,000 rows of sales turned into aligned text lines
# (names padded, Ints and Floats converted to Strings, money written from
# cents), then a summary per region.
regions = ["north", "south", "east", "west", "centre", "islands", "coast", "hills"]
products = ["bolts", "nuts", "washers", "screws", "rivets", "hinges", "nails"]


def pad_right(text, width):
    while len(text) < width:
        text = text + " "
    return text


def pad_left(text, width):
    while len(text) < width:
        text = " " + text
    return text


def money(cents):
    fraction = str(cents % 100)
    if len(fraction) < 2:
        fraction = "0" + fraction
    return str(cents // 100) + "." + fraction


lines = []
totals = {}
counts = {}
characters = 0
for i in range(0, 60000):
    region = regions[i % 8]
    product = products[(i // 8) % 7]
    quantity = i % 17 + 1
    price = (i * 7919) % 100000 + 1
    amount = quantity * price
    average = amount / 100.0 / quantity
    line = pad_right(region, 8) + " | " + pad_right(product, 7) + " | " + pad_left(str(quantity), 3)
    line = line + " x " + pad_left(money(price), 8) + " = " + pad_left(money(amount), 10) + " (" + str(average) + ")"
    lines.append(line)
    characters += len(line)
    totals[region] = totals.get(region, 0) + amount
    counts[region] = counts.get(region, 0) + quantity

print(len(lines), "lines,", characters, "characters")
print(lines[0])
print(lines[12345])
print(lines[len(lines) - 1])
for region in regions:
    share = totals[region] / 100.0 / counts[region]
    print(pad_right(region, 8) + " " + pad_left(money(totals[region]), 14) + " " + str(counts[region]) + " items, " + str(share) + " each")
