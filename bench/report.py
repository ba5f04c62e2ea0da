"""Prints the benchmark's table from hyperfine's JSON exports and the peak-memory samples.

Usage: report.py RESULTS_DIR INPUTS_DIR (both written by bench/run.sh).
"""

import json
import os
import sys

results_dir, inputs_dir = sys.argv[1], sys.argv[2]


def medians(name):
    """Median wall time in seconds of each command of one hyperfine run, in command order."""
    with open(os.path.join(results_dir, name + ".json")) as f:
        return [r["median"] for r in json.load(f)["results"]]


peaks = {}
with open(os.path.join(results_dir, "peak.txt")) as f:
    for line in f:
        key, kib = line.split()
        peaks[key] = int(kib) * 1024


def size(name):
    return os.path.getsize(os.path.join(inputs_dir, name + ".json"))


def duration(seconds):
    return f"{seconds * 1e3:.3f} ms" if seconds < 0.01 else f"{seconds * 1e3:.1f} ms"


def mib(n):
    return f"{n / 2**20:.1f} MiB"


rows = []  # figure, median, floor name, floor median, ratio, target, memory, verdict


def row(figure, median, floor_name, floor_median, target, memory):
    ratio = median / floor_median
    verdict = "ok" if ratio <= target else "MISSED"
    rows.append((figure, duration(median), floor_name, duration(floor_median),
                 f"{ratio:.2f}", f"<= {target}", memory, verdict))


floor, corvane, sim = medians("startup")
row("corvane availability", corvane, "process floor", floor, 1.3,
    mib(peaks["availability"]))
row("corvane-sim availability", sim, "process floor", floor, 1.3,
    mib(peaks["availability-sim"]))

# Started through with_stdin: its cost is the difference between the floor started through it
# and started directly, and is taken off the chat's time.
direct_floor, launched_floor, launched_chat, launched_thread_floor = medians("small")
small_chat = launched_chat - (launched_floor - direct_floor)
row(f"corvane-sim chat, {size('small') / 1024:.0f} KiB", small_chat, "process floor",
    direct_floor, 2.0, mib(peaks["chat-small"]))
# The thread floor reads the same request, so both are taken as started, through with_stdin: no
# difference of two other medians, whose noise would be larger than what is measured, is taken off.
row(f"corvane-sim chat, {size('small') / 1024:.0f} KiB, through with_stdin", launched_chat,
    "thread floor", launched_thread_floor, 1.25, "")

# The streamed answer: whole, against chat's on the same request as both are started through
# with_stdin; its first line, against chat's one line, as first_line times both.
chat_launched, stream_launched = medians("stream-small")
row(f"corvane-sim stream, {size('small') / 1024:.0f} KiB, whole", stream_launched,
    "chat, same request", chat_launched, 1.05, "")


def first_line(name):
    with open(os.path.join(results_dir, f"first-line-{name}.json")) as f:
        return json.load(f)["firstLine"]


row(f"corvane-sim stream, {size('small') / 1024:.0f} KiB, first delta", first_line("stream"),
    "chat's line", first_line("chat"), 1.05, "")

# Instruction counts (callgrind): against the thread floor's, and each at or under its own ceiling.
# The ceilings hold the counting from the project's own Unicode tables to what the fast paths made
# of the earlier library-based counting (285,113 and 992,898 instructions, with Debian 12's
# compiler and libraries), with a margin for the platform's own start-up.
counts = {}
with open(os.path.join(results_dir, "instructions.txt")) as f:
    for line in f:
        key, count = line.split()
        counts[key] = int(count)
for name, request, kind, ceiling in (
        ("chat-small", "small", "", 306_135),
        ("chat-multilingual", "multilingual", " multilingual", 1_014_006)):
    count, floor_count = counts[name], counts["thread-floor"]
    rows.append((f"corvane-sim chat, {size(request) / 1024:.0f} KiB{kind}, instructions",
                 f"{count:,}", "thread floor", f"{floor_count:,}", f"{count / floor_count:.2f}",
                 f"<= {ceiling:,}", "", "ok" if count <= ceiling else "MISSED"))

growth = []
for name in ("1mb", "8mb", "64mb"):
    parse_floor, chat = medians(name)
    request = size(name)
    peak = peaks["chat-" + name]
    memory = f"{mib(peak)} = {peak / request:.2f}x request"
    if name == "64mb":
        memory += " (<= 2.5x: " + ("ok" if peak <= 2.5 * request else "MISSED") + ")"
    row(f"corvane-sim chat, {request / 2**20:.0f} MiB", chat, "parse floor", parse_floor, 1.0,
        memory)
    growth.append((request, chat, parse_floor, peaks["parse-floor-" + name]))

parse_floor, chat = medians("pipe")
request = size("64mb")
peak = peaks["chat-pipe"]
row(f"corvane-sim chat, {request / 2**20:.0f} MiB, piped", chat, "parse floor, piped", parse_floor,
    1.0, f"{mib(peak)} = {peak / request:.2f}x request")

headers = ("figure", "median", "floor", "floor median", "ratio", "target", "peak memory", "")
widths = [max(len(str(r[i])) for r in rows + [headers]) for i in range(len(headers))]
print()
for r in [headers] + rows:
    print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)).rstrip())

print()
print("growth with the request (time per MiB of request; linear growth keeps it flat)")
print(f"  {'request':>8}  {'chat':>10}  {'per MiB':>9}  {'parse floor':>11}  {'per MiB':>9}"
      f"  {'floor peak memory':>17}")
for request, chat, parse_floor, floor_peak in growth:
    mb = request / 2**20
    print(f"  {mb:6.0f} MiB  {duration(chat):>10}  {chat / mb * 1e3:6.2f} ms  "
          f"{duration(parse_floor):>11}  {parse_floor / mb * 1e3:6.2f} ms  "
          f"{mib(floor_peak):>17}")
print()
print(f"process floor: peak memory {mib(peaks['process-floor'])}; the small chat's time is "
      f"{duration(launched_chat)} through with_stdin, less its cost "
      f"({duration(launched_floor)} - {duration(direct_floor)} for the floor)")
