// The compile-error report: the first lexical, syntax or resolution error
// is the only one reported.
#pragma once
#include <string>

namespace kep {

// Prints the six-line report on standard output and ends the process with
// status 1 through diagnostic_exit (a fuzzing build replaces it with a throw).
extern void (*diagnostic_exit)(int status);
[[noreturn]] void report_diagnostic(const std::string& path, int line, int column, int width,
                                    const std::string& source_line, const std::string& code,
                                    const std::string& message, const std::string& help);

}  // namespace kep
