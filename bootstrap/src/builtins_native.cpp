// Built-ins on raw descriptors, raw system calls and the bytes of Strings
// and ByteArrays. Native libraries and raw memory need a compiled program:
// kep0 stops with a message naming the built-in.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "builtin_families.hpp"
#include "output.hpp"
#include "utf8.hpp"

namespace kep {

// The ByteArray a descriptor call reads into or writes from, and a count
// clamped to its length: another kind or a negative count is refused, as
// the compiled routines refuse them.
static std::vector<uint8_t>& descriptor_buffer(const Value& buffer) {
  if (buffer.tag != T_BYTES) raise_text("TypeError: descriptor buffer must be a ByteArray");
  return as_bytes(buffer)->b;
}

static size_t descriptor_count(const Value& count, size_t length) {
  int64_t n = int_of(count, "a count");
  if (n < 0) raise_text("ValueError: negative byte count");
  return (size_t)std::min<int64_t>(n, (int64_t)length);
}

// Every byte is written, short writes continued, and a descriptor that
// would block is waited for, up to a second each time it stops taking
// bytes. 0 when all went; when the writing stops short, the count written
// if there is one, else the kernel's error number (EAGAIN for a descriptor
// that stayed full, EIO for a write that took nothing), as the compiled
// routine answers.
static const int fd_write_wait_ms = 1000;

static Value fd_write(Value* a) {
  int fd = (int)int_of(a[0], "a descriptor");
  auto& b = descriptor_buffer(a[1]);
  size_t count = descriptor_count(a[2], b.size());
  size_t done = 0;
  int64_t stopped = 0;
  while (done < count) {
    ssize_t n = write(fd, b.data() + done, count - done);
    if (n < 0 && errno == EAGAIN) {
      if (wait_writable(fd, fd_write_wait_ms)) continue;
      stopped = -EAGAIN;
      break;
    }
    if (n <= 0) {
      stopped = n < 0 ? -errno : -EIO;
      break;
    }
    done += (size_t)n;
  }
  if (done == count) return Value::integer(0);
  return Value::integer(done > 0 ? (int64_t)done : stopped);
}

static Value fd_read(Value* a) {
  int fd = (int)int_of(a[0], "a descriptor");
  auto& b = descriptor_buffer(a[1]);
  size_t count = descriptor_count(a[2], b.size());
  ssize_t n = read(fd, b.data(), count);
  return Value::integer(n < 0 ? -errno : n);
}

static int64_t kernel_result(long r) { return r < 0 ? -errno : r; }

// Requests without a size field that a buffer may serve, by their family
// byte: framebuffers, terminals, virtual consoles and network devices, of
// which none has the kernel read or write more than 160 bytes (the
// framebuffer's variable screen information).
static const int64_t legacy_ioctl_families[] = {0x46, 0x54, 0x56, 0x89};
static const int64_t legacy_ioctl_bytes = 160;

// The buffer must hold what the request has the kernel read or write
// there: the size the request encodes (bits 16 to 29), or for a request
// without one the legacy minimum, when its family is known. An empty
// ByteArray passes no buffer at all.
static Value fd_ioctl(Value* a) {
  if (a[1].tag != T_BYTES) return Value::integer(-1);
  auto& b = as_bytes(a[1])->b;
  int64_t request = int_of(a[2], "a request");
  int fd = (int)int_of(a[0], "a descriptor");
  if (b.empty()) return Value::integer(kernel_result(ioctl(fd, (unsigned long)request, nullptr)));
  int64_t need = (request >> 16) & 0x3FFF;
  if (need == 0) {
    int64_t family = (request >> 8) & 0xFF;
    if (std::find(std::begin(legacy_ioctl_families), std::end(legacy_ioctl_families), family) ==
        std::end(legacy_ioctl_families))
      raise_text("ValueError: ioctl request of unknown size");
    need = legacy_ioctl_bytes;
  }
  if (need > (int64_t)b.size()) raise_text("ValueError: ioctl buffer is too small for the request");
  return Value::integer(kernel_result(ioctl(fd, (unsigned long)request, b.data())));
}

// The first occurrence of a mark in a text at or after the byte offset
// from (where a code point starts), or npos. An occurrence is a run of
// whole code points, as the width walk cuts them, equal to those of the
// mark: tried at each code point from the left. Code points in the text
// with the mark's bytes are as wide as its own, except where its last one
// claims more bytes than it holds: the text's must then end where the text
// does. An empty mark occurs at every code point's start and at the end.
static size_t text_search(const std::string& t, const std::string& mark, size_t from) {
  size_t reach = 0;
  while (reach < mark.size()) reach += utf8_width((unsigned char)mark[reach]);
  bool cut_short = reach > mark.size();
  for (size_t at = from; at + mark.size() <= t.size(); at += utf8_width((unsigned char)t[at]))
    if (t.compare(at, mark.size(), mark) == 0 && (!cut_short || at + mark.size() == t.size())) return at;
  return std::string::npos;
}

// Where the search goes on after an occurrence at `at`: past it; for an
// empty mark past the code point there, or past the end at the end.
static size_t match_end(const std::string& t, const std::string& mark, size_t at) {
  if (!mark.empty()) return at + mark.size();
  if (at >= t.size()) return t.size() + 1;
  return std::min(at + utf8_width((unsigned char)t[at]), t.size());
}

// The pieces of a text between the occurrences of a separator
// (text_search), or -1 unless both are texts and the separator is not
// empty.
static Value text_split(const Value& text, const Value& separator) {
  if (text.tag != T_STR || separator.tag != T_STR) return Value::integer(-1);
  const std::string& t = as_str(text)->s;
  const std::string& mark = as_str(separator)->s;
  if (mark.empty()) return Value::integer(-1);
  Value list = make_seq(T_LIST);
  auto& pieces = as_seq(list)->v;
  size_t start = 0;
  for (size_t at; (at = text_search(t, mark, start)) != std::string::npos; start = at + mark.size())
    pieces.push_back(make_str(t.substr(start, at - start)));
  pieces.push_back(make_str(t.substr(start)));
  return list;
}

// The occurrences of a mark in a text, each search going on where the
// previous occurrence ends, or -1 unless both are texts.
static Value text_count(const Value& text, const Value& mark) {
  if (text.tag != T_STR || mark.tag != T_STR) return Value::integer(-1);
  const std::string& t = as_str(text)->s;
  const std::string& m = as_str(mark)->s;
  int64_t count = 0;
  for (size_t at = 0; (at = text_search(t, m, at)) != std::string::npos; at = match_end(t, m, at)) count++;
  return Value::integer(count);
}

// The code points of a text before a needle's first occurrence, or -1.
static Value text_find(const Value& text, const Value& needle) {
  const std::string& t = need_str(text, "__kep_text_find");
  size_t at = text_search(t, need_str(needle, "__kep_text_find"), 0);
  if (at == std::string::npos) return Value::integer(-1);
  return Value::integer(count_chars(t.substr(0, at)));
}

// The text with each occurrence of old that text_count counts replaced by
// new, or -1 unless all three are texts.
static Value text_replace(const Value& text, const Value& old, const Value& fresh) {
  if (text.tag != T_STR || old.tag != T_STR || fresh.tag != T_STR) return Value::integer(-1);
  const std::string& t = as_str(text)->s;
  const std::string& m = as_str(old)->s;
  std::string out;
  size_t copied = 0;
  for (size_t at = 0; (at = text_search(t, m, at)) != std::string::npos; at = match_end(t, m, at)) {
    out.append(t, copied, at - copied);
    out += as_str(fresh)->s;
    copied = at + m.size();
  }
  out.append(t, copied, std::string::npos);
  return make_str(out);
}

// Case mapping by rule, with no tables: ASCII, Latin-1 and Latin Extended-A
// (up to 383); every other code point is itself. In Latin Extended-A
// capitals and small letters pair up by parity (the capitals odd from 313
// to 328 and from 377 to 382, else even); 304, 305, 312, 329, 376 and 383
// have no partner there.
static bool extended_small(int64_t cp) {
  bool flipped = (cp >= 313 && cp <= 328) || (cp >= 377 && cp <= 382);
  return ((cp & 1) == 1) != flipped;
}

static bool extended_paired(int64_t cp) {
  return cp >= 256 && cp <= 383 && cp != 304 && cp != 305 && cp != 312 && cp != 329 && cp != 376 && cp != 383;
}

static int64_t lower_code(int64_t cp) {
  if ((cp >= 65 && cp <= 90) || (cp >= 192 && cp <= 222 && cp != 215)) return cp + 32;
  if (cp == 376) return 255;
  if (extended_paired(cp) && !extended_small(cp)) return cp + 1;
  return cp;
}

static int64_t upper_code(int64_t cp) {
  if ((cp >= 97 && cp <= 122) || (cp >= 224 && cp <= 254 && cp != 247)) return cp - 32;
  if (cp == 181) return 924;
  if (cp == 255) return 376;
  if (cp == 305) return 73;
  if (cp == 383) return 83;
  if (extended_paired(cp) && extended_small(cp)) return cp - 1;
  return cp;
}

// The text with its code points mapped (mode 0 lower, 1 upper, 2 title:
// ASCII letters upper case at a word's start, lower case after one; any
// other code point starts a word); a code point mapped to itself keeps its
// bytes. A text that is no String is refused in the words of the
// library's walk over characters.
static Value text_case(const Value& text, int64_t mode) {
  const std::string& t = need_str(text, "__kep_string_chars");
  std::string out;
  out.reserve(t.size());
  bool at_start = true;
  for (size_t off = 0, width; off < t.size(); off += width) {
    width = std::min(utf8_width((unsigned char)t[off]), t.size() - off);
    int64_t cp = (unsigned char)t[off] < 0x80 ? (unsigned char)t[off] : ord_of(t.substr(off, width)), mapped = cp;
    if (mode == 2) {
      bool letter = (cp >= 65 && cp <= 90) || (cp >= 97 && cp <= 122);
      if (letter) mapped = at_start ? upper_code(cp) : lower_code(cp);
      at_start = !letter;
    } else {
      mapped = mode == 1 ? upper_code(cp) : lower_code(cp);
    }
    if (mapped == cp)
      out.append(t, off, width);
    else
      out += utf8_of((uint64_t)mapped);
  }
  return make_str(out);
}

// The text without the spaces, tabs, carriage returns and line feeds at
// its start (ends 1), its end (2) or both (3); refused as text_case
// refuses.
static Value text_strip(const Value& text, int64_t ends) {
  const std::string& t = need_str(text, "__kep_string_chars");
  size_t first = t.size(), last = 0;
  for (size_t off = 0, width; off < t.size(); off += width) {
    width = std::min(utf8_width((unsigned char)t[off]), t.size() - off);
    char c = t[off];
    if (width == 1 && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) continue;
    first = std::min(first, off);
    last = off + width;
  }
  if (ends == 1) last = t.size();
  if (ends == 2) first = 0;
  return make_str(t.substr(first, std::max(last, first) - first));
}

// The code points start, start + step, ... before stop of a text (the
// bounds clamped as __kep_slice3 clamps them), taken from the lowest and
// written in that order when step > 0, else in the reverse order.
static Value text_step(const Value& text, int64_t start, int64_t stop, int64_t step) {
  const std::string& t = need_str(text, "__kep_text_step");
  int64_t stride = step < 0 ? -step : step, distance = step < 0 ? start - stop : stop - start;
  int64_t count = distance > 0 ? (distance - 1) / stride + 1 : 0;
  int64_t first = step < 0 ? start - (count - 1) * stride : start;
  // Two walks over the code points: one sizes the result, the other fills
  // it, from the end when step < 0.
  std::string out;
  for (int pass = 0; pass < 2; pass++) {
    size_t bytes = 0;
    int64_t index = 0, left = count;
    for (size_t off = 0, width; off < t.size() && left > 0; off += width, index++) {
      width = std::min(utf8_width((unsigned char)t[off]), t.size() - off);
      if (index < first || (index - first) % stride != 0) continue;
      if (pass == 1) out.replace(step < 0 ? out.size() - bytes - width : bytes, width, t, off, width);
      bytes += width;
      left--;
    }
    if (pass == 0) out.assign(bytes, ' ');
  }
  return make_str(out);
}

// The Strings of a List or Tuple joined by a separator, or -1 when any of
// them is of another kind.
static Value text_join(const Value& separator, const Value& items) {
  if (separator.tag != T_STR || (items.tag != T_LIST && items.tag != T_TUPLE)) return Value::integer(-1);
  std::string joined;
  bool first = true;
  for (const Value& item : as_seq(items)->v) {
    if (item.tag != T_STR) return Value::integer(-1);
    if (!first) joined += as_str(separator)->s;
    joined += as_str(item)->s;
    first = false;
  }
  return make_str(joined);
}

Value call_native_builtin(BuiltinId id, Value* a, int) {
  switch (id) {
    case B_text_byte: {
      int64_t i = int_of(a[1], "a byte index");
      if (a[0].tag != T_STR) return Value::integer(-1);
      const std::string& s = as_str(a[0])->s;
      return Value::integer(i < 0 || i >= (int64_t)s.size() ? -1 : (unsigned char)s[i]);
    }
    case B_text_byte_length: return Value::integer((int64_t)need_str(a[0], "__kep_text_byte_length").size());
    case B_text_from_bytes: {
      int64_t offset = int_of(a[1], "an offset"), n = int_of(a[2], "a count");
      // The bytes of a ByteArray, or the UTF-8 bytes of a String.
      const char* bytes;
      int64_t size;
      if (a[0].tag == T_BYTES) {
        bytes = (const char*)as_bytes(a[0])->b.data();
        size = (int64_t)as_bytes(a[0])->b.size();
      } else if (a[0].tag == T_STR) {
        bytes = as_str(a[0])->s.data();
        size = (int64_t)as_str(a[0])->s.size();
      } else {
        return make_str("");
      }
      if (offset < 0 || offset >= size || n < 1) return make_str("");
      n = std::min(n, size - offset);
      return make_str(std::string(bytes + offset, n));
    }
    case B_text_split: return text_split(a[0], a[1]);
    case B_text_join: return text_join(a[0], a[1]);
    case B_text_count: return text_count(a[0], a[1]);
    case B_text_find: return text_find(a[0], a[1]);
    case B_text_replace: return text_replace(a[0], a[1], a[2]);
    case B_text_case: return text_case(a[0], int_of(a[1], "a mode"));
    case B_text_strip: return text_strip(a[0], int_of(a[1], "the ends"));
    case B_text_step:
      return text_step(a[0], int_of(a[1], "a start"), int_of(a[2], "a stop"), int_of(a[3], "a step"));
    case B_fd_open: {
      if (a[0].tag != T_STR) raise_text("TypeError: path must be a String");
      const std::string& path = as_str(a[0])->s;
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
      auto& b = descriptor_buffer(a[1]);
      socklen_t n = (socklen_t)descriptor_count(a[2], b.size());
      return Value::integer(kernel_result(connect((int)int_of(a[0], "a descriptor"), (const sockaddr*)b.data(), n)));
    }
    case B_fd_ioctl: return fd_ioctl(a);
    // The address of a ByteArray's bytes, for the system calls that take a
    // buffer: valid until the ByteArray grows.
    case B_data_address:
      return Value::integer(a[0].tag == T_BYTES ? (int64_t)(intptr_t)as_bytes(a[0])->b.data() : 0);
    case B_syscall:
      return Value::integer(kernel_result(syscall(int_of(a[0], "a system call number"), int_of(a[1], "an argument"),
                                                  int_of(a[2], "an argument"), int_of(a[3], "an argument"),
                                                  int_of(a[4], "an argument"))));
    case B_native_open:
    case B_native_size:
    case B_native_close:
    case B_native_u64:
    case B_native_function:
    case B_native_call:
    case B_native_name_equal:
    case B_fd_mmap:
    case B_mem_pack:
    case B_mem_unpack:
    default: break;
  }
  unsupported_builtin(id);
}

}  // namespace kep
