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

CharSpans split_chars(const std::string& text) {
  CharSpans chars;
  for (size_t off = 0; off < text.size();) {
    size_t w = std::min(utf8_width((unsigned char)text[off]), text.size() - off);
    chars.push_back({(uint32_t)off, (uint32_t)w});
    off += w;
  }
  return chars;
}

}  // namespace kep
