#include "whole_line_write.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "wait_until_ready.h"

namespace corvane {
namespace {

// Writes `bytes` with write(2) until all are out, a write fails, or, with `WhenFull::drop`, the
// descriptor is full. The C library's buffered stream would drop what a non-blocking descriptor
// refuses for now and report it too late. Returns how many bytes went out.
std::size_t writeAll(int fd, std::string_view bytes, WhenFull whenFull) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
    } else if (wrote < 0 && errno == EINTR) {
      continue;
    } else if (wrote < 0 && wouldBlock(errno) && whenFull == WhenFull::wait &&
               waitUntilReady(fd, POLLOUT)) {
      continue;
    } else {
      break;  // closed, a pipe without reader, a full disk, a full pipe not waited for
    }
  }
  return done;
}

// Whether `size` bytes written at offset `at` stay within the file-size limit. Past the limit
// write(2) writes what still fits and fails after that (SIGXFSZ is ignored), so a line that could
// not be written whole is not begun.
bool fitsFileSizeLimit(off_t at, std::size_t size) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  return static_cast<rlim_t>(at) <= limit.rlim_cur &&
         size <= limit.rlim_cur - static_cast<rlim_t>(at);
}

// A regular file of `size` bytes. The line is written, and if the disk fills up part-way (the
// first write takes what fits, the next fails with ENOSPC) the part is taken back: the file is cut
// to its former size and the offset set back to where the line began, so that whatever writes
// there next through the same open file (the caller's shell, say) leaves no hole.
// Cutting back needs no space. A line written over bytes the file already had, before its end,
// keeps what it overwrote: only a file opened in place, without truncation, has such bytes.
bool writeToRegularFile(int fd, std::string_view line, off_t size) {
  const int flags = fcntl(fd, F_GETFL);
  const bool appending = flags != -1 && (flags & O_APPEND) != 0;
  // In append mode each write goes to the end of the file wherever the offset is.
  const off_t start = appending ? size : lseek(fd, 0, SEEK_CUR);
  if (start < 0 || !fitsFileSizeLimit(start, line.size())) return false;
  const std::size_t done = writeAll(fd, line, WhenFull::wait);
  if (done == line.size()) return true;
  if (done > 0 && ftruncate(fd, size) == 0) lseek(fd, start, SEEK_SET);
  return false;
}

// Whether a pipe (or FIFO) takes all of `size` bytes now, in non-blocking mode. Up to PIPE_BUF
// bytes are written all or nothing anyway. A longer write takes what fits and stops, and what fits
// cannot be told from the bytes queued (Linux keeps them in pages, which each write may leave part
// filled), so such a line goes only into an empty pipe that holds it whole: Linux tells the
// capacity and the bytes queued. Elsewhere no longer line goes.
bool pipeTakesWhole(int fd, std::size_t size) {
  if (size <= PIPE_BUF) return true;
#if defined(__linux__)
  const int capacity = fcntl(fd, F_GETPIPE_SZ);
  int queued = -1;
  return capacity > 0 && size <= static_cast<std::size_t>(capacity) &&
         ioctl(fd, FIONREAD, &queued) == 0 && queued == 0;
#else
  static_cast<void>(fd);
  return false;
#endif
}

}  // namespace

bool writeWholeLine(int fd, std::string_view line, WhenFull whenFull) {
  struct stat info{};
  const bool known = fstat(fd, &info) == 0;
  if (known && S_ISREG(info.st_mode)) return writeToRegularFile(fd, line, info.st_size);
  // A pipe keeps what went in; a line that cannot go in whole is not begun. (A reader that takes
  // bytes out in the meantime only makes more room.)
  if (whenFull == WhenFull::drop && known && S_ISFIFO(info.st_mode) &&
      !pipeTakesWhole(fd, line.size()))
    return false;
  return writeAll(fd, line, whenFull) == line.size();
}

bool isStandardOutputOrError(int fd) {
  struct stat file{};
  if (fstat(fd, &file) != 0) return false;
  for (const int standard : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat info{};
    if (fstat(standard, &info) == 0 && info.st_dev == file.st_dev && info.st_ino == file.st_ino)
      return true;
  }
  return false;
}

}  // namespace corvane
