// Checks shared by the process tests: every run prints exactly one line and nothing on stderr.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/process.h"

namespace corvane::testing {

inline const std::string corvaneBin = CORVANE_BIN;
inline const std::string simBin = CORVANE_SIM_BIN;

// The run ended normally with `status`, printed exactly `line` plus a line feed, and was silent on
// standard error.
inline void expectReply(const ProcessResult& result, const std::string& line, int status) {
  EXPECT_TRUE(result.exited) << "ended by signal " << result.status;
  EXPECT_EQ(result.status, status);
  EXPECT_EQ(result.out, line + "\n");
  EXPECT_EQ(result.err, "");
}

}  // namespace corvane::testing
