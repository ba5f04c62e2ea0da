"""Every kind of reply the program prints, produced by running the built executables through the
cases of the process tests, must match exactly one of the three reply schemas; and the request
schema must accept exactly the requests the program's decoder accepts.

Validation uses Debian's python3-jsonschema (draft 2020-12). The executables are $CORVANE_SIM and
$CORVANE, by default build/corvane-sim and build/corvane."""

import json
import math
import os
import subprocess
import unittest
from pathlib import Path

from jsonschema import Draft202012Validator

ROOT = Path(__file__).resolve().parents[2]
SIM = os.environ.get("CORVANE_SIM", str(ROOT / "build/corvane-sim"))
CORVANE = os.environ.get("CORVANE", str(ROOT / "build/corvane"))


def load_schemas():
    names = ["availability-reply", "chat-answer", "error-reply", "chat-request"]
    loaded = {n: json.loads((ROOT / f"schema/{n}.schema.json").read_text("utf-8")) for n in names}
    for schema in loaded.values():
        Draft202012Validator.check_schema(schema)
    # The schemas refer to each other by file name, relative to their $id. Debian 12's jsonschema
    # (4.10) resolves through a RefResolver store; later versions through a `referencing` registry.
    try:
        from referencing import Registry, Resource
    except ImportError:
        from jsonschema import RefResolver
        store = {schema["$id"]: schema for schema in loaded.values()}
        return {n: Draft202012Validator(s, resolver=RefResolver.from_schema(s, store=store))
                for n, s in loaded.items()}
    registry = Registry().with_resources(
        (schema["$id"], Resource.from_contents(schema)) for schema in loaded.values())
    return {n: Draft202012Validator(s, registry=registry) for n, s in loaded.items()}


VALIDATORS = load_schemas()

SHAPES = {"availability": "availability-reply", "answer": "chat-answer", "error": "error-reply"}


def parse_json(text):
    """Parses like the program's decoder sees numbers: one that overflows a double is no number."""
    def number(literal):
        value = float(literal)
        return value if math.isfinite(value) else {"overflowing number": literal}
    return json.loads(text, parse_float=number, parse_int=lambda literal: (
        int(literal) if math.isfinite(float(literal)) else {"overflowing number": literal}))


def run(binary, args=(), stdin_bytes=b"", env=None, stdin=None, shell=None):
    environment = {b"PATH": os.environb.get(b"PATH", b"/usr/bin:/bin")}
    environment.update({k.encode(): (v if isinstance(v, bytes) else v.encode())
                        for k, v in (env or {}).items()})
    command = ["/bin/sh", "-c", shell, binary] if shell else [binary, *args]
    result = subprocess.run(command, input=None if stdin is not None else stdin_bytes,
                            stdin=stdin, capture_output=True, env=environment, timeout=60)
    return result.returncode, result.stdout.decode("utf-8"), result.stderr


HELLO = json.dumps({"messages": [{"role": "user", "content": "Hello"}]})


def chat(text, env=None):
    return {"args": ["chat"], "stdin_bytes": text.encode(), "env": env or {}}


MALFORMED = ["not json", "\n", "   ", "{", "[]", '{"messages":null}', "{} x", '{"messages":"x"}']

# (name, executable, run options, expected shape, expected exit status)
REPLY_CASES = [
    ("available", SIM, {}, "availability", 0),
    ("production build here", CORVANE, {"args": ["availability"]}, "availability", 0),
    ("old system", SIM, {"env": {"CORVANE_SIM_OS_VERSION": "15.6"}}, "availability", 0),
    *[(state, SIM, {"env": {"CORVANE_SIM_AVAILABILITY": state}}, "availability", 0)
      for state in ["deviceNotEligible", "appleIntelligenceNotEnabled", "modelNotReady",
                    "someFutureReason"]],
    ("unknown command", SIM, {"args": ["Chat"]}, "error", 1),
    ("empty command word", CORVANE, {"args": [""]}, "error", 1),
    ("command word with escapes", SIM, {"args": ['a/b "q" \\ \t\n']}, "error", 1),
    ("command word not UTF-8", SIM, {"args": [b"bad\xff\xc3"]}, "error", 1),
    ("command word not ASCII", SIM, {"args": ["café 😀"]}, "error", 1),
    ("zero bytes", SIM, chat(""), "error", 1),
    *[case for text in MALFORMED for case in [
        (f"malformed {text!r}", SIM, chat(text), "error", 1),
        (f"malformed {text!r} on an old system", SIM,
         chat(text, {"CORVANE_SIM_OS_VERSION": "14"}), "error", 1),
        (f"malformed {text!r} in production", CORVANE, chat(text), "error", 1)]],
    ("old system", SIM, chat(HELLO, {"CORVANE_SIM_OS_VERSION": "15.5"}), "error", 1),
    ("gate before content", SIM,
     chat('{"messages":[]}', {"CORVANE_SIM_AVAILABILITY": "modelNotReady"}), "error", 1),
    ("unavailable model", SIM, chat(HELLO, {"CORVANE_SIM_AVAILABILITY": "modelNotReady"}),
     "error", 1),
    ("production build refuses", CORVANE, chat(HELLO), "error", 1),
    ("no user content", SIM, chat('{"messages":[{"role":"system","content":"Be brief."}]}'),
     "error", 1),
    ("stdin a directory", SIM, {"args": ["chat"], "stdin": "directory"}, "error", 1),
    ("stdin closed", SIM, {"shell": 'exec "$0" chat <&-'}, "error", 1),
    ("echoed prompt", SIM, chat(HELLO), "answer", 0),
    ("with every option", SIM, chat(
        '{"instructions":"Be brief.","messages":[{"role":"system","content":"Use \\/ units"},'
        '{"role":"user","content":"Hello"}],"temperature":-1e-7,"maxTokens":600}'), "answer", 0),
    ("empty answer", SIM, chat(HELLO, {"CORVANE_SIM_RESPONSE": ""}), "answer", 0),
    ("answer with escapes", SIM,
     chat(HELLO, {"CORVANE_SIM_RESPONSE": 'line 1\nline "2"\ta/b 👍🏽 \\'}), "answer", 0),
    ("slow answer", SIM, chat(HELLO, {"CORVANE_SIM_DELAY_MS": "100", "CORVANE_SIM_RESPONSE": "ok"}),
     "answer", 0),
    ("generation error", SIM, chat(HELLO, {"CORVANE_SIM_ERROR": "context window exceeded"}),
     "error", 0),
    ("generation error without text", SIM, chat(HELLO, {"CORVANE_SIM_ERROR": ""}), "error", 0),
    ("answer not UTF-8", SIM, chat(HELLO, {"CORVANE_SIM_RESPONSE": b"bad \xff"}), "error", 0),
]

NEAR_MISSES = [
    ("availability", {"available": False}),
    ("availability", {"available": True,
                      "reason": "Apple Intelligence is turned off. Enable it in System Settings."}),
    ("availability", {"available": False, "reason": "Some new reason."}),
    ("availability", {"available": "true"}),
    ("answer", {"content": "x"}),
    ("answer", {"content": "x", "finishReason": "length"}),
    ("answer", {"content": None, "finishReason": "stop"}),
    ("answer", {"content": "x", "finishReason": "stop", "error": "y"}),
    ("error", {"error": ""}),
    ("error", {"error": "something went wrong"}),
    ("error", {"error": "invalid chat request JSON: "}),
    ("error", {"error": "unknown command: x"}),
    ("error", {"error": "failed to encode response", "content": ""}),
]

REQUESTS = [
    '{"messages":[{"role":"user","content":"Hi"}]}',
    '{"messages":[]}',
    '{"messages":[{"role":"x"}]}',
    '{"messages":[{"role":"user","content":null,"name":"a"}],"extra":[1,{}]}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":null,"maxTokens":null,'
    '"instructions":null}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":-1e-7,'
    '"maxTokens":-9223372036854775807,"instructions":""}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":9223372036854775807}',
    '{"messages":null,"messages":[{"role":"user","content":"Hi"}]}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":"x","temperature":1}',
    "{}", "[]", '"messages"', "null", '{"messages":null}', '{"messages":{}}', '{"messages":[1]}',
    '{"messages":[{}]}', '{"messages":[{"role":null}]}', '{"messages":[{"role":1,"content":"Hi"}]}',
    '{"messages":[{"role":"user","content":5}]}',
    '{"messages":[{"role":"user","content":["Hi"]}]}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":"0.5"}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":true}',
    '{"messages":[{"role":"user","content":"Hi"}],"temperature":1e999}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":2.5}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":"300"}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":-9223372036854777856}',
    '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":9223372036854775808}',
    '{"messages":[{"role":"user","content":"Hi"}],"instructions":["a"]}',
    '{"messages":[{"role":"user","content":"Hi"}],"messages":null}',
]


class SchemaTest(unittest.TestCase):
    def test_every_reply_matches_exactly_its_own_schema(self):
        for name, binary, options, shape, status in REPLY_CASES:
            with self.subTest(name):
                options = dict(options)
                directory = None
                if options.get("stdin") == "directory":
                    directory = os.open(ROOT, os.O_RDONLY)
                    options["stdin"] = directory
                try:
                    code, out, err = run(binary, **options)
                finally:
                    if directory is not None:
                        os.close(directory)
                self.assertEqual(code, status, out)
                self.assertEqual(err, b"")
                self.assertRegex(out, r"\A[^\n]*\n\Z")
                reply = json.loads(out)
                for other, schema in SHAPES.items():
                    self.assertEqual(VALIDATORS[schema].is_valid(reply), other == shape,
                                     f"{out.strip()} against {schema}")

    def test_reply_schemas_refuse_near_misses(self):
        for shape, reply in NEAR_MISSES:
            with self.subTest(reply=reply):
                self.assertFalse(VALIDATORS[SHAPES[shape]].is_valid(reply))

    # The decoder is the authority: the schema must agree with it on every request here. Decoded
    # requests are the ones that reach the model (status 0) or are refused for lack of user content.
    def test_request_schema_accepts_what_the_decoder_accepts(self):
        for text in REQUESTS:
            with self.subTest(text):
                code, out, _ = run(SIM, **chat(text, {"CORVANE_SIM_RESPONSE": "ok"}))
                decoded = code == 0 or "no user content in chat request" in out
                self.assertEqual(VALIDATORS["chat-request"].is_valid(parse_json(text)), decoded, out)

    # What a schema cannot tell from a parsed value: how a number was written.
    def test_request_schema_cannot_see_how_max_tokens_was_written(self):
        for literal in ["2.0", "1e3"]:
            with self.subTest(literal):
                text = '{"messages":[{"role":"user","content":"Hi"}],"maxTokens":%s}' % literal
                self.assertEqual(run(SIM, **chat(text))[0], 1)
                self.assertTrue(VALIDATORS["chat-request"].is_valid(parse_json(text)))


if __name__ == "__main__":
    unittest.main()
