#include "standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane {
namespace {

// In a child whose standard output and error are closed: after the guard, a newly opened file must
// not take either number, and both must be /dev/null.
TEST(StandardStreams, ClosedOutputDescriptorsAreHeldOnDevNull) {
  const pid_t pid = fork();
  if (pid == 0) {
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    holdStandardOutputDescriptors();
    struct stat devNull {
    }, out{}, err{};
    stat("/dev/null", &devNull);
    const bool held = fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
                      out.st_rdev == devNull.st_rdev && err.st_rdev == devNull.st_rdev;
    const int later = open("/dev/zero", O_RDONLY);
    _exit(held && later > STDERR_FILENO ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace corvane
