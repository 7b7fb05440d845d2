#!/usr/bin/env python3
"""How soon the playback form shows a record's waveform: the one-hour 64 kbit/s MP3 of
peaks_hour.sh (made by it, kept in BUILD_DIR/bench-records/) opened from the main list of the
real program (headless), first with an empty waveform cache and then, in a second start, from
the cache.

From the program's QUILLORY_TIMING trace: "view-open" (the form opens the record) to the first
"present" after the first "wave N" with N > 0 (columns handed to the waveform), and to the
first present after the whole width was given.

usage: waveform_open.py BUILD_DIR [--runs N]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from records_10k import Program, centre, find, load_average  # noqa: E402


def open_once(build, root, documents, cache):
    program = Program(build, root, documents, {"XDG_CACHE_HOME": cache}, inspect=True)
    try:
        def listed(data):
            tree = data["forms"][-1]["tree"]
            node = find(tree, "list")
            return node is not None and node.get("rows")
        data = program.inspect_json(listed, limit=60.0)
        if not data:
            sys.exit("waveform_open: the record was not listed")
        row = find(data["forms"][-1]["tree"], "list")["rows"][0]["row"]
        program.send("tap %d %d" % centre(row))
        opened = program.wait_mark(lambda m: m[1] == "view-open")
        if not opened:
            sys.exit("waveform_open: the playback form did not open")
        first = program.wait_mark(lambda m: m[1] == "wave" and m[2] > 0, after=opened[0])
        first_shown = program.wait_mark(lambda m: m[1] == "present", after=first[0])
        # The whole width: the largest count given, once it no longer grows.
        data = program.inspect_json(lambda d: (lambda w: w is not None and w["columns"] > 0 and
                                               w["columns"] == w["rect"][2])(
            find(d["forms"][-1]["tree"], "waveform")), limit=60.0)
        width = find(data["forms"][-1]["tree"], "waveform")["rect"][2] if data else 0
        whole = program.wait_mark(lambda m: m[1] == "wave" and m[2] == width, after=opened[0])
        whole_shown = program.wait_mark(lambda m: m[1] == "present", after=whole[0])
        return ((first_shown[0] - opened[0]) / 1000.0, (whole_shown[0] - opened[0]) / 1000.0)
    finally:
        program.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    hour = os.path.join(build, "bench-records", "hour64.mp3")
    if not os.path.exists(hour):
        # peaks_hour.sh makes the record and keeps it.
        subprocess.run(["bash", os.path.join(os.path.dirname(__file__), "peaks_hour.sh"), build,
                        "1"], check=True)
    cold, warm = [], []
    with tempfile.TemporaryDirectory() as root:
        documents = os.path.join(root, "documents")
        os.makedirs(os.path.join(documents, "My Quillory"))
        shutil.copy(hour, os.path.join(documents, "My Quillory", "lecture.mp3"))
        for run in range(args.runs):
            cache = os.path.join(root, "cache")
            shutil.rmtree(cache, ignore_errors=True)
            cold.append(open_once(build, os.path.join(root, "cold%d" % run), documents, cache))
            warm.append(open_once(build, os.path.join(root, "warm%d" % run), documents, cache))
    for name, runs in (("empty cache", cold), ("from the cache", warm)):
        print("%s: first columns on screen %.1f ms after the form opened (median of %d, max "
              "%.1f), the whole waveform %.1f ms" % (
                  name, statistics.median(r[0] for r in runs), len(runs),
                  max(r[0] for r in runs), statistics.median(r[1] for r in runs)))
    print("load %s" % load_average())


if __name__ == "__main__":
    main()
