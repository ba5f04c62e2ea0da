// Standard input and output on POSIX systems, shared by the platforms that run there.
#pragma once

#include <string_view>

#include "platform.h"

namespace corvane {

// Reads file descriptor 0 to end of file. Fails with the system's description when standard input
// is closed, is a directory, or a read fails.
InputRead readAllStandardInput();

// Appends to the C library's buffered standard output; the buffer is flushed when the process ends.
void writeToStandardOutput(std::string_view bytes);

}  // namespace corvane
