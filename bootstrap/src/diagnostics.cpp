// The compile-error report of kep0.
#include "diagnostics.hpp"

#include <unistd.h>

#include "output.hpp"

namespace kep {

void (*diagnostic_exit)(int status) = _exit;

static std::string repeat_text(const std::string& text, int64_t n) {
  std::string out;
  for (int64_t i = 0; i < n; i++) out += text;
  return out;
}

void report_diagnostic(const std::string& path, int line, int column, int width,
                       const std::string& source_line, const std::string& code,
                       const std::string& message, const std::string& help) {
  if (column < 1) column = 1;
  if (width < 1) width = 1;
  std::string n = std::to_string(line);
  std::string gutter = repeat_text(" ", (int64_t)n.size() + 1);
  std::string report = "error[" + code + "]: " + message + "\n";
  report += " --> " + path + ":" + n + ":" + std::to_string(column) + "\n";
  report += gutter + "|\n";
  report += n + " | " + source_line + "\n";
  report += gutter + "| " + repeat_text(" ", column - 1) + "^" + repeat_text("~", width - 1) + "\n";
  if (!help.empty()) report += " help: " + help + "\n";
  out_write(report);
  out_flush();
  diagnostic_exit(1);
  _exit(1);
}

}  // namespace kep
