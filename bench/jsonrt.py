# A json round trip: 10,000 records (Dictionaries of Ints, Floats, Strings,
# Bools, None and a List) encoded to one text, decoded back, compared with
# the originals and encoded again.
import json

records = []
for i in range(0, 10000):
    tags = ["t" + str(i % 7), "group " + str(i % 13)]
    note = None
    if i % 50 == 0:
        note = "quoted \"" + str(i) + "\"\tand\nsplit"
    record = {"id": i, "name": "user" + str(i), "score": (i * 37 % 1000) / 10.0,
              "ratio": i / 64.0, "active": i % 3 == 0, "tags": tags, "note": note}
    records.append(record)
text = json.dumps(records)
back = json.loads(text)
again = json.dumps(back)
active = 0
total = 0.0
for record in back:
    if record["active"]:
        active += 1
    total += record["score"]
print(len(text), back == records, again == text, active, total)
print(again[0:120])
