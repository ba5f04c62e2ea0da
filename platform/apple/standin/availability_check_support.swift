// What the bridge and the stand-in framework use of Foundation and of Swift's concurrency library,
// declared for the availability check (scripts/check-bridge-availability.py) alone. The check
// type-checks them for an Apple target with the embedded standard library, the one Swift here has
// for such a target, which comes without either library. Each declaration has the signature and
// the availability of the system's, so that the check finds in them what a Mac build would; no
// body here is ever run.

// Foundation

@available(macOS 10.13, iOS 11.0, *)
public protocol LocalizedError: Error {
  var errorDescription: String? { get }
  var failureReason: String? { get }
  var recoverySuggestion: String? { get }
  var helpAnchor: String? { get }
}

@available(macOS 10.13, iOS 11.0, *)
extension LocalizedError {
  public var errorDescription: String? { nil }
  public var failureReason: String? { nil }
  public var recoverySuggestion: String? { nil }
  public var helpAnchor: String? { nil }
}

extension Error {
  public var localizedDescription: String { "" }
}

open class NSError: Error, @unchecked Sendable {
  public init(domain: String, code: Int, userInfo dict: [String: Any]? = nil) {}
}

public struct OperatingSystemVersion: Sendable {
  public var majorVersion: Int
  public var minorVersion: Int
  public var patchVersion: Int

  public init(majorVersion: Int, minorVersion: Int, patchVersion: Int) {
    self.majorVersion = majorVersion
    self.minorVersion = minorVersion
    self.patchVersion = patchVersion
  }
}

open class ProcessInfo: @unchecked Sendable {
  open class var processInfo: ProcessInfo { ProcessInfo() }

  @available(macOS 10.10, iOS 8.0, *)
  open func isOperatingSystemAtLeast(_ version: OperatingSystemVersion) -> Bool { true }
}

// The standard library's printed form of a value, which the embedded one leaves out; this one
// shadows its unavailable declaration.
extension String {
  public init<Subject>(describing instance: Subject) { self = "" }
}

// The concurrency library

@available(macOS 10.15, iOS 13.0, *)
public struct TaskPriority: Sendable {}

@available(macOS 10.15, iOS 13.0, *)
@frozen public struct Task<Success: Sendable, Failure: Error>: Sendable {
  @discardableResult
  public static func detached(
    priority: TaskPriority? = nil,
    operation: sending @escaping @isolated(any) () async -> Success
  ) -> Task<Success, Failure> where Failure == Never {
    fatalError()
  }
}

@available(macOS 10.15, iOS 13.0, *)
extension Task where Success == Never, Failure == Never {
  public static func sleep(nanoseconds duration: UInt64) async throws {}
}

// What a streamed response is iterated with.

@available(macOS 10.15, iOS 13.0, *)
public protocol Actor: AnyObject, Sendable {}

@available(macOS 10.15, iOS 13.0, *)
public protocol AsyncIteratorProtocol<Element, Failure> {
  associatedtype Element
  associatedtype Failure: Error = any Error
  mutating func next() async throws -> Element?
}

@available(macOS 10.15, iOS 13.0, *)
public protocol AsyncSequence<Element, Failure> {
  associatedtype AsyncIterator: AsyncIteratorProtocol
  associatedtype Element where AsyncIterator.Element == Element
  associatedtype Failure = AsyncIterator.Failure
  func makeAsyncIterator() -> AsyncIterator
}
