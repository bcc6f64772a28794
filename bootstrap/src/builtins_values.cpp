// Built-ins that convert values between kinds, measure and compare them,
// name their kinds, and the hooks that reach the value representation.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "builtin_families.hpp"
#include "utf8.hpp"

namespace kep {

static std::string six_decimal_text(double x) {
  uint64_t bits;
  memcpy(&bits, &x, 8);
  uint64_t m = bits & ~(1ULL << 63);
  if (m == 0x7FF0000000000000ULL) return (bits >> 63) ? "-inf" : "inf";
  if (m > 0x7FF0000000000000ULL) return "nan";
  double magnitude;
  memcpy(&magnitude, &m, 8);
  const char* sign = (bits >> 63) ? "-" : "";
  // From 2^63 on the number is a whole one with no Int form: its exact
  // decimal digits, as the compiled routine writes them.
  if (magnitude >= 9223372036854775808.0) {
    char whole_digits[320];
    snprintf(whole_digits, sizeof whole_digits, "%.0f", magnitude);
    return std::string(sign) + whole_digits + ".000000";
  }
  int64_t whole = float_to_int(magnitude);
  uint64_t fraction = (uint64_t)float_to_int((magnitude - (double)whole) * 1000000.0);
  char digits[7];
  for (int k = 5; k >= 0; k--) {
    digits[k] = (char)('0' + fraction % 10);
    fraction /= 10;
  }
  digits[6] = 0;
  return std::string(sign) + int_text(whole) + "." + digits;
}

// Order of two values for min and max: numbers by value, a NaN below everything.
static int compare_any(const Value& a, const Value& b) {
  int order = op_order(a, b);
  return order == -2 ? -1 : order;
}

Value call_value_builtin(BuiltinId id, Value* a, int count) {
  switch (id) {
    case B_gc: return Value::integer(0);
    case B_test_small_tables: return Value();
    // The masks a compiled program reports before its heap grows: the
    // object map's first page of granules, the first intern table's slots.
    case B_object_table_mask: return Value::integer(0x7FFF);
    case B_intern_table_mask: return Value::integer(0xFFFF);
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
        case T_INT: return Value::real((double)a[0].i);
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
    case B_class_mark:
      // 1 for a class object, 2 for an instance, 0 for any other value.
      if (a[0].tag != T_DICT || !as_dict(a[0])->cls) return Value::integer(0);
      return Value::integer(as_dict(a[0])->is_class ? 1 : 2);
    case B_pop_last: {
      if (!is_seq_tag(a[0].tag)) raise_text("TypeError: pop needs a List or an array");
      if (as_seq(a[0])->v.empty()) raise_text("IndexError: pop from empty List");
      Value last = std::move(as_seq(a[0])->v.back());
      as_seq(a[0])->v.pop_back();
      return last;
    }
    default: break;
  }
  unsupported_builtin(id);
}

}  // namespace kep
