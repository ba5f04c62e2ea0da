// What `stream` writes while the answer grows: each new piece of the answer as a line of its own,
// such that the pieces, joined in order, are exactly the content of the final reply.
//
//   {"delta":"…"}    the answer so far goes on with this text
//   {"replace":"…"}  the answer so far is this text instead (the model revised what it had
//                    written; a client starts over from it)
//
// A line never holds part of a UTF-8 sequence: an incomplete sequence at the end of what has
// arrived waits for the rest. Once the answer holds bytes that are not UTF-8, no further line is
// written: the final reply (the fallback line then) stands alone, and nothing sent is untrue.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "reply.h"

namespace corvane {

class AnswerStream {
 public:
  // The answer so far went on with `text`, or (replacesAll) is now `text`: the line to write, if
  // there is something new to send.
  std::optional<ResponseObject> progressed(std::string_view text, bool replacesAll);

  // The final content of a successful answer: the line that makes what was sent equal to it, if
  // anything is missing. Nothing when the content is not valid UTF-8 (its reply is the fallback
  // line).
  std::optional<ResponseObject> finished(std::string_view content);

  // What the lines so far give a client (the deltas joined after the last replacement).
  const std::string& sent() const { return sent_; }

 private:
  std::optional<ResponseObject> sendUpTo(std::string_view text);

  std::string received_;  // the answer so far as the model gave it
  std::string sent_;      // its part that lines have carried: a prefix of received_
  bool broken_ = false;   // received_ holds bytes that are not UTF-8
  bool replaceNext_ =
      false;  // the next line must be a replacement: received_ no longer begins with sent_
};

}  // namespace corvane
