// The evaluator: the syntax tree resolved into executable nodes whose
// variables are frame slots, and the program-level tables.
#pragma once
#include <string>
#include <vector>

#include "runtime.hpp"
#include "parser.hpp"

namespace kep {

struct Expr {
  virtual ~Expr() = default;
  virtual Value eval(Value* frame) = 0;
};

enum Flow { F_NORMAL, F_BREAK, F_CONTINUE, F_RETURN };

struct Stmt {
  virtual ~Stmt() = default;
  virtual Flow exec(Value* frame) = 0;
};

using Block = std::vector<Stmt*>;

inline Flow exec_block(const Block& block, Value* frame) {
  for (Stmt* s : block) {
    Flow f = s->exec(frame);
    if (f != F_NORMAL) return f;
  }
  return F_NORMAL;
}

struct ClassInfo {
  std::string name;
};

struct FuncDef {
  std::string name;
  Node* node = nullptr;
  int parameters = 0;
  bool takes_self = false;  // a method call passes its receiver first
  int slots = 0;
  Block body;
};

// Loads the linked program (library statements first) and runs it; returns
// the exit status.
int run_program(NodeList& program, const std::string& main_path);

// The value a return statement hands to its caller.
extern Value g_return;

}  // namespace kep
