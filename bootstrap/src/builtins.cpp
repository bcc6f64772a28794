#include "builtins.hpp"

#include <algorithm>
#include <unordered_map>

#include "builtin_families.hpp"
#include "interp.hpp"

namespace kep {

using Family = Value (*)(BuiltinId, Value*, int);

struct BuiltinInfo {
  const char* name;
  int min_args, max_args;
  Family call;
};

static const BuiltinInfo kBuiltins[] = {
#define X(id, name, lo, hi, family) {name, lo, hi, call_##family##_builtin},
    KEP_BUILTINS(X)
#undef X
};

int find_builtin(const std::string& name) {
  static std::unordered_map<std::string, int> table = [] {
    std::unordered_map<std::string, int> t;
    for (int i = 0; i < B_COUNT; i++) t[kBuiltins[i].name] = i;
    return t;
  }();
  auto found = table.find(name);
  return found == table.end() ? -1 : found->second;
}

void builtin_arity(int id, int& min_args, int& max_args) {
  min_args = kBuiltins[id].min_args;
  max_args = kBuiltins[id].max_args;
}

const char* builtin_name(BuiltinId id) { return kBuiltins[id].name; }

[[noreturn]] void unsupported_builtin(BuiltinId id) {
  fatal_unsupported(std::string("the built-in ") + builtin_name(id) + " is not available in the bootstrap interpreter");
}

const std::string& need_str(const Value& v, const char* what) {
  if (v.tag != T_STR) raise_text(std::string("TypeError: ") + what + " expects a String, got " + kind_name(v));
  return as_str(v)->s;
}

Value call_builtin(int id, Value* a, int count) { return kBuiltins[id].call((BuiltinId)id, a, count); }

// ---------------------------------------------------------------- methods

namespace {

struct MethodRule {
  int arguments;        // -1: counted by the method itself
  const char* helper;   // library function, or nullptr for the inline methods
};

const std::unordered_map<std::string, MethodRule>& method_table() {
  static const std::unordered_map<std::string, MethodRule> table = {
      {"strip", {0, "__kep_strip"}},         {"lstrip", {0, "__kep_lstrip"}},
      {"rstrip", {0, "__kep_rstrip"}},       {"lower", {0, "__kep_lower"}},
      {"upper", {0, "__kep_upper"}},         {"title", {0, "__kep_title"}},
      {"capitalize", {0, "__kep_capitalize"}}, {"sort", {0, "__kep_sort"}},
      {"reverse", {0, "__kep_reverse"}},     {"copy", {0, "__kep_copy"}},
      {"keys", {0, nullptr}},                {"values", {0, "__kep_dict_values"}},
      {"items", {0, "__kep_dict_items"}},    {"clear", {0, nullptr}},
      {"append", {1, nullptr}},              {"startswith", {1, "__kep_startswith"}},
      {"endswith", {1, "__kep_endswith"}},   {"find", {1, "__kep_find"}},
      {"count", {1, "__kep_count"}},         {"split", {1, "__kep_split"}},
      {"join", {1, "__kep_join"}},           {"extend", {1, "__kep_extend"}},
      {"remove", {1, "__kep_remove"}},       {"index", {1, nullptr}},
      {"update", {1, "__kep_update"}},       {"replace", {2, "__kep_replace"}},
      {"insert", {2, "__kep_insert"}},       {"get", {-1, "__kep_dict_get"}},
      {"setdefault", {-1, "__kep_setdefault"}}, {"pop", {-1, nullptr}},
  };
  return table;
}

[[noreturn]] void method_error(const std::string& text) { raise_text("TypeError: " + text); }

Value call_helper(const char* helper, const Value& receiver, std::vector<Value>& args) {
  std::vector<Value> all;
  all.reserve(args.size() + 1);
  all.push_back(receiver);
  for (Value& v : args) all.push_back(std::move(v));
  return call_function(library_function(helper), all.data(), (int)all.size());
}

void append_item(const Value& receiver, const Value& item) {
  switch (receiver.tag) {
    case T_LIST: break;
    case T_INTARR:
      if (item.tag != T_INT) method_error("IntArray append requires an Int");
      break;
    case T_FLOATARR:
      if (item.tag != T_FLOAT) method_error("FloatArray append requires a Float");
      break;
    case T_BYTES:
      if (item.tag != T_INT) method_error("ByteArray append requires an Int");
      if (item.i < 0 || item.i > 255) raise_text("ValueError: ByteArray value is outside 0..255");
      as_bytes(receiver)->b.push_back((uint8_t)item.i);
      return;
    case T_TUPLE:
    case T_REAL: method_error("fixed collection does not support append");
    default: method_error(std::string("append is not a method of ") + kind_name(receiver));
  }
  as_seq(receiver)->v.push_back(item);
}

}  // namespace

bool is_library_method(const std::string& name) { return method_table().count(name) != 0; }

Value call_method(const Value& receiver, const std::string& name, std::vector<Value>& args) {
  auto rule = method_table().find(name);
  if (rule == method_table().end()) method_error("unknown method " + name + " of " + kind_name(receiver));
  int n = (int)args.size();
  if (rule->second.arguments >= 0 && n != rule->second.arguments)
    method_error("method " + name + " expects " + std::to_string(rule->second.arguments) + " argument(s), got " +
                 std::to_string(n));
  Tag tag = receiver.tag;
  bool fixed = tag == T_TUPLE || tag == T_REAL;
  bool typed_array = tag == T_INTARR || tag == T_FLOATARR || tag == T_BYTES;
  if (name == "pop") {
    if (tag == T_DICT) {
      if (n < 1 || n > 2) method_error("invalid pop argument count");
      return call_helper(n == 1 ? "__kep_dict_pop" : "__kep_dict_pop_default", receiver, args);
    }
    if (n > 1) method_error("invalid pop argument count");
    if (fixed) method_error("fixed collection does not support pop");
    if (typed_array) method_error(std::string(kind_name(receiver)) + " method is not implemented: pop");
    if (tag != T_LIST) method_error(std::string("pop is not a method of ") + kind_name(receiver));
    return call_helper(n == 0 ? "__kep_pop" : "__kep_pop_at", receiver, args);
  }
  if (typed_array && name != "append" && name != "clear")
    method_error(std::string(kind_name(receiver)) + " method is not implemented: " + name);
  if (name == "append") {
    append_item(receiver, args[0]);
    return Value();
  }
  if (name == "clear") {
    if (fixed) method_error("fixed collection does not support clear");
    if (tag == T_DICT) return call_helper("__kep_dict_clear", receiver, args);
    if (tag == T_BYTES) {
      as_bytes(receiver)->b.clear();
      return Value();
    }
    if (!is_seq_tag(tag)) method_error(std::string("clear is not a method of ") + kind_name(receiver));
    as_seq(receiver)->v.clear();
    return Value();
  }
  if (name == "keys") {
    if (tag != T_DICT) method_error(std::string("keys is not a method of ") + kind_name(receiver));
    Value list = make_seq(T_LIST);
    as_seq(list)->v = dict_keys(as_dict(receiver));
    return list;
  }
  if (fixed && (name == "insert" || name == "remove" || name == "extend" || name == "sort"))
    method_error("fixed collection does not support " + name);
  // A RealArray's items can be assigned, so it reverses in place; a Tuple's cannot.
  if (tag == T_TUPLE && name == "reverse") method_error("fixed collection does not support reverse");
  if (tag == T_REAL && name == "reverse") {
    std::vector<Value>& items = as_seq(receiver)->v;
    std::reverse(items.begin(), items.end());
    return Value();
  }
  const char* helper = rule->second.helper;
  if (name == "index") {
    if (is_seq_tag(tag))
      helper = "__kep_list_index";
    else if (tag == T_STR)
      helper = "__kep_string_index";
    else
      method_error(std::string("index is not a method of ") + kind_name(receiver));
  } else if (name == "count") {
    if (is_seq_tag(tag))
      helper = "__kep_list_count";
    else if (tag != T_STR)
      method_error(std::string("count is not a method of ") + kind_name(receiver));
  } else if (name == "copy") {
    if (tag == T_DICT)
      helper = "__kep_dict_copy";
    else if (tag != T_STR && !is_seq_tag(tag))
      method_error(std::string("copy is not a method of ") + kind_name(receiver));
  } else if (name == "get") {
    if (n == 1) args.push_back(Value());
    if (args.size() != 2) method_error("method get expects 1 or 2 argument(s), got " + std::to_string(n));
  } else if (name == "setdefault" && n != 2) {
    method_error("method setdefault expects 2 argument(s), got " + std::to_string(n));
  }
  Value result = call_helper(helper, receiver, args);
  return name == "copy" && fixed ? relabel_list(std::move(result), tag) : result;
}

}  // namespace kep
