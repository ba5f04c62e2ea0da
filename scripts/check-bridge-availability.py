#!/usr/bin/env python3
"""Fails when the macOS bridge uses FoundationModels where the system may not have it.

The framework exists from macOS 26 on and the program runs from macOS 14, so every use of it must
sit behind `#available` or in code marked `@available`. Swift enforces that only when it compiles
for an Apple system: on Linux the stand-in framework's `@available(macOS ...)` means nothing.
Swift here has a standard library for one Apple target, iOS (the embedded one), so the bridge, its
version test and the stand-in framework are type-checked for iOS, with every `macOS` in their
availability read as `iOS` (the SDK gives the framework the same versions on both) and the
deployment target at the iOS counterpart of the program's macOS minimum
(CMAKE_OSX_DEPLOYMENT_TARGET in CMakeLists.txt): iOS 17 for macOS 14, which came out together and
share the standard library's availability. What the bridge takes from Foundation and Swift's
concurrency library, which that library lacks, comes from
platform/apple/standin/availability_check_support.swift, with the system's availability.

It is checked against the stand-in in the shape of the 26 SDK and of the 27 SDK, and against the
27 SDK with the deployment target at 27 too, where the 27 SDK's deprecations become warnings (all
warnings are errors, but for those about what embedded Swift cannot compile, which do not apply).

Then the check tries itself: each way of breaking the bridge below must fail it, so that a check
which has stopped seeing anything cannot pass unnoticed; among them is code the SDK refuses, which
the stand-in must refuse as well.

Usage: check-bridge-availability.py [SWIFTC]
"""
import os
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
APPLE = ROOT / "platform" / "apple"
BRIDGE = "foundation_models_bridge.swift"
SOURCES = {
    BRIDGE: APPLE / BRIDGE,
    "os_version.swift": APPLE / "os_version.swift",
    "FoundationModels.swift": APPLE / "standin" / "FoundationModels.swift",
}
SUPPORT = APPLE / "standin" / "availability_check_support.swift"

ATTRIBUTE = re.compile(r"(@available|#available|#unavailable|@backDeployed)\(([^)]*)\)")
UNAVAILABLE = "is only available in iOS 26.0 or newer"
DEPRECATED = "was deprecated in iOS 27.0"

# Ways of breaking the bridge, each a change of its text, and what the check must then say: uses of
# the framework outside their availability or deprecated by the 27 SDK, and code the SDK refuses,
# so that a stand-in grown looser than the SDK fails the check too.
def replacing(*pairs):
    return ("replace", pairs)


def appending(code):
    return ("append", code)


GUARD_OF_GENERATE = "  guard #available(macOS 26.0, *) else { return refused }\n"
OPTIONS = "    temperature: temperature, maximumResponseTokens: Int(maximumResponseTokens))\n"
BREAKAGES = {
    "the guard in corvane_fm_availability removed": (
        replacing(
            ("  guard #available(macOS 26.0, *) else { return CORVANE_FM_OTHER_REASON }\n", "")),
        UNAVAILABLE,
    ),
    "the @available of generateResponse removed": (
        replacing(("@available(macOS 26.0, *)\nprivate func generateResponse",
                   "private func generateResponse")),
        UNAVAILABLE,
    ),
    "the guard of corvane_fm_generate moved below GenerationOptions(...)": (
        replacing((GUARD_OF_GENERATE, ""), (OPTIONS, OPTIONS + GUARD_OF_GENERATE)),
        UNAVAILABLE,
    ),
    "the sampling mode spelled out as nil": (
        replacing(("GenerationOptions(\n    temperature:",
                   "GenerationOptions(\n    sampling: nil, temperature:")),
        DEPRECATED,
    ),
    "a response sent out of its task (Response is not Sendable)": (
        appending("""
@available(macOS 26.0, *)
func sendsResponse(_ session: LanguageModelSession) {
  Task.detached { try? await session.respond(to: "Hello") }
}
"""),
        "Sendable",
    ),
    "a response of a type that is not Generable": (
        appending("""
@available(macOS 26.0, *)
func takesResponse(_ response: LanguageModelSession.Response<Int>) {}
"""),
        "Generable",
    ),
}


def broken(bridge, change):
    """The bridge's text with a breakage applied, or None when the text to change is gone."""
    kind, what = change
    if kind == "append":
        return bridge + what
    for old, new in what:
        if old not in bridge:
            return None
        bridge = bridge.replace(old, new, 1)
    return bridge


def macos_minimum():
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"set\(CMAKE_OSX_DEPLOYMENT_TARGET ([0-9]+)\.([0-9]+)\)", text)
    if not match:
        sys.exit("check-bridge-availability: no CMAKE_OSX_DEPLOYMENT_TARGET in CMakeLists.txt")
    return int(match.group(1)), int(match.group(2))


def ios_counterpart(major, minor):
    """The iOS released with macOS major.minor: 11 to 15 are iOS 14 to 18; from 26 on they agree."""
    if 11 <= major <= 15:
        return f"{major + 3}.{minor}"
    if major >= 26:
        return f"{major}.{minor}"
    sys.exit(f"check-bridge-availability: no iOS counterpart known for macOS {major}.{minor}")


def as_ios(text):
    """The source without its imports of Foundation and FoundationModels (the check compiles all
    as one module, with the support file for Foundation), macOS read as iOS in availability."""
    text = re.sub(r"^import (Foundation|FoundationModels)\n", "", text, flags=re.MULTILINE)
    def rename(match):
        return match.group(1) + "(" + re.sub(r"\bmacOS\b", "iOS", match.group(2)) + ")"
    return ATTRIBUTE.sub(rename, text)


def typecheck(swiftc, work, sources, ios, sdk27):
    """Type-checks the sources for iOS `ios`; returns the compiler's diagnostics, or None."""
    folder = pathlib.Path(tempfile.mkdtemp(dir=work))
    files = [SUPPORT]
    for name, text in sources.items():
        path = folder / name
        path.write_text(as_ios(text))
        files.append(path)
    command = [
        swiftc, "-typecheck", "-target", f"arm64-apple-ios{ios}",
        # The embedded library is built for a later iOS than the counterpart of macOS 14; being
        # read for availability only, it serves an earlier target as well.
        "-Xfrontend", "-disable-target-os-checking",
        "-enable-experimental-feature", "Embedded", "-wmo", "-parse-as-library",
        "-swift-version", "6", "-warnings-as-errors", "-Wwarning", "EmbeddedRestrictions",
        # The C headers are read without a system's headers: stdint.h and stddef.h are clang's own.
        "-Xcc", "-ffreestanding", "-module-cache-path", str(pathlib.Path(work) / "module-cache"),
        "-module-name", "CorvaneBridgeCheck",
        "-I", str(APPLE), "-I", str(APPLE / "standin" / "standin_model"),
    ]
    if sdk27:
        command += ["-D", "CORVANE_STANDIN_SDK_27"]
    # The compiler driver leaves a folder of its own behind in the temporary directory at every
    # run: it goes into the check's folder, which is removed at the end.
    result = subprocess.run(command + [str(f) for f in files], capture_output=True, text=True,
                            env=dict(os.environ, TMPDIR=str(work)))
    # The copies' folder is named nowhere else: the files keep their own names in what is shown.
    if result.returncode == 0:
        return None
    return (result.stdout + result.stderr).replace(f"{folder}/", "")


def checks(minimum):
    """The configurations: (what, iOS deployment target, the 27 SDK's shape)."""
    return [
        ("the 26 SDK", minimum, False),
        ("the 27 SDK", minimum, True),
        ("the 27 SDK, deploying to 27", "27.0", True),
    ]


def main():
    swiftc = sys.argv[1] if len(sys.argv) > 1 else "swiftc"
    macos = ".".join(map(str, macos_minimum()))
    minimum = ios_counterpart(*macos_minimum())
    sources = {name: path.read_text() for name, path in SOURCES.items()}
    failed = False
    with tempfile.TemporaryDirectory() as work:
        for what, ios, sdk27 in checks(minimum):
            errors = typecheck(swiftc, work, sources, ios, sdk27)
            if errors is not None:
                print(f"the bridge against {what} (iOS {ios} for macOS {macos}):")
                print(errors)
                failed = True
        if failed:
            return 1
        for breakage, (change, expected) in BREAKAGES.items():
            bridge = broken(sources[BRIDGE], change)
            if bridge is None:
                print(f"self-test: the bridge no longer has the text to try '{breakage}' with")
                return 1
            trial = dict(sources, **{BRIDGE: bridge})
            outputs = [typecheck(swiftc, work, trial, ios, sdk27)
                       for _, ios, sdk27 in checks(minimum)]
            found = [line for output in outputs if output for line in output.splitlines()
                     if expected in line and ": error: " in line]
            if not found:
                print(f"self-test: the check passed the bridge with {breakage} "
                      f"(expected '{expected}')")
                return 1
            print(f"with {breakage}: {found[0]}")
    print(f"the bridge type-checks for iOS {minimum} (macOS {macos}) "
          f"against the 26 and 27 SDKs' shapes; each of {len(BREAKAGES)} breakages fails it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
