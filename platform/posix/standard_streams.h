// Standard input and output on POSIX systems, shared by the platforms that run there.
#pragma once

#include <string_view>

#include "platform.h"

namespace corvane {

// Points file descriptors 1 and 2, when they are closed, at /dev/null, so that no file the process
// opens later can take their numbers and receive the reply (or anything meant for standard error).
// Called once, before anything else opens a file.
void holdStandardOutputDescriptors();

// Reads file descriptor 0 to end of file, waiting for it when it is in non-blocking mode. Fails
// with the system's description when standard input is closed, is a directory, or a read fails.
InputRead readAllStandardInput();

// Writes a line to file descriptor 1 until all is written, waiting for it when it is in
// non-blocking mode and full; to a regular file whole or not at all (whole_line_write.h). Bytes it
// refuses otherwise are dropped.
void writeToStandardOutput(std::string_view bytes);

}  // namespace corvane
