#include "parse_error_wording.h"

#include <cctype>

namespace corvane {

namespace json = boost::json;

std::string locationOf(std::string_view text, std::size_t offset) {
  if (offset > text.size()) offset = text.size();
  std::size_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  std::size_t column = 1;
  for (std::size_t i = lineStart; i < offset; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

namespace {

// True when the six bytes before `offset` are a \u escape of a leading surrogate: the parser stops
// right after one that no trailing surrogate escape follows.
bool followsLeadingSurrogateEscape(std::string_view text, std::size_t offset) {
  if (offset < 6) return false;
  const std::string_view escape = text.substr(offset - 6, 6);
  return escape[0] == '\\' && escape[1] == 'u' && (escape[2] == 'd' || escape[2] == 'D') &&
         std::string_view("89abAB").find(escape[3]) != std::string_view::npos &&
         std::isxdigit(static_cast<unsigned char>(escape[4])) &&
         std::isxdigit(static_cast<unsigned char>(escape[5]));
}

// What is wrong at `offset`, in words more useful than the parser's "syntax error".
std::string whatIsWrong(const json::error_code& error, std::string_view text, std::size_t offset) {
  if (offset == 0 && text.starts_with("\xEF\xBB\xBF"))
    return "byte-order mark before the JSON text";
  if (error == json::error::illegal_leading_surrogate ||
      error == json::error::illegal_trailing_surrogate ||
      error == json::error::expected_utf16_escape ||
      (error == json::error::syntax && followsLeadingSurrogateEscape(text, offset))) {
    return "unpaired UTF-16 surrogate escape";
  }
  if (error != json::error::syntax) return error.message();
  if (offset >= text.size()) return "unexpected end of input";
  const auto byte = static_cast<unsigned char>(text[offset]);
  if (byte >= 0x80) return "invalid UTF-8 or unexpected character";
  if (byte < 0x20 || byte == 0x7F) {
    static constexpr char hex[] = "0123456789ABCDEF";
    return std::string("unexpected control character U+00") + hex[byte >> 4] + hex[byte & 0xF];
  }
  return std::string("unexpected character '") + static_cast<char>(byte) + "'";
}

}  // namespace

std::string describeParseError(const json::error_code& error, std::string_view text,
                               std::size_t offset, std::size_t maxDepth) {
  const std::string where = locationOf(text, offset);
  if (error == json::error::too_deep) {
    return "nesting deeper than " + std::to_string(maxDepth) + " levels at " + where;
  }
  if (error == json::error::incomplete) return "unexpected end of input at " + where;
  if (error == json::error::extra_data) return "unexpected text after the JSON value at " + where;
  return "syntax error at " + where + ": " + whatIsWrong(error, text, offset);
}

}  // namespace corvane
