#!/usr/bin/env python3
"""Checks the spectrograms of a report with a PNG reader of its own (the standard
library's zlib only): signature, chunk order and CRCs, the decoded size, the 4.5 kHz
tone of the test clips in the row of 4.5 kHz, and the detection marks at the clips'
first and last columns.
Also checks that a scan run again with --report draws the spectrograms of the recordings
an earlier scan finished.
usage: png_check.py BRAKMOOR7 SCRATCH_FOLDER RECORDING"""
import os
import shutil
import struct
import subprocess
import sys
import zlib

import clip_folder

SIGNATURE = b"\x89PNG\r\n\x1a\n"
ROWS = 257
BIN_HZ = 22050 / 512
DETECTION_MARK = (0, 255, 0)
BAND_MARK = (0, 255, 255)


def chunks(data, name):
    if data[:8] != SIGNATURE:
        raise ValueError("%s: not a PNG signature" % name)
    position = 8
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        (crc,) = struct.unpack(">I", data[position + 8 + length:position + 12 + length])
        if zlib.crc32(kind + body) != crc:
            raise ValueError("%s: bad CRC in chunk %r" % (name, kind))
        yield kind, body
        position += 12 + length


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def unfilter(raw, width, height):
    """One byte a pixel: the palette index."""
    stride = width
    rows, previous, position = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[position], bytearray(raw[position + 1:position + 1 + stride])
        position += 1 + stride
        for i in range(stride):
            left = line[i - 1] if i >= 1 else 0
            up, corner = previous[i], (previous[i - 1] if i >= 1 else 0)
            predictor = [0, left, up, (left + up) // 2, paeth(left, up, corner)][kind]
            line[i] = (line[i] + predictor) & 0xFF
        rows.append(line)
        previous = line
    if position != len(raw):
        raise ValueError("image data longer than its rows")
    return rows


def decode(path):
    with open(path, "rb") as source:
        data = source.read()
    found = list(chunks(data, path))
    kinds = [kind for kind, _ in found]
    if kinds[0] != b"IHDR" or kinds[-1] != b"IEND" or b"IDAT" not in kinds:
        raise ValueError("%s: chunks out of order: %r" % (path, kinds))
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", found[0][1])
    if (depth, colour, interlace) != (8, 3, 0) or kinds.index(b"PLTE") > kinds.index(b"IDAT"):
        raise ValueError("%s: not an 8-bit palette image without interlace" % path)
    palette = next(body for kind, body in found if kind == b"PLTE")
    raw = zlib.decompress(b"".join(body for kind, body in found if kind == b"IDAT"))
    rows = unfilter(raw, width, height)
    return width, height, lambda x, y: tuple(palette[3 * rows[y][x]:3 * rows[y][x] + 3])


def check_image(path):
    width, height, pixel = decode(path)
    assert height == ROWS, "%s: %d rows" % (path, height)
    tone_row = ROWS - 1 - round(clip_folder.TONE_HZ / BIN_HZ)
    column = width // 2
    rows = [y for y in range(height) if pixel(column, y) not in (DETECTION_MARK, BAND_MARK)]
    brightest = max(rows, key=lambda y: sum(pixel(column, y)))
    assert abs(brightest - tone_row) <= 1, "%s: brightest row %d, not %d" % (path, brightest, tone_row)
    marked = [x for x in range(width) if pixel(x, 0) == DETECTION_MARK]
    assert marked == [0, width - 1], "%s: marks at %r" % (path, marked)


def check_resumed_scan(program, scratch, recording):
    folder = os.path.join(scratch, "recordings")
    os.makedirs(folder)
    shutil.copy(recording, os.path.join(folder, "SITE_20260512_040000.wav"))
    output = os.path.join(scratch, "scan-output")
    scan = [program, "scan", "--quiet", "--jobs", "2", "--out", output, folder]
    subprocess.run(scan, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(scan + ["--report"], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(output, "detections.csv"), encoding="utf-8") as table:
        detections = len(table.readlines()) - 1
    media = os.path.join(output, "report", "media", "SITE_20260512_040000")
    images = sorted(name for name in os.listdir(media) if name.endswith(".png"))
    assert detections > 0 and images == ["%03d.png" % i for i in range(detections)], images
    for name in images:
        decode(os.path.join(media, name))


def main(program, scratch, recording):
    shutil.rmtree(scratch, ignore_errors=True)
    folder = os.path.join(scratch, "clips")
    rows = clip_folder.make(folder)
    subprocess.run([program, "report", folder], check=True, stdout=subprocess.DEVNULL)
    media = os.path.join(folder, "report", "media")
    names = sorted(os.path.join(top, name) for top, _, files in os.walk(media) for name in files)
    assert len(names) == sum(1 for row in rows if row["clip"]), names
    for name in names:
        check_image(name)
    print("%d spectrograms decode and show the tone and the marks" % len(names))
    check_options(program, scratch, folder)
    check_missing_clip(program, folder, rows)
    check_resumed_scan(program, scratch, recording)


def check_options(program, scratch, folder):
    """The short form of --out is taken; an unknown dash is refused, not read as a folder."""
    elsewhere = os.path.join(scratch, "elsewhere")
    subprocess.run([program, "report", "-o", elsewhere, folder], check=True,
                   stdout=subprocess.DEVNULL)
    assert os.path.exists(os.path.join(elsewhere, "index.html"))
    refused = subprocess.run([program, "report", "-x", folder], capture_output=True, text=True)
    assert refused.returncode == 1 and "-x" in refused.stderr, refused.stderr


def check_missing_clip(program, folder, rows):
    """A clip the table names but the folder lacks still leaves a page, with status 2."""
    os.remove(os.path.join(folder, rows[0]["clip"]))
    result = subprocess.run([program, "report", folder], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    assert result.returncode == 2, "status %d" % result.returncode
    assert rows[0]["clip"] in result.stderr, result.stderr
    with open(os.path.join(folder, "report", "index.html"), encoding="utf-8") as page:
        assert page.read().count("<tr data-file") == len(rows)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3])
