#!/usr/bin/env python3
"""Runs the monitor over recordings while its secondary files are taken from it: a level
log that can no longer be written and a clip folder removed mid-run must not end the run,
and clips that share one stamp must never replace one another.
usage: station_files_test.py BRAKMOOR7 DEMO_WAV"""
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import time
import wave

program, demo = sys.argv[1], sys.argv[2]
failures = 0


def check(condition, message):
    global failures
    if not condition:
        print(f"FAILED: {message}", file=sys.stderr)
        failures += 1
    return condition


def repeat(source, target, times):
    with wave.open(source) as inp, wave.open(target, "wb") as out:
        out.setparams(inp.getparams())
        frames = inp.readframes(inp.getnframes())
        for _ in range(times):
            out.writeframes(frames)
        return out.getnframes() / out.getframerate()


def table_clips(table):
    with open(table, newline="") as rows:
        return [row["clip"] for row in csv.DictReader(rows)]


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while not condition() and time.monotonic() < end:
        time.sleep(0.01)
    return condition()


def secondary_files_taken_mid_run(work):
    # Over an hour, so that the level log gets its second line after it was taken away.
    recording = os.path.join(work, "hour.wav")
    duration = repeat(demo, recording, 70)
    # The table where a station keeps it, in the clip folder: it goes with the folder and
    # must be made again with it, or every later row is written into a removed file.
    clips, log = os.path.join(work, "Calls"), os.path.join(work, "log/LogDick.txt")
    table = os.path.join(clips, "detections.csv")
    # A pause in every clip keeps the run going long enough to be disturbed.
    monitor = subprocess.Popen(
        [program, "--input", recording, "--clip-dir", clips, "--log-file", log,
         "--stop-file", os.path.join(work, "stop.txt")],
        env=dict(os.environ, BM7_TEST_CLIP_PAUSE_MS="10"), stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE, text=True)
    try:
        started = lambda: os.path.exists(log) and os.path.isdir(clips) and os.listdir(clips)
        if not check(wait_for(started, 30), "the run wrote no log line and no clip"):
            return
        # A log that can no longer be opened for writing, whoever runs the test; a folder
        # that vanishes at once, so that no clip written meanwhile can keep it.
        os.remove(log)
        os.mkdir(log)
        os.rename(clips, clips + ".gone")
        shutil.rmtree(clips + ".gone")
        errors = monitor.communicate(timeout=300)[1]
    finally:
        if monitor.poll() is None:
            monitor.kill()
    with open(table, newline="") as rows:
        last_start = float(list(csv.DictReader(rows))[-1]["start_s"])
    check(monitor.returncode == 0, f"the run ended with {monitor.returncode}: {errors}")
    check(last_start > duration - 60, f"the last detection is at {last_start} s of {duration:.0f}")
    check("cannot append to the level log" in errors and "clip folder" in errors and
          "detection table" in errors and "had vanished; made it again" in errors,
          f"no warnings: {errors}")
    check(os.path.exists(os.path.join(clips, table_clips(table)[-1])),
          "the last clip is not in the clip folder made again")


def clips_of_one_stamp_never_replace_each_other(work):
    clips = os.path.join(work, "Calls")
    command = [program, "--input", demo, "--clip-dir", clips, "--stop-file",
               os.path.join(work, "stop.txt")]
    subprocess.run(command, capture_output=True, check=True)
    first = table_clips(os.path.join(clips, "detections.csv"))
    # Every two-digit name of every stamp of the recording is taken before it runs again,
    # by files older than the table's rows, which a start would otherwise list as clips a
    # kill left without a row.
    older = os.path.getmtime(os.path.join(clips, first[0])) - 3600
    taken = {}
    for clip in first:
        for suffix in range(1, 100):
            name = clip.replace("_00.wav", f"_{suffix:02d}.wav")
            taken[name] = name.encode()
            with open(os.path.join(clips, name), "wb") as placeholder:
                placeholder.write(taken[name])
            os.utime(os.path.join(clips, name), (older, older))
    run = subprocess.run(command, capture_output=True, text=True)
    second = table_clips(os.path.join(clips, "detections.csv"))[len(first):]
    check(run.returncode == 0, f"the second run ended with {run.returncode}: {run.stderr}")
    check(second == [clip.replace("_00.wav", "_100.wav") for clip in first],
          f"the second run's clips are {second}")
    check(all(os.path.exists(os.path.join(clips, clip)) for clip in second),
          "a row names a clip that is not there")
    replaced = [name for name, data in taken.items()
                if open(os.path.join(clips, name), "rb").read() != data]
    check(not replaced, f"clips replaced: {replaced}")


tests = [secondary_files_taken_mid_run, clips_of_one_stamp_never_replace_each_other]
failed = 0
for test in tests:
    with tempfile.TemporaryDirectory() as work:
        before = failures
        test(work)
        failed += failures > before
        print(f"{test.__name__}: {'FAILED' if failures > before else 'ok'}")
print(f"{len(tests) - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
