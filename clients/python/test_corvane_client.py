"""The Python client against corvane-sim, and against small shell scripts that misbehave in ways
the program does not, for the client's own failures."""

import json
import os
import shutil
import tempfile
import time
import unittest
from pathlib import Path

from corvane_client import (
    Availability,
    ChatAnswer,
    CorvaneError,
    GenerationError,
    ProcessError,
    RefusalError,
    availability,
    chat,
)

ROOT = Path(__file__).resolve().parents[2]
SIM = Path(os.environ.get("CORVANE_SIM", ROOT / "build" / "corvane-sim")).resolve()
HELLO = {"messages": [{"role": "user", "content": "Hello"}]}


def sim(**env):
    return {"executable": SIM, "env": {"PATH": os.environ.get("PATH", ""), **env}}


class ClientTest(unittest.TestCase):
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
                self.assertEqual(availability(**sim(**env)), expected)

    def test_chat_returns_the_answer(self):
        self.assertEqual(chat(HELLO, **sim()), ChatAnswer("User: Hello\n\nAssistant:", "stop"))
        text = 'line 1\nline "2"\ta/b \U0001F44D\U0001F3FD \\ café'
        self.assertEqual(chat(HELLO, **sim(CORVANE_SIM_RESPONSE=text)), ChatAnswer(text, "stop"))
        self.assertEqual(chat(HELLO, **sim(CORVANE_SIM_RESPONSE="")), ChatAnswer("", "stop"))

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
        chat(request, **sim(CORVANE_SIM_TRACE=str(trace), CORVANE_SIM_RESPONSE="4"))
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
                    chat(request, **sim(**env))
                self.assertIsInstance(caught.exception, CorvaneError)
                self.assertEqual(caught.exception.status, 1)
                self.assertTrue(caught.exception.message.startswith(message),
                                caught.exception.message)

    def test_a_failed_generation_raises_generation_error(self):
        with self.assertRaises(GenerationError) as caught:
            chat(HELLO, **sim(CORVANE_SIM_ERROR="context window exceeded"))
        self.assertEqual(caught.exception.status, 0)
        self.assertEqual(str(caught.exception),
                         "on-device generation failed: context window exceeded")
        unencodable = self.fake("unencodable", """printf '{"error":"failed to encode response"}\\n'""")
        with self.assertRaises(GenerationError):
            chat(HELLO, executable=unencodable)

    def test_a_slow_run_is_killed_at_the_time_out(self):
        start = time.monotonic()
        with self.assertRaises(ProcessError) as caught:
            chat(HELLO, timeout=0.2, **sim(CORVANE_SIM_DELAY_MS="10000"))
        self.assertEqual(caught.exception.kind, "timeout")
        self.assertLess(time.monotonic() - start, 5)
        answer = chat(HELLO, timeout=None, **sim(CORVANE_SIM_DELAY_MS="300", CORVANE_SIM_RESPONSE="ok"))
        self.assertEqual(answer.content, "ok")

    def test_runs_without_a_reply_raise_process_error_of_their_kind(self):
        cases = [
            ("missing executable", lambda: availability(executable=self.dir / "no-such-program"),
             "not-found"),
            ("not executable", lambda: availability(executable=self.fake("plain-file", "", 0o644)),
             "spawn-failed"),
            ("not JSON", lambda: chat(HELLO, executable=self.fake("not-json", "echo hello")),
             "malformed-reply"),
            ("no line feed", lambda: availability(
                executable=self.fake("no-newline", """printf '{"available":true}'""")),
             "malformed-reply"),
            ("two lines", lambda: availability(
                executable=self.fake("two-lines", """printf '{"available":true}\\n{}\\n'""")),
             "malformed-reply"),
            ("not UTF-8", lambda: chat(HELLO, executable=self.fake(
                "latin1", """printf '{"content":"caf\\351","finishReason":"stop"}\\n'""")),
             "malformed-reply"),
            ("wrong shape", lambda: availability(
                executable=self.fake("wrong-shape", """echo '{"available":"yes"}'""")),
             "malformed-reply"),
            ("answer with status 1", lambda: chat(HELLO, executable=self.fake(
                "answer-1", """echo '{"content":"x","finishReason":"stop"}'; exit 1""")),
             "malformed-reply"),
            ("other status", lambda: chat(HELLO, executable=self.fake(
                "status-3", """echo '{"error":"x"}'; exit 3""")),
             "abnormal-exit"),
            ("killed", lambda: chat(HELLO, executable=self.fake("killed", "kill -9 $$")),
             "abnormal-exit"),
        ]
        for name, call, kind in cases:
            with self.subTest(name):
                with self.assertRaises(ProcessError) as caught:
                    call()
                self.assertEqual(caught.exception.kind, kind, str(caught.exception))

    def test_standard_error_and_unread_input_do_not_matter(self):
        noisy = self.fake("noisy", """echo warning >&2; echo '{"available":true}'""")
        self.assertEqual(availability(executable=noisy), Availability(True))
        # Ends at once without reading its input: writing the request must not fail the call.
        refuses = self.fake("refuses", """echo '{"error":"unknown command"}'; exit 1""")
        big = {"messages": [{"role": "user", "content": "y" * 2_000_000}]}
        with self.assertRaises(RefusalError):
            chat(big, executable=refuses)


if __name__ == "__main__":
    unittest.main()
