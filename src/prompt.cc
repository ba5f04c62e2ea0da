#include "prompt.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "text.h"

// Conversations can be far larger than the budgets (tens of megabytes), so nothing here copies or
// counts more than can still change the result: texts are kept as views into the request, measured
// as pieces with counts that stop just past the room left, and built only once chosen.

namespace corvane {
namespace {

constexpr std::string_view partSeparator = "\n\n";
constexpr std::string_view assistantCue = "\n\nAssistant:";
constexpr std::size_t assistantCueChars = 12;

// A line of the prompt, still as views into the request: the speaker's label and the trimmed
// message content.
struct TurnLine {
  std::string_view label;
  std::string_view content;

  std::array<std::string_view, 2> pieces() const { return {label, content}; }
};

std::string_view trimmedContent(const ChatMessage& message) {
  return message.content ? trimWhitespace(*message.content) : std::string_view();
}

// Roles are matched exactly as sent; anything not recognised speaks as the user.
std::string_view labelFor(std::string_view role) {
  if (role == "assistant") return "Assistant: ";
  if (role == "tool") return "Tool result: ";
  return "User: ";
}

// The turn line a message makes, if any: system messages go to the instructions and messages
// without content once trimmed are left out.
std::optional<TurnLine> turnLineOf(const ChatMessage& message) {
  if (message.role == "system") return std::nullopt;
  const std::string_view content = trimmedContent(message);
  if (content.empty()) return std::nullopt;
  return TurnLine{labelFor(message.role), content};
}

// budget - used, but never below `floor` (and never wrapping around when used exceeds budget).
std::size_t roomLeft(std::size_t budget, std::size_t used, std::size_t floor) {
  return used < budget ? std::max(budget - used, floor) : floor;
}

// A text and its number of characters, so that no one has to count it again.
struct CountedText {
  std::string text;
  std::size_t characters = 0;
};

// The text whole when it has at most `limit` characters, else its first `limit` characters with
// the truncation marker after them. The walk goes on from where it stands (no earlier limit may
// exceed `limit`), so a text measured before is not walked again.
CountedText fitWithMarker(CharacterWalk& walk, std::size_t limit) {
  const std::size_t characters = walk.countUpTo(limit);
  if (walk.atEnd()) return {walk.prefix(), characters};
  std::string cut = walk.prefix();
  // The marker's line feed begins a character, unless a carriage return ends the kept part and
  // takes it in; the marker's other characters are its own.
  const bool joined = !cut.empty() && cut.back() == '\r';
  cut += truncationMarker;
  return {std::move(cut), limit + truncationMarkerChars - (joined ? 1 : 0)};
}

// The request's own instructions, untouched, then the trimmed content of every system message in
// order: the parts with a separator between each two, as far as they can matter.
std::vector<std::string_view> instructionPieces(const ChatRequest& request) {
  std::vector<std::string_view> pieces;
  std::size_t parts = 0;
  const auto addPart = [&](std::string_view part) {
    if (!pieces.empty()) pieces.push_back(partSeparator);
    pieces.push_back(part);
    ++parts;
  };
  if (request.instructions && !request.instructions->empty()) addPart(*request.instructions);
  for (const ChatMessage& message : request.messages) {
    // Every part after the first follows a line feed, so it starts a character of its own: once
    // there are more parts than the budget allows characters, the cut falls within them and later
    // parts cannot change it.
    if (parts > instructionsCharBudget) break;
    if (message.role != "system") continue;
    const std::string_view content = trimmedContent(message);
    if (!content.empty()) addPart(content);
  }
  return pieces;
}

// The instructions' parts joined by blank lines and held to the instructions budget.
CountedText buildInstructions(TextPieces pieces) {
  CharacterWalk walk(pieces);
  return fitWithMarker(walk, instructionsCharBudget);
}

std::string promptFrom(const std::vector<TurnLine>& newestFirst) {
  std::string prompt;
  for (auto line = newestFirst.rbegin(); line != newestFirst.rend(); ++line) {
    if (!prompt.empty()) prompt += partSeparator;
    prompt += line->label;
    prompt += line->content;
  }
  return prompt;
}

struct PromptText {
  std::string text;
  // False when the text is the newest line alone, kept although it did not fit: only then can the
  // pair exceed the context. Then `characters` is the text's length.
  bool fitsBesideInstructions = true;
  std::size_t characters = 0;
};

// The newest turn lines that fit in the context beside the instructions, oldest first, followed by
// the cue for the assistant's reply. The walk back from the newest stops at the first line that
// does not fit, so older lines are never even measured. When not even the newest fits, it is kept
// alone, cut to the room left if need be, its count taken on from where it stopped.
//
// Lines the walk took always fit beside the instructions, so they need not be counted again: each
// line starts the text or follows a line feed and ends before one (its content is trimmed, so it
// cannot end in a carriage return that the line feed would join), so the prompt has exactly the
// lines' own characters, 2 for each separator and 12 for the cue, which with the instructions is 6
// less than the walk charged against the context.
PromptText buildPromptText(const ChatRequest& request, std::size_t instructionsLength) {
  std::size_t used = instructionsLength + promptOverheadChars;
  std::vector<TurnLine> selected;  // newest first
  std::optional<TurnLine> newest;
  std::array<std::string_view, 2> newestPieces;
  std::optional<CharacterWalk> newestWalk;  // over newestPieces, as far as it was measured
  for (auto message = request.messages.rbegin(); message != request.messages.rend(); ++message) {
    const std::optional<TurnLine> line = turnLineOf(*message);
    if (!line) continue;
    const std::array pieces = line->pieces();
    CharacterWalk lineWalk(pieces);
    const bool first = !newest;
    if (first) {
      newest = line;
      newestPieces = pieces;
      newestWalk.emplace(newestPieces);
    }
    CharacterWalk& walk = first ? *newestWalk : lineWalk;
    const std::size_t room = roomLeft(contextCharBudget, used, 0);
    if (room < turnLineChargeChars) break;
    const std::size_t length = walk.countUpTo(room - turnLineChargeChars);
    if (length + turnLineChargeChars > room) break;
    used += length + turnLineChargeChars;
    selected.push_back(*line);
  }
  if (!newest) return {};
  PromptText prompt;
  if (selected.empty()) {
    // At least the room the walk measured the line against, so the walk goes on.
    const std::size_t limit = roomLeft(contextCharBudget, used, fallbackLineFloorChars);
    CountedText line = fitWithMarker(*newestWalk, limit);
    prompt.text = std::move(line.text);
    prompt.fitsBesideInstructions = false;
    // The line ends in something other than a carriage return (trimmed content, or the marker), so
    // the cue's line feeds begin characters of their own.
    prompt.characters = line.characters + assistantCueChars;
  } else {
    prompt.text = promptFrom(selected);
  }
  prompt.text += assistantCue;
  return prompt;
}

// When the pair still exceeds the context, the instructions give way; the prompt is never cut here.
void fitPairToContext(PromptPair& pair, std::size_t instructionsLength, std::size_t promptLength) {
  if (instructionsLength + promptLength <= contextCharBudget) return;
  const std::size_t limit = roomLeft(contextCharBudget, promptLength, instructionsFloorChars);
  const std::array<std::string_view, 1> instructions{pair.instructions};
  CharacterWalk walk(instructions);
  if (instructionsLength > limit) pair.instructions = fitWithMarker(walk, limit).text;
}

}  // namespace

PromptPair buildPromptByCounting(const ChatRequest& request) {
  const std::vector<std::string_view> instructionParts = instructionPieces(request);
  CountedText instructions = buildInstructions(instructionParts);
  PromptText prompt = buildPromptText(request, instructions.characters);
  PromptPair pair{std::move(instructions.text), std::move(prompt.text)};
  if (!prompt.fitsBesideInstructions) {
    fitPairToContext(pair, instructions.characters, prompt.characters);
  }
  return pair;
}

// A character is a byte at least, so a text has no more characters than bytes. When the
// instructions' bytes fit their budget, and theirs and every turn line's with what the walk
// charges fit the context, the instructions are kept whole and the walk takes every line, whatever
// the exact counts: the pair is built without counting anything. Most requests are that small.
PromptPair buildPrompt(const ChatRequest& request) {
  const std::vector<std::string_view> instructionParts = instructionPieces(request);
  std::size_t instructionBytes = 0;
  for (const std::string_view part : instructionParts) instructionBytes += part.size();
  std::size_t used = instructionBytes + promptOverheadChars;
  std::vector<TurnLine> lines;  // newest first
  bool fits = instructionBytes <= instructionsCharBudget;
  for (auto message = request.messages.rbegin(); fits && message != request.messages.rend();
       ++message) {
    const std::optional<TurnLine> line = turnLineOf(*message);
    if (!line) continue;
    used += line->label.size() + line->content.size() + turnLineChargeChars;
    fits = used <= contextCharBudget;
    lines.push_back(*line);
  }
  if (!fits) return buildPromptByCounting(request);
  PromptPair pair;
  pair.instructions.reserve(instructionBytes);
  for (const std::string_view part : instructionParts) pair.instructions += part;
  if (!lines.empty()) pair.prompt = promptFrom(lines) + std::string(assistantCue);
  return pair;
}

}  // namespace corvane
