#include "builtins.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "interp.hpp"
#include "output.hpp"

extern char** environ;

namespace kep {

// name, first argument count, last argument count (-1: not checked)
#define KEP_BUILTINS(X)                                                                              \
  X(gc, "gc", 0, 0) X(clock, "clock", 0, 0) X(arg_count, "arg_count", 0, 0)                          \
  X(last_error, "last_error", 0, 0) X(executable_path, "executable_path", 0, 0) X(help, "help", 0, 0) \
  X(capture_status, "capture_status", 0, 0) X(capture_stderr, "capture_stderr", 0, 0)                \
  X(test_small_tables, "__kep_test_small_tables", 0, 0)                                               \
  X(object_table_mask, "__kep_object_table_mask", 0, 0)                                               \
  X(intern_table_mask, "__kep_intern_table_mask", 0, 0) X(wall_time, "__kep_wall_time", 0, 0)        \
  X(stdin_eof, "__kep_stdin_eof", 0, 0)                                                               \
  X(Bool, "Bool", 1, 1) X(Int, "Int", 1, 1) X(Float, "Float", 1, 1) X(String, "String", 1, 1)       \
  X(List, "List", 1, 1) X(Tuple, "Tuple", 1, 1) X(RealArray, "RealArray", 1, 1)                      \
  X(Dictionary, "Dictionary", 1, 1) X(len, "len", 1, 1) X(chr, "chr", 1, 1) X(ord, "ord", 1, 1)      \
  X(abs, "abs", 1, 1) X(sum, "sum", 1, 1) X(float_zeros, "float_zeros", 1, 1)                        \
  X(float_sum, "float_sum", 1, 1) X(type, "type", 1, 1) X(exit, "exit", 1, 1) X(input, "input", 1, 1) \
  X(readfile, "readfile", 1, 1) X(readbytes, "readbytes", 1, 1) X(getenv, "__kep_getenv", 1, 1)     \
  X(mkdir, "mkdir", 1, 1) X(unlink, "unlink", 1, 1) X(exists, "exists", 1, 1)                        \
  X(native_open, "native_open", 1, 1) X(native_size, "native_size", 1, 1)                            \
  X(native_close, "native_close", 1, 1) X(test_fd_fault, "__kep_test_fd_fault", 1, 1)                \
  X(sleep, "__kep_sleep", 1, 1) X(isatty, "__kep_isatty", 1, 1) X(fd_close, "__kep_fd_close", 1, 1) \
  X(int_zeros, "__kep_int_zeros", 1, 1) X(byte_zeros, "__kep_byte_zeros", 1, 1)                      \
  X(data_address, "__kep_data_address", 1, 1) X(text_byte_length, "__kep_text_byte_length", 1, 1)    \
  X(floatarray_bytes, "__kep_floatarray_bytes", 1, 1)                                                 \
  X(floatarray_from_bytes, "__kep_floatarray_from_bytes", 1, 1)                                       \
  X(float_fill, "float_fill", 2, 2) X(float_dot, "float_dot", 2, 2) X(run, "run", 2, 2)              \
  X(capture, "capture", 2, 2) X(writefile, "writefile", 2, 2) X(appendfile, "appendfile", 2, 2)      \
  X(writebytes, "writebytes", 2, 2) X(check, "check", 2, 2) X(native_u64, "native_u64", 2, 2)        \
  X(native_function, "native_function", 2, 2) X(native_call, "native_call", 2, 2)                    \
  X(kep_run, "__kep_run", 2, 2) X(kep_capture, "__kep_capture", 2, 2) X(fd_open, "__kep_fd_open", 2, 2) \
  X(fd_seek, "__kep_fd_seek", 2, 2) X(fd_socket, "__kep_fd_socket", 2, 2)                            \
  X(text_byte, "__kep_text_byte", 2, 2)                                                               \
  X(float_axpy, "float_axpy", 3, 3) X(capture_stream, "capture_stream", 3, 3)                        \
  X(capture_input, "capture_input", 3, 3) X(native_name_equal, "native_name_equal", 3, 3)            \
  X(fd_read, "__kep_fd_read", 3, 3) X(fd_write, "__kep_fd_write", 3, 3)                              \
  X(fd_connect, "__kep_fd_connect", 3, 3) X(fd_ioctl, "__kep_fd_ioctl", 3, 3)                        \
  X(fd_mmap, "__kep_fd_mmap", 3, 3) X(text_from_bytes, "__kep_text_from_bytes", 3, 3)                \
  X(raster_fill, "__kep_raster_fill", 4, 4) X(mem_unpack, "__kep_mem_unpack", 4, 4)                  \
  X(float_matmul, "float_matmul", 5, 5) X(raster_pack, "__kep_raster_pack", 5, 5)                    \
  X(raster_copy, "__kep_raster_copy", 5, 5) X(mem_pack, "__kep_mem_pack", 5, 5)                      \
  X(syscall, "__kep_syscall", 5, 5) X(byte_copy, "__kep_byte_copy", 5, 5)                            \
  X(IntArray, "IntArray", 0, 1) X(FloatArray, "FloatArray", 0, 1) X(ByteArray, "ByteArray", 0, 1)    \
  X(min, "min", 1, 2) X(max, "max", 1, 2)                                                              \
  X(arg, "arg", 1, -1) X(float_string, "__kep_float_string", 1, -1)                                  \
  X(float_from_int, "__kep_float_from_int", 1, -1) X(float_to_int, "__kep_float_to_int", 1, -1)      \
  X(float_bits, "__kep_float_bits", 1, -1) X(float_from_bits, "__kep_float_from_bits", 1, -1)        \
  X(raw_equal, "__kep_raw_equal", 2, -1) X(is_heap, "__kep_is_heap", 1, -1)                          \
  X(address, "__kep_address", 1, -1) X(raw_int, "__kep_raw_int", 1, -1)                              \
  X(typed_int, "__kep_typed_int", 1, -1) X(parse_literal_int, "__kep_parse_literal_int", 1, -1)      \
  X(string_chars, "__kep_string_chars", 1, -1) X(type_code, "__kep_type_code", 1, -1)                \
  X(box_bool, "__kep_box_bool", 1, -1) X(box_int, "__kep_box_int", 1, -1)                            \
  X(box_function, "__kep_box_function", 1, -1) X(box_none, "__kep_box_none", 0, -1)                  \
  X(unbox_bool, "__kep_unbox_bool", 1, -1) X(unbox_int, "__kep_unbox_int", 1, -1)                    \
  X(pop_last, "__kep_pop_last", 1, -1)

enum BuiltinId {
#define X(id, name, lo, hi) B_##id,
  KEP_BUILTINS(X)
#undef X
      B_COUNT
};

struct BuiltinInfo {
  const char* name;
  int min_args, max_args;
};

static const BuiltinInfo kBuiltins[] = {
#define X(id, name, lo, hi) {name, lo, hi},
    KEP_BUILTINS(X)
#undef X
};

int find_builtin(const std::string& name) {
  static std::unordered_map<std::string, int> table = [] {
    std::unordered_map<std::string, int> t;
    for (int i = 0; i < B_COUNT; i++) t[kBuiltins[i].name] = i;
    return t;
  }();
  auto found = table.find(name);
  return found == table.end() ? -1 : found->second;
}

void builtin_arity(int id, int& min_args, int& max_args) {
  min_args = kBuiltins[id].min_args;
  max_args = kBuiltins[id].max_args;
}

// ---------------------------------------------------------------- helpers

static std::vector<std::string> g_arguments;
static int64_t g_capture_status = 0;
static Value g_capture_stderr;
static bool g_stdin_eof = false;

void set_program_arguments(std::vector<std::string> arguments) { g_arguments = std::move(arguments); }

static const std::string& need_str(const Value& v, const char* what) {
  if (v.tag != T_STR) raise_text(std::string("TypeError: ") + what + " expects a String, got " + kind_name(v));
  return as_str(v)->s;
}

static SeqObj* need_seq(const Value& v, Tag tag, const char* what) {
  if (v.tag != tag) raise_text(std::string("TypeError: ") + what);
  return as_seq(v);
}

static Value seq_of(Tag tag, size_t n, const Value& fill) {
  Value r = make_seq(tag);
  as_seq(r)->v.assign(n, fill);
  return r;
}

static Value new_float_array(size_t n) { return seq_of(T_FLOATARR, n, Value::real(0.0)); }

static double monotonic_seconds(clockid_t id) {
  struct timespec ts;
  clock_gettime(id, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static std::string six_decimal_text(double x) {
  uint64_t bits;
  memcpy(&bits, &x, 8);
  uint64_t m = bits & ~(1ULL << 63);
  if (m == 0x7FF0000000000000ULL) return (bits >> 63) ? "-inf" : "inf";
  if (m > 0x7FF0000000000000ULL) return "nan";
  double magnitude;
  memcpy(&magnitude, &m, 8);
  int64_t whole = float_to_int(magnitude);
  uint64_t fraction = (uint64_t)float_to_int((magnitude - (double)whole) * 1000000.0);
  char digits[7];
  for (int k = 5; k >= 0; k--) {
    digits[k] = (char)('0' + fraction % 10);
    fraction /= 10;
  }
  digits[6] = 0;
  return std::string((bits >> 63) ? "-" : "") + int_text(whole) + "." + digits;
}

static std::string utf8_of(uint64_t c) {
  std::string s;
  if (c < 0x80) {
    s += (char)c;
  } else if (c < 0x800) {
    s += (char)(0xC0 | (c >> 6));
    s += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += (char)(0xE0 | (c >> 12));
    s += (char)(0x80 | ((c >> 6) & 0x3F));
    s += (char)(0x80 | (c & 0x3F));
  } else {
    s += (char)((0xF0 | (uint64_t)((int64_t)c >> 18)) & 0xFF);
    s += (char)(0x80 | ((c >> 12) & 0x3F));
    s += (char)(0x80 | ((c >> 6) & 0x3F));
    s += (char)(0x80 | (c & 0x3F));
  }
  return s;
}

static int64_t ord_of(const std::string& s) {
  auto b = [&](size_t k) -> uint64_t { return k < s.size() ? (unsigned char)s[k] : 0; };
  uint64_t b0 = b(0);
  if (b0 < 0x80) return (int64_t)b0;
  if (b0 < 0xE0) return (int64_t)(((b0 & 0x1F) << 6) | (b(1) & 0x3F));
  if (b0 < 0xF0) return (int64_t)(((b0 & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F));
  return (int64_t)(((b0 & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F));
}

// Order of two values for min and max: numbers by value, a NaN below everything.
static int compare_any(const Value& a, const Value& b) {
  int order = op_order(a, b);
  return order == -2 ? -1 : order;
}

// ---------------------------------------------------------------- files

// A path or program argument holding a NUL byte would reach the kernel cut
// short at that byte and name another file: such texts are refused.
static bool holds_nul(const std::string& text) { return text.find('\0') != std::string::npos; }

// The path of a routine that reports failures by a negative result: a path
// holding a NUL byte is an invalid argument, as the kernel would say.
static int64_t path_call(const Value& path, const char* what, int (*call)(const char*)) {
  const std::string& text = need_str(path, what);
  if (holds_nul(text)) return -EINVAL;
  return call(text.c_str()) < 0 ? -errno : 0;
}

// Creates, truncates or appends to a file and writes all of data; a write
// that fails or stops short (a full disk) is an error, not a success.
static Value write_file(const Value& path, const std::string& data, int flags, const char* open_error) {
  const std::string& name = need_str(path, "writing a file");
  if (holds_nul(name)) raise_text(open_error);
  int fd = open(name.c_str(), flags | O_CLOEXEC, 0755);
  if (fd < 0) raise_text(open_error);
  bool written = write_all(fd, data.data(), data.size());
  if (close(fd) != 0) written = false;
  if (!written) raise_text("FileError: cannot write file");
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
    raise_text(std::string("TypeError: writebytes expects a ByteArray or a List of Ints, got ") + kind_name(data));
  }
  return bytes;
}

static Value read_input(const Value& prompt) {
  out_write(need_str(prompt, "input"));
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

// The program and its arguments; false when one of them holds a NUL byte
// (execve would pass a shorter text than the program gave).
static bool argument_vector(const Value& program, const Value& arguments, std::vector<std::string>& argv) {
  argv.push_back(need_str(program, "run"));
  if (!is_seq_tag(arguments.tag))
    raise_text(std::string("TypeError: program arguments must be a List, got ") + kind_name(arguments));
  for (const Value& a : as_seq(arguments)->v) argv.push_back(need_str(a, "a program argument"));
  for (const std::string& text : argv)
    if (holds_nul(text)) return false;
  return true;
}

[[noreturn]] static void exec_child(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
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
  // A program that cannot be executed as given ends as an execve failure does.
  if (!argument_vector(program, arguments, argv)) return Value::integer(127);
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
  if (!argument_vector(program, arguments, argv)) raise_text("ProcessError: capture setup failed");
  if (callback && callback->tag != T_FUNC)
    raise_text(std::string("TypeError: capture_stream expects a Function, got ") + kind_name(*callback));
  std::string input_text = input ? need_str(*input, "capture_input") : "";
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

// ---------------------------------------------------------------- typed arrays

static Value float_dot(const Value& a, const Value& b) {
  SeqObj* x = need_seq(a, T_FLOATARR, "float_dot requires two FloatArrays");
  SeqObj* y = need_seq(b, T_FLOATARR, "float_dot requires two FloatArrays");
  if (x->v.size() != y->v.size()) raise_text("ValueError: float_dot requires equal lengths");
  double total = 0.0;
  for (size_t i = 0; i < x->v.size(); i++) total += x->v[i].f * y->v[i].f;
  return Value::real(total);
}

static Value float_matmul(Value* a) {
  const char* kinds = "float_matmul requires (FloatArray, FloatArray, Int, Int, Int)";
  SeqObj* A = need_seq(a[0], T_FLOATARR, kinds);
  SeqObj* B = need_seq(a[1], T_FLOATARR, kinds);
  int64_t m = int_of(a[2], "m"), k = int_of(a[3], "k"), n = int_of(a[4], "n");
  // Products that do not fit a word match no array length.
  uint64_t mk, kn, mn;
  if (m < 0 || k < 0 || n < 0 || __builtin_mul_overflow((uint64_t)m, (uint64_t)k, &mk) || mk != A->v.size() ||
      __builtin_mul_overflow((uint64_t)k, (uint64_t)n, &kn) || kn != B->v.size())
    raise_text("ValueError: float_matmul shape does not match array lengths");
  // With k = 0 both arrays are empty whatever m and n: a result of m*n items
  // that no memory holds ends the program as every impossible size does.
  if (__builtin_mul_overflow((uint64_t)m, (uint64_t)n, &mn)) throw std::bad_alloc();
  Value result = new_float_array((size_t)mn);
  SeqObj* C = as_seq(result);
  for (int64_t i = 0; i < m; i++)
    for (int64_t j = 0; j < n; j++) {
      double total = 0.0;
      for (int64_t p = 0; p < k; p++) total += A->v[i * k + p].f * B->v[p * n + j].f;
      C->v[i * n + j].f = total;
    }
  return result;
}

static Value floatarray_bytes(const Value& a) {
  SeqObj* s = need_seq(a, T_FLOATARR, "__kep_floatarray_bytes requires a FloatArray");
  std::string bytes(s->v.size() * 8, '\0');
  for (size_t i = 0; i < s->v.size(); i++) memcpy(&bytes[i * 8], &s->v[i].f, 8);
  return make_str(std::move(bytes));
}

static Value floatarray_from_bytes(const Value& text) {
  const std::string& bytes = need_str(text, "__kep_floatarray_from_bytes");
  Value result = new_float_array(bytes.size() / 8);
  SeqObj* s = as_seq(result);
  for (size_t i = 0; i < s->v.size(); i++) memcpy(&s->v[i].f, &bytes[i * 8], 8);
  return result;
}

static Value array_cast(Tag tag, const char* name, Value* args, int count) {
  if (count == 0) return tag == T_BYTES ? Value::adopt(new BytesObj()) : make_seq(tag);
  if (args[0].tag != tag) raise_text(std::string("TypeError: ") + name + " cast requires an existing " + name);
  return args[0];
}

// Clamps a block operation to the room on both sides; false when nothing is to do.
static bool clamp_block(int64_t& count, int64_t dest_start, int64_t dest_len, int64_t src_start, int64_t src_len) {
  if (count < 1 || dest_start < 0 || src_start < 0) return false;
  count = std::min(count, std::min(dest_len - dest_start, src_len - src_start));
  return count > 0;
}

static void raster_pack(Value* a) {
  if (a[0].tag != T_INTARR || a[1].tag != T_BYTES) return;
  auto& items = as_seq(a[0])->v;
  auto& bytes = as_bytes(a[1])->b;
  int64_t start = int_of(a[2], "start"), offset = int_of(a[3], "offset"), count = int_of(a[4], "count");
  if (count < 1 || start < 0 || offset < 0) return;
  count = std::min(count, std::min((int64_t)items.size() - start, ((int64_t)bytes.size() - offset) / 4));
  for (int64_t i = 0; i < count; i++) {
    uint32_t word = (uint32_t)items[start + i].i;
    memcpy(&bytes[offset + 4 * i], &word, 4);
  }
}

static void raster_copy(Value* a) {
  if (a[0].tag != T_INTARR || a[1].tag != T_INTARR) return;
  auto& dest = as_seq(a[0])->v;
  auto& src = as_seq(a[1])->v;
  int64_t ds = int_of(a[2], "start"), ss = int_of(a[3], "start"), count = int_of(a[4], "count");
  if (!clamp_block(count, ds, (int64_t)dest.size(), ss, (int64_t)src.size())) return;
  for (int64_t i = 0; i < count; i++) dest[ds + i] = Value::integer(src[ss + i].i);
}

static void byte_copy(Value* a) {
  if (a[0].tag != T_BYTES || a[1].tag != T_BYTES) return;
  auto& dest = as_bytes(a[0])->b;
  auto& src = as_bytes(a[1])->b;
  int64_t ds = int_of(a[2], "start"), ss = int_of(a[3], "start"), count = int_of(a[4], "count");
  if (!clamp_block(count, ds, (int64_t)dest.size(), ss, (int64_t)src.size())) return;
  for (int64_t i = 0; i < count; i++) dest[ds + i] = src[ss + i];
}

static void raster_fill(Value* a) {
  if (a[0].tag != T_INTARR) return;
  auto& items = as_seq(a[0])->v;
  int64_t start = int_of(a[1], "start"), count = int_of(a[2], "count"), value = int_of(a[3], "value");
  if (count < 1 || start < 0) return;
  count = std::min(count, (int64_t)items.size() - start);
  for (int64_t i = 0; i < count; i++) items[start + i] = Value::integer(value);
}

// ---------------------------------------------------------------- descriptors

static Value fd_write(Value* a) {
  int fd = (int)int_of(a[0], "a descriptor");
  if (a[1].tag != T_BYTES) return Value::integer(-1);
  auto& b = as_bytes(a[1])->b;
  size_t count = (size_t)std::max<int64_t>(0, std::min<int64_t>(int_of(a[2], "a count"), (int64_t)b.size()));
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, b.data() + done, count - done);
    if (n < 0 && errno == EAGAIN) continue;
    if (n <= 0) return Value::integer(-1);
    done += (size_t)n;
  }
  return Value::integer(0);
}

static Value fd_read(Value* a) {
  int fd = (int)int_of(a[0], "a descriptor");
  if (a[1].tag != T_BYTES) return Value::integer(-1);
  auto& b = as_bytes(a[1])->b;
  size_t count = (size_t)std::max<int64_t>(0, std::min<int64_t>(int_of(a[2], "a count"), (int64_t)b.size()));
  ssize_t n = read(fd, b.data(), count);
  return Value::integer(n < 0 ? -errno : n);
}

static int64_t kernel_result(long r) { return r < 0 ? -errno : r; }

// ---------------------------------------------------------------- dispatch

[[noreturn]] static void unsupported(int id) {
  fatal_unsupported(std::string("the built-in ") + kBuiltins[id].name + " is not available in the bootstrap interpreter");
}

Value call_builtin(int id, Value* a, int count) {
  switch ((BuiltinId)id) {
    case B_gc: return Value::integer(0);
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
    case B_test_small_tables: return Value();
    case B_object_table_mask:
    case B_intern_table_mask: return Value::integer(0xFFFF);
    case B_stdin_eof: return Value::boolean(g_stdin_eof);

    case B_Bool: return Value::boolean(truth(a[0]));
    case B_Int:
      switch (a[0].tag) {
        case T_INT: return a[0];
        case T_BOOL: return Value::integer(a[0].i);
        case T_FLOAT: return Value::integer(float_to_int(a[0].f));
        case T_STR: return call_library("__kep_parse_int", {a[0]});
        default: return call_library("__kep_int_any", {a[0]});
      }
    case B_Float:
      switch (a[0].tag) {
        case T_FLOAT: return a[0];
        case T_INT:
        case T_BOOL: return Value::real((double)a[0].i);
        case T_STR: return call_library("__kep_parse_float", {a[0]});
        default: return call_library("__kep_float_any", {a[0]});
      }
    case B_String: return to_string(a[0]);
    case B_List: return call_library("__kep_list", {a[0]});
    case B_Tuple: return relabel_list(call_library("__kep_list", {a[0]}), T_TUPLE);
    case B_RealArray: return relabel_list(call_library("__kep_real_array", {a[0]}), T_REAL);
    case B_Dictionary: return call_library("__kep_dictionary", {a[0]});
    case B_len: return Value::integer(length_of(a[0]));
    case B_chr: {
      int64_t c = int_of(a[0], "chr");
      if (c < 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) raise_text("ValueError: invalid code point");
      return make_str(utf8_of((uint64_t)c));
    }
    case B_ord: return Value::integer(ord_of(need_str(a[0], "ord")));
    case B_abs:
      if (a[0].tag == T_INT) return Value::integer(a[0].i < 0 ? (int64_t)(0 - (uint64_t)a[0].i) : a[0].i);
      if (a[0].tag == T_FLOAT) return Value::real(std::fabs(a[0].f));
      raise_text(std::string("TypeError: abs expects a number, got ") + kind_name(a[0]));
    case B_sum: return call_library("__kep_sum", {a[0]});
    case B_min:
    case B_max:
      if (count == 1) return call_library(id == B_min ? "__kep_min" : "__kep_max", {a[0]});
      if (id == B_min) return compare_any(a[0], a[1]) <= 0 ? a[0] : a[1];
      return compare_any(a[0], a[1]) >= 0 ? a[0] : a[1];
    case B_type:
      if (a[0].tag == T_DICT && as_dict(a[0])->cls) return make_str(as_dict(a[0])->is_class ? "Class" : "Instance");
      return make_str(kind_name(a[0]));
    case B_exit:
      out_flush();
      _exit((int)(int_of(a[0], "exit status") & 0xFF));
    case B_input: return read_input(a[0]);
    case B_readfile: return builtin_readfile(need_str(a[0], "readfile"));
    case B_readbytes: {
      Value text = builtin_readfile(need_str(a[0], "readbytes"));
      Value bytes = Value::adopt(new BytesObj());
      const std::string& s = as_str(text)->s;
      as_bytes(bytes)->b.assign(s.begin(), s.end());
      return bytes;
    }
    case B_writefile:
      return write_file(a[0], need_str(a[1], "writefile"), O_WRONLY | O_CREAT | O_TRUNC, "FileError: cannot write file");
    case B_appendfile:
      return write_file(a[0], need_str(a[1], "appendfile"), O_WRONLY | O_CREAT | O_APPEND,
                        "FileError: cannot append file");
    case B_writebytes:
      return write_file(a[0], bytes_of(a[1]), O_WRONLY | O_CREAT | O_TRUNC, "FileError: cannot write file");
    case B_getenv: {
      const std::string& name = need_str(a[0], "__kep_getenv");
      // No variable's name holds "=" or a NUL byte: such a name would match
      // a prefix of another entry.
      if (name.find_first_of(std::string("=\0", 2)) != std::string::npos) return Value();
      for (char** e = environ; *e; e++)
        if (strncmp(*e, name.c_str(), name.size()) == 0 && (*e)[name.size()] == '=') return make_str(*e + name.size() + 1);
      return Value();
    }
    case B_mkdir: return Value::integer(path_call(a[0], "mkdir", [](const char* p) { return ::mkdir(p, 0755); }));
    case B_unlink: return Value::integer(path_call(a[0], "unlink", ::unlink));
    case B_exists: return Value::boolean(path_call(a[0], "exists", [](const char* p) { return access(p, F_OK); }) == 0);
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

    case B_float_zeros: {
      int64_t n = int_of(a[0], "float_zeros size");
      if (n < 0) raise_text("ValueError: float_zeros size cannot be negative");
      return new_float_array((size_t)n);
    }
    case B_int_zeros:
    case B_byte_zeros: {
      int64_t n = int_of(a[0], "an array size");
      if (n < 0) raise_text(std::string("ValueError: ") + kBuiltins[id].name + " size cannot be negative");
      if (id == B_int_zeros) return seq_of(T_INTARR, (size_t)n, Value::integer(0));
      Value bytes = Value::adopt(new BytesObj());
      as_bytes(bytes)->b.assign((size_t)n, 0);
      return bytes;
    }
    case B_float_sum: {
      double total = 0.0;
      for (const Value& v : need_seq(a[0], T_FLOATARR, "float_sum requires a FloatArray")->v) total += v.f;
      return Value::real(total);
    }
    case B_float_fill: {
      SeqObj* s = need_seq(a[0], T_FLOATARR, "float_fill requires (FloatArray, Float)");
      if (a[1].tag != T_FLOAT) raise_text("TypeError: float_fill requires (FloatArray, Float)");
      for (Value& v : s->v) v = a[1];
      return Value();
    }
    case B_float_dot: return float_dot(a[0], a[1]);
    case B_float_axpy: {
      const char* kinds = "float_axpy requires (Float, FloatArray, FloatArray)";
      if (a[0].tag != T_FLOAT) raise_text(std::string("TypeError: ") + kinds);
      SeqObj* x = need_seq(a[1], T_FLOATARR, kinds);
      SeqObj* y = need_seq(a[2], T_FLOATARR, kinds);
      if (x->v.size() != y->v.size()) raise_text("ValueError: float_axpy requires equal lengths");
      for (size_t i = 0; i < x->v.size(); i++) y->v[i].f = y->v[i].f + x->v[i].f * a[0].f;
      return Value();
    }
    case B_float_matmul: return float_matmul(a);
    case B_floatarray_bytes: return floatarray_bytes(a[0]);
    case B_floatarray_from_bytes: return floatarray_from_bytes(a[0]);
    case B_IntArray: return array_cast(T_INTARR, "IntArray", a, count);
    case B_FloatArray: return array_cast(T_FLOATARR, "FloatArray", a, count);
    case B_ByteArray: return array_cast(T_BYTES, "ByteArray", a, count);
    case B_raster_pack: raster_pack(a); return Value::integer(0);
    case B_raster_copy: raster_copy(a); return Value::integer(0);
    case B_raster_fill: raster_fill(a); return Value::integer(0);
    case B_byte_copy: byte_copy(a); return Value::integer(0);

    case B_text_byte: {
      int64_t i = int_of(a[1], "a byte index");
      if (a[0].tag != T_STR) return Value::integer(-1);
      const std::string& s = as_str(a[0])->s;
      return Value::integer(i < 0 || i >= (int64_t)s.size() ? -1 : (unsigned char)s[i]);
    }
    case B_text_byte_length: return Value::integer((int64_t)need_str(a[0], "__kep_text_byte_length").size());
    case B_text_from_bytes: {
      int64_t offset = int_of(a[1], "an offset"), n = int_of(a[2], "a count");
      if (a[0].tag != T_BYTES) return make_str("");
      auto& b = as_bytes(a[0])->b;
      if (offset < 0 || offset >= (int64_t)b.size() || n < 1) return make_str("");
      n = std::min(n, (int64_t)b.size() - offset);
      return make_str(std::string(b.begin() + offset, b.begin() + offset + n));
    }
    case B_fd_open: {
      const std::string& path = need_str(a[0], "__kep_fd_open");
      if (holds_nul(path)) return Value::integer(-EINVAL);
      return Value::integer(kernel_result(open(path.c_str(), (int)int_of(a[1], "flags"), 0666)));
    }
    case B_fd_read: return fd_read(a);
    case B_fd_write: return fd_write(a);
    case B_fd_seek: return Value::integer(kernel_result(lseek((int)int_of(a[0], "a descriptor"), int_of(a[1], "an offset"), SEEK_SET)));
    case B_fd_close: return Value::integer(kernel_result(close((int)int_of(a[0], "a descriptor"))));
    case B_fd_socket:
      return Value::integer(kernel_result(socket((int)int_of(a[0], "a domain"), (int)int_of(a[1], "a type"), 0)));
    case B_fd_connect: {
      if (a[1].tag != T_BYTES) return Value::integer(-1);
      auto& b = as_bytes(a[1])->b;
      socklen_t n = (socklen_t)std::max<int64_t>(0, std::min<int64_t>(int_of(a[2], "a length"), (int64_t)b.size()));
      return Value::integer(kernel_result(connect((int)int_of(a[0], "a descriptor"), (const sockaddr*)b.data(), n)));
    }
    case B_fd_ioctl: {
      if (a[1].tag != T_BYTES) return Value::integer(-1);
      auto& b = as_bytes(a[1])->b;
      return Value::integer(kernel_result(
          ioctl((int)int_of(a[0], "a descriptor"), (unsigned long)int_of(a[2], "a request"), b.empty() ? nullptr : b.data())));
    }

    case B_arg: {
      int64_t i = int_of(a[0], "arg");
      if (i < 0 || i >= (int64_t)g_arguments.size()) return Value();
      return make_str(g_arguments[(size_t)i]);
    }
    case B_float_string: return make_str(six_decimal_text(float_of(a[0])));
    case B_float_from_int: return Value::real((double)int_of(a[0], "__kep_float_from_int"));
    case B_float_to_int: return Value::integer(float_to_int(float_of(a[0])));
    case B_float_bits: {
      if (a[0].tag != T_FLOAT) raise_text(std::string("TypeError: __kep_float_bits expects a Float, got ") + kind_name(a[0]));
      return Value::integer(a[0].i);
    }
    case B_float_from_bits: {
      Value r = Value::real(0.0);
      r.i = int_of(a[0], "__kep_float_from_bits");
      return r;
    }
    case B_raw_equal: return Value::integer(raw_equal(a[0], a[1]) ? 1 : 0);
    case B_is_heap: return Value::integer(a[0].tag == T_INT ? 0 : 1);
    case B_address:
    case B_raw_int:
      switch (a[0].tag) {
        case T_INT:
        case T_BOOL:
        case T_FLOAT: return Value::integer(a[0].i);
        case T_NONE: return Value::integer(0);
        case T_FUNC: return Value::integer((int64_t)(uintptr_t)a[0].fn);
        default: return Value::integer((int64_t)(uintptr_t)a[0].o);
      }
    case B_typed_int:
    case B_unbox_int: return a[0];
    case B_unbox_bool: return a[0].tag == T_BOOL ? Value::integer(a[0].i) : a[0];
    case B_box_int: return Value::integer(int_of(a[0], "__kep_box_int"));
    case B_box_bool: return Value::boolean(truth(a[0]));
    case B_box_none: return Value();
    case B_box_function: return a[0];
    case B_parse_literal_int: {
      uint64_t v = 0;
      for (unsigned char c : need_str(a[0], "__kep_parse_literal_int")) v = v * 10 + (uint64_t)(c - 48);
      return Value::integer((int64_t)v);
    }
    case B_string_chars: {
      need_str(a[0], "__kep_string_chars");
      StrObj* s = as_str(a[0]);
      Value list = make_seq(T_LIST);
      auto& items = as_seq(list)->v;
      items.reserve((size_t)str_chars(s));
      const std::string& t = s->s;
      for (size_t off = 0; off < t.size();) {
        size_t width = std::min(utf8_width((unsigned char)t[off]), t.size() - off);
        bool ascii = (unsigned char)t[off] < 0x80;
        items.push_back(ascii ? ascii_char((unsigned char)t[off]) : make_str(t.substr(off, width)));
        off += width;
      }
      return list;
    }
    case B_type_code: return Value::integer(type_code(a[0]));
    case B_pop_last: {
      if (!is_seq_tag(a[0].tag) || as_seq(a[0])->v.empty()) raise_text("IndexError: pop from empty List");
      Value last = std::move(as_seq(a[0])->v.back());
      as_seq(a[0])->v.pop_back();
      return last;
    }

    case B_check:  // compiled by the evaluator itself: its message is evaluated lazily
    case B_native_open:
    case B_native_size:
    case B_native_close:
    case B_native_u64:
    case B_native_function:
    case B_native_call:
    case B_native_name_equal:
    case B_test_fd_fault:
    case B_data_address:
    case B_fd_mmap:
    case B_mem_pack:
    case B_mem_unpack:
    case B_syscall:
    case B_COUNT: break;
  }
  unsupported(id);
}

// ---------------------------------------------------------------- methods

namespace {

struct MethodRule {
  int arguments;        // -1: counted by the method itself
  const char* helper;   // library function, or nullptr for the inline methods
};

const std::unordered_map<std::string, MethodRule>& method_table() {
  static const std::unordered_map<std::string, MethodRule> table = {
      {"strip", {0, "__kep_strip"}},         {"lstrip", {0, "__kep_lstrip"}},
      {"rstrip", {0, "__kep_rstrip"}},       {"lower", {0, "__kep_lower"}},
      {"upper", {0, "__kep_upper"}},         {"title", {0, "__kep_title"}},
      {"capitalize", {0, "__kep_capitalize"}}, {"sort", {0, "__kep_sort"}},
      {"reverse", {0, "__kep_reverse"}},     {"copy", {0, "__kep_copy"}},
      {"keys", {0, nullptr}},                {"values", {0, "__kep_dict_values"}},
      {"items", {0, "__kep_dict_items"}},    {"clear", {0, nullptr}},
      {"append", {1, nullptr}},              {"startswith", {1, "__kep_startswith"}},
      {"endswith", {1, "__kep_endswith"}},   {"find", {1, "__kep_find"}},
      {"count", {1, "__kep_count"}},         {"split", {1, "__kep_split"}},
      {"join", {1, "__kep_join"}},           {"extend", {1, "__kep_extend"}},
      {"remove", {1, "__kep_remove"}},       {"index", {1, nullptr}},
      {"update", {1, "__kep_update"}},       {"replace", {2, "__kep_replace"}},
      {"insert", {2, "__kep_insert"}},       {"get", {-1, "__kep_dict_get"}},
      {"setdefault", {-1, "__kep_setdefault"}}, {"pop", {-1, nullptr}},
  };
  return table;
}

[[noreturn]] void method_error(const std::string& text) { raise_text("TypeError: " + text); }

Value call_helper(const char* helper, const Value& receiver, std::vector<Value>& args) {
  std::vector<Value> all;
  all.reserve(args.size() + 1);
  all.push_back(receiver);
  for (Value& v : args) all.push_back(std::move(v));
  return call_function(library_function(helper), all.data(), (int)all.size());
}

void append_item(const Value& receiver, const Value& item) {
  switch (receiver.tag) {
    case T_LIST: break;
    case T_INTARR:
      if (item.tag != T_INT) method_error("IntArray append requires an Int");
      break;
    case T_FLOATARR:
      if (item.tag != T_FLOAT) method_error("FloatArray append requires a Float");
      break;
    case T_BYTES:
      if (item.tag != T_INT) method_error("ByteArray append requires an Int");
      if (item.i < 0 || item.i > 255) raise_text("ValueError: ByteArray value is outside 0..255");
      as_bytes(receiver)->b.push_back((uint8_t)item.i);
      return;
    case T_TUPLE:
    case T_REAL: method_error("fixed collection does not support append");
    default: method_error(std::string("append is not a method of ") + kind_name(receiver));
  }
  as_seq(receiver)->v.push_back(item);
}

}  // namespace

Value call_method(const Value& receiver, const std::string& name, std::vector<Value>& args) {
  auto rule = method_table().find(name);
  if (rule == method_table().end()) method_error("unknown method " + name + " of " + kind_name(receiver));
  int n = (int)args.size();
  if (rule->second.arguments >= 0 && n != rule->second.arguments)
    method_error("method " + name + " expects " + std::to_string(rule->second.arguments) + " argument(s), got " +
                 std::to_string(n));
  Tag tag = receiver.tag;
  bool fixed = tag == T_TUPLE || tag == T_REAL;
  bool typed_array = tag == T_INTARR || tag == T_FLOATARR || tag == T_BYTES;
  if (name == "pop") {
    if (tag == T_DICT) {
      if (n < 1 || n > 2) method_error("invalid pop argument count");
      return call_helper(n == 1 ? "__kep_dict_pop" : "__kep_dict_pop_default", receiver, args);
    }
    if (n > 1) method_error("invalid pop argument count");
    if (fixed) method_error("fixed collection does not support pop");
    if (typed_array) method_error(std::string(kind_name(receiver)) + " method is not implemented: pop");
    if (tag != T_LIST) method_error(std::string("pop is not a method of ") + kind_name(receiver));
    return call_helper(n == 0 ? "__kep_pop" : "__kep_pop_at", receiver, args);
  }
  if (typed_array && name != "append" && name != "clear")
    method_error(std::string(kind_name(receiver)) + " method is not implemented: " + name);
  if (name == "append") {
    append_item(receiver, args[0]);
    return Value();
  }
  if (name == "clear") {
    if (fixed) method_error("fixed collection does not support clear");
    if (tag == T_DICT) return call_helper("__kep_dict_clear", receiver, args);
    if (tag == T_BYTES) {
      as_bytes(receiver)->b.clear();
      return Value();
    }
    if (!is_seq_tag(tag)) method_error(std::string("clear is not a method of ") + kind_name(receiver));
    as_seq(receiver)->v.clear();
    return Value();
  }
  if (name == "keys") {
    if (tag != T_DICT) method_error(std::string("keys is not a method of ") + kind_name(receiver));
    Value list = make_seq(T_LIST);
    as_seq(list)->v = as_dict(receiver)->keys;
    return list;
  }
  if (fixed && (name == "insert" || name == "remove" || name == "extend" || name == "sort"))
    method_error("fixed collection does not support " + name);
  if (fixed && name == "reverse") {
    // A Tuple or RealArray keeps its length, so it reverses in place.
    std::vector<Value>& items = as_seq(receiver)->v;
    std::reverse(items.begin(), items.end());
    return Value();
  }
  const char* helper = rule->second.helper;
  if (name == "index") {
    if (is_seq_tag(tag))
      helper = "__kep_list_index";
    else if (tag == T_STR)
      helper = "__kep_string_index";
    else
      method_error(std::string("index is not a method of ") + kind_name(receiver));
  } else if (name == "count") {
    if (is_seq_tag(tag))
      helper = "__kep_list_count";
    else if (tag != T_STR)
      method_error(std::string("count is not a method of ") + kind_name(receiver));
  } else if (name == "copy") {
    if (tag == T_DICT)
      helper = "__kep_dict_copy";
    else if (tag != T_STR && !is_seq_tag(tag))
      method_error(std::string("copy is not a method of ") + kind_name(receiver));
  } else if (name == "get") {
    if (n == 1) args.push_back(Value());
    if (args.size() != 2) method_error("method get expects 1 or 2 argument(s), got " + std::to_string(n));
  } else if (name == "setdefault" && n != 2) {
    method_error("method setdefault expects 2 argument(s), got " + std::to_string(n));
  }
  Value result = call_helper(helper, receiver, args);
  return name == "copy" && fixed ? relabel_list(std::move(result), tag) : result;
}

}  // namespace kep
