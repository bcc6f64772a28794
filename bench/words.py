# Word frequencies: reads the text of the file named by the first argument,
# or standard input when there is none, counts each word (words are
# separated by single spaces and line ends) and prints the number of words,
# the number of different ones, and the ten most frequent with their counts
# (equal counts in alphabetical order).
import sys

source = "/dev/stdin"
if len(sys.argv) > 1:
    source = sys.argv[1]
counts = {}
total = 0
with open(source) as f:
    text = f.read()
for line in text.split("\n"):
    for word in line.split(" "):
        if word != "":
            total = total + 1
            if word in counts:
                counts[word] = counts[word] + 1
            else:
                counts[word] = 1
words = list(counts.keys())
words.sort()
print(total, len(words))
taken = {}
for rank in range(10):
    best = ""
    for word in words:
        if not (word in taken) and (best == "" or counts[word] > counts[best]):
            best = word
    taken[best] = True
    print(best, counts[best])
