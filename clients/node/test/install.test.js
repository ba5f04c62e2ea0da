// npm packs the package with its readme and licence; the tarball installs with no registry, is
// imported by name from an ES module and, through import(), from CommonJS, tells its version, and
// answers a chat through corvane-sim.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

test("npm pack gives a tarball that installs offline and answers a chat", (t) => {
  const root = fileURLToPath(new URL("../../../", import.meta.url));
  const dir = mkdtempSync(join(tmpdir(), "corvane-node-install-"));
  const app = join(dir, "app");
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  mkdirSync(app);
  // A cache of its own, so nothing cached before can stand in for the tarball.
  const env = { ...process.env, npm_config_cache: join(dir, "cache"), npm_config_update_notifier: "false" };
  const npm = (cwd, ...args) => execFileSync("npm", args, { cwd, env, encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] });
  const [packed] = JSON.parse(npm(resolve(root, "clients/node"), "pack", "--json", "--pack-destination", dir));
  assert.deepEqual(packed.files.map((file) => file.path).sort(), ["LICENSE", "README.md", "corvane.d.ts", "corvane.js", "package.json"]);
  npm(app, "init", "--yes");
  npm(app, "install", "--offline", "--no-audit", "--no-fund", join(dir, packed.filename));
  writeFileSync(join(app, "main.mjs"), `import { chat, AbortError, CorvaneError } from "corvane-client";
    const answer = await chat({ messages: [{ role: "user", content: "Hi" }] });
    console.log(JSON.stringify([answer, import.meta.resolve("corvane-client"), typeof AbortError, typeof CorvaneError]));`);
  writeFileSync(join(app, "main.cjs"), `(async () => {
      const { chat } = await import("corvane-client");
      const { version } = require("corvane-client/package.json");
      console.log(JSON.stringify([(await chat({ messages: [{ role: "user", content: "Hi" }] })).content, version]));
    })();`);
  const sim = resolve(process.env.CORVANE_SIM ?? resolve(root, "build/corvane-sim"));
  const simEnv = { PATH: process.env.PATH, CORVANE_EXECUTABLE: sim, CORVANE_SIM_RESPONSE: "Hi" };
  const printed = execFileSync(process.execPath, ["main.mjs"], { cwd: app, encoding: "utf8", env: simEnv });
  const where = pathToFileURL(join(app, "node_modules/corvane-client/corvane.js")).href;
  assert.deepEqual(JSON.parse(printed), [{ content: "Hi", finishReason: "stop" }, where, "function", "function"]);
  const common = execFileSync(process.execPath, ["main.cjs"], { cwd: app, encoding: "utf8", env: simEnv });
  assert.deepEqual(JSON.parse(common), ["Hi", packed.version]);
});
