// Types of corvane.js: calling the corvane executable from Node.js.

/**
 * The roles the program tells apart. It reads any other text as "user"; a request that needs one
 * is sent as a JSON string.
 */
export type Role = "system" | "user" | "assistant" | "tool";

export interface ChatMessage {
  role: Role;
  /** Absent, null or blank once trimmed: the message is left out. */
  content?: string | null;
}

export interface ChatRequest {
  messages: ChatMessage[];
  /** Passed to the model unchanged; absent or null: 0.35. */
  temperature?: number | null;
  /** Absent or null: 256; otherwise clamped to 32..512. Must be an integer. */
  maxTokens?: number | null;
  /** Put before the system messages' content, as given. */
  instructions?: string | null;
}

/**
 * Why the model cannot be used, as a code: macOS older than 26, a device that is not eligible,
 * Apple Intelligence turned off, the model not ready yet (downloading), any other reason. A
 * reason text the client does not know (from a later version of the program) is "other".
 */
export type UnavailableReason =
  | "osTooOld"
  | "deviceNotEligible"
  | "appleIntelligenceNotEnabled"
  | "modelNotReady"
  | "other";

export type Availability =
  | { available: true }
  | {
      available: false;
      /** A sentence for the end user. */
      reason: string;
      reasonCode: UnavailableReason;
    };

export interface ChatAnswer {
  /** The model's whole answer; may be empty. */
  content: string;
  /** "stop" (the only value the program writes today). */
  finishReason: string;
}

export interface CallOptions {
  /**
   * The executable: a path (any value holding a slash), or a name looked up in the directories of
   * PATH. Default: the CORVANE_EXECUTABLE variable of `env` when set and not empty, else "corvane".
   * When it cannot be found the call rejects with ProcessError "not-found", naming where it looked;
   * when it exists but cannot be started (not executable, its interpreter missing), "spawn-failed".
   */
  executable?: string;
  /**
   * Milliseconds the run may take before it is killed and the call fails with ProcessError
   * "timeout". Default: 10000 for availability, 120000 for chat and stream (the whole run); 0 or
   * Infinity: no limit; over
   * 2^31 - 1: that. Any other value (negative, NaN, not a number, null) rejects with a RangeError
   * or TypeError before any process starts.
   */
  timeoutMs?: number;
  /**
   * Environment of the process; CORVANE_EXECUTABLE and PATH are read from it to find the
   * executable. Default: process.env.
   */
  env?: NodeJS.ProcessEnv;
  /**
   * Aborting it kills the process and rejects the call with an AbortError whose `cause` is the
   * signal's reason; the call settles once the process has ended. A signal already aborted rejects
   * at once and starts no process.
   */
  signal?: AbortSignal;
}

/**
 * The call was aborted through its `signal`. Not a CorvaneError: it reports the caller's decision,
 * not a failure.
 */
export class AbortError extends Error {
  readonly name: "AbortError";
  readonly code: "ABORT_ERR";
  /** The signal's reason. */
  readonly cause: unknown;
}

/**
 * What a failure means to the application: "unavailable", the model cannot be used (`reasonCode`
 * says why); "badRequest", the request is refused as it is, so sending it again fails again;
 * "generationFailed", the request was valid but no answer came, so trying again may work;
 * "processFailed", the program did not reply (ProcessError, `kind` says why).
 */
export type ErrorCode = "unavailable" | "badRequest" | "generationFailed" | "processFailed";

/** Base class of every failure this module reports. */
export class CorvaneError extends Error {
  readonly code: ErrorCode;
}

/**
 * The program refused the request (exit status 1); `message` is its error text, unchanged. `code`
 * is derived from the text: an availability reason is "unavailable" with its `reasonCode`; the
 * system refusing the generation's thread is "generationFailed"; every other text, one the client
 * does not know included, is "badRequest".
 */
export class RefusalError extends CorvaneError {
  readonly status: 1;
  readonly code: "unavailable" | "badRequest" | "generationFailed";
  /** Set when `code` is "unavailable", else null. */
  readonly reasonCode: UnavailableReason | null;
}

/** The request was run but the model gave no answer (exit status 0 with an error text). */
export class GenerationError extends CorvaneError {
  readonly status: 0;
  readonly code: "generationFailed";
}

export type ProcessErrorKind =
  | "not-found"
  | "spawn-failed"
  | "timeout"
  | "abnormal-exit"
  | "malformed-reply";

/** The program could not be run or did not reply as it does. */
export class ProcessError extends CorvaneError {
  readonly code: "processFailed";
  readonly kind: ProcessErrorKind;
  /** Exit status, when the process exited by itself. */
  readonly status: number | null;
  /** The signal that ended the process, if any. */
  readonly signal: NodeJS.Signals | null;
  /** What the process printed on standard output, if it ran. */
  readonly output: string | null;
}

/**
 * Whether the on-device model can be used, and if not, why (in words for the end user). Rejects with
 * RefusalError or ProcessError, or with AbortError when `options.signal` aborts.
 */
export function availability(options?: CallOptions): Promise<Availability>;

/**
 * Sends one chat request and resolves to the model's whole answer. Rejects with RefusalError,
 * GenerationError or ProcessError, or with AbortError when `options.signal` aborts. A string
 * request is sent as it is. A request that JSON in UTF-8 cannot carry exactly (a NaN or infinite
 * number, a lone surrogate, an object that holds itself) rejects with a TypeError before any
 * process starts.
 */
export function chat(request: ChatRequest | string, options?: CallOptions): Promise<ChatAnswer>;

/**
 * A piece of an answer being written: "delta", the answer so far goes on with `text`; "replace",
 * the answer so far is `text` instead (the model revised what it had written; start over).
 */
export interface StreamPiece {
  kind: "delta" | "replace";
  text: string;
}

/**
 * The answer of stream() as it is written. Iterate it with `for await`: each piece comes as soon as
 * the program writes it. The loop ends with the whole answer, or throws what chat() would reject
 * with. Leaving the loop early (break, return, an exception) kills the process; the loop is left
 * once it has ended.
 */
export interface ChatStream extends AsyncIterable<StreamPiece> {
  /**
   * The whole answer, equal to the pieces joined (starting over at each "replace"); rejects as
   * the loop throws, or with an AbortError when the loop was left early. Awaiting it alone, with
   * no loop, gives what chat() gives.
   */
  readonly answer: Promise<ChatAnswer>;
  [Symbol.asyncIterator](): ChatStream;
  next(): Promise<IteratorResult<StreamPiece, ChatAnswer>>;
  /** Kills the process if it still runs and resolves once it has ended. */
  return(value?: unknown): Promise<IteratorResult<StreamPiece, undefined>>;
}

/**
 * Sends one chat request and hands out the answer as it is written; the process starts at once.
 * Failures are those of chat(), thrown by the loop: RefusalError, GenerationError (possibly after
 * some pieces), ProcessError ("malformed-reply" too when the pieces do not add up to the answer),
 * AbortError when `options.signal` aborts, and the TypeError or RangeError of a request or time
 * limit that chat() refuses before any process starts.
 */
export function stream(request: ChatRequest | string, options?: CallOptions): ChatStream;
