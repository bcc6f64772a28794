// UTF-8 text by characters.
#include "utf8.hpp"

#include <algorithm>

namespace kep {

size_t utf8_width(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

int64_t count_chars(const std::string& text) {
  int64_t n = 0;
  for (size_t i = 0; i < text.size(); i += utf8_width((unsigned char)text[i])) n++;
  return n;
}

static CharSpans split(const std::string& text, bool lines) {
  CharSpans chars;
  for (size_t off = 0; off < text.size();) {
    size_t stop = std::min(utf8_width((unsigned char)text[off]), text.size() - off);
    size_t w = 1;
    while (w < stop && !(lines && text[off + w] == '\n')) w++;
    chars.push_back({(uint32_t)off, (uint32_t)w});
    off += w;
  }
  return chars;
}

CharSpans split_chars(const std::string& text) { return split(text, false); }

CharSpans split_source_chars(const std::string& text) { return split(text, true); }

std::string utf8_of(uint64_t c) {
  std::string s;
  if (c < 0x80) {
    s += (char)c;
  } else if (c < 0x800) {
    s += (char)(0xC0 | (c >> 6));
    s += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += (char)(0xE0 | (c >> 12));
    s += (char)(0x80 | ((c >> 6) & 0x3F));
    s += (char)(0x80 | (c & 0x3F));
  } else {
    s += (char)((0xF0 | (uint64_t)((int64_t)c >> 18)) & 0xFF);
    s += (char)(0x80 | ((c >> 12) & 0x3F));
    s += (char)(0x80 | ((c >> 6) & 0x3F));
    s += (char)(0x80 | (c & 0x3F));
  }
  return s;
}

int64_t ord_of(const std::string& s) {
  auto b = [&](size_t k) -> uint64_t { return k < s.size() ? (unsigned char)s[k] : 0; };
  uint64_t b0 = b(0);
  if (b0 < 0x80) return (int64_t)b0;
  if (b0 < 0xE0) return (int64_t)(((b0 & 0x1F) << 6) | (b(1) & 0x3F));
  if (b0 < 0xF0) return (int64_t)(((b0 & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F));
  return (int64_t)(((b0 & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F));
}

}  // namespace kep
