#include "json_text.h"

#include "byte_words.h"

namespace corvane {
namespace {

// Whether none of the eight bytes at `bytes` is written escaped: no quotation mark, reverse
// solidus, solidus or control character. Bytes past ASCII never are (and never look like one here:
// their high bit keeps them out of the control test).
bool wordIsPlain(const char* bytes) {
  const std::uint64_t word = wordAt(bytes);
  return !hasByteBelow(word, 0x20) && !hasByte(word, '"') && !hasByte(word, '\\') &&
         !hasByte(word, '/');
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Plain text is passed over eight bytes at a time and copied in one piece below.
    while (text.size() - i >= 8 && wordIsPlain(text.data() + i)) i += 8;
    if (i == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    const char* escape = nullptr;
    switch (c) {
      case '"':
        escape = "\\\"";
        break;
      case '\\':
        escape = "\\\\";
        break;
      case '/':
        escape = "\\/";
        break;
      case '\b':
        escape = "\\b";
        break;
      case '\f':
        escape = "\\f";
        break;
      case '\n':
        escape = "\\n";
        break;
      case '\r':
        escape = "\\r";
        break;
      case '\t':
        escape = "\\t";
        break;
      default:
        if (c >= 0x20) continue;
    }
    // Copy the plain run before this character in one piece.
    out.append(text.substr(runStart, i - runStart));
    runStart = i + 1;
    if (escape != nullptr) {
      out.append(escape);
    } else {
      const char code[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
      out.append(code, sizeof code);
    }
  }
  out.append(text.substr(runStart));
  out.push_back('"');
}

}  // namespace corvane
