// A stand-in for Apple's FoundationModels framework, for Linux builds only: the macOS platform's
// Swift bridge is compiled against it unchanged and runs end to end, with the model replaced by
// corvane-sim's (platform/sim/sim_model.h, through standin_model.h).
//
// It declares the part of the SDK the bridge reaches, and every overload a call of the bridge must
// be resolved among, with the SDK's spellings, types, defaults, availability and isolation, so
// that code the SDK would refuse is refused here too. The module is built with library evolution,
// as the system's frameworks are: `UnavailableReason` and `GenerationError` are not frozen, so a
// switch over them needs `@unknown default`.
//
// Where the public copies of the SDK's interfaces (26.2 device and simulator, 26.5, 27.0) differ,
// the strictest reading is declared, as one that satisfies it satisfies every SDK:
// - `Response` is `Response<Content> where Content : Generable` and not `Sendable`: the 26.2
//   simulator and 27.0 interfaces make it `Sendable where Content : Sendable`, the 26.2 device
//   extract declares no conformance.
// - `respond` is `nonisolated(nonsending)` (26.2, 27.0), not an `isolation:` parameter.
// - `LanguageModelSession` is `@unchecked Sendable` (26.2 simulator, 27.0; one summary says plain
//   `Sendable`) and `SystemLanguageModel` `Sendable`, nothing more.
// - `GenerationOptions` comes in the shape of the 26 SDK and, built with CORVANE_STANDIN_SDK_27,
//   of the 27 SDK, which renames `sampling` to `samplingMode`, adds
//   `init(samplingMode:temperature:maximumResponseTokens:)` (back-deployed to 26) and deprecates
//   the old initializer, whose `sampling:` loses its default. Code must compile with both.
// - `GenerationError` has the nine cases of the 26 SDK, with `LocalizedError`. The 27 SDK
//   deprecates them for new error types but still throws them to code built with Xcode 26.
// The `respond` forms that take a prompt builder, and what the bridge never touches (transcripts,
// tools' calls, streaming), are left out; a call of the bridge cannot resolve to any of them.
//
// Availability is stated for macOS alone, the one system the bridge is built for; the SDK states
// the same versions for iOS and visionOS. On Linux it is not checked: the availability check
// (scripts/check-bridge-availability.py) type-checks the bridge against this file for an Apple
// target with every `macOS` read as `iOS`, the one Apple system Swift here has a library for.
//
// The model fails as the system's does: with any of the nine generation errors, with or without a
// description, or with a plain NSError (standin_model.h). The runtime library is built a second
// time with CORVANE_SIM_LATER_SYSTEM, which adds an unavailable reason the bridge was not compiled
// with, as a later system would.

// For LocalizedError, which the SDK's GenerationError adopts, and NSError. Foundation on Linux is
// not built with library evolution, so swiftc warns that this module's binary compatibility cannot
// be guaranteed: true, and of no concern for a module linked into one executable with the bridge.
import Foundation
internal import CorvaneStandinModel

@available(macOS 26.0, *)
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

@available(macOS 26.0, *)
public protocol Tool: Sendable {
  var name: String { get }
  var description: String { get }
}

@available(macOS 26.0, *)
public protocol InstructionsRepresentable {
  var instructionsRepresentation: Instructions { get }
}

@available(macOS 26.0, *)
public struct Instructions: InstructionsRepresentable, Sendable {
  fileprivate let text: String

  public init(_ content: some InstructionsRepresentable) {
    text = content.instructionsRepresentation.text
  }

  fileprivate init(text: String) { self.text = text }

  public var instructionsRepresentation: Instructions { self }
}

@available(macOS 26.0, *)
@resultBuilder
public struct InstructionsBuilder {
  public static func buildBlock(_ parts: any InstructionsRepresentable...) -> Instructions {
    Instructions(
      text: parts.map { $0.instructionsRepresentation.text }.joined(separator: "\n"))
  }
}

@available(macOS 26.0, *)
public protocol PromptRepresentable {
  var promptRepresentation: Prompt { get }
}

@available(macOS 26.0, *)
public struct Prompt: PromptRepresentable, Sendable {
  fileprivate let text: String

  public init(_ content: some PromptRepresentable) {
    text = content.promptRepresentation.text
  }

  fileprivate init(text: String) { self.text = text }

  public var promptRepresentation: Prompt { self }
}

// What guided generation works with. The stand-in generates plain text only: generated content is
// that text, and the one schema it knows is that of a string.
@available(macOS 26.0, *)
public struct GenerationSchema: Sendable {
  fileprivate init() {}
}

@available(macOS 26.0, *)
public protocol ConvertibleFromGeneratedContent {
  init(_ content: GeneratedContent) throws
}

@available(macOS 26.0, *)
public protocol ConvertibleToGeneratedContent: InstructionsRepresentable, PromptRepresentable {
  var generatedContent: GeneratedContent { get }
}

@available(macOS 26.0, *)
extension ConvertibleToGeneratedContent {
  public var instructionsRepresentation: Instructions {
    Instructions(text: generatedContent.text)
  }

  public var promptRepresentation: Prompt { Prompt(text: generatedContent.text) }
}

@available(macOS 26.0, *)
public protocol Generable: ConvertibleFromGeneratedContent, ConvertibleToGeneratedContent {
  associatedtype PartiallyGenerated: ConvertibleFromGeneratedContent = Self

  static var generationSchema: GenerationSchema { get }
}

@available(macOS 26.0, *)
public struct GeneratedContent: Sendable, Equatable, Generable {
  fileprivate let text: String

  fileprivate init(text: String) { self.text = text }

  public init(_ content: GeneratedContent) { self = content }

  public var generatedContent: GeneratedContent { self }

  public static var generationSchema: GenerationSchema { GenerationSchema() }
}

@available(macOS 26.0, *)
extension String: Generable {
  public init(_ content: GeneratedContent) { self = content.text }

  public var generatedContent: GeneratedContent { GeneratedContent(text: self) }

  public static var generationSchema: GenerationSchema { GenerationSchema() }

  public var instructionsRepresentation: Instructions { Instructions(text: self) }

  public var promptRepresentation: Prompt { Prompt(text: self) }
}

@available(macOS 26.0, *)
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

  public var temperature: Double?
  public var maximumResponseTokens: Int?

  #if CORVANE_STANDIN_SDK_27
    public var samplingMode: SamplingMode?

    @available(macOS, introduced: 26.0, deprecated: 27.0, renamed: "samplingMode")
    public var sampling: SamplingMode? {
      get { samplingMode }
      set { samplingMode = newValue }
    }

    // Back-deployed to 26 in the SDK: to its callers, available from 26.0 like the rest.
    public init(
      samplingMode: SamplingMode? = nil, temperature: Double? = nil,
      maximumResponseTokens: Int? = nil
    ) {
      self.samplingMode = samplingMode
      self.temperature = temperature
      self.maximumResponseTokens = maximumResponseTokens
    }

    @available(
      macOS, introduced: 26.0, deprecated: 27.0,
      renamed: "init(samplingMode:temperature:maximumResponseTokens:)"
    )
    public init(
      sampling: SamplingMode?, temperature: Double? = nil, maximumResponseTokens: Int? = nil
    ) {
      self.init(
        samplingMode: sampling, temperature: temperature,
        maximumResponseTokens: maximumResponseTokens)
    }

    fileprivate var samplingName: String? { samplingMode?.name }
  #else
    public var sampling: SamplingMode?

    public init(
      sampling: SamplingMode? = nil, temperature: Double? = nil, maximumResponseTokens: Int? = nil
    ) {
      self.sampling = sampling
      self.temperature = temperature
      self.maximumResponseTokens = maximumResponseTokens
    }

    fileprivate var samplingName: String? { sampling?.name }
  #endif
}

@available(macOS 26.0, *)
public final class LanguageModelSession: @unchecked Sendable {
  public struct Response<Content> where Content: Generable {
    public let content: Content
    public let rawContent: GeneratedContent
  }

  // No Sendable conformance, as in the SDK (the stream, its snapshots and its iterator alike).
  public struct ResponseStream<Content> where Content: Generable {
    fileprivate let run: StreamRun

    public struct Snapshot {
      public var content: Content.PartiallyGenerated
      public var rawContent: GeneratedContent
    }
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

    // The stand-in's failures carry their description as the debug text; an empty one stands for
    // a failure the system does not describe.
    public var errorDescription: String? {
      switch self {
      case .exceededContextWindowSize(let context), .assetsUnavailable(let context),
        .guardrailViolation(let context), .unsupportedGuide(let context),
        .unsupportedLanguageOrLocale(let context), .decodingFailure(let context),
        .rateLimited(let context), .concurrentRequests(let context), .refusal(_, let context):
        return context.debugDescription.isEmpty ? nil : context.debugDescription
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

  // The responses to a prompt given as a `Prompt` or as a `String` (disfavoured, as in the SDK):
  // plain text, content following a schema, or a generable type. Each is the model's text.

  @discardableResult
  nonisolated(nonsending) public final func respond(
    to prompt: Prompt, options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<String> {
    try await response(to: prompt.text, options: options)
  }

  @_disfavoredOverload
  @discardableResult
  nonisolated(nonsending) public final func respond(
    to prompt: String, options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<String> {
    try await response(to: prompt, options: options)
  }

  @discardableResult
  nonisolated(nonsending) public final func respond(
    to prompt: Prompt, schema: GenerationSchema, includeSchemaInPrompt: Bool = true,
    options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<GeneratedContent> {
    try await response(to: prompt.text, options: options)
  }

  @_disfavoredOverload
  @discardableResult
  nonisolated(nonsending) public final func respond(
    to prompt: String, schema: GenerationSchema, includeSchemaInPrompt: Bool = true,
    options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<GeneratedContent> {
    try await response(to: prompt, options: options)
  }

  @discardableResult
  nonisolated(nonsending) public final func respond<Content>(
    to prompt: Prompt, generating type: Content.Type = Content.self,
    includeSchemaInPrompt: Bool = true, options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<Content> where Content: Generable {
    try await response(to: prompt.text, options: options)
  }

  @_disfavoredOverload
  @discardableResult
  nonisolated(nonsending) public final func respond<Content>(
    to prompt: String, generating type: Content.Type = Content.self,
    includeSchemaInPrompt: Bool = true, options: GenerationOptions = GenerationOptions()
  ) async throws -> Response<Content> where Content: Generable {
    try await response(to: prompt, options: options)
  }

  // The answer as it is written: a sequence of snapshots, each the whole text so far. Not async
  // and not throwing, as in the SDK: the model is asked when the sequence is first iterated, and
  // its failure comes out of the iteration. The String form is disfavoured, as in the SDK.

  public final func streamResponse(
    to prompt: Prompt, options: GenerationOptions = GenerationOptions()
  ) -> sending ResponseStream<String> {
    ResponseStream(run: StreamRun(prompt: prompt.text, options: options))
  }

  @_disfavoredOverload
  public final func streamResponse(
    to prompt: String, options: GenerationOptions = GenerationOptions()
  ) -> sending ResponseStream<String> {
    ResponseStream(run: StreamRun(prompt: prompt, options: options))
  }

  // One response of the model, as the content asked for.
  nonisolated(nonsending) private func response<Content: Generable>(
    to prompt: String, options: GenerationOptions
  ) async throws -> Response<Content> {
    let text = try await generatedText(prompt, options: options)
    return Response(content: try Content(text), rawContent: text)
  }

  nonisolated(nonsending) private func generatedText(
    _ prompt: String, options: GenerationOptions
  ) async throws -> GeneratedContent {
    // withCString: the bytes with a NUL after them, which an embedded NUL cannot cut short, as
    // the length goes along.
    let delayMs = prompt.withCString {
      corvane_standin_model_respond(
        $0, prompt.utf8.count, options.temperature == nil ? 0 : 1, options.temperature ?? 0,
        options.maximumResponseTokens == nil ? 0 : 1, Int64(options.maximumResponseTokens ?? 0),
        options.samplingName)
    }
    // The response takes its time without holding a thread of the pool.
    if delayMs > 0 {
      try await Task.sleep(nanoseconds: delayMs * 1_000_000)
    }
    var text: UnsafePointer<CChar>? = nil
    let outcome = corvane_standin_model_outcome(&text)
    guard outcome == CORVANE_STANDIN_ANSWERED else {
      throw Self.failure(outcome, description: String(cString: text!))
    }
    return GeneratedContent(text: text.map { String(cString: $0) } ?? prompt)
  }

  // The error the model fails with (standin_model.h): a case of the generation error, or a plain
  // NSError of the kind the system has been seen to throw besides them, which describes nothing.
  fileprivate static func failure(_ outcome: Int32, description: String) -> any Error {
    let context = GenerationError.Context(debugDescription: description)
    switch outcome {
    case CORVANE_STANDIN_EXCEEDED_CONTEXT_WINDOW_SIZE:
      return GenerationError.exceededContextWindowSize(context)
    case CORVANE_STANDIN_ASSETS_UNAVAILABLE: return GenerationError.assetsUnavailable(context)
    case CORVANE_STANDIN_GUARDRAIL_VIOLATION: return GenerationError.guardrailViolation(context)
    case CORVANE_STANDIN_UNSUPPORTED_GUIDE: return GenerationError.unsupportedGuide(context)
    case CORVANE_STANDIN_UNSUPPORTED_LANGUAGE_OR_LOCALE:
      return GenerationError.unsupportedLanguageOrLocale(context)
    case CORVANE_STANDIN_DECODING_FAILURE: return GenerationError.decodingFailure(context)
    case CORVANE_STANDIN_RATE_LIMITED: return GenerationError.rateLimited(context)
    case CORVANE_STANDIN_CONCURRENT_REQUESTS: return GenerationError.concurrentRequests(context)
    case CORVANE_STANDIN_REFUSAL: return GenerationError.refusal(GenerationError.Refusal(), context)
    default: return NSError(domain: "FoundationModels.LanguageModelError", code: -1)
    }
  }
}

@available(macOS 26.0, *)
extension LanguageModelSession.ResponseStream: AsyncSequence {
  public typealias Element = LanguageModelSession.ResponseStream<Content>.Snapshot

  public struct AsyncIterator: AsyncIteratorProtocol {
    fileprivate let run: StreamRun

    // The SDK's iterator takes its caller's isolation; the availability check's standard library
    // has no actors, so there the plain form stands alone.
    #if hasFeature(Embedded)
      public mutating func next() async throws
        -> LanguageModelSession.ResponseStream<Content>.Snapshot?
      {
        guard let text = try await run.next() else { return nil }
        return Snapshot(content: try Content.PartiallyGenerated(text), rawContent: text)
      }
    #else
      public mutating func next(
        isolation actor: isolated (any Actor)? = #isolation
      ) async throws -> LanguageModelSession.ResponseStream<Content>.Snapshot? {
        guard let text = try await run.next() else { return nil }
        return Snapshot(content: try Content.PartiallyGenerated(text), rawContent: text)
      }

      public mutating func next() async throws
        -> LanguageModelSession.ResponseStream<Content>.Snapshot?
      {
        try await next(isolation: nil)
      }
    #endif
  }

  public func makeAsyncIterator() -> AsyncIterator { AsyncIterator(run: run) }

  // The whole response, once the stream has ended.
  nonisolated(nonsending) public func collect() async throws
    -> sending LanguageModelSession.Response<Content>
  {
    var last = GeneratedContent(text: "")
    while let text = try await run.next() { last = text }
    // Made afresh from generated content, which is Sendable, so nothing else can hold it; the
    // compiler cannot tell that of a value of a generic type, hence the unchecked sending.
    nonisolated(unsafe) let response = LanguageModelSession.Response(
      content: try Content(last), rawContent: last)
    return response
  }
}

// One streamed response of the stand-in model (standin_model.h): the request when it is first
// asked for a snapshot, then a snapshot per piece of the answer, the delay before each, then the
// end, or the failure.
@available(macOS 26.0, *)
fileprivate final class StreamRun {
  private let prompt: String
  private let options: GenerationOptions
  private var started = false
  private var ended = false
  private var delayMs: UInt64 = 0
  private var answer: [UInt8] = []  // the bytes the pieces are cut from
  private var pieces: UInt64 = 0
  private var pieceLength: UInt64 = 0
  private var given: UInt64 = 0  // pieces given so far
  private var at = 0  // where the next piece begins
  private var outcome: Int32 = 0
  private var failure = ""

  init(prompt: String, options: GenerationOptions) {
    self.prompt = prompt
    self.options = options
  }

  // The text so far after the next piece, or nil at the end. Runs in its caller's isolation, as
  // the iteration that asks for it.
  nonisolated(nonsending) func next() async throws -> GeneratedContent? {
    if !started {
      started = true
      request()
    }
    if given < pieces {
      if delayMs > 0 { try await Task.sleep(nanoseconds: delayMs * 1_000_000) }
      at = answer.withUnsafeBufferPointer { bytes in
        bytes.withMemoryRebound(to: CChar.self) {
          corvane_standin_model_piece_end($0.baseAddress!, $0.count, at, pieceLength)
        }
      }
      given += 1
      return GeneratedContent(text: String(decoding: answer[..<at], as: UTF8.self))
    }
    if ended { return nil }
    ended = true
    if pieces == 0 && delayMs > 0 { try await Task.sleep(nanoseconds: delayMs * 1_000_000) }
    guard outcome == CORVANE_STANDIN_ANSWERED else {
      throw LanguageModelSession.failure(outcome, description: failure)
    }
    return nil
  }

  private func request() {
    let options = self.options
    delayMs = prompt.withCString {
      corvane_standin_model_stream(
        $0, prompt.utf8.count, options.temperature == nil ? 0 : 1, options.temperature ?? 0,
        options.maximumResponseTokens == nil ? 0 : 1, Int64(options.maximumResponseTokens ?? 0),
        options.samplingName)
    }
    var text: UnsafePointer<CChar>? = nil
    var description: UnsafePointer<CChar>? = nil
    outcome = prompt.withCString {
      corvane_standin_model_stream_outcome(
        $0, prompt.utf8.count, &text, &pieces, &pieceLength, &description)
    }
    // The answer's bytes as they are, not repaired, so that the pieces are cut where the stand-in
    // cuts them for corvane-sim.
    if let text {
      var count = 0
      while text[count] != 0 { count += 1 }
      answer = Array(UnsafeRawBufferPointer(start: text, count: count))
    } else {
      answer = Array(prompt.utf8)
    }
    failure = description.map { String(cString: $0) } ?? ""
  }
}
