"""The Python client, blocking and with asyncio, through the cases it shares with the Node client
(../data/cases.json, which says how they read), and through calls stopped midway."""

import asyncio
import json
import math
import os
import tempfile
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import get_args
from unittest import mock

import corvane_client as c

HERE = Path(__file__).resolve().parent
SIM = Path(os.environ.get("CORVANE_SIM", HERE.parents[1] / "build/corvane-sim")).resolve()
SCRATCH = tempfile.TemporaryDirectory(prefix="corvane-python-client-")
DIR, TRACE = Path(SCRATCH.name), Path(SCRATCH.name) / "trace"
DATA = (HERE.parent / "data/cases.json").read_text("utf-8")
for token, value in {"{sim}": str(SIM), "{dir}": str(DIR), "{big}": "x" * 300_000}.items():
    DATA = DATA.replace(token, value)
DATA = json.loads(DATA)
for name, body in DATA["fakes"].items():
    (DIR / name).write_text(f"{'' if body.startswith('#!') else '#!/bin/sh' + chr(10)}{body}\n")
    (DIR / name).chmod(0o755)
ERRORS = {"invalid request": ValueError, "invalid value": ValueError, "invalid type": TypeError}


def options_of(case):
    """The call's options, with the table's stand-in for a number JSON cannot hold replaced."""
    options = dict(case["options"])
    if isinstance(options.get("timeout"), dict):
        options["timeout"] = float(options["timeout"]["$number"])
    return options


def result_of(reply):
    """The result a reply of the table stands for."""
    if "available" in reply:
        return c.Availability(reply["available"], reply.get("reason"), reply.get("reasonCode"))
    return c.ChatAnswer(reply["content"], reply["finishReason"])


def revive(request):
    """The request with the table's stand-ins for what JSON cannot hold replaced."""
    root = {}

    def walk(v):
        if isinstance(v, dict):
            return (float(v["$number"]) if "$number" in v else root if "$request" in v
                    else {key: walk(item) for key, item in v.items()})
        return [walk(item) for item in v] if isinstance(v, list) else v
    if not isinstance(request, dict):
        return request
    root.update(walk(request))
    return root


CALLS = {  # availability() for a case without a chat request
    "blocking": lambda case, **o: c.chat(revive(case["chat"]), **o) if "chat" in case
    else c.availability(**o),
    "asyncio": lambda case, **o: asyncio.run(
        c.chat_async(revive(case["chat"]), **o) if "chat" in case else c.availability_async(**o)),
}
HELLO = {"messages": [{"role": "user", "content": "Hello"}]}
SLOW = {"executable": DIR / "slow", "env": {"CORVANE_SIM_TRACE": str(TRACE)}}


async def cancel_on(go):
    task = asyncio.ensure_future(c.chat_async(HELLO, **SLOW))
    while not go.is_set():  # the event loop must run on while the program answers
        await asyncio.sleep(0.01)
    task.cancel()
    await task


class ClientTest(unittest.TestCase):
    def test_shared_cases(self):
        for (mode, call), case in ((m, case) for m in CALLS.items() for case in DATA["cases"]):
            with self.subTest(mode=mode, case=case["name"]), \
                    mock.patch.dict(os.environ, case.get("parent", {})):
                if "reply" in case:
                    self.assertEqual(call(case, **options_of(case)), result_of(case["reply"]))
                    if "trace" in case:  # what corvane-sim traced last: the session, the response
                        traced = Path(case["options"]["env"]["CORVANE_SIM_TRACE"]).read_bytes()
                        for line, want in zip(traced.splitlines()[-2:], case["trace"]):
                            self.assertEqual({k: json.loads(line)[k] for k in want}, want)
                    continue
                with self.assertRaises(ERRORS.get(case["error"]) or getattr(c, case["error"])) as caught:
                    call(case, **options_of(case))
                error = caught.exception
                self.assertFalse((DIR / "marks.started").exists(), "a process was started")
                self.assertEqual(getattr(error, "kind", None), case.get("kind"), error)
                if isinstance(error, c.CorvaneError):
                    code = "processFailed" if case["error"] == "ProcessError" else case.get("code")
                    self.assertEqual(error.code, code or error.code, error)
                    self.assertEqual(getattr(error, "reason_code", None), case.get("reasonCode"))
                self.assertTrue(str(error).startswith(case.get("message", "")), error)
                for word in case.get("words", []):
                    self.assertIn(word, str(error))

    def test_reply_kinds(self):
        replies = DIR / "replies"
        for (mode, call), (status, text, code, reason_code) in (
                (m, kind) for m in CALLS.items() for kind in DATA["kinds"]):
            with self.subTest(mode=mode, status=status, text=text):
                env = {"CORVANE_FAKE_STATUS": str(status),
                       "CORVANE_FAKE_REPLY": json.dumps({"error": text})}
                error = c.RefusalError if status == 1 else c.GenerationError
                with self.assertRaises(error) as caught:
                    call({"chat": {"messages": []}}, executable=replies, env=env)
                self.assertEqual((caught.exception.code, getattr(caught.exception, "reason_code",
                                                                  None), str(caught.exception)),
                                 (code, reason_code, text))
                env = {"CORVANE_FAKE_STATUS": "0",
                       "CORVANE_FAKE_REPLY": json.dumps({"available": False, "reason": text})}
                unavailable = reason_code if code == "unavailable" else "other"
                self.assertEqual(call({}, executable=replies, env=env),
                                 c.Availability(False, text, unavailable))

    def test_the_types_name_the_codes_of_the_table(self):
        codes = {kind[2] for kind in DATA["kinds"]} | {"processFailed"}
        reasons = {kind[3] for kind in DATA["kinds"] if kind[3]}
        self.assertEqual((set(get_args(c.ErrorCode)), set(get_args(c.UnavailableReason))),
                         (codes, reasons))

    def test_a_limit_of_no_time_or_of_more_than_a_timer_takes(self):
        answer = {"CORVANE_SIM_RESPONSE": "ok", "CORVANE_SIM_DELAY_MS": "200"}
        for timeout in [None, 0, math.inf, 10**400, 1e300, float(2**31)]:
            for mode, call in CALLS.items():
                with self.subTest(mode=mode, timeout=timeout):
                    self.assertEqual(call({"chat": HELLO}, executable=SIM, env=answer,
                                          timeout=timeout), c.ChatAnswer("ok", "stop"))

    def test_a_call_stopped_midway_leaves_no_process(self):
        for name, stop, error in [
            ("blocking time-out", lambda _: c.chat(HELLO, timeout=1, **SLOW), c.ProcessError),
            ("asyncio time-out", lambda _: asyncio.run(c.chat_async(HELLO, timeout=1, **SLOW)),
             c.ProcessError),
            ("asyncio cancel", lambda go: asyncio.run(cancel_on(go)), asyncio.CancelledError)]:
            with self.subTest(name), ThreadPoolExecutor(1) as pool:
                TRACE.write_text("")
                go, start = threading.Event(), time.monotonic()
                call = pool.submit(stop, go)
                # corvane-sim traces the response before it waits: from then on it answers.
                while '"respond"' not in TRACE.read_text() and time.monotonic() - start < 3:
                    time.sleep(0.01)
                pid = int(TRACE.read_text().split()[0])
                go.set()
                with self.assertRaises(error) as caught:
                    call.result(timeout=10)
                self.assertEqual(getattr(caught.exception, "kind", "timeout"), "timeout")
                # /proc lists a process until it has been reaped.
                self.assertFalse(Path(f"/proc/{pid}").exists(), f"process {pid} outlived the call")
                self.assertLess(time.monotonic() - start, 5)
