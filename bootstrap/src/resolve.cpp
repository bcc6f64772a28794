// The resolver of kep0.
#include "resolve.hpp"

#include <unordered_map>
#include <unordered_set>

#include "diagnostics.hpp"
#include "lexer.hpp"
#include "linker.hpp"
#include "nodes.hpp"

namespace kep {

namespace {

// Every declared function and method by its linked name.
std::unordered_map<std::string, FuncDef*> g_functions;

using Slots = std::unordered_map<std::string, int>;

struct Resolver {
  Slots globals;
  std::unordered_map<std::string, ClassInfo*> classes;
  std::unordered_set<std::string> class_methods;  // the names of every class's methods
  std::vector<FuncDef*> declared;  // in program order
  std::string main_path;

  // per scope
  Slots* locals = nullptr;  // nullptr at the top level
  int handlers = 0;
  bool in_loop = false;

  [[noreturn]] void compile_error(const Node* at, const std::string& message, const std::string& help) {
    std::string path = at->path ? *at->path : main_path;
    std::string source;
    try {
      source = read_source_file(path);
    } catch (KepError&) {
    }
    int width = at->end_column - at->column;
    report_diagnostic(path, at->line, at->column, width > 1 ? width : 1, get_source_line(source, at->line), "E2001",
                      message, help);
  }

  static std::string position(const Node* n, const std::string& fallback) {
    return (n->path ? *n->path : fallback) + ":" + std::to_string(n->line);
  }

  // Where an index error names its place: nowhere in the library, whose
  // indexing fails as a built-in does, as in compiled code.
  static std::string index_position(const Node* n, const std::string& fallback) {
    static const std::string library = "dynamic_stdlib.kep";
    const std::string& path = n->path ? *n->path : fallback;
    bool in_library = path == library || (path.size() > library.size() && path.ends_with("/" + library));
    return in_library ? "" : position(n, fallback);
  }

  // ---- declarations

  // Statements after one that always leaves the block never run: they are
  // neither compiled nor given slots.
  static bool ends_block(const Node* s) {
    return s->kind == S_RETURN || s->kind == S_BREAK || s->kind == S_CONTINUE || s->kind == S_ERROR;
  }

  void collect_locals(const NodeList& statements, Slots& slots) {
    auto enter = [&](const std::string& name) {
      if (!slots.count(name)) {
        int next = (int)slots.size();
        slots[name] = next;
      }
    };
    for (Node* s : statements) {
      switch (s->kind) {
        case S_CLASS: enter(s->name); break;
        case S_ASSIGN:
          if (s->target->kind == E_NAME) enter(s->target->name);
          break;
        case S_IF:
          for (auto& b : s->branches) collect_locals(b.second, slots);
          collect_locals(s->otherwise, slots);
          break;
        case S_WHILE:
        case S_LOOP: collect_locals(s->body, slots); break;
        case S_SAFE:
        case S_TRY:
          collect_locals(s->body, slots);
          collect_locals(s->otherwise, slots);
          break;
        case S_FOR:
          enter(s->name);
          collect_locals(s->body, slots);
          break;
        default: break;
      }
      if (ends_block(s)) break;
    }
  }

  void declare_function(Node* f, const std::string& name, ClassInfo* cls) {
    if (g_functions.count(name))
      compile_error(f, (cls ? "duplicate method: " : "duplicate function: ") + f->name, "rename one declaration");
    // Two parameters of one name would share a slot.
    for (size_t i = 0; i < f->strings.size(); i++)
      for (size_t j = 0; j < i; j++)
        if (f->strings[i] == f->strings[j])
          compile_error(f, "duplicate parameter: " + f->strings[i], "rename one parameter");
    FuncDef* def = new FuncDef();
    def->name = name;
    def->node = f;
    def->parameters = (int)f->strings.size();
    def->takes_self = !f->strings.empty() && f->strings[0] == "self";
    g_functions[name] = def;
    declared.push_back(def);
  }

  void declare(const NodeList& program) {
    for (Node* s : program) {
      // A class and a function share one namespace of top-level names.
      if (s->kind == S_FUNCTION) {
        if (classes.count(s->name)) compile_error(s, "duplicate class: " + s->name, "rename one declaration");
        declare_function(s, s->name, nullptr);
      } else if (s->kind == S_CLASS) {
        if (classes.count(s->name) || g_functions.count(s->name))
          compile_error(s, "duplicate class: " + s->name, "rename one declaration");
        ClassInfo* cls = new ClassInfo{s->name};
        classes[s->name] = cls;
        for (Node* member : s->body)
          if (member->kind == S_FUNCTION) {
            declare_function(member, s->name + "__" + member->name, cls);
            class_methods.insert(member->name);
          }
      }
    }
    collect_locals(program, globals);
  }

  void resolve_function(FuncDef* f) {
    Slots slots;
    for (const std::string& p : f->node->strings) {
      int next = (int)slots.size();
      slots[p] = next;  // a repeated parameter takes the later position
    }
    collect_locals(f->node->body, slots);
    Slots* saved = locals;
    int saved_handlers = handlers;
    bool saved_loop = in_loop;
    locals = &slots;
    handlers = 0;
    in_loop = false;
    f->body = block(f->node->body);
    f->slots = (int)slots.size() > f->parameters ? (int)slots.size() : f->parameters;
    locals = saved;
    handlers = saved_handlers;
    in_loop = saved_loop;
  }

  bool ends_program() const { return !locals && handlers == 0; }

  // A variable's place: a slot of the current frame (top-level names live in
  // the frame of the program itself) or, inside a function, a global slot.
  bool find_variable(const std::string& name, bool& global, int& slot) {
    Slots& scope = locals ? *locals : globals;
    auto found = scope.find(name);
    if (found != scope.end()) {
      global = false;
      slot = found->second;
      return true;
    }
    if (locals) {
      found = globals.find(name);
      if (found != globals.end()) {
        global = true;
        slot = found->second;
        return true;
      }
    }
    return false;
  }

  Expr* variable(bool global, int slot) {
    if (global) {
      GlobalE* g = new GlobalE();
      g->slot = slot;
      return g;
    }
    LocalE* l = new LocalE();
    l->slot = slot;
    return l;
  }

  // ---- expressions

  std::vector<Expr*> expressions(const NodeList& nodes) {
    std::vector<Expr*> out;
    for (Node* n : nodes) out.push_back(expression(n));
    return out;
  }

  Expr* expression(Node* n) {
    switch (n->kind) {
      case E_LITERAL: return literal(n);
      case E_NAME: {
        bool global;
        int slot;
        if (find_variable(n->name, global, slot)) return variable(global, slot);
        if (FuncDef* f = find_function(n->name)) {
          ConstE* c = new ConstE();
          c->v = Value::function(f);
          return c;
        }
        compile_error(n, "unknown native variable: " + n->name, "assign the variable before reading it");
      }
      case E_LIST:
      case E_TUPLE: {
        SeqE* e = new SeqE();
        e->tag = n->kind == E_LIST ? T_LIST : T_TUPLE;
        e->items = expressions(n->items);
        return e;
      }
      case E_REAL_ARRAY: {
        RealArrayE* e = new RealArrayE();
        e->list = new SeqE();
        e->list->tag = T_LIST;
        e->list->items = expressions(n->items);
        return e;
      }
      case E_DICTIONARY: {
        DictE* e = new DictE();
        for (auto& entry : n->entries) e->entries.push_back({expression(entry.first), expression(entry.second)});
        return e;
      }
      case E_MEMBER: {
        // A name that is no variable or function has no static kind: the
        // member read is refused as kepc refuses it, at the member.
        bool global;
        int slot;
        if (n->target->kind == E_NAME && !find_variable(n->target->name, global, slot) && !find_function(n->target->name))
          compile_error(n, "member value requires a class or instance", "access a declared class field");
        MemberE* e = new MemberE();
        e->target = expression(n->target);
        e->name = n->name;
        e->key = text_constant(n->name);
        return e;
      }
      case E_INDEX: {
        IndexE* e = new IndexE();
        e->target = expression(n->target);
        e->index = expression(n->index);
        e->at = index_position(n, main_path);
        return e;
      }
      case E_SLICE: {
        SliceE* e = new SliceE();
        e->target = expression(n->target);
        if (n->start) e->start = expression(n->start);
        if (n->stop) e->stop = expression(n->stop);
        if (n->step) e->step = expression(n->step);
        return e;
      }
      case E_UNARY: {
        Expr* operand = expression(n->operand);
        if (n->name == "not") {
          NotE* e = new NotE();
          e->operand = operand;
          return e;
        }
        if (n->name == "-") {
          NegE* e = new NegE();
          e->operand = operand;
          return e;
        }
        PlusE* e = new PlusE();
        e->operand = operand;
        return e;
      }
      case E_BINARY: return binary(n, expression(n->left), expression(n->right));
      case E_COMPARE: {
        CompareE* e = new CompareE();
        static const std::unordered_map<std::string, CmpOp> ops = {
            {"==", C_EQ}, {"!=", C_NE}, {"<", C_LT},   {"<=", C_LE},        {">", C_GT},
            {">=", C_GE}, {"in", C_IN}, {"not in", C_NOT_IN}, {"is", C_IS}, {"is not", C_IS_NOT}};
        for (const std::string& op : n->strings) e->ops.push_back(ops.at(op));
        e->operands = expressions(n->items);
        return e;
      }
      case E_CALL: return call(n);
      default:
        compile_error(n, std::string("expression kind ") + node_kind_name(n->kind) + " is not in the native scalar slice",
                      "this construct will be enabled with the dynamic runtime");
    }
  }

  // One String object per distinct literal text, so that Dictionary keys
  // written as literals usually match by identity.
  Value text_constant(const std::string& text) {
    static std::unordered_map<std::string, Value> texts;
    Value& v = texts[text];
    if (v.tag == T_NONE) v = make_str(text);
    return v;
  }

  Expr* literal(Node* n) {
    ConstE* c = new ConstE();
    if (n->literal == L_STRING) {
      c->v = text_constant(n->text);
    } else if (n->literal == L_NUMBER) {
      if (n->has_int)
        c->v = Value::integer(n->int_value);
      else
        c->v = Value::real(strtod(n->text.c_str(), nullptr));
    } else if (n->text == "True" || n->text == "False") {
      c->v = Value::boolean(n->text == "True");
    }
    return c;
  }

  Expr* binary(Node* n, Expr* left, Expr* right) {
    if (n->name == "and") {
      AndE* e = new AndE();
      e->left = left;
      e->right = right;
      return e;
    }
    if (n->name == "or") {
      OrE* e = new OrE();
      e->left = left;
      e->right = right;
      return e;
    }
    static const std::unordered_map<std::string, BinOp> ops = {{"+", OP_ADD},      {"-", OP_SUB}, {"*", OP_MUL},
                                                              {"/", OP_DIV},      {"//", OP_FLOORDIV},
                                                              {"%", OP_MOD},      {"^", OP_POW}};
    BinE* e = new BinE();
    e->op = ops.at(n->name);
    e->left = left;
    e->right = right;
    e->at = position(n, main_path);
    return e;
  }

  Expr* call(Node* n) {
    Node* target = n->target;
    if (target->kind == E_MEMBER) {
      MethodE* e = new MethodE();
      e->receiver = expression(target->target);
      e->name = target->name;
      e->args = expressions(n->items);
      bool of_class = class_methods.count(e->name) != 0, of_library = is_library_method(e->name);
      e->arguments_first = of_class ? !of_library : e->name == "pop";
      return e;
    }
    if (target->kind != E_NAME)
      compile_error(n, std::string("only direct Function calls are supported; unresolved target kind ") +
                           node_kind_name(target->kind) + " member ?",
                    "call a declared function by name");
    const std::string& name = target->name;
    int m = (int)n->items.size();
    int id = find_builtin(name);
    if (id >= 0) return builtin(n, id, m);
    auto cls = classes.find(name);
    if (cls != classes.end()) {
      CallClassE* e = new CallClassE();
      e->cls = cls->second;
      e->init = find_function(name + "__init");
      if (e->init) {
        if (m + 1 != e->init->parameters)
          compile_error(n, "initializer argument count mismatch",
                        "pass exactly " + std::to_string(e->init->parameters - 1) + " arguments");
        e->args = expressions(n->items);
      } else if (m > 0) {
        // Without an initializer nothing would receive the arguments.
        compile_error(n, "initializer argument count mismatch", "pass exactly 0 arguments");
      }
      return e;
    }
    if (FuncDef* f = find_function(name)) {
      if (m != f->parameters)
        compile_error(n, "function argument count mismatch for " + name,
                      "pass exactly " + std::to_string(f->parameters) + " arguments");
      CallFuncE* e = new CallFuncE();
      e->f = f;
      e->args = expressions(n->items);
      return e;
    }
    bool global;
    int slot;
    if (find_variable(name, global, slot)) {
      CallVarE* e = new CallVarE();
      e->variable = variable(global, slot);
      e->name = name;
      e->args = expressions(n->items);
      return e;
    }
    compile_error(n, "unknown native function: " + name,
                  "declare the function or assign a Function value before calling it");
  }

  Expr* builtin(Node* n, int id, int m) {
    const std::string& name = n->target->name;
    int lo, hi;
    builtin_arity(id, lo, hi);
    if (lo == hi && m != lo)
      compile_error(n, "builtin " + name + " expects " + std::to_string(lo) + " argument(s), got " + std::to_string(m),
                    "pass exactly " + std::to_string(lo) + " argument(s)");
    if ((name == "IntArray" || name == "FloatArray" || name == "ByteArray") && m >= 2)
      compile_error(n, "builtin " + name + " expects zero or one argument",
                    "pass no argument for a new array or an existing array as a checked cast");
    if ((name == "min" || name == "max") && (m < 1 || m > 2))
      compile_error(n, "builtin " + name + " expects 1 iterable or 2 values", "pass min(iterable) or min(a, b)");
    if (hi < 0 && m < lo)
      compile_error(n, "builtin " + name + " expects at least " + std::to_string(lo) + " argument(s), got " + std::to_string(m),
                    "pass " + std::to_string(lo) + " argument(s)");
    if (name == "check") {
      CheckE* e = new CheckE();
      e->condition = expression(n->items[0]);
      e->message = expression(n->items[1]);
      e->ends_program = ends_program();
      return e;
    }
    BuiltinE* e = new BuiltinE();
    e->id = id;
    int used = hi < 0 ? lo : m;  // an unchecked built-in reads only the arguments it uses
    for (int k = 0; k < used; k++) e->args.push_back(expression(n->items[k]));
    return e;
  }

  // ---- statements

  Block block(const NodeList& statements) {
    Block out;
    for (Node* s : statements) {
      if (Stmt* st = statement(s)) out.push_back(st);
      if (ends_block(s)) break;
    }
    return out;
  }

  Block loop_body(const NodeList& statements) {
    bool saved = in_loop;
    in_loop = true;
    Block b = block(statements);
    in_loop = saved;
    return b;
  }

  Stmt* statement(Node* s) {
    switch (s->kind) {
      case S_ASSIGN: return assignment(s);
      case S_PRINT: {
        PrintS* p = new PrintS();
        for (Node* item : s->items) {
          if (item->kind == E_LITERAL && (item->literal == L_STRING || item->literal == L_NAME))
            p->parts.push_back({nullptr, item->text});
          else
            p->parts.push_back({expression(item), ""});
        }
        return p;
      }
      case S_EXPRESSION: {
        ExprS* e = new ExprS();
        e->e = expression(s->expression);
        return e;
      }
      case S_IF: {
        IfS* i = new IfS();
        for (auto& b : s->branches) {
          Expr* condition = expression(b.first);
          i->branches.push_back({condition, block(b.second)});
        }
        i->otherwise = block(s->otherwise);
        return i;
      }
      case S_WHILE:
      case S_LOOP: {
        WhileS* w = new WhileS();
        w->condition = s->kind == S_WHILE ? expression(s->condition) : nullptr;
        w->body = loop_body(s->body);
        return w;
      }
      case S_FOR: return for_statement(s);
      case S_BREAK:
      case S_CONTINUE:
        if (!in_loop) {
          std::string word = s->kind == S_BREAK ? "break" : "continue";
          compile_error(s, word + " used outside a loop", "move " + word + " into while or loop");
        }
        if (s->kind == S_BREAK) return new BreakS();
        return new ContinueS();
      case S_SAFE:
      case S_TRY: {
        SafeS* h = new SafeS();
        h->is_try = s->kind == S_TRY;
        handlers++;
        h->body = block(s->body);
        handlers--;
        h->otherwise = block(s->otherwise);
        return h;
      }
      case S_ERROR: return error_statement(s);
      case S_DELETE: return delete_statement(s);
      case S_CLASS: return class_statement(s);
      case S_FUNCTION: return nullptr;  // compiled on its own (top-level functions and methods only)
      case S_LOAD: compile_error(s, "load code generation reached the linked program", "check module linker lowering");
      case S_RETURN: {
        if (!locals) compile_error(s, "return used outside a function", "move return into a function");
        ReturnS* r = new ReturnS();
        if (s->expression) r->value = expression(s->expression);
        return r;
      }
      default:
        compile_error(s, "statement kind ctype is not implemented",
                      "use scalar assignment, print, if, while, loop, break, or continue");
    }
  }

  // The "+" operations of name = name + a + b ... from the innermost out,
  // or nothing when the value has another shape (at most eight addends).
  static std::vector<BinE*> concatenation_chain(Expr* value, bool global, int slot) {
    std::vector<BinE*> chain;
    Expr* e = value;
    while (true) {
      BinE* b = dynamic_cast<BinE*>(e);
      if (!b || b->op != OP_ADD) break;
      chain.insert(chain.begin(), b);
      e = b->left;
    }
    bool is_place = false;
    if (auto* l = dynamic_cast<LocalE*>(e)) is_place = !global && l->slot == slot;
    if (auto* g = dynamic_cast<GlobalE*>(e)) is_place = global && g->slot == slot;
    if (!is_place || chain.size() > 8) chain.clear();
    return chain;
  }

  // The binary operation of an augmented assignment s with place as its
  // left operand, positioned at the statement.
  Expr* operation(Node* s, Expr* place) {
    Node op = *s;
    op.name = s->name.substr(0, 1);
    return binary(&op, place, expression(s->value));
  }

  Stmt* assignment(Node* s) {
    Node* target = s->target;
    bool augmented = s->name != "=";
    if (target->kind == E_NAME) {
      AssignS* a = new AssignS();
      find_variable(target->name, a->global, a->slot);  // every assigned name has a slot of its own scope
      a->value = augmented ? operation(s, expression(target)) : expression(s->value);
      a->appends = concatenation_chain(a->value, a->global, a->slot);
      return a;
    }
    // An augmented operator reads the element or field through the
    // container, index and object already evaluated for the store.
    if (target->kind == E_INDEX) {
      AssignIndexS* a = new AssignIndexS();
      a->container = expression(target->target);
      a->index = expression(target->index);
      a->at = index_position(s, main_path);
      if (augmented) {
        a->held_container = new ConstE();
        a->held_index = new ConstE();
        IndexE* read = new IndexE();
        read->target = a->held_container;
        read->index = a->held_index;
        read->at = position(target, main_path);
        a->value = operation(s, read);
      } else {
        a->value = expression(s->value);
      }
      return a;
    }
    if (target->kind == E_MEMBER) {
      AssignMemberS* a = new AssignMemberS();
      a->object = expression(target->target);
      a->key = text_constant(target->name);
      if (augmented) {
        a->held_object = new ConstE();
        MemberE* read = new MemberE();
        read->target = a->held_object;
        read->name = target->name;
        read->key = a->key;
        a->value = operation(s, read);
      } else {
        a->value = expression(s->value);
      }
      return a;
    }
    compile_error(s, "unsupported assignment target", "assign to a name, index, or instance field");
  }

  Stmt* for_statement(Node* s) {
    Node* iterable = s->expression;
    bool global = false;
    int slot = 0;
    find_variable(s->name, global, slot);
    if (iterable->kind == E_CALL && iterable->target->kind == E_NAME &&
        (iterable->target->name == "rang" || iterable->target->name == "range")) {
      const NodeList& a = iterable->items;
      if (a.empty() || a.size() > 3)
        compile_error(s, "rang expects one to three arguments",
                      "use rang(stop), rang(start, stop), or rang(start, stop, step)");
      ForRangeS* f = new ForRangeS();
      f->global = global;
      f->slot = slot;
      if (a.size() == 1) {
        ConstE* zero = new ConstE();
        zero->v = Value::integer(0);
        f->start = zero;
        f->stop = expression(a[0]);
      } else {
        f->start = expression(a[0]);
        f->stop = expression(a[1]);
      }
      if (a.size() == 3) f->step = expression(a[2]);
      f->at = position(s, main_path);
      f->body = loop_body(s->body);
      return f;
    }
    ForEachS* f = new ForEachS();
    f->global = global;
    f->slot = slot;
    f->iterable = expression(iterable);
    f->body = loop_body(s->body);
    return f;
  }

  Stmt* error_statement(Node* s) {
    ErrorS* e = new ErrorS();
    e->prefix = s->name + ": ";
    Node* m = s->message;
    bool global;
    int slot;
    if (m->kind == E_LITERAL) {
      e->text = m->text;
    } else if (m->kind == E_NAME && !find_variable(m->name, global, slot)) {
      e->text = m->name;  // a bare word is the message text
    } else {
      e->message = expression(m);
    }
    e->ends_program = ends_program();
    return e;
  }

  Stmt* delete_statement(Node* s) {
    Node* target = s->target;
    if (target->kind == E_INDEX) {
      DelIndexS* d = new DelIndexS();
      d->container = expression(target->target);
      d->index = expression(target->index);
      return d;
    }
    if (target->kind == E_NAME) {
      DelNameS* d = new DelNameS();
      if (!find_variable(target->name, d->global, d->slot))
        compile_error(s, "cannot delete unknown name " + target->name, "assign the name before deleting it");
      return d;
    }
    if (target->kind == E_MEMBER) {
      DelMemberS* d = new DelMemberS();
      d->object = expression(target->target);
      d->key = text_constant(target->name);
      return d;
    }
    compile_error(s, "unsupported del target", "delete a name, mutable index, Dictionary key, or instance field");
  }

  Stmt* class_statement(Node* s) {
    ClassS* c = new ClassS();
    auto known = classes.find(s->name);
    c->cls = known != classes.end() ? known->second : new ClassInfo{s->name};
    find_variable(s->name, c->global, c->slot);
    if (s->condition) c->condition = expression(s->condition);
    for (Node* member : s->body) {
      if (member->kind == S_ASSIGN) {
        if (member->target->kind != E_NAME || member->name != "=")
          compile_error(member, "class fields require simple assignment", "use name = value in the class body");
        c->fields.push_back({text_constant(member->target->name), expression(member->value)});
      } else if (member->kind != S_FUNCTION && member->kind != S_CTYPE) {
        compile_error(member, "unsupported class body statement", "use fields, ctype, and function methods");
      }
    }
    return c;
  }
};

}  // namespace

FuncDef* find_function(const std::string& name) {
  auto found = g_functions.find(name);
  return found == g_functions.end() ? nullptr : found->second;
}

ResolvedProgram resolve_program(NodeList& program, const std::string& main_path) {
  Resolver resolver;
  resolver.main_path = main_path;
  resolver.declare(program);
  for (FuncDef* f : resolver.declared) resolver.resolve_function(f);
  return {resolver.block(program), resolver.globals.size()};
}

}  // namespace kep
