#include "runtime.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <unordered_map>

#include "interp.hpp"
#include "output.hpp"
#include "utf8.hpp"

namespace kep {

Value g_last_error;

void raise_value(Value message) {
  g_last_error = message;
  throw KepError{std::move(message)};
}

void raise_text(const std::string& text) { raise_value(make_str(text)); }

void fatal_report(const Value& message) {
  std::string text;
  if (message.tag == T_STR) {
    text = as_str(message)->s;
  } else {
    try {
      text = as_str(to_string(message))->s;
    } catch (KepError&) {
      text = kind_name(message);
    }
  }
  err_write("KEP runtime error: " + text + "\n");
  _exit(1);
}

void fatal_unsupported(const std::string& text) {
  err_write("kep0: " + text + "\n");
  _exit(1);
}

// ---------------------------------------------------------------- library

FuncDef* library_function(const char* name) {
  static std::unordered_map<const char*, FuncDef*> cache;
  FuncDef*& f = cache[name];
  if (!f) {
    f = find_function(name);
    if (!f)
      fatal_unsupported(std::string("the library function ") + name +
                        " is not available (compiler/pure/dynamic_stdlib.kep is missing or lacks it)");
  }
  return f;
}

Value call_library(const char* name, std::initializer_list<Value> args) {
  return call_function(library_function(name), args.begin(), (int)args.size());
}

Value relabel_list(Value result, Tag tag) {
  if (result.tag == T_LIST) result.o->tag = result.tag = tag;
  return result;
}

// ---------------------------------------------------------------- kinds

const char* kind_name(const Value& v) {
  switch (v.tag) {
    case T_NONE: return "None";
    case T_BOOL: return "Bool";
    case T_INT: return "Int";
    case T_FLOAT: return "Float";
    case T_FUNC: return "Function";
    case T_STR: return "String";
    case T_LIST: return "List";
    case T_TUPLE: return "Tuple";
    case T_REAL: return "RealArray";
    case T_INTARR: return "IntArray";
    case T_FLOATARR: return "FloatArray";
    case T_BYTES: return "ByteArray";
    case T_DICT: return "Dictionary";
  }
  return "Any";
}

// The codes __kep_type_code answers: the type tags of compiled code's heap
// objects (compiler/pure/heap_runtime_types.kep), and for an Int the code
// of a raw word, as the library sees one in compiled code.
// tests/kep0/type_codes.kep checks them against that layout.
enum TypeCode : int64_t {
  TYPE_RAW_INT = 0,
  TYPE_STRING = 1,
  TYPE_LIST = 2,
  TYPE_DICTIONARY = 3,
  TYPE_BOOL = 4,
  TYPE_NONE = 5,
  TYPE_FLOAT = 6,
  TYPE_TUPLE = 7,
  TYPE_REAL_ARRAY = 8,
  TYPE_FUNCTION = 10,
  TYPE_INT_ARRAY = 13,
  TYPE_FLOAT_ARRAY = 14,
  TYPE_BYTE_ARRAY = 15
};

int64_t type_code(const Value& v) {
  // Indexed by Tag.
  static const int64_t codes[] = {
      TYPE_NONE,        // T_NONE
      TYPE_BOOL,        // T_BOOL
      TYPE_RAW_INT,     // T_INT
      TYPE_FLOAT,       // T_FLOAT
      TYPE_FUNCTION,    // T_FUNC
      TYPE_STRING,      // T_STR
      TYPE_LIST,        // T_LIST
      TYPE_TUPLE,       // T_TUPLE
      TYPE_REAL_ARRAY,  // T_REAL
      TYPE_INT_ARRAY,   // T_INTARR
      TYPE_FLOAT_ARRAY, // T_FLOATARR
      TYPE_BYTE_ARRAY,  // T_BYTES
      TYPE_DICTIONARY   // T_DICT
  };
  return codes[v.tag];
}

bool truth(const Value& v) {
  switch (v.tag) {
    case T_NONE: return false;
    case T_BOOL:
    case T_INT: return v.i != 0;
    case T_FLOAT: return ((uint64_t)v.i << 1) != 0;
    case T_FUNC: return true;
    case T_STR: return !as_str(v)->s.empty();
    case T_BYTES: return !as_bytes(v)->b.empty();
    case T_DICT: return dict_size(as_dict(v)) != 0;
    default: return !as_seq(v)->v.empty();
  }
}

int64_t length_of(const Value& v) {
  switch (v.tag) {
    case T_STR: return str_chars(as_str(v));
    case T_BYTES: return (int64_t)as_bytes(v)->b.size();
    case T_DICT: return dict_size(as_dict(v));
    default:
      if (is_seq_tag(v.tag)) return (int64_t)as_seq(v)->v.size();
      raise_text(std::string("TypeError: len expects a String or collection, got ") + kind_name(v));
  }
}

// ---------------------------------------------------------------- numbers

static bool is_number(const Value& v) { return v.tag == T_INT || v.tag == T_FLOAT; }

double float_of(const Value& v) {
  if (v.tag == T_FLOAT) return v.f;
  if (v.tag == T_INT) return (double)v.i;
  raise_text(std::string("TypeError: expected a number, got ") + kind_name(v));
}

int64_t int_of(const Value& v, const char* what) {
  if (v.tag == T_INT || v.tag == T_BOOL) return v.i;
  raise_text(std::string("TypeError: ") + what + " must be an Int, got " + kind_name(v));
}

int64_t float_to_int(double f) {
  if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0)) return INT64_MIN;
  return (int64_t)f;
}

static uint64_t u(int64_t x) { return (uint64_t)x; }

[[noreturn]] static void operand_error(const char* op, const Value& a, const Value& b) {
  raise_text(std::string("TypeError: unsupported operand types for ") + op + ": " + kind_name(a) + " and " +
             kind_name(b));
}

// The text of the compiled program's dynamic +, -, * and ^, which cannot
// name the kinds it met; its Float operations, which know one operand is a
// Float, name both.
[[noreturn]] static void dynamic_operand_error(const char* op, const Value& a, const Value& b) {
  if (a.tag == T_FLOAT || b.tag == T_FLOAT) operand_error(op, a, b);
  raise_text(std::string("TypeError: unsupported operand types for ") + op);
}

Value op_add(const Value& a, const Value& b) {
  if (a.tag == T_INT && b.tag == T_INT) return Value::integer((int64_t)(u(a.i) + u(b.i)));
  if (is_number(a) && is_number(b)) return Value::real(float_of(a) + float_of(b));
  if (a.tag == T_STR && b.tag == T_STR) {
    const std::string& x = as_str(a)->s;
    const std::string& y = as_str(b)->s;
    std::string joined;
    joined.reserve(x.size() + y.size());
    joined += x;
    joined += y;
    return make_str(std::move(joined));
  }
  // Only two Lists concatenate; a Tuple or an array is converted first.
  if (a.tag == T_LIST && b.tag == T_LIST) return call_library("__kep_list_concat", {a, b});
  dynamic_operand_error("+", a, b);
}

Value op_sub(const Value& a, const Value& b) {
  if (a.tag == T_INT && b.tag == T_INT) return Value::integer((int64_t)(u(a.i) - u(b.i)));
  if (is_number(a) && is_number(b)) return Value::real(float_of(a) - float_of(b));
  dynamic_operand_error("-", a, b);
}

Value op_mul(const Value& a, const Value& b) {
  if (a.tag == T_INT && b.tag == T_INT) return Value::integer((int64_t)(u(a.i) * u(b.i)));
  if (is_number(a) && is_number(b)) return Value::real(float_of(a) * float_of(b));
  if (a.tag == T_STR && b.tag == T_INT) return call_library("__kep_str_repeat", {a, b});
  if (a.tag == T_INT && b.tag == T_STR) return call_library("__kep_str_repeat", {b, a});
  dynamic_operand_error("*", a, b);
}

Value op_div(const Value& a, const Value& b) {
  if (is_number(a) && is_number(b)) return Value::real(float_of(a) / float_of(b));
  operand_error("/", a, b);
}

static int64_t floor_div(int64_t a, int64_t b) {
  if (b == -1) return (int64_t)(0 - u(a));
  int64_t q = a / b, r = a % b;
  if (r != 0 && ((r < 0) != (b < 0))) q--;
  return q;
}

static int64_t floor_mod(int64_t a, int64_t b) {
  if (b == -1) return 0;
  int64_t r = a % b;
  if (r != 0 && ((r < 0) != (b < 0))) r += b;
  return r;
}

Value op_floordiv(const Value& a, const Value& b, const std::string& at) {
  if (a.tag == T_INT && b.tag == T_INT) {
    if (b.i == 0) raise_text("ZeroDivisionError: integer division or modulo by zero at " + at);
    return Value::integer(floor_div(a.i, b.i));
  }
  // With a Float on either side the library divides, taking the other
  // operand as Float() does (a String is read, what is no number refused).
  if (a.tag == T_FLOAT || b.tag == T_FLOAT) return call_library("__kep_ffloordiv", {a, b});
  operand_error("//", a, b);
}

Value op_mod(const Value& a, const Value& b, const std::string& at) {
  if (a.tag == T_INT && b.tag == T_INT) {
    if (b.i == 0) raise_text("ZeroDivisionError: integer division or modulo by zero at " + at);
    return Value::integer(floor_mod(a.i, b.i));
  }
  // With a Float on either side the library divides, taking the other
  // operand as Float() does (a String is read, what is no number refused).
  if (a.tag == T_FLOAT || b.tag == T_FLOAT) return call_library("__kep_fmod", {a, b});
  operand_error("%", a, b);
}

Value op_pow(const Value& a, const Value& b, const std::string& at) {
  if (b.tag != T_INT) raise_text("TypeError: ^ requires an Int exponent");
  if (a.tag == T_INT) {
    if (b.i < 0) raise_text("ValueError: negative Int exponent at " + at);
    uint64_t base = u(a.i), result = 1;
    for (uint64_t e = u(b.i); e; e >>= 1) {
      if (e & 1) result *= base;
      base *= base;
    }
    return Value::integer((int64_t)result);
  }
  if (a.tag == T_FLOAT) {
    // One multiplication per unit of the exponent, as the run-time does it,
    // so that the rounding is the same.
    uint64_t n = b.i < 0 ? 0 - u(b.i) : u(b.i);
    double product = 1.0;
    for (uint64_t k = 0; k < n; k++) {
      product *= a.f;
      if (product == 0.0 || std::isnan(product)) {
        // The rest of the multiplications only flip the sign of a zero,
        // once each for a negative base.
        if (std::signbit(a.f) && (n - k - 1) % 2 == 1) product = -product;
        break;
      }
    }
    return Value::real(b.i < 0 ? 1.0 / product : product);
  }
  dynamic_operand_error("^", a, b);
}

Value op_neg(const Value& a) {
  if (a.tag == T_INT) return Value::integer((int64_t)(0 - u(a.i)));
  if (a.tag == T_FLOAT) {
    Value r = a;
    r.i ^= INT64_MIN;
    return r;
  }
  raise_text(std::string("TypeError: bad operand type for unary -: ") + kind_name(a));
}

static bool is_collection(const Value& v) { return v.tag >= T_LIST; }

bool op_equal(const Value& a, const Value& b) {
  if (a.tag == T_FLOAT || b.tag == T_FLOAT) return is_number(a) && is_number(b) && float_of(a) == float_of(b);
  if (is_collection(a) && is_collection(b)) {
    if (a.tag != b.tag) return false;
    return truth(call_library("__kep_equal", {a, b}));
  }
  return raw_equal(a, b);
}

bool op_same(const Value& a, const Value& b) {
  if (a.tag == T_FLOAT || b.tag == T_FLOAT) return is_number(a) && is_number(b) && float_of(a) == float_of(b);
  return raw_equal(a, b);
}

int op_order(const Value& a, const Value& b) {
  if (a.tag == T_INT && b.tag == T_INT) return a.i < b.i ? -1 : (a.i > b.i ? 1 : 0);
  // Strings order by their bytes, which is the order of their code points.
  if (a.tag == T_STR && b.tag == T_STR) {
    int c = as_str(a)->s.compare(as_str(b)->s);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (is_number(a) && is_number(b)) {
    double x = float_of(a), y = float_of(b);
    if (x < y) return -1;
    if (x > y) return 1;
    if (x == y) return 0;
    return -2;
  }
  // The same text as the compiled comparison's, which cannot name the kinds.
  raise_text("TypeError: cannot order these values");
}

bool op_contains(const Value& container, const Value& item) {
  switch (container.tag) {
    case T_STR:
      if (item.tag != T_STR)
        raise_text(std::string("TypeError: String membership needs a String, got ") + kind_name(item));
      return as_str(container)->s.find(as_str(item)->s) != std::string::npos;
    case T_DICT: return dict_find(as_dict(container), item) >= 0;
    case T_BYTES:
      if (item.tag != T_INT) return false;
      for (uint8_t byte : as_bytes(container)->b)
        if (byte == item.i) return true;
      return false;
    default:
      if (!is_seq_tag(container.tag))
        raise_text(std::string("TypeError: membership needs a String or collection, got ") + kind_name(container));
      for (const Value& v : as_seq(container)->v)
        if (raw_equal(v, item)) return true;
      return false;
  }
}

// ---------------------------------------------------------------- access

Value ascii_char(unsigned char c) {
  static Value ascii[128];
  Value& cached = ascii[c];
  if (cached.tag == T_NONE) cached = make_str(std::string(1, (char)c));
  return cached;
}

Value str_char(StrObj* s, int64_t index) {
  size_t off = char_offset(s, index);
  // A text whose lead bytes claim more than it holds ends before its count.
  if (off == s->s.size()) return make_str("");
  unsigned char lead = (unsigned char)s->s[off];
  if (lead < 0x80) return ascii_char(lead);
  return make_str(s->s.substr(off, utf8_width(lead)));
}

static int64_t checked_index(const Value& index, int64_t length, const std::string& at) {
  if (index.tag != T_INT) raise_text(std::string("TypeError: index must be an Int, got ") + kind_name(index));
  int64_t i = index.i;
  if (i < 0) i += length;
  if (i < 0 || i >= length) raise_text(at.empty() ? "IndexError: index out of range" : "IndexError: index out of range at " + at);
  return i;
}

Value index_get(const Value& container, const Value& index, const std::string& at) {
  switch (container.tag) {
    case T_DICT: {
      DictObj* d = as_dict(container);
      int64_t e = dict_find(d, index);
      if (e < 0) raise_text("KeyError: key not found");
      return d->vals[e];
    }
    case T_STR: {
      StrObj* s = as_str(container);
      return str_char(s, checked_index(index, str_chars(s), at));
    }
    case T_BYTES: {
      BytesObj* b = as_bytes(container);
      return Value::integer(b->b[checked_index(index, (int64_t)b->b.size(), at)]);
    }
    default:
      if (!is_seq_tag(container.tag))
        raise_text(std::string("TypeError: cannot index ") + kind_name(container));
      SeqObj* s = as_seq(container);
      return s->v[checked_index(index, (int64_t)s->v.size(), at)];
  }
}

void index_set(const Value& container, const Value& index, const Value& value, const std::string& at) {
  switch (container.tag) {
    case T_DICT: dict_set(as_dict(container), index, value); return;
    case T_LIST: break;
    case T_REAL:
      if (!is_number(value)) raise_text("TypeError: RealArray accepts only Int or Float values");
      break;
    case T_INTARR:
      if (value.tag != T_INT) raise_text("TypeError: IntArray assignment requires an Int");
      break;
    case T_FLOATARR:
      if (value.tag != T_FLOAT) raise_text("TypeError: FloatArray assignment requires a Float");
      break;
    case T_BYTES: {
      if (value.tag != T_INT) raise_text("TypeError: ByteArray assignment requires an Int");
      if (value.i < 0 || value.i > 255) raise_text("ValueError: ByteArray value is outside 0..255");
      BytesObj* b = as_bytes(container);
      b->b[checked_index(index, (int64_t)b->b.size(), at)] = (uint8_t)value.i;
      return;
    }
    case T_TUPLE: raise_text("TypeError: Tuple items are immutable");
    default: raise_text(std::string("TypeError: cannot assign items of ") + kind_name(container));
  }
  SeqObj* s = as_seq(container);
  s->v[checked_index(index, (int64_t)s->v.size(), at)] = value;
}

static int64_t clamp_bound(const Value* bound, int64_t fallback, int64_t length) {
  if (!bound || bound->tag == T_NONE) return fallback;
  int64_t v = int_of(*bound, "a slice bound");
  if (v < 0) v += length;
  if (v < 0) v = 0;
  if (v > length) v = length;
  return v;
}

Value slice(const Value& target, const Value* start, const Value* stop, const Value* step) {
  if (target.tag != T_STR && !is_seq_tag(target.tag))
    raise_text(std::string("TypeError: cannot slice ") + kind_name(target));
  if (step) {
    Value zero = Value::integer(0);
    Value result = call_library("__kep_slice3", {target, start ? *start : zero, Value::boolean(start != nullptr),
                                                 stop ? *stop : zero, Value::boolean(stop != nullptr), *step});
    return target.tag == T_STR ? result : relabel_list(std::move(result), target.tag);
  }
  if (target.tag == T_STR) {
    StrObj* s = as_str(target);
    int64_t length = str_chars(s);
    int64_t a = clamp_bound(start, 0, length), b = clamp_bound(stop, length, length);
    if (b <= a) return make_str("");
    size_t from = char_offset(s, a), to = char_offset(s, b);
    return make_str(s->s.substr(from, to - from));
  }
  SeqObj* s = as_seq(target);
  int64_t length = (int64_t)s->v.size();
  int64_t a = clamp_bound(start, 0, length), b = clamp_bound(stop, length, length);
  Value result = make_seq(target.tag);
  if (b > a) as_seq(result)->v.assign(s->v.begin() + a, s->v.begin() + b);
  return result;
}

Value member_get(const Value& target, const std::string& name, const Value& key) {
  if (target.tag != T_DICT)
    raise_text(std::string("TypeError: member ") + name + " requires a class or instance, got " + kind_name(target));
  DictObj* d = as_dict(target);
  int64_t e = dict_find(d, key);
  if (e < 0) raise_text("KeyError: key not found");
  return d->vals[e];
}

void delete_index(const Value& container, const Value& index) {
  switch (container.tag) {
    case T_LIST:
    case T_INTARR:
    case T_FLOATARR: call_library("__kep_delete_at", {container, index}); return;
    case T_DICT: dict_delete(as_dict(container), index); return;
    default: raise_text(std::string("TypeError: cannot delete items of ") + kind_name(container));
  }
}

// ---------------------------------------------------------------- text

std::string int_text(int64_t v) { return std::to_string(v); }

Value to_string(const Value& v) {
  switch (v.tag) {
    case T_STR: return v;
    case T_INT: return make_str(int_text(v.i));
    case T_BOOL: return make_str(v.i ? "True" : "False");
    case T_NONE: return make_str("None");
    case T_FLOAT: return call_library("__kep_format_float", {v});
    default: return call_library("__kep_str_value", {v});
  }
}

void print_value(const Value& v) {
  switch (v.tag) {
    case T_STR: out_write(as_str(v)->s); return;
    case T_INT: out_write(int_text(v.i)); return;
    case T_BOOL: out_write(v.i ? "True" : "False"); return;
    case T_NONE: out_write("None"); return;
    default: {
      Value text = to_string(v);
      if (text.tag == T_STR) out_write(as_str(text)->s);
    }
  }
}

// ---------------------------------------------------------------- files

Value builtin_readfile(const std::string& path) {
  // A NUL byte would cut the path short and open another file.
  int fd = path.find('\0') != std::string::npos ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) raise_text("FileError: cannot open file");
  std::string data;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    raise_text("FileError: cannot read file");
  }
  char buffer[1 << 16];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      close(fd);
      raise_text("FileError: cannot read file");
    }
    if (n == 0) break;
    data.append(buffer, (size_t)n);
  }
  close(fd);
  return make_str(std::move(data));
}

}  // namespace kep
