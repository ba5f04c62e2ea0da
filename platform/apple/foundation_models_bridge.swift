// The Swift side of foundation_models_bridge.h: the only code that touches FoundationModels. The
// version test is apart, in os_version.swift, so that this file builds unchanged against the
// Linux stand-in of the framework too.
//
// The framework exists from macOS 26 on, while the program must still start on macOS 14, so it is
// linked weakly and every use of it sits behind `#available(macOS 26.0, *)`, which the compiler
// enforces. Nothing here runs on the main actor: the C++ side blocks the main thread while a
// generation runs, so any work that needed it would never finish. Nothing here prints anything.

import Foundation
import FoundationModels
// The C interface this file implements: its functions, codes and completion type.
internal import CFoundationModelsBridge

private let started: Int32 = 0
private let refused: Int32 = 1

// The C++ completion and its context, carried into the detached task. Unsafe pointers are not
// Sendable; this is sound because the C++ side owns `context` until `function` has been called,
// and it is called exactly once.
private struct Completion: @unchecked Sendable {
  let function: corvane_fm_completion
  let context: UnsafeMutableRawPointer?

  // Lends the UTF-8 bytes of `text` for the duration of the call; the C++ side copies them.
  func deliver(succeeded: Bool, _ text: String) {
    var text = text
    text.withUTF8 { bytes in
      let start = UnsafeRawPointer(bytes.baseAddress)?.assumingMemoryBound(to: CChar.self)
      function(context, succeeded ? 1 : 0, start, bytes.count)
    }
  }
}

// The C++ progress callback of a streamed generation, carried like the completion: it is called
// only before the completion, from the same task.
private struct Progress: @unchecked Sendable {
  let function: corvane_fm_progress
  let context: UnsafeMutableRawPointer?

  // Lends `bytes` for the duration of the call; the C++ side copies them.
  func deliver(replaces: Bool, _ bytes: UnsafeBufferPointer<UInt8>) {
    let start = UnsafeRawPointer(bytes.baseAddress)?.assumingMemoryBound(to: CChar.self)
    function(context, replaces ? 1 : 0, start, bytes.count)
  }
}

// Decodes bytes lent by C++; ill-formed UTF-8 becomes U+FFFD, an embedded NUL stays.
private func decodedText(_ start: UnsafePointer<CChar>, _ count: Int) -> String {
  String(decoding: UnsafeRawBufferPointer(start: start, count: count), as: UTF8.self)
}

// A failure in words. The localized description alone is unreliable for these errors (it may read
// "The operation couldn't be completed. (… error 2.)"), so the error's own description comes
// first, then the value as Swift prints it, which names the case and its debug context.
private func describe(_ error: any Error) -> String {
  if let description = (error as? any LocalizedError)?.errorDescription, !description.isEmpty {
    return description
  }
  let printed = String(describing: error)
  return printed.isEmpty ? error.localizedDescription : printed
}

@implementation @_cdecl("corvane_fm_availability")
nonisolated func corvane_fm_availability() -> Int32 {
  guard #available(macOS 26.0, *) else { return CORVANE_FM_OTHER_REASON }
  switch SystemLanguageModel.default.availability {
  case .available:
    return CORVANE_FM_AVAILABLE
  case .unavailable(let reason):
    // The set of reasons is open: a later system may report one this build does not know.
    switch reason {
    case .deviceNotEligible: return CORVANE_FM_DEVICE_NOT_ELIGIBLE
    case .appleIntelligenceNotEnabled: return CORVANE_FM_APPLE_INTELLIGENCE_NOT_ENABLED
    case .modelNotReady: return CORVANE_FM_MODEL_NOT_READY
    @unknown default: return CORVANE_FM_OTHER_REASON
    }
  }
}

// One response on a session made for it alone (a session serves one request at a time).
@available(macOS 26.0, *)
private func generateResponse(
  instructions: String?, prompt: String, options: GenerationOptions
) async -> (succeeded: Bool, text: String) {
  // A `String?` selects the initializer taking plain text; nil means no instructions at all.
  let session = LanguageModelSession(model: .default, tools: [], instructions: instructions)
  do {
    let answer = try await session.respond(to: prompt, options: options).content
    return (true, answer)
  } catch {
    return (false, describe(error))
  }
}

// One streamed response on a session made for it alone. Each snapshot holds the whole text so
// far; what it adds to the one before goes to `progress`, or, should a snapshot not go on from the
// one before (the model revised its text), the whole snapshot. The answer is the last snapshot's
// text: it is what the pieces add up to.
@available(macOS 26.0, *)
private func streamResponse(
  instructions: String?, prompt: String, options: GenerationOptions, progress: Progress
) async -> (succeeded: Bool, text: String) {
  let session = LanguageModelSession(model: .default, tools: [], instructions: instructions)
  var written = ""
  do {
    var snapshots = session.streamResponse(to: prompt, options: options).makeAsyncIterator()
    while let snapshot = try await snapshots.next() {
      var text = snapshot.content
      let goesOn = text.utf8.starts(with: written.utf8)
      let before = written.utf8.count
      text.withUTF8 { bytes in
        if !goesOn {
          progress.deliver(replaces: true, bytes)
        } else if bytes.count > before {
          progress.deliver(replaces: false, UnsafeBufferPointer(rebasing: bytes[before...]))
        }
      }
      written = text
    }
    return (true, written)
  } catch {
    return (false, describe(error))
  }
}

@implementation @_cdecl("corvane_fm_generate")
nonisolated func corvane_fm_generate(
  _ instructions: UnsafePointer<CChar>?, _ instructionsLength: Int,
  _ prompt: UnsafePointer<CChar>?, _ promptLength: Int,
  _ temperature: Double, _ maximumResponseTokens: Int64,
  _ completion: corvane_fm_completion?, _ context: UnsafeMutableRawPointer?
) -> Int32 {
  guard #available(macOS 26.0, *) else { return refused }
  guard let prompt, let completion, maximumResponseTokens > 0 else { return refused }

  // Copied now: the C++ buffers may be gone once this returns.
  let instructionsText = instructions.map { decodedText($0, instructionsLength) }
  let promptText = decodedText(prompt, promptLength)
  let delivery = Completion(function: completion, context: context)
  // Temperature and length only, so the sampling mode stays the system's default. This spelling
  // compiles against both the macOS 26 and the later SDKs without a deprecation warning.
  let options = GenerationOptions(
    temperature: temperature, maximumResponseTokens: Int(maximumResponseTokens))

  // Detached, so the work never inherits an actor and never waits for the blocked main thread;
  // no name and no priority of its own.
  Task.detached {
    let outcome = await generateResponse(
      instructions: instructionsText, prompt: promptText, options: options)
    delivery.deliver(succeeded: outcome.succeeded, outcome.text)
  }
  return started
}

@implementation @_cdecl("corvane_fm_stream")
nonisolated func corvane_fm_stream(
  _ instructions: UnsafePointer<CChar>?, _ instructionsLength: Int,
  _ prompt: UnsafePointer<CChar>?, _ promptLength: Int,
  _ temperature: Double, _ maximumResponseTokens: Int64,
  _ progress: corvane_fm_progress?, _ completion: corvane_fm_completion?,
  _ context: UnsafeMutableRawPointer?
) -> Int32 {
  guard #available(macOS 26.0, *) else { return refused }
  guard let prompt, let progress, let completion, maximumResponseTokens > 0 else {
    return refused
  }

  // Copied now, as for a complete response.
  let instructionsText = instructions.map { decodedText($0, instructionsLength) }
  let promptText = decodedText(prompt, promptLength)
  let pieces = Progress(function: progress, context: context)
  let delivery = Completion(function: completion, context: context)
  let options = GenerationOptions(
    temperature: temperature, maximumResponseTokens: Int(maximumResponseTokens))

  Task.detached {
    let outcome = await streamResponse(
      instructions: instructionsText, prompt: promptText, options: options, progress: pieces)
    delivery.deliver(succeeded: outcome.succeeded, outcome.text)
  }
  return started
}
