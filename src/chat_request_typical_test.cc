// The quick decoder against the complete one: whatever the quick one takes, the complete one must
// decode to the very same records, and decodeChatRequest must answer as the complete one does.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "chat_request.h"
#include "chat_request_paths.h"
#include "support/process.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

bool sameBits(const std::optional<double>& a, const std::optional<double>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || std::memcmp(&*a, &*b, sizeof(double)) == 0;
}

::testing::AssertionResult sameRequest(const ChatRequest& a, const ChatRequest& b) {
  if (a.messages.size() != b.messages.size()) {
    return ::testing::AssertionFailure()
           << a.messages.size() << " and " << b.messages.size() << " messages";
  }
  for (std::size_t i = 0; i < a.messages.size(); ++i) {
    if (a.messages[i].role != b.messages[i].role || a.messages[i].content != b.messages[i].content)
      return ::testing::AssertionFailure() << "message " << i << " differs";
  }
  if (!sameBits(a.temperature, b.temperature))
    return ::testing::AssertionFailure() << "temperature";
  if (a.maxTokens != b.maxTokens) return ::testing::AssertionFailure() << "maxTokens";
  if (a.instructions != b.instructions) return ::testing::AssertionFailure() << "instructions";
  return ::testing::AssertionSuccess();
}

// Whether the quick decoder took `bytes`; fails the test when the two decoders disagree.
bool checkAgreement(const std::string& bytes) {
  const auto quick = decodeTypicalChatRequest(bytes);
  const auto complete = decodeAnyChatRequest(bytes);
  const auto combined = decodeChatRequest(bytes);
  if (quick) {
    const auto* request = std::get_if<ChatRequest>(&complete);
    EXPECT_TRUE(request != nullptr) << "taken only by the quick decoder: " << bytes;
    if (request != nullptr) {
      EXPECT_TRUE(sameRequest(*quick, *request)) << bytes;
    }
  }
  if (const auto* request = std::get_if<ChatRequest>(&complete)) {
    const auto* same = std::get_if<ChatRequest>(&combined);
    EXPECT_TRUE(same != nullptr && sameRequest(*same, *request)) << bytes;
  } else {
    const auto* failure = std::get_if<DecodeFailure>(&combined);
    EXPECT_TRUE(failure != nullptr &&
                failure->description == std::get<DecodeFailure>(complete).description)
        << bytes;
  }
  return quick.has_value();
}

// Requests of every form the quick decoder is meant to take.
const std::vector<std::string> typicalRequests = {
    R"({"messages":[]})",
    R"({"messages":[{"role":"user","content":"Hi"}]})",
    " \t\r\n{ \"messages\" : [ { \"role\" : \"user\" , \"content\" : null } ] } \n",
    R"({"instructions":"Be brief.","messages":[{"role":"system","content":"S"},)"
    R"({"role":"user","content":"caf\u00e9 \"q\" \\ \/ \b\f\n\r\t \u0000 \ud83d\ude80 \uFFFF"}],)"
    R"("temperature":0.35,"maxTokens":300})",
    "{\"messages\":[{\"role\":\"assistant\",\"content\":\"caf\xC3\xA9 \xE5\xAD\x97 "
    "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \xEE\x80\x80 \x7F\"}]}",
    R"({"messages":[{"content":"a","role":"tool","name":"x","extra":{"a":[1,2.5,-3e4,true,null]}}]})",
    R"({"x":{"messages":[{"role":1}]},"messages":[{"role":"user","role":"assistant","content":"a",)"
    R"("content":null}],"y":[[[[]]],{}],"z":"\u00e9"})",
    R"({"messages":[{"role":"user"}],"messages":[{"role":"tool","content":"second"}]})",
    R"({"messages":[],"temperature":null,"maxTokens":null,"instructions":null})",
    R"({"messages":[],"instructions":"a","instructions":null,"temperature":1,"temperature":2})",
    R"({"messages":[],"temperature":-0})",
    R"({"messages":[],"temperature":0})",
    R"({"messages":[],"temperature":1e-1})",
    R"({"messages":[],"temperature":2.5E+0})",
    R"({"messages":[],"temperature":0.1000000000000000055511151231257827})",
    R"({"messages":[],"temperature":123456789012345678901234567890})",
    R"({"messages":[],"temperature":1.7976931348623157e308})",
    R"({"messages":[],"temperature":4.9e-324})",
    R"({"messages":[],"maxTokens":-1})",
    R"({"messages":[],"maxTokens":9223372036854775807})",
    R"({"messages":[],"maxTokens":-9223372036854775808})",
    R"({"messages":[],"maxTokens":-0})",
    R"({"MESSAGES":1,"messages ":2,"messages":[{"role":"","content":""}]})",
};

TEST(TypicalRequest, TakenAndDecodedAsTheCompleteDecoderDoes) {
  for (const std::string& request : typicalRequests) {
    EXPECT_TRUE(checkAgreement(request)) << "not taken: " << request;
  }
}

TEST(TypicalRequest, LeavesTheRestToTheCompleteDecoder) {
  const std::vector<std::string> others = {
      "",
      "[]",
      R"({})",
      R"({"messages":null})",
      R"({"messages":[1]})",
      R"({"messages":[{"content":"a"}]})",
      R"({"messages":[{"role":null,"role":"user"}]})",
      R"({"messages":[{"role":"user","content":1}]})",
      R"({"m\u0065ssages":[]})",
      R"({"messages":[{"r\u006fle":"user"}]})",
      R"({"messages":[],"temperature":1e400})",
      R"({"messages":[],"temperature":"0.5"})",
      R"({"messages":[],"maxTokens":1.0})",
      R"({"messages":[],"maxTokens":9223372036854775808})",
      R"({"messages":[],"x":1e999999999})",
      R"({"messages":[],"x":"\ud800"})",
      R"({"messages":[],"x":"\udc00\ud800"})",
      R"({"messages":[],"x":"\ud800\u0041"})",
      R"({"messages":[],"x":[)" + std::string(100, '[') + std::string(100, ']') + "]}",
      "\xEF\xBB\xBF{\"messages\":[]}",
      "{\"messages\":[]} x",
      "{\"messages\":[],}",
      "{\"messages\":[{\"role\":\"user\",}]}",
      "{\"messages\":[],\"x\":\"\xED\xA0\x80\"}",
      "{\"messages\":[],\"x\":\"\xC0\xAF\"}",
      "{\"messages\":[],\"x\":\"\xF4\x90\x80\x80\"}",
      "{\"messages\":[],\"x\":\"\xE0\x9F\xBF\"}",
      "{\"messages\":[],\"x\":\"a\x01\"}",
      "{\"messages\":[],\"x\":\"\xF0\x9F\x98\"}",
      "{\"messages\":[],\"x\":01}",
      "{\"messages\":[],\"x\":-}",
      "{\"messages\":[],\"x\":1.}",
      "{\"messages\":[],\"x\":.5}",
      "{\"messages\":[],\"x\":tru}",
      "{\"messages\":[]",
  };
  for (const std::string& request : others) {
    EXPECT_FALSE(checkAgreement(request)) << "taken: " << request;
  }
}

// Every byte of a request full of features replaced, then removed, then doubled: around each byte
// of each construct the two decoders must still agree.
TEST(TypicalRequest, AgreesAfterEveryOneByteChange) {
  const std::string base =
      "{\"instructions\":\"I\\u00e9\",\"messages\":[{\"role\":\"user\",\"content\":\"a\\n\\\"b\\\" "
      "\\ud83d\\ude80 \xC3\xA9\xE5\xAD\x97\xF0\x9F\x98\x80 plain ascii text\"},{\"role\":"
      "\"assistant\",\"content\":null,\"x\":[1,-2.5e3,true,false,null,{\"k\":\"v\"}]}],"
      "\"temperature\":0.25,\"maxTokens\":64}";
  std::string replacements =
      "\"\\/{}[]:,0-.eEu aZ\x01\x1F\x7F\x80\xBF\xC2\xDF\xE0\xED\xEF\xF0\xF4\xF5\xFF";
  replacements.push_back('\0');
  int taken = 0;
  int checked = 0;
  for (std::size_t at = 0; at < base.size(); ++at) {
    for (const char byte : replacements) {
      std::string changed = base;
      changed[at] = byte;
      taken += checkAgreement(changed);
      ++checked;
    }
    std::string removed = base;
    removed.erase(at, 1);
    taken += checkAgreement(removed);
    std::string doubled = base;
    doubled.insert(at, 1, base[at]);
    taken += checkAgreement(doubled);
    checked += 2;
  }
  // Many changes land inside texts and leave a valid request: the quick path was really taken.
  EXPECT_GT(taken, checked / 10);
}

// The public JSONTestSuite cases as a member's value and as a message's content.
TEST(TypicalRequest, AgreesOnEveryJsonTestSuiteCase) {
  const fs::path suite = fs::path(CORVANE_SOURCE_DIR) / "tests/data/JSONTestSuite/test_parsing";
  ASSERT_TRUE(fs::is_directory(suite)) << suite;
  int taken = 0;
  for (const auto& entry : fs::directory_iterator(suite)) {
    const std::string value = testing::readFile(entry.path().string());
    taken += checkAgreement("{\"messages\":[],\"x\":" + value + "}");
    taken += checkAgreement("{\"messages\":[{\"role\":\"user\",\"content\":" + value + "}]}");
  }
  // All but one of the 95 y_ cases (a number longer than the quick decoder takes) and a few others.
  EXPECT_GT(taken, 100);
}

}  // namespace
}  // namespace corvane
