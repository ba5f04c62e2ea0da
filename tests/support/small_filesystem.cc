#include "support/small_filesystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#if defined(__linux__)
#include <sys/mount.h>
#endif

namespace corvane::testing {
namespace {

void writeWhole(const std::string& path, std::string_view content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
    std::abort();
  close(fd);
}

}  // namespace

std::size_t SmallFilesystem::pageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

std::unique_ptr<SmallFilesystem> SmallFilesystem::mount(std::size_t bytes, std::string& whyNot) {
#if defined(__linux__)
  const char* temporary = std::getenv("TMPDIR");
  std::string directory = std::string(temporary ? temporary : "/tmp") + "/corvane-small-XXXXXX";
  if (mkdtemp(directory.data()) == nullptr) {
    whyNot = std::string("no directory to mount on: ") + std::strerror(errno);
    return nullptr;
  }
  const std::string size = "size=" + std::to_string(bytes);
  if (::mount("corvane-test", directory.c_str(), "tmpfs", 0, size.c_str()) != 0) {
    whyNot = std::string("mounting a tmpfs was refused: ") + std::strerror(errno);
    rmdir(directory.c_str());
    return nullptr;
  }
  return std::unique_ptr<SmallFilesystem>(new SmallFilesystem(directory));
#else
  static_cast<void>(bytes);
  whyNot = "a tmpfs of a given size (Linux)";
  return nullptr;
#endif
}

SmallFilesystem::~SmallFilesystem() {
#if defined(__linux__)
  umount2(directory_.c_str(), MNT_DETACH);
#endif
  rmdir(directory_.c_str());
}

std::string SmallFilesystem::fillLeaving(std::size_t room,
                                         std::initializer_list<std::string> files) {
  const std::size_t page = pageSize();
  const std::string filler = path("filler");
  unlink(filler.c_str());
  std::string prefix;
  if (room % page != 0) prefix = std::string(page - room % page - 1, '.') + "\n";
  for (const std::string& file : files) writeWhole(file, prefix);
  // Page by page until none is left, then the pages to leave free are given back.
  const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::vector<char> block(page, 'f');
  off_t size = 0;
  for (ssize_t wrote; (wrote = write(fd, block.data(), page)) > 0;) size += wrote;
  const off_t freed = static_cast<off_t>(room / page * page);
  if (size % static_cast<off_t>(page) != 0 || size < freed || ftruncate(fd, size - freed) != 0)
    std::abort();
  close(fd);
  return prefix;
}

}  // namespace corvane::testing
