// The entry and the availability report as a calling application sees them.
#include <string>

#include "support/expectations.h"
#include "support/process.h"

namespace corvane::testing {
namespace {

const std::string tooOld =
    R"({"available":false,"reason":"Requires macOS 26 or later with Apple Intelligence."})";

ProcessResult run(const std::string& bin, std::vector<std::string> args,
                  std::vector<std::pair<std::string, std::string>> env = {}) {
  ProcessOptions options;
  options.args = std::move(args);
  options.env = std::move(env);
  return runProcess(bin, options);
}

std::string unknown(const std::string& echoed) {
  return "{\"error\":\"unknown command: " + echoed + " (expected 'availability' or 'chat')\"}";
}

TEST(Entry, ProductionBuildAnswersTooOldHere) {
  expectReply(run(corvaneBin, {}), tooOld, 0);
  expectReply(run(corvaneBin, {"availability"}), tooOld, 0);
  expectReply(run(corvaneBin, {"availability", "--verbose", "chat"}), tooOld, 0);
  // The stand-in's variables mean nothing to the production build.
  expectReply(run(corvaneBin, {}, {{"CORVANE_SIM_OS_VERSION", "27"}}), tooOld, 0);
}

class StandInEntry : public ::testing::TestWithParam<std::string> {};
CORVANE_ON_EACH_STAND_IN(StandInEntry);

TEST_P(StandInEntry, UnknownWordsAreEchoedAndRefused) {
  struct Case {
    std::string word, echoed;
  };
  const Case cases[] = {
      {"Chat", "Chat"},
      {"AVAILABILITY", "AVAILABILITY"},
      {" chat", " chat"},
      {"chat ", "chat "},
      {"avail", "avail"},
      {"", ""},  // two spaces between the colon and the parenthesis
      {"--help", "--help"},
      {"a/b \"q\" \\ \t\n", "a\\/b \\\"q\\\" \\\\ \\t\\n"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"bad\xFF\xC3", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& bin : {corvaneBin, GetParam()}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(bin + " " + c.word);
      expectReply(run(bin, {c.word, "chat"}), unknown(c.echoed), 1);
    }
  }
}

TEST_P(StandInEntry, ReportsEachAvailabilityState) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> env;
    std::string reply;
  };
  const Case cases[] = {
      {{}, R"({"available":true})"},
      {{{"CORVANE_SIM_OS_VERSION", "26.0.0"}}, R"({"available":true})"},
      {{{"CORVANE_SIM_OS_VERSION", "15.6"}}, tooOld},
      {{{"CORVANE_SIM_OS_VERSION", "abc"}}, tooOld},
      {{{"CORVANE_SIM_AVAILABILITY", "deviceNotEligible"}},
       R"({"available":false,"reason":"This device is not eligible for Apple Intelligence."})"},
      {{{"CORVANE_SIM_AVAILABILITY", "appleIntelligenceNotEnabled"}},
       R"({"available":false,"reason":"Apple Intelligence is turned off. Enable it in System Settings."})"},
      {{{"CORVANE_SIM_AVAILABILITY", "modelNotReady"}},
       R"({"available":false,"reason":"The on-device model is downloading or not ready yet. Try again shortly."})"},
      {{{"CORVANE_SIM_AVAILABILITY", "someFutureReason"}},
       R"({"available":false,"reason":"Apple Intelligence is unavailable on this device."})"},
      // The version gate comes first.
      {{{"CORVANE_SIM_OS_VERSION", "25.9.9"}, {"CORVANE_SIM_AVAILABILITY", "modelNotReady"}},
       tooOld},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    expectReply(run(GetParam(), {"availability"}, c.env), c.reply, 0);
  }
}

TEST_P(StandInEntry, TraceShowsTheGateOrder) {
  const std::string trace = temporaryPath("trace");
  run(GetParam(), {}, {{"CORVANE_SIM_TRACE", trace}});
  run(GetParam(), {}, {{"CORVANE_SIM_TRACE", trace}, {"CORVANE_SIM_OS_VERSION", "15"}});
  run(GetParam(), {}, {{"CORVANE_SIM_TRACE", trace}, {"CORVANE_SIM_AVAILABILITY", "x"}});
  EXPECT_EQ(readFile(trace),
            "{\"op\":\"osVersion\",\"atLeast\":\"26.0.0\",\"result\":true}\n"
            "{\"op\":\"availability\",\"result\":\"available\"}\n"
            "{\"op\":\"osVersion\",\"atLeast\":\"26.0.0\",\"result\":false}\n"
            "{\"op\":\"osVersion\",\"atLeast\":\"26.0.0\",\"result\":true}\n"
            "{\"op\":\"availability\",\"result\":\"other\"}\n");
  std::remove(trace.c_str());
}

TEST_P(StandInEntry, UnwritableTraceIsSkippedSilently) {
  expectReply(run(GetParam(), {}, {{"CORVANE_SIM_TRACE", "/nonexistent/dir/trace"}}),
              R"({"available":true})", 0);
}

}  // namespace
}  // namespace corvane::testing
