// The validation floor: reads all of standard input and parses it with boost::json::parse, as the
// least any program must do to take a JSON request. Reads exactly the way corvane does (into one
// allocation when standard input is a regular file, through a small buffer), and leaves without
// destroying the document, so that the two differ only in what they do with the bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
  std::string bytes;
  struct stat info{};
  if (fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  static char chunk[64 * 1024];
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got == 0) break;
    if (got < 0) return 1;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }

  boost::json::error_code error;
  auto* document = new boost::json::value(boost::json::parse(bytes, error));
  std::printf("{\"valid\":%s,\"object\":%s}\n", error ? "false" : "true",
              document->is_object() ? "true" : "false");
  std::fflush(stdout);
  std::_Exit(error ? 1 : 0);
}
