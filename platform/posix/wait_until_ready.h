// Waiting on a descriptor in non-blocking mode. That mode is a property of the open file that every
// process holding it shares, so a caller may hand over a pipe it uses without blocking, and reads
// and writes must then wait for it themselves.
#pragma once

#include <poll.h>

#include <cerrno>

namespace corvane {

inline bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Waits until `fd` can be read or written (`events`). False when waiting is not possible.
inline bool waitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  for (;;) {
    if (poll(&entry, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace corvane
