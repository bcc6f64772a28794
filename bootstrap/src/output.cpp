#include "output.hpp"

#include <errno.h>
#include <unistd.h>

namespace kep {

static std::string buffer;

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= (size_t)n;
  }
  return true;
}

void out_write(const char* data, size_t size) {
  buffer.append(data, size);
  if (buffer.size() >= (1 << 16)) out_flush();
}

void out_flush() {
  if (buffer.empty()) return;
  write_all(1, buffer.data(), buffer.size());
  buffer.clear();
}

void err_write(const std::string& text) {
  out_flush();
  write_all(2, text.data(), text.size());
}

}  // namespace kep
