"""The Python client, blocking and with asyncio, through the cases it shares with the Node client
(../data/cases.json, which says how they read), and through calls stopped midway."""

import asyncio
import json
import os
import tempfile
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
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
ERRORS = {"invalid request": ValueError}


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
                    r = case["reply"]
                    self.assertEqual(call(case, **case["options"]), c.Availability(**r)
                                     if "available" in r else c.ChatAnswer(*r.values()))
                    if "trace" in case:  # what corvane-sim traced last: the session, the response
                        traced = Path(case["options"]["env"]["CORVANE_SIM_TRACE"]).read_bytes()
                        for line, want in zip(traced.splitlines()[-2:], case["trace"]):
                            self.assertEqual({k: json.loads(line)[k] for k in want}, want)
                    continue
                with self.assertRaises(ERRORS.get(case["error"]) or getattr(c, case["error"])) as caught:
                    call(case, **case["options"])
                error = caught.exception
                self.assertFalse((DIR / "marks.started").exists(), "a process was started")
                self.assertEqual(getattr(error, "kind", None), case.get("kind"), error)
                self.assertTrue(str(error).startswith(case.get("message", "")), error)
                for word in case.get("words", []):
                    self.assertIn(word, str(error))

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
