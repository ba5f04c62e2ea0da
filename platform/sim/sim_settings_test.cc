#include "sim_settings.h"

#include <gtest/gtest.h>

#include <charconv>
#include <fstream>

namespace corvane::sim {
namespace {

// \xHH for a byte; anything else as it is.
std::string unescape(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned byte = 0;
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      std::from_chars(text.data() + i + 2, text.data() + i + 4, byte, 16);
      i += 3;
    } else {
      byte = static_cast<unsigned char>(text[i]);
    }
    bytes.push_back(static_cast<char>(byte));
  }
  return bytes;
}

// The lengths of the pieces pieceEnd cuts "LENGTH ANSWER" into.
std::string pieces(const std::string& setting) {
  const auto space = setting.find(' ');
  const std::string answer = unescape(setting.substr(space + 1));
  std::string lengths;
  for (std::size_t at = 0, end; at < answer.size(); at = end) {
    end = pieceEnd(answer, at, parseCount(setting.substr(0, space).c_str()));
    if (!lengths.empty()) lengths.push_back(' ');
    lengths.append(std::to_string(end - at));
  }
  return lengths;
}

// tests/data/sim_settings.txt: what parseOsVersion, parseAvailability, parseDelayMs,
// parseModelFailure and parseCount read, and how pieceEnd cuts an answer.
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
        : line.starts_with("count ")   ? std::to_string(parseCount(given))
        : line.starts_with("pieces ")  ? pieces(value)
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
