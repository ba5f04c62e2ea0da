// Checks shared by the process tests: every run prints exactly one line and nothing on stderr.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace corvane::testing {

inline const std::string corvaneBin = CORVANE_BIN;
inline const std::string simBin = CORVANE_SIM_BIN;

// The executables whose model is the stand-in driven by CORVANE_SIM_*: corvane-sim, and, where the
// Swift part is built, corvane-apple-sim (the macOS adapter and Swift bridge on a stand-in
// framework). Process tests of the stand-in run once for each.
inline std::vector<std::string> standInBins() {
  std::vector<std::string> bins{simBin};
#ifdef CORVANE_APPLE_SIM_BIN
  bins.emplace_back(CORVANE_APPLE_SIM_BIN);
#endif
  return bins;
}

inline bool isAppleSim(const std::string& bin) { return bin.ends_with("corvane-apple-sim"); }

inline std::string standInName(const ::testing::TestParamInfo<std::string>& info) {
  return isAppleSim(info.param) ? "AppleSim" : "Sim";
}

// Runs every TEST_P of `suite` (a ::testing::TestWithParam<std::string>) on each stand-in.
#define CORVANE_ON_EACH_STAND_IN(suite) \
  INSTANTIATE_TEST_SUITE_P(, suite, ::testing::ValuesIn(standInBins()), standInName)

// The run ended normally with `status`, printed exactly `line` plus a line feed, and was silent on
// standard error.
inline void expectReply(const ProcessResult& result, const std::string& line, int status) {
  EXPECT_TRUE(result.exited) << "ended by signal " << result.status;
  EXPECT_EQ(result.status, status);
  EXPECT_EQ(result.out, line + "\n");
  EXPECT_EQ(result.err, "");
}

}  // namespace corvane::testing
