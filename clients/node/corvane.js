// Calls the corvane executable from Node.js: one process per call, the request on standard input,
// one JSON line back (for stream(), the answer's pieces as they are written, then that line). No dependencies beyond Node's own modules. Options of every call:
// `executable`, `env`, `timeoutMs` and `signal` (an AbortSignal), described in corvane.d.ts.
import { spawn } from "node:child_process";
import { closeSync, constants, existsSync, openSync, readSync } from "node:fs";
import { access, stat } from "node:fs/promises";
import { delimiter, isAbsolute, resolve as resolvePath, sep } from "node:path";

const DEFAULT_EXECUTABLE = "corvane";
const EXECUTABLE_VARIABLE = "CORVANE_EXECUTABLE";
const DEFAULT_TIMEOUTS_MS = { availability: 10_000, chat: 120_000, stream: 120_000 };
// Far above any reply the program writes; a longer output is not a reply.
const MAX_OUTPUT_BYTES = 16 * 1024 * 1024;
const MAX_TIMER_MS = 2 ** 31 - 1;

// The availability reasons the program gives, each with the code an application acts on. The
// list is closed for a version of the program; a reason it does not hold is "other", as the
// program itself reports every reason it has no sentence for.
const UNAVAILABLE_REASONS = new Map([
  ["Requires macOS 26 or later with Apple Intelligence.", "osTooOld"],
  ["This device is not eligible for Apple Intelligence.", "deviceNotEligible"],
  ["Apple Intelligence is turned off. Enable it in System Settings.", "appleIntelligenceNotEnabled"],
  ["The on-device model is downloading or not ready yet. Try again shortly.", "modelNotReady"],
  ["Apple Intelligence is unavailable on this device.", "other"],
]);
// The one refusal of a valid request: the system had no thread for the generation, which may
// have one next time.
const WORKER_FAILURE = "could not start the generation worker: ";

/** Base class of every failure this module reports; `code` says what the application can do. */
export class CorvaneError extends Error {
  constructor(message, options) {
    super(message, options);
    this.name = new.target.name;
  }
}

/**
 * The call was aborted through its `signal`; `cause` is the signal's reason. Not a CorvaneError: it
 * reports the caller's decision, not a failure. The process, if it had started, has been killed.
 */
export class AbortError extends Error {
  constructor(message, options) {
    super(message, options);
    this.name = "AbortError";
    this.code = "ABORT_ERR";
  }
}

/**
 * The program refused the request (exit status 1); `message` is its error text, unchanged. `code`
 * is "unavailable" (with `reasonCode`) for an availability reason, "generationFailed" when the
 * system could not start the generation, and "badRequest" for every other text, known or not.
 */
export class RefusalError extends CorvaneError {
  constructor(message) {
    super(message);
    this.status = 1;
    this.reasonCode = UNAVAILABLE_REASONS.get(message) ?? null;
    this.code = this.reasonCode ? "unavailable" : String(message).startsWith(WORKER_FAILURE) ? "generationFailed" : "badRequest";
  }
}

/** The request was run but the model gave no answer (exit status 0 with an error text). */
export class GenerationError extends CorvaneError {
  constructor(message) {
    super(message);
    this.status = 0;
    this.code = "generationFailed";
  }
}

/**
 * The program could not be run or did not reply as it does: `kind` is "not-found",
 * "spawn-failed", "timeout", "abnormal-exit" or "malformed-reply".
 */
export class ProcessError extends CorvaneError {
  constructor(kind, message, details = {}) {
    super(message, details.cause ? { cause: details.cause } : undefined);
    this.code = "processFailed";
    this.kind = kind;
    this.status = details.status ?? null;
    this.signal = details.signal ?? null;
    this.output = details.output ?? null;
  }
}

const LIMIT_EXPECTED = "expected a positive number, or 0 or infinity for no limit";

// The time limit of a call in milliseconds, 0 for none: the command's default when `timeoutMs` is
// absent, none for 0 or Infinity, else a positive number (timers take at most 2^31 - 1 ms, so a
// longer limit is that). Anything else throws, in the Python client's words, so that a mistyped
// limit never passes as no limit.
function timeLimitOf(options, command) {
  const value = options.timeoutMs;
  if (value === undefined) return DEFAULT_TIMEOUTS_MS[command];
  if (typeof value !== "number") {
    const found = value === null ? "null" : Array.isArray(value) ? "an array" : /^[aeiou]/.test(typeof value) ? `an ${typeof value}` : `a ${typeof value}`;
    throw new TypeError(`invalid time limit: ${found} (${LIMIT_EXPECTED})`);
  }
  if (Number.isNaN(value) || value < 0) throw new RangeError(`invalid time limit: ${value} (${LIMIT_EXPECTED})`);
  return value === Infinity ? 0 : Math.min(Math.ceil(value), MAX_TIMER_MS);
}

function isPlainObject(value) {
  return typeof value === "object" && value !== null && !Array.isArray(value);
}

function abortErrorOf(signal) {
  return new AbortError("The operation was aborted", { cause: signal.reason });
}

async function isExecutableFile(path) {
  try {
    await access(path, constants.X_OK);
    return (await stat(path)).isFile();
  } catch {
    return false;
  }
}

// The executable to start: the `executable` option, else CORVANE_EXECUTABLE, else "corvane". A value
// holding a slash is a path; a bare name is looked up in the directories of PATH. `env` is the
// environment the program will run with. Resolves to the path and to words that say where it came
// from; rejects with ProcessError "not-found" when no directory of PATH has it.
async function locate(executable, env) {
  let name = executable == null ? "" : String(executable);
  let origin = "given as executable";
  if (name === "" && env[EXECUTABLE_VARIABLE]) {
    name = env[EXECUTABLE_VARIABLE];
    origin = `from ${EXECUTABLE_VARIABLE}`;
  } else if (name === "") {
    name = DEFAULT_EXECUTABLE;
    origin = null;
  }
  if (name.includes("/") || name.includes(sep)) {
    if (!isAbsolute(name)) origin += `; taken from the current directory ${process.cwd()}`;
    return { path: name, where: `${name} (${origin})` };
  }
  const search = env.PATH ?? "";
  for (const dir of search.split(delimiter).filter(Boolean)) {
    const candidate = resolvePath(dir, name);
    if (await isExecutableFile(candidate)) return { path: candidate, where: `${candidate} (found in PATH)` };
  }
  let hint = origin ? ` (${origin})` : `; pass its path as executable or set ${EXECUTABLE_VARIABLE}`;
  const inherited = process.env[EXECUTABLE_VARIABLE];
  if (!origin && env !== process.env && inherited) {
    hint += `; the env given has no ${EXECUTABLE_VARIABLE}, though this process's own environment sets it to ${inherited}`;
  }
  throw new ProcessError("not-found", `corvane executable not found: no "${name}" in PATH (${search || "empty"})${hint}`);
}

// The program named on the file's "#!" line, if it has one.
function interpreterOf(path) {
  const head = Buffer.alloc(256);
  let length;
  try {
    const fd = openSync(path, "r");
    try {
      length = readSync(fd, head, 0, head.length, 0);
    } finally {
      closeSync(fd);
    }
  } catch {
    return null;
  }
  const text = head.subarray(0, length).toString("utf8");
  return text.startsWith("#!") ? text.slice(2).split("\n")[0].trim().split(/\s+/)[0] || null : null;
}

// The error of a start that failed: "not-found" when there is no such file; "spawn-failed" when
// there is one that cannot be started (not executable, or a script whose interpreter is missing,
// which the system reports as a missing file too).
function startFailure(error, path, where, what) {
  if (error.code === "ENOENT" && !existsSync(path)) {
    return new ProcessError("not-found", `corvane executable not found: ${where}`, { cause: error });
  }
  let message = `${what}: could not start (${error.code ?? error.message})`;
  if (error.code === "ENOENT") {
    const interpreter = interpreterOf(path);
    message += interpreter ? `: the file exists, but not its interpreter ${interpreter}` : ": the file exists, but not the interpreter or loader it needs";
  }
  return new ProcessError("spawn-failed", message, { cause: error });
}

// Runs the executable with `command` and `input` on standard input and resolves to the exit status
// (0 or 1) and the whole standard output; rejects with a ProcessError for any other end, and with an
// AbortError when `options.signal` aborts or `control.cancel()` is called. `control.onData`, if
// given, sees each chunk of standard output as it arrives. Whenever it settles after the process
// started, the process has ended and been reaped: a run stopped for a time-out or an abort is
// killed first.
async function runProcess(command, input, options, control = {}) {
  const { signal } = options;
  const timeout = timeLimitOf(options, command);
  const cancelled = () => new AbortError("The stream was closed before its end");
  if (signal?.aborted) throw abortErrorOf(signal);
  const env = options.env ?? process.env;
  const { path, where } = await locate(options.executable, env);
  if (signal?.aborted) throw abortErrorOf(signal);
  if (control.cancelled) throw cancelled();
  const what = `${path} ${command}`;
  return new Promise((resolve, reject) => {
    let child;
    try {
      child = spawn(path, [command], { env, stdio: ["pipe", "pipe", "ignore"], windowsHide: true });
    } catch (error) {
      reject(startFailure(error, path, where, what));
      return;
    }
    const chunks = [];
    let size = 0;
    let stopReason = null; // "abort", "cancel", "timeout" or "overflow" once the run is being killed
    let settled = false;
    let timer;
    const onAbort = () => stop("abort");
    const settle = (outcome, value) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      signal?.removeEventListener("abort", onAbort);
      outcome(value);
    };
    const output = () => Buffer.concat(chunks).toString("utf8");
    const exited = () => child.exitCode !== null || child.signalCode !== null;
    // Called once the process stopped for `stopReason` has exited.
    const stopped = () => {
      child.stdout.destroy();
      if (stopReason === "abort") settle(reject, abortErrorOf(signal));
      else if (stopReason === "cancel") settle(reject, cancelled());
      else if (stopReason === "timeout") {
        settle(reject, new ProcessError("timeout", `${what}: no reply within ${timeout} ms`, { output: output() }));
      } else {
        settle(reject, new ProcessError("malformed-reply", `${what}: output over ${MAX_OUTPUT_BYTES} bytes`, { output: output() }));
      }
    };
    const stop = (reason) => {
      if (stopReason || settled) return;
      stopReason = reason;
      if (exited()) stopped();
      else child.kill("SIGKILL");
    };
    control.cancel = () => stop("cancel");

    signal?.addEventListener("abort", onAbort, { once: true });
    if (timeout > 0) timer = setTimeout(() => stop("timeout"), timeout);
    child.on("error", (error) => {
      // With a pid the process is running and only a kill failed; its exit still comes.
      if (child.pid === undefined) settle(reject, startFailure(error, path, where, what));
    });
    child.stdout.on("data", (chunk) => {
      size += chunk.length;
      if (size > MAX_OUTPUT_BYTES) return stop("overflow");
      chunks.push(chunk);
      if (!stopReason) control.onData?.(chunk);
    });
    child.on("exit", () => {
      if (stopReason) stopped();
    });
    child.on("close", (code, killedBy) => {
      if (stopReason) return stopped();
      if (killedBy || (code !== 0 && code !== 1)) {
        const how = killedBy ? `ended by ${killedBy}` : `exited with status ${code}`;
        return settle(reject, new ProcessError("abnormal-exit", `${what}: ${how}`, {
          status: killedBy ? null : code,
          signal: killedBy ?? null,
          output: output(),
        }));
      }
      settle(resolve, { status: code, bytes: Buffer.concat(chunks), output: output(), what });
    });
    // The program may end without reading all of its input (an unknown command, say); the reply
    // still tells what happened, so a broken pipe here is not a failure.
    child.stdin.on("error", () => {});
    child.stdin.end(input);
  });
}

// runProcess() for a command that prints one line: resolves to the exit status and the parsed
// reply object, and rejects with ProcessError "malformed-reply" when the output is not one.
async function run(command, input, options) {
  const result = await runProcess(command, input, options);
  const reply = parseReplyLine(result.bytes);
  if (!reply) {
    throw new ProcessError("malformed-reply", `${result.what}: output is not one JSON object line`, {
      status: result.status,
      output: result.output,
    });
  }
  return { status: result.status, reply, output: result.output };
}

const strictUtf8 = new TextDecoder("utf-8", { fatal: true });

// The reply object if `bytes` is exactly one line of UTF-8 JSON holding an object, else null.
function parseReplyLine(bytes) {
  let text;
  try {
    text = strictUtf8.decode(bytes);
  } catch {
    return null;
  }
  if (!text.endsWith("\n") || text.indexOf("\n") !== text.length - 1) return null;
  return parseObject(text);
}

function parseObject(text) {
  try {
    const value = JSON.parse(text);
    return isPlainObject(value) ? value : null;
  } catch {
    return null;
  }
}

function malformed(what, result) {
  return new ProcessError("malformed-reply", `${what}: unexpected reply ${result.output.trim()}`, {
    status: result.status,
    output: result.output,
  });
}

// An {"error": ...} reply as the error it stands for: a refusal with status 1; with status 0 a
// failed generation where the command generates, else nothing.
function errorOf(result, generates) {
  if (typeof result.reply.error !== "string") return null;
  if (result.status === 1) return new RefusalError(result.reply.error);
  return generates ? new GenerationError(result.reply.error) : null;
}

/** Whether the on-device model can be used, and if not, why (in words for the end user). */
export async function availability(options = {}) {
  const result = await run("availability", "", options);
  const { reply } = result;
  if (result.status === 0 && reply.available === true) return { available: true };
  if (result.status === 0 && reply.available === false && typeof reply.reason === "string") {
    return { available: false, reason: reply.reason, reasonCode: UNAVAILABLE_REASONS.get(reply.reason) ?? "other" };
  }
  throw errorOf(result, false) ?? malformed("availability", result);
}

function refusal(problem) {
  return new TypeError(`invalid chat request: ${problem}`);
}

function checkText(text, where) {
  const found = /\p{Surrogate}/u.exec(text); // in a "u" pattern only a lone one matches
  if (found) {
    const code = found[0].charCodeAt(0).toString(16).toUpperCase();
    throw refusal(`${where} holds a lone surrogate (U+${code}), which UTF-8 cannot encode`);
  }
}

// The request as JSON text; throws a TypeError when JSON in UTF-8 cannot carry it exactly: a number
// that is not finite (JSON.stringify would write null), a text holding a lone surrogate, an object
// or array that holds itself. It names the first such value in the order of the text, with the
// words and path the Python client uses. The replacer sees each value as it is written, in that
// order, with its holder as `this`: the holders still open are the chain from the top down to it.
function encodeRequest(request) {
  if (typeof request === "string") {
    checkText(request, "the request");
    return request;
  }
  const enclosing = []; // { value, path } of each object that holds the value being written
  return JSON.stringify(request, function (key, value) {
    let path = "";
    if (enclosing.length > 0) {
      while (enclosing.at(-1).value !== this) enclosing.pop();
      const holder = enclosing.at(-1).path;
      checkText(key, `a key of ${holder || "the request"}`);
      path = Array.isArray(this) ? `${holder}[${key}]` : holder ? `${holder}.${key}` : key;
    }
    const where = path || "the request";
    if (typeof value === "number" && !Number.isFinite(value)) {
      throw refusal(`${where} is ${value}, which JSON cannot write`);
    }
    if (typeof value === "string") checkText(value, where);
    if (typeof value === "object" && value !== null) {
      if (enclosing.some((open) => open.value === value)) {
        throw refusal(`${where} holds a value that encloses it, which JSON cannot write`);
      }
      enclosing.push({ value, path });
    }
    return value;
  });
}

/**
 * Sends one chat request and resolves to the model's whole answer. Rejects with RefusalError,
 * GenerationError or ProcessError, or with AbortError when `options.signal` aborts. A string
 * request is sent as it is. A request that JSON in UTF-8 cannot carry exactly (a NaN or infinite
 * number, a lone surrogate, an object that holds itself) rejects with a TypeError before any
 * process starts, as the Python client refuses it.
 */
export async function chat(request, options = {}) {
  const input = encodeRequest(request);
  const result = await run("chat", input, options);
  const { reply } = result;
  if (result.status === 0 && typeof reply.content === "string" && typeof reply.finishReason === "string") {
    return { content: reply.content, finishReason: reply.finishReason };
  }
  throw errorOf(result, true) ?? malformed("chat", result);
}

// Members that mark a line as the last one (a reply); a piece holds none of them.
const REPLY_MEMBERS = ["content", "finishReason", "available", "error"];

// Reads the output of `corvane stream` as it arrives: each whole line that is a piece goes to
// `onPiece` at once; the last line is kept for finish(). The first line that is not valid
// (not UTF-8 JSON holding an object, a piece after the last line) ends the reading: nothing
// after it is passed on, and finish() reports it.
class StreamReader {
  #pending = [];
  #onPiece;
  text = ""; // the answer so far, as the pieces make it
  pieces = 0;
  last = null;
  problem = null;

  constructor(onPiece) {
    this.#onPiece = onPiece;
  }

  feed(chunk) {
    let start = 0;
    for (let end = chunk.indexOf(10); end !== -1 && !this.problem; end = chunk.indexOf(10, start)) {
      this.#pending.push(chunk.subarray(start, end));
      const line = Buffer.concat(this.#pending);
      this.#pending = [];
      start = end + 1;
      this.#line(line);
    }
    if (!this.problem && start < chunk.length) this.#pending.push(chunk.subarray(start));
  }

  #line(bytes) {
    let object = null;
    try {
      object = parseObject(strictUtf8.decode(bytes));
    } catch {} // not UTF-8
    if (!object) return void (this.problem = "a line is not a JSON object in UTF-8");
    if (this.last) return void (this.problem = "a line follows the last one");
    const isReply = REPLY_MEMBERS.some((member) => member in object);
    const { delta, replace } = object;
    if (!isReply && typeof delta === "string" && !("replace" in object)) {
      this.text += delta;
      this.#piece({ kind: "delta", text: delta });
    } else if (!isReply && typeof replace === "string" && !("delta" in object)) {
      this.text = replace;
      this.#piece({ kind: "replace", text: replace });
    } else this.last = object;
  }

  #piece(piece) {
    this.pieces += 1;
    this.#onPiece(piece);
  }

  // The whole answer of a run that ended with `status`, or the error it stands for. A refusal is
  // a single line; an answer's pieces must add up to its content.
  finish(result) {
    const fail = (problem) => new ProcessError("malformed-reply", `${result.what}: ${problem}`, {
      status: result.status,
      output: result.output,
    });
    if (this.problem) throw fail(this.problem);
    if (this.#pending.length > 0) throw fail("the output does not end with a line feed");
    if (!this.last) throw fail("the output ends before its last line");
    const reply = this.last;
    if (result.status === 1 && this.pieces > 0) throw fail("a refusal follows pieces of an answer");
    if (result.status === 0 && typeof reply.content === "string" && typeof reply.finishReason === "string") {
      if (reply.content !== this.text) throw fail("the pieces do not add up to the answer");
      return { content: reply.content, finishReason: reply.finishReason };
    }
    throw errorOf({ status: result.status, reply }, true) ?? malformed("stream", result);
  }
}

// The iterator stream() returns: it hands out the pieces the run has read, in order, and ends
// when the run does. The run starts at once, whether or not anything reads the pieces.
class ChatStream {
  #queue = [];
  #changed; // resolved when a piece comes or the run ends
  #wake;
  #ended = false;
  #closed = false;
  #control;
  #signal;

  constructor(request, options) {
    this.#signal = options.signal;
    this.#control = { onData: null };
    const reader = new StreamReader((piece) => {
      this.#queue.push(piece);
      this.#wake();
    });
    this.#control.onData = (chunk) => reader.feed(chunk);
    this.#reset();
    this.answer = (async () => reader.finish(await runProcess("stream", encodeRequest(request), options, this.#control)))();
    this.answer.catch(() => {}).finally(() => {
      this.#ended = true;
      this.#wake();
    });
  }

  #reset() {
    this.#changed = new Promise((resolve) => (this.#wake = resolve));
  }

  [Symbol.asyncIterator]() {
    return this;
  }

  async next() {
    while (!this.#closed && this.#queue.length === 0 && !this.#ended) {
      await this.#changed;
      if (this.#queue.length === 0 && !this.#ended) this.#reset();
    }
    // Once the signal has aborted, the loop ends with the AbortError, giving no more pieces.
    if (this.#signal?.aborted) this.#queue = [];
    if (this.#queue.length > 0 && !this.#closed) {
      const value = this.#queue.shift();
      if (this.#queue.length === 0 && !this.#ended) this.#reset();
      return { value, done: false };
    }
    if (this.#closed) return { value: undefined, done: true };
    this.#closed = true;
    return { value: await this.answer, done: true };
  }

  // Called when a `for await` loop is left early (break, return, throw): kills the process, if it
  // still runs, and resolves once it has ended.
  async return(value) {
    if (!this.#closed) {
      this.#closed = true;
      this.#queue = [];
      this.#control.cancelled = true; // a process not started yet never starts
      this.#control.cancel?.();
    }
    await this.answer.catch(() => {});
    return { value, done: true };
  }
}

/**
 * Sends one chat request and hands out the answer as it is written: an async iterable of pieces,
 * each `{kind: "delta", text}` (the answer goes on with `text`) or `{kind: "replace", text}` (the
 * answer so far is `text` instead). `answer` is a promise of the whole answer, `{content,
 * finishReason}`, equal to the pieces joined. Every failure `chat` reports ends the loop with the
 * same error (and rejects `answer`); pieces that do not add up to the answer are a ProcessError
 * "malformed-reply". Leaving the loop early kills the process; `answer` then rejects with an
 * AbortError.
 */
export function stream(request, options = {}) {
  return new ChatStream(request, options);
}
