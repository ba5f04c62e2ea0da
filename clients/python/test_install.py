"""The package as an application gets it: pip installs clients/python into a fresh virtual
environment (fetching only the build backend), and the installed copy answers a chat through
corvane-sim, blocking and with asyncio."""

import json
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SIM = Path(os.environ.get("CORVANE_SIM", ROOT / "build" / "corvane-sim")).resolve()

CALLS = """
import asyncio, json, pathlib, corvane_client as c
request = {"messages": [{"role": "user", "content": "Hi"}]}
print(json.dumps({
    "chat": c.chat(request).content,
    "chat_async": asyncio.run(c.chat_async(request)).content,
    "module": c.__file__,
    "typed": (pathlib.Path(c.__file__).parent / "py.typed").is_file(),
}))
"""


class InstallTest(unittest.TestCase):
    def test_pip_installs_the_package_into_a_fresh_virtual_environment(self):
        with tempfile.TemporaryDirectory(prefix="corvane-python-install-") as scratch:
            venv = Path(scratch) / "venv"
            subprocess.run([sys.executable, "-m", "venv", venv], check=True,
                           stdout=subprocess.DEVNULL)
            python = venv / "bin" / "python"
            pip = subprocess.run(
                [python, "-m", "pip", "install", "--quiet", "--no-input",
                 "--disable-pip-version-check", ROOT / "clients" / "python"],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            self.assertEqual(pip.returncode, 0, pip.stdout)
            # Run from the scratch directory with a bare environment, so only the installed copy
            # can be imported.
            env = {"PATH": os.environ.get("PATH", ""), "CORVANE_EXECUTABLE": str(SIM),
                   "CORVANE_SIM_RESPONSE": "Hello from the package"}
            printed = subprocess.run([python, "-c", CALLS], cwd=scratch, env=env, check=True,
                                     stdout=subprocess.PIPE, text=True).stdout
            result = json.loads(printed)
            self.assertEqual(result["chat"], "Hello from the package")
            self.assertEqual(result["chat_async"], "Hello from the package")
            self.assertTrue(Path(result["module"]).is_relative_to(venv), result["module"])
            self.assertTrue(result["typed"])


if __name__ == "__main__":
    unittest.main()
