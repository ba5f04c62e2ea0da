// A small memory filesystem (Linux tmpfs) that tests fill up, to see what a program does when the
// disk is full. Mounting needs the right to mount (root, in practice); where it is refused, or on
// another system, `mount` says why and the test is skipped by name.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace corvane::testing {

class SmallFilesystem {
 public:
  // Mounts a filesystem of `bytes` on a fresh directory; null with `whyNot` set when it cannot.
  static std::unique_ptr<SmallFilesystem> mount(std::size_t bytes, std::string& whyNot);
  ~SmallFilesystem();  // unmounts it and removes the directory

  SmallFilesystem(const SmallFilesystem&) = delete;
  SmallFilesystem& operator=(const SmallFilesystem&) = delete;

  std::string path(const std::string& name) const { return directory_ + "/" + name; }

  // Empties the filesystem and sets it up for writes of `room` bytes into each of `files`: tmpfs
  // hands out whole pages, so each file is created holding a prefix that leaves room % page bytes
  // in its last page, and room / page pages are left free (for all the files together); everything
  // else is filled. Returns the prefix: dots ended by a line feed, or nothing when room is a whole
  // number of pages.
  std::string fillLeaving(std::size_t room, std::initializer_list<std::string> files);

  static std::size_t pageSize();

 private:
  explicit SmallFilesystem(std::string directory) : directory_(std::move(directory)) {}
  std::string directory_;
};

}  // namespace corvane::testing
