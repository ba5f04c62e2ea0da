#include "chat_request.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace corvane {
namespace {

const std::filesystem::path dataDir = std::filesystem::path(CORVANE_SOURCE_DIR) / "tests/data";

// What tests/data/requests.txt holds after each request: see there.
std::string describe(std::string_view json) {
  const auto decoded = decodeChatRequest(json);
  if (const auto* failure = std::get_if<DecodeFailure>(&decoded)) {
    return "error: " + failure->description;
  }
  const auto& request = std::get<ChatRequest>(decoded);
  const auto text = [](const std::optional<std::string>& t) {
    std::ostringstream quoted;
    t ? quoted << std::quoted(*t) : quoted << "null";
    return quoted.str();
  };
  std::ostringstream out;
  out << std::setprecision(17) << "[";
  for (const ChatMessage& message : request.messages) {
    out << (&message == &request.messages[0] ? "" : ", ") << std::quoted(message.role) << " "
        << text(message.content);
  }
  out << "]";
  if (request.temperature) out << " temperature=" << *request.temperature;
  if (request.maxTokens) out << " maxTokens=" << *request.maxTokens;
  if (request.instructions) out << " instructions=" << text(request.instructions);
  return out.str();
}

TEST(ChatRequest, Decoding) {
  std::ifstream file(dataDir / "requests.txt");
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    const auto arrow = line.find(" => ");
    if (line.starts_with('#') || arrow == std::string::npos) continue;
    EXPECT_EQ(describe(line.substr(0, arrow)), line.substr(arrow + 4)) << line;
    ++checked;
  }
  EXPECT_GT(checked, 70);
  // Requests that a line of text cannot carry.
  const auto nested = [](std::size_t depth) {
    return R"({"messages":[],"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
  };
  const std::pair<std::string, std::string> cases[] = {
      {"", "unexpected end of input at line 1, column 1"},
      {" \n", "unexpected end of input at line 2, column 1"},
      {"{\n  \"messages\": [],\n  \"\xC3\xA9\": x}",
       "syntax error at line 3, column 8: unexpected character 'x'"},
      {"\xEF\xBB\xBF{\"messages\":[]}",
       "syntax error at line 1, column 1: byte-order mark before the JSON text"},
      {"{\"messages\":[],\"x\":\"\xC3\x28\"}",
       "syntax error at line 1, column 21: invalid UTF-8 or unexpected character"},
      {"{\"messages\":[],\"x\":\"a\nb\"}",
       "syntax error at line 1, column 22: unexpected control character U+000A"},
      {nested(1024), "nesting deeper than 1024 levels at line 1, column 1043"},
      {std::string(1000000, '['), "nesting deeper than 1024 levels at line 1, column 1025"}};
  for (const auto& [json, failure] : cases) {
    EXPECT_EQ(describe(json), "error: " + failure) << json.substr(0, 80);
  }
  EXPECT_EQ(describe(nested(1000)), "[]");
  EXPECT_EQ(describe(R"({"messages":[{"role":"u","content":"a\u0000b"}]})"),
            std::string("[\"u\" \"a\0b\"]", 11));
}

// JSONTestSuite's parsing cases, each as the value of a member the request does not know: the
// whole text is held to JSON wherever a value stands. y_ must be accepted, n_ refused, i_ either.
TEST(ChatRequest, JsonTestSuite) {
  int checked = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(dataDir / "JSONTestSuite/test_parsing")) {
    std::ostringstream value;
    value << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    const char kind = entry.path().filename().string()[0];
    const auto decoded = decodeChatRequest("{\"messages\":[],\"x\":" + value.str() + "}");
    if (kind != 'i') {
      EXPECT_EQ(std::holds_alternative<ChatRequest>(decoded), kind == 'y') << entry.path();
    }
    ++checked;
  }
  EXPECT_EQ(checked, 318);
}

}  // namespace
}  // namespace corvane
