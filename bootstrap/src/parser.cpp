// The parser of kep0.
#include "parser.hpp"

#include "diagnostics.hpp"
#include "lexer.hpp"
#include "stack.hpp"
#include "utf8.hpp"

namespace kep {

const char* node_kind_name(NodeKind kind) {
  static const char* const names[] = {
      "function", "if",    "while",      "for",   "loop",    "class",   "safe",   "try",   "error",
      "print",    "return", "break",     "continue", "load", "ctype",   "delete", "assign", "expression",
      "literal",  "name",  "call",       "index", "slice",   "member",  "unary",  "real_array",
      "binary",   "compare", "tuple",    "list",  "dictionary"};
  static_assert(sizeof names / sizeof names[0] == E_DICTIONARY + 1, "one name per node kind");
  return names[kind];
}

namespace {

// Blocks, bracketed and embedded expressions, prefix operators, exponents
// and postfix forms nest at most this deep (the KEP front end has the same
// limit), so that no pass over the tree runs out of stack; chains of binary
// operators are flat and do not count.
constexpr int kMaxNesting = 1000;

struct Parser {
  std::vector<Token> tokens;
  size_t pos = 0;
  const std::string& path;
  const std::string& shown;  // text whose lines diagnostics show
  int nesting = 0;

  Parser(const std::string& p, const std::string& source, const std::string& shown_text, int line,
         std::vector<int> columns)
      : tokens(tokenize_at(p, source, shown_text, line, std::move(columns))), path(p), shown(shown_text) {}

  const Token& peek() const { return tokens[pos]; }
  const Token& previous() const { return tokens[pos == 0 ? 0 : pos - 1]; }
  const Token& advance() {
    const Token& t = tokens[pos];
    if (t.kind != K_EOF) pos++;
    return t;
  }
  bool check_kind(TokKind k) const { return peek().kind == k; }
  static bool is_data(const Token& t) { return t.kind == K_STRING || t.kind == K_NUMBER || t.kind == K_TUV; }
  bool check_value(const char* v) const { return !is_data(peek()) && peek().value == v; }
  bool accept_value(const char* v) {
    if (!check_value(v)) return false;
    advance();
    return true;
  }
  void skip_newlines() {
    while (check_kind(K_NEWLINE)) advance();
  }

  [[noreturn]] void report_at_token(const Token& t, const std::string& code, const std::string& message,
                                    const std::string& help) {
    int width = t.end_column - t.column;
    report_diagnostic(path, t.line, t.column, width > 1 ? width : 1, get_source_line(shown, t.line), code,
                      message, help);
  }
  const Token& expect_value(const char* v, const char* code, const std::string& message) {
    if (!check_value(v)) report_at_token(peek(), code, message, std::string("expected `") + v + "` here");
    return advance();
  }
  const Token& expect_kind(TokKind k, const char* code, const std::string& message) {
    if (!check_kind(k)) report_at_token(peek(), code, message, "check the token at this position");
    return advance();
  }

  Node* make_node(NodeKind kind, const Token& t) {
    Node* n = new Node();
    n->kind = kind;
    n->line = t.line;
    n->column = t.column;
    n->end_column = t.end_column;
    return n;
  }
  Node* make_node_at(NodeKind kind, const Node* at) {
    Node* n = new Node();
    n->kind = kind;
    n->line = at->line;
    n->column = at->column;
    n->end_column = at->end_column;
    return n;
  }
  Node* finish(Node* n) {
    n->end_column = previous().end_column;
    return n;
  }
  Node* make_string_literal_at(const Node* at, const std::string& text) {
    Node* n = make_node_at(E_LITERAL, at);
    n->literal = L_STRING;
    n->text = text;
    return n;
  }
  static Node* make_binary(const std::string& op, Node* l, Node* r) {
    Node* n = new Node();
    n->kind = E_BINARY;
    n->line = l->line;
    n->column = l->column;
    n->end_column = r->end_column;
    n->name = op;
    n->left = l;
    n->right = r;
    return n;
  }

  // One level deeper; beyond the limit the current token is reported.
  void enter_nesting() {
    if (++nesting > kMaxNesting || stack_nearly_exhausted())
      report_at_token(peek(), "E1100", "expression nested too deeply", "split the expression");
  }
  struct Depth {
    Parser& p;
    explicit Depth(Parser& parser) : p(parser) { p.enter_nesting(); }
    ~Depth() { p.nesting--; }
  };

  // ---- expressions

  Node* parse_expression() {
    Depth guard(*this);
    return parse_or();
  }

  Node* parse_or() {
    Node* left = parse_and();
    while (accept_value("or")) left = make_binary("or", left, parse_and());
    return left;
  }
  Node* parse_and() {
    Node* left = parse_comparison();
    while (accept_value("and")) left = make_binary("and", left, parse_comparison());
    return left;
  }
  bool at_operator(std::initializer_list<const char*> ops) const {
    if (is_data(peek())) return false;
    for (const char* op : ops)
      if (peek().value == op) return true;
    return false;
  }
  Node* parse_comparison() {
    Node* first = parse_additive();
    NodeList operands{first};
    std::vector<std::string> ops;
    while (at_operator({"==", "!=", "<", "<=", ">", ">=", "in", "not", "is"})) {
      std::string op = advance().value;
      if (op == "not") {
        expect_value("in", "E1111", "expected in after not");
        op = "not in";
      } else if (op == "is" && accept_value("not")) {
        op = "is not";
      }
      ops.push_back(op);
      operands.push_back(parse_additive());
    }
    if (ops.empty()) return first;
    Node* n = make_node_at(E_COMPARE, first);
    n->end_column = operands.back()->end_column;
    n->strings = std::move(ops);
    n->items = std::move(operands);
    return n;
  }
  Node* parse_additive() {
    Node* left = parse_multiplicative();
    while (at_operator({"+", "-"})) {
      std::string op = advance().value;
      left = make_binary(op, left, parse_multiplicative());
    }
    return left;
  }
  Node* parse_multiplicative() {
    Node* left = parse_power();
    while (at_operator({"*", "/", "//", "%"})) {
      std::string op = advance().value;
      left = make_binary(op, left, parse_power());
    }
    return left;
  }
  Node* parse_power() {
    Node* base = parse_unary();
    if (accept_value("^")) {
      Depth guard(*this);
      return make_binary("^", base, parse_power());
    }
    return base;
  }
  Node* parse_unary() {
    const Token& t = peek();
    for (const char* op : {"not", "-", "+"}) {
      if (accept_value(op)) {
        Node* n = make_node(E_UNARY, t);
        n->name = op;
        Depth guard(*this);
        n->operand = parse_unary();
        return finish(n);
      }
    }
    if (accept_value("!")) {
      expect_value("[", "E1109", "expected List literal after !");
      Node* n = make_node(E_REAL_ARRAY, t);
      if (!accept_value("]")) {
        while (true) {
          n->items.push_back(parse_expression());
          if (accept_value("]")) break;
          expect_value(",", "E1110", "expected comma in RealArray literal");
        }
      }
      return finish(n);
    }
    return parse_primary();
  }

  static void integer_literal(Node* n) {
    if (n->text.find_first_of(".eE") != std::string::npos) return;
    uint64_t v = 0;
    for (char c : n->text) v = v * 10 + (uint64_t)(c - '0');
    n->has_int = true;
    n->int_value = (int64_t)v;
  }

  Node* parse_primary() {
    const Token& t = advance();
    Node* current = nullptr;
    if (t.kind == K_TUV) {
      Node pos;
      pos.line = t.line;
      pos.column = t.column;
      pos.end_column = t.end_column;
      current = parse_interpolation(t.value, &pos, 2);
    } else if (t.kind == K_STRING || t.kind == K_NUMBER) {
      current = make_node(E_LITERAL, t);
      current->literal = t.kind == K_STRING ? L_STRING : L_NUMBER;
      current->text = t.value;
      if (t.kind == K_NUMBER) integer_literal(current);
    } else if (t.value == "True" || t.value == "False" || t.value == "None") {
      current = make_node(E_LITERAL, t);
      current->literal = L_NAME;
      current->text = t.value;
    } else if (t.kind == K_NAME) {
      current = make_node(E_NAME, t);
      current->name = t.value;
      if (t.value == "input" && check_kind(K_STRING)) {
        Node* call = make_node(E_CALL, t);
        call->target = current;
        call->items.push_back(parse_expression());
        current = finish(call);
      }
    } else if (t.kind == K_SYMBOL && t.value == "(") {
      if (accept_value(")")) {
        current = make_node(E_TUPLE, t);
      } else {
        Node* e = parse_expression();
        if (accept_value(",")) {
          Node* tuple = make_node(E_TUPLE, t);
          tuple->items.push_back(e);
          while (!check_value(")")) {
            tuple->items.push_back(parse_expression());
            if (!accept_value(",")) break;
          }
          expect_value(")", "E1102", "unclosed Tuple literal");
          current = tuple;
        } else {
          expect_value(")", "E1103", "unclosed parenthesized expression");
          current = e;
        }
      }
    } else if (t.kind == K_SYMBOL && t.value == "[") {
      current = make_node(E_LIST, t);
      if (!accept_value("]")) {
        while (true) {
          current->items.push_back(parse_expression());
          if (accept_value("]")) break;
          expect_value(",", "E1104", "expected comma in List literal");
        }
      }
    } else if (t.kind == K_SYMBOL && t.value == "{") {
      current = make_node(E_DICTIONARY, t);
      if (!accept_value("}")) {
        while (true) {
          Node* key = parse_expression();
          expect_value(":", "E1105", "expected colon in Dictionary literal");
          Node* value = parse_expression();
          current->entries.push_back({key, value});
          if (accept_value("}")) break;
          if (accept_value(",")) continue;
          if (peek().line > previous().line) continue;
          expect_value(",", "E1106", "expected comma in Dictionary literal");
        }
      }
    } else {
      report_at_token(t, "E1100", "expected an expression", "use a literal, name, collection, or function call");
    }
    return parse_postfix(current, t);
  }

  // Each form nests the expression before it one level deeper.
  Node* parse_postfix(Node* current, const Token& t) {
    int levels = 0;
    while (true) {
      if (accept_value("(")) {
        levels++;
        enter_nesting();
        Node* call = make_node(E_CALL, t);
        call->target = current;
        call->items = parse_call_arguments();
        current = finish(call);
      } else if (accept_value("[")) {
        levels++;
        enter_nesting();
        current = parse_index(current, t);
      } else if (accept_value(".")) {
        levels++;
        enter_nesting();
        const Token& name = expect_kind(K_NAME, "E1108", "expected member name after dot");
        Node* member = make_node(E_MEMBER, name);
        member->target = current;
        member->name = name.value;
        current = member;
      } else {
        nesting -= levels;
        return current;
      }
    }
  }

  NodeList parse_call_arguments() {
    NodeList args;
    if (accept_value(")")) return args;
    while (true) {
      args.push_back(parse_expression());
      if (accept_value(")")) return args;
      expect_value(",", "E1101", "expected comma between arguments");
    }
  }

  Node* parse_index(Node* container, const Token& t) {
    Node* n = make_node(E_INDEX, t);
    n->target = container;
    auto parse_stop = [&]() -> Node* {
      if (check_value("]") || check_value(":")) return nullptr;
      return parse_expression();
    };
    if (accept_value(":")) {
      n->kind = E_SLICE;
      n->stop = parse_stop();
    } else {
      Node* e = parse_expression();
      if (accept_value(":")) {
        n->kind = E_SLICE;
        n->start = e;
        n->stop = parse_stop();
      } else {
        n->index = e;
      }
    }
    if (n->kind == E_SLICE && accept_value(":")) n->step = check_value("]") ? nullptr : parse_expression();
    expect_value("]", "E1107", "unclosed index or slice");
    return finish(n);
  }

  // ---- interpolated strings

  // The source column of each character of a literal's decoded text: the
  // text starts text_column columns after the position, and an escape
  // sequence is two characters of the source for one of the text.
  std::vector<int> text_columns(const Node* position, int text_column, size_t count) {
    std::string line = get_source_line(shown, position->line);
    CharSpans source_chars = split_chars(line);
    std::vector<int> columns;
    int column = position->column + text_column;
    while (columns.size() < count) {
      columns.push_back(column);
      size_t k = (size_t)column - 1;
      bool escape = k < source_chars.size() && source_chars[k].second == 1 && line[source_chars[k].first] == '\\';
      column += escape ? 2 : 1;
    }
    return columns;
  }

  // Lowers a Tuv String's text to literal, String(...) call and "+" nodes. The
  // nodes of an embedded expression are positioned in the outer source, whose
  // text starts text_column columns after the position (past the quote, and
  // the prefix letter of a Tuv String).
  Node* parse_interpolation(const std::string& text, const Node* position, int text_column) {
    CharSpans cs = split_chars(text);
    auto at = [&](size_t k) -> char { return k < cs.size() && cs[k].second == 1 ? text[cs[k].first] : 0; };
    std::vector<int> columns = text_columns(position, text_column, cs.size() + 1);
    auto fail = [&](const char* code, const char* message, const char* help) {
      int width = position->end_column - position->column;
      report_diagnostic(path, position->line, position->column, width > 1 ? width : 1,
                        get_source_line(shown, position->line), code, message, help);
    };
    NodeList parts;
    std::string pending;
    size_t i = 0;
    while (i < cs.size()) {
      char c = at(i);
      if (c == '{' && at(i + 1) == '{') {
        pending += "{";
        i += 2;
      } else if (c == '}' && at(i + 1) == '}') {
        pending += "}";
        i += 2;
      } else if (c == '{') {
        if (!pending.empty()) {
          parts.push_back(make_string_literal_at(position, pending));
          pending.clear();
        }
        int depth = 1;
        char quote = 0;
        size_t k = i + 1;
        for (; k < cs.size(); k++) {
          char d = at(k);
          if (quote) {
            if (d == quote) quote = 0;
          } else if (d == '"' || d == '\'') {
            quote = d;
          } else if (d == '{') {
            depth++;
          } else if (d == '}') {
            if (--depth == 0) break;
          }
        }
        if (depth > 0) fail("E1112", "unclosed Tuv String interpolation", "add a closing brace or use {{ for a literal opening brace");
        size_t from = cs[i].first + 1, to = cs[k].first;
        std::string inner = text.substr(from, to - from);
        if (inner.find_first_not_of(" \t\r\n") == std::string::npos)
          fail("E1113", "empty Tuv String interpolation", "put an expression between the braces");
        Parser sub(path, inner, shown, position->line,
                   std::vector<int>(columns.begin() + (long)i + 1, columns.begin() + (long)k + 1));
        sub.nesting = nesting;
        Node* expr = sub.parse_expression();
        if (!sub.check_kind(K_EOF))
          sub.report_at_token(sub.peek(), "E1114", "unexpected token in Tuv String interpolation",
                              "use one expression between the braces");
        Node* call = make_node_at(E_CALL, position);
        Node* callee = make_node_at(E_NAME, position);
        callee->name = "String";
        call->target = callee;
        call->items.push_back(expr);
        parts.push_back(call);
        i = k + 1;
      } else if (c == '}') {
        fail("E1115", "unexpected closing brace in Tuv String", "use }} for a literal closing brace");
      } else {
        pending += text.substr(cs[i].first, cs[i].second);
        i++;
      }
    }
    if (!pending.empty() || parts.empty()) parts.push_back(make_string_literal_at(position, pending));
    for (Node* part : parts) part->lowered = true;
    while (parts.size() > 1) {
      NodeList joined;
      for (size_t k = 0; k + 1 < parts.size(); k += 2) {
        Node* b = make_binary("+", parts[k], parts[k + 1]);
        b->line = position->line;
        b->column = position->column;
        b->end_column = position->end_column;
        joined.push_back(b);
      }
      if (parts.size() % 2 == 1) joined.push_back(parts.back());
      parts = std::move(joined);
    }
    return parts[0];
  }

  // ---- statements

  void expect_statement_end() {
    if (check_kind(K_NEWLINE)) {
      skip_newlines();
    } else if (!check_kind(K_EOF)) {
      report_at_token(peek(), "E1201", "unexpected token after statement", "start a new statement on the next line");
    }
  }
  void expect_block_header_end() {
    accept_value(":");
    if (!check_kind(K_NEWLINE) && !check_kind(K_EOF))
      report_at_token(peek(), "E1202", "expected end of block header", "move the block body to the next line");
    skip_newlines();
  }
  NodeList parse_block(std::initializer_list<const char*> terminators) {
    Depth guard(*this);
    NodeList statements;
    skip_newlines();
    while (true) {
      if (check_kind(K_EOF)) return statements;
      if (check_kind(K_NAME))
        for (const char* t : terminators)
          if (peek().value == t) return statements;
      statements.push_back(parse_statement());
      skip_newlines();
    }
  }

  Node* parse_statement() {
    const Token& t = peek();
    if (accept_value("function")) return parse_function(t);
    if (accept_value("if")) return parse_if(t);
    if (accept_value("while")) return parse_loop(t, S_WHILE);
    if (accept_value("for")) return parse_loop(t, S_FOR);
    if (accept_value("loop")) return parse_loop(t, S_LOOP);
    if (accept_value("class")) return parse_class(t);
    if (accept_value("safe")) return parse_safe_or_try(t, true);
    if (accept_value("try")) return parse_safe_or_try(t, false);
    if (accept_value("Error")) return parse_error_statement(t);
    if (check_value("print") || check_value("printl")) return parse_print(advance());
    if (accept_value("return")) {
      Node* n = make_node(S_RETURN, t);
      if (!check_kind(K_NEWLINE) && !check_kind(K_EOF)) n->expression = parse_expression();
      expect_statement_end();
      return finish(n);
    }
    if (check_value("break") || check_value("continue")) {
      Node* n = make_node(t.value == "break" ? S_BREAK : S_CONTINUE, advance());
      expect_statement_end();
      return n;
    }
    if (accept_value("load")) return parse_load(t);
    if (accept_value("from")) return parse_from(t);
    if (accept_value("ctype")) {
      const Token& v = expect_kind(K_NAME, "E1222", "expected Public or Private");
      if (v.value != "Public" && v.value != "Private")
        report_at_token(v, "E1223", "invalid class visibility", "use ctype Public or ctype Private");
      Node* n = make_node(S_CTYPE, t);
      n->name = v.value;
      expect_statement_end();
      return n;
    }
    if (accept_value("del")) {
      Node* n = make_node(S_DELETE, t);
      expect_value("(", "E1224", "expected parenthesized del target");
      n->target = parse_expression();
      expect_value(")", "E1225", "unclosed del target");
      expect_statement_end();
      return n;
    }
    if (check_value("end") || check_value("elif") || check_value("else"))
      report_at_token(t, "E1226", "unexpected block terminator", "remove it or add its opening block");
    accept_value("call");  // `call EXPRESSION` is an expression statement like any other
    Node* e = parse_expression();
    if (at_operator({"=", "+=", "-=", "*=", "/=", "%="})) {
      std::string op = advance().value;
      Node* n = make_node(S_ASSIGN, t);
      n->target = e;
      n->name = op;
      n->value = parse_expression();
      expect_statement_end();
      return finish(n);
    }
    Node* n = make_node(S_EXPRESSION, t);
    n->expression = e;
    expect_statement_end();
    return finish(n);
  }

  Node* parse_function(const Token& t) {
    Node* n = make_node(S_FUNCTION, t);
    n->name = expect_kind(K_NAME, "E1203", "expected function name").value;
    expect_value("(", "E1204", "expected parameter list");
    if (!accept_value(")")) {
      while (true) {
        n->strings.push_back(expect_kind(K_NAME, "E1205", "expected parameter name").value);
        if (accept_value(")")) break;
        expect_value(",", "E1206", "expected comma between parameters");
      }
    }
    expect_block_header_end();
    n->body = parse_block({"end"});
    expect_value("end", "E1207", "function block has no end");
    expect_statement_end();
    return finish(n);
  }

  Node* parse_if(const Token& t) {
    Node* n = make_node(S_IF, t);
    do {
      Node* condition = parse_expression();
      expect_block_header_end();
      n->branches.push_back({condition, parse_block({"elif", "else", "end"})});
    } while (accept_value("elif"));
    if (accept_value("else")) {
      expect_block_header_end();
      n->otherwise = parse_block({"end"});
    }
    expect_value("end", "E1208", "if block has no end");
    expect_statement_end();
    return finish(n);
  }

  Node* parse_loop(const Token& t, NodeKind kind) {
    Node* n = make_node(kind, t);
    if (kind == S_WHILE) {
      n->condition = parse_expression();
    } else if (kind == S_FOR) {
      n->name = expect_kind(K_NAME, "E1209", "expected loop variable").value;
      expect_value("in", "E1210", "expected in after loop variable");
      n->expression = parse_expression();
    }
    expect_block_header_end();
    n->body = parse_block({"end"});
    expect_value("end", "E1211", t.value + " block has no end");
    expect_statement_end();
    return finish(n);
  }

  Node* parse_class(const Token& t) {
    Node* n = make_node(S_CLASS, t);
    n->name = expect_kind(K_NAME, "E1212", "expected class name").value;
    if (accept_value("(")) {
      n->condition = parse_expression();
      expect_value(")", "E1213", "unclosed class condition");
    }
    expect_block_header_end();
    n->body = parse_block({"end"});
    expect_value("end", "E1214", "class block has no end");
    expect_statement_end();
    return finish(n);
  }

  Node* parse_safe_or_try(const Token& t, bool is_safe) {
    Node* n = make_node(is_safe ? S_SAFE : S_TRY, t);
    expect_block_header_end();
    if (is_safe) {
      n->body = parse_block({"end"});
    } else {
      n->body = parse_block({"else", "end"});
      if (accept_value("else")) {
        expect_block_header_end();
        n->otherwise = parse_block({"end"});
      }
    }
    expect_value("end", "E1227", "error-handling block has no end");
    expect_statement_end();
    return finish(n);
  }

  Node* parse_error_statement(const Token& t) {
    Node* n = make_node(S_ERROR, t);
    expect_value("(", "E1228", "expected Error(kind: message)");
    n->name = expect_kind(K_NAME, "E1229", "expected error kind").value;
    expect_value(":", "E1230", "expected colon after error kind");
    n->message = parse_expression();
    expect_value(")", "E1231", "unclosed Error statement");
    expect_statement_end();
    return finish(n);
  }

  Node* parse_print(const Token& t) {
    Node* n = make_node(S_PRINT, t);
    if (!check_kind(K_NEWLINE) && !check_kind(K_EOF)) {
      do {
        n->items.push_back(parse_expression());
      } while (accept_value(","));
    }
    // Only a plain String literal is lowered here: a Tuv String is lowered once, by the expression parser.
    if (t.value == "printl" && n->items.size() == 1 && n->items[0]->kind == E_LITERAL &&
        n->items[0]->literal == L_STRING && !n->items[0]->lowered) {
      Node* literal = n->items[0];
      n->items[0] = parse_interpolation(literal->text, literal, 1);
    }
    expect_statement_end();
    return finish(n);
  }

  std::string parse_module_name(const char* first_code, const char* next_code) {
    std::string module = expect_kind(K_NAME, first_code, "expected module name").value;
    while (accept_value(".")) module += "." + expect_kind(K_NAME, next_code, "expected module path component").value;
    return module;
  }

  Node* parse_load(const Token& t) {
    Node* n = make_node(S_LOAD, t);
    n->text = parse_module_name("E1215", "E1216");
    size_t dot = n->text.rfind('.');
    n->alias = dot == std::string::npos ? n->text : n->text.substr(dot + 1);
    if (accept_value("as")) n->alias = expect_kind(K_NAME, "E1232", "expected module alias").value;
    expect_statement_end();
    return n;
  }

  Node* parse_from(const Token& t) {
    Node* n = make_node(S_LOAD, t);
    n->text = parse_module_name("E1217", "E1218");
    expect_value("load", "E1219", "expected load in selective import");
    n->symbol = expect_kind(K_NAME, "E1220", "expected imported symbol").value;
    n->has_symbol = true;
    n->alias = n->symbol;
    if (accept_value("as")) n->alias = expect_kind(K_NAME, "E1221", "expected import alias").value;
    expect_statement_end();
    return n;
  }
};

}  // namespace

NodeList parse_program(const std::string& path, const std::string& source) {
  Parser parser(path, source, source, 1, {1});
  return parser.parse_block({});
}

}  // namespace kep
