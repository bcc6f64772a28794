// Run-time values of kep0: Int, Float, Bool, None and Function values are
// held in the value itself; Strings, sequences, ByteArrays and Dictionaries
// are reference-counted heap objects.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kep {

enum Tag : uint8_t {
  T_NONE, T_BOOL, T_INT, T_FLOAT, T_FUNC,
  // heap objects from here on
  T_STR, T_LIST, T_TUPLE, T_REAL, T_INTARR, T_FLOATARR, T_BYTES, T_DICT
};

struct Obj {
  uint32_t rc = 1;
  Tag tag;
  explicit Obj(Tag t) : tag(t) {}
};

struct FuncDef;
struct ClassInfo;
void destroy(Obj* o);

struct Value {
  Tag tag = T_NONE;
  union {
    int64_t i;
    double f;
    Obj* o;
    FuncDef* fn;
  };

  Value() : i(0) {}
  static Value integer(int64_t v) { Value r; r.tag = T_INT; r.i = v; return r; }
  static Value real(double v) { Value r; r.tag = T_FLOAT; r.f = v; return r; }
  static Value boolean(bool v) { Value r; r.tag = T_BOOL; r.i = v ? 1 : 0; return r; }
  static Value function(FuncDef* d) { Value r; r.tag = T_FUNC; r.fn = d; return r; }
  // Takes over the one reference a new object starts with.
  static Value adopt(Obj* obj) { Value r; r.tag = obj->tag; r.o = obj; return r; }
  // Adds a reference to an object that somebody else keeps alive.
  static Value share(Obj* obj) { obj->rc++; return adopt(obj); }

  Value(const Value& v) : tag(v.tag), i(v.i) {
    if (tag >= T_STR) o->rc++;
  }
  Value(Value&& v) noexcept : tag(v.tag), i(v.i) { v.tag = T_NONE; }
  Value& operator=(const Value& v) {
    if (v.tag >= T_STR) v.o->rc++;
    release();
    tag = v.tag;
    i = v.i;
    return *this;
  }
  Value& operator=(Value&& v) noexcept {
    if (this != &v) {
      release();
      tag = v.tag;
      i = v.i;
      v.tag = T_NONE;
    }
    return *this;
  }
  ~Value() { release(); }
  void release() {
    if (tag >= T_STR && --o->rc == 0) destroy(o);
    tag = T_NONE;
  }
};

struct StrObj : Obj {
  std::string s;
  uint64_t hash = 0;      // 0: not computed yet
  int64_t chars = -1;     // code points; -1: not counted yet
  bool ascii = false;     // valid once chars >= 0
  // Byte offset of every 64th code point of a non-ASCII String, made on
  // its first indexing, so that indexing stays cheap.
  std::vector<uint32_t> marks;
  explicit StrObj(std::string text) : Obj(T_STR), s(std::move(text)) {}
  void changed() {
    hash = 0;
    chars = -1;
    marks.clear();
  }
};

// List, Tuple, RealArray, IntArray (Int items) and FloatArray (Float items).
struct SeqObj : Obj {
  std::vector<Value> v;
  explicit SeqObj(Tag t) : Obj(t) {}
};

struct BytesObj : Obj {
  std::vector<uint8_t> b;
  BytesObj() : Obj(T_BYTES) {}
};

// Insertion-ordered Dictionary. Small ones are searched linearly; larger
// ones keep an open-addressing index of entry positions.
struct DictObj : Obj {
  std::vector<Value> keys, vals;
  std::vector<int32_t> index;  // empty while small
  size_t dead = 0;             // deleted entries not yet compacted away
  ClassInfo* cls = nullptr;    // set on class objects and instances
  bool is_class = false;
  DictObj() : Obj(T_DICT) {}
};

inline StrObj* as_str(const Value& v) { return static_cast<StrObj*>(v.o); }
inline SeqObj* as_seq(const Value& v) { return static_cast<SeqObj*>(v.o); }
inline BytesObj* as_bytes(const Value& v) { return static_cast<BytesObj*>(v.o); }
inline DictObj* as_dict(const Value& v) { return static_cast<DictObj*>(v.o); }
inline bool is_seq_tag(Tag t) { return t >= T_LIST && t <= T_FLOATARR; }

inline Value make_str(std::string s) { return Value::adopt(new StrObj(std::move(s))); }
inline Value make_seq(Tag t) { return Value::adopt(new SeqObj(t)); }
inline Value make_dict() { return Value::adopt(new DictObj()); }

// String helpers (code points by lead byte).
void count_str(StrObj* s);
inline int64_t str_chars(StrObj* s) {
  if (s->chars < 0) count_str(s);
  return s->chars;
}
size_t char_offset(StrObj* s, int64_t index);  // byte offset of code point index (<= length)
uint64_t str_hash(StrObj* s);

// Key equality and hashing of Dictionaries: the same kind and value for
// scalars and Strings, the same object for everything else.
bool raw_equal(const Value& a, const Value& b);
uint64_t key_hash(const Value& k);

// Dictionary operations.
int64_t dict_find(DictObj* d, const Value& key);  // entry position or -1
void dict_set(DictObj* d, const Value& key, const Value& value);
bool dict_delete(DictObj* d, const Value& key);
int64_t dict_size(DictObj* d);
std::vector<Value> dict_keys(DictObj* d);  // the live keys, in order

}  // namespace kep
