#include "sim_settings.h"

#include <gtest/gtest.h>

#include <fstream>

namespace corvane::sim {
namespace {

std::string shown(OsVersion v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

TEST(SimSettings, Cases) {
  std::ifstream file(std::string(CORVANE_SOURCE_DIR) + "/tests/data/sim_settings.txt");
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    const auto space = line.find(' '), arrow = line.rfind(" => ");
    if (line.starts_with('#') || arrow == std::string::npos) continue;
    const std::string kind = line.substr(0, space),
                      value = line.substr(space + 1, arrow - space - 1);
    const char* given = value == "unset" ? nullptr : value.c_str();
    const std::string got = kind == "os" ? shown(parseOsVersion(given))
                            : kind == "availability"
                                ? std::string(availabilityName(parseAvailability(given)))
                                : std::to_string(parseDelayMs(given));
    EXPECT_EQ(got, line.substr(arrow + 4)) << line;
    ++checked;
  }
  EXPECT_GT(checked, 30);
  EXPECT_TRUE(versionAtLeast({26, 0, 0}, {26, 0, 0}) && versionAtLeast({27, 0, 0}, {26, 5, 5}) &&
              versionAtLeast({26, 0, 1}, {26, 0, 0}));
  EXPECT_FALSE(versionAtLeast({25, 9, 9}, {26, 0, 0}));
}

}  // namespace
}  // namespace corvane::sim
