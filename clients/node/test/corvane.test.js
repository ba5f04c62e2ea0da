// The Node client through the cases it shares with the Python client (../../data/cases.json, which
// says how they read), chat() and stream() alike, through runs stopped midway, and with a signal
// aborted before the call.
import { test } from "node:test";
import assert from "node:assert/strict";
import childProcess from "node:child_process";
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { syncBuiltinESMExports } from "node:module";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { fileURLToPath } from "node:url";
import * as corvane from "../corvane.js";

const { availability, chat, stream, AbortError, CorvaneError } = corvane;
const sim = resolve(process.env.CORVANE_SIM ?? fileURLToPath(new URL("../../../build/corvane-sim", import.meta.url)));
const dir = mkdtempSync(join(tmpdir(), "corvane-node-client-"));
process.on("exit", () => rmSync(dir, { recursive: true, force: true }));
const trace = join(dir, "trace");
let text = readFileSync(new URL("../../data/cases.json", import.meta.url), "utf8");
for (const [token, value] of Object.entries({ "{sim}": sim, "{dir}": dir, "{big}": "x".repeat(300_000) })) text = text.replaceAll(token, value);
const data = JSON.parse(text);
for (const [name, body] of Object.entries(data.fakes)) {
  writeFileSync(join(dir, name), `${body.startsWith("#!") ? "" : "#!/bin/sh\n"}${body}\n`, { mode: 0o755 });
}
const reason = new Error("conversation closed");
const aborted = { error: "AbortError", message: "The operation was aborted" };
const errors = { ...corvane, "invalid request": TypeError, "invalid value": RangeError, "invalid type": TypeError };

// The request with the table's stand-ins for what JSON cannot hold replaced.
function revive(request) {
  if (typeof request !== "object") return request;
  const root = {};
  const walk = (value) => {
    if (Array.isArray(value)) return value.map(walk);
    if (typeof value !== "object" || value === null) return value;
    if ("$number" in value) return Number(value.$number);
    if ("$request" in value) return root;
    return Object.fromEntries(Object.entries(value).map(([key, item]) => [key, walk(item)]));
  };
  return Object.assign(root, walk(request));
}

// Whether `error` is the one `expected` describes, in the terms of data/cases.json.
function is(expected, error) {
  assert.ok(error instanceof errors[expected.error], String(error));
  assert.equal(error.name, errors[expected.error].name);
  assert.equal(error instanceof CorvaneError, expected.error in corvane && expected.error !== "AbortError");
  assert.equal(error.kind, expected.kind, error.message);
  if (error instanceof CorvaneError) {
    assert.equal(error.code, expected.error === "ProcessError" ? "processFailed" : expected.code ?? error.code, error.message);
    if (error instanceof corvane.RefusalError) assert.equal(error.reasonCode, expected.reasonCode ?? null, error.message);
  }
  assert.ok(error.message.startsWith(expected.message ?? ""), error.message);
  for (const word of expected.words ?? []) assert.ok(error.message.includes(word), error.message);
  if (error instanceof AbortError) assert.equal(error.cause, reason);
  return true;
}

// Reads stream() to its end: settles to its pieces, as [kind, text] pairs, and its answer or error.
async function streamed(request, options) {
  const pieces = [];
  const answer = stream(request, options);
  try {
    for await (const { kind, text } of answer) pieces.push([kind, text]);
  } catch (error) {
    await assert.rejects(answer.answer, (rejected) => rejected === error);
    return { pieces, error };
  }
  return { pieces, value: await answer.answer };
}

// The answer the pieces make, starting over at each replace.
const joined = (pieces) => pieces.reduce((text, [kind, piece]) => (kind === "replace" ? piece : text + piece), "");

test("shared cases", async (t) => {
  for (const { name, chat: request, stream: streamRequest, options: { timeout, ...options }, parent = {}, node, asStream, ...shared } of data.cases) {
    if (shared.stop) continue; // below
    const modes = request !== undefined ? ["chat", "stream"] : streamRequest !== undefined ? ["stream"] : ["availability"];
    for (const mode of modes) {
      const expected = { ...(node ? { name, ...node } : shared), ...(mode === "stream" ? asStream : {}) };
      await t.test(`${name} (${mode})`, async () => {
        if (timeout !== undefined) options.timeoutMs = timeout?.$number ? Number(timeout.$number) : timeout;
        const saved = { ...process.env };
        Object.assign(process.env, parent);
        const call = mode === "availability" ? availability(options)
          : mode === "chat" ? chat(revive(request), options).then((value) => ({ value }), (error) => ({ error }))
          : streamed(revive(request ?? streamRequest), options);
        const settled = await Promise.resolve(call).then((value) => (mode === "availability" ? { value } : value), (error) => ({ error })).finally(() => {
          for (const key of Object.keys(parent)) key in saved ? (process.env[key] = saved[key]) : delete process.env[key];
        });
        if (mode === "stream" && expected.pieces) assert.deepEqual(settled.pieces, expected.pieces);
        if (!expected.reply) {
          assert.ok("error" in settled, `resolved to ${JSON.stringify(settled.value)}`);
          assert.ok(!existsSync(join(dir, "marks.started")), "a process was started");
          return is(expected, settled.error);
        }
        if (settled.error) throw settled.error;
        assert.deepEqual(settled.value, expected.reply);
        if (mode === "stream") assert.equal(joined(settled.pieces), expected.reply.content);
        if (!expected.trace) return; // else what corvane-sim traced last: the session, the response
        const traced = readFileSync(options.env.CORVANE_SIM_TRACE, "utf8").trim().split("\n").slice(-2).map((line) => JSON.parse(line));
        const members = traced.map((line, i) => Object.fromEntries(Object.keys(expected.trace[i]).map((key) => [key, line[key]])));
        assert.deepEqual(members, expected.trace);
      });
    }
  }
});

test("a stream left mid-answer leaves no process behind", async (t) => {
  for (const row of data.cases.filter((row) => row.stop)) {
    await t.test(row.name, async () => {
      const pidFile = `${row.options.executable}.pid`;
      rmSync(pidFile, { force: true });
      const [controller, start, pieces] = [new AbortController(), Date.now(), []];
      const options = { ...row.options, signal: controller.signal, ...(row.stop === "timeout" && { timeoutMs: 1000 }) };
      const answer = stream(revive(row.stream), options);
      let error = null;
      try {
        for await (const piece of answer) {
          pieces.push(piece);
          if (pieces.length === row.after && row.stop === "break") break;
          if (pieces.length === row.after && row.stop === "abort") controller.abort(reason);
        }
      } catch (caught) {
        error = caught;
      }
      if (row.stop === "break") {
        assert.equal(error, null);
        await assert.rejects(answer.answer, (e) => e instanceof AbortError);
      } else is(row.stop === "abort" ? aborted : row, error);
      assert.ok(row.stop === "timeout" ? pieces.length >= row.after : pieces.length === row.after, `${pieces.length} pieces`);
      // The loop ends once the process has ended: /proc lists a process until it has been reaped.
      const pid = Number(readFileSync(pidFile, "utf8"));
      assert.ok(pid > 0 && !existsSync(`/proc/${pid}`), `process ${pid} outlived the stream`);
      assert.ok(Date.now() - start < 2500, "the run was not ended");
    });
  }
});

test("reply kinds", async (t) => {
  const replies = join(dir, "replies");
  for (const [status, text, code, reasonCode] of data.kinds) {
    await t.test(`${status} ${text}`, async () => {
      const env = { CORVANE_FAKE_STATUS: String(status), CORVANE_FAKE_REPLY: JSON.stringify({ error: text }) };
      const error = status === 1 ? "RefusalError" : "GenerationError";
      await assert.rejects(chat({ messages: [] }, { executable: replies, env }), (e) => is({ error, code, reasonCode, message: text }, e));
      const streamedError = (await streamed({ messages: [] }, { executable: replies, env })).error;
      is({ error, code, reasonCode, message: text }, streamedError);
      env.CORVANE_FAKE_STATUS = "0";
      env.CORVANE_FAKE_REPLY = JSON.stringify({ available: false, reason: text });
      const unavailable = code === "unavailable" ? reasonCode : "other";
      assert.deepEqual(await availability({ executable: replies, env }), { available: false, reason: text, reasonCode: unavailable });
    });
  }
});

test("a run stopped midway leaves no process behind", async (t) => {
  for (const [name, options, expected] of [
    ["abort", (controller) => ({ signal: controller.signal }), aborted],
    ["timeout", () => ({ timeoutMs: 1000 }), { error: "ProcessError", kind: "timeout" }],
  ]) {
    await t.test(name, async () => {
      writeFileSync(trace, "");
      const [controller, start] = [new AbortController(), Date.now()];
      const slow = { executable: join(dir, "slow"), env: { CORVANE_SIM_TRACE: trace }, ...options(controller) };
      const call = chat({ messages: [{ role: "user", content: "Hi" }] }, slow);
      call.catch(() => {}); // inspected below, once stopped
      // corvane-sim traces the response before it waits: from then on it answers.
      while (!readFileSync(trace, "utf8").includes('"respond"') && Date.now() - start < 3000) await sleep(10);
      const pid = Number(readFileSync(trace, "utf8").split("\n")[0]);
      assert.ok(pid > 0, "corvane-sim did not answer");
      controller.abort(reason);
      await assert.rejects(call, (error) => is(expected, error));
      // /proc lists a process until it has been reaped.
      assert.ok(!existsSync(`/proc/${pid}`), `process ${pid} outlived the call`);
      assert.ok(Date.now() - start < 5000, "the run was not ended");
    });
  }
});

test("an aborted signal starts no process", async (t) => {
  const spawn = t.mock.method(childProcess, "spawn"); // watched, as a start killed at once leaves no other sign
  syncBuiltinESMExports();
  await assert.rejects(availability({ executable: join(dir, "marks"), signal: AbortSignal.abort(reason) }), (error) => is(aborted, error))
    .finally(() => (spawn.mock.restore(), syncBuiltinESMExports()));
  await sleep(100);
  assert.equal(spawn.mock.callCount(), 0, "spawn was called");
  assert.ok(!existsSync(join(dir, "marks.started")), "a process was started");
});

test("a stream's answer, awaited with no loop, is chat's", async () => {
  const request = { messages: [{ role: "user", content: "Hi" }] };
  const options = { executable: sim, env: { CORVANE_SIM_RESPONSE: "a few words, in pieces" } };
  assert.deepEqual(await stream(request, options).answer, await chat(request, options));
});
