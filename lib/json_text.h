// Writing JSON string literals in the program's compact form.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Appends `text` to `out` as a JSON string literal: quotation mark, backslash and every control
// character escaped, the solidus written as \/, everything else (non-ASCII included) as raw bytes.
// `text` is expected to be valid UTF-8; it is copied byte for byte, not checked.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace corvane
