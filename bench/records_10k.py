#!/usr/bin/env python3
"""The main form over many records: how soon it is usable, how smooth it stays while the
background scan fills the list, how fast the keypad filter answers, and the memory it takes.

Runs bin/quillory (headless by default, or on Xvfb with --x) over a documents folder of N
records made by make_records.py (cached under the build folder), with the developer timing
trace (QUILLORY_TIMING) and test input (QUILLORY_INPUT). The trace gives, on the monotonic
clock this script reads as well: "main-shown", "list N" (rows listed), "input" (an input
message dispatched), "frame D" (a frame step that painted, D microseconds), "present", "busy D"
(any other work of a millisecond or more holding the loop), "scan-done".

Figures:
  - main form shown -> first rows presented, and -> a screenful of rows presented;
  - main form shown -> a tap (made at once) answered on screen;
  - frame steps while the scan fills the list (the list is dragged and flung meanwhile, so that
    frames are drawn), and the longest other work between frames;
  - a filter key: input message -> present, and written -> present (includes the input file's
    polling) for several keys over the full list;
  - resident memory with the full list, and CPU while idle on it.

usage: records_10k.py BUILD_DIR [--count N] [--x] [--no-scroll] [--runs N]
"""
import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_records  # noqa: E402
from startup_idle import cpu_seconds, rss_mb  # noqa: E402


def now_us():
    return int(time.monotonic() * 1e6)


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


class Program:
    def __init__(self, build, root, documents, extra_env, inspect=False):
        self.root = root
        os.makedirs(root, exist_ok=True)
        self.timing = os.path.join(root, "timing.txt")
        self.input = os.path.join(root, "input.txt")
        self.inspect = os.path.join(root, "inspect.json") if inspect else None
        for path in (self.timing, self.input, self.inspect):
            if path and os.path.exists(path):
                os.remove(path)
        open(self.input, "w").close()
        env = dict(os.environ)
        for name in ("SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        run = os.path.join(root, "run")
        os.makedirs(run, exist_ok=True)
        os.chmod(run, 0o700)
        env.update({
            "QUILLORY_CONFIG_DIR": os.path.join(root, "config"),
            "XDG_RUNTIME_DIR": run,
            "XDG_CONFIG_HOME": os.path.join(root, "xdg"),
            "HOME": root,
            "XDG_DOCUMENTS_DIR": documents,
            "QUILLORY_AUDIO": "null",
            "QUILLORY_CARDS": "",
            "QUILLORY_TIMING": self.timing,
            "QUILLORY_INPUT": self.input,
        })
        if self.inspect:
            env["QUILLORY_INSPECT"] = self.inspect
        env.update(extra_env)
        self.marks = []
        self._offset = 0
        self.process = subprocess.Popen([os.path.join(build, "bin", "quillory")], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def read_marks(self):
        try:
            with open(self.timing) as f:
                f.seek(self._offset)
                chunk = f.read()
        except FileNotFoundError:
            return
        end = chunk.rfind("\n")
        if end < 0:
            return
        self._offset += len(chunk[:end + 1].encode())
        for line in chunk[:end].split("\n"):
            parts = line.split()
            if len(parts) in (3, 4):
                cpu = int(parts[3]) if len(parts) == 4 else -1
                self.marks.append((int(parts[0]), parts[1], int(parts[2]), cpu))

    def wait_mark(self, test, after=0, limit=60.0, poll=0.0005):
        """The first mark at or after `after` for which test(mark) holds."""
        start = time.monotonic()
        seen = 0
        while time.monotonic() - start < limit:
            self.read_marks()
            for mark in self.marks[seen:]:
                if mark[0] >= after and test(mark):
                    return mark
            seen = len(self.marks)
            if self.process.poll() is not None:
                return None
            time.sleep(poll)
        return None

    def send(self, *lines):
        with open(self.input, "a") as f:
            written = now_us()
            for line in lines:
                f.write(line + "\n")
        return written

    def answered(self, written, limit=10.0):
        """(input dispatched -> present, written -> present, program CPU in between) in ms for
        the last input sent."""
        release = self.wait_mark(lambda m: m[1] == "input" and m[2] in (0x0202, 0x0100, 0x0102),
                                 after=written, limit=limit)
        if not release:
            return None
        present = self.wait_mark(lambda m: m[1] == "present", after=release[0], limit=limit)
        if not present:
            return None
        # The work and the frame that answered, on the program's CPU clock.
        cpu = sum(m[3] for m in self.marks
                  if m[1] in ("busy", "frame") and release[0] <= m[0] <= present[0] and m[3] > 0)
        return ((present[0] - release[0]) / 1000.0, (present[0] - written) / 1000.0,
                cpu / 1000.0)

    def inspect_json(self, test, limit=20.0):
        start = time.monotonic()
        while time.monotonic() - start < limit:
            try:
                with open(self.inspect) as f:
                    data = json.load(f)
                if test(data):
                    return data
            except (FileNotFoundError, json.JSONDecodeError):
                pass
            time.sleep(0.02)
        return None


def find(node, ident):
    if node.get("id") == ident:
        return node
    for child in node.get("children", []):
        found = find(child, ident)
        if found:
            return found
    return None


def centre(node):
    x, y, w, h = node["rect"]
    return x + w // 2, y + h // 2


def calibrate(build, root, extra_env):
    """The rectangles of the controls, from an inspector run over an empty folder."""
    documents = os.path.join(root, "empty-documents")
    os.makedirs(documents, exist_ok=True)
    program = Program(build, os.path.join(root, "calibrate"), documents, extra_env, inspect=True)
    try:
        def main_form(data):
            return any(find(f["tree"], "btnFilter") for f in data["forms"])
        data = program.inspect_json(main_form)
        if not data:
            sys.exit("records_10k: the main form did not appear")
        tree = data["forms"][-1]["tree"]
        boxes = {name: find(tree, name) for name in ("btnFilter", "btnCloseFilter", "list")}
        program.send("tap %d %d" % centre(boxes["btnFilter"]))

        def keypad(data):
            button = find(data["forms"][-1]["tree"], "button2")
            return button is not None and button["shown"]
        data = program.inspect_json(keypad)
        if not data:
            sys.exit("records_10k: the keypad did not appear")
        tree = data["forms"][-1]["tree"]
        for name in ("button2", "button3", "button6", "button7", "button_backspace"):
            boxes[name] = find(tree, name)
        boxes["btnCloseFilter"] = find(tree, "btnCloseFilter")
        return boxes
    finally:
        program.stop()


def drag(program, box, up):
    """A flick over the list: 6 moves 16 ms apart, then release."""
    x, y = centre(box)
    dy = -box["rect"][3] // 10 if up else box["rect"][3] // 10
    program.send("down %d %d" % (x, y))
    for i in range(1, 7):
        time.sleep(0.016)
        program.send("move %d %d" % (x, y + dy * i // 2))
    program.send("up %d %d" % (x, y + dy * 3))


def measure(build, root, documents, count, boxes, extra_env, scroll):
    program = Program(build, os.path.join(root, "measure"), documents, extra_env)
    result = {"load": load_average()}
    try:
        shown = program.wait_mark(lambda m: m[1] == "main-shown")
        if not shown:
            sys.exit("records_10k: no main-shown mark (is QUILLORY_TIMING built in?)")
        t0 = shown[0]
        # A tap at once: the filter button, answered when the keypad is on screen.
        written = program.send("tap %d %d" % centre(boxes["btnFilter"]))
        answer = program.answered(written)
        result["tap_answered_after_shown_ms"] = (
            (written - t0) / 1000.0 + answer[1] if answer else None)
        result["tap_latency_ms"] = answer
        written = program.send("tap %d %d" % centre(boxes["btnCloseFilter"]))
        program.answered(written)

        first = program.wait_mark(lambda m: m[1] == "list" and m[2] > 0, after=t0)
        present = program.wait_mark(lambda m: m[1] == "present", after=first[0]) if first else None
        result["first_rows_ms"] = (present[0] - t0) / 1000.0 if present else None
        screenful = program.wait_mark(lambda m: m[1] == "list" and m[2] >= min(30, count),
                                      after=t0, limit=30.0)
        present = (program.wait_mark(lambda m: m[1] == "present", after=screenful[0])
                   if screenful else None)
        result["screenful_ms"] = (present[0] - t0) / 1000.0 if present else None

        # The scan: flick the list up and down while it fills.
        done = None
        flick = 0
        deadline = time.monotonic() + 300
        while time.monotonic() < deadline:
            done = program.wait_mark(lambda m: m[1] == "scan-done", after=t0, limit=0.6)
            if done:
                break
            if scroll:
                drag(program, boxes["list"], up=flick % 2 == 0)
                flick += 1
        if not done:
            sys.exit("records_10k: the scan did not finish")
        program.read_marks()
        during = [m for m in program.marks if t0 <= m[0] <= done[0]]
        frames = sorted(m[2] / 1000.0 for m in during if m[1] == "frame")
        busy = sorted(m[2] / 1000.0 for m in during if m[1] == "busy")
        frames_cpu = sorted(m[3] / 1000.0 for m in during if m[1] == "frame")
        busy_cpu = sorted(m[3] / 1000.0 for m in during if m[1] == "busy")
        result["frame_cpu_max_ms"] = frames_cpu[-1] if frames_cpu else None
        result["busy_cpu_max_ms"] = busy_cpu[-1] if busy_cpu else 0.0
        result["cpu_over_16ms"] = sum(1 for b in frames_cpu + busy_cpu if b > 16.0)
        result["scan_s"] = (done[0] - t0) / 1e6
        result["scan_records"] = done[2]
        result["frames"] = len(frames)
        result["frame_max_ms"] = frames[-1] if frames else None
        result["frame_p99_ms"] = frames[int(len(frames) * 0.99)] if frames else None
        result["frame_median_ms"] = statistics.median(frames) if frames else None
        result["frames_over_16ms"] = sum(1 for f in frames if f > 16.0)
        result["busy_max_ms"] = busy[-1] if busy else 0.0
        result["busy_over_16ms"] = sum(1 for b in busy if b > 16.0)
        result["load_scan"] = load_average()

        time.sleep(1.0)
        result["rss_mb"] = rss_mb(program.process.pid)
        cpu0, t_0 = cpu_seconds(program.process.pid), time.monotonic()
        time.sleep(5.0)
        result["idle_cpu_percent"] = 100.0 * (cpu_seconds(program.process.pid) - cpu0) / (
            time.monotonic() - t_0)

        # The filter over the full list.
        written = program.send("tap %d %d" % centre(boxes["btnFilter"]))
        program.answered(written)
        time.sleep(0.3)
        keys = ["button2", "button6", "button_backspace", "button_backspace", "button7",
                "button3", "button_backspace", "button_backspace"] * 2
        latencies = []
        listed = []
        for key in keys:
            written = program.send("tap %d %d" % centre(boxes[key]))
            answer = program.answered(written)
            if answer:
                latencies.append(answer)
            program.read_marks()
            lists = [m[2] for m in program.marks if m[1] == "list" and m[0] >= written]
            if lists:
                listed.append(lists[-1])
            time.sleep(0.25)
        result["filter_key_ms"] = [a for a, _, _ in latencies]
        result["filter_key_written_ms"] = [b for _, b, _ in latencies]
        result["filter_key_cpu_ms"] = [c for _, _, c in latencies]
        result["filter_listed"] = listed
        result["rss_mb_after_filter"] = rss_mb(program.process.pid)
        result["load_end"] = load_average()
        return result
    finally:
        program.stop()


def ms(value):
    return "-" if value is None else f"{value:.1f} ms"


def report(name, r):
    print(f"[{name}] load before {r['load']}, during scan {r['load_scan']}, end {r['load_end']}")
    print(f"  main form shown -> first rows presented: {ms(r['first_rows_ms'])}; "
          f"-> 30 rows listed and presented: {ms(r['screenful_ms'])}")
    if r["tap_latency_ms"]:
        a, b, _ = r["tap_latency_ms"]
        print(f"  tap at once: answered {r['tap_answered_after_shown_ms']:.1f} ms after shown "
              f"(input -> present {a:.1f} ms, written -> present {b:.1f} ms)")
    print(f"  scan of {r['scan_records']} records: {r['scan_s']:.1f} s, {r['frames']} frames; "
          f"frame step median {r['frame_median_ms']:.2f} ms, p99 {r['frame_p99_ms']:.2f} ms, "
          f"max {r['frame_max_ms']:.2f} ms ({r['frames_over_16ms']} over 16 ms); "
          f"longest other work {r['busy_max_ms']:.2f} ms ({r['busy_over_16ms']} over 16 ms)")
    print(f"    on the program's CPU clock: longest frame step {r['frame_cpu_max_ms']:.2f} ms, "
          f"longest other work {r['busy_cpu_max_ms']:.2f} ms "
          f"({r['cpu_over_16ms']} steps over 16 ms)")
    keys = r["filter_key_ms"]
    if keys:
        print(f"  filter key, input -> present: median {statistics.median(keys):.1f} ms, "
              f"max {max(keys):.1f} ms; written -> present max "
              f"{max(r['filter_key_written_ms']):.1f} ms; program CPU per key median "
              f"{statistics.median(r['filter_key_cpu_ms']):.1f} ms, max "
              f"{max(r['filter_key_cpu_ms']):.1f} ms; listed {r['filter_listed']}")
    print(f"  resident {r['rss_mb']:.1f} MB with the full list "
          f"({r['rss_mb_after_filter']:.1f} MB after filtering); "
          f"idle {r['idle_cpu_percent']:.2f} % of one core")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--x", action="store_true", help="run on Xvfb instead of headless")
    parser.add_argument("--no-scroll", action="store_true")
    parser.add_argument("--json", help="also write the results here")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    documents = os.path.join(build, "bench-records", str(args.count))
    make_records.make(documents, args.count)

    server = None
    if args.x:
        display = ":89"
        server = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten",
                                   "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)
        extra = {"DISPLAY": display, "SDL_VIDEODRIVER": "x11"}
        name = "Xvfb"
    else:
        extra = {"SDL_VIDEODRIVER": "offscreen"}
        name = "headless"
    results = []
    try:
        with tempfile.TemporaryDirectory() as root:
            boxes = calibrate(build, root, extra)
            for i in range(args.runs):
                r = measure(build, root, documents, args.count, boxes, extra,
                            not args.no_scroll)
                report(f"{name} {args.count} records, run {i + 1}", r)
                results.append(r)
    finally:
        if server:
            server.terminate()
            server.wait()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    sys.exit(main())
