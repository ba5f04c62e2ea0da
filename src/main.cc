// The entry: selects the command from the first argument and runs it. Status 0 is returned from
// main; status 1 goes through std::exit. The reply line is written out before either.
#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>

#include "availability.h"
#include "chat.h"
#include "platform.h"
#include "reply.h"
#include "utf8.h"

int main(int argc, char** argv) {
  using namespace corvane;
  // A reader that has gone away must not end the run by signal: writing the reply then fails like
  // any other write to standard output, unnoticed, and the exit status stays the command's.
  // Nor may a file-size limit (SIGXFSZ): past it a write fails with EFBIG, and the same holds.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  Platform& platform = defaultPlatform();

  // Only the first argument after the program path is read; further ones are ignored.
  // Byte equality is exact here: no other text is canonically equivalent to these ASCII words.
  const std::string_view command = argc >= 2 ? std::string_view(argv[1]) : "availability";
  if (command == "availability") {
    runAvailability(platform);
    return 0;
  }
  if (command == "chat") {
    runChat(platform);
    return 0;
  }
  // Beyond the two commands callers expect by name; the unknown-command reply keeps naming only
  // those two, as applications may compare it.
  if (command == "stream") {
    runChat(platform, Delivery::streamed);
    return 0;
  }
  emitBuilt(platform, [&] {
    return ResponseObject::error("unknown command: " + toValidUtf8(command) +
                                 " (expected 'availability' or 'chat')");
  });
  std::exit(1);
}
