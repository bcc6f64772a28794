# A recursive-descent parser and evaluator of Int expressions, written with
# classes: a generator writes the expressions from a fixed seed, a lexer
# cuts them into tokens, the parser builds a tree (Lists: a number, a
# negation, or an operator with two operands) and evaluates it.
class Generator:
    def __init__(self, seed):
        self.state = seed
    def below(self, n):
        self.state = (self.state * 1103515245 + 12345) % 2147483648
        return (self.state // 65536) % n
    def expression(self, depth):
        choice = self.below(10)
        if depth > 5 or choice < 3:
            return str(self.below(1000))
        elif choice < 4:
            return "-" + self.expression(depth + 1)
        elif choice < 6:
            return "(" + self.expression(depth + 1) + ")"
        left = self.expression(depth + 1)
        operator = ["+", "-", "*", "%"][self.below(4)]
        return left + " " + operator + " " + self.expression(depth + 1)

class Lexer:
    def __init__(self, text):
        self.text = text
    def tokens(self):
        tokens = []
        digits = ""
        for ch in self.text:
            if ch >= "0" and ch <= "9":
                digits = digits + ch
            else:
                if digits != "":
                    tokens.append(digits)
                    digits = ""
                if ch != " ":
                    tokens.append(ch)
        if digits != "":
            tokens.append(digits)
        tokens.append("")
        return tokens

class Parser:
    def __init__(self, tokens):
        self.tokens = tokens
        self.position = 0
    def peek(self):
        return self.tokens[self.position]
    def take(self):
        self.position = self.position + 1
        return self.tokens[self.position - 1]
    def expression(self):
        node = self.term()
        while self.peek() == "+" or self.peek() == "-":
            operator = self.take()
            node = [operator, node, self.term()]
        return node
    def term(self):
        node = self.factor()
        while self.peek() == "*" or self.peek() == "%":
            operator = self.take()
            node = [operator, node, self.factor()]
        return node
    def factor(self):
        token = self.take()
        if token == "-":
            return ["neg", self.factor()]
        elif token == "(":
            node = self.expression()
            self.take()
            return node
        return ["num", int(token)]
    def evaluate(self, node):
        kind = node[0]
        if kind == "num":
            return node[1]
        elif kind == "neg":
            return -self.evaluate(node[1])
        a = self.evaluate(node[1])
        b = self.evaluate(node[2])
        if kind == "+":
            return a + b
        elif kind == "-":
            return a - b
        elif kind == "*":
            return a * b
        elif b == 0:
            return 0
        return a % b

generator = Generator(2026)
total = 0
longest = 0
nodes = 0
for i in range(6000):
    text = generator.expression(0)
    tokens = Lexer(text).tokens()
    parser = Parser(tokens)
    total = (total + parser.evaluate(parser.expression())) % 1000000007
    nodes = nodes + len(tokens)
    if len(text) > longest:
        longest = len(text)
print(nodes, longest, total)
