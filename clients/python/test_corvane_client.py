"""The Python client against corvane-sim, and against small shell scripts that misbehave in ways
the program does not, for the client's own failures. Every case runs through the blocking calls
and through their asyncio counterparts."""

import asyncio
import json
import os
import shutil
import tempfile
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import corvane_client
from corvane_client import (
    Availability,
    ChatAnswer,
    CorvaneError,
    GenerationError,
    ProcessError,
    RefusalError,
)

ROOT = Path(__file__).resolve().parents[2]
SIM = Path(os.environ.get("CORVANE_SIM", ROOT / "build" / "corvane-sim")).resolve()
HELLO = {"messages": [{"role": "user", "content": "Hello"}]}


def sim(**env):
    return {"executable": SIM, "env": {"PATH": os.environ.get("PATH", ""), **env}}


def answering(trace):
    """Whether the stand-in's trace shows the answer under way: it traces the response before it
    waits out its delay."""
    return trace.exists() and '"respond"' in trace.read_text("utf-8")


def answering_child(trace):
    """The pid of this process's corvane-sim child once it is answering, from /proc."""
    for _ in range(300):
        if answering(trace):
            break
        time.sleep(0.01)
    children = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            stat = Path(f"/proc/{entry}/stat").read_text()
        except OSError:
            continue  # ended meanwhile
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        if ppid == os.getpid() and comm == "corvane-sim":
            children.append(int(entry))
    if len(children) != 1:
        raise AssertionError(f"expected one corvane-sim child answering, found {children}")
    return children[0]


def is_gone(pid):
    try:
        os.kill(pid, 0)  # succeeds for a zombie too: only a reaped process is gone
    except ProcessLookupError:
        return True
    return False


class ClientCases:
    """The cases; the subclasses below say how a call is made."""

    def availability(self, **options):
        raise NotImplementedError

    def chat(self, request, **options):
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.dir = Path(tempfile.mkdtemp(prefix="corvane-python-client-"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def fake(self, name, body, mode=0o755):
        """An executable shell script with this body."""
        path = self.dir / name
        path.write_text(f"#!/bin/sh\n{body}\n")
        path.chmod(mode)
        return path

    def test_availability_reports_each_state(self):
        cases = [
            ({}, Availability(True)),
            ({"CORVANE_SIM_OS_VERSION": "15.6"},
             Availability(False, "Requires macOS 26 or later with Apple Intelligence.")),
            ({"CORVANE_SIM_AVAILABILITY": "deviceNotEligible"},
             Availability(False, "This device is not eligible for Apple Intelligence.")),
        ]
        for env, expected in cases:
            with self.subTest(env=env):
                self.assertEqual(self.availability(**sim(**env)), expected)

    def test_chat_returns_the_answer(self):
        self.assertEqual(self.chat(HELLO, **sim()), ChatAnswer("User: Hello\n\nAssistant:", "stop"))
        text = 'line 1\nline "2"\ta/b \U0001F44D\U0001F3FD \\ café'
        self.assertEqual(self.chat(HELLO, **sim(CORVANE_SIM_RESPONSE=text)), ChatAnswer(text, "stop"))
        self.assertEqual(self.chat(HELLO, **sim(CORVANE_SIM_RESPONSE="")), ChatAnswer("", "stop"))

    def test_chat_sends_the_whole_request(self):
        trace = self.dir / "trace"
        request = {
            "instructions": "Réponds brièvement.",
            "messages": [
                {"role": "system", "content": "Use / units"},
                {"role": "user", "content": "x" * 300_000},
                {"role": "assistant", "content": None},
                {"role": "user", "content": "Was ist 2 + 2? \U0001F44D"},
            ],
            "temperature": 0.2,
            "maxTokens": 100,
        }
        self.chat(request, **sim(CORVANE_SIM_TRACE=str(trace), CORVANE_SIM_RESPONSE="4"))
        lines = [json.loads(line) for line in trace.read_text("utf-8").splitlines()]
        self.assertEqual(lines[2], {"op": "session", "tools": 0,
                                    "instructions": "Réponds brièvement.\n\nUse / units"})
        self.assertEqual(lines[3]["prompt"], "User: Was ist 2 + 2? \U0001F44D\n\nAssistant:")
        self.assertEqual(lines[3]["temperature"], 0.2)
        self.assertEqual(lines[3]["maximumResponseTokens"], 100)

    def test_refusals_raise_refusal_error_with_the_program_text(self):
        cases = [
            (HELLO, {"CORVANE_SIM_AVAILABILITY": "modelNotReady"},
             "The on-device model is downloading or not ready yet. Try again shortly."),
            ("", {}, "empty chat request on stdin"),
            (b'{"messages":[{"role":"user","content":"Hi"}],"maxTokens":2.5}', {},
             "invalid chat request JSON: maxTokens"),
        ]
        for request, env, message in cases:
            with self.subTest(request=request):
                with self.assertRaises(RefusalError) as caught:
                    self.chat(request, **sim(**env))
                self.assertIsInstance(caught.exception, CorvaneError)
                self.assertEqual(caught.exception.status, 1)
                self.assertTrue(caught.exception.message.startswith(message),
                                caught.exception.message)

    def test_a_failed_generation_raises_generation_error(self):
        with self.assertRaises(GenerationError) as caught:
            self.chat(HELLO, **sim(CORVANE_SIM_ERROR="context window exceeded"))
        self.assertEqual(caught.exception.status, 0)
        self.assertEqual(str(caught.exception),
                         "on-device generation failed: context window exceeded")
        unencodable = self.fake("unencodable", """printf '{"error":"failed to encode response"}\\n'""")
        with self.assertRaises(GenerationError):
            self.chat(HELLO, executable=unencodable)

    def test_a_time_out_in_the_middle_of_a_slow_answer_leaves_no_process(self):
        trace = self.dir / "trace-timeout"
        start = time.monotonic()
        with ThreadPoolExecutor(1) as pool:
            call = pool.submit(self.chat, HELLO, timeout=1, **sim(
                CORVANE_SIM_DELAY_MS="20000", CORVANE_SIM_TRACE=str(trace)))
            pid = answering_child(trace)
            with self.assertRaises(ProcessError) as caught:
                call.result(timeout=10)
        self.assertEqual(caught.exception.kind, "timeout")
        self.assertTrue(is_gone(pid), f"process {pid} is still there once the call returned")
        self.assertLess(time.monotonic() - start, 5)
        answer = self.chat(HELLO, timeout=None, **sim(CORVANE_SIM_DELAY_MS="300",
                                                      CORVANE_SIM_RESPONSE="ok"))
        self.assertEqual(answer.content, "ok")

    def test_the_executable_is_the_argument_else_the_variable_else_corvane_in_path(self):
        bin_dir = self.dir / "bin"
        bin_dir.mkdir()
        (bin_dir / "corvane").symlink_to(SIM)
        missing = str(self.dir / "no-such-program")
        found = [
            ("argument over variable", {"executable": SIM, "env": {"CORVANE_EXECUTABLE": missing}}),
            ("variable", {"env": {"CORVANE_EXECUTABLE": str(SIM)}}),
            ("PATH", {"env": {"PATH": f"{self.dir}/empty:{bin_dir}"}}),
            ("name in PATH", {"executable": "corvane-sim", "env": {"PATH": str(SIM.parent)}}),
        ]
        for name, options in found:
            with self.subTest(name):
                self.assertEqual(self.availability(**options), Availability(True))
        not_found = [
            ("argument", {"executable": missing}, [missing, "executable"]),
            ("variable", {"env": {"CORVANE_EXECUTABLE": missing}}, [missing, "CORVANE_EXECUTABLE"]),
            ("PATH", {"env": {"PATH": f"{self.dir}:/nonexistent"}},
             ['"corvane"', f"PATH ({self.dir}:/nonexistent)", "CORVANE_EXECUTABLE"]),
        ]
        for name, options, words in not_found:
            with self.subTest(name):
                with self.assertRaises(ProcessError) as caught:
                    self.availability(**options)
                self.assertEqual(caught.exception.kind, "not-found")
                for word in words:
                    self.assertIn(word, str(caught.exception))

    def test_runs_without_a_reply_raise_process_error_of_their_kind(self):
        cases = [
            ("not executable", lambda: self.availability(executable=self.fake("plain-file", "", 0o644)),
             "spawn-failed"),
            ("not JSON", lambda: self.chat(HELLO, executable=self.fake("not-json", "echo hello")),
             "malformed-reply"),
            ("no line feed", lambda: self.availability(
                executable=self.fake("no-newline", """printf '{"available":true}'""")),
             "malformed-reply"),
            ("two lines", lambda: self.availability(
                executable=self.fake("two-lines", """printf '{"available":true}\\n{}\\n'""")),
             "malformed-reply"),
            ("not UTF-8", lambda: self.chat(HELLO, executable=self.fake(
                "latin1", """printf '{"content":"caf\\351","finishReason":"stop"}\\n'""")),
             "malformed-reply"),
            ("wrong shape", lambda: self.availability(
                executable=self.fake("wrong-shape", """echo '{"available":"yes"}'""")),
             "malformed-reply"),
            ("answer with status 1", lambda: self.chat(HELLO, executable=self.fake(
                "answer-1", """echo '{"content":"x","finishReason":"stop"}'; exit 1""")),
             "malformed-reply"),
            ("other status", lambda: self.chat(HELLO, executable=self.fake(
                "status-3", """echo '{"error":"x"}'; exit 3""")),
             "abnormal-exit"),
            ("killed", lambda: self.chat(HELLO, executable=self.fake("killed", "kill -9 $$")),
             "abnormal-exit"),
        ]
        for name, call, kind in cases:
            with self.subTest(name):
                with self.assertRaises(ProcessError) as caught:
                    call()
                self.assertEqual(caught.exception.kind, kind, str(caught.exception))

    def test_standard_error_and_unread_input_do_not_matter(self):
        noisy = self.fake("noisy", """echo warning >&2; echo '{"available":true}'""")
        self.assertEqual(self.availability(executable=noisy), Availability(True))
        # Ends at once without reading its input: writing the request must not fail the call.
        refuses = self.fake("refuses", """echo '{"error":"unknown command"}'; exit 1""")
        big = {"messages": [{"role": "user", "content": "y" * 2_000_000}]}
        with self.assertRaises(RefusalError):
            self.chat(big, executable=refuses)


class BlockingClientTest(ClientCases, unittest.TestCase):
    def availability(self, **options):
        return corvane_client.availability(**options)

    def chat(self, request, **options):
        return corvane_client.chat(request, **options)


class AsyncioClientTest(ClientCases, unittest.TestCase):
    def availability(self, **options):
        return asyncio.run(corvane_client.availability_async(**options))

    def chat(self, request, **options):
        return asyncio.run(corvane_client.chat_async(request, **options))

    def test_cancelling_in_the_middle_of_a_slow_answer_leaves_no_process(self):
        trace = self.dir / "trace-cancel"

        async def cancel_midway():
            task = asyncio.ensure_future(corvane_client.chat_async(HELLO, **sim(
                CORVANE_SIM_DELAY_MS="20000", CORVANE_SIM_TRACE=str(trace))))
            # Polled from the event loop, which must run on while the program answers.
            for _ in range(300):
                if answering(trace):
                    break
                await asyncio.sleep(0.01)
            pid = answering_child(trace)
            task.cancel()
            with self.assertRaises(asyncio.CancelledError):
                await task
            return pid

        start = time.monotonic()
        pid = asyncio.run(asyncio.wait_for(cancel_midway(), 10))
        self.assertTrue(is_gone(pid), f"process {pid} is still there once the task ended")
        self.assertLess(time.monotonic() - start, 5)


if __name__ == "__main__":
    unittest.main()
