#include "answer_stream.h"

#include <gtest/gtest.h>

#include <random>

#include "utf8.h"

namespace corvane {
namespace {

// An event: a piece (replaces: false), a revision (replaces: true), or with `finish`, the final
// content.
struct Event {
  std::string text;
  bool replaces = false;
  bool finish = false;
};

// The lines the events make, as serialized, without their line feeds.
std::vector<std::string> linesOf(const std::vector<Event>& events) {
  AnswerStream stream;
  std::vector<std::string> lines;
  for (const Event& event : events) {
    const auto line =
        event.finish ? stream.finished(event.text) : stream.progressed(event.text, event.replaces);
    if (line) {
      const auto bytes = serializeReply(*line);
      lines.push_back(bytes ? bytes->substr(0, bytes->size() - 1) : "(not serializable)");
    }
  }
  return lines;
}

TEST(AnswerStream, Lines) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char* what;
    std::vector<Event> events;
    Lines lines;
  };
  const Case cases[] = {
      {"pieces, then a content they already make",
       {{"Hel"}, {"lo"}, {"Hello", false, true}},
       {R"({"delta":"Hel"})", R"({"delta":"lo"})"}},
      {"empty pieces write nothing", {{""}, {"a"}, {""}, {"a", false, true}}, {R"({"delta":"a"})"}},
      {"the content's rest comes before the reply",
       {{"He"}, {"Hello", false, true}},
       {R"({"delta":"He"})", R"({"delta":"llo"})"}},
      {"no piece at all: the content in one delta", {{"Hi", false, true}}, {R"({"delta":"Hi"})"}},
      {"an empty answer writes nothing", {{"", false, true}}, {}},
      {"a UTF-8 sequence split across pieces waits for its end",
       {{"a\xC3"},
        {"\xA9"},
        {"\xF0\x9F"},
        {"\x98"},
        {"\x80!"},
        {"a\xC3\xA9\xF0\x9F\x98\x80!", false, true}},
       {R"({"delta":"a"})", "{\"delta\":\"\xC3\xA9\"}", "{\"delta\":\"\xF0\x9F\x98\x80!\"}"}},
      {"a revision that keeps what was sent goes on with deltas",
       {{"Hel"}, {"Hello", true}, {"Hello", false, true}},
       {R"({"delta":"Hel"})", R"({"delta":"lo"})"}},
      {"a revision of what was sent starts the client over",
       {{"Hel"}, {"Hal", true}, {"!"}, {"Hal!", false, true}},
       {R"({"delta":"Hel"})", R"({"replace":"Hal"})", R"({"delta":"!"})"}},
      {"a revision that only cuts what was sent short",
       {{"Hello"}, {"He", true}, {"He", false, true}},
       {R"({"delta":"Hello"})", R"({"replace":"He"})"}},
      {"a content other than what was sent replaces it",
       {{"Hello"}, {"Goodbye", false, true}},
       {R"({"delta":"Hello"})", R"({"replace":"Goodbye"})"}},
      {"bytes that are not UTF-8 end the lines; so does such a content",
       {{"ok"}, {"\xFF"}, {"more"}, {"ok\xFFmore", false, true}},
       {R"({"delta":"ok"})"}},
      {"an overlong form is not the start of a sequence", {{"\xC0"}, {"\xAF"}}, {}},
      {"a valid content after broken pieces replaces what was sent",
       {{"ok"}, {"\xFF"}, {"fine", false, true}},
       {R"({"delta":"ok"})", R"({"replace":"fine"})"}},
  };
  for (const Case& c : cases) EXPECT_EQ(linesOf(c.events), c.lines) << c.what;
}

// Whatever the pieces and revisions, once the content is given, the lines give exactly it, and each
// line is whole, valid UTF-8.
TEST(AnswerStream, LinesAddUpToTheContent) {
  const std::string units[] = {"a", " ", "\xC3\xA9", "\xE5\xAD\x97", "\xF0\x9F\x98\x80", "\n"};
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string content;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) content += units[random() % std::size(units)];
    AnswerStream stream;
    std::string client;
    const auto apply = [&](const std::optional<ResponseObject>& line) {
      if (!line) return;
      ASSERT_TRUE(serializeReply(*line).has_value());
      const auto& [key, value] = line->members.at(0);
      const std::string& text = std::get<std::string>(value);
      ASSERT_TRUE(isValidUtf8(text));
      client = key == "replace" ? text : client + text;
    };
    // Pieces cut at any byte, now and then a revision to some other text or a prefix.
    std::size_t at = 0;
    while (at < content.size()) {
      if (random() % 8 == 0) {
        // The model's text so far becomes a prefix of the content, or something else.
        at = random() % (content.size() + 1);
        apply(stream.progressed(content.substr(0, at) + (random() % 2 == 0 ? "x" : ""), true));
        continue;
      }
      const std::size_t size = 1 + random() % 5;
      apply(stream.progressed(std::string_view(content).substr(at, size), false));
      at += size;
    }
    apply(stream.finished(content));
    ASSERT_EQ(client, content) << "round " << round;
    ASSERT_EQ(stream.sent(), content);
  }
}

}  // namespace
}  // namespace corvane
