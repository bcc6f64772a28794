// The built-in table and what its families share. Each built-in belongs to
// one family, as the compiler groups them: conversions and values, typed
// arrays, program, files and processes, native libraries, descriptors and
// raw memory. Each family has its own file and one function that runs a
// call of any of its members.
#pragma once
#include <string>

#include "runtime.hpp"

namespace kep {

// name, first argument count, last argument count (-1: not checked), family
#define KEP_BUILTINS(X)                                                                                   \
  X(gc, "gc", 0, 0, value) X(clock, "clock", 0, 0, system) X(arg_count, "arg_count", 0, 0, system)        \
  X(last_error, "last_error", 0, 0, system) X(executable_path, "executable_path", 0, 0, system)           \
  X(help, "help", 0, 0, system) X(capture_status, "capture_status", 0, 0, system)                         \
  X(capture_stderr, "capture_stderr", 0, 0, system) X(test_small_tables, "__kep_test_small_tables", 0, 0, value) \
  X(object_table_mask, "__kep_object_table_mask", 0, 0, value)                                            \
  X(intern_table_mask, "__kep_intern_table_mask", 0, 0, value) X(wall_time, "__kep_wall_time", 0, 0, system) \
  X(stdin_eof, "__kep_stdin_eof", 0, 0, system)                                                           \
  X(Bool, "Bool", 1, 1, value) X(Int, "Int", 1, 1, value) X(Float, "Float", 1, 1, value)                  \
  X(String, "String", 1, 1, value) X(List, "List", 1, 1, value) X(Tuple, "Tuple", 1, 1, value)            \
  X(RealArray, "RealArray", 1, 1, value) X(Dictionary, "Dictionary", 1, 1, value) X(len, "len", 1, 1, value) \
  X(chr, "chr", 1, 1, value) X(ord, "ord", 1, 1, value) X(abs, "abs", 1, 1, value) X(sum, "sum", 1, 1, value) \
  X(float_zeros, "float_zeros", 1, 1, array) X(float_sum, "float_sum", 1, 1, array)                       \
  X(type, "type", 1, 1, value) X(exit, "exit", 1, 1, system) X(input, "input", 1, 1, system)              \
  X(readfile, "readfile", 1, 1, system) X(readbytes, "readbytes", 1, 1, system)                           \
  X(getenv, "__kep_getenv", 1, 1, system) X(mkdir, "mkdir", 1, 1, system) X(unlink, "unlink", 1, 1, system) \
  X(exists, "exists", 1, 1, system) X(native_open, "native_open", 1, 1, native)                           \
  X(native_size, "native_size", 1, 1, native) X(native_close, "native_close", 1, 1, native)               \
  X(test_fd_fault, "__kep_test_fd_fault", 1, 1, system) X(sleep, "__kep_sleep", 1, 1, system)             \
  X(isatty, "__kep_isatty", 1, 1, system) X(fd_close, "__kep_fd_close", 1, 1, native)                     \
  X(int_zeros, "__kep_int_zeros", 1, 1, array) X(byte_zeros, "__kep_byte_zeros", 1, 1, array)             \
  X(data_address, "__kep_data_address", 1, 1, native)                                                     \
  X(text_byte_length, "__kep_text_byte_length", 1, 1, native)                                             \
  X(floatarray_bytes, "__kep_floatarray_bytes", 1, 1, array)                                              \
  X(floatarray_from_bytes, "__kep_floatarray_from_bytes", 1, 1, array)                                    \
  X(float_fill, "float_fill", 2, 2, array) X(float_dot, "float_dot", 2, 2, array)                         \
  X(run, "run", 2, 2, system) X(capture, "capture", 2, 2, system) X(writefile, "writefile", 2, 2, system) \
  X(appendfile, "appendfile", 2, 2, system) X(writebytes, "writebytes", 2, 2, system)                     \
  X(check, "check", 2, 2, system) X(native_u64, "native_u64", 2, 2, native)                               \
  X(native_function, "native_function", 2, 2, native) X(native_call, "native_call", 2, 2, native)         \
  X(kep_run, "__kep_run", 2, 2, system) X(kep_capture, "__kep_capture", 2, 2, system)                     \
  X(fd_open, "__kep_fd_open", 2, 2, native) X(fd_seek, "__kep_fd_seek", 2, 2, native)                     \
  X(fd_socket, "__kep_fd_socket", 2, 2, native) X(text_byte, "__kep_text_byte", 2, 2, native)             \
  X(text_split, "__kep_text_split", 2, 2, native) X(text_join, "__kep_text_join", 2, 2, native)           \
  X(text_count, "__kep_text_count", 2, 2, native) X(text_find, "__kep_text_find", 2, 2, native)           \
  X(text_case, "__kep_text_case", 2, 2, native) X(text_strip, "__kep_text_strip", 2, 2, native)           \
  X(float_axpy, "float_axpy", 3, 3, array) X(capture_stream, "capture_stream", 3, 3, system)              \
  X(capture_input, "capture_input", 3, 3, system) X(native_name_equal, "native_name_equal", 3, 3, native) \
  X(fd_read, "__kep_fd_read", 3, 3, native) X(fd_write, "__kep_fd_write", 3, 3, native)                   \
  X(fd_connect, "__kep_fd_connect", 3, 3, native) X(fd_ioctl, "__kep_fd_ioctl", 3, 3, native)             \
  X(fd_mmap, "__kep_fd_mmap", 3, 3, native) X(text_from_bytes, "__kep_text_from_bytes", 3, 3, native)     \
  X(text_replace, "__kep_text_replace", 3, 3, native)                                                     \
  X(raster_fill, "__kep_raster_fill", 4, 4, array) X(mem_unpack, "__kep_mem_unpack", 4, 4, native)        \
  X(text_step, "__kep_text_step", 4, 4, native)                                                           \
  X(float_matmul, "float_matmul", 5, 5, array) X(raster_pack, "__kep_raster_pack", 5, 5, array)           \
  X(raster_copy, "__kep_raster_copy", 5, 5, array) X(mem_pack, "__kep_mem_pack", 5, 5, native)            \
  X(syscall, "__kep_syscall", 5, 5, native) X(byte_copy, "__kep_byte_copy", 5, 5, array)                  \
  X(IntArray, "IntArray", 0, 1, array) X(FloatArray, "FloatArray", 0, 1, array)                           \
  X(ByteArray, "ByteArray", 0, 1, array) X(min, "min", 1, 2, value) X(max, "max", 1, 2, value)            \
  X(arg, "arg", 1, -1, system) X(float_string, "__kep_float_string", 1, -1, value)                        \
  X(float_from_int, "__kep_float_from_int", 1, -1, value) X(float_to_int, "__kep_float_to_int", 1, -1, value) \
  X(float_bits, "__kep_float_bits", 1, -1, value) X(float_from_bits, "__kep_float_from_bits", 1, -1, value) \
  X(raw_equal, "__kep_raw_equal", 2, -1, value) X(is_heap, "__kep_is_heap", 1, -1, value)                 \
  X(address, "__kep_address", 1, -1, value) X(raw_int, "__kep_raw_int", 1, -1, value)                     \
  X(typed_int, "__kep_typed_int", 1, -1, value) X(parse_literal_int, "__kep_parse_literal_int", 1, -1, value) \
  X(string_chars, "__kep_string_chars", 1, -1, value) X(type_code, "__kep_type_code", 1, -1, value)       \
  X(class_mark, "__kep_class_mark", 1, -1, value)                                                          \
  X(box_bool, "__kep_box_bool", 1, -1, value) X(box_int, "__kep_box_int", 1, -1, value)                   \
  X(box_function, "__kep_box_function", 1, -1, value) X(box_none, "__kep_box_none", 0, -1, value)         \
  X(unbox_bool, "__kep_unbox_bool", 1, -1, value) X(unbox_int, "__kep_unbox_int", 1, -1, value)           \
  X(pop_last, "__kep_pop_last", 1, -1, value)

enum BuiltinId {
#define X(id, name, lo, hi, family) B_##id,
  KEP_BUILTINS(X)
#undef X
      B_COUNT
};

// One function per family: the call of the built-in `id` with the count
// arguments at a (as many as its counts allow; the evaluator checked them).
Value call_value_builtin(BuiltinId id, Value* a, int count);
Value call_array_builtin(BuiltinId id, Value* a, int count);
Value call_system_builtin(BuiltinId id, Value* a, int count);
Value call_native_builtin(BuiltinId id, Value* a, int count);

const char* builtin_name(BuiltinId id);
// Ends the run for a built-in that only a compiled program can carry out.
[[noreturn]] void unsupported_builtin(BuiltinId id);

// The text a built-in requires; a TypeError names `what` otherwise.
const std::string& need_str(const Value& v, const char* what);

// A path or program argument holding a NUL byte would reach the kernel cut
// short at that byte and name another file: such texts are refused.
inline bool holds_nul(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace kep
