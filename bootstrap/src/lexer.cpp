// The lexer of kep0.
#include "lexer.hpp"

#include <utility>

#include "diagnostics.hpp"
#include "utf8.hpp"

namespace kep {

std::string get_source_line(const std::string& source, int n) {
  if (n < 1) return "";
  int line = 1;
  size_t start = 0;
  while (line < n) {
    size_t nl = source.find('\n', start);
    if (nl == std::string::npos) return "";
    start = nl + 1;
    line++;
  }
  size_t end = source.find('\n', start);
  return source.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

namespace {

// The lexer walks characters (code points by lead byte); each character is
// a byte range of the source.
struct Lexer {
  const std::string& path;
  const std::string& source;  // the text being tokenized
  const std::string& shown;   // the text whose lines diagnostics show
  CharSpans chars;
  size_t i = 0;
  int line, column, depth = 0;
  // The text stands on first_line of the shown text; columns holds the shown
  // column of its first characters (an escape sequence of a Tuv String makes
  // one character of two columns), and past its end columns go on one by one.
  int first_line;
  std::vector<int> columns;
  std::vector<Token> out;

  Lexer(const std::string& p, const std::string& s, const std::string& shown_text, int first_line_,
        std::vector<int> columns_)
      : path(p), source(s), shown(shown_text), chars(split_source_chars(s)), line(first_line_),
        column(columns_.at(0)), first_line(first_line_), columns(std::move(columns_)) {}

  std::string ch(size_t k) const {
    return k < chars.size() ? source.substr(chars[k].first, chars[k].second) : std::string();
  }
  char byte(size_t k) const {  // first byte of character k, 0 past the end
    return k < chars.size() ? source[chars[k].first] : 0;
  }
  bool is_single(size_t k) const { return k < chars.size() && chars[k].second == 1; }

  // The shown column of a column counted through the text from its first one.
  int shown_column(int at_line, int at_column) const {
    int offset = at_column - columns[0];
    int last = (int)columns.size() - 1;
    if (at_line != first_line) return at_column;
    return offset <= last ? columns[offset] : columns[last] + offset - last;
  }

  // Reports the span of width counted columns at at_column.
  [[noreturn]] void fail(int at_line, int at_column, int width, const char* code, const char* message,
                         const char* help) {
    int start = shown_column(at_line, at_column);
    fail_shown(at_line, start, shown_column(at_line, at_column + width) - start, code, message, help);
  }

  [[noreturn]] void fail_shown(int at_line, int at_column, int width, const char* code, const char* message,
                               const char* help) {
    report_diagnostic(path, at_line, at_column, width, get_source_line(shown, at_line), code, message,
                      help);
  }

  void push(TokKind kind, std::string value, int l, int c, int e) {
    out.push_back(Token{kind, std::move(value), l, shown_column(l, c), shown_column(l, e)});
  }

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  }
  bool is_quote(size_t k) const { return is_single(k) && (byte(k) == '"' || byte(k) == '\''); }

  std::vector<Token> run() {
    while (i < chars.size()) {
      char c = is_single(i) ? byte(i) : 0;
      if (c == '\n') {
        if (depth == 0) push(K_NEWLINE, "\n", line, column, column + 1);
        i++;
        line++;
        column = 1;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        i++;
        column++;
      } else if (c == '#') {
        while (i < chars.size() && !(is_single(i) && byte(i) == '\n')) {
          i++;
          column++;
        }
      } else if (is_quote(i) || (c == 't' && is_quote(i + 1))) {
        string_literal();
      } else if (is_digit(c)) {
        number();
      } else if (is_name_start(c)) {
        size_t start = i;
        int start_column = column;
        while (i < chars.size() && is_single(i) && (is_name_start(byte(i)) || is_digit(byte(i)))) {
          i++;
          column++;
        }
        push(K_NAME, join(start, i), line, start_column, column);
      } else {
        symbol();
      }
    }
    if (depth != 0) {
      int width_of_line = (int)count_chars(get_source_line(shown, line));
      fail_shown(line, width_of_line > 1 ? width_of_line : 1, 1, "E0007", "unclosed delimiter",
                 "add the matching closing delimiter");
    }
    push(K_EOF, "", line, column, column);
    return std::move(out);
  }

  std::string join(size_t start, size_t end) const {
    if (start >= end) return "";
    size_t from = chars[start].first;
    size_t to = chars[end - 1].first + chars[end - 1].second;
    return source.substr(from, to - from);
  }

  std::string decode_escape(int at_line, int at_column, size_t k) {
    char c = is_single(k) ? byte(k) : 0;
    switch (c) {
      case 'n': return "\n";
      case 'r': return "\r";
      case 't': return "\t";
      case '0': return std::string(1, '\0');
      case '"': return "\"";
      case '\'': return "'";
      case '\\': return "\\";
      default:
        fail(at_line, at_column, 2, "E0003", "unknown escape sequence",
             "supported escapes: n, r, t, 0, quote, backslash");
    }
  }

  void string_literal() {
    int start_line = line, start_column = column;
    bool tuv = !is_quote(i);
    if (tuv) {
      i++;
      column++;
    }
    char q = byte(i);
    i++;
    column++;
    std::string content;
    while (i < chars.size()) {
      char c = is_single(i) ? byte(i) : 0;
      if (c == q) {
        i++;
        column++;
        push(tuv ? K_TUV : K_STRING, std::move(content), start_line, start_column, column);
        return;
      }
      if (c == '\\') {
        if (i + 1 == chars.size())
          fail(line, column, 1, "E0002", "unfinished escape sequence", "add a character after the backslash");
        content += decode_escape(line, column, i + 1);
        i += 2;
        column += 2;
      } else if (c == '\n') {
        fail(start_line, start_column, column - start_column > 1 ? column - start_column : 1, "E0001",
             "unterminated String literal", "close the String before the end of the line");
      } else {
        content += ch(i);
        i++;
        column++;
      }
    }
    fail(start_line, start_column, column - start_column > 1 ? column - start_column : 1, "E0001",
         "unterminated String literal", "add the matching quote");
  }

  void number() {
    size_t start = i;
    int start_column = column;
    int dots = 0;
    while (i < chars.size() && is_single(i) && (is_digit(byte(i)) || byte(i) == '.')) {
      if (byte(i) == '.') dots++;
      i++;
      column++;
    }
    if (is_single(i) && (byte(i) == 'e' || byte(i) == 'E')) {
      i++;
      column++;
      if (is_single(i) && (byte(i) == '+' || byte(i) == '-')) {
        i++;
        column++;
      }
      bool digits = false;
      while (is_single(i) && is_digit(byte(i))) {
        digits = true;
        i++;
        column++;
      }
      if (!digits) {
        int taken = (int)(i - start);
        fail(line, start_column, taken > 1 ? taken : 1, "E0004", "invalid Float exponent",
             "add decimal digits after the exponent marker");
      }
    }
    if (dots > 1)
      fail(line, start_column, (int)(i - start), "E0004", "invalid numeric literal",
           "a Float may contain only one decimal point");
    push(K_NUMBER, join(start, i), line, start_column, column);
  }

  void symbol() {
    static const char* pairs[] = {"==", "!=", "<=", ">=", "//", "+=", "-=", "*=", "/=", "%="};
    int start_column = column;
    std::string sym = ch(i);
    if (i + 1 < chars.size()) {
      std::string two = sym + ch(i + 1);
      for (const char* p : pairs)
        if (two == p) sym = two;
    }
    size_t len = sym.size() == 2 && is_single(i) && is_single(i + 1) ? 2 : 1;
    i += len;
    column += (int)len;
    if (sym == "(" || sym == "[" || sym == "{") {
      depth++;
    } else if (sym == ")" || sym == "]" || sym == "}") {
      depth--;
      if (depth < 0)
        fail(line, start_column, 1, "E0005", "unexpected closing delimiter",
             "remove it or add the matching opening delimiter");
    } else if (!(len == 2 || (sym.size() == 1 && std::string("+-*/%^=<>!:,.").find(sym[0]) != std::string::npos))) {
      fail(line, start_column, 1, "E0006", "unexpected character",
           "remove the character or put it inside a String");
    }
    push(K_SYMBOL, sym, line, start_column, column);
  }
};

}  // namespace

std::vector<Token> tokenize_at(const std::string& path, const std::string& text, const std::string& shown,
                               int first_line, std::vector<int> columns) {
  return Lexer(path, text, shown, first_line, std::move(columns)).run();
}

}  // namespace kep
