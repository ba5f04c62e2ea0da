"""The Python client, blocking and with asyncio, through the cases it shares with the Node client
(../data/cases.json, which says how they read), chat and stream alike, and through calls and
streams stopped midway."""

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


def read_stream(request, **options):
    """Reads stream() to its end: its pieces as [kind, text] pairs, and its answer or error."""
    pieces = []
    try:
        answer = c.stream(request, **options)
        for piece in answer:
            pieces.append([piece.kind, piece.text])
        return pieces, answer.answer
    except Exception as error:
        return pieces, error


async def read_stream_async(request, **options):
    pieces = []
    try:
        answer = c.stream_async(request, **options)
        async for piece in answer:
            pieces.append([piece.kind, piece.text])
        return pieces, answer.answer
    except Exception as error:
        return pieces, error


STREAMS = {
    "stream": lambda case, **o: read_stream(revive(case.get("chat", case.get("stream"))), **o),
    "stream_async": lambda case, **o: asyncio.run(
        read_stream_async(revive(case.get("chat", case.get("stream"))), **o)),
}


def modes_of(case):
    """Each way the case runs, with its call, which returns the pieces (None for a call that does
    not stream) and the result or error."""
    def whole(call):
        def run(case, **options):
            try:
                return None, call(case, **options)
            except Exception as error:
                return None, error
        return run
    calls = {mode: whole(call) for mode, call in CALLS.items()}
    return ({} if "stop" in case else {**calls, **STREAMS} if "chat" in case
            else STREAMS if "stream" in case else calls)


def joined(pieces):
    """The answer the pieces make, starting over at each replace."""
    text = ""
    for kind, piece in pieces:
        text = piece if kind == "replace" else text + piece
    return text


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
        for case in DATA["cases"]:
            for mode, call in modes_of(case).items():
                expected = {**case, **(case.get("asStream", {}) if mode in STREAMS else {})}
                with self.subTest(mode=mode, case=case["name"]), \
                        mock.patch.dict(os.environ, case.get("parent", {})):
                    pieces, result = call(case, **options_of(case))
                    if "pieces" in expected and pieces is not None:
                        self.assertEqual(pieces, expected["pieces"])
                    if "reply" in expected:
                        if isinstance(result, Exception):
                            raise result
                        self.assertEqual(result, result_of(expected["reply"]))
                        if pieces is not None:
                            self.assertEqual(joined(pieces), result.content)
                        if "trace" in expected:  # corvane-sim's last two lines: session, response
                            traced = Path(case["options"]["env"]["CORVANE_SIM_TRACE"]).read_bytes()
                            for line, want in zip(traced.splitlines()[-2:], expected["trace"]):
                                self.assertEqual({k: json.loads(line)[k] for k in want}, want)
                        continue
                    self.check_error(expected, result)

    def check_error(self, case, error):
        self.assertIsInstance(error, ERRORS.get(case["error"]) or getattr(c, case["error"]))
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
                if mode == "blocking":
                    for read in STREAMS.values():
                        self.check_error({"error": error.__name__, "code": code,
                                          "reasonCode": reason_code, "message": text},
                                         read({"stream": {"messages": []}}, executable=replies,
                                              env=env)[1])
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


def stop_blocking(case, options, request):
    pieces = []
    try:
        if case["stop"] == "break":
            for piece in c.stream(request, **options):  # nothing else holds the stream
                pieces.append(piece)
                if len(pieces) == case["after"]:
                    break
            return pieces, None
        answer = c.stream(request, **options)
        for piece in answer:
            pieces.append(piece)
            if len(pieces) == case["after"] and case["stop"] == "abort":
                answer.close()
        return pieces, None
    except c.ProcessError as error:
        return pieces, error


async def stop_async(case, options, request):
    pieces = []
    if case["stop"] == "break":
        async with c.stream_async(request, **options) as answer:
            async for piece in answer:
                pieces.append(piece)
                if len(pieces) == case["after"]:
                    break
        with unittest.TestCase().assertRaises(RuntimeError):
            answer.answer
        return pieces, None

    async def read():
        async for piece in c.stream_async(request, **options):
            pieces.append(piece)
    task = asyncio.ensure_future(read())
    while case["stop"] == "abort" and len(pieces) < case["after"] and not task.done():
        await asyncio.sleep(0.01)
    if case["stop"] == "abort":
        task.cancel()
    try:
        await task
    except (c.ProcessError, asyncio.CancelledError) as error:
        return pieces, error
    return pieces, None


class StreamStopTest(unittest.TestCase):
    def test_a_stream_left_mid_answer_leaves_no_process(self):
        runs = {"blocking": stop_blocking,
                "asyncio": lambda *arguments: asyncio.run(stop_async(*arguments))}
        for (mode, run), case in ((r, case) for r in runs.items() for case in DATA["cases"]
                                  if "stop" in case):
            with self.subTest(mode=mode, case=case["name"]):
                pid_file = Path(case["options"]["executable"] + ".pid")
                if pid_file.exists():
                    pid_file.unlink()
                options = {**case["options"], **({"timeout": 1} if case["stop"] == "timeout" else {})}
                start = time.monotonic()
                pieces, error = run(case, options, revive(case["stream"]))
                if case["stop"] == "timeout":
                    self.assertGreaterEqual(len(pieces), case["after"])
                    self.assertEqual(getattr(error, "kind", None), "timeout", error)
                else:
                    self.assertEqual(len(pieces), case["after"])
                    cancelled = mode == "asyncio" and case["stop"] == "abort"
                    self.assertIsInstance(error, asyncio.CancelledError if cancelled else type(None))
                # /proc lists a process until it has been reaped.
                pid = int(pid_file.read_text())
                self.assertFalse(Path(f"/proc/{pid}").exists(), f"process {pid} outlived the stream")
                self.assertLess(time.monotonic() - start, 2.5)
