"""The replies the built executables print for the cases of data/cases.json (which says how they
read) match exactly one reply schema each, and the request schema accepts exactly the requests the
decoder takes. Each check is the plain call an application makes, jsonschema.validate(value,
schema), with one schema file and nothing else: no registry, no resolver, no network. Validation
uses Debian's python3-jsonschema; executables: $CORVANE_SIM, $CORVANE."""

import json
import math
import re
import os
import subprocess
import unittest
from pathlib import Path

import jsonschema

ROOT = Path(__file__).resolve().parents[2]
EXE = {"sim": os.environ.get("CORVANE_SIM", str(ROOT / "build/corvane-sim")),
       "corvane": os.environ.get("CORVANE", str(ROOT / "build/corvane"))}
DATA = json.loads((ROOT / "schema/test/data/cases.json").read_text("utf-8"))
SHAPES = {"availability": "availability-reply", "answer": "chat-answer", "error": "error-reply",
          "piece": "stream-piece"}
SCHEMAS = {n: json.loads((ROOT / f"schema/{n}.schema.json").read_text("utf-8"))
           for n in [*SHAPES.values(), "chat-request"]}
STDIN = {"closed": lambda: os.close(0),
         "a directory": lambda: os.dup2(os.open("/", os.O_RDONLY), 0)}


def valid(value, name):
    try:
        jsonschema.validate(value, SCHEMAS[name])
    except jsonschema.ValidationError:
        return False
    return True


def parse(text):
    """Parses as the program's decoder sees numbers: one that overflows a double is no number."""
    return json.loads(text, parse_float=lambda s: float(s) if math.isfinite(float(s)) else {s: 0})


def run(case):
    def encode(text):  # a lone surrogate stands for a byte that is not UTF-8
        return text.encode("utf-8", "surrogateescape")
    result = subprocess.run(
        [EXE[case.get("exe", "sim")], *map(encode, case.get("args", []))],
        input=None if "stdin is" in case else encode(case.get("stdin", "")),
        preexec_fn=STDIN.get(case.get("stdin is")), capture_output=True, timeout=60,
        env={encode(k): encode(v) for k, v in case.get("env", {}).items()})
    return result.returncode, result.stdout.decode("utf-8"), result.stderr


class SchemaTest(unittest.TestCase):
    def test_every_reply_matches_exactly_its_own_schema(self):
        for name, schema in SCHEMAS.items():
            jsonschema.Draft202012Validator.check_schema(schema)
            # Only references within the file itself: a plain validator resolves nothing else.
            refs = re.findall(r'"\$ref": "([^"]*)"', json.dumps(schema))
            self.assertEqual([r for r in refs if not r.startswith("#")], [], name)
        for case in DATA["replies"]:
            with self.subTest(case["name"]):
                code, out, err = run(case)
                self.assertEqual((code, err), (case["status"], b""), out)
                self.assertRegex(out, r"\A[^\n]*\n\Z")
                for shape, schema in SHAPES.items():
                    self.assertEqual(valid(json.loads(out), schema),
                                     shape == case["shape"], f"{out.strip()} against {schema}")

    def test_stream_lines_match_exactly_their_own_schemas(self):
        for case in DATA["streams"]:
            with self.subTest(case["name"]):
                code, out, err = run({**case, "args": ["stream"]})
                self.assertEqual((code, err), (0, b""), out)
                lines = out.split("\n")
                self.assertEqual(lines.pop(), "")
                self.assertGreater(len(lines), 1, out)
                for number, line in enumerate(lines):
                    expected = case["last"] if number == len(lines) - 1 else "piece"
                    for shape, schema in SHAPES.items():
                        self.assertEqual(valid(json.loads(line), schema), shape == expected,
                                         f"{line} against {schema}")

    def test_reply_schemas_take_new_members_and_refuse_near_misses(self):
        for group, accepted in [("new members", True), ("near misses", False)]:
            for shape, replies in DATA[group].items():
                for reply in replies:
                    with self.subTest(group, reply=reply):
                        self.assertEqual(valid(reply, SHAPES[shape]), accepted)
        # The error schema repeats the availability reasons, so that it stands alone.
        self.assertIn(SCHEMAS["availability-reply"]["$defs"]["reason"]["enum"],
                      [a.get("enum") for a in SCHEMAS["error-reply"]["properties"]["error"]["anyOf"]])

    # The decoder is the authority: the schema agrees with it but for what it cannot see, how a
    # number was written.
    def test_request_schema_accepts_what_the_decoder_accepts(self):
        for group, texts in DATA["requests"].items():
            for text in texts:
                with self.subTest(text):
                    code, out, _ = run({"args": ["chat"], "stdin": text,
                                        "env": {"CORVANE_SIM_RESPONSE": "ok"}})
                    decoded = code == 0 or "no user content in chat request" in out
                    schema = valid(parse(text), "chat-request")
                    self.assertEqual((decoded, schema),
                                     (group == "both accept", group != "both refuse"), out)
