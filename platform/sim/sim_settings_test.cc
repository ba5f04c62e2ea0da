#include "sim_settings.h"

#include <gtest/gtest.h>

#include <fstream>

namespace corvane::sim {
namespace {

// tests/data/sim_settings.txt: what parseOsVersion, parseAvailability, parseDelayMs and
// parseModelFailure read.
TEST(SimSettings, Cases) {
  std::ifstream file(std::string(CORVANE_SOURCE_DIR) + "/tests/data/sim_settings.txt");
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    const auto space = line.find(' '), arrow = line.rfind(" => ");
    if (line.starts_with('#') || arrow == std::string::npos) continue;
    const std::string value = line.substr(space + 1, arrow - space - 1);
    const char* given = value == "unset" ? nullptr : value.c_str();
    const OsVersion os = parseOsVersion(given);
    const std::string got =
        line.starts_with("os ") ? std::to_string(os.major) + "." + std::to_string(os.minor) + "." +
                                      std::to_string(os.patch)
        : line.starts_with("delay ")   ? std::to_string(parseDelayMs(given))
        : line.starts_with("failure ") ? std::string(failureName(parseModelFailure(given)))
                                       : std::string(availabilityName(parseAvailability(given)));
    EXPECT_EQ(got, line.substr(arrow + 4)) << line;
    ++checked;
  }
  EXPECT_GT(checked, 30);
  EXPECT_TRUE(versionAtLeast({26, 0, 0}, {26, 0, 0}) && versionAtLeast({27, 0, 0}, {26, 5, 5}) &&
              versionAtLeast({26, 0, 1}, {26, 0, 0}) && !versionAtLeast({25, 9, 9}, {26, 0, 0}));
}

}  // namespace
}  // namespace corvane::sim
