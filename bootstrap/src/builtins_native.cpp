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

// The pieces of a text between the occurrences of a separator, or -1
// unless both are texts and the separator is not empty. An occurrence is a
// run of whole code points, as the width walk cuts them, equal to those of
// the separator: tried at each code point from the left, and after the end
// of each one found. Code points in the text with the separator's bytes are
// as wide as its own, except where its last one claims more bytes than it
// holds: the text's must then end where the text does.
static Value text_split(const Value& text, const Value& separator) {
  if (text.tag != T_STR || separator.tag != T_STR) return Value::integer(-1);
  const std::string& t = as_str(text)->s;
  const std::string& mark = as_str(separator)->s;
  if (mark.empty()) return Value::integer(-1);
  size_t reach = 0;
  while (reach < mark.size()) reach += utf8_width((unsigned char)mark[reach]);
  bool cut_short = reach > mark.size();
  Value list = make_seq(T_LIST);
  auto& pieces = as_seq(list)->v;
  size_t start = 0, at = 0;
  while (at + mark.size() <= t.size()) {
    if (t.compare(at, mark.size(), mark) == 0 && (!cut_short || at + mark.size() == t.size())) {
      pieces.push_back(make_str(t.substr(start, at - start)));
      at += mark.size();
      start = at;
    } else {
      at += utf8_width((unsigned char)t[at]);
    }
  }
  pieces.push_back(make_str(t.substr(start)));
  return list;
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
      if (a[0].tag != T_BYTES) return make_str("");
      auto& b = as_bytes(a[0])->b;
      if (offset < 0 || offset >= (int64_t)b.size() || n < 1) return make_str("");
      n = std::min(n, (int64_t)b.size() - offset);
      return make_str(std::string(b.begin() + offset, b.begin() + offset + n));
    }
    case B_text_split: return text_split(a[0], a[1]);
    case B_text_join: return text_join(a[0], a[1]);
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
