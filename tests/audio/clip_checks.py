"""Checks of saved WAVE clips for the shell tests.

usage: clip_checks.py whole CLIP...        every clip's sizes agree with its file's
       clip_checks.py prefix CLIP WHOLE    CLIP's samples begin WHOLE's samples
"""
import struct
import sys


def samples(path):
    """The data chunk of a whole WAVE file; raises ValueError for a cut or padded one."""
    with open(path, "rb") as file:
        data = file.read()
    riff, size, wave = struct.unpack_from("<4sI4s", data, 0)
    if riff != b"RIFF" or wave != b"WAVE" or size != len(data) - 8:
        raise ValueError(f"{path}: RIFF size {size} for a file of {len(data)} bytes")
    at = 12
    while at + 8 <= len(data):
        name, length = struct.unpack_from("<4sI", data, at)
        if name == b"data":
            if at + 8 + length != len(data):
                raise ValueError(f"{path}: {length} data bytes announced, {len(data) - at - 8} there")
            return data[at + 8:]
        at += 8 + length + (length & 1)
    raise ValueError(f"{path}: no data chunk")


def main(arguments):
    try:
        if arguments[0] == "whole":
            for path in arguments[1:]:
                samples(path)
            return 0
        if arguments[0] == "prefix":
            part, whole = samples(arguments[1]), samples(arguments[2])
            if part and whole.startswith(part):
                return 0
            print(f"{arguments[1]} is not the start of {arguments[2]}", file=sys.stderr)
            return 1
    except (OSError, ValueError, struct.error) as fault:
        print(fault, file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
