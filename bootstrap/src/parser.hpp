// Syntax-tree nodes and the parser of KEP source text. The grammar and the
// diagnostics follow the compiler's front end, so a program that kep0
// accepts is a program that kepc accepts.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kep {

enum NodeKind : uint8_t {
  // statements
  S_FUNCTION, S_IF, S_WHILE, S_FOR, S_LOOP, S_CLASS, S_SAFE, S_TRY, S_ERROR, S_PRINT,
  S_RETURN, S_BREAK, S_CONTINUE, S_LOAD, S_CTYPE, S_DELETE, S_ASSIGN, S_EXPRESSION,
  // expressions
  E_LITERAL, E_NAME, E_CALL, E_INDEX, E_SLICE, E_MEMBER, E_UNARY, E_REAL_ARRAY,
  E_BINARY, E_COMPARE, E_TUPLE, E_LIST, E_DICTIONARY
};

// The kind as the compiler's syntax tree names it ("function", "real_array", ...).
const char* node_kind_name(NodeKind kind);

enum LiteralKind : uint8_t { L_STRING, L_NUMBER, L_NAME };

struct Node;
using NodeList = std::vector<Node*>;

// One syntax-tree node. Every kind uses the fields its name suggests; nodes
// live for the whole run, so they are never freed.
struct Node {
  NodeKind kind;
  int line = 0, column = 0, end_column = 0;
  const std::string* path = nullptr;  // set by the linker

  std::string name;      // function, for, class, name, member, error kind, operator, visibility
  std::string text;      // literal value; load: module
  std::string alias;     // load: alias
  std::string symbol;    // load: imported symbol ("" with has_symbol false for plain load)
  bool has_symbol = false;
  LiteralKind literal = L_STRING;
  bool has_int = false;  // integer_value present
  int64_t int_value = 0;
  bool lowered = false;  // literal: made from a Tuv String's text

  Node* target = nullptr;  // call, index, slice, member, assign, delete
  Node* value = nullptr;   // assign
  Node* left = nullptr;    // binary
  Node* right = nullptr;   // binary
  Node* operand = nullptr; // unary
  Node* condition = nullptr;  // while, class
  Node* index = nullptr;   // index
  Node* start = nullptr;   // slice
  Node* stop = nullptr;    // slice
  Node* step = nullptr;    // slice
  Node* message = nullptr; // error
  Node* expression = nullptr;  // return, expression statement; for: iterable

  NodeList items;      // list, tuple, real_array; call arguments; print expressions; compare operands
  NodeList body;
  NodeList otherwise;
  std::vector<std::string> strings;  // function parameters; compare operators
  std::vector<std::pair<Node*, Node*>> entries;      // dictionary
  std::vector<std::pair<Node*, NodeList>> branches;  // if
};

NodeList parse_program(const std::string& path, const std::string& source);

}  // namespace kep
