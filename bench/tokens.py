# A tokenizer and evaluator over one long String: a generator writes a
# program of assignments (`v12 = (v3 + 417) * v7 - 5;`) of about N
# characters (the first argument, 100000 when none), the tokenizer reads it
# character by character by index and slices out names and numbers, and a
# recursive-descent evaluator runs the assignments.
import sys

size = 100000
if len(sys.argv) > 1:
    size = int(sys.argv[1])

class Random:
    def __init__(self, seed):
        self.seed = seed

    def below(self, n):
        self.seed = (self.seed * 1103515245 + 12345) % 2147483648
        return (self.seed // 65536) % n


random = Random(7)


def expression(depth):
    choice = random.below(10)
    if depth > 3 or choice < 3:
        if random.below(2) == 0:
            return str(random.below(1000))
        return "v" + str(random.below(20))
    elif choice < 5:
        return "(" + expression(depth + 1) + ")"
    operator = ["+", "-", "*"][random.below(3)]
    return expression(depth + 1) + " " + operator + " " + expression(depth + 1)


pieces = []
length = 0
while length < size:
    line = "v" + str(random.below(20)) + " = " + expression(0) + ";\n"
    pieces.append(line)
    length += len(line)
text = "".join(pieces)


def is_digit(c):
    return c >= "0" and c <= "9"


def is_letter(c):
    return (c >= "a" and c <= "z") or (c >= "A" and c <= "Z") or c == "_"


def tokenize(text):
    tokens = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c == " " or c == "\n":
            i += 1
        elif is_digit(c):
            start = i
            while i < n and is_digit(text[i]):
                i += 1
            tokens.append(text[start:i])
        elif is_letter(c):
            start = i
            while i < n and (is_letter(text[i]) or is_digit(text[i])):
                i += 1
            tokens.append(text[start:i])
        else:
            tokens.append(c)
            i += 1
    return tokens


class Evaluator:
    def __init__(self, tokens):
        self.tokens = tokens
        self.position = 0
        self.variables = {}

    def peek(self):
        if self.position < len(self.tokens):
            return self.tokens[self.position]
        return ""

    def take(self):
        token = self.peek()
        self.position += 1
        return token

    def primary(self):
        token = self.take()
        if token == "(":
            value = self.sum()
            self.take()
            return value
        elif is_digit(token[0]):
            return int(token)
        return self.variables.get(token, 0)

    def product(self):
        value = self.primary()
        while self.peek() == "*":
            self.take()
            value = value * self.primary() % 1000003
        return value

    def sum(self):
        value = self.product()
        while self.peek() == "+" or self.peek() == "-":
            if self.take() == "+":
                value = (value + self.product()) % 1000003
            else:
                value = (value - self.product()) % 1000003
        return value

    def run(self):
        statements = 0
        while self.position < len(self.tokens):
            name = self.take()
            self.take()
            self.variables[name] = self.sum()
            self.take()
            statements += 1
        return statements


tokens = tokenize(text)
evaluator = Evaluator(tokens)
statements = evaluator.run()
total = 0
for name in evaluator.variables:
    total += evaluator.variables[name]
print(len(text), "characters,", len(tokens), "tokens,", statements, "statements")
print("v0 =", evaluator.variables.get("v0", 0), "sum =", total)
