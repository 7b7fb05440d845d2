#!/usr/bin/env python3
"""Start-up time, idle cost, recording cost and memory of the program.

Starts bin/quillory in a private environment with QUILLORY_INSPECT and measures:
  - process start to the splash form on screen, and to the main form (the inspector file is
    written right after the frame that shows a change is presented),
  - CPU time and wake-ups (context switches of all threads) over an idle period,
  - resident memory once idle,
  - with --record SECONDS: CPU time of the whole program (capture, encoder and writer threads,
    the recording form updating) over that period of a recording at real time, started by a
    second start with "record" as a hardware key would; the microphone is the file device
    playing a minute of noise (never silent, so the encoder always works).
Runs headless (SDL's offscreen driver), when Xvfb is installed on an X server (SDL's x11
driver; without a GPU the frames go through SDL's software renderer), and when mutter is
installed as a native client of a headless Wayland compositor (GNOME's mutter without X and
without a GPU, on a private session bus; the program chooses Wayland itself and how it shows
its frames, unless --wayland-renderer names an SDL render driver). --wayland-scale sets the
compositor's output scale; its monitor is made large enough for the window at that scale.
The load average of the machine is printed with each figure.

With --screen WIDTHxHEIGHT the window has that size in pixels (a phone's 1080x2160 with
--dpi 384, the skin at 4x); on Wayland in points, times the output scale in pixels (a phone's
1080x2160 pixels at scale 2 is --screen 540x1080 --wayland-scale 2). The resident memory is
given once idle and at its peak. Wake-ups are given for the whole program and for its
user-interface thread alone (the loop and the timers it serves).

usage: startup_idle.py BUILD_DIR [--idle SECONDS] [--runs N] [--no-headless] [--no-x]
                        [--no-wayland] [--wayland-scale N] [--wayland-renderer DRIVER]
                        [--record SECONDS] [--pulse] [--screen WxH] [--dpi DPI]

--pulse with --record also records through the real capture path: a private PipeWire server
with its PulseAudio service (as bench/capture_under_load.py starts it), noise played into it.
The wake-ups of a recording are given per thread too.
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
SCREEN = {}  # QUILLORY_SCREEN and QUILLORY_DPI when asked
THREADS = []  # (thread, wake-ups per second) of the last measurement, busiest first


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def switches(pid, only_main=False, kinds=("voluntary_ctxt_switches",
                                          "nonvoluntary_ctxt_switches")):
    total = 0
    for task in [str(pid)] if only_main else os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(kinds):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total


def rss_mb(pid, field="VmRSS:"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1]) / 1024.0
    return 0.0


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def thread_switches(pid):
    """{(thread id, name): voluntary context switches} of the threads of pid: each is the
    thread going back to sleep after a wake-up."""
    found = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/comm") as f:
                name = f.read().strip()
            # A thread's own folder; only its own waits, not the preemptions of a busy machine.
            found[(int(task), name)] = switches(task, True, ("voluntary_ctxt_switches",))
        except (FileNotFoundError, ProcessLookupError):
            pass
    return found


def measure_cpu(pid, seconds):
    cpu0, sw0, t0 = cpu_seconds(pid), switches(pid), time.monotonic()
    main0, threads0 = switches(pid, True), thread_switches(pid)
    time.sleep(seconds)
    cpu1, sw1, t1 = cpu_seconds(pid), switches(pid), time.monotonic()
    main1, threads1 = switches(pid, True), thread_switches(pid)
    span = t1 - t0
    per_thread = sorted(((f"{name}/{tid}" if tid != pid else "interface",
                          (count - threads0.get((tid, name), 0)) / span)
                         for (tid, name), count in threads1.items()), key=lambda t: -t[1])
    global THREADS
    THREADS = per_thread
    return (100.0 * (cpu1 - cpu0) / span, (sw1 - sw0) / span, (main1 - main0) / span)


def wait_for(path, needle, start, limit=10.0):
    while time.monotonic() - start < limit:
        try:
            with open(path) as f:
                if needle in f.read():
                    return time.monotonic() - start
        except FileNotFoundError:
            pass
        time.sleep(0.0005)
    return None


def run_once(build, env_extra, idle_seconds, root, record_seconds=0):
    if True:
        inspect = os.path.join(root, "inspect.json")
        env = dict(os.environ)
        for name in ("SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        env.update({
            "QUILLORY_CONFIG_DIR": os.path.join(root, "config"),
            "XDG_RUNTIME_DIR": root,
            "XDG_CONFIG_HOME": os.path.join(root, "xdg"),
            "HOME": root,
            "QUILLORY_AUDIO": "null",
            "QUILLORY_CARDS": "",
            "QUILLORY_INSPECT": inspect,
        })
        env.update(SCREEN)
        env.update(env_extra)
        os.chmod(root, 0o700)
        if os.path.exists(inspect):
            os.remove(inspect)
        start = time.monotonic()
        process = subprocess.Popen([os.path.join(build, "bin", "quillory")], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            splash = wait_for(inspect, "frmSplash", start)
            main = wait_for(inspect, "frmMain", start)
            result = {"splash": splash, "main": main}
            if idle_seconds > 0 and main is not None:
                time.sleep(1.0)  # let the last frames and the storage scan finish
                result["load_idle"] = load_average()
                cpu, wakeups, main_wakeups = measure_cpu(process.pid, idle_seconds)
                result["idle_cpu_percent"] = cpu
                result["wakeups_per_second"] = wakeups
                result["main_wakeups_per_second"] = main_wakeups
                result["rss_mb"] = rss_mb(process.pid)
                result["peak_mb"] = rss_mb(process.pid, "VmHWM:")
            if record_seconds > 0 and main is not None:
                # A second start hands "record" to this instance.
                subprocess.run([os.path.join(build, "bin", "quillory"), "record"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
                if wait_for(inspect, "frmRecording", time.monotonic()) is not None:
                    time.sleep(1.0)
                    result["load_record"] = load_average()
                    cpu, wakeups, main_wakeups = measure_cpu(process.pid, record_seconds)
                    result["record_cpu_percent"] = cpu
                    result["record_wakeups_per_second"] = wakeups
                    result["record_main_wakeups_per_second"] = main_wakeups
                    result["record_threads"] = THREADS
                    with open(inspect) as f:
                        result["record_background"] = '"background": true' in f.read()
                    result["record_rss_mb"] = rss_mb(process.pid)
            return result
        finally:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def report(name, runs, idle):
    splash = [r["splash"] * 1000 for r in runs if r["splash"] is not None]
    main = [r["main"] * 1000 for r in runs if r["main"] is not None]
    print(f"[{name}] runs={len(runs)}")
    if splash:
        print(f"  start -> splash on screen: median {statistics.median(splash):.1f} ms, "
              f"max {max(splash):.1f} ms")
    if main:
        print(f"  start -> main form:        median {statistics.median(main):.1f} ms, "
              f"max {max(main):.1f} ms")
    idle_runs = [r for r in runs if "idle_cpu_percent" in r]
    if idle_runs:
        r = idle_runs[0]
        print(f"  idle {idle:.0f} s: {r['idle_cpu_percent']:.3f} % of one core, "
              f"{r['wakeups_per_second']:.1f} wake-ups/s ({r['main_wakeups_per_second']:.1f} "
              f"on the interface thread), resident {r['rss_mb']:.1f} MB "
              f"(peak {r['peak_mb']:.1f} MB) (load {r['load_idle']})")
    record_runs = [r for r in runs if "record_cpu_percent" in r]
    if record_runs:
        r = record_runs[0]
        print(f"  recording at real time: {r['record_cpu_percent']:.2f} % of one core, "
              f"{r['record_wakeups_per_second']:.1f} wake-ups/s "
              f"({r['record_main_wakeups_per_second']:.1f} on the interface thread), resident "
              f"{r['record_rss_mb']:.1f} MB (load {r['load_record']})")
        print(("    window in the background (capture in long steps); " if
               r["record_background"] else "    window in front; ") +
              f"wake-ups without preemptions {sum(rate for _, rate in r['record_threads']):.1f}/s, "
              "per thread: " + ", ".join(f"{name} {rate:.1f}/s"
                                              for name, rate in r["record_threads"]
                                              if rate >= 0.5))


def recording_audio(root, seconds):
    if seconds <= 0:
        return {}
    noise = os.path.join(root, "noise.wav")
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", "-b", "16", noise, "synth", "60",
                    "pinknoise", "vol", "0.3"], check=True)
    return {"QUILLORY_AUDIO": "file", "QUILLORY_AUDIO_IN": noise, "QUILLORY_AUDIO_OUT": "",
            "QUILLORY_AUDIO_SPEED": "1", "XDG_DOCUMENTS_DIR": os.path.join(root, "documents")}


def display_config(address, method, *args):
    result = subprocess.run(["gdbus", "call", "--session", "--dest",
                             "org.gnome.Mutter.DisplayConfig", "--object-path", "/org/gnome/Mutter/DisplayConfig", "--method",
                             "org.gnome.Mutter.DisplayConfig." + method, *args],
                            env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address),
                            capture_output=True, text=True, timeout=20)
    return result.stdout if result.returncode == 0 else None


def set_wayland_scale(address, scale):
    """The monitor's scale through mutter's display configuration (not stored anywhere)."""
    state = display_config(address, "GetCurrentState")
    serial = re.search(r"^\(uint32 (\d+),", state or "")
    monitor = re.search(r"\[\(\('([^']+)'[^)]*\), \[\('([^']+)'", state or "")
    if not serial or not monitor:
        return False
    applied = f"[(0, 0, {scale:.1f},"
    config = (f"{applied} 0, true, [('{monitor[1]}', '{monitor[2]}', @a{{sv}} {{}})])]")
    if display_config(address, "ApplyMonitorsConfig", serial[1], "1", config, "@a{sv} {}") is None:
        return False
    start = time.monotonic()
    while time.monotonic() - start < 20:
        if applied in (display_config(address, "GetCurrentState") or ""):
            return True
        time.sleep(0.1)
    return False


def measure_wayland(args):
    scale = args.wayland_scale
    width, height = 480, 640
    if args.screen:
        width, height = (int(n) for n in args.screen.split("x"))
    # Room for the window at that scale (mutter maximises a window that nearly fills the
    # monitor); mutter offers scale 2 from 1600 x 960 pixels of area.
    monitor_w = max(1600, (width * 13 // 10) * scale)
    monitor_h = max(1280, (height * 13 // 10) * scale)
    monitor_w += monitor_w % 2
    monitor_h += monitor_h % 2
    with tempfile.TemporaryDirectory() as root:
        os.chmod(root, 0o700)
        address = "unix:path=" + os.path.join(root, "bus")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                "--address=" + address],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        server = None
        try:
            while not os.path.exists(os.path.join(root, "bus")):
                time.sleep(0.01)
            server_env = dict(os.environ, XDG_RUNTIME_DIR=root, DBUS_SESSION_BUS_ADDRESS=address,
                              GSETTINGS_BACKEND="memory")
            server_env.pop("DISPLAY", None)
            server_env.pop("WAYLAND_DISPLAY", None)
            server = subprocess.Popen(["mutter", "--wayland", "--headless", "--no-x11",
                                       "--wayland-display=wayland-bench", "--virtual-monitor",
                                       f"{monitor_w}x{monitor_h}"], env=server_env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            start = time.monotonic()
            while not os.path.exists(os.path.join(root, "wayland-bench")) or \
                    display_config(address, "GetCurrentState") is None:
                if time.monotonic() - start > 30 or server.poll() is not None:
                    print("[Wayland] mutter did not start")
                    return
                time.sleep(0.05)
            if scale != 1 and not set_wayland_scale(address, scale):
                print(f"[Wayland] mutter refused scale {scale}")
                return
            time.sleep(1.0)
            # The compositor has the private bus; the program none, as in the other runs (with
            # one it would also start the desktop's address books).
            env = {"WAYLAND_DISPLAY": "wayland-bench",
                   "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(root, "no-bus"),
                   **recording_audio(root, args.record)}
            if args.wayland_renderer:
                env["SDL_RENDER_DRIVER"] = args.wayland_renderer
            run_once(args.build, env, 0, root)
            runs = [run_once(args.build, env, args.idle if i == 0 else 0, root,
                             args.record if i == 0 else 0)
                    for i in range(args.runs)]
            how = f", renderer {args.wayland_renderer}" if args.wayland_renderer else ""
            report(f"Wayland, scale {scale}{how}", runs, args.idle)
        finally:
            for process in (server, bus):
                if process:
                    process.terminate()
                    process.wait()


def measure_headless(args):
    # The first start of a user creates the settings store; the later ones are the usual case.
    with tempfile.TemporaryDirectory() as root:
        audio = {}
        if args.record > 0:
            noise = os.path.join(root, "noise.wav")
            subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", "-b", "16", noise, "synth",
                            "60", "pinknoise", "vol", "0.3"], check=True)
            audio = {"QUILLORY_AUDIO": "file", "QUILLORY_AUDIO_IN": noise,
                     "QUILLORY_AUDIO_OUT": "", "QUILLORY_AUDIO_SPEED": "1",
                     "XDG_DOCUMENTS_DIR": os.path.join(root, "documents")}
        env = {"SDL_VIDEODRIVER": "offscreen", **audio}
        first = run_once(args.build, env, 0, root)
        print(f"[headless] first start ever: splash {first['splash'] * 1000:.1f} ms, "
              f"main form {first['main'] * 1000:.1f} ms")
        runs = [run_once(args.build, env, args.idle if i == 0 else 0, root,
                         args.record if i == 0 else 0)
                for i in range(args.runs)]
    report("headless", runs, args.idle)


def measure_pulse(args):
    """Recording through the sound server's own library (the real capture path), headless,
    against a private PipeWire server with pipewire-pulse; noise is played into the sink whose
    monitor the program records, so the level moves and every block is encoded."""
    from capture_under_load import process_starter, start_sound_server
    processes = []
    with tempfile.TemporaryDirectory() as root:
        os.chmod(root, 0o700)
        env = dict(os.environ)
        start = process_starter(root, env, processes)
        try:
            if not start_sound_server(root, env, start):
                print("[PulseAudio] the PipeWire server did not start")
                return
            noise = os.path.join(root, "noise.wav")
            subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", "-b", "16", noise, "synth",
                            "120", "pinknoise", "vol", "0.3"], check=True)
            start(["paplay", "--device=qvbench", noise], "player.log")
            audio = {name: env[name] for name in ("PIPEWIRE_RUNTIME_DIR", "PULSE_SERVER",
                                                  "DBUS_SESSION_BUS_ADDRESS", "DISABLE_RTKIT")}
            audio.update({"SDL_VIDEODRIVER": "offscreen", "QUILLORY_AUDIO": "sdl",
                          "SDL_AUDIODRIVER": "pulseaudio",
                          "XDG_DOCUMENTS_DIR": os.path.join(root, "documents")})
            run_once(args.build, audio, 0, root)
            runs = [run_once(args.build, audio, 0, root, args.record)]
            report("PulseAudio capture, headless", runs, 0)

        finally:
            for process in reversed(processes):
                process.terminate()
                process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--idle", type=float, default=60.0)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-headless", action="store_true")
    parser.add_argument("--no-x", action="store_true")
    parser.add_argument("--no-wayland", action="store_true")
    parser.add_argument("--wayland-scale", type=int, default=1, choices=(1, 2, 3))
    parser.add_argument("--wayland-renderer",
                        help="an SDL render driver for the Wayland runs (opengles2: over EGL)")
    parser.add_argument("--record", type=float, default=0.0,
                        help="also measure this many seconds of recording at real time")
    parser.add_argument("--pulse", action="store_true",
                        help="with --record: record headless from a private PipeWire server "
                             "through its PulseAudio service instead of the file microphone")
    parser.add_argument("--screen", help="window size in pixels, WIDTHxHEIGHT")
    parser.add_argument("--dpi", type=int, help="the density the skin is drawn for")
    args = parser.parse_args()
    if args.screen:
        SCREEN["QUILLORY_SCREEN"] = args.screen
    if args.dpi:
        SCREEN["QUILLORY_DPI"] = str(args.dpi)

    if args.pulse and args.record > 0:
        measure_pulse(args)
    if not args.no_headless:
        measure_headless(args)

    if not args.no_wayland and shutil.which("mutter") and shutil.which("dbus-daemon"):
        measure_wayland(args)
    if args.no_x or not shutil.which("Xvfb"):
        return
    display = ":87"
    server = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1.0)
        with tempfile.TemporaryDirectory() as root:
            audio = {}
            if args.record > 0:
                noise = os.path.join(root, "noise.wav")
                subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", "-b", "16", noise,
                                "synth", "60", "pinknoise", "vol", "0.3"], check=True)
                audio = {"QUILLORY_AUDIO": "file", "QUILLORY_AUDIO_IN": noise,
                         "QUILLORY_AUDIO_OUT": "", "QUILLORY_AUDIO_SPEED": "1",
                         "XDG_DOCUMENTS_DIR": os.path.join(root, "documents")}
            env = {"DISPLAY": display, "SDL_VIDEODRIVER": "x11", **audio}
            run_once(args.build, env, 0, root)
            runs = [run_once(args.build, env, args.idle if i == 0 else 0, root,
                             args.record if i == 0 else 0)
                    for i in range(args.runs)]
        report("Xvfb", runs, args.idle)
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    sys.exit(main())
