// Built-ins that reach outside the program: exit, help, the command line,
// last_error, console input, whole files, the file system, the
// environment, child processes and capture, clocks and sleep.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "builtin_families.hpp"
#include "builtins.hpp"
#include "output.hpp"

extern char** environ;

namespace kep {

static std::vector<std::string> g_arguments;
static int64_t g_capture_status = 0;
static Value g_capture_stderr;
static bool g_stdin_eof = false;

void set_program_arguments(std::vector<std::string> arguments) { g_arguments = std::move(arguments); }

static double monotonic_seconds(clockid_t id) {
  struct timespec ts;
  clock_gettime(id, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

// ---------------------------------------------------------------- files

// A String argument of a system routine, refused in the routine's own words.
static const std::string& routine_text(const Value& value, const char* refusal) {
  if (value.tag != T_STR) raise_text(refusal);
  return as_str(value)->s;
}

// A path names a file only when it is a String without a NUL byte, which
// would cut it short and name another file.
static bool names_file(const Value& path) { return path.tag == T_STR && !holds_nul(as_str(path)->s); }

// The path of a routine that reports failures by a negative result: a path
// that names no file is an invalid argument, as the kernel would say.
static int64_t path_call(const Value& path, int (*call)(const char*)) {
  if (!names_file(path)) return -EINVAL;
  return call(as_str(path)->s.c_str()) < 0 ? -errno : 0;
}

static Value read_whole_file(const Value& path) {
  if (!names_file(path)) raise_text("FileError: cannot open file");
  return builtin_readfile(as_str(path)->s);
}

// Creates, truncates or appends to a file and writes all of data; a write
// that fails or stops short (a full disk) is an error, not a success, in
// the built-in's own words.
static Value write_file(const Value& path, const std::string& data, int flags, const char* open_error) {
  if (!names_file(path)) raise_text(open_error);
  int fd = open(as_str(path)->s.c_str(), flags | O_CLOEXEC, 0755);
  if (fd < 0) raise_text(open_error);
  bool written = write_all(fd, data.data(), data.size());
  if (close(fd) != 0) written = false;
  if (!written) raise_text(open_error);
  return Value();
}

static std::string bytes_of(const Value& data) {
  std::string bytes;
  if (data.tag == T_BYTES) {
    const auto& b = as_bytes(data)->b;
    bytes.assign(b.begin(), b.end());
  } else if (is_seq_tag(data.tag)) {
    for (const Value& item : as_seq(data)->v) {
      int64_t byte = int_of(item, "a byte");
      if (byte < 0 || byte > 255) raise_text("ValueError: ByteArray value is outside 0..255");
      bytes += (char)byte;
    }
  } else {
    raise_text("TypeError: writebytes expects a ByteArray or a List of Ints");
  }
  return bytes;
}

static Value read_input(const Value& prompt) {
  out_write(routine_text(prompt, "TypeError: input expects a String"));
  out_flush();
  g_stdin_eof = false;
  std::string line;
  while (true) {
    char c;
    ssize_t n = read(0, &c, 1);
    if (n < 0) {
      if (errno == EINTR) continue;
      raise_text("FileError: cannot read stdin");
    }
    if (n == 0) {
      g_stdin_eof = true;
      break;
    }
    line += c;
    if (c == '\n') break;
  }
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return make_str(std::move(line));
}

// ---------------------------------------------------------------- processes

// The program and its arguments, which must be Strings without a NUL byte:
// execve would pass a shorter text than the program gave.
static void argument_vector(const Value& program, const Value& arguments, std::vector<std::string>& argv) {
  const char* refused = "TypeError: program arguments must be a List of Strings";
  argv.push_back(routine_text(program, refused));
  if (!is_seq_tag(arguments.tag)) raise_text(refused);
  for (const Value& a : as_seq(arguments)->v) {
    if (a.tag != T_STR) raise_text(refused);
    argv.push_back(as_str(a)->s);
  }
  for (const std::string& text : argv)
    if (holds_nul(text)) raise_text("ProcessError: program or argument holds a NUL byte");
}

[[noreturn]] static void exec_child(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
  // The interpreter ignores SIGPIPE; the child starts with the default action
  // that programs expect (an ignored signal stays ignored through execve).
  signal(SIGPIPE, SIG_DFL);
  execve(pointers[0], pointers.data(), environ);
  _exit(127);
}

static int64_t wait_status(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return 126;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

static Value run_program(const Value& program, const Value& arguments) {
  std::vector<std::string> argv;
  argument_vector(program, arguments, argv);
  out_flush();
  pid_t pid = fork();
  if (pid < 0) return Value::integer(126);
  if (pid == 0) exec_child(argv);
  return Value::integer(wait_status(pid));
}

static std::string read_memory_file(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[1 << 16];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, (size_t)n);
  return text;
}

// Runs a program with its standard output on a pipe, its standard error in
// a memory file and, when input is given, that text as its standard input.
static Value capture_program(const Value& program, const Value& arguments, const Value* callback,
                             const Value* input) {
  std::vector<std::string> argv;
  argument_vector(program, arguments, argv);
  if (callback && callback->tag != T_FUNC)
    raise_text(std::string("TypeError: capture_stream expects a Function, got ") + kind_name(*callback));
  std::string input_text = input ? routine_text(*input, "TypeError: capture_input expects a String") : "";
  out_flush();
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) raise_text("ProcessError: capture setup failed");
  int err_fd = memfd_create("kep-stderr", MFD_CLOEXEC);
  int in_fd = input ? memfd_create("kep-stdin", MFD_CLOEXEC) : -1;
  auto close_all = [&] {
    close(pipe_fds[0]);
    if (pipe_fds[1] >= 0) close(pipe_fds[1]);
    if (err_fd >= 0) close(err_fd);
    if (in_fd >= 0) close(in_fd);
  };
  if (err_fd < 0 || (input && (in_fd < 0 || !write_all(in_fd, input_text.data(), input_text.size()) ||
                               lseek(in_fd, 0, SEEK_SET) != 0))) {
    close_all();
    raise_text("ProcessError: capture setup failed");
  }
  pid_t pid = fork();
  if (pid < 0) {
    close_all();
    raise_text("ProcessError: capture setup failed");
  }
  if (pid == 0) {
    if (dup2(pipe_fds[1], 1) < 0 || dup2(err_fd, 2) < 0 || (in_fd >= 0 && dup2(in_fd, 0) < 0)) _exit(126);
    exec_child(argv);
  }
  close(pipe_fds[1]);
  pipe_fds[1] = -1;
  std::string output;
  char buffer[1 << 16];
  bool io_failed = false;
  while (true) {
    ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      io_failed = true;
      break;
    }
    if (n == 0) break;
    output.append(buffer, (size_t)n);
    if (callback) {
      try {
        Value chunk = make_str(std::string(buffer, (size_t)n));
        call_function(callback->fn, &chunk, 1);
      } catch (KepError&) {
        close_all();
        wait_status(pid);
        throw;
      }
    }
  }
  g_capture_status = wait_status(pid);
  g_capture_stderr = make_str(read_memory_file(err_fd));
  close_all();
  if (io_failed) raise_text("ProcessError: capture I/O failed");
  return make_str(std::move(output));
}

Value call_system_builtin(BuiltinId id, Value* a, int) {
  switch (id) {
    case B_clock: return Value::real(monotonic_seconds(CLOCK_MONOTONIC));
    case B_wall_time: return Value::real(monotonic_seconds(CLOCK_REALTIME));
    case B_arg_count: return Value::integer((int64_t)g_arguments.size());
    case B_last_error: return g_last_error;
    case B_executable_path: {
      char buffer[4096];
      ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
      if (n < 0 || n >= (ssize_t)sizeof buffer) raise_text("FileError: cannot resolve executable path");
      return make_str(std::string(buffer, (size_t)n));
    }
    case B_help:
      out_write(
          "Tuv Simple Lang (KEP) 0.6\n"
          "functions: print printl input for loop safe if elif else try class ctype function type del len help\n"
          "types: Bool Int Float String List Tuple RealArray IntArray FloatArray ByteArray Dictionary\n"
          "modules: os time json process config ai tensor cuda native\n"
          "docs: see README.md and docs/\n");
      return Value();
    case B_capture_status: return Value::integer(g_capture_status);
    case B_capture_stderr: return g_capture_stderr;
    case B_stdin_eof: return Value::boolean(g_stdin_eof);
    case B_exit:
      out_flush();
      _exit((int)(int_of(a[0], "exit status") & 0xFF));
    case B_input: return read_input(a[0]);
    case B_readfile: return read_whole_file(a[0]);
    case B_readbytes: {
      Value text = read_whole_file(a[0]);
      Value bytes = Value::adopt(new BytesObj());
      const std::string& s = as_str(text)->s;
      as_bytes(bytes)->b.assign(s.begin(), s.end());
      return bytes;
    }
    case B_writefile:
      return write_file(a[0], routine_text(a[1], "TypeError: writefile expects a String"), O_WRONLY | O_CREAT | O_TRUNC, "FileError: cannot write file");
    case B_appendfile:
      return write_file(a[0], routine_text(a[1], "TypeError: appendfile expects a String"), O_WRONLY | O_CREAT | O_APPEND,
                        "FileError: cannot append file");
    case B_writebytes:
      return write_file(a[0], bytes_of(a[1]), O_WRONLY | O_CREAT | O_TRUNC, "FileError: cannot write file");
    case B_getenv: {
      // No variable's name holds "=" or a NUL byte: such a name would match
      // a prefix of another entry.
      const std::string& name = need_str(a[0], "__kep_getenv");
      if (name.find_first_of(std::string("=\0", 2)) != std::string::npos) return Value();
      for (char** e = environ; *e; e++)
        if (strncmp(*e, name.c_str(), name.size()) == 0 && (*e)[name.size()] == '=') return make_str(*e + name.size() + 1);
      return Value();
    }
    case B_mkdir: return Value::integer(path_call(a[0], [](const char* p) { return ::mkdir(p, 0755); }));
    case B_unlink: return Value::integer(path_call(a[0], ::unlink));
    case B_exists: return Value::boolean(path_call(a[0], [](const char* p) { return access(p, F_OK); }) == 0);
    case B_sleep: {
      double seconds = float_of(a[0]);
      // Nothing to wait for; a duration of 2^63 seconds or more fits no clock.
      if (!(seconds > 0)) return Value();
      if (seconds >= 9223372036854775808.0) raise_text("ValueError: invalid sleep duration");
      struct timespec ts{(time_t)seconds, (long)((seconds - (double)(int64_t)seconds) * 1e9)};
      while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
      }
      return Value();
    }
    case B_isatty: {
      struct termios t;
      return Value::boolean(ioctl((int)int_of(a[0], "a descriptor"), TCGETS, &t) == 0);
    }
    case B_run:
    case B_kep_run: return run_program(a[0], a[1]);
    case B_capture:
    case B_kep_capture: return capture_program(a[0], a[1], nullptr, nullptr);
    case B_capture_stream: return capture_program(a[0], a[1], &a[2], nullptr);
    case B_capture_input: return capture_program(a[0], a[1], nullptr, &a[2]);
    case B_arg: {
      int64_t i = int_of(a[0], "arg");
      if (i < 0 || i >= (int64_t)g_arguments.size()) return Value();
      return make_str(g_arguments[(size_t)i]);
    }
    case B_check:  // compiled by the evaluator itself: its message is evaluated lazily
    case B_test_fd_fault:
    default: break;
  }
  unsupported_builtin(id);
}

}  // namespace kep
