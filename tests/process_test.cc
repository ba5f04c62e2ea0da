// Every executable as a calling application sees it: one run per row of
// tests/data/process_cases.json and executable. A row gives the arguments, environment, standard
// input and the kinds of standard streams, and expects the exit status, the reply line and the
// stand-in's trace. Every run must end by itself (not by a signal) and say nothing on standard
// error.
//
// Texts in a row are strings, or lists of parts so that large and non-UTF-8 inputs stay short: a
// part is a string, {"hex": "ff80"} for raw bytes, or [part, count] for a part repeated.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/json.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "support/process.h"
#include "support/small_filesystem.h"

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
// reply line or of the process (standard output of every kind, full disks, file-size, memory and
// descriptor limits, signals), which stream's own rows try.
bool streamedToo(const json::object& row) {
  const json::value* args = row.if_contains("args");
  if (args != nullptr && *args != json::array{"chat"}) return false;
  for (const char* key : {"stdoutKinds", "fileSizeLimit", "addressSpaceLimitMiB", "replyLost",
                          "smallFilesystem", "openFileLimit", "signals"}) {
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

std::string caseName(const Case& testCase) {
  std::string name;
  bool upper = true;
  for (const char c : std::string_view(testCase.row->at("name").as_string())) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
      upper = true;
    } else {
      name += upper ? static_cast<char>(std::toupper(c)) : c;
      upper = false;
    }
  }
  const std::string& bin = testCase.bin;
  name += testCase.streamed ? "_Stream" : "_";
  if (bin.ends_with("corvane-apple-sim")) return name + "AppleSim";
  return name + (bin.ends_with("corvane-sim") ? "Sim" : "Production");
}

// The ctest labels of a row (tests/tests.cmake says what each means): those its columns imply, and
// those it names in "labels".
std::string labelsOf(const json::object& row) {
  std::string labels = "process;threads";
  if (row.contains("linuxOnly")) labels += ";needs-linux";
  // ThreadSanitizer's run-time writes a file of its own at start, which the limit ends by SIGXFSZ
  // before the program runs.
  if (row.contains("fileSizeLimit")) labels += ";tsan-unsafe";
  if (const auto* named = row.if_contains("labels")) {
    for (const json::value& label : named->as_array()) {
      labels += ';';
      labels += std::string_view(label.as_string());
    }
  }
  return labels;
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

// A signal by the name a row gives it; the numbers differ between systems.
int signalNumber(const json::value& name) {
  static const std::pair<std::string_view, int> signals[] = {
      {"SIGQUIT", SIGQUIT}, {"SIGILL", SIGILL}, {"SIGTRAP", SIGTRAP}, {"SIGABRT", SIGABRT},
      {"SIGBUS", SIGBUS},   {"SIGFPE", SIGFPE}, {"SIGSEGV", SIGSEGV}, {"SIGTERM", SIGTERM}};
  for (const auto& [text, number] : signals) {
    if (name.as_string() == text) return number;
  }
  ADD_FAILURE() << "unknown signal " << name;
  return SIGTERM;
}

std::vector<std::string> textsOf(const json::value* list) {
  std::vector<std::string> texts;
  if (list != nullptr) {
    for (const json::value& text : list->as_array()) texts.push_back(textOf(text));
  }
  return texts;
}

// Whether `text` is nothing but whole lines (each ended by a line feed), which appear in
// `expected` in the same order, perhaps with some left out.
bool isWholeLinesOf(const std::string& text, const std::vector<std::string>& expected) {
  if (!text.empty() && text.back() != '\n') return false;
  auto next = expected.begin();
  for (const std::string& line : splitLines(text)) {
    next = std::find(next, expected.end(), line);
    if (next == expected.end()) return false;
    ++next;
  }
  return true;
}

// Whatever the read end `fd` of a pipe holds now, without waiting.
std::string drain(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::string bytes;
  char chunk[65536];
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) {
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

// The row's run on a small filesystem filled up to leave each amount of room it names, with
// standard output a file there, appended to and written at its offset, and the trace beside it:
// each file then holds what it held before and whole lines only, never part of one; given room
// enough (the last amount), the whole reply and the whole trace.
void runOnFullDisks(const std::string& bin, const json::object& row, ProcessOptions options) {
  std::string whyNot;
  const auto disk = SmallFilesystem::mount(1 << 20, whyNot);
  if (!disk) GTEST_SKIP() << "needs a small filesystem: " << whyNot;
  const std::string out = disk->path("out.log");
  const std::string trace = disk->path("trace.log");
  options.env.emplace_back("CORVANE_SIM_TRACE", trace);
  options.stdoutKind = StdoutKind::descriptor;
  const std::string reply = textOf(row.at("reply")) + "\n";
  // The production program has no trace.
  const std::vector<std::string> traceLines =
      bin == CORVANE_BIN ? std::vector<std::string>{} : textsOf(row.if_contains("trace"));
  const json::array& rooms = row.at("smallFilesystem").as_array();
  for (const json::value& room : rooms) {
    for (const bool appending : {true, false}) {
      SCOPED_TRACE((appending ? "appended, room " : "positioned, room ") + json::serialize(room));
      const std::string prefix =
          disk->fillLeaving(static_cast<std::size_t>(room.as_int64()), {out, trace});
      options.stdoutDescriptor =
          open(out.c_str(), O_WRONLY | O_CLOEXEC | (appending ? O_APPEND : 0));
      ASSERT_GE(options.stdoutDescriptor, 0);
      lseek(options.stdoutDescriptor, 0, SEEK_END);
      const ProcessResult result = runProcess(bin, options);
      EXPECT_TRUE(result.exited && !result.timedOut) << "ended by signal " << result.status;
      EXPECT_EQ(result.status, row.at("status").as_int64());
      EXPECT_EQ(result.err, "");
      const std::string written = readFile(out);
      const bool last = &room == &rooms.back();
      EXPECT_TRUE(written == prefix + reply || (!last && written == prefix))
          << "standard output ends in: "
          << written.substr(prefix.size() < written.size() ? prefix.size() : 0, 200);
      // Whatever writes next through the same open file goes right after it, leaving no hole.
      EXPECT_EQ(lseek(options.stdoutDescriptor, 0, SEEK_CUR), static_cast<off_t>(written.size()));
      close(options.stdoutDescriptor);
      const std::string traced = readFile(trace);
      ASSERT_TRUE(traced.starts_with(prefix));
      const std::string lines = traced.substr(prefix.size());
      EXPECT_TRUE(isWholeLinesOf(lines, traceLines)) << "trace: " << lines.substr(0, 300);
      if (last) {
        EXPECT_EQ(splitLines(lines), traceLines);
      }
    }
  }
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

// A copy of the executable in a folder of its own that every user may enter, for a run as another
// user: the checkout may lie below a folder that only its owner can enter. Removed with this.
class ReachableCopy {
 public:
  explicit ReachableCopy(const std::string& executable) {
    char folder[] = "/tmp/corvane-test-bin-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    path_ = folder_ + "/" + std::filesystem::path(executable).filename().string();
    std::error_code error;
    std::filesystem::copy_file(executable, path_, error);
    chmod(folder_.c_str(), 0755);
    chmod(path_.c_str(), 0755);
  }
  ~ReachableCopy() {
    if (folder_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  ReachableCopy(const ReachableCopy&) = delete;
  ReachableCopy& operator=(const ReachableCopy&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string folder_, path_;
};

TEST_P(Process, Run) {
  const json::object& row = *GetParam().row;
  // What only Linux offers (/dev/full, an enforced address-space limit, a production program that
  // has no model, a filesystem of a given size) is named by the row, so that elsewhere it is
  // skipped by name, never silently.
  const json::value* linuxOnly = row.if_contains("linuxOnly");
  const json::value* kinds = row.if_contains("stdoutKinds");
  const bool fullStdout =
      kinds != nullptr && std::ranges::find(kinds->as_array(), "full") != kinds->as_array().end();
  if ((fullStdout || row.contains("addressSpaceLimitMiB") || row.contains("smallFilesystem")) &&
      linuxOnly == nullptr) {
    FAIL() << "a row with a full stdout, an address-space limit or a small filesystem needs a "
              "\"linuxOnly\" reason";
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
  if (row.contains("smallFilesystem")) return runOnFullDisks(GetParam().bin, row, options);
  // One limit, or a sweep of limits: the run must answer at each, whatever it can still do there.
  json::array limits{0};
  if (const auto* limit = row.if_contains("addressSpaceLimitMiB")) {
    if (underSanitizer) GTEST_SKIP() << "address-space limits do not work under sanitizers";
    limits = limit->is_array() ? limit->as_array() : json::array{*limit};
  }
  // The sanitizers' run-times catch the crash signals themselves, and need descriptors of their
  // own (UndefinedBehaviorSanitizer tests memory through a pipe).
  if (underSanitizer && (row.contains("openFileLimit") || row.contains("signals")))
    GTEST_SKIP() << "descriptor limits and crash signals are the sanitizers' own there";
  json::array openFileLimits{nullptr};
  if (const auto* limit = row.if_contains("openFileLimit")) openFileLimits = limit->as_array();
  if (const auto* limit = row.if_contains("fileSizeLimit")) {
    options.fileSizeLimit = static_cast<std::size_t>(limit->as_int64());
  }
  if (const auto* mask = row.if_contains("umask")) {
    options.umask = static_cast<unsigned>(mask->as_int64());
  }
  options.unprivileged = row.contains("unprivileged");
  std::optional<ReachableCopy> reachable;
  if (options.unprivileged) reachable.emplace(GetParam().bin);
  const std::string& executable = reachable ? reachable->path() : GetParam().bin;
  if (const auto* after = row.if_contains("killAfterMs")) {
    options.killAfterMs = static_cast<unsigned>(after->as_int64());
  }
  // Signals sent in the middle of the run, one run each: the run ends by that signal, having
  // printed nothing anywhere.
  json::array signals{nullptr};
  if (const auto* sent = row.if_contains("signals")) signals = sent->as_array();
  options.signalAfterMs =
      row.contains("signalAfterMs") ? static_cast<unsigned>(row.at("signalAfterMs").as_int64()) : 0;
  // Signals a run may end by, at the limits it is tried at, once it has printed its reply line
  // or nothing (when a library the program links gives up there).
  std::vector<int> mayEndBy;
  if (const auto* names = row.if_contains("mayEndBySignal")) {
    for (const json::value& name : names->as_array()) mayEndBy.push_back(signalNumber(name));
  }
  const std::int64_t repeat = row.contains("repeat") ? row.at("repeat").as_int64() : 1;

  const std::string trace = temporaryPath("trace");
  const bool traced = row.contains("trace") || row.contains("traceHas");
  // The trace is a FIFO: with no reader, or with one that never reads while the run lasts.
  const json::value* fifo = row.if_contains("traceFifo");
  int fifoReader = -1;
  if (fifo != nullptr) {
    ASSERT_EQ(mkfifo(trace.c_str(), 0600), 0);
    if (fifo->is_string() && fifo->as_string() == "silentReader") {
      fifoReader = open(trace.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(fifoReader, 0);
    }
  }
  if (traced || fifo != nullptr) options.env.emplace_back("CORVANE_SIM_TRACE", trace);

  json::array collected{"collected"};
  const json::array& stdoutKinds =
      row.contains("stdoutKinds") ? row.at("stdoutKinds").as_array() : collected;
  for (const json::value& limit : limits) {
    for (const json::value& openFiles : openFileLimits) {
      for (const json::value& signal : signals) {
        for (const json::value& kind : stdoutKinds) {
          for (std::int64_t run = 0; run < repeat; ++run) {
            SCOPED_TRACE(json::serialize(kind) + " " + json::serialize(limit) + " " +
                         json::serialize(openFiles) + " " + json::serialize(signal));
            options.addressSpaceLimit = static_cast<std::size_t>(limit.as_int64()) << 20;
            options.openFileLimit.reset();
            if (!openFiles.is_null()) {
              options.openFileLimit = static_cast<std::size_t>(openFiles.as_int64());
            }
            options.signal.reset();
            if (!signal.is_null()) options.signal = signalNumber(signal);
            options.stdoutKind = kindOf<StdoutKind>(
                kind, {{"collected", StdoutKind::collected},
                       {"closed", StdoutKind::closed},
                       {"brokenPipe", StdoutKind::brokenPipe},
                       {"full", StdoutKind::full},
                       {"lateNonBlockingPipe", StdoutKind::lateNonBlockingPipe}});
            const auto start = std::chrono::steady_clock::now();
            const ProcessResult result = runProcess(executable, options);
            const auto elapsed = std::chrono::steady_clock::now() - start;
            ASSERT_FALSE(result.timedOut) << "still running after " << options.killAfterMs << " ms";
            EXPECT_EQ(result.err, "");
            if (options.signal) {
              EXPECT_FALSE(result.exited);
              EXPECT_EQ(result.status, *options.signal);
              EXPECT_EQ(result.out, "");
              continue;
            }
            if (!result.exited && std::ranges::find(mayEndBy, result.status) != mayEndBy.end()) {
              // Cut short by its libraries: the line, if it is there, is whole.
              EXPECT_TRUE(result.out.empty() || isReplyWithItsStatus(result.out, 0) ||
                          isReplyWithItsStatus(result.out, 1))
                  << result.out.substr(0, 200);
              continue;
            }
            EXPECT_TRUE(result.exited) << "ended by signal " << result.status;
            if (const auto* status = row.if_contains("status")) {
              EXPECT_EQ(result.status, status->as_int64());
            } else if (!streamed) {
              EXPECT_TRUE(isReplyWithItsStatus(result.out, result.status))
                  << result.out.substr(0, 200);
            }
            if (row.contains("replyLost")) {
              EXPECT_EQ(result.out, "");  // not even part of a line
            }
            if (const auto* expected = row.if_contains("lines")) {
              std::string text;
              for (const json::value& line : expected->as_array()) text += textOf(line) + "\n";
              EXPECT_EQ(result.out, text);
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
      }
    }
  }

  std::string traceText;
  if (fifoReader >= 0) {
    traceText = drain(fifoReader);
    close(fifoReader);
  } else if (traced) {
    // A trace made under a umask that lets no one read it is still this user's to open.
    chmod(trace.c_str(), 0600);
    traceText = readFile(trace);
  }
  std::remove(trace.c_str());
  if (!traced) return;
  const std::vector<std::string> lines = splitLines(traceText);
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
    EXPECT_TRUE(traceText.empty() || traceText.back() == '\n');
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

INSTANTIATE_TEST_SUITE_P(, Process, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return caseName(info.param);
                         });

// Writes one "TEST LABELS" line per test to `path`, for ctest (tests/process_labels.cmake).
int writeLabels(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return 1;
  for (const Case& testCase : cases()) {
    std::fprintf(file, "Process.Run/%s %s\n", caseName(testCase).c_str(),
                 labelsOf(*testCase.row).c_str());
  }
  return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace
}  // namespace corvane::testing

int main(int argc, char** argv) {
  constexpr std::string_view labelsFlag = "--corvane_labels=";
  if (argc == 2 && std::string_view(argv[1]).starts_with(labelsFlag)) {
    return corvane::testing::writeLabels(argv[1] + labelsFlag.size());
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
