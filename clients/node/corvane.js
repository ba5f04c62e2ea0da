// Calls the corvane executable from Node.js: one process per call, the request on standard input,
// one JSON line back. No dependencies beyond Node's own modules.
import { execFile } from "node:child_process";

const DEFAULT_EXECUTABLE = "corvane";
const DEFAULT_TIMEOUTS_MS = { availability: 10_000, chat: 120_000 };
// Far above any reply the program writes; a longer output is not a reply.
const MAX_OUTPUT_BYTES = 16 * 1024 * 1024;

/** Base class of every failure this module reports. */
export class CorvaneError extends Error {
  constructor(message, options) {
    super(message, options);
    this.name = new.target.name;
  }
}

/** The program refused the request (exit status 1); `message` is its error text, unchanged. */
export class RefusalError extends CorvaneError {
  constructor(message) {
    super(message);
    this.status = 1;
  }
}

/** The request was run but the model gave no answer (exit status 0 with an error text). */
export class GenerationError extends CorvaneError {
  constructor(message) {
    super(message);
    this.status = 0;
  }
}

/**
 * The program could not be run or did not reply as it does: `kind` is "not-found",
 * "spawn-failed", "timeout", "abnormal-exit" or "malformed-reply".
 */
export class ProcessError extends CorvaneError {
  constructor(kind, message, details = {}) {
    super(message, details.cause ? { cause: details.cause } : undefined);
    this.kind = kind;
    this.status = details.status ?? null;
    this.signal = details.signal ?? null;
    this.output = details.output ?? null;
  }
}

function timeoutOf(options, command) {
  const value = options.timeoutMs ?? DEFAULT_TIMEOUTS_MS[command];
  return Number.isFinite(value) && value > 0 ? Math.ceil(value) : 0;
}

function isPlainObject(value) {
  return typeof value === "object" && value !== null && !Array.isArray(value);
}

// Runs `executable command` with `input` on standard input and resolves to the exit status and the
// parsed reply object; rejects with a ProcessError when there is no such reply.
function run(command, input, options) {
  const executable = options.executable ?? DEFAULT_EXECUTABLE;
  const timeout = timeoutOf(options, command);
  const what = `${executable} ${command}`;
  return new Promise((resolve, reject) => {
    const child = execFile(
      executable,
      [command],
      {
        encoding: "buffer",
        timeout,
        killSignal: "SIGKILL",
        maxBuffer: MAX_OUTPUT_BYTES,
        env: options.env ?? process.env,
        windowsHide: true,
      },
      (error, stdout) => {
        const output = stdout.toString("utf8");
        if (error) {
          if (error.code === "ENOENT") {
            return reject(new ProcessError("not-found", `${what}: executable not found`, { cause: error }));
          }
          if (error.code === "ERR_CHILD_PROCESS_STDIO_MAXBUFFER") {
            return reject(new ProcessError("malformed-reply", `${what}: output over ${MAX_OUTPUT_BYTES} bytes`, { output }));
          }
          if (typeof error.code === "string") {
            return reject(new ProcessError("spawn-failed", `${what}: could not start (${error.code})`, { cause: error }));
          }
          if (error.killed && timeout > 0) {
            return reject(new ProcessError("timeout", `${what}: no reply within ${timeout} ms`, { output }));
          }
          if (error.signal || (error.code !== 1 && error.code !== 0)) {
            const how = error.signal ? `ended by ${error.signal}` : `exited with status ${error.code}`;
            return reject(new ProcessError("abnormal-exit", `${what}: ${how}`, {
              status: error.signal ? null : error.code,
              signal: error.signal ?? null,
              output,
            }));
          }
        }
        const status = error ? error.code : 0;
        const reply = parseReplyLine(stdout);
        if (!reply) {
          return reject(new ProcessError("malformed-reply", `${what}: output is not one JSON object line`, { status, output }));
        }
        resolve({ status, reply, output });
      },
    );
    // The program may end without reading all of its input (an unknown command, say); the reply
    // still tells what happened, so a broken pipe here is not a failure.
    child.stdin.on("error", () => {});
    child.stdin.end(input);
  });
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
    return { available: false, reason: reply.reason };
  }
  throw errorOf(result, false) ?? malformed("availability", result);
}

/**
 * Sends one chat request and resolves to the model's whole answer. Rejects with RefusalError,
 * GenerationError or ProcessError. A string request is sent as it is.
 */
export async function chat(request, options = {}) {
  const input = typeof request === "string" ? request : JSON.stringify(request);
  const result = await run("chat", input, options);
  const { reply } = result;
  if (result.status === 0 && typeof reply.content === "string" && typeof reply.finishReason === "string") {
    return { content: reply.content, finishReason: reply.finishReason };
  }
  throw errorOf(result, true) ?? malformed("chat", result);
}
