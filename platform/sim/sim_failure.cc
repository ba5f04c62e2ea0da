#include "sim_failure.h"

namespace corvane::sim {
namespace {

// The generation error's nested types as Swift prints them in the stand-in framework.
constexpr std::string_view errorType = "FoundationModels.LanguageModelSession.GenerationError";

}  // namespace

std::string_view failureName(ModelFailure failure) {
  switch (failure) {
    case ModelFailure::exceededContextWindowSize:
      return "exceededContextWindowSize";
    case ModelFailure::assetsUnavailable:
      return "assetsUnavailable";
    case ModelFailure::guardrailViolation:
      return "guardrailViolation";
    case ModelFailure::unsupportedGuide:
      return "unsupportedGuide";
    case ModelFailure::unsupportedLanguageOrLocale:
      return "unsupportedLanguageOrLocale";
    case ModelFailure::decodingFailure:
      return "decodingFailure";
    case ModelFailure::rateLimited:
      return "rateLimited";
    case ModelFailure::concurrentRequests:
      return "concurrentRequests";
    case ModelFailure::refusal:
      return "refusal";
    case ModelFailure::nsError:
      break;
  }
  return "nsError";
}

std::string_view defaultDescription(ModelFailure failure) {
  switch (failure) {
    case ModelFailure::exceededContextWindowSize:
      return "Exceeded the model's context window of 4,096 tokens.";
    case ModelFailure::assetsUnavailable:
      return "The model's assets are unavailable.";
    case ModelFailure::guardrailViolation:
      return "The safety guardrails were triggered by the prompt or the response.";
    case ModelFailure::unsupportedGuide:
      return "A generation guide is not supported.";
    case ModelFailure::unsupportedLanguageOrLocale:
      return "The language or locale is not supported.";
    case ModelFailure::decodingFailure:
      return "The model's output could not be decoded.";
    case ModelFailure::rateLimited:
      return "The request was rate limited.";
    case ModelFailure::concurrentRequests:
      return "The session is already responding to a request.";
    case ModelFailure::refusal:
      return "The model refused the request.";
    case ModelFailure::nsError:
      break;
  }
  return "";
}

std::string bridgeDescription(ModelFailure failure, std::string_view description) {
  if (failure == ModelFailure::nsError) {
    return "Error Domain=FoundationModels.LanguageModelError Code=-1 \"(null)\"";
  }
  if (!description.empty()) return std::string(description);
  // The printed form of a case whose context holds an empty debug text: nothing in it to escape.
  std::string printed(failureName(failure));
  printed += '(';
  if (failure == ModelFailure::refusal) printed.append(errorType).append(".Refusal(), ");
  printed.append(errorType).append(".Context(debugDescription: \"\"))");
  return printed;
}

}  // namespace corvane::sim
