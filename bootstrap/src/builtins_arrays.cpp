// Built-ins of the typed arrays: the constructors and checked casts, the
// zero-filled arrays, the FloatArray kernels, FloatArray bytes and the
// block operations on IntArrays and ByteArrays.
#include <cstring>
#include <new>

#include "builtin_families.hpp"

namespace kep {

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

// Copies a[4] items forward from src at a[3] to dest at a[2], clamped to
// the room on both sides.
template <typename Items>
static void copy_items(Items& dest, const Items& src, Value* a) {
  int64_t ds = int_of(a[2], "start"), ss = int_of(a[3], "start"), count = int_of(a[4], "count");
  if (!clamp_block(count, ds, (int64_t)dest.size(), ss, (int64_t)src.size())) return;
  for (int64_t i = 0; i < count; i++) dest[ds + i] = src[ss + i];
}

static void raster_copy(Value* a) {
  if (a[0].tag == T_INTARR && a[1].tag == T_INTARR) copy_items(as_seq(a[0])->v, as_seq(a[1])->v, a);
}

static void byte_copy(Value* a) {
  if (a[0].tag == T_BYTES && a[1].tag == T_BYTES) copy_items(as_bytes(a[0])->b, as_bytes(a[1])->b, a);
}

static void raster_fill(Value* a) {
  if (a[0].tag != T_INTARR) return;
  auto& items = as_seq(a[0])->v;
  int64_t start = int_of(a[1], "start"), count = int_of(a[2], "count"), value = int_of(a[3], "value");
  if (count < 1 || start < 0) return;
  count = std::min(count, (int64_t)items.size() - start);
  for (int64_t i = 0; i < count; i++) items[start + i] = Value::integer(value);
}

Value call_array_builtin(BuiltinId id, Value* a, int count) {
  switch (id) {
    case B_float_zeros: {
      int64_t n = int_of(a[0], "float_zeros size");
      if (n < 0) raise_text("ValueError: float_zeros size cannot be negative");
      return new_float_array((size_t)n);
    }
    case B_int_zeros:
    case B_byte_zeros: {
      int64_t n = int_of(a[0], "an array size");
      if (n < 0) raise_text(std::string("ValueError: ") + builtin_name(id) + " size cannot be negative");
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
    default: break;
  }
  unsupported_builtin(id);
}

}  // namespace kep
