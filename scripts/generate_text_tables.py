#!/usr/bin/env python3
"""Writes src/text_tables.h, the tables the character counter segments text with.

Reads the Unicode data the project keeps in third_party/unicode/ (Grapheme_Cluster_Break,
Extended_Pictographic and Indic_Conjunct_Break) and writes:
- each code point's class: the combination of those properties it has, as a two-level table;
- the grapheme-cluster rules as a deterministic automaton over those classes: for each state and
  the class of the next code point, whether a character begins there and the state after it.

    python3 scripts/generate_text_tables.py           # rewrites src/text_tables.h
    python3 scripts/generate_text_tables.py --check   # exit 1 when the committed file differs

The rules are those of extended grapheme clusters, with one departure, made to count as Swift's
String does (see conjunctLinkers below). The automaton is built from the rules written out plainly in
`step` and then minimised, so the rules read as they are stated and the table stays small.
"""

import argparse
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
UNICODE_VERSION = "17.0.0"
DATA = ROOT / "third_party" / "unicode" / UNICODE_VERSION
OUTPUT = ROOT / "src" / "text_tables.h"

# Indic conjuncts join only across these six viramas (Devanagari, Bengali, Gujarati, Oriya, Telugu,
# Malayalam). Unicode 17.0 lists more conjunct linkers (Myanmar U+1039, Khmer U+17D2, Balinese
# U+1B44, ...), but Swift's String, whose counts this program must reproduce, joins only across
# these six, as it has since conjuncts were first joined; the other linkers stay plain Extend marks
# (they keep a conjunct sequence going but cannot link one).
conjunctLinkers = {0x094D, 0x09CD, 0x0ACD, 0x0B4D, 0x0C4D, 0x0D4D}

# Swift's String tells Hangul jamo (L, V, T) by their blocks. Unicode 16 gave the class V to five
# Kirat Rai vowel signs (U+16D63, U+16D67..U+16D6A) too; Swift counts them as plain letters, and
# so does this program.
hangulJamo = [(0x1100, 0x11FF), (0xA960, 0xA97F), (0xD7B0, 0xD7FF)]


def readProperty(path, wanted=None):
    """{code point: value} from a UCD file of "range ; value" (or "range ; property ; value") lines."""
    values = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        fields = [field.strip() for field in line.split(";")]
        if wanted is not None:
            if fields[1] != wanted or len(fields) < 3:
                continue
            value = fields[2]
        else:
            value = fields[1]
        first, _, last = fields[0].partition("..")
        for codePoint in range(int(first, 16), int(last or first, 16) + 1):
            values[codePoint] = value
    return values


def codePointKinds():
    """Each code point's (Grapheme_Cluster_Break, Extended_Pictographic, InCB) triple, InCB being
    Consonant, Extend, Linker (one of conjunctLinkers) or None."""
    breaks = readProperty(DATA / "GraphemeBreakProperty.txt")
    pictographic = {
        c for c, value in readProperty(DATA / "emoji-data.txt").items()
        if value == "Extended_Pictographic"
    }
    conjunct = readProperty(DATA / "DerivedCoreProperties-InCB.txt", wanted="InCB")
    kinds = []
    for c in range(0x110000):
        incb = conjunct.get(c, "None")
        if incb == "Linker" and c not in conjunctLinkers:
            incb = "Extend"
        gcb = breaks.get(c, "Other")
        if gcb in ("L", "V", "T") and not any(first <= c <= last for first, last in hangulJamo):
            gcb = "Other"
        kinds.append((gcb, c in pictographic, incb))
    return kinds


# A state is what the rules need to know of the text walked so far:
#   previous:  the class of the last code point (None before the first)
#   pictographic: the text ends in Extended_Pictographic Extend*, or in that followed by ZWJ
#   oddRegional: the text ends in an odd number of Regional_Indicator code points
#   conjunct: 0 outside a conjunct, 1 after Consonant [Extend Linker]* with no linker yet,
#             2 after one with a linker
START = (None, False, False, 0)


def step(state, kind):
    """(a character begins before `kind`, state after it), by the rules of extended grapheme
    clusters; `kind` is a (break, pictographic, incb) triple."""
    previous, pictographic, oddRegional, conjunct = state
    gcb, isPictographic, incb = kind
    before = previous[0] if previous else None

    if previous is None:
        breaks = True  # the first code point begins the first character
    elif before == "CR" and gcb == "LF":
        breaks = False
    elif before in ("Control", "CR", "LF") or gcb in ("Control", "CR", "LF"):
        breaks = True
    elif before == "L" and gcb in ("L", "V", "LV", "LVT"):
        breaks = False
    elif before in ("LV", "V") and gcb in ("V", "T"):
        breaks = False
    elif before in ("LVT", "T") and gcb == "T":
        breaks = False
    elif gcb in ("Extend", "ZWJ", "SpacingMark") or before == "Prepend":
        breaks = False
    elif conjunct == 2 and incb == "Consonant":
        breaks = False  # a conjunct: Consonant, a virama among extenders, Consonant
    elif before == "ZWJ" and pictographic and isPictographic:
        breaks = False  # an emoji ZWJ sequence
    elif before == "Regional_Indicator" and oddRegional and gcb == "Regional_Indicator":
        breaks = False  # the second of a pair of regional indicators
    else:
        breaks = True

    if isPictographic:
        pictographic = True
    elif gcb == "Extend" and pictographic and before != "ZWJ":
        pass  # Extended_Pictographic Extend*
    elif gcb == "ZWJ" and pictographic and before != "ZWJ":
        pass  # ... followed by ZWJ
    else:
        pictographic = False
    oddRegional = gcb == "Regional_Indicator" and not (breaks is False and oddRegional)
    if incb == "Consonant":
        conjunct = 1
    elif incb == "Linker" and conjunct:
        conjunct = 2
    elif incb == "Extend" and conjunct:
        pass
    else:
        conjunct = 0
    return breaks, (kind, pictographic, oddRegional, conjunct)


def buildAutomaton(classes):
    """The minimal automaton of `step` over `classes`: (start state's row first) a list of rows,
    each a list of (breaks, next state) per class."""
    states = [START]
    index = {START: 0}
    rows = []
    while len(rows) < len(states):
        row = []
        for kind in classes:
            breaks, after = step(states[len(rows)], kind)
            if after not in index:
                index[after] = len(states)
                states.append(after)
            row.append((breaks, index[after]))
        rows.append(row)

    # Moore's partition refinement: states that answer alike for every text are one state.
    block = [0] * len(rows)
    while True:
        signatures = {}
        refined = []
        for state, row in enumerate(rows):
            signature = (block[state], tuple((breaks, block[after]) for breaks, after in row))
            refined.append(signatures.setdefault(signature, len(signatures)))
        if len(signatures) == len(set(block)):
            break
        block = refined
    # Blocks numbered in order of first appearance, so the start state is 0.
    order = {}
    for state in range(len(rows)):
        order.setdefault(block[state], len(order))
    minimal = [None] * len(order)
    for state, row in enumerate(rows):
        minimal[order[block[state]]] = [(breaks, order[block[after]]) for breaks, after in row]
    return minimal


def generate():
    kinds = codePointKinds()
    classes = []
    classOf = {}
    for kind in kinds:
        if kind not in classOf:
            classOf[kind] = len(classes)
            classes.append(kind)
    automaton = buildAutomaton(classes)
    if len(classes) > 32 or len(automaton) > 64:
        sys.exit("too many classes or states for the tables' layout")

    pageIndex = {}
    pages = []
    pageOf = []
    for first in range(0, 0x110000, 256):
        page = tuple(classOf[kinds[c]] for c in range(first, first + 256))
        if page not in pageIndex:
            pageIndex[page] = len(pages)
            pages.append(page)
        pageOf.append(pageIndex[page])
    if len(pages) > 256:
        sys.exit("too many distinct pages for a one-byte page index")

    def numbers(values, indent, width=100):
        lines, line = [], indent
        for value in values:
            item = f"{value}, "
            if len(line) + len(item.rstrip()) > width:
                lines.append(line.rstrip())
                line = indent
            line += item
        lines.append(line.rstrip())
        return "\n".join(lines)

    def describe(kind):
        gcb, isPictographic, incb = kind
        words = [gcb]
        if isPictographic:
            words.append("Extended_Pictographic")
        if incb != "None":
            words.append("InCB=" + incb)
        return " ".join(words)

    out = []
    out.append(
        f"// Generated by scripts/generate_text_tables.py from the Unicode {UNICODE_VERSION} data "
        "in\n// third_party/unicode; do not edit.\n"
        "#pragma once\n\n#include <cstdint>\n\n"
        "// clang-format off\n"
        "namespace corvane::text_tables {\n\n"
        f'inline constexpr char unicodeVersion[] = "{UNICODE_VERSION}";\n\n'
        "// The classes: each code point's Grapheme_Cluster_Break, whether it is Extended_Pictographic,\n"
        "// and its Indic_Conjunct_Break (InCB=Linker for the six viramas only).\n")
    for number, kind in enumerate(classes):
        out.append(f"//   {number:2}: {describe(kind)}\n")
    out.append(f"inline constexpr int classCount = {len(classes)};\n\n")
    out.append(
        "// The class of code point c: classPages[classPageOf[c >> 8]][c & 255].\n"
        f"inline constexpr std::uint8_t classPageOf[{len(pageOf)}] = {{\n")
    out.append(numbers(pageOf, "    ") + "\n};\n\n")
    out.append(f"inline constexpr std::uint8_t classPages[{len(pages)}][256] = {{\n")
    for page in pages:
        out.append("    {\n" + numbers(page, "        ") + "\n    },\n")
    out.append(
        "};\n\n"
        "// transitions[state][class of the next code point]: 0x80 when a character begins there,\n"
        "// or'ed with the state after it. State 0 is the start, before the first code point.\n"
        f"inline constexpr int stateCount = {len(automaton)};\n"
        f"inline constexpr std::uint8_t transitions[stateCount][classCount] = {{\n")
    for row in automaton:
        cells = [f"0x{(0x80 if breaks else 0) | after:02x}" for breaks, after in row]
        out.append("    {\n" + numbers(cells, "        ") + "\n    },\n")
    out.append("};\n\n}  // namespace corvane::text_tables\n// clang-format on\n")
    return "".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the committed file instead of writing it")
    arguments = parser.parse_args()
    text = generate()
    if arguments.check:
        if OUTPUT.read_text(encoding="utf-8") != text:
            print(f"{OUTPUT.relative_to(ROOT)} differs from what {pathlib.Path(__file__).name} "
                  "makes: run it and commit the result")
            return 1
        print(f"{OUTPUT.relative_to(ROOT)} is what the Unicode {UNICODE_VERSION} data makes")
        return 0
    OUTPUT.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
