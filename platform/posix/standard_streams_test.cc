#include "standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane {
namespace {

// With standard output and error closed, the guard holds both on /dev/null, out of a file's way.
TEST(StandardStreams, ClosedOutputDescriptorsAreHeldOnDevNull) {
  const pid_t pid = fork();
  if (pid == 0) {
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    holdStandardOutputDescriptors();
    struct stat null{}, out{}, err{};
    stat("/dev/null", &null), fstat(STDOUT_FILENO, &out), fstat(STDERR_FILENO, &err);
    const bool held = out.st_rdev == null.st_rdev && err.st_rdev == null.st_rdev;
    _exit(held && open("/", O_RDONLY) > STDERR_FILENO ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace corvane
