"""The room screen end to end: two screens beside three phones and a direct player.

The real qovaweb plays against the native engine (qova_try_server) as in
e2e_test.py: three phones (Ann, Bo and Cy, who reloads her page in the middle
of every question) and one test_player, through two rounds of three
questions. Two screens follow the game on /screen, one at 1280x720 and one at
1920x1080; the small one is reloaded in the middle of a question and must
show that question again at once.

The engine's room feed is open, as QOVAHOST's is on the gateway's own computer,
so the screen counts the direct player too. Checked: the views each screen went
through (the lobby with the names, every question with its answered count, every reveal,
both rounds' standings and the podium at the end); the question text at
least 40 px high at 1280x720; and, on every WebSocket frame the screens
received (chromium's performance log), that no frame before a question's
reveal holds its correct response or the counts, and that each reveal
counts all four players and holds every phone's choice. Screenshots of every view go to
$QOVA_SHOT_DIR (default build/native/web-shots-screen).

Run it in a network namespace of its own (the engine listens on port 5632):
  unshare -n bash -c 'ip link set lo up; /usr/bin/python3 tests/web/screen_e2e_test.py'
"""

import json
import os
import signal
import subprocess
import sys
import threading
import time
import traceback
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

sys.path.insert(0, os.path.dirname(__file__))
import e2e_test  # noqa: E402
from e2e_test import BIN_DIR, BrowserPlayer, Program, free_port, quit_driver  # noqa: E402

SHOT_DIR = os.environ.get("QOVA_SHOT_DIR", os.path.join(BIN_DIR, "web-shots-screen"))
RUN_DIR = os.path.join(BIN_DIR, "web-screen-run")
PHONES = [p for p in e2e_test.BROWSERS if p[0] in ("Ann", "Bo", "Cy")]
SCREENS = [(1280, 720), (1920, 1080)]
VIEWS = ["idle", "lobby", "question", "reveal", "standings", "end"]

# The lowest contrast of any visible text on the page against the background
# behind it (WCAG's relative luminance), with the text it belongs to.
LOWEST_CONTRAST_JS = """
function rgb(c) { var m = c.match(/[\\d.]+/g).map(Number); return m; }
function lum(c) {
  var v = rgb(c).slice(0, 3).map(function (x) {
    x /= 255; return x <= 0.03928 ? x / 12.92 : Math.pow((x + 0.055) / 1.055, 2.4); });
  return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2];
}
function background(e) {
  for (; e; e = e.parentElement) {
    var c = getComputedStyle(e).backgroundColor, a = rgb(c);
    if (a.length < 4 || a[3] > 0) return c;
  }
  return "rgb(255,255,255)";
}
var worst = [99, ""];
document.querySelectorAll("body *").forEach(function (e) {
  var own = Array.from(e.childNodes).some(function (n) { return n.nodeType === 3 && n.textContent.trim(); });
  if (!own || !e.offsetParent || e.closest(".sr-only")) return;
  var a = lum(getComputedStyle(e).color), b = lum(background(e));
  var r = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  if (r < worst[0]) worst = [r, e.textContent.trim().slice(0, 40)];
});
return worst;
"""


def screen_driver(width, height, profile):
    opts = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
              "--window-size=%d,%d" % (width, height + 150), "--user-data-dir=" + profile):
        opts.add_argument(a)
    opts.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=opts)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    return driver


class Screen:
    """One room screen; watch() runs in a thread of its own until stopped."""

    def __init__(self, size):
        self.size = size
        self.profile = os.path.join(RUN_DIR, "profile-screen-%dx%d" % size)
        self.driver = screen_driver(size[0], size[1], self.profile)
        self.lock = threading.Lock()  # the driver is used by one thread at a time
        self.phases = []   # the phases seen, each once per change
        self.frames = []   # (wall ms, payload) of every frame received
        self.shots = set()
        self.contrast = {}  # phase -> [lowest contrast, its text]
        self.reloaded = None
        self.stop = False
        self.error = None

    def js(self, script):
        with self.lock:
            return self.driver.execute_script(script)

    def phase(self):
        return self.js("return document.body.getAttribute('data-phase') || 'none';")

    def collect_frames(self):
        with self.lock:
            for entry in self.driver.get_log("performance"):
                m = json.loads(entry["message"])["message"]
                if m["method"] == "Network.webSocketFrameReceived":
                    self.frames.append((entry["timestamp"], m["params"]["response"]["payloadData"]))

    def shot(self, phase):
        if phase in self.shots:
            return
        if phase in ("reveal", "standings", "end"):
            time.sleep(1.0)  # the bars and the table settle
        path = os.path.join(SHOT_DIR, "screen-%s-%dx%d.png" % ((phase,) + self.size))
        with self.lock:
            self.driver.save_screenshot(path)
            self.contrast[phase] = self.driver.execute_script(LOWEST_CONTRAST_JS)
        if self.phase() == phase:
            self.shots.add(phase)

    def watch(self):
        try:
            while not self.stop:
                p = self.phase()
                if not self.phases or self.phases[-1] != p:
                    self.phases.append(p)
                if p in VIEWS:
                    self.shot(p)
                self.collect_frames()
                time.sleep(0.1)
        except Exception:  # noqa: BLE001 - reported by the main thread
            self.error = traceback.format_exc()

    def reload_mid_question(self):
        """Reloads the page while a question shows; it must come back with that question at once."""
        with self.lock:
            text = self.driver.execute_script("return document.getElementById('q-text').textContent;")
            t0 = time.monotonic()
            self.driver.refresh()
            while time.monotonic() - t0 < 5:
                back = self.driver.execute_script(
                    "return [document.body.getAttribute('data-phase'),"
                    " document.getElementById('q-text').textContent];")
                if back[0] in ("question", "reveal") and back[1] == text:
                    self.reloaded = (text, time.monotonic() - t0)
                    return
                time.sleep(0.05)
        raise AssertionError("the screen did not come back to %r" % text)


class ScreenTest(unittest.TestCase):
    def setUp(self):
        import shutil
        shutil.rmtree(RUN_DIR, ignore_errors=True)
        os.makedirs(RUN_DIR)
        os.makedirs(SHOT_DIR, exist_ok=True)
        e2e_test.RUN_DIR = RUN_DIR
        e2e_test.SHOT_DIR = os.path.join(RUN_DIR, "phone-shots")
        self.server = Program("qova_try_server",
                              [os.path.join(BIN_DIR, "tools/qova_try_server"), "--time-limit",
                               str(e2e_test.TIME_LIMIT_S), "--per-round", str(e2e_test.PER_ROUND)],
                              cwd=RUN_DIR, stdin=subprocess.PIPE)
        self.addCleanup(self.server.stop)
        self.assertTrue(self.server.wait_line(r"^Lobby open on port 5632", 60), self.server.output())
        for _ in range(5):
            port = free_port()
            gateway = Program("qovaweb", [os.path.join(BIN_DIR, "web/gateway/qovaweb"), "--server", "127.0.0.1",
                                          "--http-port", str(port)])
            self.addCleanup(gateway.stop)
            if gateway.wait_line(r"^Players join at:", 60):
                break
            gateway.stop()
        else:
            self.fail("the gateway did not start:\n" + gateway.output())
        self.gateway = gateway
        self.must_run = [self.server, self.gateway]
        self.base = "http://127.0.0.1:%d" % port
        self.assertTrue(gateway.wait_line(r"^Room screen \(for the projector\): http://.*/screen$", 10),
                        gateway.output())
        self.screens = []
        for size in SCREENS:
            s = Screen(size)
            self.addCleanup(quit_driver, s.driver, s.profile)
            self.screens.append(s)
        self.players = []
        for setup in PHONES:
            p = BrowserPlayer(self, *setup[:5], False)
            self.addCleanup(quit_driver, p.driver, p.profile)
            self.players.append(p)

    def check_programs(self):
        for prog in list(self.must_run):
            if prog.proc.poll() is not None:
                raise AssertionError("%s ended:\n%s" % (prog.name, prog.output()))

    def test_the_screen_follows_two_rounds(self):
        for s in self.screens:
            s.driver.get(self.base + "/screen")
        watchers = [threading.Thread(target=s.watch, daemon=True) for s in self.screens]
        for t in watchers:
            t.start()
        # Nobody seated yet: the room feed of the server on this computer shows its
        # empty lobby at once, so the idle view (no web player, no feed) may not come.
        time.sleep(2)
        for p in self.players:
            p.join(self.base)
        time.sleep(2)  # the lobby with every name
        names = self.screens[0].js(
            "return Array.from(document.querySelectorAll('#lobby-names li')).map(e => e.textContent);")
        self.assertEqual(names, ["Ann", "Bo", "Cy"])
        self.assertEqual(self.screens[0].js("return document.getElementById('lobby-count').textContent;"),
                         "3 players have joined")
        tester = Program("test_player",
                         [os.path.join(BIN_DIR, "tools/test_player"), "--names", e2e_test.TESTER,
                          "--times", ":".join(e2e_test.TESTER_TIMES), "--verdicts", e2e_test.TESTER_VERDICTS,
                          "--delay", "300", "--timeout", "300000", "--connect-retry", "10000"])
        self.addCleanup(tester.stop)
        self.assertTrue(self.server.wait_line(r"^Players connected: 4$", 60), self.server.output())
        self.server.proc.stdin.write("\n")
        self.server.proc.stdin.flush()
        game_start = time.monotonic()
        threads = [threading.Thread(target=p.play, args=(game_start,), daemon=True) for p in self.players]
        for t in threads:
            t.start()
        # The small screen is reloaded during a question after the first reveal.
        small = self.screens[0]
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            # The first question after the first reveal.
            if "reveal" in small.phases and small.phase() == "question":
                small.reload_mid_question()
                break
            time.sleep(0.02)
        for t in threads:
            t.join(600)
        errors = [p.error for p in self.players if p.error]
        if errors:
            self.fail("\n".join(errors) + "\ngateway:\n" + self.gateway.output())
        time.sleep(7)  # the second round's standings on screen
        self.server.proc.send_signal(signal.SIGINT)
        self.assertEqual(self.server.finish(60), 0, self.server.output())
        self.must_run.remove(self.server)
        time.sleep(3)  # the podium
        for s in self.screens:
            s.stop = True
        for t in watchers:
            t.join(30)
        for s in self.screens:
            s.collect_frames()
        self.assertIsNotNone(small.reloaded)
        print("small screen back after its reload in %.2f s" % small.reloaded[1], file=sys.stderr)

        for s in self.screens:
            self.assertIsNone(s.error, s.error)
            self.assertLessEqual(set(VIEWS) - {"idle"}, s.shots, "%s: views shot" % (s.size,))
            seen = [p for p in s.phases if p in VIEWS]
            self.assertEqual(seen[-1], "end", seen)
            self.assertEqual(seen.count("standings"), 2, seen)
            podium = s.js("return Array.from(document.querySelectorAll('#podium .pname')).map(e => e.textContent);")
            self.assertEqual(len(podium), 3, podium)
            self.assertLessEqual(set(podium), {"Ann", "Bo", "Cy", e2e_test.TESTER})
            # Announced to screen readers; the correct response marked in words too.
            said = s.js("var a = document.getElementById('announce');"
                        " return [a.getAttribute('aria-live'), a.textContent];")
            self.assertEqual(said[0], "polite")
            self.assertTrue(said[1].startswith("Game over. Place 1, "), said)
            self.check_frames(s)
            for phase, (ratio, text) in s.contrast.items():
                print("%s %s: lowest text contrast %.1f (%r)" % (s.size, phase, ratio, text), file=sys.stderr)
                self.assertGreaterEqual(ratio, 4.5, "%s %s: %r" % (s.size, phase, text))
        # Readable from the back of the room.
        size = self.screens[0].js(
            "return parseFloat(getComputedStyle(document.getElementById('q-text')).fontSize);")
        self.assertGreaterEqual(size, 40)

    def check_frames(self, screen):
        questions = {}  # (round, number) -> ("question"/"reveal", wall ms) of its first frames
        n = 0
        for at, payload in screen.frames:
            m = json.loads(payload)
            self.assertIn(m["t"], ("screen", "screen.count"), payload)
            self.assertLess(len(payload), 4096, payload)
            if m["t"] == "screen.count":
                self.assertEqual(set(m), {"t", "answered", "seated"}, payload)
                continue
            if m["view"] == "question":
                for key in ("correct", "counts", "fastest", "right"):
                    self.assertNotIn(key, m, payload)
                questions.setdefault((m["round"], m["number"]), at)
            elif m["view"] == "reveal":
                key = (m["round"], m["number"])
                self.assertIn(key, questions, "a reveal before its question: " + payload)
                if ("reveal",) + key in questions:
                    continue
                questions[("reveal",) + key] = at
                # The server sends results only once everyone has answered: the
                # room feed counts every player, the three phones and the direct
                # test player, and the bars hold every phone's choice.
                self.assertEqual((m["answered"], m["seated"]), (4, 4), payload)
                self.assertLessEqual(len(m["counts"]), 5)
                self.assertEqual(sum(m["counts"]), 3, payload)
                self.assertEqual((m["countsOf"], m["phones"]), ("phones", 3), payload)
                self.assertEqual(m["players"], 4, payload)
                n += 1
        self.assertEqual(n, e2e_test.ROUNDS * e2e_test.PER_ROUND, "reveals received")


if __name__ == "__main__":
    unittest.main(verbosity=2)
