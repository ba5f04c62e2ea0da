// The Node client against corvane-sim, and against small shell scripts that misbehave in ways the
// program does not, for the client's own failures.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { mkdtempSync, mkdirSync, writeFileSync, readFileSync, readdirSync, rmSync, symlinkSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { fileURLToPath } from "node:url";
import {
  availability,
  chat,
  CorvaneError,
  RefusalError,
  GenerationError,
  ProcessError,
  AbortError,
} from "../corvane.js";

const root = fileURLToPath(new URL("../../../", import.meta.url));
const executable = resolve(process.env.CORVANE_SIM ?? resolve(root, "build/corvane-sim"));
const sim = (env = {}, extra = {}) => ({ executable, env: { PATH: process.env.PATH, ...env }, ...extra });
const hello = { messages: [{ role: "user", content: "Hello" }] };

let dir;
before(() => {
  dir = mkdtempSync(join(tmpdir(), "corvane-node-client-"));
});
after(() => rmSync(dir, { recursive: true, force: true }));

// An executable shell script with this body.
function fake(name, body, mode = 0o755) {
  const path = join(dir, name);
  writeFileSync(path, `#!/bin/sh\n${body}\n`, { mode });
  return path;
}

test("availability reports each state", async () => {
  const cases = [
    [{}, { available: true }],
    [{ CORVANE_SIM_OS_VERSION: "15.6" }, { available: false, reason: "Requires macOS 26 or later with Apple Intelligence." }],
  ];
  for (const [env, expected] of cases) {
    assert.deepEqual(await availability(sim(env)), expected, JSON.stringify(env));
  }
});

test("chat returns the answer", async () => {
  assert.deepEqual(await chat(hello, sim()), { content: "User: Hello\n\nAssistant:", finishReason: "stop" });
  const text = 'line 1\nline "2"\ta/b 👍🏽 \\ café';
  assert.deepEqual(await chat(hello, sim({ CORVANE_SIM_RESPONSE: text })), { content: text, finishReason: "stop" });
  assert.deepEqual(await chat(hello, sim({ CORVANE_SIM_RESPONSE: "" })), { content: "", finishReason: "stop" });
});

test("chat sends the whole request, non-ASCII and large ones included", async () => {
  const trace = join(dir, "trace");
  const request = {
    instructions: "Réponds brièvement.",
    messages: [
      { role: "system", content: "Use / units" },
      { role: "user", content: "x".repeat(300_000) },
      { role: "assistant", content: null },
      { role: "user", content: "Was ist 2 + 2? 👍" },
    ],
    temperature: 0.2,
    maxTokens: 100,
  };
  await chat(request, sim({ CORVANE_SIM_TRACE: trace, CORVANE_SIM_RESPONSE: "4" }));
  const lines = readFileSync(trace, "utf8").trim().split("\n").map((line) => JSON.parse(line));
  assert.deepEqual(lines[2], { op: "session", instructions: "Réponds brièvement.\n\nUse / units", tools: 0 });
  assert.equal(lines[3].prompt, "User: Was ist 2 + 2? 👍\n\nAssistant:");
  assert.equal(lines[3].temperature, 0.2);
  assert.equal(lines[3].maximumResponseTokens, 100);
});

test("refusals reject with RefusalError carrying the program's text", async () => {
  const cases = [
    [hello, { CORVANE_SIM_AVAILABILITY: "modelNotReady" }, "The on-device model is downloading or not ready yet. Try again shortly."],
    ["", {}, "empty chat request on stdin"],
    ['{"messages":[{"role":"user","content":"Hi"}],"maxTokens":2.5}', {}, /^invalid chat request JSON: maxTokens/],
  ];
  for (const [request, env, message] of cases) {
    await assert.rejects(chat(request, sim(env)), (error) => {
      assert.ok(error instanceof RefusalError && error instanceof CorvaneError, String(error));
      assert.equal(error.status, 1);
      if (typeof message === "string") assert.equal(error.message, message);
      else assert.match(error.message, message);
      return true;
    });
  }
});

test("a failed generation rejects with GenerationError", async () => {
  await assert.rejects(chat(hello, sim({ CORVANE_SIM_ERROR: "context window exceeded" })), (error) => {
    assert.ok(error instanceof GenerationError, String(error));
    assert.equal(error.status, 0);
    assert.equal(error.message, "on-device generation failed: context window exceeded");
    return true;
  });
  const unencodable = fake("unencodable", `printf '{"error":"failed to encode response"}\\n'`);
  await assert.rejects(chat(hello, { executable: unencodable }), GenerationError);
});

// Pids of this process's children that run the stand-in, from /proc.
function simChildren() {
  const pids = [];
  for (const entry of readdirSync("/proc").filter((name) => /^\d+$/.test(name))) {
    let stat;
    try {
      stat = readFileSync(`/proc/${entry}/stat`, "utf8");
    } catch {
      continue; // ended meanwhile
    }
    const comm = stat.slice(stat.indexOf("(") + 1, stat.lastIndexOf(")"));
    const ppid = Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]);
    if (ppid === process.pid && comm === "corvane-sim") pids.push(Number(entry));
  }
  return pids;
}

function isGone(pid) {
  try {
    process.kill(pid, 0); // succeeds for a zombie too: only a reaped process is gone
    return false;
  } catch (error) {
    return error.code === "ESRCH";
  }
}

test("a run stopped in the middle of a slow answer leaves no process behind", async () => {
  const reason = new Error("conversation closed");
  const cases = [
    ["abort", (controller) => ({ signal: controller.signal }), (error) => error instanceof AbortError && error.name === "AbortError" && error.cause === reason],
    ["timeout", () => ({ timeoutMs: 1000 }), (error) => error instanceof ProcessError && error.kind === "timeout"],
  ];
  for (const [name, extra, expected] of cases) {
    const trace = join(dir, `trace-${name}`);
    const controller = new AbortController();
    const start = Date.now();
    const call = chat(hello, sim({ CORVANE_SIM_DELAY_MS: "20000", CORVANE_SIM_TRACE: trace }, extra(controller)));
    call.catch(() => {}); // inspected below, after the abort
    // The stand-in traces the response before it waits: from then on the answer is under way.
    const answering = () => existsSync(trace) && readFileSync(trace, "utf8").includes('"respond"');
    for (let tries = 0; tries < 300 && !answering(); tries++) await sleep(10);
    const children = simChildren();
    assert.equal(children.length, 1, `${name}: corvane-sim children ${children}`);
    const [pid] = children;
    if (name === "abort") controller.abort(reason);
    await assert.rejects(call, expected, name);
    assert.ok(isGone(pid), `${name}: process ${pid} is still there once the call settled`);
    assert.ok(Date.now() - start < 5000, `${name}: the run was not ended`);
  }
});

test("an aborted signal starts no process; a time limit of 0 is none", async () => {
  const marker = join(dir, "started");
  const marks = fake("marks", `touch '${marker}'; echo '{"available":true}'`);
  const reason = new Error("closed before asking");
  await assert.rejects(chat(hello, { executable: marks, signal: AbortSignal.abort(reason) }), (error) => error instanceof AbortError && error.cause === reason);
  await sleep(100);
  assert.equal(existsSync(marker), false, "a process was started");
  const answer = await chat(hello, sim({ CORVANE_SIM_DELAY_MS: "300", CORVANE_SIM_RESPONSE: "ok" }, { timeoutMs: 0 }));
  assert.equal(answer.content, "ok");
});

test("the executable is the option, else CORVANE_EXECUTABLE, else corvane in PATH", async () => {
  const bin = join(dir, "bin");
  mkdirSync(bin);
  symlinkSync(executable, join(bin, "corvane"));
  const missing = join(dir, "no-such-program");
  const found = [
    ["option over variable", { executable, env: { CORVANE_EXECUTABLE: missing } }],
    ["variable", { env: { CORVANE_EXECUTABLE: executable } }],
    ["PATH", { env: { PATH: `${dir}/empty:${bin}` } }],
    ["name in PATH", { executable: "corvane-sim", env: { PATH: dirname(executable) } }],
  ];
  for (const [name, options] of found) {
    assert.deepEqual(await availability(options), { available: true }, name);
  }
  const notFound = [
    ["option", { executable: missing }, [missing, "executable"]],
    ["variable", { env: { CORVANE_EXECUTABLE: missing } }, [missing, "CORVANE_EXECUTABLE"]],
    ["PATH", { env: { PATH: `${dir}:/nonexistent` } }, ['"corvane"', `PATH (${dir}:/nonexistent)`, "CORVANE_EXECUTABLE"]],
  ];
  for (const [name, options, words] of notFound) {
    await assert.rejects(availability(options), (error) => {
      assert.ok(error instanceof ProcessError && error.kind === "not-found", `${name}: ${error}`);
      for (const word of words) assert.ok(error.message.includes(word), `${name}: ${error.message}`);
      return true;
    });
  }
});

test("runs that give no reply reject with ProcessError of their kind", async () => {
  const cases = [
    ["not executable", () => availability({ executable: fake("plain-file", "", 0o644) }), "spawn-failed"],
    ["not JSON", () => chat(hello, { executable: fake("not-json", "echo hello") }), "malformed-reply"],
    ["no line feed", () => availability({ executable: fake("no-newline", `printf '{"available":true}'`) }), "malformed-reply"],
    ["two lines", () => availability({ executable: fake("two-lines", `printf '{"available":true}\\n{}\\n'`) }), "malformed-reply"],
    ["not UTF-8", () => chat(hello, { executable: fake("latin1", `printf '{"content":"caf\\351","finishReason":"stop"}\\n'`) }), "malformed-reply"],
    ["wrong shape", () => availability({ executable: fake("wrong-shape", `echo '{"available":"yes"}'`) }), "malformed-reply"],
    ["answer with status 1", () => chat(hello, { executable: fake("answer-1", `echo '{"content":"x","finishReason":"stop"}'; exit 1`) }), "malformed-reply"],
    ["other status", () => chat(hello, { executable: fake("status-3", `echo '{"error":"x"}'; exit 3`) }), "abnormal-exit"],
    ["killed", () => chat(hello, { executable: fake("killed", "kill -9 $$") }), "abnormal-exit"],
  ];
  for (const [name, call, kind] of cases) {
    await assert.rejects(call(), (error) => {
      assert.ok(error instanceof ProcessError, `${name}: ${error}`);
      assert.equal(error.kind, kind, `${name}: ${error.message}`);
      return true;
    });
  }
});

test("standard error and unread input do not matter", async () => {
  const noisy = fake("noisy", `echo warning >&2; echo '{"available":true}'`);
  assert.deepEqual(await availability({ executable: noisy }), { available: true });
  // Ends at once without reading its input: the client must not fail writing the request.
  const refuses = fake("refuses", `echo '{"error":"unknown command: chat (expected nothing)"}'; exit 1`);
  const big = { messages: [{ role: "user", content: "y".repeat(2_000_000) }] };
  await assert.rejects(chat(big, { executable: refuses }), RefusalError);
});
