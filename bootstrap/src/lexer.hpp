// The lexer: the text of one source file as its list of tokens, in one
// pass. Positions are 1-based; columns and widths count characters.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kep {

enum TokKind : uint8_t { K_NEWLINE, K_STRING, K_TUV, K_NUMBER, K_NAME, K_SYMBOL, K_EOF };

struct Token {
  TokKind kind;
  std::string value;
  int line, column, end_column;
};

// The tokens of text, which stands at first_line of shown (the text whose
// lines diagnostics show); columns holds the shown column of its first
// characters.
std::vector<Token> tokenize_at(const std::string& path, const std::string& text, const std::string& shown,
                               int first_line, std::vector<int> columns);

// Line n (1-based) of source split at every line feed; "" outside.
std::string get_source_line(const std::string& source, int n);

}  // namespace kep
