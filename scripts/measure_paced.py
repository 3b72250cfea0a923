#!/usr/bin/env python3
"""Measures the monitor's steady-state CPU share on a paced file, which stands in for a
sound card: one hour made of data/demo.wav is delivered with --realtime on one core, and
after the first minute the CPU time of every thread is read from /proc (in nanoseconds,
from schedstat) for the given number of seconds. Prints the share of one core, in all
and by thread, and the cost per frame of 8192 samples.
usage: scripts/measure_paced.py [BUILD_DIR] [SECONDS] [CORE]"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else "build"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 600.0
core = sys.argv[3] if len(sys.argv) > 3 else "0"
program = os.path.join(top, build, "src", "brakmoor7")
FRAME_SECONDS = 8192 / 22050


def thread_nanoseconds(pid):
    """CPU nanoseconds so far of each thread, by thread id, with the thread's name."""
    used = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            name = open(f"/proc/{pid}/task/{task}/comm").read().strip()
            run = int(open(f"/proc/{pid}/task/{task}/schedstat").read().split()[0])
            used[task] = (name, run)
        except OSError:
            pass  # a thread that ended meanwhile
    return used


work = tempfile.mkdtemp()
monitor = None
try:
    hour = os.path.join(work, "hour.wav")
    subprocess.run(["sox"] + [os.path.join(top, "data", "demo.wav")] * 70 + [hour], check=True)
    monitor = subprocess.Popen(["taskset", "-c", core, program, "--input", hour, "--realtime",
                                "--clip-dir", os.path.join(work, "Calls"),
                                "--stop-file", os.path.join(work, "stop.txt")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(60)
    before, start = thread_nanoseconds(monitor.pid), time.monotonic()
    time.sleep(seconds)
    after, end = thread_nanoseconds(monitor.pid), time.monotonic()
    if monitor.poll() is not None:
        sys.exit("measure_paced.py: the monitor ended before the measurement did")
    elapsed = end - start
    frames = elapsed / FRAME_SECONDS
    total = 0
    lines = []
    for task, (name, run) in sorted(after.items(), key=lambda item: int(item[0])):
        used = run - before.get(task, (name, 0))[1]
        total += used
        lines.append(f"  thread {task} {name}: {100.0 * used / 1e9 / elapsed:.4f} %, "
                     f"{used / 1e3 / frames:.1f} us per frame")
    print(f"CPU over {elapsed:.0f} s after the first minute, on core {core}: "
          f"{total / 1e9:.3f} s, {100.0 * total / 1e9 / elapsed:.4f} % of one core, "
          f"{total / 1e3 / frames:.1f} us per frame")
    print("\n".join(lines))
finally:
    if monitor is not None and monitor.poll() is None:
        monitor.terminate()
        monitor.wait()
    shutil.rmtree(work, ignore_errors=True)
