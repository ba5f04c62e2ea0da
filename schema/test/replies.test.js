// Every kind of reply the program prints, produced by running the built executables through the
// cases of the process tests, must match exactly one of the three reply schemas; and the request
// schema must accept exactly the requests the program's decoder accepts.
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { openSync, closeSync, readFileSync } from "node:fs";
import { resolve } from "node:path";
import { fileURLToPath } from "node:url";
import Ajv2020 from "ajv/dist/2020.js";

const root = fileURLToPath(new URL("../../", import.meta.url));
const simBin = resolve(process.env.CORVANE_SIM ?? resolve(root, "build/corvane-sim"));
const corvaneBin = resolve(process.env.CORVANE ?? resolve(root, "build/corvane"));

const ajv = new Ajv2020({ allErrors: true, strict: true });
const load = (name) => JSON.parse(readFileSync(new URL(`../${name}`, import.meta.url), "utf8"));
for (const name of [
  "availability-reply.schema.json",
  "chat-answer.schema.json",
  "error-reply.schema.json",
  "chat-request.schema.json",
]) {
  ajv.addSchema(load(name), name);
}
const schemas = {
  availability: ajv.getSchema("availability-reply.schema.json"),
  answer: ajv.getSchema("chat-answer.schema.json"),
  error: ajv.getSchema("error-reply.schema.json"),
};
const requestSchema = ajv.getSchema("chat-request.schema.json");

// Runs the executable. `shell` instead of `args` runs a /bin/sh script with the executable as $0,
// for what Node cannot pass: bytes that are not UTF-8, a closed standard input.
function run(bin, { args = [], input = "", env = {}, stdin, shell } = {}) {
  const options = {
    input: stdin === undefined ? input : undefined,
    stdio: [stdin ?? "pipe", "pipe", "pipe"],
    env: { PATH: process.env.PATH, ...env },
  };
  const result = shell
    ? spawnSync("/bin/sh", ["-c", shell, bin], options)
    : spawnSync(bin, args, options);
  assert.equal(result.error, undefined, `could not run ${bin}`);
  return { status: result.status, out: result.stdout.toString("utf8"), err: result.stderr };
}

const hello = JSON.stringify({ messages: [{ role: "user", content: "Hello" }] });
const chat = (input, env = {}) => ({ args: ["chat"], input, env });

// [name, executable, run options, expected shape, expected exit status]
const replyCases = [
  ["available", simBin, {}, "availability", 0],
  ["production build here", corvaneBin, { args: ["availability"] }, "availability", 0],
  ["old system", simBin, { env: { CORVANE_SIM_OS_VERSION: "15.6" } }, "availability", 0],
  ...["deviceNotEligible", "appleIntelligenceNotEnabled", "modelNotReady", "someFutureReason"].map(
    (state) => [state, simBin, { env: { CORVANE_SIM_AVAILABILITY: state } }, "availability", 0],
  ),
  ["unknown command", simBin, { args: ["Chat"] }, "error", 1],
  ["empty command word", corvaneBin, { args: [""] }, "error", 1],
  ["command word with escapes", simBin, { args: ['a/b "q" \\ \t\n'] }, "error", 1],
  ["command word not UTF-8", simBin, { shell: `exec "$0" "$(printf 'bad\\377\\303')"` }, "error", 1],
  ["zero bytes", simBin, chat(""), "error", 1],
  ["command word not ASCII", simBin, { args: ["café 😀"] }, "error", 1],
  ...["not json", "\n", "   ", "{", "[]", '{"messages":null}', "{} x", '{"messages":"x"}'].flatMap((input) => [
    [`malformed ${JSON.stringify(input)}`, simBin, chat(input), "error", 1],
    [`malformed ${JSON.stringify(input)} on an old system`, simBin, chat(input, { CORVANE_SIM_OS_VERSION: "14" }), "error", 1],
    [`malformed ${JSON.stringify(input)} in production`, corvaneBin, chat(input), "error", 1],
  ]),
  ["old system", simBin, chat(hello, { CORVANE_SIM_OS_VERSION: "15.5" }), "error", 1],
  ["gate before content", simBin, chat('{"messages":[]}', { CORVANE_SIM_AVAILABILITY: "modelNotReady" }), "error", 1],
  ["unavailable model", simBin, chat(hello, { CORVANE_SIM_AVAILABILITY: "modelNotReady" }), "error", 1],
  ["production build refuses", corvaneBin, chat(hello), "error", 1],
  ["no user content", simBin, chat('{"messages":[{"role":"system","content":"Be brief."}]}'), "error", 1],
  ["stdin a directory", simBin, { args: ["chat"], stdin: "directory" }, "error", 1],
  ["stdin closed", simBin, { shell: 'exec "$0" chat <&-' }, "error", 1],
  ["echoed prompt", simBin, chat(hello), "answer", 0],
  ["with every option", simBin, chat('{"instructions":"Be brief.","messages":[{"role":"system","content":"Use \\/ units"},{"role":"user","content":"Hello"}],"temperature":-1e-7,"maxTokens":600}'), "answer", 0],
  ["empty answer", simBin, chat(hello, { CORVANE_SIM_RESPONSE: "" }), "answer", 0],
  ["answer with escapes", simBin, chat(hello, { CORVANE_SIM_RESPONSE: 'line 1\nline "2"\ta/b 👍🏽 \\' }), "answer", 0],
  ["slow answer", simBin, chat(hello, { CORVANE_SIM_DELAY_MS: "100", CORVANE_SIM_RESPONSE: "ok" }), "answer", 0],
  ["generation error", simBin, chat(hello, { CORVANE_SIM_ERROR: "context window exceeded" }), "error", 0],
  ["generation error without text", simBin, chat(hello, { CORVANE_SIM_ERROR: "" }), "error", 0],
  ["answer not UTF-8", simBin, { shell: `printf '%s' '${hello}' | CORVANE_SIM_RESPONSE="$(printf 'bad \\377')" exec "$0" chat` }, "error", 0],
];

test("every reply matches exactly its own schema", () => {
  for (const [name, bin, options, shape, status] of replyCases) {
    let runOptions = options;
    let fd;
    if (options.stdin === "directory") {
      fd = openSync(root, "r");
      runOptions = { ...options, stdin: fd };
    }
    const result = run(bin, runOptions);
    if (fd !== undefined) closeSync(fd);
    assert.equal(result.status, status, `${name}: ${result.out}`);
    assert.equal(result.err.length, 0, name);
    assert.match(result.out, /^[^\n]*\n$/, name);
    const reply = JSON.parse(result.out);
    for (const [schemaName, validate] of Object.entries(schemas)) {
      const valid = validate(reply);
      assert.equal(valid, schemaName === shape,
        `${name}: ${result.out.trim()} against ${schemaName}: ${ajv.errorsText(validate.errors)}`);
    }
  }
});

test("reply schemas refuse near misses", () => {
  const cases = [
    ["availability", { available: false }],
    ["availability", { available: true, reason: "Apple Intelligence is turned off. Enable it in System Settings." }],
    ["availability", { available: false, reason: "Some new reason." }],
    ["availability", { available: "true" }],
    ["answer", { content: "x" }],
    ["answer", { content: "x", finishReason: "length" }],
    ["answer", { content: null, finishReason: "stop" }],
    ["answer", { content: "x", finishReason: "stop", error: "y" }],
    ["error", { error: "" }],
    ["error", { error: "something went wrong" }],
    ["error", { error: "invalid chat request JSON: " }],
    ["error", { error: "unknown command: x" }],
    ["error", { error: "failed to encode response", content: "" }],
  ];
  for (const [shape, reply] of cases) {
    assert.equal(schemas[shape](reply), false, `${shape} accepted ${JSON.stringify(reply)}`);
  }
});

// The decoder is the authority: the schema must agree with it on every request here. Decoded
// requests are the ones that reach the model (status 0) or are refused for lack of user content.
test("request schema accepts what the decoder accepts", () => {
  const requests = [
    '{"messages":[{"role":"user","content":"Hi"}]}',
    '{"messages":[]}',
    '{"messages":[{"role":"x"}]}',
    '{"messages":[{"role":"user","content":null,"name":"a"}],"extra":[1,{}]}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":null,"maxTokens":null,"instructions":null}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":-1e-7,"maxTokens":-9223372036854775807,"instructions":""}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":9223372036854775807}',
    '{"messages":null,"messages":[{"role":"user","content":"Hi"}]}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":"x","temperature":1}',
    "{}",
    "[]",
    '"messages"',
    "null",
    '{"messages":null}',
    '{"messages":{}}',
    '{"messages":[1]}',
    '{"messages":[{}]}',
    '{"messages":[{"role":null}]}',
    '{"messages":[{"role":1,"content":"Hi"}]}',
    '{"messages":[{"role":"user","content":5}]}',
    '{"messages":[{"role":"user","content":["Hi"]}]}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":"0.5"}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":true}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":1e999}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":2.5}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":"300"}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":-9223372036854777856}',
    '{"messages":[{"role":"user","content":"Hi"}],"instructions":["a"]}',
    '{"messages":[{"role":"user","content":"Hi"}],"messages":null}',
  ];
  for (const text of requests) {
    const result = run(simBin, chat(text, { CORVANE_SIM_RESPONSE: "ok" }));
    const decoded = result.status === 0 || result.out.includes("no user content in chat request");
    assert.equal(requestSchema(JSON.parse(text)), decoded, `${text} -> ${result.out.trim()}`);
  }
});

// What a schema cannot tell from a parsed value: how a number was written.
test("request schema cannot see how maxTokens was written", () => {
  for (const literal of ["2.0", "1e3", "9223372036854775808"]) {
    const text = `{"messages":[{"role":"user","content":"Hi"}],"maxTokens":${literal}}`;
    assert.equal(run(simBin, chat(text)).status, 1, literal);
    assert.equal(requestSchema(JSON.parse(text)), true, literal);
  }
});
