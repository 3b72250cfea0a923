#!/usr/bin/env python3
"""Opens the report of a clip folder in a real headless Chromium over file:// and checks
it as a reviewer would use it: no console error, every image loaded, every player as
long as its clip, sorting by Song Ratio, the file-name filter, and charts whose bars add
up to the detections. Leaves a screenshot in the scratch folder.
usage: browser_check.py BRAKMOOR7 SCRATCH_FOLDER"""
import base64
import json
import os
import shutil
import subprocess
import sys

import clip_folder
from devtools_pipe import Browser

RATE = clip_folder.RATE


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


def check_page(browser, session, rows):
    problems = []
    dated = len(rows)
    images = evaluate(browser, session, "Array.from(document.images).map(i => [i.getAttribute('src'), i.complete && i.naturalWidth > 0])")
    with_clip = [row for row in rows if row["clip"]]
    if len(images) != len(with_clip) or not all(ok for _, ok in images):
        problems.append("images not all loaded: %r" % images)

    expected = {"../" + row["clip"]: row["samples"] / RATE for row in with_clip}
    for source, duration, error in evaluate(browser, session, AUDIO_DURATIONS):
        if error or source not in expected or abs(duration - expected[source]) > 0.001:
            problems.append("audio %s: duration %r (error %r), clip %r s" % (source, duration, error, expected.get(source)))

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

    wanted = "00.0"
    shown = evaluate(browser, session, """(() => { const f = document.getElementById('filter');
      f.value = '%s'; f.dispatchEvent(new Event('input'));
      return Array.from(document.querySelectorAll('#detections tbody tr')).filter(r => !r.hidden).length; })()""" % wanted)
    if shown != sum(1 for row in rows if wanted in row["clip"].lower()) or shown >= len(rows):
        problems.append("the filter left %r rows shown" % shown)
    evaluate(browser, session, "(() => { const f = document.getElementById('filter'); f.value = ''; f.dispatchEvent(new Event('input')); })()")

    totals = evaluate(browser, session, """Object.fromEntries(Array.from(document.querySelectorAll('svg.chart')).map(s =>
      [s.id, Array.from(s.querySelectorAll('rect.bar')).reduce((sum, r) => sum + Number(r.dataset.count), 0)]))""")
    if totals != {"by-hour": dated, "by-day": dated, "song-ratio": len(rows), "peak-level": len(rows)}:
        problems.append("chart bars add up to %r, not %d" % (totals, len(rows)))
    return problems


def main(program, scratch):
    shutil.rmtree(scratch, ignore_errors=True)
    folder = os.path.join(scratch, "clips")
    rows = clip_folder.make(folder)
    subprocess.run([program, "report", folder], check=True, stdout=subprocess.DEVNULL)
    page = "file://" + os.path.abspath(os.path.join(folder, "report", "index.html"))

    browser = Browser(shutil.which("chromium") or "chromium", os.path.join(scratch, "browser.log"))
    try:
        target = browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = browser.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            browser.send(domain + ".enable", {}, session)
        browser.send("Emulation.setDeviceMetricsOverride",
                     {"width": 1280, "height": 1000, "deviceScaleFactor": 1, "mobile": False}, session)
        browser.send("Page.navigate", {"url": page}, session)
        browser.wait_for_event("Page.loadEventFired")
        problems = check_page(browser, session, rows)
        problems += ["console: %s" % json.dumps(error)[:300] for error in console_errors(browser.events)]
        shot = browser.send("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True}, session)
        with open(os.path.join(scratch, "report.png"), "wb") as image:
            image.write(base64.b64decode(shot["data"]))
    finally:
        browser.close()
    for problem in problems:
        print("FAIL:", problem)
    if problems:
        sys.exit(1)
    print("the report works in the browser; screenshot in %s" % os.path.join(scratch, "report.png"))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
