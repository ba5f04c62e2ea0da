// The words in which the chat request decoder reports a text that is not JSON: where (line and
// column) and what, more useful to the developer of the calling application than the parser's own
// "syntax error".
#pragma once

#include <boost/json/error.hpp>
#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

// "line L, column C" of a byte offset, both counted from 1; the column counts code points, not
// bytes. An offset past the end stands for the end.
std::string locationOf(std::string_view text, std::size_t offset);

// The description of the parser's `error`, met at byte `offset` of `text`, for a parser that
// refuses documents nested deeper than `maxDepth`.
std::string describeParseError(const boost::json::error_code& error, std::string_view text,
                               std::size_t offset, std::size_t maxDepth);

}  // namespace corvane
