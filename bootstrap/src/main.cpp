// kep0: the bootstrap interpreter of KEP.
//
//   kep0 PROGRAM.kep [ARG...]
//
// Runs PROGRAM with the dynamic standard library, as a compiled program of
// the same source would run: arg(0) is PROGRAM's path, arg(i) the i-th ARG.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "builtins.hpp"
#include "interp.hpp"
#include "linker.hpp"
#include "output.hpp"
#include "stack.hpp"

namespace {

struct Run {
  std::vector<std::string> arguments;
  size_t stack_size = 0;
  int status = 0;
};

// As a compiled program ends when its allocator is exhausted.
[[noreturn]] void exhausted() {
  kep::err_write("KEP runtime error: MemoryError: allocator or object table exhausted\n");
  _exit(70);
}

void* run(void* data) {
  using namespace kep;
  Run* r = static_cast<Run*>(data);
  set_stack_extent(r->stack_size);
  const std::string& path = r->arguments[0];
  try {
    std::string source = read_source_file(path);
    NodeList program;
    std::string library = locate_library_source();
    if (!library.empty()) {
      program = parse_file(library, read_source_file(library));
    }
    NodeList linked = link_program(path, source);
    program.insert(program.end(), linked.begin(), linked.end());
    set_program_arguments(r->arguments);
    r->status = run_program(program, path);
  } catch (KepError& error) {
    fatal_report(error.message);
  } catch (std::bad_alloc&) {
    exhausted();
  } catch (std::length_error&) {
    // A size beyond what any vector or String can hold.
    exhausted();
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    kep::out_write("usage: kep0 PROGRAM.kep [ARG...]\n");
    kep::out_flush();
    return 2;
  }
  // A write to a pipe nobody reads fails with EPIPE and is reported as any
  // failed write, instead of ending the interpreter by SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  Run r;
  for (int i = 1; i < argc; i++) r.arguments.push_back(argv[i]);
  // Deep recursion in KEP programs becomes deep recursion here: run on a
  // large stack, as large as the address-space limit allows.
  pthread_t thread;
  bool started = false;
  for (size_t size = size_t(4) << 30; !started && size >= (size_t(16) << 20); size /= 4) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, size);
    r.stack_size = size;
    started = pthread_create(&thread, &attributes, run, &r) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!started) {
    fprintf(stderr, "kep0: cannot start the interpreter thread\n");
    return 1;
  }
  pthread_join(thread, nullptr);
  kep::out_flush();
  return r.status;
}
