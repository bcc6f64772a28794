#include "output.hpp"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

namespace kep {

static std::string buffer;

bool wait_writable(int fd, int timeout_ms) {
  pollfd entry = {fd, POLLOUT, 0};
  return poll(&entry, 1, timeout_ms) > 0;
}

// A descriptor that would block is waited for, without a limit, as the
// compiled console writer waits.
bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && wait_writable(fd, -1)) continue;
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

// Output that cannot be written ends the program as in a compiled one: the
// report on standard error and status 1, never a silent success.
void out_flush() {
  if (buffer.empty()) return;
  if (!write_all(1, buffer.data(), buffer.size())) {
    static const char report[] = "KEP runtime error: FileError: cannot write stdout\n";
    write_all(2, report, sizeof report - 1);
    _exit(1);
  }
  buffer.clear();
}

void err_write(const std::string& text) {
  out_flush();
  write_all(2, text.data(), text.size());
}

}  // namespace kep
