"""Calls the corvane executable from Python: one process per call, the request on standard input,
one JSON line back. Standard library only; Python 3.8 or later.

availability() and chat() block until the program has answered; availability_async() and
chat_async() are their asyncio counterparts. stream() and stream_async() hand out the answer as it
is written, piece by piece."""

from __future__ import annotations

import asyncio
import errno
import json
import math
import os
import re
import selectors
import subprocess
import time
from dataclasses import dataclass
from types import TracebackType
from typing import (
    Any, AsyncGenerator, AsyncIterator, Dict, Generator, Iterator, List, Literal, Mapping,
    Optional, Sequence, Set, Tuple, Type, TypedDict, Union
)

StrPath = Union[str, "os.PathLike[str]"]
_Reply = Dict[str, Any]

__all__ = [
    "Availability",
    "AsyncChatStream",
    "ChatAnswer",
    "ChatStream",
    "ChatMessage",
    "ChatRequest",
    "Role",
    "StreamPiece",
    "ErrorCode",
    "UnavailableReason",
    "ProcessErrorKind",
    "CorvaneError",
    "RefusalError",
    "GenerationError",
    "ProcessError",
    "availability",
    "availability_async",
    "chat",
    "chat_async",
    "stream",
    "stream_async",
]

DEFAULT_EXECUTABLE = "corvane"
EXECUTABLE_VARIABLE = "CORVANE_EXECUTABLE"
DEFAULT_AVAILABILITY_TIMEOUT = 10.0
DEFAULT_CHAT_TIMEOUT = 120.0
# The longest time limit a call keeps: that of the Node client, whose timers take at most
# 2^31 - 1 ms (and subprocess's waits overflow far beyond it). A longer limit is this one.
_LONGEST_TIME_LIMIT = (2**31 - 1) / 1000

Role = Literal["system", "user", "assistant", "tool"]
"""The roles the program tells apart. It reads any other text as "user"; a request that needs one
is sent as a str (or built as a dict and cast) rather than typed as ChatRequest."""


class _ChatMessageRole(TypedDict):
    role: Role


class ChatMessage(_ChatMessageRole, total=False):
    """One message of the conversation. `content` absent, None or blank once trimmed: the message
    is left out. Other keys are sent along and ignored by the program."""

    content: Optional[str]


class _ChatRequestMessages(TypedDict):
    messages: Sequence[ChatMessage]


class ChatRequest(_ChatRequestMessages, total=False):
    """The chat request, as docs/protocol.md describes it: the conversation oldest first; the
    temperature (absent or None: 0.35); the response token limit (absent or None: 256, otherwise
    clamped to 32..512); instructions put before the system messages' content."""

    temperature: Optional[float]
    maxTokens: Optional[int]
    instructions: Optional[str]


ProcessErrorKind = Literal[
    "not-found", "spawn-failed", "timeout", "abnormal-exit", "malformed-reply"
]

ErrorCode = Literal["unavailable", "badRequest", "generationFailed", "processFailed"]
"""What a failure means to the application: "unavailable", the model cannot be used
(`reason_code` says why); "badRequest", the request is refused as it is, so sending it again
fails again; "generationFailed", the request was valid but no answer came, so trying again may
work; "processFailed", the program did not reply (ProcessError, `kind` says why)."""

UnavailableReason = Literal[
    "osTooOld", "deviceNotEligible", "appleIntelligenceNotEnabled", "modelNotReady", "other"
]
"""Why the model cannot be used: macOS older than 26, a device that is not eligible, Apple
Intelligence turned off, the model not ready yet (downloading), any other reason. A reason text
the client does not know (from a later version of the program) is "other"."""

# The availability reasons the program gives, each with its code. The list is closed for a
# version of the program; a reason it does not hold is "other", as the program itself reports
# every reason it has no sentence for.
_UNAVAILABLE_REASONS: Dict[str, UnavailableReason] = {
    "Requires macOS 26 or later with Apple Intelligence.": "osTooOld",
    "This device is not eligible for Apple Intelligence.": "deviceNotEligible",
    "Apple Intelligence is turned off. Enable it in System Settings.":
        "appleIntelligenceNotEnabled",
    "The on-device model is downloading or not ready yet. Try again shortly.": "modelNotReady",
    "Apple Intelligence is unavailable on this device.": "other",
}
# The one refusal of a valid request: the system had no thread for the generation, which may
# have one next time.
_WORKER_FAILURE = "could not start the generation worker: "


@dataclass(frozen=True)
class Availability:
    """Whether the on-device model can be used; if not, `reason` says why, for the end user, and
    `reason_code` as a code."""

    available: bool
    reason: Optional[str] = None
    reason_code: Optional[UnavailableReason] = None


@dataclass(frozen=True)
class ChatAnswer:
    """The model's whole answer (possibly empty); `finish_reason` is "stop"."""

    content: str
    finish_reason: str


@dataclass(frozen=True)
class StreamPiece:
    """A piece of an answer being written: "delta", the answer so far goes on with `text`;
    "replace", the answer so far is `text` instead (the model revised what it had written; start
    over from it)."""

    kind: Literal["delta", "replace"]
    text: str


class CorvaneError(Exception):
    """Base class of every failure this module reports; `code` says what the application can
    do about it."""

    code: ErrorCode


class RefusalError(CorvaneError):
    """The program refused the request (exit status 1); `message` is its error text, unchanged.
    `code` is derived from the text: an availability reason is "unavailable", with its
    `reason_code`; the system refusing the generation's thread is "generationFailed"; every other
    text, one the client does not know included, is "badRequest"."""

    status = 1
    code: Literal["unavailable", "badRequest", "generationFailed"]

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message
        self.reason_code: Optional[UnavailableReason] = _UNAVAILABLE_REASONS.get(message)
        self.code = ("unavailable" if self.reason_code
                     else "generationFailed" if message.startswith(_WORKER_FAILURE)
                     else "badRequest")


class GenerationError(CorvaneError):
    """The request was run but the model gave no answer (exit status 0 with an error text)."""

    status = 0
    code: Literal["generationFailed"] = "generationFailed"

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class ProcessError(CorvaneError):
    """The program could not be run or did not reply as it does. `kind` is "not-found",
    "spawn-failed", "timeout", "abnormal-exit" or "malformed-reply"; `status` is the exit status
    (negative: ended by that signal) and `output` standard output, where there were any."""

    code: Literal["processFailed"] = "processFailed"

    def __init__(
        self,
        kind: ProcessErrorKind,
        message: str,
        status: Optional[int] = None,
        output: Optional[bytes] = None,
    ) -> None:
        super().__init__(message)
        self.kind = kind
        self.status = status
        self.output = output


def _locate(
    executable: Optional[StrPath], env: Optional[Mapping[str, str]]
) -> Tuple[str, str]:
    """The executable to start: `executable`, else CORVANE_EXECUTABLE, else "corvane", read from
    the environment the program will run with. A value holding a slash is a path; a bare name is
    looked up in the directories of PATH. Returns the path and words that say where it came from;
    raises ProcessError "not-found" when no directory of PATH has it."""
    environ = os.environ if env is None else env
    name = "" if executable is None else os.fsdecode(executable)
    origin: Optional[str] = "given as executable"
    if not name and environ.get(EXECUTABLE_VARIABLE):
        name, origin = environ[EXECUTABLE_VARIABLE], f"from {EXECUTABLE_VARIABLE}"
    elif not name:
        name, origin = DEFAULT_EXECUTABLE, None
    if os.sep in name or (os.altsep and os.altsep in name):
        if not os.path.isabs(name):
            origin = f"{origin}; taken from the current directory {os.getcwd()}"
        return name, f"{name} ({origin})"
    search = environ.get("PATH", "")
    for directory in filter(None, search.split(os.pathsep)):
        candidate = os.path.abspath(os.path.join(directory, name))
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate, f"{candidate} (found in PATH)"
    hint = (f" ({origin})" if origin
            else f"; pass its path as executable or set {EXECUTABLE_VARIABLE}")
    inherited = os.environ.get(EXECUTABLE_VARIABLE)
    if origin is None and env is not None and inherited:
        hint += (f"; the env given has no {EXECUTABLE_VARIABLE}, though this process's own"
                 f" environment sets it to {inherited}")
    raise ProcessError("not-found", f'corvane executable not found: no "{name}" in PATH'
                                    f" ({search or 'empty'}){hint}")


_LIMIT_EXPECTED = "expected a positive number, or 0 or infinity for no limit"


def _time_limit(timeout: Optional[float]) -> Optional[float]:
    """The time limit of a call in seconds, None for none: None, 0 and infinity are none, a
    positive number is kept (up to the longest one). Anything else raises, in the Node client's
    words, so that a mistyped limit never passes as no limit."""
    if timeout is None:
        return None
    if not isinstance(timeout, (int, float)) or isinstance(timeout, bool):
        found = ("a boolean" if isinstance(timeout, bool) else "a string"
                 if isinstance(timeout, (str, bytes)) else "an array"
                 if isinstance(timeout, (list, tuple)) else "an object"
                 if isinstance(timeout, dict) else f"a {type(timeout).__name__}")
        raise TypeError(f"invalid time limit: {found} ({_LIMIT_EXPECTED})")
    if timeout < 0 or (isinstance(timeout, float) and math.isnan(timeout)):
        raise ValueError(f"invalid time limit: {_js_number(timeout)} ({_LIMIT_EXPECTED})")
    if timeout == 0 or timeout == math.inf:
        return None
    return float(min(timeout, _LONGEST_TIME_LIMIT))  # exact for an int of any size


def _js_number(value: float) -> str:
    """The number as JavaScript writes it (the Node client's messages name numbers so)."""
    if isinstance(value, int):
        return str(value)
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "Infinity" if value > 0 else "-Infinity"
    if value.is_integer() and abs(value) < 1e21:
        return str(int(value))
    return repr(value)


def _start_failure(error: OSError, path: str, where: str, command: str) -> ProcessError:
    """The error of a start that failed: "not-found" when there is no such file; "spawn-failed"
    when there is one that cannot be started (not executable, not a program, or a script whose
    interpreter is missing, which the system reports as a missing file too)."""
    if isinstance(error, FileNotFoundError) and not os.path.exists(path):
        return ProcessError("not-found", f"corvane executable not found: {where}")
    code = errno.errorcode.get(error.errno or 0, type(error).__name__)
    message = f"{path} {command}: could not start ({code})"
    if isinstance(error, FileNotFoundError):
        interpreter = _interpreter_of(path)
        message += (f": the file exists, but not its interpreter {interpreter}" if interpreter
                    else ": the file exists, but not the interpreter or loader it needs")
    return ProcessError("spawn-failed", message)


def _interpreter_of(path: str) -> Optional[str]:
    """The program named on the file's "#!" line, if it has one."""
    try:
        with open(path, "rb") as file:
            head = file.read(256)
    except OSError:
        return None
    words = head[2:].split(b"\n")[0].split() if head.startswith(b"#!") else []
    return os.fsdecode(words[0]) if words else None


def _reply(what: str, status: int, output: bytes) -> Tuple[int, _Reply, bytes]:
    """The exit status, the reply object and the output of a run that ended by itself; raises
    ProcessError when that is not a reply."""
    if status not in (0, 1):
        how = f"ended by signal {-status}" if status < 0 else f"exited with status {status}"
        raise ProcessError("abnormal-exit", f"{what}: {how}", status, output)
    reply = _parse_reply_line(output)
    if reply is None:
        raise ProcessError(
            "malformed-reply", f"{what}: output is not one JSON object line", status, output
        )
    return status, reply, output


def _run(
    command: str,
    data: bytes,
    executable: Optional[StrPath],
    timeout: Optional[float],
    env: Optional[Mapping[str, str]],
) -> Tuple[int, _Reply, bytes]:
    timeout = _time_limit(timeout)
    path, where = _locate(executable, env)
    what = f"{path} {command}"
    try:
        # On a time-out or any exception (KeyboardInterrupt too) run() kills the process and
        # waits for it before raising.
        completed = subprocess.run(
            [path, command],
            input=data,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            timeout=timeout,
            env=env,
        )
    except subprocess.TimeoutExpired as expired:
        raise ProcessError(
            "timeout", f"{what}: no reply within {timeout:g} s", output=expired.stdout
        ) from None
    except OSError as error:
        raise _start_failure(error, path, where, command) from error
    return _reply(what, completed.returncode, completed.stdout)


async def _run_async(
    command: str,
    data: bytes,
    executable: Optional[StrPath],
    timeout: Optional[float],
    env: Optional[Mapping[str, str]],
) -> Tuple[int, _Reply, bytes]:
    timeout = _time_limit(timeout)
    path, where = _locate(executable, env)
    what = f"{path} {command}"
    try:
        process = await asyncio.create_subprocess_exec(
            path,
            command,
            stdin=asyncio.subprocess.PIPE,
            stdout=asyncio.subprocess.PIPE,
            stderr=asyncio.subprocess.DEVNULL,
            env=env,
        )
    except OSError as error:
        raise _start_failure(error, path, where, command) from error
    try:
        output, _ = await asyncio.wait_for(process.communicate(data), timeout)
    except asyncio.TimeoutError:
        await _kill(process)
        raise ProcessError("timeout", f"{what}: no reply within {timeout:g} s") from None
    except BaseException:
        # Cancelled (or interrupted): the process must not outlive the call.
        await _kill(process)
        raise
    assert process.returncode is not None  # communicate() returns once the process has exited
    return _reply(what, process.returncode, output)


async def _kill(process: "asyncio.subprocess.Process") -> None:
    """Kills the process and waits until it has been reaped."""
    if process.returncode is None:
        try:
            process.kill()
        except ProcessLookupError:  # ended meanwhile; wait() still reaps it
            pass
    await process.wait()


def _parse_reply_line(output: bytes) -> Optional[_Reply]:
    """The reply object if `output` is exactly one line of UTF-8 JSON holding an object."""
    if not output.endswith(b"\n") or output.count(b"\n") != 1:
        return None
    try:
        value = json.loads(output.decode("utf-8"))
    except ValueError:  # UnicodeDecodeError and JSONDecodeError both
        return None
    return value if isinstance(value, dict) else None


def _error_of(status: int, reply: _Reply, generates: bool) -> Optional[CorvaneError]:
    message = reply.get("error")
    if not isinstance(message, str):
        return None
    if status == 1:
        return RefusalError(message)
    return GenerationError(message) if generates else None


def _malformed(command: str, status: int, output: bytes) -> ProcessError:
    text = output.decode("utf-8", "replace").strip()
    return ProcessError("malformed-reply", f"{command}: unexpected reply {text}", status, output)


_LONE_SURROGATE = re.compile("[\ud800-\udfff]")


def _refusal(problem: str) -> ValueError:
    return ValueError(f"invalid chat request: {problem}")


def _check_text(text: str, where: str) -> None:
    found = _LONE_SURROGATE.search(text)
    if found:
        raise _refusal(f"{where} holds a lone surrogate (U+{ord(found.group()):04X}),"
                       " which UTF-8 cannot encode")


def _check_request(request: object) -> None:
    """Raises ValueError when JSON in UTF-8 cannot carry `request` exactly: a number that is not
    finite, a text holding a lone surrogate, a dict or list that holds itself. It names the first
    such value in the order of the text, with the words and path the Node client uses. The walk
    keeps its own stack, so no depth the encoder takes is refused here."""
    enclosing: Set[int] = set()  # the dicts and lists that hold the value looked at
    pending: List[Tuple[str, Any, str]] = [("value", request, "")]
    while pending:
        step, value, path = pending.pop()
        where = path or "the request"
        if step == "leave":
            enclosing.discard(id(value))
        elif step == "key":
            _check_text(value, f"a key of {where}")
        elif isinstance(value, float) and not math.isfinite(value):
            number = "NaN" if math.isnan(value) else "Infinity" if value > 0 else "-Infinity"
            raise _refusal(f"{where} is {number}, which JSON cannot write")
        elif isinstance(value, str):
            _check_text(value, where)
        elif isinstance(value, (dict, list, tuple)):
            if id(value) in enclosing:
                raise _refusal(f"{where} holds a value that encloses it, which JSON cannot write")
            enclosing.add(id(value))
            pending.append(("leave", value, path))
            if isinstance(value, dict):
                for key, item in reversed(list(value.items())):
                    pending.append(("value", item, f"{path}.{key}" if path else str(key)))
                    if isinstance(key, str):
                        pending.append(("key", key, path))
            else:
                pending.extend(("value", item, f"{path}[{i}]")
                               for i, item in reversed(list(enumerate(value))))


def _encode(request: Union[ChatRequest, str, bytes]) -> bytes:
    if isinstance(request, bytes):
        return request
    try:
        if isinstance(request, str):
            return request.encode("utf-8")
        return json.dumps(request, ensure_ascii=False, allow_nan=False).encode("utf-8")
    except (ValueError, TypeError, RecursionError):
        # Only a request the encoder refuses is walked again, to name what JSON in UTF-8 cannot
        # carry in the Node client's words; anything else the encoder refused is raised as it was.
        _check_request(request)
        raise


def _availability_of(status: int, reply: _Reply, output: bytes) -> Availability:
    available, reason = reply.get("available"), reply.get("reason")
    if status == 0 and available is True:
        return Availability(True)
    if status == 0 and available is False and isinstance(reason, str):
        return Availability(False, reason, _UNAVAILABLE_REASONS.get(reason, "other"))
    raise _error_of(status, reply, False) or _malformed("availability", status, output)


def _answer_of(status: int, reply: _Reply, output: bytes) -> ChatAnswer:
    content, finish_reason = reply.get("content"), reply.get("finishReason")
    if status == 0 and isinstance(content, str) and isinstance(finish_reason, str):
        return ChatAnswer(content, finish_reason)
    raise _error_of(status, reply, True) or _malformed("chat", status, output)


def availability(
    *,
    executable: Optional[StrPath] = None,
    timeout: Optional[float] = DEFAULT_AVAILABILITY_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> Availability:
    """Whether the on-device model can be used, and if not, why (in words for the end user).

    `executable` is a path, or a name looked up in PATH; when None, CORVANE_EXECUTABLE, else
    "corvane". `timeout` is in seconds; None, 0 or math.inf: no limit; any other value that is
    not a positive number raises ValueError or TypeError before any process starts. `env` replaces the environment when
    given; CORVANE_EXECUTABLE and PATH are read from it."""
    return _availability_of(*_run("availability", b"", executable, timeout, env))


def chat(
    request: Union[ChatRequest, str, bytes],
    *,
    executable: Optional[StrPath] = None,
    timeout: Optional[float] = DEFAULT_CHAT_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> ChatAnswer:
    """Sends one chat request and returns the model's whole answer.

    Raises RefusalError, GenerationError or ProcessError. A str or bytes request is sent as it is;
    anything else is written as JSON. Before any process starts, a request that JSON in UTF-8
    cannot carry exactly (a NaN or infinite number, a lone surrogate, a dict or list that holds
    itself) raises ValueError, as the Node client refuses it. The other arguments are those of
    availability()."""
    return _answer_of(*_run("chat", _encode(request), executable, timeout, env))


async def availability_async(
    *,
    executable: Optional[StrPath] = None,
    timeout: Optional[float] = DEFAULT_AVAILABILITY_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> Availability:
    """availability() for asyncio: the event loop runs on while the program does. Cancelling the
    task kills the process and waits for it before the cancellation goes on."""
    return _availability_of(*await _run_async("availability", b"", executable, timeout, env))


async def chat_async(
    request: Union[ChatRequest, str, bytes],
    *,
    executable: Optional[StrPath] = None,
    timeout: Optional[float] = DEFAULT_CHAT_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> ChatAnswer:
    """chat() for asyncio: the event loop runs on while the program does. Cancelling the task
    kills the process and waits for it before the cancellation goes on."""
    return _answer_of(*await _run_async("chat", _encode(request), executable, timeout, env))


# Members that mark a line as the last one (a reply); a piece holds none of them.
_REPLY_MEMBERS = ("content", "finishReason", "available", "error")


class _StreamReader:
    """Reads the output of `corvane stream` as it arrives: feed() returns the pieces of the whole
    lines it completes; the last line is kept for finish(). The first line that is not valid (not
    UTF-8 JSON holding an object, a line after the last one) ends the reading: nothing after it is
    handed out, and finish() reports it."""

    def __init__(self, path: str, where: str) -> None:
        self.what, self.where = f"{path} stream", where
        self.output = bytearray()
        self._pending = bytearray()
        self._text = ""  # the answer so far, as the pieces make it
        self._pieces = 0
        self._last: Optional[_Reply] = None
        self._problem: Optional[str] = None

    def feed(self, chunk: bytes) -> List[StreamPiece]:
        self.output += chunk
        if self._problem:
            return []
        self._pending += chunk
        pieces, start = [], 0
        end = self._pending.find(b"\n")
        while end >= 0 and not self._problem:
            piece = self._line(bytes(self._pending[start:end]))
            if piece:
                pieces.append(piece)
            start, end = end + 1, self._pending.find(b"\n", end + 1)
        del self._pending[:start]
        return pieces

    def _line(self, line: bytes) -> Optional[StreamPiece]:
        try:
            value = json.loads(line.decode("utf-8"))
        except ValueError:  # UnicodeDecodeError and JSONDecodeError both
            value = None
        if not isinstance(value, dict):
            self._problem = "a line is not a JSON object in UTF-8"
            return None
        if self._last is not None:
            self._problem = "a line follows the last one"
            return None
        is_reply = any(member in value for member in _REPLY_MEMBERS)
        delta, replace = value.get("delta"), value.get("replace")
        if not is_reply and isinstance(delta, str) and "replace" not in value:
            self._text += delta
            self._pieces += 1
            return StreamPiece("delta", delta)
        if not is_reply and isinstance(replace, str) and "delta" not in value:
            self._text = replace
            self._pieces += 1
            return StreamPiece("replace", replace)
        self._last = value
        return None

    def finish(self, status: int) -> ChatAnswer:
        """The whole answer of a run that ended by itself with `status`, or the error it stands
        for. A refusal is a single line; an answer's pieces must add up to its content."""
        output = bytes(self.output)
        if status not in (0, 1):
            how = f"ended by signal {-status}" if status < 0 else f"exited with status {status}"
            raise ProcessError("abnormal-exit", f"{self.what}: {how}", status, output)
        problem = (self._problem
                   or (self._pending and "the output does not end with a line feed")
                   or (self._last is None and "the output ends before its last line")
                   or (status == 1 and self._pieces and "a refusal follows pieces of an answer"))
        if problem:
            raise ProcessError("malformed-reply", f"{self.what}: {problem}", status, output)
        reply = self._last
        assert reply is not None
        content, finish_reason = reply.get("content"), reply.get("finishReason")
        if status != 0 or not isinstance(content, str) or not isinstance(finish_reason, str):
            raise _error_of(status, reply, True) or _malformed("stream", status, output)
        if content != self._text:
            raise ProcessError("malformed-reply",
                               f"{self.what}: the pieces do not add up to the answer", status, output)
        return ChatAnswer(content, finish_reason)


def _stream_run(
    path: str, data: bytes, timeout: Optional[float], env: Optional[Mapping[str, str]],
    reader: _StreamReader,
) -> Generator[StreamPiece, None, ChatAnswer]:
    """Runs `path stream`, writing `data` to it while it reads its output, and yields each piece
    as soon as its line is whole. Whenever it ends (closed, interrupted or not) the process has
    ended and been reaped."""
    deadline = None if timeout is None else time.monotonic() + timeout

    def expired() -> ProcessError:
        return ProcessError("timeout", f"{reader.what}: no reply within {timeout:g} s",
                            output=bytes(reader.output))

    def time_left() -> Optional[float]:
        left = None if deadline is None else deadline - time.monotonic()
        if left is not None and left <= 0:
            raise expired()
        return left

    try:
        process = subprocess.Popen([path, "stream"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    except OSError as error:
        raise _start_failure(error, path, reader.where, "stream") from error
    stdin, stdout = process.stdin, process.stdout
    assert stdin is not None and stdout is not None
    try:
        with selectors.DefaultSelector() as selector:
            # The request is written as the program takes it, so that neither waits on the other.
            written, request = 0, memoryview(data)
            os.set_blocking(stdin.fileno(), False)
            selector.register(stdin, selectors.EVENT_WRITE)
            selector.register(stdout, selectors.EVENT_READ)
            while selector.get_map():
                for key, _ in selector.select(time_left()):
                    if key.fileobj is stdout:
                        chunk = os.read(key.fd, 65536)
                        if not chunk:
                            selector.unregister(stdout)
                        yield from reader.feed(chunk)
                        continue
                    try:
                        written += os.write(key.fd, request[written:written + 65536])
                    except BlockingIOError:
                        continue
                    except BrokenPipeError:
                        # The program ended without reading all of its input (an unknown
                        # command, say); the reply still tells what happened.
                        written = len(request)
                    if written == len(request):
                        selector.unregister(stdin)
                        stdin.close()
        try:
            status = process.wait(time_left())
        except subprocess.TimeoutExpired:
            raise expired() from None
    finally:
        if process.returncode is None:
            try:
                process.kill()
            except ProcessLookupError:  # ended meanwhile; wait() still reaps it
                pass
        process.wait()
        stdout.close()
        try:
            stdin.close()
        except BrokenPipeError:
            pass
    return reader.finish(status)


async def _stream_run_async(
    path: str, data: bytes, timeout: Optional[float], env: Optional[Mapping[str, str]],
    reader: _StreamReader, answer: List[ChatAnswer],
) -> AsyncGenerator[StreamPiece, None]:
    """_stream_run() for asyncio; the whole answer, once there, goes into `answer`."""
    loop = asyncio.get_running_loop()
    deadline = None if timeout is None else loop.time() + timeout

    def expired() -> ProcessError:
        return ProcessError("timeout", f"{reader.what}: no reply within {timeout:g} s",
                            output=bytes(reader.output))

    def time_left() -> Optional[float]:
        return None if deadline is None else max(0.0, deadline - loop.time())

    try:
        process = await asyncio.create_subprocess_exec(
            path, "stream", stdin=asyncio.subprocess.PIPE, stdout=asyncio.subprocess.PIPE,
            stderr=asyncio.subprocess.DEVNULL, env=env)
    except OSError as error:
        raise _start_failure(error, path, reader.where, "stream") from error
    assert process.stdout is not None
    writing = asyncio.ensure_future(_write(process, data))
    try:
        while True:
            try:
                chunk = await asyncio.wait_for(process.stdout.read(65536), time_left())
            except asyncio.TimeoutError:
                raise expired() from None
            if not chunk:
                break
            for piece in reader.feed(chunk):
                yield piece
        try:
            status = await asyncio.wait_for(process.wait(), time_left())
        except asyncio.TimeoutError:
            raise expired() from None
        answer.append(reader.finish(status))
    finally:
        # Closed, cancelled or failed: the process must not outlive the stream.
        writing.cancel()
        await _kill(process)


async def _write(process: "asyncio.subprocess.Process", data: bytes) -> None:
    assert process.stdin is not None
    try:
        process.stdin.write(data)
        await process.stdin.drain()
        process.stdin.close()
    except (BrokenPipeError, ConnectionResetError):
        pass  # the program ended without reading all of its input; its reply still tells


_NOT_ENDED = "the stream has not ended: read it to its end before asking for the answer"


class ChatStream(Iterator[StreamPiece]):
    """The answer of stream() as it is written: iterate it for the pieces, each handed out as soon
    as the program writes it; after the loop, `answer` is the whole answer. The loop raises what
    chat() raises. close() (or leaving a `with` block, or dropping the last reference) kills the
    process if it still runs and waits for it."""

    def __init__(self, pieces: Generator[StreamPiece, None, ChatAnswer]) -> None:
        self._pieces = pieces
        self._answer: Optional[ChatAnswer] = None

    def __iter__(self) -> "ChatStream":
        return self

    def __next__(self) -> StreamPiece:
        try:
            return next(self._pieces)
        except StopIteration as end:
            self._answer = end.value or self._answer
            raise StopIteration from None

    @property
    def answer(self) -> ChatAnswer:
        """The whole answer, equal to the pieces joined (starting over at each "replace").
        RuntimeError before the stream has ended, or when it ended with an error or was closed."""
        if self._answer is None:
            raise RuntimeError(_NOT_ENDED)
        return self._answer

    def close(self) -> None:
        """Kills the process if it still runs and waits until it has ended."""
        self._pieces.close()

    def __enter__(self) -> "ChatStream":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()


class AsyncChatStream(AsyncIterator[StreamPiece]):
    """ChatStream for asyncio: iterate it with `async for`; after the loop, `answer` is the whole
    answer. Cancelling the task that reads it, `await aclose()` or leaving an `async with` block
    kills the process and waits for it."""

    def __init__(self, path: str, data: bytes, timeout: Optional[float],
                 env: Optional[Mapping[str, str]], reader: _StreamReader) -> None:
        self._answer: List[ChatAnswer] = []
        self._pieces = _stream_run_async(path, data, timeout, env, reader, self._answer)

    def __aiter__(self) -> "AsyncChatStream":
        return self

    async def __anext__(self) -> StreamPiece:
        return await self._pieces.__anext__()

    @property
    def answer(self) -> ChatAnswer:
        """As ChatStream.answer."""
        if not self._answer:
            raise RuntimeError(_NOT_ENDED)
        return self._answer[0]

    async def aclose(self) -> None:
        """Kills the process if it still runs and waits until it has ended."""
        await self._pieces.aclose()

    async def __aenter__(self) -> "AsyncChatStream":
        return self

    async def __aexit__(self, kind: Optional[Type[BaseException]],
                        error: Optional[BaseException],
                        traceback: Optional[TracebackType]) -> None:
        await self.aclose()


def _stream_arguments(
    request: Union[ChatRequest, str, bytes], executable: Optional[StrPath],
    timeout: Optional[float], env: Optional[Mapping[str, str]],
) -> Tuple[str, bytes, Optional[float], _StreamReader]:
    data = _encode(request)  # checked first, as chat() does
    timeout = _time_limit(timeout)
    path, where = _locate(executable, env)
    return path, data, timeout, _StreamReader(path, where)


def stream(
    request: Union[ChatRequest, str, bytes],
    *,
    executable: Optional[StrPath] = None,
    timeout: Optional[float] = DEFAULT_CHAT_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> ChatStream:
    """Sends one chat request and hands out the answer as it is written:

        with stream(request) as reply:
            for piece in reply:    # StreamPiece("delta" or "replace", text)
                ...
        reply.answer               # ChatAnswer, the pieces joined

    The process starts with the loop. What chat() raises before any process starts (a bad
    request or time limit, an executable not found) is raised here at once; everything else by
    the loop, as chat() raises it (a GenerationError possibly after some pieces), and pieces that
    do not add up to the answer are a ProcessError "malformed-reply". `timeout` is for the whole
    run. The arguments are those of chat()."""
    path, data, limit, reader = _stream_arguments(request, executable, timeout, env)
    return ChatStream(_stream_run(path, data, limit, env, reader))


def stream_async(
    request: Union[ChatRequest, str, bytes],
    *,
    executable: Optional[StrPath] = None,
    timeout: Optional[float] = DEFAULT_CHAT_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> AsyncChatStream:
    """stream() for asyncio, read with `async for` (the event loop runs on between pieces).
    Cancelling the task kills the process and waits for it before the cancellation goes on."""
    path, data, limit, reader = _stream_arguments(request, executable, timeout, env)
    return AsyncChatStream(path, data, limit, env, reader)
