// A stand-in for Apple's FoundationModels framework, for Linux builds only: the macOS platform's
// Swift bridge is compiled against it unchanged and runs end to end, with the model replaced by
// corvane-sim's (platform/sim/sim_model.h, through standin_model.h).
//
// It declares only what the bridge uses, with the SDK's spellings, types, defaults, availability
// and isolation, so that code the SDK would refuse is refused here too. The module is built with
// library evolution, as the system's frameworks are: `UnavailableReason` and `GenerationError` are
// not frozen, so a switch over them needs `@unknown default`. Where the SDK's spelling is not
// known for certain, the stricter form is declared:
// - `respond(to:options:)` is `nonisolated(nonsending)` (the 26.2 interface), not an `isolation:`
//   parameter; a caller that satisfies it satisfies either.
// - `GenerationOptions(sampling:temperature:maximumResponseTokens:)` keeps the defaults of the 26
//   SDK; `sampling:` is not written at the call site, as the 27 SDK deprecates it.
// - `LanguageModelSession` is `@unchecked Sendable` and `SystemLanguageModel` `Sendable`, nothing
//   more: the bridge may not lean on any other conformance.
//
// The runtime library is built a second time with CORVANE_SIM_LATER_SYSTEM, which adds an
// unavailable reason the bridge was not compiled with, as a later system would.

// For LocalizedError, which the SDK's GenerationError adopts. Foundation on Linux is not built with
// library evolution, so swiftc warns that this module's binary compatibility cannot be guaranteed:
// true, and of no concern for a module linked into one executable with the bridge.
import Foundation
internal import CorvaneStandinModel

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public final class SystemLanguageModel: Sendable {
  public static let `default` = SystemLanguageModel()

  private init() {}

  @frozen
  public enum Availability: Equatable, Sendable {
    case available
    case unavailable(UnavailableReason)

    public enum UnavailableReason: Equatable, Sendable {
      case deviceNotEligible
      case appleIntelligenceNotEnabled
      case modelNotReady
      #if CORVANE_SIM_LATER_SYSTEM
        case laterSystemReason
      #endif
    }
  }

  public final var availability: Availability {
    switch corvane_standin_model_availability() {
    case 0: return .available
    case 1: return .unavailable(.deviceNotEligible)
    case 2: return .unavailable(.appleIntelligenceNotEnabled)
    case 3: return .unavailable(.modelNotReady)
    default:
      #if CORVANE_SIM_LATER_SYSTEM
        return .unavailable(.laterSystemReason)
      #else
        // Only the interface the bridge compiles against is built without it; it is never run.
        preconditionFailure("a reason this build of the stand-in does not declare")
      #endif
    }
  }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public protocol Tool: Sendable {
  var name: String { get }
  var description: String { get }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public protocol InstructionsRepresentable {
  var instructionsRepresentation: Instructions { get }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public struct Instructions: InstructionsRepresentable, Sendable {
  fileprivate let text: String

  public init(_ content: some InstructionsRepresentable) {
    text = content.instructionsRepresentation.text
  }

  fileprivate init(text: String) { self.text = text }

  public var instructionsRepresentation: Instructions { self }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
@resultBuilder
public struct InstructionsBuilder {
  public static func buildBlock(_ parts: any InstructionsRepresentable...) -> Instructions {
    Instructions(
      text: parts.map { $0.instructionsRepresentation.text }.joined(separator: "\n"))
  }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public protocol PromptRepresentable {
  var promptRepresentation: Prompt { get }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public struct Prompt: PromptRepresentable, Sendable {
  fileprivate let text: String

  public init(_ content: some PromptRepresentable) {
    text = content.promptRepresentation.text
  }

  fileprivate init(text: String) { self.text = text }

  public var promptRepresentation: Prompt { self }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
extension String: InstructionsRepresentable, PromptRepresentable {
  public var instructionsRepresentation: Instructions { Instructions(text: self) }
  public var promptRepresentation: Prompt { Prompt(text: self) }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public struct GenerationOptions: Sendable, Equatable {
  public struct SamplingMode: Sendable, Equatable {
    fileprivate let name: String

    public static var greedy: SamplingMode { SamplingMode(name: "greedy") }

    public static func random(top k: Int, seed: UInt64? = nil) -> SamplingMode {
      SamplingMode(name: "top")
    }

    public static func random(probabilityThreshold: Double, seed: UInt64? = nil) -> SamplingMode {
      SamplingMode(name: "probabilityThreshold")
    }
  }

  public var sampling: SamplingMode?
  public var temperature: Double?
  public var maximumResponseTokens: Int?

  public init(
    sampling: SamplingMode? = nil, temperature: Double? = nil, maximumResponseTokens: Int? = nil
  ) {
    self.sampling = sampling
    self.temperature = temperature
    self.maximumResponseTokens = maximumResponseTokens
  }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
public final class LanguageModelSession: @unchecked Sendable {
  public struct Response<Content> {
    public let content: Content
  }

  public enum GenerationError: Error, LocalizedError {
    public struct Context: Sendable {
      public let debugDescription: String

      public init(debugDescription: String) { self.debugDescription = debugDescription }
    }

    public struct Refusal: Sendable {}

    case exceededContextWindowSize(Context)
    case assetsUnavailable(Context)
    case guardrailViolation(Context)
    case unsupportedGuide(Context)
    case unsupportedLanguageOrLocale(Context)
    case decodingFailure(Context)
    case rateLimited(Context)
    case concurrentRequests(Context)
    case refusal(Refusal, Context)

    // The stand-in's failures carry their description as the debug text.
    public var errorDescription: String? {
      switch self {
      case .exceededContextWindowSize(let context), .assetsUnavailable(let context),
        .guardrailViolation(let context), .unsupportedGuide(let context),
        .unsupportedLanguageOrLocale(let context), .decodingFailure(let context),
        .rateLimited(let context), .concurrentRequests(let context), .refusal(_, let context):
        return context.debugDescription
      }
    }
  }

  private let instructions: String?

  private init(model: SystemLanguageModel, tools: [any Tool], instructionsText: String?) {
    instructions = instructionsText
    if let instructionsText {
      instructionsText.withCString {
        corvane_standin_model_session($0, instructionsText.utf8.count, tools.count)
      }
    } else {
      corvane_standin_model_session(nil, 0, tools.count)
    }
  }

  @_disfavoredOverload
  public convenience init(
    model: SystemLanguageModel = .default, tools: [any Tool] = [], instructions: String? = nil
  ) {
    self.init(model: model, tools: tools, instructionsText: instructions)
  }

  public convenience init(
    model: SystemLanguageModel = .default, tools: [any Tool] = [],
    instructions: Instructions? = nil
  ) {
    self.init(model: model, tools: tools, instructionsText: instructions?.text)
  }

  public convenience init(
    model: SystemLanguageModel = .default, tools: [any Tool] = [],
    @InstructionsBuilder instructions: () throws -> Instructions
  ) rethrows {
    self.init(model: model, tools: tools, instructionsText: try instructions().text)
  }

  @discardableResult
  nonisolated(nonsending) public final func respond(
    to prompt: Prompt, options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<String> {
    try await respondToText(prompt.text, options: options)
  }

  @_disfavoredOverload
  @discardableResult
  nonisolated(nonsending) public final func respond(
    to prompt: String, options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<String> {
    try await respondToText(prompt, options: options)
  }

  nonisolated(nonsending) private func respondToText(
    _ prompt: String, options: GenerationOptions
  ) async throws -> Response<String> {
    // withCString: the bytes with a NUL after them, which an embedded NUL cannot cut short, as
    // the length goes along.
    let delayMs = prompt.withCString {
      corvane_standin_model_respond(
        $0, prompt.utf8.count, options.temperature == nil ? 0 : 1, options.temperature ?? 0,
        options.maximumResponseTokens == nil ? 0 : 1, Int64(options.maximumResponseTokens ?? 0),
        options.sampling?.name)
    }
    // The response takes its time without holding a thread of the pool.
    if delayMs > 0 {
      try await Task.sleep(nanoseconds: delayMs * 1_000_000)
    }
    var text: UnsafePointer<CChar>? = nil
    let succeeded = corvane_standin_model_outcome(&text) != 0
    guard succeeded else {
      throw GenerationError.decodingFailure(
        GenerationError.Context(debugDescription: String(cString: text!)))
    }
    return Response(content: text.map { String(cString: $0) } ?? prompt)
  }
}

@available(macOS 26.0, iOS 26.0, visionOS 26.0, *)
extension LanguageModelSession.Response: Sendable where Content: Sendable {}
