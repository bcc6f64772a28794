// Executable nodes: the resolved form of every expression and statement.
#pragma once
#include <string>
#include <vector>

#include "builtins.hpp"
#include "interp.hpp"

namespace kep {

extern Value* g_globals;

// A call reserves its frame on the value stack, puts the arguments in its
// first slots and enters the function, which releases the frame.
Value* reserve_frame(FuncDef* f);
Value enter_function(FuncDef* f, Value* frame);
// Releases a reserved frame whose call never started (an argument failed).
void abandon_frame(FuncDef* f, Value* frame);

// ---------------------------------------------------------------- expressions

struct ConstE : Expr {
  Value v;
  Value eval(Value*) override { return v; }
};

struct LocalE : Expr {
  int slot;
  Value eval(Value* frame) override { return frame[slot]; }
};

struct GlobalE : Expr {
  int slot;
  Value eval(Value*) override { return g_globals[slot]; }
};

struct SeqE : Expr {
  Tag tag;
  std::vector<Expr*> items;
  Value eval(Value* frame) override {
    Value r = make_seq(tag);
    auto& v = as_seq(r)->v;
    v.reserve(items.size());
    for (Expr* e : items) v.push_back(e->eval(frame));
    return r;
  }
};

struct DictE : Expr {
  std::vector<std::pair<Expr*, Expr*>> entries;
  Value eval(Value* frame) override {
    Value r = make_dict();
    for (auto& entry : entries) {
      Value k = entry.first->eval(frame);
      Value v = entry.second->eval(frame);
      dict_set(as_dict(r), k, v);
    }
    return r;
  }
};

struct RealArrayE : Expr {
  SeqE* list;
  Value eval(Value* frame) override {
    return relabel_list(call_library("__kep_real_array", {list->eval(frame)}), T_REAL);
  }
};

struct MemberE : Expr {
  Expr* target;
  std::string name;
  Value key;
  Value eval(Value* frame) override { return member_get(target->eval(frame), name, key); }
};

struct IndexE : Expr {
  Expr* target;
  Expr* index;
  std::string at;
  Value eval(Value* frame) override {
    Value t = target->eval(frame);
    Value i = index->eval(frame);
    if (t.tag == T_LIST && i.tag == T_INT) {
      auto& v = as_seq(t)->v;
      int64_t k = i.i < 0 ? i.i + (int64_t)v.size() : i.i;
      if (k >= 0 && k < (int64_t)v.size()) return v[(size_t)k];
    }
    return index_get(t, i, at);
  }
};

struct SliceE : Expr {
  Expr* target;
  Expr* start = nullptr;
  Expr* stop = nullptr;
  Expr* step = nullptr;
  Value eval(Value* frame) override {
    Value t = target->eval(frame);
    Value a = start ? start->eval(frame) : Value();
    Value b = stop ? stop->eval(frame) : Value();
    Value s = step ? step->eval(frame) : Value();
    return slice(t, start ? &a : nullptr, stop ? &b : nullptr, step ? &s : nullptr);
  }
};

struct NotE : Expr {
  Expr* operand;
  Value eval(Value* frame) override { return Value::boolean(!truth(operand->eval(frame))); }
};

struct NegE : Expr {
  Expr* operand;
  Value eval(Value* frame) override { return op_neg(operand->eval(frame)); }
};

struct PlusE : Expr {
  Expr* operand;
  Value eval(Value* frame) override { return operand->eval(frame); }
};

enum BinOp { OP_ADD, OP_SUB, OP_MUL, OP_DIV, OP_FLOORDIV, OP_MOD, OP_POW };

struct BinE : Expr {
  BinOp op;
  Expr* left;
  Expr* right;
  std::string at;
  Value eval(Value* frame) override {
    Value a = left->eval(frame);
    Value b = right->eval(frame);
    return apply(a, b);
  }
  Value apply(const Value& a, const Value& b) const {
    if (a.tag == T_INT && b.tag == T_INT) {
      uint64_t x = (uint64_t)a.i, y = (uint64_t)b.i;
      switch (op) {
        case OP_ADD: return Value::integer((int64_t)(x + y));
        case OP_SUB: return Value::integer((int64_t)(x - y));
        case OP_MUL: return Value::integer((int64_t)(x * y));
        default: break;
      }
    }
    switch (op) {
      case OP_ADD: return op_add(a, b);
      case OP_SUB: return op_sub(a, b);
      case OP_MUL: return op_mul(a, b);
      case OP_DIV: return op_div(a, b);
      case OP_FLOORDIV: return op_floordiv(a, b, at);
      case OP_MOD: return op_mod(a, b, at);
      case OP_POW: return op_pow(a, b, at);
    }
    return Value();
  }
};

struct AndE : Expr {
  Expr* left;
  Expr* right;
  Value eval(Value* frame) override {
    return Value::boolean(truth(left->eval(frame)) && truth(right->eval(frame)));
  }
};

struct OrE : Expr {
  Expr* left;
  Expr* right;
  Value eval(Value* frame) override {
    return Value::boolean(truth(left->eval(frame)) || truth(right->eval(frame)));
  }
};

enum CmpOp { C_EQ, C_NE, C_LT, C_LE, C_GT, C_GE, C_IN, C_NOT_IN, C_IS, C_IS_NOT };

bool compare_values(CmpOp op, const Value& a, const Value& b);

// A comparison or a chain of them: each operator compares its two neighbouring
// operands. A chain evaluates every operand once, left to right, and stops at
// the first false pair.
struct CompareE : Expr {
  std::vector<CmpOp> ops;
  std::vector<Expr*> operands;
  Value eval(Value* frame) override {
    if (ops.size() == 1) return Value::boolean(pair(ops[0], operands[0], operands[1], frame));
    Value left = operands[0]->eval(frame);
    for (size_t k = 0; k < ops.size(); k++) {
      Value right = operands[k + 1]->eval(frame);
      if (!values(ops[k], left, right)) return Value::boolean(false);
      left = right;
    }
    return Value::boolean(true);
  }
  static bool pair(CmpOp op, Expr* l, Expr* r, Value* frame) {
    Value a = l->eval(frame);
    Value b = r->eval(frame);
    return values(op, a, b);
  }
  static bool values(CmpOp op, const Value& a, const Value& b) {
    if (op == C_IN || op == C_NOT_IN) return op_contains(b, a) == (op == C_IN);
    if (a.tag == T_INT && b.tag == T_INT) {
      switch (op) {
        case C_EQ:
        case C_IS: return a.i == b.i;
        case C_NE:
        case C_IS_NOT: return a.i != b.i;
        case C_LT: return a.i < b.i;
        case C_LE: return a.i <= b.i;
        case C_GT: return a.i > b.i;
        case C_GE: return a.i >= b.i;
        default: break;
      }
    }
    return compare_values(op, a, b);
  }
};

struct CallFuncE : Expr {
  FuncDef* f;
  std::vector<Expr*> args;
  Value eval(Value* frame) override {
    Value* callee = reserve_frame(f);
    try {
      for (size_t k = args.size(); k-- > 0;) callee[k] = args[k]->eval(frame);
    } catch (KepError&) {
      abandon_frame(f, callee);
      throw;
    }
    return enter_function(f, callee);
  }
};

struct CallClassE : Expr {
  ClassInfo* cls;
  FuncDef* init = nullptr;
  std::vector<Expr*> args;
  Value eval(Value* frame) override;
};

struct CallVarE : Expr {
  Expr* variable;
  std::string name;
  std::vector<Expr*> args;
  Value eval(Value* frame) override;
};

struct BuiltinE : Expr {
  int id;
  std::vector<Expr*> args;
  Value eval(Value* frame) override {
    Value a[5];
    int n = (int)args.size();
    for (int k = 0; k < n; k++) a[k] = args[k]->eval(frame);
    return call_builtin(id, a, n);
  }
};

struct CheckE : Expr {
  Expr* condition;
  Expr* message;
  bool ends_program;  // at the top level outside any handler
  Value eval(Value* frame) override;
};

// A call of a class's method is a call of a declared function: its
// arguments are evaluated from the last to the first, the receiver after
// them. A library method evaluates the receiver, then its arguments from the
// first, except pop, which goes through the call path as compiled code does.
// A method name that both a class and the library know is told by the
// receiver, so that receiver comes first.
struct MethodE : Expr {
  Expr* receiver;
  std::string name;
  std::vector<Expr*> args;
  bool arguments_first = false;  // the name is a class's method only, or the library's pop only
  ClassInfo* cached_class = nullptr;
  FuncDef* cached_method = nullptr;
  Value eval(Value* frame) override;
};

// ---------------------------------------------------------------- statements

struct ExprS : Stmt {
  Expr* e;
  Flow exec(Value* frame) override {
    e->eval(frame);
    return F_NORMAL;
  }
};

struct PrintS : Stmt {
  std::vector<std::pair<Expr*, std::string>> parts;  // an expression, or a text printed as it is
  Flow exec(Value* frame) override;
};

// name = value, with the place a frame slot or a global slot.
struct AssignS : Stmt {
  bool global;
  int slot;
  Expr* value;
  // name = name + a + b ...: the addends, appended in place when the name
  // holds a String that nothing else shares.
  std::vector<BinE*> appends;
  Flow exec(Value* frame) override;
};

// Under an augmented operator, value reads the element or field through
// the held constants, which hold the container and index (the object)
// while value is evaluated.
struct AssignIndexS : Stmt {
  Expr* container;
  Expr* index;
  Expr* value;
  ConstE* held_container = nullptr;
  ConstE* held_index = nullptr;
  std::string at;
  Flow exec(Value* frame) override {
    Value c = container->eval(frame);
    Value i = index->eval(frame);
    if (held_container) {
      held_container->v = c;
      held_index->v = i;
    }
    Value v = value->eval(frame);
    if (held_container) {
      held_container->v = Value();
      held_index->v = Value();
    }
    index_set(c, i, v, at);
    return F_NORMAL;
  }
};

struct AssignMemberS : Stmt {
  Expr* object;
  Value key;
  Expr* value;
  ConstE* held_object = nullptr;
  Flow exec(Value* frame) override;
};

struct IfS : Stmt {
  std::vector<std::pair<Expr*, Block>> branches;
  Block otherwise;
  Flow exec(Value* frame) override {
    for (auto& branch : branches)
      if (truth(branch.first->eval(frame))) return exec_block(branch.second, frame);
    return exec_block(otherwise, frame);
  }
};

struct WhileS : Stmt {
  Expr* condition;  // nullptr for loop
  Block body;
  Flow exec(Value* frame) override {
    while (!condition || truth(condition->eval(frame))) {
      Flow f = exec_block(body, frame);
      if (f == F_BREAK) break;
      if (f == F_RETURN) return f;
    }
    return F_NORMAL;
  }
};

struct ForRangeS : Stmt {
  bool global;
  int slot;
  Expr* start;
  Expr* stop;
  Expr* step = nullptr;
  std::string at;
  Block body;
  Flow exec(Value* frame) override;
};

struct ForEachS : Stmt {
  bool global;
  int slot;
  Expr* iterable;
  Block body;
  Flow exec(Value* frame) override;
};

struct BreakS : Stmt {
  Flow exec(Value*) override { return F_BREAK; }
};

struct ContinueS : Stmt {
  Flow exec(Value*) override { return F_CONTINUE; }
};

struct ReturnS : Stmt {
  Expr* value = nullptr;
  Flow exec(Value* frame) override {
    g_return = value ? value->eval(frame) : Value();
    return F_RETURN;
  }
};

struct SafeS : Stmt {
  Block body;
  Block otherwise;
  bool is_try;
  Flow exec(Value* frame) override;
};

struct ErrorS : Stmt {
  std::string prefix;      // kind + ": "
  std::string text;        // literal or bare-word message
  Expr* message = nullptr; // any other message
  bool ends_program;       // at the top level outside any handler
  Flow exec(Value* frame) override;
};

struct ClassS : Stmt {
  ClassInfo* cls;
  bool global;
  int slot;
  Expr* condition = nullptr;
  std::vector<std::pair<Value, Expr*>> fields;
  Flow exec(Value* frame) override;
};

struct DelNameS : Stmt {
  bool global;
  int slot;
  Flow exec(Value* frame) override {
    (global ? g_globals : frame)[slot] = Value();
    return F_NORMAL;
  }
};

struct DelIndexS : Stmt {
  Expr* container;
  Expr* index;
  Flow exec(Value* frame) override {
    Value c = container->eval(frame);
    Value i = index->eval(frame);
    delete_index(c, i);
    return F_NORMAL;
  }
};

struct DelMemberS : Stmt {
  Expr* object;
  Value key;
  Flow exec(Value* frame) override;
};

}  // namespace kep
