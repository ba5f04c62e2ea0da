// Decodes the chat request in one streaming pass of Boost.JSON's basic_parser, straight into the
// records: no document tree is built, so a request of tens of megabytes costs about what validating
// it costs, and memory stays near the input plus the records.
//
// The parser validates the whole text (strict JSON, UTF-8, surrogate pairs). Field problems are
// recorded as they are met and only reported after the text proved valid, in field order: the
// answer must not depend on where in the document a member stands.
#include "chat_request.h"

#include "parse_error_wording.h"

#include <algorithm>
#include <boost/json/basic_parser_impl.hpp>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace corvane {
namespace {

namespace json = boost::json;

// Deeper documents are refused; the parser keeps its own stack, so this is a policy, not a guard
// against recursion.
constexpr std::size_t maxNestingDepth = 1024;
// Number texts echoed in a description are shortened to this many bytes.
constexpr std::size_t maxEchoedNumber = 40;

enum class ValueKind { null, boolean, number, string, array, object };

// A C string, which every caller can append as it is: each is a literal, ended by its NUL.
const char* describe(ValueKind kind) {
  switch (kind) {
    case ValueKind::null:
      return "null";
    case ValueKind::boolean:
      return "a boolean";
    case ValueKind::number:
      return "a number";
    case ValueKind::string:
      return "a string";
    case ValueKind::array:
      return "an array";
    case ValueKind::object:
      return "an object";
  }
  return "a value";
}

std::string echoNumber(std::string_view text) {
  if (text.size() <= maxEchoedNumber) return std::string(text);
  return std::string(text.substr(0, maxEchoedNumber)) + "\xE2\x80\xA6";
}

// The double nearest to the value of a JSON number's text (ties to even), or nothing when that is
// infinite. strtod rounds exactly in the C libraries this runs on (glibc, and Apple's libc from
// gdtoa), for any number of digits, and gives an infinity on overflow and a subnormal or a zero of
// the text's sign on underflow. Floating-point std::from_chars would do the same, but Apple's
// libc++ ships it only from macOS 26 on, and the program runs from macOS 14. The program never
// leaves the "C" locale, so strtod reads the decimal point as JSON writes it.
std::optional<double> finiteDoubleOf(const std::string& text) {
  const double value = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// A field's outcome so far. A repeated key starts it afresh: the last occurrence counts.
template <typename T>
struct Field {
  std::optional<T> value;
  std::string failure;  // empty: no failure
  void reset() {
    value.reset();
    failure.clear();
  }
};

// The request's own keys, compared exactly as written (after unescaping); every other key names a
// member the request ignores.
enum class TopKey { messages, temperature, maxTokens, instructions, other };

TopKey topKeyOf(std::string_view key) {
  if (key == "messages") return TopKey::messages;
  if (key == "temperature") return TopKey::temperature;
  if (key == "maxTokens") return TopKey::maxTokens;
  if (key == "instructions") return TopKey::instructions;
  return TopKey::other;
}

enum class MessageKey { role, content, other };

MessageKey messageKeyOf(std::string_view key) {
  if (key == "role") return MessageKey::role;
  if (key == "content") return MessageKey::content;
  return MessageKey::other;
}

// What an open container is to the request. Everything below an ignored container, or deeper than
// a message, is only validated.
enum class Container { topObject, messageList, message, ignored };

// One message as its members arrive.
struct MessageInProgress {
  bool hasRole = false;
  std::optional<ValueKind> badRole;  // role is null or not a string
  std::optional<ValueKind> badContent;
  ChatMessage message;

  void reset() {
    hasRole = false;
    badRole.reset();
    badContent.reset();
    message.role.clear();
    message.content.reset();
  }

  std::string failure() const {
    if (badRole) return std::string("role: expected a string, found ") + describe(*badRole);
    if (!hasRole) return "role: missing";
    if (badContent) {
      return std::string("content: expected a string or null, found ") + describe(*badContent);
    }
    return {};
  }
};

class RequestHandler {
 public:
  static constexpr std::size_t max_object_size = std::size_t(-1);
  static constexpr std::size_t max_array_size = std::size_t(-1);
  static constexpr std::size_t max_key_size = std::size_t(-1);
  static constexpr std::size_t max_string_size = std::size_t(-1);

  // The text being parsed may be a copy of the request with some exponents rewritten (see
  // withExponentsZeroed); number texts are then read from the original at the same offsets.
  void readNumbersFrom(const char* parsed, const char* original) {
    parsed_ = parsed;
    original_ = original;
  }

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }

  bool on_object_begin(json::error_code&) {
    Container opened = Container::ignored;
    if (depth_ == 0) {
      topIsObject_ = true;
      opened = Container::topObject;
    } else if (innermost() == Container::messageList) {
      if (messagesOpen()) {
        current_.reset();
        opened = Container::message;
      }
    } else {
      scalarOrContainer(ValueKind::object);
    }
    open(opened);
    return true;
  }

  bool on_object_end(std::size_t, json::error_code&) {
    if (innermost() == Container::message) finishMessage();
    close();
    return true;
  }

  bool on_array_begin(json::error_code&) {
    Container opened = Container::ignored;
    if (depth_ == 0) {
      topKind_ = ValueKind::array;
    } else if (innermost() == Container::topObject && topKey_ == TopKey::messages) {
      messages_.reset();
      messages_.value.emplace();
      messageIndex_ = 0;
      opened = Container::messageList;
    } else {
      scalarOrContainer(ValueKind::array);
    }
    open(opened);
    return true;
  }

  bool on_array_end(std::size_t, json::error_code&) {
    close();
    return true;
  }

  bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
    appendKey(part);
    return true;
  }

  bool on_key(json::string_view part, std::size_t, json::error_code&) {
    appendKey(part);
    const std::string_view key = keyTooLong_ ? std::string_view("-") : std::string_view(key_);
    if (innermost() == Container::topObject) topKey_ = topKeyOf(key);
    if (innermost() == Container::message) messageKey_ = messageKeyOf(key);
    key_.clear();
    keyTooLong_ = false;
    return true;
  }

  bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
    if (!stringTarget_ && !stringStarted_) stringTarget_ = beginString();
    stringStarted_ = true;
    if (stringTarget_) stringTarget_->append(part.data(), part.size());
    return true;
  }

  bool on_string(json::string_view part, std::size_t, json::error_code&) {
    if (!stringStarted_) stringTarget_ = beginString();
    if (stringTarget_) stringTarget_->append(part.data(), part.size());
    stringTarget_ = nullptr;
    stringStarted_ = false;
    return true;
  }

  bool on_number_part(json::string_view part, json::error_code&) {
    if (numberIsRead()) appendNumberText(part);
    return true;
  }

  bool on_int64(std::int64_t value, json::string_view rest, json::error_code&) {
    number(rest, value);
    return true;
  }

  // Integers past the signed 64-bit range, and every number with a fraction or an exponent. The
  // parser's own value is not used: temperature is converted from the text.
  bool on_uint64(std::uint64_t, json::string_view rest, json::error_code&) {
    number(rest, std::nullopt);
    return true;
  }

  bool on_double(double, json::string_view rest, json::error_code&) {
    number(rest, std::nullopt);
    return true;
  }

  bool on_bool(bool, json::error_code&) {
    scalarOrContainer(ValueKind::boolean);
    return true;
  }

  bool on_null(json::error_code&) {
    scalarOrContainer(ValueKind::null);
    return true;
  }

  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

  // The outcome once the whole text parsed: the request, or the first failure in field order.
  std::variant<ChatRequest, DecodeFailure> result() {
    if (!topIsObject_) {
      return DecodeFailure{std::string("expected a JSON object at the top level, found ") +
                           describe(topKind_)};
    }
    if (!messages_.value && messages_.failure.empty()) return DecodeFailure{"messages: missing"};
    for (const std::string* failure :
         {&messages_.failure, &temperature_.failure, &maxTokens_.failure, &instructions_.failure}) {
      if (!failure->empty()) return DecodeFailure{*failure};
    }
    ChatRequest request;
    request.messages = std::move(*messages_.value);
    request.temperature = temperature_.value;
    request.maxTokens = maxTokens_.value;
    request.instructions = std::move(instructions_.value);
    return request;
  }

 private:
  Container innermost() const {
    if (depth_ == 0) return Container::ignored;
    return depth_ <= trackedDepth ? containers_[depth_ - 1] : Container::ignored;
  }

  void open(Container container) {
    if (depth_ < trackedDepth) containers_[depth_] = container;
    ++depth_;
  }

  void close() { --depth_; }

  bool messagesOpen() const { return messages_.value.has_value() && messages_.failure.empty(); }

  void appendKey(json::string_view part) {
    // Known keys are short; a longer key is simply not one of them and is never copied whole.
    if (keyTooLong_ || key_.size() + part.size() > 16) {
      keyTooLong_ = true;
      return;
    }
    key_.append(part.data(), part.size());
  }

  // Where the string that starts now is kept, if anywhere; also records a wrongly typed field.
  std::string* beginString() {
    if (depth_ == 0) {
      topKind_ = ValueKind::string;
      return nullptr;
    }
    if (innermost() == Container::topObject) {
      if (topKey_ == TopKey::instructions) {
        instructions_.reset();
        return &instructions_.value.emplace();
      }
      scalarOrContainer(ValueKind::string);
      return nullptr;
    }
    if (innermost() == Container::message) {
      if (messageKey_ == MessageKey::role) {
        current_.hasRole = true;
        current_.badRole.reset();
        current_.message.role.clear();
        return &current_.message.role;
      }
      if (messageKey_ == MessageKey::content) {
        current_.badContent.reset();
        return &current_.message.content.emplace();
      }
      return nullptr;
    }
    scalarOrContainer(ValueKind::string);
    return nullptr;
  }

  // A value other than a string, or a container that is not part of the request's shape, in the
  // current position: records what it means for the field it belongs to.
  void scalarOrContainer(ValueKind kind) {
    if (depth_ == 0) {
      topKind_ = kind;
      return;
    }
    switch (innermost()) {
      case Container::topObject:
        topLevelValue(kind);
        break;
      case Container::messageList:
        if (messagesOpen()) {
          messages_.failure = "messages[" + std::to_string(messageIndex_) +
                              "]: expected an object, found " + std::string(describe(kind));
        }
        ++messageIndex_;
        break;
      case Container::message:
        messageValue(kind);
        break;
      case Container::ignored:
        break;
    }
  }

  void topLevelValue(ValueKind kind) {
    const std::string found(describe(kind));
    const bool isNull = kind == ValueKind::null;
    switch (topKey_) {
      case TopKey::messages:
        messages_.reset();
        messages_.failure = "messages: expected an array, found " + found;
        break;
      case TopKey::temperature:
        temperature_.reset();
        if (!isNull)
          temperature_.failure = "temperature: expected a number or null, found " + found;
        break;
      case TopKey::maxTokens:
        maxTokens_.reset();
        if (!isNull) maxTokens_.failure = "maxTokens: expected an integer or null, found " + found;
        break;
      case TopKey::instructions:
        instructions_.reset();
        if (!isNull)
          instructions_.failure = "instructions: expected a string or null, found " + found;
        break;
      case TopKey::other:
        break;
    }
  }

  void messageValue(ValueKind kind) {
    if (messageKey_ == MessageKey::role) {
      current_.hasRole = true;
      current_.badRole = kind;
    } else if (messageKey_ == MessageKey::content) {
      current_.message.content.reset();
      if (kind == ValueKind::null) {
        current_.badContent.reset();
      } else {
        current_.badContent = kind;
      }
    }
  }

  void finishMessage() {
    if (messagesOpen()) {
      const std::string failure = current_.failure();
      if (!failure.empty()) {
        messages_.failure = "messages[" + std::to_string(messageIndex_) + "]." + failure;
        messages_.value->clear();
        messages_.value->shrink_to_fit();
      } else {
        messages_.value->push_back(std::move(current_.message));
      }
    }
    ++messageIndex_;
  }

  void appendNumberText(json::string_view part) {
    numberText_.append(original_ + (part.data() - parsed_), part.size());
  }

  // Whether a number in the current position is a field's value, whose text is then collected.
  bool numberIsRead() const {
    return innermost() == Container::topObject &&
           (topKey_ == TopKey::temperature || topKey_ == TopKey::maxTokens);
  }

  // A number in the current position; `int64` is its value when it is a signed 64-bit integer.
  void number(json::string_view rest, std::optional<std::int64_t> int64) {
    if (!numberIsRead()) {
      scalarOrContainer(ValueKind::number);
      return;
    }
    appendNumberText(rest);
    if (topKey_ == TopKey::temperature) {
      temperature_.reset();
      if (const auto value = finiteDoubleOf(numberText_)) {
        temperature_.value = *value;
      } else {
        temperature_.failure =
            "temperature: " + echoNumber(numberText_) + " is out of the range of a double";
      }
    } else {
      maxTokens_.reset();
      if (int64) {
        maxTokens_.value = *int64;
      } else if (numberText_.find_first_of(".eE") != std::string::npos) {
        maxTokens_.failure = "maxTokens: expected an integer, found " + echoNumber(numberText_);
      } else {
        maxTokens_.failure =
            "maxTokens: " + echoNumber(numberText_) + " is outside the signed 64-bit range";
      }
    }
    numberText_.clear();
  }

  static constexpr std::size_t trackedDepth = 3;  // top object, message list, message
  Container containers_[trackedDepth] = {};
  std::size_t depth_ = 0;

  bool topIsObject_ = false;
  ValueKind topKind_ = ValueKind::null;
  TopKey topKey_ = TopKey::other;
  MessageKey messageKey_ = MessageKey::other;
  std::string key_;
  bool keyTooLong_ = false;

  std::string* stringTarget_ = nullptr;
  bool stringStarted_ = false;
  std::string numberText_;
  const char* parsed_ = nullptr;
  const char* original_ = nullptr;

  Field<std::vector<ChatMessage>> messages_;
  std::size_t messageIndex_ = 0;
  MessageInProgress current_;
  Field<double> temperature_;
  Field<std::int64_t> maxTokens_;
  Field<std::string> instructions_;
};

// Boost.JSON refuses a number whose exponent, with the shift its digits add (one for each integer
// digit past those its mantissa holds, one for each leading zero of the fraction), does not fit an
// int ("exponent overflow"), although the text is valid JSON: an exponent of ten digits, or a
// billion digits beside an exponent of nine. The handler takes no value from the parser but the
// integers of texts without an exponent, and reads every number's text from the original, so only
// the copy's validity matters: in it every exponent reads 0, padded to its own width so that every
// offset stays, and the shift alone fits an int for any number of fewer than 2^31 digits. Strings
// are passed over whole, so their contents never change.
std::string withExponentsZeroed(std::string_view text) {
  std::string copy(text);
  for (std::size_t i = 0; i < copy.size(); ++i) {
    if (copy[i] == '"') {
      for (++i; i < copy.size() && copy[i] != '"'; ++i) i += copy[i] == '\\';
      continue;
    }
    if ((copy[i] != 'e' && copy[i] != 'E') || i == 0 || !std::isdigit((unsigned char)copy[i - 1]))
      continue;
    std::size_t start = i + 1;
    if (start < copy.size() && (copy[start] == '+' || copy[start] == '-')) ++start;
    std::size_t end = start;
    while (end < copy.size() && std::isdigit(static_cast<unsigned char>(copy[end]))) ++end;
    std::fill(copy.begin() + start, copy.begin() + end, '0');
    i = end - 1;
  }
  return copy;
}

// Parses `parsed`, which is `original` or a copy of it of the same length.
std::variant<ChatRequest, DecodeFailure> decode(std::string_view parsed, std::string_view original,
                                                json::error_code& error) {
  json::parse_options options;
  options.max_depth = maxNestingDepth;
  json::basic_parser<RequestHandler> parser(options);
  parser.handler().readNumbersFrom(parsed.data(), original.data());
  const std::size_t used = parser.write_some(false, parsed.data(), parsed.size(), error);
  if (!error && used < parsed.size()) error = json::error::extra_data;
  if (error) return DecodeFailure{describeParseError(error, original, used, maxNestingDepth)};
  return parser.handler().result();
}

}  // namespace

std::variant<ChatRequest, DecodeFailure> decodeChatRequest(std::string_view bytes) {
  json::error_code error;
  auto decoded = decode(bytes, bytes, error);
  if (error == json::error::exponent_overflow) {
    const std::string zeroed = withExponentsZeroed(bytes);
    decoded = decode(zeroed, bytes, error);
  }
  return decoded;
}

}  // namespace corvane
