#include "chat_request.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace corvane {
namespace {

std::string failureOf(std::string_view json) {
  const auto decoded = decodeChatRequest(json);
  if (const auto* failure = std::get_if<DecodeFailure>(&decoded)) return failure->description;
  return "<decoded>";
}

ChatRequest decoded(std::string_view json) {
  auto result = decodeChatRequest(json);
  if (auto* failure = std::get_if<DecodeFailure>(&result)) {
    ADD_FAILURE() << json << " failed: " << failure->description;
    return {};
  }
  return std::get<ChatRequest>(std::move(result));
}

// A request with one user message and the given extra members.
std::string withFields(std::string_view fields) {
  return std::string(R"({"messages":[{"role":"user","content":"Hi"}])") +
         (fields.empty() ? "" : ",") + std::string(fields) + "}";
}

TEST(ChatRequest, WorkedExample) {
  const ChatRequest request = decoded(R"({
    "messages": [
      {"role": "system", "content": "Reply in French."},
      {"role": "user", "content": "Good morning"},
      {"role": "assistant", "content": null},
      {"role": "user", "content": "How are you?", "id": 7}
    ],
    "temperature": 0.2, "maxTokens": 400, "stream": false})");
  ASSERT_EQ(request.messages.size(), 4u);
  EXPECT_EQ(request.messages[0].role, "system");
  EXPECT_EQ(request.messages[0].content, "Reply in French.");
  EXPECT_EQ(request.messages[1].content, "Good morning");
  EXPECT_EQ(request.messages[2].role, "assistant");
  EXPECT_FALSE(request.messages[2].content.has_value());
  EXPECT_EQ(request.messages[3].content, "How are you?");
  EXPECT_EQ(request.temperature, 0.2);
  EXPECT_EQ(request.maxTokens, 400);
  EXPECT_FALSE(request.instructions.has_value());
}

TEST(ChatRequest, SmallestRequestAndOptionalFields) {
  const ChatRequest smallest = decoded(R"( {"messages":[]} )");
  EXPECT_TRUE(smallest.messages.empty());
  EXPECT_FALSE(smallest.temperature || smallest.maxTokens || smallest.instructions);

  const ChatRequest nulls = decoded(
      R"({"messages":[{"role":"","content":null},{"role":"SYSTEM"}],"temperature":null,"maxTokens":null,"instructions":null})");
  EXPECT_EQ(nulls.messages[0].role, "");
  EXPECT_EQ(nulls.messages[1].role, "SYSTEM");
  EXPECT_FALSE(nulls.messages[0].content || nulls.messages[1].content);
  EXPECT_FALSE(nulls.temperature || nulls.maxTokens || nulls.instructions);

  EXPECT_EQ(decoded(withFields(R"("instructions":"")")).instructions,
            std::optional<std::string>(""));
  EXPECT_EQ(decoded(withFields(R"("temperature":1)")).temperature, 1.0);
  EXPECT_EQ(decoded(withFields(R"("temperature":-0.5e1)")).temperature, -5.0);
  EXPECT_EQ(decoded(withFields(R"("temperature":1e-400)")).temperature, 0.0);
}

TEST(ChatRequest, TemperatureIsTheNearestDoubleToItsText) {
  // Compared bit for bit, so that the sign of a zero counts.
  const std::pair<std::string, double> accepted[] = {
      {"0e400", 0.0},
      {"-0e-400", -0.0},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"4.9e-324", 0x0.0000000000001p-1022},
      {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
      {"1.7976931348623157e308", 0x1.fffffffffffffp+1023},
      {"1.7976931348623158e308", 0x1.fffffffffffffp+1023},
      {"0.1", 0x1.999999999999ap-4},
      {"1e22", 0x1.0f0cf064dd592p+73},
      {"9007199254740993", 0x1p+53},
      {"-0.23964976333081722", -0x1.eacd7ecp-3},
      {"1234567890123456789012345678901234567890", 0x1.d064903ae06ep+129},
  };
  for (const auto& [text, value] : accepted) {
    const auto temperature = decoded(withFields(R"("temperature":)" + text)).temperature;
    ASSERT_TRUE(temperature.has_value()) << text;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*temperature), std::bit_cast<std::uint64_t>(value))
        << text;
  }
  for (const std::string text : {"1.7976931348623159e308", "1e309"}) {
    EXPECT_EQ(failureOf(withFields(R"("temperature":)" + text)),
              "temperature: " + text + " is out of the range of a double");
  }
}

TEST(ChatRequest, MaxTokensIsASigned64BitInteger) {
  const std::pair<std::string, std::optional<std::int64_t>> accepted[] = {
      {"300", 300},
      {"0", 0},
      {"-5", -5},
      {"-0", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
  };
  for (const auto& [text, value] : accepted) {
    EXPECT_EQ(decoded(withFields(R"("maxTokens":)" + text)).maxTokens, value) << text;
  }
  const std::pair<std::string, std::string> refused[] = {
      {"1.5", "maxTokens: expected an integer, found 1.5"},
      {"2.0", "maxTokens: expected an integer, found 2.0"},
      {"1e3", "maxTokens: expected an integer, found 1e3"},
      {"9223372036854775808", "maxTokens: 9223372036854775808 is outside the signed 64-bit range"},
      {"-9223372036854775809",
       "maxTokens: -9223372036854775809 is outside the signed 64-bit range"},
      {"\"300\"", "maxTokens: expected an integer or null, found a string"},
      {"true", "maxTokens: expected an integer or null, found a boolean"},
  };
  for (const auto& [text, failure] : refused) {
    EXPECT_EQ(failureOf(withFields(R"("maxTokens":)" + text)), failure) << text;
  }
}

TEST(ChatRequest, FieldTypeFailures) {
  const std::pair<std::string, std::string> cases[] = {
      {"{}", "messages: missing"},
      {R"({"Messages":[]})", "messages: missing"},
      {R"({"messages":null})", "messages: expected an array, found null"},
      {R"({"messages":{}})", "messages: expected an array, found an object"},
      {R"({"messages":[null]})", "messages[0]: expected an object, found null"},
      {R"({"messages":[{"role":"u"},"hi"]})", "messages[1]: expected an object, found a string"},
      {R"({"messages":[7]})", "messages[0]: expected an object, found a number"},
      {R"({"messages":[{"content":"x"}]})", "messages[0].role: missing"},
      {R"({"messages":[{"role":null}]})", "messages[0].role: expected a string, found null"},
      {R"({"messages":[{"role":["user"]}]})",
       "messages[0].role: expected a string, found an array"},
      {R"({"messages":[{"role":"u","content":3}]})",
       "messages[0].content: expected a string or null, found a number"},
      {R"({"messages":[{"role":"u","content":[{"type":"text","text":"hi"}]}]})",
       "messages[0].content: expected a string or null, found an array"},
      {R"({"messages":[{"role":"u","content":{}}]})",
       "messages[0].content: expected a string or null, found an object"},
      {withFields(R"("temperature":"0.2")"),
       "temperature: expected a number or null, found a string"},
      {withFields(R"("temperature":true)"),
       "temperature: expected a number or null, found a boolean"},
      {withFields(R"("temperature":1e400)"), "temperature: 1e400 is out of the range of a double"},
      {withFields(R"("instructions":5)"),
       "instructions: expected a string or null, found a number"},
      {"[]", "expected a JSON object at the top level, found an array"},
      {R"([{"role":"user","content":"Hi"}])",
       "expected a JSON object at the top level, found an array"},
      {R"("messages")", "expected a JSON object at the top level, found a string"},
      {"3", "expected a JSON object at the top level, found a number"},
      {"false", "expected a JSON object at the top level, found a boolean"},
      {"null", "expected a JSON object at the top level, found null"},
  };
  for (const auto& [json, failure] : cases) EXPECT_EQ(failureOf(json), failure) << json;
}

TEST(ChatRequest, FirstFailureInFieldOrderNotDocumentOrder) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"instructions":1,"maxTokens":1.5,"temperature":"x","messages":[{"role":1}]})",
       "messages[0].role: expected a string, found a number"},
      {R"({"instructions":1,"maxTokens":1.5,"temperature":"x","messages":[]})",
       "temperature: expected a number or null, found a string"},
      {R"({"instructions":1,"maxTokens":1.5,"messages":[]})",
       "maxTokens: expected an integer, found 1.5"},
      {R"({"messages":[{"content":1},{"role":2}]})", "messages[0].role: missing"},
      {R"({"messages":[{"role":"u","content":1},null]})",
       "messages[0].content: expected a string or null, found a number"},
      // The whole text must be valid before any field is judged.
      {R"({"messages":null,"x":[1,]})",
       "syntax error at line 1, column 25: unexpected character ']'"},
  };
  for (const auto& [json, failure] : cases) EXPECT_EQ(failureOf(json), failure) << json;
}

TEST(ChatRequest, KeysAreExactAfterUnescapingAndTheLastDuplicateCounts) {
  const ChatRequest request = decoded(
      R"({"m\u0065ssages":[{"r\u006fle":"user","content":"a","content":"b"}],"max_tokens":5,"MaxTokens":6,"maxTokens":1.5,"maxTokens":7})");
  EXPECT_EQ(request.messages[0].content, "b");
  EXPECT_EQ(request.maxTokens, 7);
  EXPECT_EQ(failureOf(R"({"messages":[],"messages":null})"),
            "messages: expected an array, found null");
  EXPECT_TRUE(decoded(R"({"messages":[1],"messages":[{"role":"u"}]})").messages.size() == 1);
  EXPECT_EQ(failureOf(R"({"messages":[{"role":"u","role":null}]})"),
            "messages[0].role: expected a string, found null");
}

TEST(ChatRequest, UnknownMembersHoldAnythingValid) {
  const ChatRequest request = decoded(
      R"({"model":"x","stream":true,"n":123456789012345678901234567890,"e":1e400,"deep":{"messages":5,"a":[[[{"role":1}]]]},"messages":[{"role":"user","content":"Hi","id":{"temperature":"x"},"name":null}]})");
  EXPECT_EQ(request.messages.size(), 1u);
  EXPECT_FALSE(request.temperature.has_value());
}

TEST(ChatRequest, TextEncodingRules) {
  EXPECT_EQ(decoded(R"({"messages":[{"role":"u","content":"a\u0000b\ud83d\ude00\/"}]})")
                .messages[0]
                .content,
            std::string("a\0b\xF0\x9F\x98\x80/", 8));
  const std::pair<std::string, std::string> refused[] = {
      {"\xEF\xBB\xBF{\"messages\":[]}",
       "syntax error at line 1, column 1: byte-order mark before the JSON text"},
      {"{\"messages\":[],\"x\":\"\xC3\x28\"}",
       "syntax error at line 1, column 21: invalid UTF-8 or unexpected character"},
      {R"({"messages":[],"x":"\ud800"})",
       "syntax error at line 1, column 27: unpaired UTF-16 surrogate escape"},
      {R"({"messages":[],"x":"\udc00x"})",
       "syntax error at line 1, column 27: unpaired UTF-16 surrogate escape"},
      {"{\"messages\":[],\"x\":\"a\nb\"}",
       "syntax error at line 1, column 22: unexpected control character U+000A"},
  };
  for (const auto& [json, failure] : refused) EXPECT_EQ(failureOf(json), failure) << json;
}

TEST(ChatRequest, MalformedTextIsLocated) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "unexpected end of input at line 1, column 1"},
      {" \n", "unexpected end of input at line 2, column 1"},
      {"{\n  \"messages\": [],\n  \"é\": x}",
       "syntax error at line 3, column 8: unexpected character 'x'"},
      {R"({"messages":[]} x)", "unexpected text after the JSON value at line 1, column 17"},
      {R"({"messages":[],})", "syntax error at line 1, column 16: unexpected character '}'"},
      {R"({'messages':[]})", "syntax error at line 1, column 2: unexpected character '''"},
      {R"({"messages":[],"t":NaN})", "syntax error at line 1, column 20: unexpected character 'N'"},
      {R"({"messages":[]/**/})", "syntax error at line 1, column 15: unexpected character '/'"},
  };
  for (const auto& [json, failure] : cases) EXPECT_EQ(failureOf(json), failure) << json;
}

TEST(ChatRequest, NestingLimit) {
  const auto nested = [](std::size_t depth) {
    return R"({"messages":[],"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
  };
  EXPECT_TRUE(std::holds_alternative<ChatRequest>(decodeChatRequest(nested(1000))));
  EXPECT_EQ(failureOf(nested(1024)), "nesting deeper than 1024 levels at line 1, column 1043");
  EXPECT_EQ(failureOf(std::string(1000000, '[')),
            "nesting deeper than 1024 levels at line 1, column 1025");
}

}  // namespace
}  // namespace corvane
