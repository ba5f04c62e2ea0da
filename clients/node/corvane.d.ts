// Types of corvane.js: calling the corvane executable from Node.js.

export interface ChatMessage {
  /** "system", "assistant" and "tool" are matched exactly; any other text speaks as the user. */
  role: string;
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

export type Availability = { available: true } | { available: false; reason: string };

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
   * Time the run may take before it is killed and the call fails with ProcessError "timeout".
   * Default: 10000 for availability, 120000 for chat; 0 or Infinity: no limit.
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

/** Base class of every failure this module reports. */
export class CorvaneError extends Error {}

/** The program refused the request (exit status 1); `message` is its error text, unchanged. */
export class RefusalError extends CorvaneError {
  readonly status: 1;
}

/** The request was run but the model gave no answer (exit status 0 with an error text). */
export class GenerationError extends CorvaneError {
  readonly status: 0;
}

export type ProcessErrorKind =
  | "not-found"
  | "spawn-failed"
  | "timeout"
  | "abnormal-exit"
  | "malformed-reply";

/** The program could not be run or did not reply as it does. */
export class ProcessError extends CorvaneError {
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
