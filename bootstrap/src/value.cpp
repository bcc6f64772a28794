#include "value.hpp"

#include <algorithm>

#include "utf8.hpp"

namespace kep {

void destroy(Obj* o) {
  switch (o->tag) {
    case T_STR: delete static_cast<StrObj*>(o); break;
    case T_BYTES: delete static_cast<BytesObj*>(o); break;
    case T_DICT: delete static_cast<DictObj*>(o); break;
    default: delete static_cast<SeqObj*>(o); break;
  }
}

void count_str(StrObj* s) {
  int64_t n = 0;
  bool ascii = true;
  const std::string& t = s->s;
  for (size_t i = 0; i < t.size(); i++) {
    unsigned char c = (unsigned char)t[i];
    if (c >= 0x80) ascii = false;
    if ((c & 0xC0) != 0x80) n++;
  }
  s->chars = n;
  s->ascii = ascii;
}

static constexpr int64_t kMarkEvery = 64;

// The next code point starts as far on as the lead byte's width says, or
// at the end of a text that cuts it short: the walk of compiled code.
static size_t next_char(const std::string& t, size_t off) {
  return std::min(off + utf8_width((unsigned char)t[off]), t.size());
}

size_t char_offset(StrObj* s, int64_t index) {
  str_chars(s);
  if (s->ascii) return (size_t)index;
  const std::string& t = s->s;
  if (s->marks.empty()) {
    size_t off = 0;
    for (int64_t k = 0; off < t.size(); k++, off = next_char(t, off))
      if (k % kMarkEvery == 0) s->marks.push_back((uint32_t)off);
    s->marks.push_back((uint32_t)t.size());
  }
  size_t mark = (size_t)(index / kMarkEvery);
  if (mark >= s->marks.size()) return t.size();
  size_t off = s->marks[mark];
  for (int64_t k = mark * kMarkEvery; k < index && off < t.size(); k++) off = next_char(t, off);
  return off;
}

uint64_t str_hash(StrObj* s) {
  if (s->hash == 0) {
    uint64_t h = 5381;
    for (unsigned char c : s->s) h = h * 33 + c;
    s->hash = h | 1;
  }
  return s->hash;
}

bool raw_equal(const Value& a, const Value& b) {
  if (a.tag != b.tag) return false;
  switch (a.tag) {
    case T_NONE: return true;
    case T_BOOL:
    case T_INT: return a.i == b.i;
    case T_FLOAT: return a.i == b.i;  // bit patterns, as the run-time compares Floats
    case T_FUNC: return a.fn == b.fn;
    case T_STR: {
      if (a.o == b.o) return true;
      StrObj* x = as_str(a);
      StrObj* y = as_str(b);
      return x->s.size() == y->s.size() && (x->hash == 0 || y->hash == 0 || x->hash == y->hash) && x->s == y->s;
    }
    default: return a.o == b.o;
  }
}

static uint64_t mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  return x;
}

uint64_t key_hash(const Value& k) {
  switch (k.tag) {
    case T_NONE: return 0x9e3779b97f4a7c15ULL;
    case T_BOOL:
    case T_INT:
    case T_FLOAT: return mix((uint64_t)k.i + k.tag);
    case T_FUNC: return mix((uint64_t)(uintptr_t)k.fn);
    case T_STR: return str_hash(as_str(k));
    default: return mix((uint64_t)(uintptr_t)k.o);
  }
}

static constexpr size_t kLinearLimit = 8;

static void dict_reindex(DictObj* d) {
  size_t cap = 16;
  while (cap < d->keys.size() * 2 + 2) cap *= 2;
  d->index.assign(cap, -1);
  size_t mask = cap - 1;
  for (size_t e = 0; e < d->keys.size(); e++) {
    size_t slot = key_hash(d->keys[e]) & mask;
    while (d->index[slot] >= 0) slot = (slot + 1) & mask;
    d->index[slot] = (int32_t)e;
  }
}

int64_t dict_find(DictObj* d, const Value& key) {
  if (d->index.empty()) {
    for (size_t e = 0; e < d->keys.size(); e++)
      if (raw_equal(d->keys[e], key)) return (int64_t)e;
    return -1;
  }
  size_t mask = d->index.size() - 1;
  size_t slot = key_hash(key) & mask;
  while (true) {
    int32_t e = d->index[slot];
    if (e < 0) return -1;
    if (raw_equal(d->keys[e], key)) return e;
    slot = (slot + 1) & mask;
  }
}

static void dict_compact(DictObj* d);

void dict_set(DictObj* d, const Value& key, const Value& value) {
  int64_t e = dict_find(d, key);
  if (e >= 0) {
    d->vals[e] = value;
    return;
  }
  d->keys.push_back(key);
  d->vals.push_back(value);
  if (d->keys.size() <= kLinearLimit) return;
  if (d->index.empty() || d->keys.size() * 2 + 2 > d->index.size()) {
    if (d->dead) dict_compact(d);
    else dict_reindex(d);
    return;
  }
  size_t mask = d->index.size() - 1;
  size_t slot = key_hash(key) & mask;
  while (d->index[slot] >= 0) slot = (slot + 1) & mask;
  d->index[slot] = (int32_t)(d->keys.size() - 1);
}

// A deleted entry keeps its place until half the entries are deleted ones,
// so that deleting every key costs linear time: its key becomes a Function
// value of no function, which equals no key, and its value is released.
static bool is_dead(const Value& k) { return k.tag == T_FUNC && k.fn == nullptr; }

static void dict_compact(DictObj* d) {
  size_t live = 0;
  for (size_t e = 0; e < d->keys.size(); e++) {
    if (is_dead(d->keys[e])) continue;
    if (live != e) {
      d->keys[live] = d->keys[e];
      d->vals[live] = d->vals[e];
    }
    live++;
  }
  d->keys.resize(live);
  d->vals.resize(live);
  d->dead = 0;
  if (live <= kLinearLimit)
    d->index.clear();
  else
    dict_reindex(d);
}

bool dict_delete(DictObj* d, const Value& key) {
  int64_t e = dict_find(d, key);
  if (e < 0) return false;
  Value dead;
  dead.tag = T_FUNC;
  dead.fn = nullptr;
  d->keys[e] = dead;
  d->vals[e] = Value();
  d->dead++;
  if (d->dead * 2 >= d->keys.size()) dict_compact(d);
  return true;
}

int64_t dict_size(DictObj* d) { return (int64_t)(d->keys.size() - d->dead); }

std::vector<Value> dict_keys(DictObj* d) {
  if (d->dead == 0) return d->keys;
  std::vector<Value> live;
  live.reserve(d->keys.size() - d->dead);
  for (const Value& k : d->keys)
    if (!is_dead(k)) live.push_back(k);
  return live;
}

}  // namespace kep
