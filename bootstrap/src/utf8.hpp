// UTF-8 text by characters (code points), each found from its lead byte.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kep {

// Byte length of the character (code point) that starts with a lead byte.
size_t utf8_width(unsigned char lead);

// Number of characters (code points, by lead byte) of a text.
int64_t count_chars(const std::string& text);

using CharSpans = std::vector<std::pair<uint32_t, uint32_t>>;

// The characters of a text as byte offset and byte length; a character cut
// short by the end of the text ends with it.
CharSpans split_chars(const std::string& text);

// The characters of a source text as the lexer reads them: as split_chars,
// but a line feed is always a character of its own, so that a malformed
// sequence at the end of a comment or a String never takes the line's end.
CharSpans split_source_chars(const std::string& text);

// The UTF-8 form of a code point (of any value below 2^21).
std::string utf8_of(uint64_t c);

// The code point that starts a text, from its lead byte and the
// continuation bytes it announces; a byte past the end counts as 0 bits.
int64_t ord_of(const std::string& s);

}  // namespace kep
