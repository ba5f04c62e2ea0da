#include "standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane {
namespace {

// In a child with standard output and error closed: after the guard both are /dev/null, and a file
// opened then takes neither number.
TEST(StandardStreams, ClosedOutputDescriptorsAreHeldOnDevNull) {
  const pid_t pid = fork();
  if (pid == 0) {
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    holdStandardOutputDescriptors();
    struct stat devNull {
    }, out{}, err{};
    const bool held = stat("/dev/null", &devNull) == 0 && fstat(STDOUT_FILENO, &out) == 0 &&
                      fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == devNull.st_rdev &&
                      err.st_rdev == devNull.st_rdev;
    _exit(held && open("/dev/zero", O_RDONLY) > STDERR_FILENO ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace corvane
