#!/usr/bin/env python3
"""Writes the demo recording data/demo.wav: 140 frames of 8192 samples (52.01 s) of
synthetic field audio, 16-bit mono at 22050 Hz, with five song bouts the detector should
report and distractors it should not. Everything comes from the fixed timetable
below and one seeded generator, so the file is the same on every run; `--check`
regenerates it in memory and compares it with the committed file byte for byte.

Standard library only, so the demo needs nothing beyond Python 3.
"""

import argparse
import io
import math
import pathlib
import random
import sys
import wave

RATE = 22050
# A whole number of the monitor's 8192-sample frames (52.01 s), so no frame is partial.
FRAME_LENGTH = 8192
FRAME_COUNT = 140
SEED = 20260708
FULL_SCALE = 32767

DEFAULT_OUTPUT = pathlib.Path(__file__).resolve().parent.parent / "data" / "demo.wav"

# A song bout: notes of one carrier, pulsed at a rate inside the narrow modulation band.
# (start s, carrier Hz, pulse rate Hz, peak amplitude, [(note offset s, note length s), ...])
# Each bout lasts 0.9 s, so that its detection run, which outlasts the song by about half
# a second, still fits in one clip window of 32768 samples.
SONG_BOUTS = [
    (3.0, 4700.0, 67.0, 0.25, [(0.00, 0.20), (0.30, 0.16), (0.56, 0.16), (0.80, 0.10)]),
    (12.5, 4400.0, 62.0, 0.18, [(0.00, 0.14), (0.25, 0.14), (0.50, 0.14), (0.75, 0.15)]),
    (21.0, 5100.0, 72.0, 0.30, [(0.00, 0.30), (0.42, 0.20), (0.72, 0.18)]),
    (30.5, 4600.0, 58.0, 0.12, [(0.00, 0.20), (0.34, 0.20), (0.68, 0.22)]),
    (44.0, 4900.0, 76.0, 0.22, [(0.00, 0.10), (0.20, 0.10), (0.40, 0.10), (0.60, 0.30)]),
]

# Sounds that share one trait of the song but not all of them.
WHISTLE = (8.0, 4600.0, 0.15, 0.9)  # start s, frequency Hz, amplitude, length s
CLICKS = [(17.0, 0.9), (17.6, -0.8)]  # time s, peak amplitude
OFF_BAND_BOUT = (26.0, 2500.0, 67.0, 0.25, [(0.00, 0.20), (0.30, 0.16), (0.56, 0.16),
                                             (0.80, 0.10)])
SLOW_PULSED_BOUT = (37.0, 4800.0, 25.0, 0.25, [(0.00, 0.20), (0.34, 0.20), (0.68, 0.22)])

NOTE_RAMP_S = 0.008
NOTE_SWEEP_HZ = 150.0  # each note falls by twice this across its length, as real notes do
HISS_RMS = 0.006
RUMBLE_RMS = 0.02
RUMBLE_CORNER_HZ = 150.0


def raised_ramp(t, length, ramp):
    """Gain 0 to 1 over the first `ramp` seconds and back to 0 over the last."""
    if t < ramp:
        return 0.5 - 0.5 * math.cos(math.pi * t / ramp)
    if t > length - ramp:
        return 0.5 - 0.5 * math.cos(math.pi * (length - t) / ramp)
    return 1.0


def add_pulsed_note(samples, start_s, length_s, carrier_hz, pulse_hz, amplitude):
    first = int(round(start_s * RATE))
    count = int(round(length_s * RATE))
    phase = 0.0
    for n in range(count):
        t = n / RATE
        frequency = carrier_hz + NOTE_SWEEP_HZ * (1.0 - 2.0 * t / length_s)
        phase += 2.0 * math.pi * frequency / RATE
        pulse = 0.5 - 0.5 * math.cos(2.0 * math.pi * pulse_hz * t)
        gain = amplitude * pulse * raised_ramp(t, length_s, NOTE_RAMP_S)
        samples[first + n] += gain * math.sin(phase)


def add_bout(samples, bout):
    start_s, carrier_hz, pulse_hz, amplitude, notes = bout
    for offset_s, length_s in notes:
        add_pulsed_note(samples, start_s + offset_s, length_s, carrier_hz, pulse_hz, amplitude)


def add_whistle(samples):
    start_s, frequency, amplitude, length_s = WHISTLE
    first = int(round(start_s * RATE))
    for n in range(int(round(length_s * RATE))):
        t = n / RATE
        gain = amplitude * raised_ramp(t, length_s, 0.02)
        samples[first + n] += gain * math.sin(2.0 * math.pi * frequency * t)


def add_clicks(samples, rng):
    for time_s, peak in CLICKS:
        first = int(round(time_s * RATE))
        for n in range(66):  # 3 ms of decaying broadband noise
            decay = math.exp(-n / 7.0)
            samples[first + n] += peak * decay * (1.0 if n == 0 else 2.0 * rng.random() - 1.0)


def gaussian(rng):
    # Box-Muller on random() alone: random() is the one generator Python keeps stable.
    u = 1.0 - rng.random()
    return math.sqrt(-2.0 * math.log(u)) * math.cos(2.0 * math.pi * rng.random())


def background(rng, count):
    """Broadband hiss over a low wind rumble; only the hiss reaches the song band."""
    pole = math.exp(-2.0 * math.pi * RUMBLE_CORNER_HZ / RATE)
    rumble_gain = RUMBLE_RMS * math.sqrt(1.0 - pole * pole)
    rumble = 0.0
    samples = []
    for _ in range(count):
        rumble = pole * rumble + rumble_gain * gaussian(rng)
        samples.append(HISS_RMS * gaussian(rng) + rumble)
    return samples


def synthesize():
    rng = random.Random(SEED)
    samples = background(rng, FRAME_COUNT * FRAME_LENGTH)
    for bout in SONG_BOUTS:
        add_bout(samples, bout)
    add_whistle(samples)
    add_clicks(samples, rng)
    add_bout(samples, OFF_BAND_BOUT)
    add_bout(samples, SLOW_PULSED_BOUT)
    return samples


def wave_bytes(samples):
    pcm = bytearray()
    for x in samples:
        value = max(-FULL_SCALE - 1, min(FULL_SCALE, math.floor(x * FULL_SCALE + 0.5)))
        pcm += value.to_bytes(2, "little", signed=True)
    buffer = io.BytesIO()
    with wave.open(buffer, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(pcm))
    return buffer.getvalue()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", type=pathlib.Path, default=DEFAULT_OUTPUT)
    parser.add_argument("--check", action="store_true",
                        help="compare with the existing file instead of writing it")
    args = parser.parse_args()
    data = wave_bytes(synthesize())
    if args.check:
        if not args.output.exists() or args.output.read_bytes() != data:
            print(f"{args.output} differs from what this script generates", file=sys.stderr)
            return 1
        print(f"{args.output} matches the script")
        return 0
    args.output.parent.mkdir(parents=True, exist_ok=True)
    args.output.write_bytes(data)
    print(f"wrote {args.output} ({len(data)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
