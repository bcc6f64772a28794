// Module search and linking: merges a main file and the modules it loads
// into one statement list with prefixed module names.
#pragma once
#include <string>

#include "parser.hpp"

namespace kep {

// Reads a whole file; throws a KEP error ("FileError: ...") when it cannot.
std::string read_source_file(const std::string& path);

std::string get_parent_directory(const std::string& path);

// The directory that holds bootstrap/ (the source tree kep0 was built in).
std::string tree_root();

// The library source: compiler/pure/dynamic_stdlib.kep below the current
// directory, else below the tree kep0 was built in; "" when neither exists.
std::string locate_library_source();

// Parses a file's text; every node records the path.
NodeList parse_file(const std::string& path, const std::string& source);

// The linked program: every loaded module in link order, then the main file.
NodeList link_program(const std::string& path, const std::string& source);

}  // namespace kep
