// How the stand-in platform reads its CORVANE_SIM_* variables. A value it cannot read never fails:
// each function says what such a value means.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform.h"
#include "sim_failure.h"

namespace corvane::sim {

// "MAJOR", "MAJOR.MINOR" or "MAJOR.MINOR.PATCH", decimal digits only. Unset: 26.0.0. Anything
// else (empty, letters, spaces, a fourth part, a number past 999999): 0.0.0, an old system.
OsVersion parseOsVersion(const char* value);

bool versionAtLeast(OsVersion running, OsVersion wanted);

// The four named states by their exact names. Unset: available. Any other text, the empty text
// included: an unavailable reason other than the three named ones.
ModelAvailability parseAvailability(const char* value);

// The name a trace line gives the state: the reason's name, or "other".
std::string_view availabilityName(ModelAvailability availability);

// A failure by its case name, or "nsError"; any other text, the empty text included, is an error
// outside the named ones, as "nsError" is. Unset: decodingFailure, the failure CORVANE_SIM_ERROR
// alone gives.
ModelFailure parseModelFailure(const char* value);

// Decimal milliseconds. Unset or unreadable: 0. Capped at one day.
std::uint64_t parseDelayMs(const char* value);

// A decimal count (of code points a piece, of pieces before a failure). Unset or unreadable: 0.
// Capped at a billion.
std::uint64_t parseCount(const char* value);

// Where the piece of a streamed answer that begins at byte `from` (< answer.size()) ends:
// after `pieceLength` code points, or with 0, after the next word and the spaces that follow it.
// Code points are told by their lead bytes alone, so bytes that are not UTF-8 still make pieces.
std::size_t pieceEnd(std::string_view answer, std::size_t from, std::uint64_t pieceLength);

}  // namespace corvane::sim
