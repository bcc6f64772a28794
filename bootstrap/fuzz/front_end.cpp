// libFuzzer target for kep0's lexer and parser: any input must end in a
// syntax tree or a diagnostic, never in a crash or a hang.
//
//   make -C bootstrap/fuzz
//   ASAN_OPTIONS=detect_leaks=0 bootstrap/fuzz/front_end -max_total_time=60 CORPUS_DIR
//
// Syntax trees live for the whole run in kep0, so the target does not free them.
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "../src/diagnostics.hpp"
#include "../src/output.hpp"
#include "../src/parser.hpp"
#include "../src/stack.hpp"

namespace {
struct Diagnosed {};
[[noreturn]] void throw_diagnostic(int) { throw Diagnosed{}; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kep::diagnostic_exit = throw_diagnostic;
  // The parser's depth guard measures the stack it runs on; here that is the
  // fuzzer's main thread, whose stack can grow to the soft limit.
  struct rlimit limit;
  size_t stack = size_t(8) << 20;
  if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) stack = limit.rlim_cur;
  kep::set_stack_extent(stack);
  std::string source(reinterpret_cast<const char*>(data), size);
  try {
    kep::parse_program("fuzz.kep", source);
  } catch (Diagnosed&) {
  }
  return 0;
}
