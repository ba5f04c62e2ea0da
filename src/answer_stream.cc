#include "answer_stream.h"

#include "utf8.h"

namespace corvane {

std::optional<ResponseObject> AnswerStream::progressed(std::string_view text, bool replacesAll) {
  if (broken_) return std::nullopt;
  if (replacesAll) {
    received_.assign(text);
    // A revision that keeps what was sent goes on with deltas; any other starts the client over.
    replaceNext_ = replaceNext_ || !received_.starts_with(sent_);
  } else {
    received_.append(text);
  }
  return sendUpTo(received_);
}

std::optional<ResponseObject> AnswerStream::finished(std::string_view content) {
  if (!isValidUtf8(content)) return std::nullopt;
  broken_ = false;  // whatever arrived on the way, the content is what the lines must give
  return progressed(content, true);
}

std::optional<ResponseObject> AnswerStream::sendUpTo(std::string_view text) {
  const Utf8Prefix whole = wellFormedPrefix(text);
  if (!whole.restMayComplete) broken_ = true;
  const std::string_view ready = text.substr(0, whole.size);
  if (replaceNext_) {
    if (broken_) return std::nullopt;
    replaceNext_ = false;
    sent_.assign(ready);
    ResponseObject line;
    line.set("replace", sent_);
    return line;
  }
  if (ready.size() == sent_.size()) return std::nullopt;
  ResponseObject line;
  line.set("delta", std::string(ready.substr(sent_.size())));
  sent_.assign(ready);
  return line;
}

}  // namespace corvane
