#!/usr/bin/env python3
"""Opens the report of a clip folder in a real headless Chromium over file:// and checks
it as a reviewer would use it: no console error, every image loaded, every player as
long as its clip, sorting by Song Ratio, the file-name filter, and charts whose bars add
up to the detections. Leaves screenshots in the scratch folder.
Done for a live run's clip folder (brakmoor7 report) and for a scan with --report.
usage: browser_check.py BRAKMOOR7 SCRATCH_FOLDER RECORDING"""
import base64
import csv
import json
import os
import shutil
import subprocess
import sys
import wave

import clip_folder
from devtools_pipe import Browser

def evaluate(browser, session, expression):
    result = browser.send("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                               "returnByValue": True}, session)
    if "exceptionDetails" in result:
        raise RuntimeError("the page's script failed: %s" % result["exceptionDetails"])
    return result["result"].get("value")


AUDIO_DURATIONS = """
Promise.all(Array.from(document.querySelectorAll('audio')).map(a => new Promise(done => {
  const report = () => done([decodeURIComponent(a.getAttribute('src')), a.duration, a.error && a.error.code]);
  if (a.readyState >= 1 || a.error) report();
  else { a.addEventListener('loadedmetadata', report); a.addEventListener('error', report); a.load(); }
})))
"""

SONG_RATIOS = "Array.from(document.querySelectorAll('#detections tbody tr')).map(r => parseFloat(r.cells[5].dataset.sort))"


def console_errors(events):
    errors = []
    for event in events:
        method, params = event.get("method"), event.get("params", {})
        if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            errors.append(params)
        elif method == "Runtime.exceptionThrown":
            errors.append(params)
        elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
            errors.append(params["entry"])
    return errors


def wav_seconds(path):
    with wave.open(path, "rb") as audio:
        return audio.getnframes() / audio.getframerate()


def check_page(browser, session, page_folder, expected):
    """`expected`: detections, dated (with a date-time), images, players, and a filter
    text with the number of rows it keeps."""
    problems = []
    images = evaluate(browser, session, "Array.from(document.images).map(i => [i.getAttribute('src'), i.complete && i.naturalWidth > 0])")
    if len(images) != expected["images"] or not all(ok for _, ok in images):
        problems.append("images not all loaded: %r" % images)

    players = evaluate(browser, session, AUDIO_DURATIONS)
    if len(players) != expected["players"]:
        problems.append("%d players, not %d" % (len(players), expected["players"]))
    for source, duration, error in players:
        length = wav_seconds(os.path.join(page_folder, source))
        if error or duration is None or abs(duration - length) > 0.001:
            problems.append("audio %s: duration %r (error %r), file %r s" % (source, duration, error, length))

    ratios = evaluate(browser, session, SONG_RATIOS)
    if ratios != sorted(ratios, reverse=True):
        problems.append("rows do not start best first: %r" % ratios)
    header = "Array.from(document.querySelectorAll('#detections th')).find(h => h.textContent.startsWith('Song Ratio')).click()"
    evaluate(browser, session, header)
    if evaluate(browser, session, SONG_RATIOS) != sorted(ratios):
        problems.append("clicking Song Ratio did not sort the rows up")
    evaluate(browser, session, header)
    if evaluate(browser, session, SONG_RATIOS) != sorted(ratios, reverse=True):
        problems.append("clicking Song Ratio again did not sort the rows down")

    text, kept = expected["filter"]
    shown = evaluate(browser, session, """(() => { const f = document.getElementById('filter');
      f.value = '%s'; f.dispatchEvent(new Event('input'));
      return Array.from(document.querySelectorAll('#detections tbody tr')).filter(r => !r.hidden).length; })()""" % text)
    if shown != kept:
        problems.append("the filter %r left %r rows shown, not %d" % (text, shown, kept))
    evaluate(browser, session, "(() => { const f = document.getElementById('filter'); f.value = ''; f.dispatchEvent(new Event('input')); })()")

    totals = evaluate(browser, session, """Object.fromEntries(Array.from(document.querySelectorAll('svg.chart')).map(s =>
      [s.id, Array.from(s.querySelectorAll('rect.bar')).reduce((sum, r) => sum + Number(r.dataset.count), 0)]))""")
    n, dated = expected["detections"], expected["dated"]
    if totals != {"by-hour": dated, "by-day": dated, "song-ratio": n, "peak-level": n}:
        problems.append("chart bars add up to %r, not %d" % (totals, n))
    return problems


def clip_folder_report(program, scratch):
    """A live run's clip folder through `brakmoor7 report`."""
    folder = os.path.join(scratch, "clips")
    rows = clip_folder.make(folder)
    subprocess.run([program, "report", folder], check=True, stdout=subprocess.DEVNULL)
    with_clip = [row for row in rows if row["clip"]]
    kept = sum(1 for row in rows if "00.0" in row["clip"].lower())
    return os.path.join(folder, "report"), {"detections": len(rows), "dated": len(rows), "images": len(with_clip),
                                            "players": len(with_clip), "filter": ("00.0", kept)}


def scan_report(program, scratch, recording):
    """A scan of a test folder with --report: three recordings dated by their names."""
    folder = os.path.join(scratch, "recordings")
    os.makedirs(folder)
    for hour in ("04", "05", "23"):
        shutil.copy(recording, os.path.join(folder, "SITE_20260512_%s0000.wav" % hour))
    output = os.path.join(scratch, "scan-output")
    subprocess.run([program, "scan", "--quiet", "--jobs", "2", "--report", "--out", output, folder],
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(output, "detections.csv"), newline="") as table:
        rows = list(csv.DictReader(table))
    kept = sum(1 for row in rows if "050000" in row["file"])
    return os.path.join(output, "report"), {"detections": len(rows), "dated": len(rows), "images": len(rows),
                                            "players": len(rows), "filter": ("050000", kept)}


def check_in_browser(browser, page_folder, expected, screenshot):
    target = browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = browser.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    for domain in ("Page", "Runtime", "Log"):
        browser.send(domain + ".enable", {}, session)
    browser.send("Emulation.setDeviceMetricsOverride",
                 {"width": 1280, "height": 1000, "deviceScaleFactor": 1, "mobile": False}, session)
    browser.events.clear()
    browser.send("Page.navigate", {"url": "file://" + os.path.abspath(os.path.join(page_folder, "index.html"))}, session)
    browser.wait_for_event("Page.loadEventFired")
    problems = check_page(browser, session, page_folder, expected)
    problems += ["console: %s" % json.dumps(error)[:300] for error in console_errors(browser.events)]
    shot = browser.send("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True}, session)
    with open(screenshot, "wb") as image:
        image.write(base64.b64decode(shot["data"]))
    browser.send("Target.closeTarget", {"targetId": target})
    return problems


def main(program, scratch, recording):
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    reports = {"clip-folder": clip_folder_report(program, scratch),
               "scan": scan_report(program, scratch, recording)}
    problems = []
    browser = Browser(shutil.which("chromium") or "chromium", os.path.join(scratch, "browser.log"))
    try:
        for name, (page_folder, expected) in reports.items():
            screenshot = os.path.join(scratch, name + ".png")
            problems += ["%s report: %s" % (name, problem)
                         for problem in check_in_browser(browser, page_folder, expected, screenshot)]
    finally:
        browser.close()
    for problem in problems:
        print("FAIL:", problem)
    if problems:
        sys.exit(1)
    print("both reports work in the browser; screenshots in %s" % scratch)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3])
