# Writes the text the word-frequency programs read: about 5 MB of lower-case
# words from a fixed vocabulary, drawn with a skewed frequency from a fixed
# seed, ten to fourteen words a line. Usage: python3 bench/words_text.py PATH
import sys

state = 2026


def below(n):
    global state
    state = (state * 1103515245 + 12345) % 2147483648
    return (state // 65536) % n


syllables = ["ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "ber", "dan", "gor", "hel", "qua", "zen"]
vocabulary = []
for i in range(5000):
    word = ""
    for _ in range(1 + below(4)):
        word += syllables[below(len(syllables))]
    vocabulary.append(word)
lines = []
size = 0
while size < 5000000:
    words = []
    for _ in range(10 + below(5)):
        # The smaller of two draws: the first words are the most frequent.
        words.append(vocabulary[min(below(5000), below(5000))])
    line = " ".join(words)
    lines.append(line)
    size += len(line) + 1
with open(sys.argv[1], "w") as out:
    out.write("\n".join(lines) + "\n")
