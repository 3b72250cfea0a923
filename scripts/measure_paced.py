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

from thread_cpu import report, thread_nanoseconds

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else "build"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 600.0
core = sys.argv[3] if len(sys.argv) > 3 else "0"
program = os.path.join(top, build, "src", "brakmoor7")

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
    report(before, after, end - start, f", on core {core}")
finally:
    if monitor is not None and monitor.poll() is None:
        monitor.terminate()
        monitor.wait()
    shutil.rmtree(work, ignore_errors=True)
