#!/usr/bin/env python3
"""Measures a live run as a station runs it, without sound hardware: a private PulseAudio
server with a virtual input plays data/demo.wav over and over, the monitor captures it
with its table and status file, and after the first minute its CPU time is read from
/proc for the given number of seconds. Prints the CPU share, the table's first lines and
how far its date-times lie from when each bout was played, and the status file.

The virtual input is loaded as the capture tests load it (norewinds=1, which they need so
that the start of a recording is not lost): the null sink then posts fixed 50 ms blocks
whatever its streams ask, and the sound library's thread wakes for every one of them.
With "follow" it follows the latency the monitor's stream asks for, as the server does
for a sound card; the sink then renders its blocks ahead of the wall clock, so there the
date-times come out early and say nothing about the monitor's.
usage: scripts/measure_live.py [BUILD_DIR] [SECONDS] [follow]"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from thread_cpu import report, thread_nanoseconds

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else "build"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 600.0
sink_options = "" if sys.argv[3:] == ["follow"] else " norewinds=1"
program = os.path.join(top, build, "src", "brakmoor7")
demo = os.path.join(top, "data", "demo.wav")
# Where `brakmoor7 --input data/demo.wav` puts the start of each bout's detection.
BOUT_STARTS = [2.778912, 12.279501, 20.778730, 30.280363, 43.778776]


work = tempfile.mkdtemp()
processes = []
try:
    for folder in ("home", "run"):
        os.makedirs(os.path.join(work, folder), mode=0o700)
    os.environ.update(HOME=os.path.join(work, "home"), XDG_RUNTIME_DIR=os.path.join(work, "run"),
                      PULSE_SERVER=f"unix:{work}/run/pulse/native",
                      PULSE_COOKIE=os.path.join(work, "home", "cookie"))
    with open(os.path.join(work, "virtual.pa"), "w") as config:
        config.write("load-module module-native-protocol-unix auth-anonymous=1\n"
                     "load-module module-null-sink sink_name=vsink format=s16le rate=22050 "
                     f"channels=1{sink_options}\nset-default-sink vsink\n"
                     "set-default-source vsink.monitor\n")
    server = subprocess.Popen(["pulseaudio", "--daemonize=no", "-n", "-F",
                               os.path.join(work, "virtual.pa"), "--exit-idle-time=-1",
                               "--use-pid-file=no", "--disable-shm=yes"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    processes.append(server)
    for _ in range(100):
        if subprocess.run(["pactl", "info"], capture_output=True).returncode == 0:
            break
        time.sleep(0.1)

    clips = os.path.join(work, "Calls")
    monitor = subprocess.Popen([program, "--clip-dir", clips, "--stamp", "utc",
                                "--stop-file", os.path.join(work, "stop.txt"),
                                "--status-file", os.path.join(work, "brakmoor7.prom")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    processes.append(monitor)
    time.sleep(2)

    played = []  # wall-clock time at which each pass of the recording began
    playing = threading.Event()
    playing.set()

    def play():
        while playing.is_set():
            played.append(time.time())
            subprocess.run(["paplay", demo])

    player = threading.Thread(target=play)
    player.start()
    time.sleep(60)
    before, start = thread_nanoseconds(monitor.pid), time.monotonic()
    time.sleep(seconds)
    after, end = thread_nanoseconds(monitor.pid), time.monotonic()
    report(before, after, end - start)
    shutil.copy(os.path.join(work, "brakmoor7.prom"), os.path.join(work, "status-now.prom"))
    open(os.path.join(work, "stop.txt"), "w").close()
    monitor.wait(timeout=30)
    playing.clear()
    subprocess.run(["pkill", "-f", f"paplay {demo}"])
    player.join()

    lines = open(os.path.join(clips, "detections.csv")).read().splitlines()
    print("\nThe detection table's first lines:")
    print("\n".join(lines[:6]))
    errors = []
    for line in lines[1:]:
        stamp = datetime.datetime.fromisoformat(line.split(",")[0].replace("Z", "+00:00"))
        begin = stamp.timestamp()
        # The pass and bout whose expected time lies nearest.
        nearest = min((pass_start + bout for pass_start in played for bout in BOUT_STARTS),
                      key=lambda expected: abs(expected - begin))
        errors.append(begin - nearest)
    if errors:
        errors.sort()
        print(f"\n{len(errors)} detections; table date-time minus play time: median "
              f"{errors[len(errors) // 2]:+.3f} s, range {errors[0]:+.3f} to {errors[-1]:+.3f} s")
    print("\nThe status file during the run:")
    print(open(os.path.join(work, "status-now.prom")).read())
finally:
    for process in processes:
        if process.poll() is None:
            process.terminate()
            process.wait()
    shutil.rmtree(work, ignore_errors=True)
