"""What the documentation tells a reader to type works as written. Taken from the pages themselves,
so that a page and its test cannot drift apart:

- the install and publishing commands of the protocol page and the README (each shell block and
  each inline `npm ...` or `pip install ...`), run as written from a copy of the repository's
  clients, with no registry; the only thing replaced is the placeholder /path/to/app;
- the protocol page's shutdown recipes, with a call pending: each ends with its status, nothing on
  standard error (no traceback) and no process left;
- the program's texts on the page: both clients' shared rows classify each, and the manual page
  lists each;
- the protocol page's chat windows, which read a stream, with a window that records what it shows;
- scripts/demo.sh, whose output is the README's transcript (less corvane-apple-sim's report, which
  only a machine with Swift prints).

scripts/test-clients.sh runs it, with mypy, build and twine's virtual environment named in
$CORVANE_CLIENT_TOOLS and corvane-sim in $CORVANE_SIM."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PAGE = (ROOT / "docs/protocol.md").read_text("utf-8")
README = (ROOT / "README.md").read_text("utf-8")
TOOLS = os.environ.get("CORVANE_CLIENT_TOOLS")
SIM = Path(os.environ.get("CORVANE_SIM", ROOT / "build/corvane-sim")).resolve()
APP = "/path/to/app"
# Commands the pages show that cannot run here, each with why.
NOT_RUN = {
    "npm install --save-dev @types/node": "fetches from npm's registry",
    "pip install /usr/share/corvane/clients/python":
        "needs the .deb installed; scripts/test-package.sh installs from its files",
}


def blocks(page, language):
    """The fenced blocks of `language` in the page, each as (heading above it, text)."""
    found, heading = [], ""
    for match in re.finditer(r"^(#+ [^\n]*)$|^```(\w*)\n(.*?)^```$", page, re.M | re.S):
        if match[1]:
            heading = match[1]
        elif match[2] == language:
            found.append((heading, match[3]))
    return found


def inline_commands(page):
    return [c for c in re.findall(r"`((?:npm|pip) [^`]+)`", page)
            if re.match(r"(npm (pack|install)|pip install) ", c)]


def recipe(starting):
    """The shutdown recipe whose block begins with `starting`."""
    code = [text for _, text in blocks(PAGE, "js") + blocks(PAGE, "python")
            if text.startswith(starting)]
    assert len(code) == 1, f"no single block starting {starting!r} on the protocol page"
    return code[0]


def run(command, **options):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **options)
    assert done.returncode == 0, f"{command} failed:\n{done.stdout}"
    return done.stdout


@unittest.skipUnless(TOOLS, "build and twine are set up by scripts/test-clients.sh")
class CommandsTest(unittest.TestCase):
    def test_the_install_and_publishing_commands_work_as_written(self):
        with tempfile.TemporaryDirectory(prefix="corvane-doc-commands-") as scratch:
            clone, app = Path(scratch, "clone"), Path(scratch, "app")
            shutil.copytree(ROOT / "clients", clone / "clients",
                            ignore=shutil.ignore_patterns("__pycache__", "*.tgz"))
            app.mkdir()
            run([sys.executable, "-m", "venv", f"{scratch}/venv"])
            # No registry: pip has no index, and npm a cache of its own, offline.
            base = {**os.environ, "PIP_NO_INDEX": "1", "npm_config_offline": "true",
                    "npm_config_cache": f"{scratch}/npm-cache", "npm_config_audit": "false",
                    "npm_config_fund": "false", "npm_config_update_notifier": "false"}
            venv = {**base, "VIRTUAL_ENV": f"{scratch}/venv",
                    "PATH": f"{scratch}/venv/bin:{os.environ['PATH']}"}
            tools = {**base, "PATH": f"{TOOLS}:{os.environ['PATH']}"}
            ran = []
            for heading, text in blocks(PAGE, "sh"):
                with self.subTest(heading):
                    script = text.replace(APP, str(app))
                    # The publishing block uses build and twine, which it says to install.
                    run(["bash", "-euo", "pipefail", "-c", script], cwd=clone,
                        env=tools if "Publishing" in heading else venv)
                    ran.append(heading)
            for command in dict.fromkeys(inline_commands(PAGE) + inline_commands(README)):
                if command in NOT_RUN:
                    continue
                with self.subTest(command):
                    run(["bash", "-euo", "pipefail", "-c", command], cwd=clone, env=venv)
                    ran.append(command)
            self.assertIn("### Node.js", ran)
            self.assertIn("### Publishing the clients", ran)
            self.assertIn("pip install ./clients/python", ran)
            # What they installed answers; what the publishing block built is there.
            answer = 'import("corvane-client").then((c) => c.chat({ messages: [] }).catch((e) => console.log(e.code)))'
            self.assertEqual(run(["node", "-e", answer], cwd=app, env={
                "PATH": os.environ["PATH"], "CORVANE_EXECUTABLE": str(SIM)}), "badRequest\n")
            self.assertEqual(run([f"{scratch}/venv/bin/python", "-c", "import corvane_client"],
                                 cwd=scratch), "")
            self.assertEqual(sorted(p.name for p in (clone / "dist").iterdir()), [
                "corvane-client-0.1.0.tgz", "corvane_client-0.1.0-py3-none-any.whl",
                "corvane_client-0.1.0.tar.gz"])


class ShutdownRecipesTest(unittest.TestCase):
    REQUEST = '{"messages": [{"role": "user", "content": "Hi"}]}'

    def test_each_recipe_ends_quietly_with_no_process_left(self):
        with tempfile.TemporaryDirectory(prefix="corvane-doc-shutdown-") as scratch:
            slow, pid_file = Path(scratch, "slow"), Path(scratch, "pid")
            # corvane-sim answering in 20 s, its process id in a file once it runs.
            slow.write_text(f'#!/bin/sh\necho $$ > "{pid_file}"\n'
                            f"CORVANE_SIM_DELAY_MS=20000 exec '{SIM}' \"$@\"\n")
            slow.chmod(0o755)
            node_client = (ROOT / "clients/node/corvane.js").as_uri()
            programs = {
                "Node": (["node", "recipe.mjs"], "recipe.mjs", 1,
                         f'import {{ chat }} from "{node_client}";\n{recipe("// Node:")}'
                         f"chat({self.REQUEST}, {{ executable: {str(slow)!r}, signal: controller.signal }});\n"),
                "asyncio": ([sys.executable, "recipe.py"], "recipe.py", 1,
                            "from corvane_client import chat_async\n\n"
                            f"async def application() -> None:\n"
                            f"    await chat_async({self.REQUEST}, executable={str(slow)!r})\n\n"
                            + recipe("# Python with asyncio")),
                "blocking": ([sys.executable, "recipe.py"], "recipe.py", 143,
                             "import signal, sys\nfrom corvane_client import chat\n"
                             + recipe("# Python with blocking calls")
                             + f"chat({self.REQUEST}, executable={str(slow)!r})\n"),
            }
            env = {"PATH": os.environ["PATH"], "PYTHONPATH": str(ROOT / "clients/python")}
            for name, (command, file, status, program) in programs.items():
                with self.subTest(name):
                    Path(scratch, file).write_text(program)
                    pid_file.unlink(missing_ok=True)
                    process = subprocess.Popen(command, cwd=scratch, env=env,
                                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    start = time.monotonic()
                    while not pid_file.exists() or not pid_file.read_text().strip():
                        self.assertLess(time.monotonic() - start, 10, "corvane-sim never ran")
                        if process.poll() is not None:
                            self.fail(f"{name} ended first: {process.communicate()}")
                        time.sleep(0.02)
                    time.sleep(0.2)  # the application's handlers are in place by now
                    process.send_signal(signal.SIGTERM)
                    output, errors = process.communicate(timeout=10)
                    self.assertEqual((process.returncode, errors.decode(), output.decode()),
                                     (status, "", ""))
                    self.assertFalse(running(int(pid_file.read_text())), "corvane-sim outlived it")


class ChatWindowTest(unittest.TestCase):
    """Each client's chat window on the protocol page, run as written against corvane-sim, shows
    the answer growing a word at a time and keeps the whole answer in the history."""

    SHOWN = ["Pivot ", "Pivot tables ", "Pivot tables group."]

    def window(self, language, starting):
        code = [text for _, text in blocks(PAGE, language) if text.startswith(starting)]
        self.assertEqual(len(code), 1, f"no single {language} block starting {starting!r}")
        return code[0]

    def run_window(self, command, file, program):
        with tempfile.TemporaryDirectory(prefix="corvane-doc-window-") as scratch:
            Path(scratch, file).write_text(program)
            env = {"PATH": os.environ["PATH"], "PYTHONPATH": str(ROOT / "clients/python"),
                   "CORVANE_SIM_RESPONSE": self.SHOWN[-1]}
            return json.loads(run(command + [file], cwd=scratch, env=env))

    def test_the_node_window(self):
        code = self.window("js", 'import { stream } from "corvane-client";')
        code = code.replace('"corvane-client"', json.dumps((ROOT / "clients/node/corvane.js").as_uri()))
        shown = self.run_window(["node"], "window.mjs", (
            f"const corvanePath = {json.dumps(str(SIM))}, controller = new AbortController(), shown = [];\n"
            'const history = [{ role: "user", content: "Hi" }], bubble = { set textContent(text) { shown.push(text); } };\n'
            f"{code}console.log(JSON.stringify([shown, history.at(-1)]));\n"))
        self.assertEqual(shown, [self.SHOWN, {"role": "assistant", "content": self.SHOWN[-1]}])

    def test_the_python_windows(self):
        code = self.window("python", "from corvane_client import stream, stream_async")
        shown = self.run_window([sys.executable], "window.py", (
            "import asyncio, json\n"
            f"corvane_path, shown = {str(SIM)!r}, []\n"
            'history = [{"role": "user", "content": "Hi"}]\n'
            "class Bubble:\n    def set_text(self, text): shown.append(text)\n"
            f"bubble = Bubble()\n{code}"
            "asyncio.run(window_async())\n"
            "print(json.dumps([shown, history[-1]]))\n"))
        self.assertEqual(shown, [self.SHOWN, {"role": "assistant", "content": self.SHOWN[-1]}])


def running(pid):
    """Whether the process runs (one that has ended but not been reaped yet does not)."""
    time.sleep(0.1)  # the system adopts and reaps it
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def table_texts(page, heading):
    """The text of the first code span in the second column of the table under `heading`."""
    section = page.split(f"\n{heading}\n", 1)[1]
    table = re.search(r"^\|---.*?(?=\n\n)", section, re.M | re.S)[0]  # the rows, not the head
    return [m[1] for m in re.finditer(r"^\|[^|]*\| `([^`]*)`", table, re.M)]


class DocumentedTextsTest(unittest.TestCase):
    """The program's texts on the protocol page are those the clients' shared rows classify
    (clients/data/cases.json) and those the manual page lists."""

    def test_each_documented_text_is_classified_and_in_the_manual_page(self):
        kinds = json.loads((ROOT / "clients/data/cases.json").read_text("utf-8"))["kinds"]
        manual = (ROOT / "docs/corvane.1").read_text("utf-8").replace("\\(rs", "\\")
        reasons = table_texts(PAGE, "## Availability")
        refusals = table_texts(PAGE, "### Refusals")
        self.assertEqual(len(reasons), 5, reasons)
        self.assertEqual(len(refusals), 7 - 1, refusals)  # less the availability reason's row
        for reason in reasons:
            with self.subTest(reason):
                self.assertIn([1, reason, "unavailable"], [kind[:3] for kind in kinds])
                self.assertIn(reason, manual)
        replies = [(1, text) for text in refusals] + [(0, "on-device generation failed: "),
                                                      (1, "unknown command: ")]
        for status, text in replies:
            with self.subTest(text):
                self.assertTrue(any(kind[0] == status and kind[1].startswith(text)
                                    for kind in kinds), f"no row of cases.json for {text!r}")
                self.assertIn(text.rstrip(": "), manual)


@unittest.skipUnless(SIM == ROOT / "build/corvane-sim", "the demo shows build/, not $CORVANE_SIM")
class DemoTest(unittest.TestCase):
    def test_the_demo_prints_the_readmes_transcript(self):
        transcript = [text for heading, text in blocks(README, "") if "Quick start" in heading]
        self.assertEqual(len(transcript), 1, "no transcript in the README's quick start")
        printed = run(["bash", "scripts/demo.sh"], cwd=ROOT)
        printed = printed[printed.index("$ "):]  # after what setting up said, if anything
        printed = re.sub(r"^\$ build/corvane-apple-sim availability\n.*\n.*\n", "", printed,
                         flags=re.M)
        self.assertEqual(printed, transcript[0])
