"""Calls the corvane executable from Python: one process per call, the request on standard input,
one JSON line back. Standard library only; Python 3.8 or later."""

from __future__ import annotations

import json
import os
import subprocess
from dataclasses import dataclass
from typing import Any, Mapping, Optional, Tuple, Union

__all__ = [
    "Availability",
    "ChatAnswer",
    "CorvaneError",
    "RefusalError",
    "GenerationError",
    "ProcessError",
    "availability",
    "chat",
]

DEFAULT_EXECUTABLE = "corvane"
DEFAULT_AVAILABILITY_TIMEOUT = 10.0
DEFAULT_CHAT_TIMEOUT = 120.0


@dataclass(frozen=True)
class Availability:
    """Whether the on-device model can be used; if not, `reason` says why, for the end user."""

    available: bool
    reason: Optional[str] = None


@dataclass(frozen=True)
class ChatAnswer:
    """The model's whole answer (possibly empty); `finish_reason` is "stop"."""

    content: str
    finish_reason: str


class CorvaneError(Exception):
    """Base class of every failure this module reports."""


class RefusalError(CorvaneError):
    """The program refused the request (exit status 1); `message` is its error text, unchanged."""

    status = 1

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class GenerationError(CorvaneError):
    """The request was run but the model gave no answer (exit status 0 with an error text)."""

    status = 0

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class ProcessError(CorvaneError):
    """The program could not be run or did not reply as it does. `kind` is "not-found",
    "spawn-failed", "timeout", "abnormal-exit" or "malformed-reply"; `status` is the exit status
    (negative: ended by that signal) and `output` standard output, where there were any."""

    def __init__(
        self,
        kind: str,
        message: str,
        status: Optional[int] = None,
        output: Optional[bytes] = None,
    ) -> None:
        super().__init__(message)
        self.kind = kind
        self.status = status
        self.output = output


def _run(
    command: str,
    data: bytes,
    executable: Union[str, os.PathLike],
    timeout: Optional[float],
    env: Optional[Mapping[str, str]],
) -> Tuple[int, dict, bytes]:
    what = f"{os.fspath(executable)} {command}"
    if timeout is not None and timeout <= 0:
        timeout = None
    try:
        completed = subprocess.run(
            [executable, command],
            input=data,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            timeout=timeout,
            env=env,
        )
    except FileNotFoundError as error:
        raise ProcessError("not-found", f"{what}: executable not found") from error
    except subprocess.TimeoutExpired as expired:
        raise ProcessError(
            "timeout", f"{what}: no reply within {timeout:g} s", output=expired.stdout
        ) from None
    except OSError as error:
        raise ProcessError("spawn-failed", f"{what}: could not start ({error})") from error

    status, output = completed.returncode, completed.stdout
    if status not in (0, 1):
        how = f"ended by signal {-status}" if status < 0 else f"exited with status {status}"
        raise ProcessError("abnormal-exit", f"{what}: {how}", status, output)
    reply = _parse_reply_line(output)
    if reply is None:
        raise ProcessError(
            "malformed-reply", f"{what}: output is not one JSON object line", status, output
        )
    return status, reply, output


def _parse_reply_line(output: bytes) -> Optional[dict]:
    """The reply object if `output` is exactly one line of UTF-8 JSON holding an object."""
    if not output.endswith(b"\n") or output.count(b"\n") != 1:
        return None
    try:
        value = json.loads(output.decode("utf-8"))
    except ValueError:  # UnicodeDecodeError and JSONDecodeError both
        return None
    return value if isinstance(value, dict) else None


def _error_of(status: int, reply: dict, generates: bool) -> Optional[CorvaneError]:
    message = reply.get("error")
    if not isinstance(message, str):
        return None
    if status == 1:
        return RefusalError(message)
    return GenerationError(message) if generates else None


def _malformed(command: str, status: int, output: bytes) -> ProcessError:
    text = output.decode("utf-8", "replace").strip()
    return ProcessError("malformed-reply", f"{command}: unexpected reply {text}", status, output)


def availability(
    *,
    executable: Union[str, os.PathLike] = DEFAULT_EXECUTABLE,
    timeout: Optional[float] = DEFAULT_AVAILABILITY_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> Availability:
    """Whether the on-device model can be used, and if not, why (in words for the end user).

    `timeout` is in seconds; None or 0: no limit. `env` replaces the environment when given."""
    status, reply, output = _run("availability", b"", executable, timeout, env)
    available, reason = reply.get("available"), reply.get("reason")
    if status == 0 and available is True:
        return Availability(True)
    if status == 0 and available is False and isinstance(reason, str):
        return Availability(False, reason)
    raise _error_of(status, reply, False) or _malformed("availability", status, output)


def chat(
    request: Union[Mapping[str, Any], str, bytes],
    *,
    executable: Union[str, os.PathLike] = DEFAULT_EXECUTABLE,
    timeout: Optional[float] = DEFAULT_CHAT_TIMEOUT,
    env: Optional[Mapping[str, str]] = None,
) -> ChatAnswer:
    """Sends one chat request and returns the model's whole answer.

    Raises RefusalError, GenerationError or ProcessError. A str or bytes request is sent as it is;
    anything else is written as JSON (NaN and infinities raise ValueError)."""
    if isinstance(request, bytes):
        data = request
    elif isinstance(request, str):
        data = request.encode("utf-8")
    else:
        data = json.dumps(request, ensure_ascii=False, allow_nan=False).encode("utf-8")
    status, reply, output = _run("chat", data, executable, timeout, env)
    content, finish_reason = reply.get("content"), reply.get("finishReason")
    if status == 0 and isinstance(content, str) and isinstance(finish_reason, str):
        return ChatAnswer(content, finish_reason)
    raise _error_of(status, reply, True) or _malformed("chat", status, output)
