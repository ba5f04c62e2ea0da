// The quick decoder: one tight pass over a request that is valid, straight into the records.
//
// Nearly every request an application sends is valid, and most of its bytes are message texts.
// Boost.JSON's parser looks at those one byte at a time once a string holds an escape, branching on
// the kind of each character; this reader passes eight plain bytes at a time and checks the others
// with a small automaton that does not branch on them. It never describes a failure: at the first
// thing it does not take it gives up, and the complete decoder reads the request from the start, so
// every refusal, and everything this reader does not handle, is exactly the complete decoder's.
// What it does take, it must decode exactly as the complete decoder would: it accepts a subset of
// strict JSON (nothing Boost.JSON rejects), applies the same field rules, and leaves numbers to
// Boost.JSON's own parser.
#include <array>
#include <boost/json/basic_parser_impl.hpp>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "chat_request_paths.h"

namespace corvane {
namespace {

namespace json = boost::json;

// Deeper values are left to the complete decoder, which allows 1024 levels: this one recurses.
constexpr int maxDepth = 48;
// Longer numbers are left to the complete decoder: no exponent or digit count of these can
// overflow Boost.JSON's counters, so both accept the same ones.
constexpr std::size_t maxNumberLength = 64;
constexpr std::size_t maxExponentDigits = 8;

// A number's value as Boost.JSON's parser reports it: which callback, and its argument.
struct ParsedNumber {
  enum class Kind { none, int64, uint64, floating } kind = Kind::none;
  std::int64_t int64 = 0;
  std::uint64_t uint64 = 0;
  double floating = 0;
};

// Catches the one number of a one-element array, so that a number's value comes from the very code
// that gives it to the complete decoder.
class NumberHandler {
 public:
  static constexpr std::size_t max_object_size = std::size_t(-1);
  static constexpr std::size_t max_array_size = std::size_t(-1);
  static constexpr std::size_t max_key_size = std::size_t(-1);
  static constexpr std::size_t max_string_size = std::size_t(-1);

  ParsedNumber number;

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) { return false; }
  bool on_object_end(std::size_t, json::error_code&) { return false; }
  bool on_array_begin(json::error_code&) { return true; }
  bool on_array_end(std::size_t, json::error_code&) { return true; }
  bool on_key_part(json::string_view, std::size_t, json::error_code&) { return false; }
  bool on_key(json::string_view, std::size_t, json::error_code&) { return false; }
  bool on_string_part(json::string_view, std::size_t, json::error_code&) { return false; }
  bool on_string(json::string_view, std::size_t, json::error_code&) { return false; }
  bool on_number_part(json::string_view, json::error_code&) { return true; }
  bool on_int64(std::int64_t value, json::string_view, json::error_code&) {
    number.kind = ParsedNumber::Kind::int64;
    number.int64 = value;
    return true;
  }
  bool on_uint64(std::uint64_t value, json::string_view, json::error_code&) {
    number.kind = ParsedNumber::Kind::uint64;
    number.uint64 = value;
    return true;
  }
  bool on_double(double value, json::string_view, json::error_code&) {
    number.kind = ParsedNumber::Kind::floating;
    number.floating = value;
    return true;
  }
  bool on_bool(bool, json::error_code&) { return false; }
  bool on_null(json::error_code&) { return false; }
  bool on_comment_part(json::string_view, json::error_code&) { return false; }
  bool on_comment(json::string_view, json::error_code&) { return false; }
};

ParsedNumber parseNumber(std::string_view token) {
  std::string text = "[";
  text.append(token).push_back(']');
  json::basic_parser<NumberHandler> parser(json::parse_options{});
  json::error_code error;
  const std::size_t used = parser.write_some(false, text.data(), text.size(), error);
  if (error || used != text.size()) return {};
  return parser.handler().number;
}

unsigned hexValue(char c) {
  if (c <= '9') return static_cast<unsigned>(c - '0');
  return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// The UTF-16 code unit of the four hex digits at p, or nothing.
std::optional<char32_t> codeUnitAt(const char* p) {
  if (!isHexDigit(p[0]) || !isHexDigit(p[1]) || !isHexDigit(p[2]) || !isHexDigit(p[3])) return {};
  return static_cast<char32_t>((hexValue(p[0]) << 12) | (hexValue(p[1]) << 8) |
                               (hexValue(p[2]) << 4) | hexValue(p[3]));
}

bool isLeadingSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isTrailingSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// String contents are checked by a small automaton over bytes: well-formed UTF-8 (no overlong
// form, no surrogate, nothing past U+10FFFF), no control character, and a stop at a quote or
// backslash, which only ever come between characters. Each state is a bit offset, and each byte's
// row holds the next state for every state at that offset, so one step is a table load that does
// not wait for the state and a shift that does, with no branch to mispredict on the mix of one- to
// four-byte characters that message texts are.
enum Utf8State : unsigned {
  between = 0,   // between characters
  needs1 = 6,    // one more continuation byte
  needs2 = 12,   // two more
  needs3 = 18,   // three more
  afterE0 = 24,  // then A0..BF (no overlong form), then one more
  afterED = 30,  // then 80..9F (no surrogate), then one more
  afterF0 = 36,  // then 90..BF (no overlong form), then two more
  afterF4 = 42,  // then 80..8F (nothing past U+10FFFF), then two more
  stopped = 48,  // a quote, a backslash or a control character, between characters
  broken = 54,   // ill-formed; stays so
};

constexpr unsigned nextState(unsigned state, unsigned byte) {
  if (state == stopped || state == broken) return state;
  const bool continuation = byte >= 0x80 && byte <= 0xBF;
  if (state != between) {
    if (!continuation) return broken;
    switch (state) {
      case needs1:
        return between;
      case needs2:
        return needs1;
      case needs3:
        return needs2;
      case afterE0:
        return byte >= 0xA0 ? needs1 : broken;
      case afterED:
        return byte <= 0x9F ? needs1 : broken;
      case afterF0:
        return byte >= 0x90 ? needs2 : broken;
      default:  // afterF4
        return byte <= 0x8F ? needs2 : broken;
    }
  }
  if (byte == '"' || byte == '\\' || byte < 0x20) return stopped;
  if (byte < 0x80) return between;
  if (byte >= 0xC2 && byte <= 0xDF) return needs1;
  if (byte == 0xE0) return afterE0;
  if (byte == 0xED) return afterED;
  if (byte >= 0xE1 && byte <= 0xEF) return needs2;
  if (byte == 0xF0) return afterF0;
  if (byte >= 0xF1 && byte <= 0xF3) return needs3;
  if (byte == 0xF4) return afterF4;
  return broken;  // continuation bytes, C0, C1, F5..FF
}

constexpr std::array<std::uint64_t, 256> makeUtf8Rows() {
  std::array<std::uint64_t, 256> rows{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    for (unsigned state = between; state <= broken; state += 6) {
      rows[byte] |= std::uint64_t{nextState(state, byte)} << state;
    }
  }
  return rows;
}

constexpr std::array<std::uint64_t, 256> utf8Rows = makeUtf8Rows();

// The state after `byte`. Only the low six bits of a state count: the shift takes no others, so
// they are never masked off in between.
std::uint64_t step(std::uint64_t state, unsigned char byte) {
  return utf8Rows[byte] >> (state & 63);
}

// True when one of the eight bytes needs a closer look inside a string: a quote, a backslash, a
// control character, or a byte of a multi-byte character. Each test is exact as a yes or no for
// the whole word, which is all that is asked.
bool needsLook(std::uint64_t word) {
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  const auto hasZeroByte = [](std::uint64_t x) { return (x - ones) & ~x & highs; };
  const std::uint64_t below20 = (word - ones * 0x20) & ~word & highs;
  return (hasZeroByte(word ^ (ones * '"')) | hasZeroByte(word ^ (ones * '\\')) | below20 |
          (word & highs)) != 0;
}

// Writes the UTF-8 form of `codePoint` at `to`; returns the end of what it wrote.
char* writeUtf8(char* to, char32_t codePoint) {
  if (codePoint < 0x80) {
    *to++ = static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    *to++ = static_cast<char>(0xC0 | (codePoint >> 6));
    *to++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    *to++ = static_cast<char>(0xE0 | (codePoint >> 12));
    *to++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *to++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    *to++ = static_cast<char>(0xF0 | (codePoint >> 18));
    *to++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    *to++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *to++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return to;
}

// A string's contents as they stand between its quotes, already checked.
struct RawString {
  std::string_view text;
  bool escaped = false;

  // The decoded text. Escapes were checked when the string was scanned, and each is at least as
  // long as what it stands for, so the text is decoded into a buffer of the raw length.
  std::string decoded() const {
    if (!escaped) return std::string(text);
    std::string out(text.size(), '\0');
    char* to = out.data();
    const char* from = text.data();
    const char* const end = from + text.size();
    for (;;) {
      const auto* slash =
          static_cast<const char*>(std::memchr(from, '\\', static_cast<std::size_t>(end - from)));
      const char* const runEnd = slash == nullptr ? end : slash;
      std::memcpy(to, from, static_cast<std::size_t>(runEnd - from));
      to += runEnd - from;
      if (slash == nullptr) break;
      from = slash + 2;
      switch (slash[1]) {
        case 'b':
          *to++ = '\b';
          break;
        case 'f':
          *to++ = '\f';
          break;
        case 'n':
          *to++ = '\n';
          break;
        case 'r':
          *to++ = '\r';
          break;
        case 't':
          *to++ = '\t';
          break;
        case 'u': {
          char32_t codePoint = *codeUnitAt(from);
          from += 4;
          if (isLeadingSurrogate(codePoint)) {
            const char32_t trailing = *codeUnitAt(from + 2);
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (trailing - 0xDC00);
            from += 6;
          }
          to = writeUtf8(to, codePoint);
          break;
        }
        default:  // '"', '\\' and '/' stand for themselves
          *to++ = slash[1];
      }
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
    return out;
  }
};

class TypicalRequestReader {
 public:
  explicit TypicalRequestReader(std::string_view bytes)
      : p_(reinterpret_cast<const unsigned char*>(bytes.data())), end_(p_ + bytes.size()) {}

  std::optional<ChatRequest> read() {
    ChatRequest request;
    bool hasMessages = false;
    if (!take('{')) return {};
    if (!peekIs('}')) {
      do {
        std::string_view key;
        if (!readKey(key)) return {};
        switch (topKeyOf(key)) {
          case TopKey::messages:
            // A repeated member counts as its last occurrence.
            if (!readMessages(request.messages)) return {};
            hasMessages = true;
            break;
          case TopKey::temperature:
            if (!readTemperature(request.temperature)) return {};
            break;
          case TopKey::maxTokens:
            if (!readMaxTokens(request.maxTokens)) return {};
            break;
          case TopKey::instructions:
            if (!readNullableString(request.instructions)) return {};
            break;
          case TopKey::other:
            if (!skipValue(1)) return {};
            break;
        }
      } while (takeComma());
    }
    if (!take('}')) return {};
    skipWhitespace();
    if (p_ != end_ || !hasMessages) return {};
    return request;
  }

 private:
  void skipWhitespace() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  bool peekIs(char c) {
    skipWhitespace();
    return p_ != end_ && *p_ == static_cast<unsigned char>(c);
  }

  bool take(char c) {
    if (!peekIs(c)) return false;
    ++p_;
    return true;
  }

  bool takeComma() { return take(','); }

  // A member's key and its colon. An escaped key is left to the complete decoder.
  bool readKey(std::string_view& key) {
    RawString raw;
    if (!take('"') || !scanString(raw) || raw.escaped || !take(':')) return false;
    key = raw.text;
    return true;
  }

  // The rest of a string whose opening quote was taken, up to and past its closing quote. Eight
  // bytes at a time: skipped at once when plain ASCII between characters, else stepped through
  // the automaton; a word with a stop or a fault in it is then gone through byte by byte.
  bool scanString(RawString& raw) {
    const unsigned char* const start = p_;
    raw.escaped = false;
    std::uint64_t state = between;
    for (;;) {
      if (end_ - p_ >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p_, sizeof word);
        if ((state & 63) == between && !needsLook(word)) {
          p_ += 8;
          continue;
        }
        std::uint64_t after = state;
        for (int i = 0; i < 8; ++i) after = step(after, p_[i]);
        if ((after & 63) < stopped) {
          state = after;
          p_ += 8;
          continue;
        }
      }
      if (p_ == end_) return false;
      const std::uint64_t next = step(state, *p_);
      if ((next & 63) == broken) return false;
      if ((next & 63) != stopped) {
        state = next;
        ++p_;
      } else if (*p_ == '"') {
        raw.text = std::string_view(reinterpret_cast<const char*>(start),
                                    static_cast<std::size_t>(p_ - start));
        ++p_;
        return true;
      } else if (*p_ == '\\') {
        if (!scanEscape()) return false;
        raw.escaped = true;
      } else {
        return false;  // a control character
      }
    }
  }

  // An escape at p_; a \u escape of a surrogate only as a leading one followed by a trailing one.
  bool scanEscape() {
    if (end_ - p_ < 2) return false;
    switch (p_[1]) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't':
        p_ += 2;
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    if (end_ - p_ < 6) return false;
    const auto unit = codeUnitAt(reinterpret_cast<const char*>(p_) + 2);
    if (!unit || isTrailingSurrogate(*unit)) return false;
    if (!isLeadingSurrogate(*unit)) {
      p_ += 6;
      return true;
    }
    if (end_ - p_ < 12 || p_[6] != '\\' || p_[7] != 'u') return false;
    const auto trailing = codeUnitAt(reinterpret_cast<const char*>(p_) + 8);
    if (!trailing || !isTrailingSurrogate(*trailing)) return false;
    p_ += 12;
    return true;
  }

  // A number in strict JSON form, within the limits above.
  bool scanNumber(std::string_view& token) {
    const unsigned char* const start = p_;
    const auto digits = [&] {
      const unsigned char* const from = p_;
      while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
      return static_cast<std::size_t>(p_ - from);
    };
    if (p_ != end_ && *p_ == '-') ++p_;
    if (p_ == end_) return false;
    if (*p_ == '0') {
      ++p_;
    } else if (digits() == 0) {
      return false;
    }
    if (p_ != end_ && *p_ == '.') {
      ++p_;
      if (digits() == 0) return false;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      const std::size_t exponentDigits = digits();
      if (exponentDigits == 0 || exponentDigits > maxExponentDigits) return false;
    }
    token = std::string_view(reinterpret_cast<const char*>(start),
                             static_cast<std::size_t>(p_ - start));
    return token.size() <= maxNumberLength;
  }

  bool takeWord(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
      return false;
    }
    p_ += word.size();
    return true;
  }

  bool takeNull() {
    skipWhitespace();
    return takeWord("null");
  }

  // Any value, only checked. `depth` counts the containers around it.
  bool skipValue(int depth) {
    skipWhitespace();
    if (p_ == end_) return false;
    switch (*p_) {
      case '"': {
        ++p_;
        RawString raw;
        return scanString(raw);
      }
      case '{':
        ++p_;
        if (depth >= maxDepth) return false;
        if (peekIs('}')) return take('}');
        do {
          RawString key;
          if (!take('"') || !scanString(key) || !take(':') || !skipValue(depth + 1)) return false;
        } while (takeComma());
        return take('}');
      case '[':
        ++p_;
        if (depth >= maxDepth) return false;
        if (peekIs(']')) return take(']');
        do {
          if (!skipValue(depth + 1)) return false;
        } while (takeComma());
        return take(']');
      case 't':
        return takeWord("true");
      case 'f':
        return takeWord("false");
      case 'n':
        return takeWord("null");
      default: {
        std::string_view token;
        return scanNumber(token);
      }
    }
  }

  bool readNullableString(std::optional<std::string>& target) {
    if (takeNull()) {
      target.reset();
      return true;
    }
    RawString raw;
    if (!take('"') || !scanString(raw)) return false;
    target = raw.decoded();
    return true;
  }

  bool readNumber(ParsedNumber& number) {
    skipWhitespace();
    std::string_view token;
    if (!scanNumber(token)) return false;
    number = parseNumber(token);
    return number.kind != ParsedNumber::Kind::none;
  }

  // The complete decoder's rules: any number that is a finite double, or null.
  bool readTemperature(std::optional<double>& temperature) {
    if (takeNull()) {
      temperature.reset();
      return true;
    }
    ParsedNumber number;
    if (!readNumber(number)) return false;
    double value = 0;
    switch (number.kind) {
      case ParsedNumber::Kind::int64:
        value = static_cast<double>(number.int64);
        break;
      case ParsedNumber::Kind::uint64:
        value = static_cast<double>(number.uint64);
        break;
      case ParsedNumber::Kind::floating:
        value = number.floating;
        break;
      case ParsedNumber::Kind::none:
        return false;
    }
    if (!std::isfinite(value)) return false;
    temperature = value;
    return true;
  }

  // A signed 64-bit integer, or null.
  bool readMaxTokens(std::optional<std::int64_t>& maxTokens) {
    if (takeNull()) {
      maxTokens.reset();
      return true;
    }
    ParsedNumber number;
    if (!readNumber(number) || number.kind != ParsedNumber::Kind::int64) return false;
    maxTokens = number.int64;
    return true;
  }

  bool readMessages(std::vector<ChatMessage>& messages) {
    messages.clear();
    if (!take('[')) return false;
    if (peekIs(']')) return take(']');
    do {
      if (!take('{')) return false;
      messages.emplace_back();
      if (!readMessage(messages.back())) return false;
    } while (takeComma());
    return take(']');
  }

  // A message whose opening brace was taken: a string role, and a string or null content.
  bool readMessage(ChatMessage& message) {
    bool hasRole = false;
    if (peekIs('}')) return false;  // no role
    do {
      std::string_view key;
      if (!readKey(key)) return false;
      if (key == "role") {
        RawString raw;
        if (!take('"') || !scanString(raw)) return false;
        message.role = raw.decoded();
        hasRole = true;
      } else if (key == "content") {
        if (!readNullableString(message.content)) return false;
      } else if (!skipValue(3)) {
        return false;
      }
    } while (takeComma());
    return hasRole && take('}');
  }

  const unsigned char* p_;
  const unsigned char* const end_;
};

}  // namespace

std::optional<ChatRequest> decodeTypicalChatRequest(std::string_view bytes) {
  return TypicalRequestReader(bytes).read();
}

}  // namespace corvane
