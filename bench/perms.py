# Permutations over a List of Ints: every ordering of 1..9 made by swapping
# in place, recursively; for each, a weighted sum and whether it leaves no
# number in its own place, and the largest weighted sum seen.
class Search:
    def __init__(self, n):
        self.items = []
        for i in range(1, n + 1):
            self.items.append(i)
        self.count = 0
        self.derangements = 0
        self.best = 0
        self.checksum = 0

    def visit(self):
        items = self.items
        weighted = 0
        fixed = False
        for i in range(0, len(items)):
            weighted += (i + 1) * items[i]
            if items[i] == i + 1:
                fixed = True
        self.count += 1
        if not fixed:
            self.derangements += 1
        if weighted > self.best:
            self.best = weighted
        self.checksum = (self.checksum * 31 + weighted) % 1000000007

    def permute(self, k):
        items = self.items
        if k == len(items):
            self.visit()
            return
        for i in range(k, len(items)):
            t = items[k]
            items[k] = items[i]
            items[i] = t
            self.permute(k + 1)
            t = items[k]
            items[k] = items[i]
            items[i] = t


search = Search(9)
search.permute(0)
print(search.count, "permutations,", search.derangements, "derangements")
print("best", search.best, "checksum", search.checksum, "items", search.items)
