#!/usr/bin/env python3
"""Fails when C or C++ code of the project uses a standard-library facility that Apple's libc++
ships only on a later macOS than the program's minimum (CMAKE_OSX_DEPLOYMENT_TARGET in
CMakeLists.txt). On a Mac such a use stops the build ("'X' is unavailable: introduced in macOS N");
on Linux nothing stops it, since upstream libc++ has no availability gates there.

Which facilities are gated from which macOS is read from libc++'s own availability header, the
Apple branch of it; the names through which code reaches each facility are the table below. A
facility the header gates that the table does not know fails the check too, so a newer libc++
cannot add a gate unnoticed. One gate is Apple's own and not in upstream's header: floating-point
std::from_chars, from macOS 26 in Xcode 26's libc++; upstream libc++ 19 declares it deleted, so the
libc++ build (scripts/test-libcxx.sh) refuses every use of it.

Usage: check-apple-gates.py [AVAILABILITY_HEADER]
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = "/usr/lib/llvm-19/include/c++/v1/__configuration/availability.h"
SOURCES = ("src", "platform", "tests", "fuzz", "bench")

# Facility gated after the deployment target (the header's _LIBCPP_AVAILABILITY_HAS_<name>) ->
# regular expressions of the names that reach it. An empty list says the gate never fails a build:
# libc++ then falls back by itself. A facility the header gates after the target and this table
# lacks fails the check, so a lower target or a newer libc++ asks for its names here.
NAMES = {
    "INIT_PRIMARY_EXCEPTION": [],  # make_exception_ptr falls back to throwing and catching
    "PRINT": [r"<print>", r"\bstd::v?print(ln)?\b", r"\bvprint_(non)?unicode\b"],
    "TZDB": [r"\b(get_tzdb|get_tzdb_list|reload_tzdb|remote_version|locate_zone|current_zone)\b",
             r"\b(tzdb|tzdb_list|time_zone|zoned_time|time_zone_link|leap_second)\b"],
    # Where libc++ keeps these exception types' vtables; not something code names.
    "BAD_FUNCTION_CALL_KEY_FUNCTION": [],
    "BAD_EXPECTED_ACCESS_KEY_FUNCTION": [],
}


def version(text):
    return tuple(int(part) for part in text.split("."))


def deployment_target():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"set\(CMAKE_OSX_DEPLOYMENT_TARGET ([0-9.]+)\)", cmake)
    if not match:
        sys.exit("check-apple-gates: no CMAKE_OSX_DEPLOYMENT_TARGET in CMakeLists.txt")
    return version(match.group(1))


def gated_facilities(header_text):
    """Facility -> the macOS version that ships it (None: unavailable on Apple systems at all)."""
    apple = header_text.split("#elif defined(__APPLE__)", 1)
    if len(apple) != 2:
        sys.exit("check-apple-gates: the header has no Apple branch; is it libc++'s availability.h?")
    apple = apple[1].split("\n#else", 1)[0].split("\n#endif", 1)[0]
    introduced = {}  # LLVM release -> the macOS that ships it, or another release's number
    for release, body in re.findall(
            r"#\s*define _LIBCPP_INTRODUCED_IN_LLVM_(\d+)_ATTRIBUTE\b(.*?)(?=\n#|\Z)", apple, re.S):
        if alias := re.search(r"_LIBCPP_INTRODUCED_IN_LLVM_(\d+)_ATTRIBUTE", body):
            introduced[release] = alias.group(1)
        elif "__attribute__((unavailable))" in body:
            introduced[release] = None
        elif macos := re.search(r"availability\(macos, strict, introduced = ([0-9.]+)\)", body):
            introduced[release] = version(macos.group(1))
        else:
            introduced[release] = (0,)  # gated on other Apple systems only

    def shipped(release):
        value = introduced[release]
        return shipped(value) if isinstance(value, str) else value

    facilities = {}
    for name, release in re.findall(
            r"#\s*define _LIBCPP_AVAILABILITY_HAS_(\w+) _LIBCPP_INTRODUCED_IN_LLVM_(\d+)\b",
            header_text):
        facilities[name] = shipped(release)
    return facilities


def code_lines(path):
    """The file's lines with comments and string literals blanked, so that prose never matches."""
    text = path.read_text(errors="replace")
    text = re.sub(r"/\*.*?\*/", lambda m: re.sub(r"[^\n]", " ", m.group(0)), text, flags=re.S)
    text = re.sub(r'"(\\.|[^"\\\n])*"', '""', text)
    return [re.sub(r"//.*", "", line) for line in text.split("\n")]


def main():
    header = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else HEADER)
    if not header.is_file():
        sys.exit(f"check-apple-gates: {header} is missing (Debian: libc++-19-dev)")
    target = deployment_target()
    target_text = ".".join(map(str, target))
    gated = {name: shipped for name, shipped in gated_facilities(header.read_text()).items()
             if shipped is None or shipped > target}
    unknown = sorted(set(gated) - set(NAMES))
    if unknown:
        sys.exit("check-apple-gates: libc++ gates facilities this check does not know: "
                 + ", ".join(unknown) + "; add the names that reach them to NAMES")

    found = 0
    for directory in SOURCES:
        for path in sorted((ROOT / directory).rglob("*")):
            if path.suffix not in (".c", ".cc", ".h") or not path.is_file():
                continue
            for number, line in enumerate(code_lines(path), 1):
                for facility, shipped in gated.items():
                    for pattern in NAMES[facility]:
                        if re.search(pattern, line):
                            since = ("on no Apple system" if shipped is None
                                     else "from macOS " + ".".join(map(str, shipped)))
                            print(f"{path.relative_to(ROOT)}:{number}: {facility} ({pattern}) "
                                  f"ships {since}; the program runs from macOS {target_text}")
                            found += 1
    if found:
        sys.exit(f"check-apple-gates: {found} use(s) of facilities Apple's libc++ gates")
    names = ", ".join(sorted(f for f, names in NAMES.items() if names and f in gated))
    print(f"check-apple-gates: no use of what Apple's libc++ ships after macOS {target_text} "
          f"({names})")


if __name__ == "__main__":
    main()
