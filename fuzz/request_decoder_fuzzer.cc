// The chat request decoder on arbitrary bytes, checked against a decoding of the document tree
// Boost.JSON builds from the same bytes. The decoder must never crash; whenever it accepts, the
// tree parser accepts too and the records hold exactly what the tree says; whenever it reports a
// syntax problem, the tree parser refuses the bytes as well; and a request it refuses for a field
// names the first failing field in field order. An accepted temperature is the value
// std::from_chars reads from its text.
#include <boost/json.hpp>
#include <boost/json/basic_parser_impl.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "chat_request.h"
#include "fuzz_check.h"

namespace {

namespace json = boost::json;
using corvane::ChatMessage;
using corvane::ChatRequest;

// The decoder's nesting limit; the tree parser gets the same one so that both judge the same text.
constexpr std::size_t maxDepth = 1024;

// Either the request or the start of the decoder's description of its first failure.
using Reference = std::variant<ChatRequest, std::string>;

const json::value* lastMember(const json::object& object, std::string_view key) {
  // The tree keeps the last of repeated keys, as the decoder does.
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &found->value();
}

std::optional<std::string> messageFailure(const json::value& element, std::size_t index,
                                          ChatMessage& message) {
  const std::string at = "messages[" + std::to_string(index) + "]";
  if (!element.is_object()) return at + ": expected an object";
  const json::object& object = element.get_object();
  const json::value* role = lastMember(object, "role");
  if (role == nullptr) return at + ".role: missing";
  if (!role->is_string()) return at + ".role: expected a string";
  message.role = std::string(role->get_string());
  if (const json::value* content = lastMember(object, "content")) {
    if (content->is_string()) {
      message.content = std::string(content->get_string());
    } else if (!content->is_null()) {
      return at + ".content: expected a string or null";
    }
  }
  return std::nullopt;
}

// Collects the text of the last number given to the top-level "temperature" member, which the
// document tree does not keep.
class TemperatureText {
 public:
  static constexpr std::size_t max_object_size = std::size_t(-1);
  static constexpr std::size_t max_array_size = std::size_t(-1);
  static constexpr std::size_t max_key_size = std::size_t(-1);
  static constexpr std::size_t max_string_size = std::size_t(-1);

  std::string text;

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) {
    ++depth_;
    return true;
  }
  bool on_object_end(std::size_t, json::error_code&) {
    --depth_;
    return true;
  }
  bool on_array_begin(json::error_code&) {
    ++depth_;
    return true;
  }
  bool on_array_end(std::size_t, json::error_code&) {
    --depth_;
    return true;
  }
  bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
    key_.append(part.data(), part.size());
    return true;
  }
  bool on_key(json::string_view part, std::size_t, json::error_code&) {
    key_.append(part.data(), part.size());
    inTemperature_ = depth_ == 1 && key_ == "temperature";
    key_.clear();
    return true;
  }
  bool on_string_part(json::string_view, std::size_t, json::error_code&) { return true; }
  bool on_string(json::string_view, std::size_t, json::error_code&) { return true; }
  bool on_number_part(json::string_view part, json::error_code&) { return number(part, false); }
  bool on_int64(std::int64_t, json::string_view part, json::error_code&) {
    return number(part, true);
  }
  bool on_uint64(std::uint64_t, json::string_view part, json::error_code&) {
    return number(part, true);
  }
  bool on_double(double, json::string_view part, json::error_code&) { return number(part, true); }
  bool on_bool(bool, json::error_code&) { return true; }
  bool on_null(json::error_code&) { return true; }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

 private:
  bool number(json::string_view part, bool last) {
    if (depth_ == 1 && inTemperature_) {
      if (!inNumber_) text.clear();
      text.append(part.data(), part.size());
      inNumber_ = !last;
    }
    return true;
  }

  std::size_t depth_ = 0;
  std::string key_;
  bool inTemperature_ = false;
  bool inNumber_ = false;
};

// The temperature a number member gives: the nearest double to its text, or nothing when that is
// infinite. std::from_chars gives no value out of a double's range; which side the text lies on is
// told by the tree's value (Boost.JSON's, inexact only in the last places): there a value of at
// least 1 overflows, a smaller one is a zero of the text's sign.
std::optional<double> expectedTemperature(std::string_view text, const json::value& number) {
  double value = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc()) {
    return value;
  }
  if (std::abs(number.to_number<double>()) >= 1) return std::nullopt;
  return text.starts_with('-') ? -0.0 : 0.0;
}

Reference referenceDecode(const json::value& document, std::string_view temperatureText) {
  if (!document.is_object()) return std::string("expected a JSON object at the top level");
  const json::object& top = document.get_object();
  ChatRequest request;

  const json::value* messages = lastMember(top, "messages");
  if (messages == nullptr) return std::string("messages: missing");
  if (!messages->is_array()) return std::string("messages: expected an array");
  std::size_t index = 0;
  for (const json::value& element : messages->get_array()) {
    ChatMessage message;
    if (auto failure = messageFailure(element, index++, message)) return *failure;
    request.messages.push_back(std::move(message));
  }

  if (const json::value* temperature = lastMember(top, "temperature")) {
    if (temperature->is_number()) {
      const auto value = expectedTemperature(temperatureText, *temperature);
      if (!value) return std::string("temperature: ");
      request.temperature = *value;
    } else if (!temperature->is_null()) {
      return std::string("temperature: expected a number or null");
    }
  }
  if (const json::value* maxTokens = lastMember(top, "maxTokens")) {
    if (maxTokens->is_int64()) {
      request.maxTokens = maxTokens->get_int64();
    } else if (maxTokens->is_number()) {
      return std::string("maxTokens: ");
    } else if (!maxTokens->is_null()) {
      return std::string("maxTokens: expected an integer or null");
    }
  }
  if (const json::value* instructions = lastMember(top, "instructions")) {
    if (instructions->is_string()) {
      request.instructions = std::string(instructions->get_string());
    } else if (!instructions->is_null()) {
      return std::string("instructions: expected a string or null");
    }
  }
  return request;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool isSyntaxDescription(std::string_view description) {
  return startsWith(description, "syntax error at ") ||
         startsWith(description, "unexpected end of input at ") ||
         startsWith(description, "unexpected text after the JSON value at ") ||
         startsWith(description, "nesting deeper than ");
}

bool sameMessages(const ChatRequest& a, const ChatRequest& b) {
  if (a.messages.size() != b.messages.size()) return false;
  for (std::size_t i = 0; i < a.messages.size(); ++i) {
    if (a.messages[i].role != b.messages[i].role) return false;
    if (a.messages[i].content != b.messages[i].content) return false;
  }
  return true;
}

bool sameTemperature(std::optional<double> a, std::optional<double> b) {
  // Bitwise, so that -0 and 0 are told apart.
  if (a.has_value() != b.has_value()) return false;
  return !a || (std::signbit(*a) == std::signbit(*b) && *a == *b);
}

bool sameRequest(const ChatRequest& a, const ChatRequest& b) {
  return sameMessages(a, b) && sameTemperature(a.temperature, b.temperature) &&
         a.maxTokens == b.maxTokens && a.instructions == b.instructions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto decoded = corvane::decodeChatRequest(bytes);

  json::parse_options options;
  options.max_depth = maxDepth;
  json::error_code error;
  const json::value document = json::parse(bytes, error, {}, options);

  if (error) {
    // The tree parser refused the text: so must the decoder, for its syntax.
    const auto* failure = std::get_if<corvane::DecodeFailure>(&decoded);
    FUZZ_CHECK(failure != nullptr);
    FUZZ_CHECK(isSyntaxDescription(failure->description));
    return 0;
  }

  json::basic_parser<TemperatureText> temperatureParser(options);
  temperatureParser.write_some(false, bytes.data(), bytes.size(), error);
  FUZZ_CHECK(!error);
  const Reference expected = referenceDecode(document, temperatureParser.handler().text);
  if (const auto* request = std::get_if<ChatRequest>(&expected)) {
    const auto* got = std::get_if<ChatRequest>(&decoded);
    FUZZ_CHECK(got != nullptr);
    FUZZ_CHECK(sameRequest(*got, *request));
  } else {
    const auto* failure = std::get_if<corvane::DecodeFailure>(&decoded);
    FUZZ_CHECK(failure != nullptr);
    FUZZ_CHECK(startsWith(failure->description, std::get<std::string>(expected)));
  }
  return 0;
}
