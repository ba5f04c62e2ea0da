#include "standard_streams.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {
namespace {

// Waits until `fd` can be read or written (`events`). Needed only for a descriptor in non-blocking
// mode, which is a property of the open file that every process holding it shares: a caller may
// hand over a pipe it uses without blocking. False when waiting is not possible.
bool waitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  for (;;) {
    if (poll(&entry, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Whether `size` more bytes fit in standard output under the file-size limit. Past the limit
// write(2) writes what still fits and fails after that, which would leave part of a line; a line
// that cannot be written whole is not begun. Only regular files have such a limit.
bool fitsFileSizeLimit(std::size_t size) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  struct stat info {};
  if (fstat(STDOUT_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) return true;
  const int flags = fcntl(STDOUT_FILENO, F_GETFL);
  const off_t at =
      flags != -1 && (flags & O_APPEND) != 0 ? info.st_size : lseek(STDOUT_FILENO, 0, SEEK_CUR);
  return at >= 0 && static_cast<rlim_t>(at) <= limit.rlim_cur &&
         size <= limit.rlim_cur - static_cast<rlim_t>(at);
}

}  // namespace

void holdStandardOutputDescriptors() {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open(2) takes the lowest free number, which is this one when every lower one is open; a
    // descriptor that lands elsewhere is moved into place.
    const int opened = open("/dev/null", O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

InputRead readAllStandardInput() {
  InputRead result;
  std::string& bytes = result.bytes;
  struct stat info {};
  if (fstat(STDIN_FILENO, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      result.error = std::strerror(EISDIR);
      return result;
    }
    // A regular file tells its size: the bytes go into one allocation of that size.
    if (S_ISREG(info.st_mode) && info.st_size > 0)
      bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  // Read through a small buffer and append, rather than into the string itself: a string can only
  // be made longer by filling the new part, and filling tens of megabytes that read(2) overwrites
  // at once costs a third of reading them. The extra copy is from a buffer that stays in the cache.
  // Appending also leaves the unused part of a grown string untouched, so not resident.
  static char chunk[64 * 1024];
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got > 0) {
      bytes.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR && !(wouldBlock(errno) && waitUntilReady(STDIN_FILENO, POLLIN))) {
      result.error = std::strerror(errno);
      bytes.clear();
      return result;
    }
  }
  result.succeeded = true;
  return result;
}

void writeToStandardOutput(std::string_view bytes) {
  // write(2) until all is written: the C library's buffered stream would drop what a non-blocking
  // descriptor refuses for now, and the caller would get part of a line.
  if (!fitsFileSizeLimit(bytes.size())) return;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
    } else if (wrote < 0 && errno != EINTR &&
               !(wouldBlock(errno) && waitUntilReady(STDOUT_FILENO, POLLOUT))) {
      return;  // closed, a pipe without reader, a full disk: the reply is lost
    }
  }
}

}  // namespace corvane
