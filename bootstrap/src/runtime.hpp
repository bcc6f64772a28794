// Errors, the library bridge and the value operations that the evaluator
// and the built-ins share.
#pragma once
#include <string>
#include <vector>

#include "value.hpp"

namespace kep {

// A KEP error in flight: its value is normally a String "Kind: message".
struct KepError {
  Value message;
};

[[noreturn]] void raise_value(Value message);
[[noreturn]] void raise_text(const std::string& text);
// Ends the process with the top-level report of an uncaught error.
[[noreturn]] void fatal_report(const Value& message);
// Ends the process for a condition the compiler would have rejected.
[[noreturn]] void fatal_unsupported(const std::string& text);

// The value last raised, as the built-in last_error reads it.
extern Value g_last_error;

// ---- the dynamic standard library, called as compiled code calls it

struct FuncDef;
FuncDef* find_function(const std::string& name);
Value call_function(FuncDef* f, const Value* args, int n);
// The library's function of that name; a missing one ends the run.
FuncDef* library_function(const char* name);
Value call_library(const char* name, std::initializer_list<Value> args);
// The library builds every sequence as a List: a result meant to be a Tuple,
// a RealArray or a typed array is that List relabelled with its kind.
Value relabel_list(Value result, Tag tag);

// ---- type names and checks

const char* kind_name(const Value& v);  // "Int", "List", ... for messages
int64_t type_code(const Value& v);
bool truth(const Value& v);
int64_t length_of(const Value& v);  // String code points, items, entries; TypeError otherwise

// ---- operators; `at` is the "PATH:LINE" text of the expression

Value op_add(const Value& a, const Value& b);
Value op_sub(const Value& a, const Value& b);
Value op_mul(const Value& a, const Value& b);
Value op_div(const Value& a, const Value& b);
Value op_floordiv(const Value& a, const Value& b, const std::string& at);
Value op_mod(const Value& a, const Value& b, const std::string& at);
Value op_pow(const Value& a, const Value& b, const std::string& at);
Value op_neg(const Value& a);
bool op_equal(const Value& a, const Value& b);  // ==
bool op_same(const Value& a, const Value& b);   // is
int op_order(const Value& a, const Value& b);   // -2 when unordered (NaN), else -1, 0, 1
bool op_contains(const Value& container, const Value& item);
int64_t float_to_int(double f);
double float_of(const Value& v);  // Int or Float as a double; TypeError otherwise
int64_t int_of(const Value& v, const char* what);  // Int (or Bool) as an integer; TypeError otherwise

// ---- element access

Value index_get(const Value& container, const Value& index, const std::string& at);
void index_set(const Value& container, const Value& index, const Value& value, const std::string& at);
Value slice(const Value& target, const Value* start, const Value* stop, const Value* step);
Value str_char(StrObj* s, int64_t index);  // one code point, index already in range
Value ascii_char(unsigned char c);         // the shared one-character String of a byte below 0x80
Value member_get(const Value& target, const std::string& name, const Value& key);
void delete_index(const Value& container, const Value& index);

// ---- text

Value to_string(const Value& v);      // the built-in String
void print_value(const Value& v);     // one value of a print statement
std::string int_text(int64_t v);

// ---- whole files, shared with the module loader

Value builtin_readfile(const std::string& path);

}  // namespace kep
