// decodeChatRequest on arbitrary bytes, against the document tree Boost.JSON parses from them: a
// syntax failure where it refuses them, else its records (temperature: fast_float's reading of the
// text, an exact conversion written apart from the C library's) or its first failing field in field
// order.
#include <fast_float/fast_float.h>

#include <boost/json.hpp>
#include <cmath>

#include "chat_request.h"
#include "harness.h"

namespace json = boost::json;

// The text of the last number given to the top-level "temperature" member, which the tree does not
// keep, from bytes the tree parser accepted: strings skipped whole, keys compared once unescaped.
static std::string temperatureText(std::string_view bytes) {
  std::string text;
  std::size_t depth = 0;
  bool inTemperature = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    depth += (c == '{' || c == '[') - (c == '}' || c == ']');
    if (c == '"') {
      const std::size_t from = i;
      while (bytes[++i] != '"') i += bytes[i] == '\\';
      if (depth == 1)
        inTemperature = json::parse(bytes.substr(from, i + 1 - from)) == "temperature";
    } else if (depth == 1 && inTemperature && (c == '-' || (c >= '0' && c <= '9'))) {
      text = bytes.substr(i, bytes.find_first_not_of("+-.0123456789Ee", i) - i);
      i += text.size() - 1;
    }
  }
  return text;
}

constexpr std::string_view syntaxFailures[] = {"syntax error at ", "unexpected end of input at ",
                                               "unexpected text after the JSON value at ",
                                               "nesting deeper than "};

void fuzz(std::string_view bytes, FuzzedDataProvider&) {
  const auto decoded = decodeChatRequest(bytes);
  const auto* failure = std::get_if<DecodeFailure>(&decoded);
  const auto failsWith = [&](std::string_view start) {
    return failure != nullptr && failure->description.starts_with(start);
  };
  const auto refuse = [&](std::string_view start) { FUZZ_CHECK(failsWith(start)); };
  const json::parse_options options{.max_depth = 1024};  // the decoder's, to judge the same text
  json::error_code error;
  const json::value top = json::parse(bytes, error, {}, options);
  // The tree parser refuses exponents past an int, which are JSON and which the decoder reads (its
  // table holds those cases); such a text has no tree to compare with.
  if (error == json::error::exponent_overflow) return;
  if (error) return FUZZ_CHECK(std::ranges::any_of(syntaxFailures, failsWith));
  // The tree's request or first failure; it keeps the last of repeated keys, like the decoder.
  const auto given = [](const json::value& object, std::string_view key) {
    const json::value* value = object.get_object().if_contains(key);
    return value != nullptr && !value->is_null() ? value : nullptr;
  };
  if (!top.is_object()) return refuse("expected a JSON object at the top level");
  const json::value* messages = top.get_object().if_contains("messages");
  if (messages == nullptr) return refuse("messages: missing");
  if (!messages->is_array()) return refuse("messages: expected an array");
  ChatRequest want;
  for (const json::value& element : messages->get_array()) {
    const std::string at = "messages[" + std::to_string(want.messages.size()) + "]";
    if (!element.is_object()) return refuse(at + ": expected an object");
    const json::value* role = element.get_object().if_contains("role");
    if (role == nullptr) return refuse(at + ".role: missing");
    if (!role->is_string()) return refuse(at + ".role: expected a string");
    const json::value* content = given(element, "content");
    if (content && !content->is_string()) return refuse(at + ".content: expected a string or null");
    want.messages.push_back({std::string(role->get_string()), {}});
    if (content != nullptr) want.messages.back().content = content->get_string();
  }
  if (const json::value* temperature = given(top, "temperature")) {
    if (!temperature->is_number()) return refuse("temperature: expected a number or null");
    // fast_float rounds to nearest, ties to even, and gives an infinity on overflow and a zero of
    // the text's sign on underflow.
    const std::string text = temperatureText(bytes);
    double& value = want.temperature.emplace();
    fast_float::from_chars(text.data(), text.data() + text.size(), value);
    if (!std::isfinite(value)) return refuse("temperature: ");
  }
  if (const json::value* maxTokens = given(top, "maxTokens")) {
    if (!maxTokens->is_number()) return refuse("maxTokens: expected an integer or null");
    if (!maxTokens->is_int64()) return refuse("maxTokens: ");
    want.maxTokens = maxTokens->get_int64();
  }
  if (const json::value* instructions = given(top, "instructions")) {
    if (!instructions->is_string()) return refuse("instructions: expected a string or null");
    want.instructions = instructions->get_string();
  }
  // What a request holds, with the temperature's sign so that -0 and 0 are told apart.
  const auto fields = [](const ChatRequest& request) {
    std::vector<std::pair<std::string, std::optional<std::string>>> messages;
    for (const auto& m : request.messages) messages.emplace_back(m.role, m.content);
    return std::tuple(messages, request.temperature, std::signbit(request.temperature.value_or(0)),
                      request.maxTokens, request.instructions);
  };
  const auto* got = std::get_if<ChatRequest>(&decoded);
  FUZZ_CHECK(got != nullptr && fields(*got) == fields(want));
}
