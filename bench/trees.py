# Binary trees: build many complete trees of class instances, walk each to
# count its nodes, and keep one long-lived tree the whole run.
class Node:
    def __init__(self, left, right):
        self.left = left
        self.right = right


def make_tree(depth):
    if depth == 0:
        return Node(None, None)
    return Node(make_tree(depth - 1), make_tree(depth - 1))


def count_nodes(node):
    if node.left is None:
        return 1
    return 1 + count_nodes(node.left) + count_nodes(node.right)


max_depth = 12
stretch = make_tree(max_depth + 1)
print("stretch tree of depth", max_depth + 1, "check:", count_nodes(stretch))
stretch = None
long_lived = make_tree(max_depth)
depth = 4
while depth <= max_depth:
    iterations = 1
    for i in range(0, max_depth - depth + 4):
        iterations = iterations * 2
    total = 0
    for i in range(0, iterations):
        total += count_nodes(make_tree(depth))
    print(iterations, "trees of depth", depth, "check:", total)
    depth += 2
print("long lived tree of depth", max_depth, "check:", count_nodes(long_lived))
