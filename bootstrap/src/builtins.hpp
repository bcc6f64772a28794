// Built-in functions and the methods of Strings, sequences and Dictionaries.
#pragma once
#include <string>
#include <vector>

#include "value.hpp"

namespace kep {

// Index of a built-in name, or -1. A call by such a name always reaches the
// built-in, whatever the program declares.
int find_builtin(const std::string& name);
// Number of arguments a built-in takes: exact when min == max; -1 for max
// means the count is not checked (the built-in reads min arguments).
void builtin_arity(int id, int& min_args, int& max_args);

Value call_builtin(int id, Value* args, int count);

// Methods of library values (everything that is not a class or an instance).
Value call_method(const Value& receiver, const std::string& name, std::vector<Value>& args);
// Whether name is a method of some library value.
bool is_library_method(const std::string& name);

// Program arguments as the program sees them: arg(0) is the program's path.
void set_program_arguments(std::vector<std::string> arguments);

}  // namespace kep
