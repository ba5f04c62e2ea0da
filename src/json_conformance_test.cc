// The public JSONTestSuite parsing cases, each embedded as the value of a member the request does
// not know: strictness of the whole text must not depend on where a value stands.
#include <gtest/gtest.h>

#include <filesystem>

#include "chat_request.h"
#include "support/process.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

const fs::path suiteDir = fs::path(CORVANE_SOURCE_DIR) / "tests/data/JSONTestSuite/test_parsing";

TEST(JsonConformance, EmbeddedCasesAreAcceptedOrRejectedAsTheSuiteSays) {
  ASSERT_TRUE(fs::is_directory(suiteDir)) << suiteDir;
  int checked = 0;
  std::vector<std::string> wrong;
  for (const auto& entry : fs::directory_iterator(suiteDir)) {
    const std::string name = entry.path().filename().string();
    const auto decoded = decodeChatRequest(
        "{\"messages\":[],\"x\":" + testing::readFile(entry.path().string()) + "}");
    const bool accepted = std::holds_alternative<ChatRequest>(decoded);
    if (name.starts_with("y_") && !accepted) {
      wrong.push_back(name + " rejected: " + std::get<DecodeFailure>(decoded).description);
    }
    if (name.starts_with("n_") && accepted) wrong.push_back(name + " accepted");
    ++checked;  // i_ cases only have to come back at all
  }
  EXPECT_EQ(checked, 318);
  EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
}

}  // namespace
}  // namespace corvane
