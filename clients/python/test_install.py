"""pip installs the package's source with no index (its build backend needs nothing); python -m
build makes an sdist and, from it, a wheel whose metadata twine check --strict accepts (licence,
readme, URLs, the version the program and the Node package carry too); pip installs the wheel into
a fresh virtual environment with no index; each installed copy answers a chat through corvane-sim,
blocking and with asyncio. build and twine come from the virtual environment that
scripts/test-clients.sh names in $CORVANE_CLIENT_TOOLS."""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile
from email.parser import Parser
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
TOOLS = os.environ.get("CORVANE_CLIENT_TOOLS")
CALLS = """import asyncio, pathlib, sys, corvane_client as c
r, here = {"messages": [{"role": "user", "content": "Hi"}]}, pathlib.Path(c.__file__).parent
print(c.chat(r).content, asyncio.run(c.chat_async(r)).content, here.is_relative_to(sys.prefix),
      (here / "py.typed").is_file())"""


# From a scratch folder with a bare environment: only the installed copy imports.
SIM_ENV = {"PATH": os.environ["PATH"], "CORVANE_SIM_RESPONSE": "Hi", "CORVANE_EXECUTABLE": str(
    Path(os.environ.get("CORVANE_SIM", ROOT / "build/corvane-sim")).resolve())}


def fresh_venv(scratch):
    run(sys.executable, "-m", "venv", f"{scratch}/venv")
    return f"{scratch}/venv/bin/python"


def run(*args, **options):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **options)
    assert done.returncode == 0, f"{args} failed:\n{done.stdout}"
    return done.stdout


class InstallTest(unittest.TestCase):
    def test_the_licence_and_version_are_those_of_the_program(self):
        for copy in [HERE / "LICENSE", ROOT / "clients/node/LICENSE"]:
            self.assertEqual(copy.read_text(), (ROOT / "LICENSE").read_text(), copy)
        cmake = (ROOT / "CMakeLists.txt").read_text()
        program = re.search(r"project\(corvane VERSION (\S+)", cmake)
        node = json.loads((ROOT / "clients/node/package.json").read_text())["version"]
        python = re.search(r'^VERSION = "(.*)"', (HERE / "build_backend/corvane_build.py")
                           .read_text(), re.M)
        self.assertEqual((python[1], node), (program[1], program[1]))

    def test_the_source_installs_with_no_index(self):
        # As the README says, from the repository's root; the backend needs nothing from an index.
        with tempfile.TemporaryDirectory(prefix="corvane-python-source-") as scratch:
            python = fresh_venv(scratch)
            run(python, "-m", "pip", "install", "-q", "--no-input", "--no-index",
                "--disable-pip-version-check", "./clients/python", cwd=ROOT)
            self.assertEqual(run(python, "-c", CALLS, cwd=scratch, env=SIM_ENV), "Hi Hi True True\n")

    @unittest.skipUnless(TOOLS, "build and twine are set up by scripts/test-clients.sh")
    def test_the_packages_pass_twine_and_the_wheel_installs_offline(self):
        with tempfile.TemporaryDirectory(prefix="corvane-python-install-") as scratch:
            dist = Path(scratch, "dist")
            run(f"{TOOLS}/python", "-m", "build", "--outdir", dist, HERE)
            wheel, = dist.glob("*.whl")
            sdist, = dist.glob("*.tar.gz")
            run(f"{TOOLS}/twine", "check", "--strict", wheel, sdist)
            with zipfile.ZipFile(wheel) as archive:
                names = archive.namelist()
                info = Parser().parsestr(archive.read(next(n for n in names if n.endswith(
                    ".dist-info/METADATA"))).decode())
            self.assertIn("corvane_client/py.typed", names)
            self.assertTrue(any(n.endswith(".dist-info/licenses/LICENSE") for n in names), names)
            self.assertEqual((info["License-Expression"], info["Description-Content-Type"]),
                             ("MIT", "text/markdown"))
            self.assertIn("# corvane-client", info.get_payload())
            self.assertEqual({u.split(",")[0] for u in info.get_all("Project-URL")},
                             {"Homepage", "Documentation", "Source", "Issues"})

            python = fresh_venv(scratch)
            run(python, "-m", "pip", "install", "-q", "--no-input", "--no-index",
                "--disable-pip-version-check", wheel)
            self.assertEqual(run(python, "-c", CALLS, cwd=scratch, env=SIM_ENV), "Hi Hi True True\n")
