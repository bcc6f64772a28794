# Shortest paths in a maze: a 300 x 300 grid of walls drawn from a fixed
# seed, searched breadth first from a corner with a List as the queue;
# reports how many cells are reachable, the distance to the far corner and
# a histogram of distances.
class Random:
    def __init__(self, seed):
        self.seed = seed

    def below(self, n):
        self.seed = (self.seed * 1103515245 + 12345) % 2147483648
        return (self.seed // 65536) % n


size = 300
random = Random(2026)
grid = []
for row in range(0, size):
    cells = []
    for column in range(0, size):
        if random.below(100) < 28:
            cells.append(1)
        else:
            cells.append(0)
    grid.append(cells)
grid[0][0] = 0
grid[size - 1][size - 1] = 0
grid[size - 2][size - 1] = 0
grid[size - 1][size - 2] = 0

distance = []
for row in range(0, size):
    line = []
    for column in range(0, size):
        line.append(-1)
    distance.append(line)

queue = [[0, 0]]
distance[0][0] = 0
head = 0
moves = [[1, 0], [-1, 0], [0, 1], [0, -1]]
while head < len(queue):
    cell = queue[head]
    head += 1
    row = cell[0]
    column = cell[1]
    for move in moves:
        r = row + move[0]
        c = column + move[1]
        if r >= 0 and r < size and c >= 0 and c < size:
            if grid[r][c] == 0 and distance[r][c] < 0:
                distance[r][c] = distance[row][column] + 1
                queue.append([r, c])

histogram = {}
farthest = 0
for row in range(0, size):
    for column in range(0, size):
        d = distance[row][column]
        if d >= 0:
            bucket = d // 100
            histogram[bucket] = histogram.get(bucket, 0) + 1
            if d > farthest:
                farthest = d
print(len(queue), "cells reachable, far corner at", distance[size - 1][size - 1], "farthest", farthest)
keys = list(histogram.keys())
keys.sort()
for k in keys:
    print(str(k * 100) + "-" + str(k * 100 + 99) + ":", histogram[k])
