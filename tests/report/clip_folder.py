"""Makes a live run's clip folder for the report tests: 16-bit mono WAVE clips at
22050 Hz holding a 4.5 kHz tone in noise, and the detection table that names them,
spread over two days and several hours, with one refused clip and names that need
escaping on a web page."""
import csv
import math
import os
import random
import struct
import wave

RATE = 22050
TONE_HZ = 4500.0
HEADER = ["begin_date_time", "start_s", "duration_s", "song_ratio", "peak_level_db", "clip"]


def write_clip(path, samples):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(struct.pack("<%dh" % len(samples), *samples))


def tone_in_noise(count, rng):
    return [int(8000 * math.sin(2 * math.pi * TONE_HZ * n / RATE) + rng.gauss(0, 60))
            for n in range(count)]


def make(folder, seed=7):
    """Returns the rows written, each a dict of the table's columns plus the clip's
    length in samples (0 for a refused clip)."""
    rng = random.Random(seed)
    os.makedirs(folder, exist_ok=True)
    rows = []
    names = ["Dick_000.00.%02d_00.wav" % n for n in range(9)]
    names += ["Dick & <friends>.wav", "Dick_#2 100%.wav", ""]
    for index, name in enumerate(names):
        day = 12 + index % 2
        hour = (index * 5) % 24
        count = 0 if not name else rng.randint(int(0.3 * RATE), int(1.6 * RATE))
        if name:
            write_clip(os.path.join(folder, name), tone_in_noise(count, rng))
        rows.append({
            "begin_date_time": "2026-05-%02dT%02d:%02d:07.250-05:00" % (day, hour, index),
            "start_s": "%.6f" % (index * 37.5),
            "duration_s": "%.6f" % ((count or 4410) / RATE),
            "song_ratio": "%.4f" % rng.uniform(1.0, 9.0),
            "peak_level_db": "%.2f" % rng.uniform(-60.0, -10.0),
            "clip": name,
            "samples": count,
        })
    with open(os.path.join(folder, "detections.csv"), "w", newline="") as table:
        writer = csv.writer(table, lineterminator="\r\n")
        writer.writerow(HEADER)
        for row in rows:
            writer.writerow([row[column] for column in HEADER])
    return rows
