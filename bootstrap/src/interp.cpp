#include "interp.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include "nodes.hpp"
#include "output.hpp"
#include "resolve.hpp"
#include "stack.hpp"

namespace kep {

Value g_return;
Value* g_globals = nullptr;

// ---------------------------------------------------------------- calls

namespace {

constexpr int kMaxDepth = 100000;
constexpr size_t kStackValues = size_t(1) << 24;

Value* g_stack = nullptr;
Value* g_top = nullptr;
Value* g_stack_end = nullptr;
int g_depth = 0;

void init_value_stack() {
  // Zero pages read as None values, so the stack needs no initialisation.
  void* memory = mmap(nullptr, kStackValues * sizeof(Value), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) fatal_unsupported("cannot reserve the value stack");
  g_stack = g_top = static_cast<Value*>(memory);
  g_stack_end = g_stack + kStackValues;
}

// Releases a frame's slots and the stack above it when a call ends, by
// return or by error.
struct FrameGuard {
  Value* frame;
  Value* end;
  ~FrameGuard() {
    for (Value* v = frame; v < end; v++) v->release();
    g_top = frame;
    g_depth--;
  }
};

}  // namespace

Value* reserve_frame(FuncDef* f) {
  Value* frame = g_top;
  if (g_stack_end - frame < f->slots + 1) raise_text("RecursionError: maximum recursion depth exceeded");
  g_top = frame + f->slots;
  return frame;
}

Value enter_function(FuncDef* f, Value* frame) {
  g_depth++;
  FrameGuard guard{frame, frame + f->slots};
  if (g_depth > kMaxDepth || stack_nearly_exhausted()) raise_text("RecursionError: maximum recursion depth exceeded");
  if (exec_block(f->body, frame) == F_RETURN) return std::move(g_return);
  return Value();
}

Value call_function(FuncDef* f, const Value* args, int n) {
  if (n != f->parameters)
    raise_text("TypeError: function " + f->name + " expects " + std::to_string(f->parameters) + " argument(s), got " +
               std::to_string(n));
  Value* frame = reserve_frame(f);
  for (int k = 0; k < n; k++) frame[k] = args[k];
  return enter_function(f, frame);
}

void abandon_frame(FuncDef* f, Value* frame) {
  for (Value* v = frame; v < frame + f->slots; v++) v->release();
  g_top = frame;
}

Value CallClassE::eval(Value* frame) {
  Value instance = make_dict();
  as_dict(instance)->cls = cls;
  if (!init) return instance;
  Value* callee = reserve_frame(init);
  try {
    for (size_t k = args.size(); k-- > 0;) callee[k + 1] = args[k]->eval(frame);
  } catch (KepError&) {
    abandon_frame(init, callee);
    throw;
  }
  callee[0] = instance;
  enter_function(init, callee);
  return instance;
}

Value CallVarE::eval(Value* frame) {
  std::vector<Value> values(args.size());
  for (size_t k = args.size(); k-- > 0;) values[k] = args[k]->eval(frame);
  Value callee = variable->eval(frame);
  if (callee.tag != T_FUNC) raise_text("TypeError: " + name + " holds no Function");
  if (callee.fn->parameters != (int)values.size())
    raise_text("TypeError: the Function in " + name + " does not take " + std::to_string(values.size()) +
               " argument(s)");
  return call_function(callee.fn, values.data(), (int)values.size());
}

Value CheckE::eval(Value* frame) {
  if (truth(condition->eval(frame))) return Value();
  Value m = message->eval(frame);
  if (ends_program) {
    err_write("KEP runtime error: CheckError\n");
    _exit(1);
  }
  raise_value(std::move(m));
}

// values[1..] = the arguments, from the last to the first.
static void eval_last_to_first(const std::vector<Expr*>& args, std::vector<Value>& values, Value* frame) {
  for (size_t k = args.size(); k-- > 0;) values[k + 1] = args[k]->eval(frame);
}

Value MethodE::eval(Value* frame) {
  // values[0] is kept for the receiver, passed when the method takes self.
  std::vector<Value> values(args.size() + 1);
  Value recv;
  if (arguments_first) {
    eval_last_to_first(args, values, frame);
    recv = receiver->eval(frame);
  } else {
    recv = receiver->eval(frame);
    if (recv.tag == T_DICT && as_dict(recv)->cls) {
      eval_last_to_first(args, values, frame);
    } else {
      for (size_t k = 0; k < args.size(); k++) values[k + 1] = args[k]->eval(frame);
    }
  }
  if (recv.tag == T_DICT && as_dict(recv)->cls) {
    ClassInfo* cls = as_dict(recv)->cls;
    if (cls != cached_class) {
      cached_method = find_function(cls->name + "__" + name);
      cached_class = cls;
    }
    if (!cached_method) raise_text("TypeError: unknown class method: " + name);
    if (!cached_method->takes_self) return call_function(cached_method, values.data() + 1, (int)args.size());
    values[0] = recv;
    return call_function(cached_method, values.data(), (int)values.size());
  }
  values.erase(values.begin());
  return call_method(recv, name, values);
}

// ---------------------------------------------------------------- statements

bool compare_values(CmpOp op, const Value& a, const Value& b) {
  switch (op) {
    case C_EQ: return op_equal(a, b);
    case C_NE: return !op_equal(a, b);
    case C_IS: return op_same(a, b);
    case C_IS_NOT: return !op_same(a, b);
    default: break;
  }
  int order = op_order(a, b);
  if (order == -2) return false;
  switch (op) {
    case C_LT: return order < 0;
    case C_LE: return order <= 0;
    case C_GT: return order > 0;
    case C_GE: return order >= 0;
    default: return false;
  }
}

Flow PrintS::exec(Value* frame) {
  bool first = true;
  for (auto& part : parts) {
    if (!first) out_write(" ", 1);
    first = false;
    if (part.first)
      print_value(part.first->eval(frame));
    else
      out_write(part.second);
  }
  out_write("\n", 1);
  return F_NORMAL;
}

Flow AssignS::exec(Value* frame) {
  Value* base = global ? g_globals : frame;
  if (appends.empty()) {
    base[slot] = value->eval(frame);
    return F_NORMAL;
  }
  Value addends[8];
  bool all_text = true;
  for (size_t k = 0; k < appends.size(); k++) {
    addends[k] = appends[k]->right->eval(frame);
    all_text = all_text && addends[k].tag == T_STR;
  }
  Value& place = base[slot];
  if (all_text && place.tag == T_STR && place.o->rc == 1) {
    StrObj* s = as_str(place);
    for (size_t k = 0; k < appends.size(); k++) s->s += as_str(addends[k])->s;
    s->changed();
    return F_NORMAL;
  }
  Value result = place;
  for (size_t k = 0; k < appends.size(); k++) result = appends[k]->apply(result, addends[k]);
  place = std::move(result);
  return F_NORMAL;
}

Flow AssignMemberS::exec(Value* frame) {
  Value o = object->eval(frame);
  if (held_object) held_object->v = o;
  Value v = value->eval(frame);
  if (held_object) held_object->v = Value();
  if (o.tag != T_DICT) raise_text(std::string("TypeError: member assignment requires a class instance, got ") + kind_name(o));
  dict_set(as_dict(o), key, v);
  return F_NORMAL;
}

Flow DelMemberS::exec(Value* frame) {
  Value o = object->eval(frame);
  if (o.tag != T_DICT) raise_text(std::string("TypeError: member deletion requires a class instance, got ") + kind_name(o));
  dict_delete(as_dict(o), key);
  return F_NORMAL;
}

Flow ForRangeS::exec(Value* frame) {
  Value* base = global ? g_globals : frame;
  Value first = start->eval(frame);
  int64_t from = int_of(first, "rang start");
  Value last = stop->eval(frame);
  int64_t to = int_of(last, "rang stop");
  int64_t by = 1;
  if (step) {
    Value s = step->eval(frame);
    if (s.tag != T_INT) raise_text("TypeError: rang step must be an Int");
    by = s.i;
  }
  if (by == 0) raise_text("ValueError: rang step cannot be zero at " + at);
  base[slot] = Value::integer(from);
  // The body may assign the variable: the next round counts on from its value.
  for (int64_t current = from; by > 0 ? current < to : current > to;) {
    Flow f = exec_block(body, frame);
    if (f == F_BREAK) break;
    if (f == F_RETURN) return f;
    current = (int64_t)((uint64_t)int_of(base[slot], "a counting loop variable") + (uint64_t)by);
    base[slot] = Value::integer(current);
  }
  return F_NORMAL;
}

Flow ForEachS::exec(Value* frame) {
  Value* base = global ? g_globals : frame;
  Value sequence = iterable->eval(frame);
  if (sequence.tag == T_DICT) {
    Value keys = make_seq(T_LIST);
    as_seq(keys)->v = dict_keys(as_dict(sequence));
    sequence = keys;
  }
  if (sequence.tag != T_STR && sequence.tag != T_BYTES && !is_seq_tag(sequence.tag))
    raise_text(std::string("TypeError: cannot iterate over ") + kind_name(sequence));
  for (int64_t position = 0;; position++) {
    if (sequence.tag == T_STR) {
      StrObj* s = as_str(sequence);
      if (position >= str_chars(s)) break;
      base[slot] = str_char(s, position);
    } else if (sequence.tag == T_BYTES) {
      auto& b = as_bytes(sequence)->b;
      if (position >= (int64_t)b.size()) break;
      base[slot] = Value::integer(b[(size_t)position]);
    } else {
      auto& v = as_seq(sequence)->v;
      if (position >= (int64_t)v.size()) break;
      base[slot] = v[(size_t)position];
    }
    Flow f = exec_block(body, frame);
    if (f == F_BREAK) break;
    if (f == F_RETURN) return f;
  }
  return F_NORMAL;
}

Flow SafeS::exec(Value* frame) {
  try {
    Flow f = exec_block(body, frame);
    if (f != F_NORMAL) return f;
  } catch (KepError&) {
    if (is_try) return exec_block(otherwise, frame);
  }
  return F_NORMAL;
}

Flow ErrorS::exec(Value* frame) {
  std::string full = prefix;
  if (message) {
    Value m = message->eval(frame);
    full += m.tag == T_STR ? as_str(m)->s : as_str(to_string(m))->s;
  } else {
    full += text;
  }
  if (ends_program) {
    err_write("KEP runtime error: " + full + "\n");
    _exit(1);
  }
  raise_text(full);
}

Flow ClassS::exec(Value* frame) {
  Value object = make_dict();
  as_dict(object)->cls = cls;
  as_dict(object)->is_class = true;
  (global ? g_globals : frame)[slot] = object;
  if (condition && !truth(condition->eval(frame))) return F_NORMAL;
  for (auto& field : fields) {
    Value v = field.second->eval(frame);
    dict_set(as_dict(object), field.first, v);
  }
  return F_NORMAL;
}

int run_program(NodeList& program, const std::string& main_path) {
  init_value_stack();
  ResolvedProgram resolved = resolve_program(program, main_path);
  g_globals = g_top;
  g_top += resolved.global_count;
  try {
    exec_block(resolved.top, g_globals);
  } catch (KepError& error) {
    fatal_report(error.message);
  }
  out_flush();
  return 0;
}

}  // namespace kep
