// The executables in hostile surroundings: standard output that cannot be written, the largest
// arguments the system passes, requests nested a million deep, strings of 100 MB, a million
// messages, NUL characters, and answers that are not UTF-8. docs/robustness.md lists each case with
// the behaviour these tests hold it to.
#include <string>

#include "support/expectations.h"
#include "support/process.h"

namespace corvane::testing {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

const std::string hello = R"({"messages":[{"role":"user","content":"Hello"}]})";
const std::string marker = "\\n\xE2\x80\xA6[truncated for on-device context]";  // as JSON text
const std::string cue = "\\n\\nAssistant:";                                     // as JSON text

ProcessResult chat(const std::string& bin, const std::string& input, Env env = {}) {
  ProcessOptions options;
  options.args = {"chat"};
  options.stdinData = input;
  options.env = std::move(env);
  return runProcess(bin, options);
}

// The cases that reach the model and the worker that writes its reply run on each stand-in.
class HostileWorker : public ::testing::TestWithParam<std::string> {};
CORVANE_ON_EACH_STAND_IN(HostileWorker);

std::string answered(const std::string& content) {
  return R"({"content":")" + content + R"(","finishReason":"stop"})";
}

std::string refused(const std::string& error) { return R"({"error":")" + error + R"("})"; }

std::string repeated(const std::string& text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// Runs a chat on the stand-in with a trace and returns the instructions its session was given, as
// the trace writes them (JSON text, or null).
std::string sessionInstructions(const std::string& bin, const std::string& input) {
  const std::string trace = temporaryPath("trace");
  const ProcessResult result = chat(bin, input, {{"CORVANE_SIM_TRACE", trace}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const auto lines = splitLines(readFile(trace));
  std::remove(trace.c_str());
  const std::string prefix = R"({"op":"session","instructions":)";
  const std::string suffix = R"(,"tools":0})";
  for (const std::string& line : lines) {
    if (line.starts_with(prefix) && line.ends_with(suffix)) {
      return line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    }
  }
  ADD_FAILURE() << "no session in the trace";
  return {};
}

// Whatever standard output is, the run ends by itself with the status its command gives and says
// nothing on standard error; a broken pipe in particular does not end it by signal. Answers larger
// than a pipe holds are covered too.
TEST_P(HostileWorker, UnwritableStandardOutputLeavesTheStatusAlone) {
  struct Run {
    std::string name, bin;
    std::vector<std::string> args;
    std::string input;
    Env env;
    int status;
  };
  const Run runs[] = {
      {"availability", GetParam(), {"availability"}, "", {}, 0},
      {"production availability", corvaneBin, {}, "", {}, 0},
      {"unknown command", GetParam(), {"nope"}, "", {}, 1},
      {"answered chat", GetParam(), {"chat"}, hello, {}, 0},
      {"answer past the buffer",
       GetParam(),
       {"chat"},
       hello,
       {{"CORVANE_SIM_RESPONSE", std::string(100000, 'x')}},
       0},
      {"failed generation", GetParam(), {"chat"}, hello, {{"CORVANE_SIM_ERROR", "boom"}}, 0},
      {"refused chat", GetParam(), {"chat"}, "{}", {}, 1},
  };
  for (const StdoutKind kind : {StdoutKind::closed, StdoutKind::brokenPipe, StdoutKind::full}) {
    for (const Run& run : runs) {
      SCOPED_TRACE(run.name + ", stdout kind " + std::to_string(static_cast<int>(kind)));
      ProcessOptions options;
      options.args = run.args;
      options.stdinData = run.input;
      options.env = run.env;
      options.stdoutKind = kind;
      const ProcessResult result = runProcess(run.bin, options);
      EXPECT_TRUE(result.exited) << "ended by signal " << result.status;
      EXPECT_EQ(result.status, run.status);
      EXPECT_EQ(result.err, "");
    }
  }
}

// Descriptors in non-blocking mode (a property of the open pipe, shared with whoever handed it
// over): standard input that is still empty is waited for, and a reply larger than the pipe holds
// is written whole once the reader reads.
TEST_P(HostileWorker, NonBlockingPipesAreWaitedFor) {
  const std::string answer(100000, 'x');
  struct Case {
    std::string name;
    StdinKind in;
    StdoutKind out;
  };
  const Case cases[] = {
      {"standard input", StdinKind::lateNonBlockingPipe, StdoutKind::collected},
      {"standard output", StdinKind::data, StdoutKind::lateNonBlockingPipe},
      {"both", StdinKind::lateNonBlockingPipe, StdoutKind::lateNonBlockingPipe},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessOptions options;
    options.args = {"chat"};
    options.stdinKind = c.in;
    options.stdinData = hello;
    options.stdoutKind = c.out;
    options.env = {{"CORVANE_SIM_RESPONSE", answer}};
    expectReply(runProcess(GetParam(), options), answered(answer), 0);
  }
}

TEST_P(HostileWorker, NeitherStandardInputNorOutput) {
  ProcessOptions options;
  options.args = {"chat"};
  options.stdinKind = StdinKind::closed;
  options.stdoutKind = StdoutKind::closed;
  const ProcessResult result = runProcess(GetParam(), options);
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
}

// Linux passes one argument of at most 128 KiB (a single 1 MB argument is refused by execve, so the
// program never starts); 1 MB in all is passed as several.
TEST(HostileProcess, LargestArgumentsAreEchoedOrIgnored) {
  constexpr std::size_t longest = 128 * 1024 - 1;
  const auto unknown = [](const std::string& echoed) {
    return refused("unknown command: " + echoed + " (expected 'availability' or 'chat')");
  };
  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string reply;
    int status;
  };
  const Case cases[] = {
      {"longest word", {std::string(longest, 'w')}, unknown(std::string(longest, 'w')), 1},
      {"longest invalid word",
       {std::string(longest, '\xFF')},
       unknown(repeated("\xEF\xBF\xBD", longest)),
       1},
      {"cut sequences",
       {"\xF0\x9F\x98 \xE2\x82 \xC3"},
       unknown("\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD"),
       1},
      {"overlong, surrogate, past U+10FFFF",
       {"\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80"},
       unknown(repeated("\xEF\xBF\xBD", 9)),
       1},
      {"1 MB of ignored arguments",
       {"availability", std::string(longest, 'a'), std::string(longest, 'b'),
        std::string(longest, 'c'), std::string(longest, 'd'), std::string(longest, 'e'),
        std::string(longest, 'f'), std::string(longest, 'g'), std::string(longest, '\xFF')},
       R"({"available":true})",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessOptions options;
    options.args = c.args;
    expectReply(runProcess(simBin, options), c.reply, c.status);
  }
}

TEST(HostileProcess, NestingAMillionDeepIsRefusedAtTheLimit) {
  const std::size_t deep = 1000000;
  const std::string prefix = "invalid chat request JSON: nesting deeper than 1024 levels at ";
  struct Case {
    std::string name, input, where;
  };
  const Case cases[] = {
      {"arrays", std::string(deep, '['), "line 1, column 1025"},
      {"objects", repeated(R"({"a":)", deep), "line 1, column 5121"},
      {"closed arrays as the messages",
       R"({"messages":)" + std::string(deep, '[') + std::string(deep, ']') + "}",
       "line 1, column 1036"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectReply(chat(simBin, c.input), refused(prefix + c.where), 1);
  }
}

TEST_P(HostileWorker, HundredMegabyteStrings) {
  const std::size_t size = 100 * 1000 * 1000;
  const auto request = [](const std::string& field) {
    return R"({"messages":[{"role":"user","content":)" + field + "}]}";
  };
  // With no instructions the newest line keeps 11984 characters, its label among them.
  expectReply(chat(GetParam(), request('"' + std::string(size, 'a') + '"')),
              answered("User: " + std::string(11978, 'a') + marker + cue), 0);
  expectReply(chat(GetParam(), request('"' + repeated("\xC3\xA9", size / 2) + '"')),
              answered("User: " + repeated("\xC3\xA9", 11978) + marker + cue), 0);
  expectReply(chat(GetParam(), request('"' + std::string(size, ' ') + '"')),
              refused("no user content in chat request"), 1);
  expectReply(chat(GetParam(), R"({"x":")" + std::string(size, 'x') + R"(",)" + hello.substr(1)),
              answered("User: Hello" + cue), 0);
  expectReply(
      chat(GetParam(), R"({"messages":[{"role":"user","content":")" + std::string(size, 'a')),
      refused("invalid chat request JSON: unexpected end of input at line 1, column " +
              std::to_string(size + 40)),
      1);
  EXPECT_EQ(sessionInstructions(GetParam(), R"({"instructions":")" + std::string(size, 'i') +
                                                R"(",)" + hello.substr(1)),
            '"' + std::string(4500, 'i') + marker + '"');
}

TEST_P(HostileWorker, AMillionMessages) {
  const std::size_t count = 1000000;
  const std::string user = R"({"role":"user","content":"m"},)";
  const auto request = [](std::string messages) {
    messages.pop_back();  // the last comma
    return R"({"messages":[)" + messages + "]}";
  };
  // Lines of 7 characters, charged 9 each, in the 11984 left: the newest 1331.
  std::string prompt = "User: m";
  for (int i = 1; i < 1331; ++i) prompt += "\\n\\nUser: m";
  expectReply(chat(GetParam(), request(repeated(user, count))), answered(prompt + cue), 0);
  expectReply(chat(GetParam(), request(repeated(R"({"role":"user"},)", count))),
              refused("no user content in chat request"), 1);
  expectReply(chat(GetParam(), request(repeated(user, count - 1) + R"({"content":"m"},)")),
              refused("invalid chat request JSON: messages[999999].role: missing"), 1);
  // Parts joined by blank lines: "s" and two line feeds, three characters, 1500 times.
  EXPECT_EQ(sessionInstructions(
                GetParam(), request(repeated(R"({"role":"system","content":"s"},)", count) + user)),
            '"' + repeated("s\\n\\n", 1500) + marker + '"');
}

TEST_P(HostileWorker, NulCharacters) {
  const std::string prefix = "invalid chat request JSON: ";
  struct Case {
    std::string name, input, reply;
    int status;
  };
  const Case cases[] = {
      {"escaped in content", R"({"messages":[{"role":"user","content":"a\u0000b"}]})",
       answered(R"(User: a\u0000b)" + cue), 0},
      {"escaped in a key", R"({"messages":[{"role":"user","content":"a"}],"mess\u0000ages":1})",
       answered("User: a" + cue), 0},
      {"raw in a string",
       std::string(R"({"messages":[{"role":"user","content":"a)") + '\0' + R"(b"}]})",
       refused(prefix + "syntax error at line 1, column 41: unexpected control character U+0000"),
       1},
      {"raw after the request", hello + '\0',
       refused(prefix + "unexpected text after the JSON value at line 1, column 49"), 1},
      {"raw alone", std::string(1, '\0'),
       refused(prefix + "syntax error at line 1, column 1: unexpected control character U+0000"),
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectReply(chat(GetParam(), c.input), c.reply, c.status);
  }
  EXPECT_EQ(sessionInstructions(GetParam(), R"({"instructions":"x\u0000y",)" + hello.substr(1)),
            R"("x\u0000y")");
}

// An answer or failure text that is not UTF-8 cannot be written: the fallback line, and the status
// of an answered request.
TEST(HostileProcess, AnswerNotValidUtf8GivesTheFallbackLine) {
  const std::string fallback = R"({"error":"failed to encode response"})";
  for (const std::string bytes :
       {"\xFF", "\x80 lone continuation", "\xC0\xAF overlong", "\xED\xA0\x80 surrogate",
        "\xF4\x90\x80\x80 past U+10FFFF", "cut at the end \xF0\x9F\x98"}) {
    SCOPED_TRACE(bytes);
    expectReply(chat(simBin, hello, {{"CORVANE_SIM_RESPONSE", bytes}}), fallback, 0);
    expectReply(chat(simBin, hello, {{"CORVANE_SIM_ERROR", bytes}}), fallback, 0);
  }
}

}  // namespace
}  // namespace corvane::testing

namespace corvane::testing {
namespace {

// Sanitizers reserve terabytes of address space for their shadow memory, so a limit on it cannot
// be tried under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool underSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool underSanitizer = true;
#else
constexpr bool underSanitizer = false;
#endif
#else
constexpr bool underSanitizer = false;
#endif

// A request larger than the memory the process may use is refused in words, not by a crash.
TEST(HostileProcess, RequestLargerThanMemoryIsRefused) {
  if (underSanitizer) GTEST_SKIP() << "address-space limits do not work under sanitizers";
  ProcessOptions options;
  options.args = {"chat"};
  options.stdinData =
      R"({"messages":[{"role":"user","content":")" + std::string(200u << 20, 'a') + R"("}]})";
  options.addressSpaceLimit = 64u << 20;
  expectReply(runProcess(simBin, options), R"({"error":"not enough memory for the chat request"})",
              1);
}

}  // namespace
}  // namespace corvane::testing
