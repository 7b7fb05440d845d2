#!/usr/bin/env python3
"""Recordings under load through a real PipeWire server of their own.

Starts a private PipeWire (pipewire, wireplumber, pipewire-pulse, on a private runtime folder
and session bus, without systemd) with a mono null sink whose monitor is the default source.
For each SDL audio driver asked for, it makes RUNS recordings of SECONDS with `quillory-cli
record` while four busy loops hold the two cores, a 300 Hz to 5.1 kHz linear sweep is played
into the sink (paplay) and `parecord --latency-msec=20` records the same source as a control.

The sweep tells, for every 100 ms of a recording, which moment of the source it holds (its
frequency, from zero crossings). Audio that is missing from ours and present in the control is
lost: between two moments of the source both recordings hold, ours spans less time than the
control. A second of the source is damaged when ours lacks more than 3 ms of it.

The recorder stops after SECONDS of recorded audio, so its wall time (wall_s) less SECONDS
is what it lost, plus its start (about half a second), even where the recordings are too
damaged to compare.

Also measured: CPU seconds of each `quillory-cli record` (user + system) against LAME alone
(ffmpeg's libmp3lame) encoding the same audio, and the wake-ups per second of the recorder
(voluntary context switches of all its threads: each is a thread going back to sleep after
a wake-up; between 3 s and SECONDS - 2 s).

usage: bench/capture_under_load.py BUILD_DIR [RUNS] [SECONDS] [DRIVERS]
       DRIVERS: comma-separated SDL_AUDIODRIVER values, default pipewire,pulseaudio; a value
       ending in "+sdl" captures through SDL itself (QUILLORY_AUDIO_CAPTURE=sdl), and one
       ending in "+sdl-nopulse" does so with no PulseAudio service for the recorder to find
       (the control and the player still use it), as on a PipeWire without its PulseAudio
       service
       QV_BENCH_LOG=1 turns the program's log on and shows what it said about capture and
       losses (the log costs CPU of its own).
"""

import array
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave

RATE = 44100
F0, SLOPE = 300.0, 120.0  # Hz, Hz per second
SWEEP_SECONDS = 42
WINDOW = RATE // 10


def write_sweep(path):
    import math
    samples = array.array("h")
    phase = 0.0
    for i in range(SWEEP_SECONDS * RATE):
        t = i / RATE
        phase = 2 * math.pi * (F0 * t + SLOPE * t * t / 2)
        samples.append(int(12000 * math.sin(phase)))
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples.tobytes())


def read_pcm(path):
    """Mono 16-bit samples at RATE of any file ffmpeg reads."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-ar", str(RATE),
                          "-f", "s16le", "-"], check=True, capture_output=True).stdout
    samples = array.array("h")
    samples.frombytes(raw[: len(raw) // 2 * 2])
    return samples


def timeline(samples):
    """(recording seconds, source seconds) for every 100 ms window that holds a clean piece."""
    crossings = []
    previous = samples[0] if samples else 0
    for i in range(1, len(samples)):
        current = samples[i]
        if previous < 0 <= current:
            crossings.append(i - 1 + (-previous) / (current - previous))
        previous = current
    points = []
    start = 0
    for window_end in range(WINDOW, len(samples), WINDOW):
        window = []
        while start < len(crossings) and crossings[start] < window_end:
            window.append(crossings[start])
            start += 1
        if len(window) < 10:
            continue
        periods = [b - a for a, b in zip(window, window[1:])]
        mean = (window[-1] - window[0]) / len(periods)
        # A cut inside the window, or silence, shows as an uneven period.
        if max(abs(p - mean) for p in periods) > 0.05 * mean:
            continue
        frequency = RATE / mean
        source = (frequency - F0) / SLOPE
        if 0 < source < SWEEP_SECONDS:
            points.append(((window[0] + window[-1]) / 2 / RATE, source))
    return points


def recording_time_at(points, source):
    """When the recording held that moment of the source, from the nearest clean window."""
    best = min(points, key=lambda p: abs(p[1] - source))
    if abs(best[1] - source) > 0.3:
        return None
    return best[0] + (source - best[1])


def compare(ours, control):
    """Milliseconds missing from ours and held by the control, and damaged seconds of the
    source, over the stretch both hold; and the milliseconds missing over that whole stretch,
    from its two ends alone (which also counts what fell in seconds too damaged to compare)."""
    a = max(ours[0][1], control[0][1]) + 0.2
    b = min(ours[-1][1], control[-1][1]) - 0.2
    ends = [recording_time_at(points, x) for points in (ours, control) for x in (a, b)]
    whole_ms = 0.0 if None in ends else ((ends[3] - ends[2]) - (ends[1] - ends[0])) * 1000
    lost_ms, damaged, seconds = 0.0, 0, 0
    s = a
    while s + 1 <= b:
        values = [recording_time_at(points, x) for points in (ours, control) for x in (s, s + 1)]
        if None not in values:
            missing = (values[3] - values[2]) - (values[1] - values[0])
            seconds += 1
            if missing > 0.003:
                damaged += 1
                lost_ms += missing * 1000
        s += 1
    return lost_ms, damaged, seconds, whole_ms


def child_of(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as children:
            found = children.read().split()
        return int(found[0]) if found else None
    except OSError:
        return None


def context_switches(pid):
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/status") as status:
                for line in status:
                    if line.startswith("voluntary_ctxt_switches"):
                        total += int(line.split()[1])
    except OSError:
        pass
    return total


def wait_for(condition, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.1)
    return False


def process_starter(work, env, processes):
    """start(arguments, log): a process with env, its output in work/log, kept in processes."""
    def start(arguments, log):
        process = subprocess.Popen(arguments, env=env, stdout=open(f"{work}/{log}", "w"),
                                   stderr=subprocess.STDOUT)
        processes.append(process)
        return process
    return start


def pactl(env, *arguments):
    return subprocess.run(["pactl", *arguments], env=env, capture_output=True).returncode == 0


def start_sound_server(work, env, start):
    """A private session bus, PipeWire, WirePlumber and pipewire-pulse in the folder work, with
    a mono null sink "qvbench" as the default sink whose monitor is the default source. env
    gets what leads clients there. False when the server does not answer."""
    env.update({
        "XDG_RUNTIME_DIR": work, "PIPEWIRE_RUNTIME_DIR": work,
        "DBUS_SESSION_BUS_ADDRESS": f"unix:path={work}/bus",
        "PULSE_SERVER": f"unix:{work}/pulse/native", "DISABLE_RTKIT": "1",
    })
    start(["dbus-daemon", "--session", "--nofork", f"--address=unix:path={work}/bus"], "bus.log")
    wait_for(lambda: os.path.exists(work + "/bus"))
    start(["pipewire"], "pipewire.log")
    wait_for(lambda: os.path.exists(work + "/pipewire-0"))
    start(["wireplumber"], "wireplumber.log")
    start(["pipewire-pulse"], "pipewire-pulse.log")
    if not wait_for(lambda: pactl(env, "info")):
        return False
    pactl(env, "load-module", "module-null-sink", "sink_name=qvbench", "channel_map=mono")
    return wait_for(lambda: pactl(env, "set-default-source", "qvbench.monitor") and
                    pactl(env, "set-default-sink", "qvbench"))


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 30
    drivers = (sys.argv[4] if len(sys.argv) > 4 else "pipewire,pulseaudio").split(",")
    cli = os.path.join(build, "bin", "quillory-cli")
    work = tempfile.mkdtemp(prefix="qv-bench-", dir="/tmp")
    processes = []
    env = dict(os.environ)
    env.update({
        "HOME": work, "XDG_CONFIG_HOME": work + "/xdg",
        "XDG_STATE_HOME": work + "/state", "XDG_DOCUMENTS_DIR": work + "/Documents",
        "QUILLORY_CONFIG_DIR": work + "/config", "QUILLORY_CARDS": "",
        "QUILLORY_CONTACTS": work + "/contacts", "QUILLORY_AUDIO": "sdl",
    })
    os.makedirs(work + "/Documents")
    start = process_starter(work, env, processes)

    try:
        if not start_sound_server(work, env, start):
            print("the PipeWire server did not start", file=sys.stderr)
            return 1
        logging = os.environ.get("QV_BENCH_LOG") == "1"
        if logging:
            # The program's log, in the scratch folder: what it said about losses is shown.
            env["TMPDIR"] = work
            subprocess.run([cli, "reg", "set", "HKEY_CURRENT_USER\\Software\\Corvane", "Log",
                            "--dword", "1"], env=env, check=True)
        sweep = work + "/sweep.wav"
        write_sweep(sweep)
        print(f"{'driver':<19} {'run':>3} {'lost_ms':>8} {'damaged_s':>9} {'of_s':>4} {'whole_ms':>8} "
              f"{'control_gap_s':>13} {'wall_s':>6} {'cpu_s':>6} {'lame_s':>6} {'ratio':>5} {'wakeups/s':>9}")
        for driver in drivers:
            for run in range(1, runs + 1):
                name, _, path = driver.partition("+")
                env["SDL_AUDIODRIVER"] = name
                env["QUILLORY_AUDIO_CAPTURE"] = "sdl" if path.startswith("sdl") else ""
                recorder_env = dict(env)
                if path == "sdl-nopulse":
                    recorder_env["PULSE_SERVER"] = f"unix:{work}/no-such-server"
                loops = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(4)]
                control_path = f"{work}/control-{driver}-{run}.wav"
                control = start(["parecord", "--latency-msec=20", f"--rate={RATE}",
                                 "--channels=1", "--format=s16le", "--file-format=wav",
                                 control_path], "control.log")
                player = start(["paplay", "--device=qvbench", sweep], "player.log")
                time.sleep(0.5)
                timed = subprocess.Popen(
                    ["/usr/bin/time", "-f", "%U %S %e", cli, "record", "--seconds", str(seconds)],
                    env=recorder_env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                wait_for(lambda: child_of(timed.pid) is not None, 5)
                recorder = child_of(timed.pid)
                time.sleep(3)
                switches_start = context_switches(recorder) if recorder else 0
                span_start = time.time()
                time.sleep(max(1.0, seconds - 5))
                switches = context_switches(recorder) if recorder else 0
                wakeups = (switches - switches_start) / (time.time() - span_start)
                out, err = timed.communicate()
                for loop in loops:
                    loop.kill()
                    loop.wait()
                time.sleep(0.5)
                control.send_signal(signal.SIGINT)
                control.wait()
                player.terminate()
                player.wait()
                path = out.strip().splitlines()[0] if out.strip() else ""
                timing = [float(x) for x in err.strip().splitlines()[-1].split()[:3]]
                cpu, wall = timing[0] + timing[1], timing[2]
                ours = timeline(read_pcm(path)) if path else []
                reference = timeline(read_pcm(control_path))
                if not ours or not reference:
                    # Nothing of the sweep in ours: the whole stretch the control holds is lost.
                    span = (reference[-1][1] - reference[0][1]) if reference else seconds
                    print(f"{driver:<19} {run:>3} {span * 1000:>8.1f}  (no sweep in the recording)",
                          flush=True)
                    if path and os.path.exists(path):
                        os.remove(path)
                    os.remove(control_path)
                    continue
                lost_ms, damaged, of, whole_ms = compare(ours, reference)
                # Silence the player left in the control (the load slowed it): not ours.
                gaps = sum(max(0.0, (b[0] - a[0]) - (b[1] - a[1]))
                           for a, b in zip(reference, reference[1:]) if b[0] - a[0] < 5)
                decoded = f"{work}/decoded.wav"
                subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", path, "-ac", "1", "-ar",
                                str(RATE), decoded], check=True)
                lame = subprocess.run(
                    ["/usr/bin/time", "-f", "%U %S", "ffmpeg", "-v", "error", "-y", "-i", decoded,
                     "-codec:a", "libmp3lame", "-b:a", "64k", f"{work}/lame.mp3"],
                    capture_output=True, text=True)
                lame_cpu = sum(float(x) for x in lame.stderr.strip().splitlines()[-1].split()[:2])
                lost_note = [line for line in err.splitlines() if "lost" in line.lower()]
                print(f"{driver:<19} {run:>3} {lost_ms:>8.1f} {damaged:>9} {of:>4} {whole_ms:>8.1f} "
                      f"{gaps:>13.2f} {wall:>6.1f} {cpu:>6.2f} {lame_cpu:>6.2f} "
                      f"{cpu / lame_cpu if lame_cpu else 0:>5.2f} {wakeups:>9.1f}"
                      + (f"  ({lost_note[0].strip()})" if lost_note else ""), flush=True)
                if logging:
                    log_path = f"{work}/quillory-cli.txt"
                    if os.path.exists(log_path):
                        with open(log_path, encoding="utf-16-le", errors="replace") as log:
                            for line in log:
                                if "lost" in line or "capture through" in line:
                                    print("    log:", line.strip())
                        os.remove(log_path)
                os.remove(path)
                os.remove(control_path)
    finally:
        for process in reversed(processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
