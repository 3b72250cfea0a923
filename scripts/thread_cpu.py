"""CPU time of a running process by thread, in nanoseconds from /proc/PID/task/*/schedstat:
the 10 ms ticks of /proc/PID/stat are too coarse for a tenth of a percent of a core."""
import os

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


def report(before, after, elapsed, where=""):
    """Prints the share of one core between two readings, in all and by thread, and the
    cost per frame of 8192 samples at 22050 Hz."""
    frames = elapsed / FRAME_SECONDS
    total = 0
    lines = []
    for task, (name, run) in sorted(after.items(), key=lambda item: int(item[0])):
        used = run - before.get(task, (name, 0))[1]
        total += used
        lines.append(f"  thread {task} {name}: {100.0 * used / 1e9 / elapsed:.4f} %, "
                     f"{used / 1e3 / frames:.1f} us per frame")
    print(f"CPU over {elapsed:.0f} s after the first minute{where}: "
          f"{total / 1e9:.3f} s, {100.0 * total / 1e9 / elapsed:.4f} % of one core, "
          f"{total / 1e3 / frames:.1f} us per frame")
    print("\n".join(lines))
