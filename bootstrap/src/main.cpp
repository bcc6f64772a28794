// kep0: the bootstrap interpreter of KEP.
//
//   kep0 PROGRAM.kep [ARG...]
//
// Runs PROGRAM with the dynamic standard library, as a compiled program of
// the same source would run: arg(0) is PROGRAM's path, arg(i) the i-th ARG.
#include <pthread.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builtins.hpp"
#include "interp.hpp"
#include "linker.hpp"
#include "output.hpp"

namespace {

struct Run {
  std::vector<std::string> arguments;
  int status = 0;
};

void* run(void* data) {
  using namespace kep;
  Run* r = static_cast<Run*>(data);
  const std::string& path = r->arguments[0];
  try {
    std::string source = read_source_file(path);
    NodeList program;
    std::string library = locate_library_source();
    if (!library.empty()) {
      program = parse_program(library, read_source_file(library));
      tag_statements(program, intern_path(library));
    }
    NodeList linked = link_program(path, source);
    program.insert(program.end(), linked.begin(), linked.end());
    set_program_arguments(r->arguments);
    r->status = run_program(program, path);
  } catch (KepError& error) {
    fatal_report(error.message);
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
  Run r;
  for (int i = 1; i < argc; i++) r.arguments.push_back(argv[i]);
  // Deep recursion in KEP programs becomes deep recursion here: run on a
  // stack large enough for the interpreter's own call depth limit.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, size_t(4) << 30);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, run, &r) != 0) {
    fprintf(stderr, "kep0: cannot start the interpreter thread\n");
    return 1;
  }
  pthread_join(thread, nullptr);
  kep::out_flush();
  return r.status;
}
