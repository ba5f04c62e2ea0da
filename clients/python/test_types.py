"""mypy --strict accepts the package, its build backend and a typed use of the package, and refuses
typed uses that misspell the request or its messages, pass a wrong type or compare with a kind or
code that does not exist. mypy comes from the virtual environment that scripts/test-clients.sh
sets up and names in $CORVANE_CLIENT_TOOLS (its bin directory)."""

import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOOLS = os.environ.get("CORVANE_CLIENT_TOOLS")
EXAMPLE = """\
import asyncio
from pathlib import Path
from typing import Callable, List, Optional

import corvane_client as c

history: List[c.ChatMessage] = [{"role": "system", "content": "Be brief."},
                                {"role": "user", "content": None}, {"role": "tool"}]
request: c.ChatRequest = {"messages": history, "temperature": 1, "maxTokens": None}
answer: c.ChatAnswer = c.chat(request, executable=Path("corvane-sim"), timeout=None)
text: str = answer.content + c.chat('{"messages": []}').finish_reason + c.chat(b"{}").content
reason: Optional[str] = c.availability(env={"PATH": "/usr/bin"}).reason


async def ask(role: c.Role) -> str:
    reply = await c.chat_async({"messages": [{"role": role, "content": "Hi"}], "instructions": ""})
    return reply.content


def kind_of(error: c.CorvaneError) -> c.ProcessErrorKind:
    return error.kind if isinstance(error, c.ProcessError) else "not-found"


def retry_later(error: c.CorvaneError) -> bool:
    reason: Optional[c.UnavailableReason] = getattr(error, "reason_code", None)
    return error.code == "generationFailed" or reason == "modelNotReady"


def window(show: Callable[[str], None]) -> c.ChatAnswer:
    text = ""
    with c.stream({"messages": [{"role": "user", "content": "Hi"}]}, timeout=60) as answer:
        for piece in answer:
            text = piece.text if piece.kind == "replace" else text + piece.text
            show(text)
    return answer.answer


async def window_async() -> str:
    pieces: List[c.StreamPiece] = []
    async with c.stream_async("{}", executable="corvane-sim") as answer:
        async for piece in answer:
            pieces.append(piece)
    return answer.answer.content + str(len(pieces))


def mistakes(error: c.ProcessError) -> None:
"""
# Lines put into mistakes() above, each with the error code of mypy's complaint about it.
MISTAKES = [
    ('c.chat({"mesages": []})', "arg-type"),
    ('c.chat({"messages": [{"role": "asistant", "content": "Hi"}]})', "arg-type"),
    ('c.chat({"messages": [{"content": "Hi"}]})', "arg-type"),
    ('c.chat({"messages": [], "temperature": "0.2"})', "arg-type"),
    ('c.chat({"messages": [], "maxTokens": 1.5})', "arg-type"),
    ('c.chat({"messages": []}, timeout="60")', "arg-type"),
    ('print(error.kind == "not_found")', "comparison-overlap"),
    ('print(error.code == "timeout")', "comparison-overlap"),
    ('print(c.RefusalError("x").reason_code == "notReady")', "comparison-overlap"),
    ('print(c.availability().reason_code == "os-too-old")', "comparison-overlap"),
    ('print([p.kind == "append" for p in c.stream({"messages": []})])', "comparison-overlap"),
    ('print(c.stream({"messages": []}).answer.finishReason)', "attr-defined"),
    ('print(c.stream({"messages": []}, timeout="60"))', "arg-type"),
    ('print([p for p in c.stream_async({"messages": []})])', "attr-defined"),
]


@unittest.skipUnless(TOOLS, "mypy is set up by scripts/test-clients.sh")
class TypesTest(unittest.TestCase):
    def test_mypy_strict_takes_typed_uses_and_refuses_mistakes(self):
        with tempfile.TemporaryDirectory(prefix="corvane-python-types-") as scratch:
            example = Path(scratch, "example.py")
            first = EXAMPLE.count("\n") + 1  # the line of the first mistake
            example.write_text(EXAMPLE + "".join(f"    {line}\n" for line, _ in MISTAKES))
            checked = subprocess.run(
                [f"{TOOLS}/mypy", "--strict", "--no-error-summary", "--show-error-codes",
                 "--cache-dir", f"{TOOLS}/../mypy-cache", "corvane_client",
                 "build_backend/corvane_build.py", str(example)],
                cwd=HERE, capture_output=True, text=True)
        complaints = {}
        for match in re.finditer(r"^(\S+?):(\d+): error: (.*)$", checked.stdout, re.M):
            self.assertEqual(Path(match[1]).name, "example.py", match[0])
            complaints.setdefault(int(match[2]) - first, []).append(match[3])
        self.assertTrue(all(0 <= line < len(MISTAKES) for line in complaints), checked.stdout)
        for number, (line, code) in enumerate(MISTAKES):
            with self.subTest(line):
                self.assertTrue(any(c.endswith(f"[{code}]") for c in complaints.get(number, [])),
                                checked.stdout)
