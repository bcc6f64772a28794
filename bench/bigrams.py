# Word and bigram counts: a generated text of 300,000 words over a
# vocabulary of 600 (made of syllables, drawn with a skew so that some words
# are common), split into lines and words, counted in Dictionaries, and the
# most frequent words and pairs of neighbours listed by count (ties by text).
class Random:
    def __init__(self, seed):
        self.seed = seed

    def below(self, n):
        self.seed = (self.seed * 1103515245 + 12345) % 2147483648
        return (self.seed // 65536) % n


random = Random(42)
syllables = ["ka", "lo", "mi", "nu", "ser", "ta", "vo", "rin", "el", "dou"]
vocabulary = []
for i in range(0, 600):
    word = syllables[i % 10] + syllables[(i // 10) % 10]
    if i >= 100:
        word = word + syllables[(i // 100) % 10]
    vocabulary.append(word)

lines = []
for l in range(0, 25000):
    words = []
    for w in range(0, 12):
        r = random.below(600)
        words.append(vocabulary[r * r // 600])
    lines.append(" ".join(words))
text = "\n".join(lines)

word_counts = {}
pair_counts = {}
for line in text.split("\n"):
    previous = None
    for word in line.split(" "):
        word_counts[word] = word_counts.get(word, 0) + 1
        if previous is not None:
            pair = previous + " " + word
            pair_counts[pair] = pair_counts.get(pair, 0) + 1
        previous = word


def by_count(counts, how_many):
    buckets = {}
    for key in counts:
        n = counts[key]
        if n in buckets:
            buckets[n].append(key)
        else:
            buckets[n] = [key]
    numbers = list(buckets.keys())
    numbers.sort()
    numbers.reverse()
    result = []
    for n in numbers:
        keys = buckets[n]
        keys.sort()
        for key in keys:
            if len(result) < how_many:
                result.append(key + ": " + str(n))
    return result


print(len(text), "characters,", len(word_counts), "words,", len(pair_counts), "pairs")
for line in by_count(word_counts, 10):
    print(line)
for line in by_count(pair_counts, 10):
    print(line)
