#!/usr/bin/env python3
"""Runs the monitor as a service manager would, on a paced recording with one song bout:
readiness, watchdog pings and the stop reach a notification socket made here; the live
detection table dates the bout by the system clock to within half a second, survives
a cut last line and gives a row to a clip a kill left without one; the status file
parses as Prometheus text.
usage: live_station_test.py BRAKMOOR7 DEMO_WAV"""
import datetime
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import wave

program, demo = sys.argv[1], sys.argv[2]
HEADER = "begin_date_time,start_s,duration_s,song_ratio,peak_level_db,clip"


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def cut(source, target, seconds):
    with wave.open(source) as inp, wave.open(target, "wb") as out:
        out.setparams(inp.getparams())
        out.writeframes(inp.readframes(int(seconds * inp.getframerate())))


def parse_exposition(text):
    sample = re.compile(r"(brakmoor7_[a-z_]+) ([-+]?(\d+(\.\d*)?([eE][-+]?\d+)?|Inf|NaN))$")
    described, values = set(), {}
    for line in text.splitlines():
        if line.startswith("# HELP ") or line.startswith("# TYPE "):
            described.add((line[2:6], line.split()[2]))
            continue
        match = sample.match(line)
        if not match or ("HELP", match[1]) not in described or ("TYPE", match[1]) not in described:
            fail(f"not Prometheus text: {line!r}")
        values[match[1]] = match[2]
    return values


with tempfile.TemporaryDirectory() as work:
    recording = os.path.join(work, "bout.wav")
    cut(demo, recording, 6.0)  # the demo's first bout starts 2.8 s in
    clips = os.path.join(work, "Calls")
    status_file = os.path.join(work, "brakmoor7.prom")
    manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    manager.bind(os.path.join(work, "notify"))
    environment = dict(os.environ, NOTIFY_SOCKET=os.path.join(work, "notify"),
                       WATCHDOG_USEC="1000000")
    command = [program, "--input", recording, "--realtime", "--clip-dir", clips,
               "--log-file", os.path.join(clips, "levels.txt"),
               "--stop-file", os.path.join(work, "stop.txt"), "--status-file", status_file]
    # Read as the manager does, at once: a full socket queue would block the monitor.
    messages = []
    manager.settimeout(0.2)
    listening = threading.Event()
    listening.set()

    def listen():
        while listening.is_set():
            try:
                messages.append(manager.recv(512).decode())
            except socket.timeout:
                pass

    listener = threading.Thread(target=listen)
    listener.start()
    started = time.time()
    run = subprocess.run(command, env=environment, capture_output=True, text=True, timeout=60)
    time.sleep(0.3)
    listening.clear()
    listener.join()
    if run.returncode != 0:
        fail(f"the monitor failed with {run.returncode}: {run.stderr}")
    if messages[:1] != ["READY=1"] or "WATCHDOG=1" not in messages or messages[-1] != "STOPPING=1":
        fail(f"the service manager heard {messages}")

    table = os.path.join(clips, "detections.csv")
    lines = open(table).read().splitlines()
    if lines[0] != HEADER or len(lines) != 2:
        fail(f"unexpected table: {lines}")
    fields = lines[1].split(",")
    begin = datetime.datetime.fromisoformat(fields[0].replace("Z", "+00:00")).timestamp()
    expected = started + float(fields[1])
    print(f"table date-time minus the system clock's: {begin - expected:+.3f} s")
    if abs(begin - expected) > 0.5:
        fail(f"the bout is dated {begin - expected:+.3f} s off: {lines[1]}")
    if not os.path.exists(os.path.join(clips, fields[5])):
        fail(f"the table names a clip that is not there: {fields[5]}")

    values = parse_exposition(open(status_file).read())
    if values["brakmoor7_up"] != "0" or values["brakmoor7_detections_total"] != "1" \
            or values["brakmoor7_clips_saved_total"] != "1" or len(values) != 11:
        fail(f"unexpected status: {values}")

    # A power cut in the middle of a line: the next run drops it and appends after it.
    with open(table, "a") as damaged:
        damaged.write("2026-12-08T23:1")
    run = subprocess.run(command, capture_output=True, text=True, timeout=60)
    lines = open(table).read().splitlines()
    if run.returncode != 0 or lines[0] != HEADER or len(lines) != 3 or \
            any(not re.match(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,", line) for line in lines[1:]):
        fail(f"the cut line was not repaired: {lines} {run.stderr}")

    # A kill between a clip and its row: the next start gives the clip a row of its own.
    orphan = "Dick_000.00.59_00.wav"
    with open(os.path.join(clips, fields[5]), "rb") as saved, \
            open(os.path.join(clips, orphan), "wb") as copy:
        copy.write(saved.read())
    fast = [argument for argument in command if argument != "--realtime"]
    for attempt in range(2):
        run = subprocess.run(fast, capture_output=True, text=True, timeout=60)
        rows = [line for line in open(table).read().splitlines() if line.endswith(orphan)]
        if run.returncode != 0 or rows != [",,,,," + orphan] or \
                (orphan in run.stderr) != (attempt == 0):
            fail(f"restart {attempt + 1}: the orphan clip's rows are {rows}: {run.stderr}")
print("1 passed, 0 failed")
