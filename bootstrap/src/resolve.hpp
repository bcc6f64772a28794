// The resolver: the linked syntax tree turned into executable nodes before
// the program runs. Variables become frame or global slots, calls go to
// declared functions, classes or built-ins, and an unknown name, a wrong
// argument count or a misplaced return or break is an E2001 report.
#pragma once
#include <cstddef>
#include <string>

#include "interp.hpp"

namespace kep {

struct ResolvedProgram {
  Block top;            // the top-level statements
  size_t global_count;  // the global slots they use
};

// Declares the program's functions and classes, resolves every function
// body, then the top level.
ResolvedProgram resolve_program(NodeList& program, const std::string& main_path);

}  // namespace kep
