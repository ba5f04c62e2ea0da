// Writing one line to a file descriptor so that no part of it is left behind: a reader of the file
// finds the whole line or nothing of it. Used for the reply on standard output and for the
// stand-ins' trace.
#pragma once

#include <string_view>

namespace corvane {

// What a write does when the descriptor cannot take more bytes for now (a pipe in non-blocking
// mode that is full).
enum class WhenFull {
  wait,  // waits until it can, however long that is
  drop,  // drops the line: a reader that never reads must not hold the run
};

// Writes `line` to `fd`. To a regular file it is written whole or not at all: a line that would
// pass the file-size limit is not begun, and a line that a full disk stops part-way is taken back
// (the file is cut back to the size it had and the offset set back to where the line began). To a
// pipe with `WhenFull::drop`, a line goes only when there is room for all of it. Elsewhere (a pipe
// whose reader has gone, a terminal) what the system refuses is dropped. Returns whether the whole
// line was written.
bool writeWholeLine(int fd, std::string_view line, WhenFull whenFull);

// Whether `fd` is the open file of standard output or standard error (the same file, whatever
// path reached it, such as /dev/stderr).
bool isStandardOutputOrError(int fd);

}  // namespace corvane
