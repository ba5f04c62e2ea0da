// corvane.d.ts through the TypeScript compiler (Debian's node-typescript, `tsc`): a typed use
// compiles, the codes the shared table (../../data/cases.json) gives are exactly those of the
// declared unions, and each typed mistake below is refused with the error expected. Node's own
// types (@types/node) come from npm, which is out of reach here: the few names the declarations
// take from them are stubbed.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { fileURLToPath } from "node:url";

const client = fileURLToPath(new URL("../corvane.js", import.meta.url));
const data = JSON.parse(readFileSync(new URL("../../data/cases.json", import.meta.url), "utf8"));
const tsc = spawnSync("tsc", ["--version"]).status === 0;

const keys = (values) => `{ ${[...new Set(values)].map((value) => `${value}: true`).join(", ")} }`;
const example = `import { availability, chat, stream, ChatAnswer, CorvaneError, ErrorCode, ProcessError, RefusalError, Role, StreamPiece, UnavailableReason } from ${JSON.stringify(client)};
declare global { namespace NodeJS { interface ProcessEnv { [name: string]: string | undefined } type Signals = string } }
const codes: Record<ErrorCode, true> = ${keys([...data.kinds.map((kind) => kind[2]), "processFailed"])};
const reasons: Record<UnavailableReason, true> = ${keys(data.kinds.filter((kind) => kind[3]).map((kind) => kind[3]))};
const roles: Role[] = ["system", "user", "assistant", "tool"];
export async function use(error: CorvaneError, refusal: RefusalError, failure: ProcessError): Promise<unknown> {
  const found = await availability({ timeoutMs: Infinity, env: { PATH: "/usr/bin" } });
  const later = !found.available && found.reasonCode === "modelNotReady";
  const answer = await chat({ messages: [{ role: roles[0], content: null }, { role: "tool" }], maxTokens: null }, { signal: new AbortController().signal });
  return [codes, reasons, later, answer.content, error.code === "badRequest", refusal.reasonCode === "osTooOld", failure.kind === "timeout"];
}
export async function window(show: (text: string) => void): Promise<ChatAnswer> {
  const answer = stream({ messages: [{ role: "user", content: "Hi" }] }, { timeoutMs: 60000 });
  let text = "";
  for await (const piece of answer) {
    text = piece.kind === "replace" ? piece.text : text + piece.text;
    show(text);
  }
  const pieces: StreamPiece[] = [];
  const manual = stream("{}");
  for (let step = await manual.next(); ; step = await manual.next()) {
    if (step.done) return { ...(await answer.answer), content: step.value.content + pieces.length };
    pieces.push(step.value);
  }
}
export async function mistakes(error: CorvaneError, refusal: RefusalError, failure: ProcessError): Promise<void> {
`;
// Lines put into mistakes() above, each with the code of the compiler's complaint about it.
const MISTAKES = [
  ['await chat({ messages: [{ role: "usr", content: "Hi" }] });', "TS2820"],
  ["await chat({ mesages: [] });", "TS2345"],
  ['await chat({ messages: [] }, { timeoutMs: "60" });', "TS2322"],
  ["(await availability()).reasonCode;", "TS2339"],
  ['console.log(error.code === "timeout");', "TS2367"],
  ['console.log(failure.code === "badRequest");', "TS2367"],
  ['console.log(refusal.reasonCode === "notReady");', "TS2367"],
  ['for await (const piece of stream({ messages: [] })) console.log(piece.kind === "append");', "TS2367"],
  ["console.log((await stream({ messages: [] }).answer).text);", "TS2339"],
  ['stream({ messages: [] }, { timeoutMs: "60" });', "TS2322"],
];

test("the declarations hold the table's codes and refuse typed mistakes", { skip: !tsc && "no tsc (Debian's node-typescript)" }, (t) => {
  const dir = mkdtempSync(join(tmpdir(), "corvane-node-types-"));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  const file = join(dir, "example.ts");
  const first = example.split("\n").length; // the line of the first mistake
  writeFileSync(file, `${example}${MISTAKES.map(([line]) => `  ${line}\n`).join("")}}\n`);
  const compilerOptions = { noEmit: true, strict: true, target: "es2022", module: "es2022", moduleResolution: "node", lib: ["es2022", "dom"], types: [] };
  writeFileSync(join(dir, "tsconfig.json"), JSON.stringify({ compilerOptions, files: ["example.ts"] }));
  let output = "";
  try {
    execFileSync("tsc", ["--pretty", "false", "-p", dir], { encoding: "utf8" });
  } catch (error) {
    output = error.stdout;
  }
  const complaints = new Map();
  for (const [, where, line, code] of output.matchAll(/^(.*?)\((\d+),\d+\): error (TS\d+)/gm)) {
    assert.ok(where.endsWith("example.ts"), output);
    const number = Number(line) - first;
    assert.ok(number >= 0 && number < MISTAKES.length, output);
    complaints.set(number, [...(complaints.get(number) ?? []), code]);
  }
  MISTAKES.forEach(([line, code], number) => assert.ok(complaints.get(number)?.includes(code), `${line} not refused with ${code}:\n${output}`));
});
