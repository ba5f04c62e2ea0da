"""pip installs clients/python into a fresh virtual environment (fetching only the build backend),
and the installed copy answers a chat through corvane-sim, blocking and with asyncio."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CALLS = """import asyncio, pathlib, sys, corvane_client as c
r, here = {"messages": [{"role": "user", "content": "Hi"}]}, pathlib.Path(c.__file__).parent
print(c.chat(r).content, asyncio.run(c.chat_async(r)).content, here.is_relative_to(sys.prefix),
      (here / "py.typed").is_file())"""


class InstallTest(unittest.TestCase):
    def test_pip_installs_the_package_into_a_fresh_virtual_environment(self):
        with tempfile.TemporaryDirectory(prefix="corvane-python-install-") as scratch:
            subprocess.run([sys.executable, "-m", "venv", f"{scratch}/venv"], check=True)
            python = f"{scratch}/venv/bin/python"
            pip = subprocess.run([python, "-m", "pip", "install", "-q", "--no-input",
                                  "--disable-pip-version-check", ROOT / "clients/python"],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            self.assertEqual(pip.returncode, 0, pip.stdout)
            # From the scratch folder with a bare environment: only the installed copy imports.
            sim = Path(os.environ.get("CORVANE_SIM", ROOT / "build/corvane-sim")).resolve()
            env = {"PATH": os.environ["PATH"], "CORVANE_EXECUTABLE": str(sim),
                   "CORVANE_SIM_RESPONSE": "Hi"}
            printed = subprocess.run([python, "-c", CALLS], cwd=scratch, env=env, check=True,
                                     capture_output=True, text=True).stdout
            self.assertEqual(printed, "Hi Hi True True\n")
