#include "whole_line_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <string>

namespace corvane {
namespace {

std::string readAvailable(int fd) {
  std::string bytes;
  char chunk[65536];
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) {
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

// A pipe whose reader never reads, written without waiting: each line goes in whole or not at all.
TEST(WholeLineWrite, PipeNotWaitedForTakesWholeLinesOrNone) {
  struct Case {
    const char* what;
    std::size_t queued;  // bytes already in the pipe
    std::size_t line;
    bool written;
  };
  const Case cases[] = {
      {"a short line beside others", 100, 100, true},
      {"PIPE_BUF bytes beside others", 100, PIPE_BUF, true},
#if defined(__linux__)
      {"a long line into an empty pipe", 0, PIPE_BUF + 1, true},
      {"a long line beside others", 100, PIPE_BUF + 1, false},
#else
      {"a long line into an empty pipe", 0, PIPE_BUF + 1, false},
#endif
      {"more than the pipe holds", 0, 1 << 20, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const std::string before(c.queued, 'q');
    if (c.queued != 0) {
      ASSERT_TRUE(writeWholeLine(ends[1], before, WhenFull::drop));
    }
    const std::string line = std::string(c.line - 1, 'x') + "\n";
    EXPECT_EQ(writeWholeLine(ends[1], line, WhenFull::drop), c.written);
    EXPECT_EQ(readAvailable(ends[0]), before + (c.written ? line : ""));
    close(ends[0]);
    close(ends[1]);
  }
}

}  // namespace
}  // namespace corvane
