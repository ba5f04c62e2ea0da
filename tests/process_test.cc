// Every executable as a calling application sees it: one run per row of
// tests/data/process_cases.json and executable. A row gives the arguments, environment, standard
// input and the kinds of standard streams, and expects the exit status, the reply line and the
// stand-in's trace. Every run must end by itself (not by a signal) and say nothing on standard
// error.
//
// Texts in a row are strings, or lists of parts so that large and non-UTF-8 inputs stay short: a
// part is a string, {"hex": "ff80"} for raw bytes, or [part, count] for a part repeated.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <boost/json.hpp>
#include <chrono>
#include <cstdio>

#include "support/process.h"

namespace corvane::testing {
namespace {

namespace json = boost::json;

// The run under AddressSanitizer or ThreadSanitizer, which reserve terabytes of address space for
// their shadow memory, so that a limit on it cannot be tried.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool underSanitizer = true;
#elif defined(__has_feature)
constexpr bool underSanitizer = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool underSanitizer = false;
#endif

constexpr std::string_view fallbackLine = "{\"error\":\"failed to encode response\"}\n";

std::string textOf(const json::value& value) {
  if (const auto* text = value.if_string()) return std::string(*text);
  if (const auto* object = value.if_object()) {
    std::string bytes;
    const json::string& hex = object->at("hex").as_string();
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
      bytes.push_back(static_cast<char>(std::stoi(std::string(hex.subview(i, 2)), nullptr, 16)));
    }
    return bytes;
  }
  const json::array& parts = value.as_array();
  if (parts.size() == 2 && parts[1].is_int64()) {
    const std::string part = textOf(parts[0]);
    std::string text;
    text.reserve(part.size() * static_cast<std::size_t>(parts[1].as_int64()));
    for (std::int64_t i = 0; i < parts[1].as_int64(); ++i) text += part;
    return text;
  }
  std::string text;
  for (const json::value& part : parts) text += textOf(part);
  return text;
}

struct Case {
  std::string bin;
  const json::object* row;
  // Run as `stream` instead of `chat`: the same refusal, or lines of the answer as it grows that
  // add up to the content of the same final reply.
  bool streamed = false;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.bin; }

const json::array& rows() {
  static const json::array table =
      json::parse(readFile(CORVANE_SOURCE_DIR "/tests/data/process_cases.json")).as_array();
  return table;
}

// Whether a row of `chat` is run as `stream` too: every one but those about the limits of one
// reply line (standard output of every kind, file-size and memory limits), which stream's own rows
// try.
bool streamedToo(const json::object& row) {
  const json::value* args = row.if_contains("args");
  if (args != nullptr && *args != json::array{"chat"}) return false;
  for (const char* key : {"stdoutKinds", "fileSizeLimit", "addressSpaceLimitMiB", "replyLost"}) {
    if (row.contains(key)) return false;
  }
  return true;
}

// Rows run on the stand-ins (corvane-sim, and corvane-apple-sim, the macOS adapter and Swift bridge
// on a stand-in framework, where it is built) unless they name "production", "sim" or "all".
std::vector<Case> cases() {
  std::vector<Case> all;
  for (const json::value& value : rows()) {
    const json::object& row = value.as_object();
    const json::value* bins = row.if_contains("bins");
    const std::string_view which = bins ? std::string_view(bins->as_string()) : "standIns";
    for (const bool streamed : {false, true}) {
      if (streamed && !streamedToo(row)) continue;
      if (which == "production" || which == "all") all.push_back({CORVANE_BIN, &row, streamed});
      if (which != "production") all.push_back({CORVANE_SIM_BIN, &row, streamed});
#ifdef CORVANE_APPLE_SIM_BIN
      if (which == "standIns" || which == "all") {
        all.push_back({CORVANE_APPLE_SIM_BIN, &row, streamed});
      }
#endif
    }
  }
  return all;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  bool upper = true;
  for (const char c : std::string_view(info.param.row->at("name").as_string())) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
      upper = true;
    } else {
      name += upper ? static_cast<char>(std::toupper(c)) : c;
      upper = false;
    }
  }
  const std::string& bin = info.param.bin;
  name += info.param.streamed ? "_Stream" : "_";
  if (bin.ends_with("corvane-apple-sim")) return name + "AppleSim";
  return name + (bin.ends_with("corvane-sim") ? "Sim" : "Production");
}

template <typename Kind>
Kind kindOf(const json::value& name,
            std::initializer_list<std::pair<std::string_view, Kind>> kinds) {
  for (const auto& [text, kind] : kinds) {
    if (name.as_string() == text) return kind;
  }
  ADD_FAILURE() << "unknown stream kind " << name;
  return kinds.begin()->second;
}

// For rows whose reply depends on how far the run gets: one line holding a documented reply, with
// the exit status that reply has (a refusal before generation 1, an answer or a failed generation
// 0; the fallback line may stand for either).
bool isReplyWithItsStatus(const std::string& out, int status) {
  if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) return false;
  json::error_code error;
  const json::value reply = json::parse(out, error);
  if (error || !reply.is_object()) return false;
  if (out == fallbackLine) return status == 0 || status == 1;
  if (reply.as_object().contains("content")) return status == 0;
  const json::string* text =
      reply.as_object().if_contains("error") ? reply.as_object().at("error").if_string() : nullptr;
  if (text == nullptr) return false;
  return status == (text->starts_with("on-device generation failed: ") ? 0 : 1);
}

// `stream`'s output for a row of `chat` whose reply is `reply` (empty: any documented reply): lines
// of the answer as it grows ({"delta":…} or {"replace":…}), then the reply alone on its line, the
// lines adding up to its content.
::testing::AssertionResult streamsTo(const std::string& out, const std::string& reply, int status) {
  std::vector<std::string> lines = splitLines(out);
  if (out.empty() || out.back() != '\n' || lines.empty()) {
    return ::testing::AssertionFailure() << "no final line: " << out.substr(0, 500);
  }
  const std::string last = lines.back() + "\n";
  lines.pop_back();
  if (reply.empty() ? !isReplyWithItsStatus(last, status) : last != reply) {
    return ::testing::AssertionFailure() << "final line: " << last.substr(0, 500);
  }
  std::string answer;
  for (const std::string& line : lines) {
    json::error_code error;
    const json::value piece = json::parse(line, error);
    const json::object* object = error ? nullptr : piece.if_object();
    if (object == nullptr || object->size() != 1 ||
        !(object->contains("delta") || object->contains("replace")) ||
        !object->begin()->value().is_string()) {
      return ::testing::AssertionFailure() << "not a line of the answer: " << line.substr(0, 500);
    }
    const json::string& text = object->begin()->value().as_string();
    answer = object->contains("replace") ? std::string(text) : answer + std::string(text);
  }
  const json::value final = json::parse(last);
  if (const json::value* content = final.as_object().if_contains("content")) {
    if (content->as_string() != answer) {
      return ::testing::AssertionFailure() << "the lines add up to " << answer.substr(0, 500);
    }
  }
  return ::testing::AssertionSuccess();
}

class Process : public ::testing::TestWithParam<Case> {};

TEST_P(Process, Run) {
  const json::object& row = *GetParam().row;
  // What only Linux offers (/dev/full, an enforced address-space limit, a production program that
  // has no model) is named by the row, so that elsewhere it is skipped by name, never silently.
  const json::value* linuxOnly = row.if_contains("linuxOnly");
  const json::value* kinds = row.if_contains("stdoutKinds");
  const bool fullStdout =
      kinds != nullptr && std::ranges::find(kinds->as_array(), "full") != kinds->as_array().end();
  if ((fullStdout || row.contains("addressSpaceLimitMiB")) && linuxOnly == nullptr) {
    FAIL() << "a row with a full stdout or an address-space limit needs a \"linuxOnly\" reason";
  }
#ifndef __linux__
  if (linuxOnly != nullptr)
    GTEST_SKIP() << "needs Linux: " << std::string_view(linuxOnly->as_string());
#endif
  const bool streamed = GetParam().streamed;
  ProcessOptions options;
  options.args = {streamed ? "stream" : "chat"};
  if (const auto* args = row.if_contains("args"); args != nullptr && !streamed) {
    options.args.clear();
    for (const json::value& arg : args->as_array()) options.args.push_back(textOf(arg));
  }
  if (const auto* env = row.if_contains("env")) {
    for (const auto& [name, value] : env->as_object()) {
      options.env.emplace_back(std::string(name), textOf(value));
    }
  }
  if (const auto* in = row.if_contains("stdin")) options.stdinData = textOf(*in);
  if (const auto* kind = row.if_contains("stdinKind")) {
    options.stdinKind =
        kindOf<StdinKind>(*kind, {{"closed", StdinKind::closed},
                                  {"directory", StdinKind::directory},
                                  {"lateNonBlockingPipe", StdinKind::lateNonBlockingPipe}});
  }
  // One limit, or a sweep of limits: the run must answer at each, whatever it can still do there.
  json::array limits{0};
  if (const auto* limit = row.if_contains("addressSpaceLimitMiB")) {
    if (underSanitizer) GTEST_SKIP() << "address-space limits do not work under sanitizers";
    limits = limit->is_array() ? limit->as_array() : json::array{*limit};
  }
  if (const auto* limit = row.if_contains("fileSizeLimit")) {
    options.fileSizeLimit = static_cast<std::size_t>(limit->as_int64());
  }
  const std::string trace = temporaryPath("trace");
  const bool traced = row.contains("trace") || row.contains("traceHas");
  if (traced) options.env.emplace_back("CORVANE_SIM_TRACE", trace);
  if (row.contains("traceFifo")) {
    // A FIFO that nobody reads: opening it for writing would wait for a reader forever.
    ASSERT_EQ(mkfifo(trace.c_str(), 0600), 0);
    options.env.emplace_back("CORVANE_SIM_TRACE", trace);
  }

  json::array collected{"collected"};
  const json::array& stdoutKinds =
      row.contains("stdoutKinds") ? row.at("stdoutKinds").as_array() : collected;
  for (const json::value& limit : limits) {
    for (const json::value& kind : stdoutKinds) {
      SCOPED_TRACE(json::serialize(kind) + " " + json::serialize(limit));
      options.addressSpaceLimit = static_cast<std::size_t>(limit.as_int64()) << 20;
      options.stdoutKind =
          kindOf<StdoutKind>(kind, {{"collected", StdoutKind::collected},
                                    {"closed", StdoutKind::closed},
                                    {"brokenPipe", StdoutKind::brokenPipe},
                                    {"full", StdoutKind::full},
                                    {"lateNonBlockingPipe", StdoutKind::lateNonBlockingPipe}});
      const auto start = std::chrono::steady_clock::now();
      const ProcessResult result = runProcess(GetParam().bin, options);
      const auto elapsed = std::chrono::steady_clock::now() - start;
      EXPECT_TRUE(result.exited) << "ended by signal " << result.status;
      if (const auto* status = row.if_contains("status")) {
        EXPECT_EQ(result.status, status->as_int64());
      } else {
        EXPECT_TRUE(isReplyWithItsStatus(result.out, result.status)) << result.out.substr(0, 200);
      }
      EXPECT_EQ(result.err, "");
      if (row.contains("replyLost")) {
        EXPECT_EQ(result.out, "");  // not even part of a line
      }
      if (const auto* lines = row.if_contains("lines")) {
        std::string expected;
        for (const json::value& line : lines->as_array()) expected += textOf(line) + "\n";
        EXPECT_EQ(result.out, expected);
      }
      if (streamed) {
        const json::value* reply = row.if_contains("reply");
        EXPECT_TRUE(streamsTo(result.out, reply ? textOf(*reply) + "\n" : "", result.status));
      } else if (const auto* reply = row.if_contains("reply")) {
        // Compared without printing: a mismatch of a hundred megabytes would flood the log.
        const std::string expected = textOf(*reply) + "\n";
        EXPECT_TRUE(result.out == expected) << "reply: " << result.out.substr(0, 500);
      }
      if (const auto* atLeast = row.if_contains("minMs")) {
        EXPECT_GE(elapsed, std::chrono::milliseconds(atLeast->as_int64()));
      }
    }
  }

  if (row.contains("traceFifo")) std::remove(trace.c_str());
  if (!traced) return;
  const std::vector<std::string> lines = splitLines(readFile(trace));
  std::remove(trace.c_str());
  // stream asks the model for a streamed response where chat asks for a complete one.
  const auto expectedLine = [&](const json::value& line) {
    std::string text = textOf(line);
    const std::string_view respond = R"({"op":"respond",)";
    if (streamed && text.starts_with(respond)) {
      text.replace(0, respond.size(), R"({"op":"streamResponse",)");
    }
    return text;
  };
  if (const auto* exact = row.if_contains("trace")) {
    std::vector<std::string> expected;
    for (const json::value& line : exact->as_array()) expected.push_back(expectedLine(line));
    EXPECT_EQ(lines, expected);
  }
  if (const auto* has = row.if_contains("traceHas")) {
    for (const json::value& line : has->as_array()) {
      EXPECT_TRUE(std::find(lines.begin(), lines.end(), expectedLine(line)) != lines.end())
          << "not traced: " << expectedLine(line).substr(0, 500);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, Process, ::testing::ValuesIn(cases()), caseName);

}  // namespace
}  // namespace corvane::testing
