"""The build backend of corvane-client (PEP 517 and PEP 660), in the standard library alone.

A backend from PyPI (flit_core, setuptools) would have to be downloaded before pip could build
the package, so a copy taken from the Debian package, the archive or a clone could not be
installed where there is no index. This one sits beside the package (pyproject.toml names it with
backend-path and requires nothing): the package is one folder of Python files, and a wheel of it
is a zip file with three files of metadata. The metadata is here, in the form it is written in."""

import base64
import hashlib
import io
import os
import tarfile
import time
import zipfile
from pathlib import Path
from typing import Dict, List, Optional, Tuple

NAME = "corvane-client"
VERSION = "0.1.0"
PACKAGE = "corvane_client"
SOURCE = Path(__file__).resolve().parent.parent
DIST = f"{PACKAGE}-{VERSION}"

_HEADERS: List[Tuple[str, str]] = [
    ("Metadata-Version", "2.4"),
    ("Name", NAME),
    ("Version", VERSION),
    ("Summary", "Calls the corvane executable (the on-device language model) from Python"),
    ("Author", "the corvane developers"),
    ("License-Expression", "MIT"),
    ("License-File", "LICENSE"),
    ("Requires-Python", ">=3.8"),
    ("Keywords", "corvane,on-device,language-model,foundation-models"),
    ("Classifier", "Framework :: AsyncIO"),
    ("Classifier", "Operating System :: MacOS"),
    ("Classifier", "Operating System :: POSIX"),
    ("Classifier", "Programming Language :: Python :: 3"),
    ("Classifier", "Typing :: Typed"),
    # Placeholders: the maintainer puts the project's real addresses here before publishing.
    ("Project-URL", "Homepage, https://corvane.invalid/"),
    ("Project-URL", "Documentation, https://corvane.invalid/docs/protocol.md"),
    ("Project-URL", "Source, https://corvane.invalid/source"),
    ("Project-URL", "Issues, https://corvane.invalid/issues"),
    ("Description-Content-Type", "text/markdown"),
]
# What the sdist holds beside the package: all that a build from it needs.
_SDIST_FILES = ["pyproject.toml", "README.md", "LICENSE", "build_backend/corvane_build.py"]
# Archive members carry this time (or SOURCE_DATE_EPOCH's), so that a build can be reproduced.
_EPOCH = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))  # 1980-01-01, zip's earliest


def _metadata() -> bytes:
    headers = "".join(f"{key}: {value}\n" for key, value in _HEADERS)
    return f"{headers}\n{(SOURCE / 'README.md').read_text('utf-8')}".encode("utf-8")


def _package_files() -> List[str]:
    """The package's files, relative to the source folder, in a stable order."""
    return sorted(path.relative_to(SOURCE).as_posix() for path in (SOURCE / PACKAGE).rglob("*")
                  if path.is_file() and "__pycache__" not in path.parts)


def _write_wheel(directory: str, files: Dict[str, bytes]) -> str:
    """Writes a wheel holding `files` and its metadata into `directory`; returns its name."""
    info = f"{DIST}.dist-info"
    files = dict(files)
    files[f"{info}/METADATA"] = _metadata()
    files[f"{info}/licenses/LICENSE"] = (SOURCE / "LICENSE").read_bytes()
    files[f"{info}/WHEEL"] = (b"Wheel-Version: 1.0\nGenerator: corvane_build\n"
                              b"Root-Is-Purelib: true\nTag: py3-none-any\n")
    record = [f"{name},sha256={_digest(data)},{len(data)}" for name, data in files.items()]
    files[f"{info}/RECORD"] = "".join(f"{line}\n" for line in record + [f"{info}/RECORD,,"]).encode()
    name = f"{DIST}-py3-none-any.whl"
    with zipfile.ZipFile(Path(directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for member, data in files.items():
            entry = zipfile.ZipInfo(member, _zip_time())
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(entry, data)
    return name


def _digest(data: bytes) -> str:
    return base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def _zip_time() -> Tuple[int, int, int, int, int, int]:
    year, month, day, hour, minute, second = time.gmtime(max(_EPOCH, 315532800))[:6]
    return year, month, day, hour, minute, second


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, object]] = None,
                metadata_directory: Optional[str] = None) -> str:
    return _write_wheel(wheel_directory,
                        {name: (SOURCE / name).read_bytes() for name in _package_files()})


def build_editable(wheel_directory: str, config_settings: Optional[Dict[str, object]] = None,
                   metadata_directory: Optional[str] = None) -> str:
    # A path file puts the source folder on sys.path: the package is imported from where it is.
    return _write_wheel(wheel_directory, {f"{PACKAGE}.pth": f"{SOURCE}\n".encode()})


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, object]] = None) -> str:
    name = f"{DIST}.tar.gz"
    members = [(name, (SOURCE / name).read_bytes()) for name in _SDIST_FILES + _package_files()]
    members.append(("PKG-INFO", _metadata()))
    with tarfile.open(Path(sdist_directory, name), "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for member, data in sorted(members):
            entry = tarfile.TarInfo(f"{DIST}/{member}")
            entry.size, entry.mtime, entry.mode = len(data), _EPOCH, 0o644
            sdist.addfile(entry, io.BytesIO(data))
    return name
