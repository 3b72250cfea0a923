"""A headless Chromium driven through its DevTools protocol over a pipe
(--remote-debugging-pipe: commands on the browser's fd 3, replies and events on fd 4,
each a JSON text ended by a NUL byte), so no port is opened and no websocket is needed.
The browser is started by pid and always stopped by pid."""
import fcntl
import json
import os
import select
import subprocess
import tempfile
import time


class Browser:
    def __init__(self, executable, log_path):
        self.profile = tempfile.mkdtemp(prefix="bm7-browser-")
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()
        # Kept clear of 3 and 4, which the child's copies take.
        to_browser_read = self._above_four(to_browser_read)
        from_browser_write = self._above_four(from_browser_write)

        def wire_pipes():
            os.dup2(to_browser_read, 3)
            os.dup2(from_browser_write, 4)

        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(
            [executable, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--no-default-browser-check", "--disable-extensions", "--mute-audio",
             "--allow-file-access-from-files", "--remote-debugging-pipe",
             "--user-data-dir=" + self.profile, "about:blank"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
            preexec_fn=wire_pipes, pass_fds=(3, 4))
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    @staticmethod
    def _above_four(descriptor):
        moved = fcntl.fcntl(descriptor, fcntl.F_DUPFD_CLOEXEC, 10)
        os.close(descriptor)
        return moved

    def close(self):
        # Asked first, so that the browser takes its helper processes down with it.
        try:
            if self.process.poll() is None:
                os.write(self.to_browser, json.dumps({"id": 0, "method": "Browser.close"}).encode() + b"\0")
                self.process.wait(timeout=5)
        except (OSError, subprocess.TimeoutExpired):
            pass
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        for descriptor in (self.to_browser, self.from_browser):
            try:
                os.close(descriptor)
            except OSError:
                pass
        self.log.close()
        subprocess.run(["rm", "-rf", self.profile], check=False)

    def _receive(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.from_browser], [], [], left)[0]:
                raise TimeoutError("the browser did not answer in time")
            data = os.read(self.from_browser, 1 << 20)
            if not data:
                raise RuntimeError("the browser closed its pipe")
            self.buffer += data
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=None, timeout=30):
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = session
        os.write(self.to_browser, json.dumps(command).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            message = self._receive(deadline)
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s failed: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def wait_for_event(self, method, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            for index, event in enumerate(self.events):
                if event.get("method") == method:
                    return self.events.pop(index)
            self.events.append(self._receive(deadline))
