// Buffered standard output. Standard error is written at once, after the
// pending standard output, so the two streams keep their relative order.
#pragma once
#include <cstddef>
#include <string>

namespace kep {

void out_write(const char* data, size_t size);
inline void out_write(const std::string& text) { out_write(text.data(), text.size()); }
void out_flush();
void err_write(const std::string& text);
// Writes everything to a descriptor, retrying short writes and waiting
// while it would block; false on failure.
bool write_all(int fd, const char* data, size_t size);
// Waits up to timeout_ms (-1: no limit) for the descriptor to take bytes;
// false when the time ran out.
bool wait_writable(int fd, int timeout_ms);

}  // namespace kep
