// The package as an application gets it: packed with npm, installed from the tarball with no
// registry, then imported by name and asked for a chat through corvane-sim.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const root = fileURLToPath(new URL("../../../", import.meta.url));
const executable = resolve(process.env.CORVANE_SIM ?? resolve(root, "build/corvane-sim"));

test("npm pack gives a tarball that installs offline and answers a chat", (t) => {
  const dir = mkdtempSync(join(tmpdir(), "corvane-node-install-"));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  // A cache of its own, so nothing the machine cached before can stand in for the tarball.
  const env = { ...process.env, npm_config_cache: join(dir, "npm-cache"), npm_config_update_notifier: "false" };
  const npm = (args, cwd) => execFileSync("npm", args, { cwd, env, encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] });

  const [packed] = JSON.parse(npm(["pack", "--json", "--pack-destination", dir], resolve(root, "clients/node")));
  assert.deepEqual(packed.files.map((file) => file.path).sort(), ["corvane.d.ts", "corvane.js", "package.json"]);

  const app = join(dir, "app");
  mkdirSync(app);
  npm(["init", "--yes"], app);
  npm(["install", "--offline", "--no-audit", "--no-fund", join(dir, packed.filename)], app);
  writeFileSync(join(app, "main.mjs"), `
    import { chat, AbortError, CorvaneError } from "corvane-client";
    import { createRequire } from "node:module";
    const answer = await chat({ messages: [{ role: "user", content: "Hi" }] });
    const where = createRequire(import.meta.url).resolve("corvane-client");
    console.log(JSON.stringify({ answer, where, classes: [typeof AbortError, typeof CorvaneError] }));
  `);
  const printed = execFileSync(process.execPath, ["main.mjs"], {
    cwd: app,
    encoding: "utf8",
    env: { PATH: process.env.PATH, CORVANE_EXECUTABLE: executable, CORVANE_SIM_RESPONSE: "Hello from the package" },
  });
  const { answer, where, classes } = JSON.parse(printed);
  assert.deepEqual(answer, { content: "Hello from the package", finishReason: "stop" });
  assert.equal(where, join(app, "node_modules", "corvane-client", "corvane.js"));
  assert.deepEqual(classes, ["function", "function"]);
});
