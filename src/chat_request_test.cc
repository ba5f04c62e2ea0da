#include "chat_request.h"

#include <gtest/gtest.h>

#include <charconv>
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
  const auto* failure = std::get_if<DecodeFailure>(&decoded);
  if (failure) return "error: " + failure->description;
  const auto& request = std::get<ChatRequest>(decoded);
  const auto text = [](const std::optional<std::string>& t) {
    std::ostringstream quoted;
    t ? quoted << std::quoted(*t) : quoted << "null";
    return quoted.str();
  };
  std::ostringstream out;
  out << "[";
  for (const auto& message : request.messages)
    out << "{" << text(message.role) << " " << text(message.content) << "}";
  out << "]";
  if (request.temperature) {
    char shortest[32];  // the shortest text that reads back to the same double
    const auto end = std::to_chars(shortest, shortest + sizeof shortest, *request.temperature).ptr;
    out << " temperature=" << std::string_view(shortest, end - shortest);
  }
  if (request.maxTokens) out << " maxTokens=" << *request.maxTokens;
  if (request.instructions) out << " instructions=" << text(request.instructions);
  return out.str();
}

// <XX> in a case stands for the byte of hexadecimal value XX.
std::string bytes(std::string text) {
  for (auto at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    text.replace(at, 4, 1, static_cast<char>(std::stoi(text.substr(at + 1, 2), nullptr, 16)));
  }
  return text;
}

TEST(ChatRequest, Decoding) {
  std::ifstream file(dataDir / "requests.txt");
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    const auto arrow = line.find(" => ");
    if (line.starts_with('#') || arrow == std::string::npos) continue;
    EXPECT_EQ(describe(bytes(line.substr(0, arrow))), bytes(line.substr(arrow + 4))) << line;
    ++checked;
  }
  EXPECT_GT(checked, 75);
  const auto nested = [](std::size_t depth) {
    return R"({"messages":[],"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
  };
  EXPECT_EQ(describe(nested(1000)), "[]");
  EXPECT_EQ(describe(nested(1024)),
            "error: nesting deeper than 1024 levels at line 1, column 1043");
  EXPECT_EQ(describe(std::string(1000000, '[')),
            "error: nesting deeper than 1024 levels at line 1, column 1025");
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
    EXPECT_TRUE(kind == 'i' || std::holds_alternative<ChatRequest>(decoded) == (kind == 'y'))
        << entry.path();
    ++checked;
  }
  EXPECT_EQ(checked, 318);
}

}  // namespace
}  // namespace corvane
