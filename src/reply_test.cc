#include "reply.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace corvane {
namespace {

std::string serialized(const ResponseObject& reply) {
  const auto line = serializeReply(reply);
  return line ? *line : "<none>";
}

TEST(Reply, CompactFormOfEachValueKind) {
  EXPECT_EQ(serialized(ResponseObject().set("available", true)), "{\"available\":true}\n");
  EXPECT_EQ(serialized(ResponseObject().set("available", false).set("reason", std::string("r"))),
            "{\"available\":false,\"reason\":\"r\"}\n");
  EXPECT_EQ(serialized(ResponseObject()), "{}\n");
  EXPECT_EQ(serialized(ResponseObject::error("")), "{\"error\":\"\"}\n");
}

TEST(Reply, EscapesWhatJsonRequiresAndTheSolidus) {
  struct Case {
    std::string text, written;
  };
  const Case cases[] = {
      {"a/b", "a\\/b"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"back\\slash", "back\\\\slash"},
      {"line\nfeed\ttab\rcr\bbs\fff", "line\\nfeed\\ttab\\rcr\\bbs\\fff"},
      {std::string("nul\0x", 5), "nul\\u0000x"},
      {"\x01\x1F", "\\u0001\\u001f"},
      {"\x7F", "\x7F"},  // DEL is not a JSON control character
      {"caf\xC3\xA9 \xE2\x80\xA6 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x80\xA6 \xF0\x9F\x98\x80"},
      {"\xE2\x80\xA8", "\xE2\x80\xA8"},  // U+2028 is valid raw in JSON
  };
  for (const auto& c : cases) {
    EXPECT_EQ(serialized(ResponseObject::error(c.text)), "{\"error\":\"" + c.written + "\"}\n")
        << ::testing::PrintToString(c.text);
  }
}

TEST(Reply, TextThatIsNotUtf8CannotBeSerialized) {
  EXPECT_FALSE(serializeReply(ResponseObject::error("bad \xFF byte")));
  EXPECT_FALSE(serializeReply(ResponseObject().set("\xC0", true)));
}

TEST(Reply, EmitWritesTheLineOrTheFallback) {
  testing::FakePlatform platform;
  emit(platform, ResponseObject().set("content", std::string("a\nb")));
  EXPECT_EQ(platform.output, "{\"content\":\"a\\nb\"}\n");

  testing::FakePlatform broken;
  emit(broken, ResponseObject().set("content", std::string("\xED\xA0\x80")));
  EXPECT_EQ(broken.output, "{\"error\":\"failed to encode response\"}\n");
}

}  // namespace
}  // namespace corvane
