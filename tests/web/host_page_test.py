"""The host page (/host) on a 390x844 phone, in real chromium and real WebKit.

The real qovaweb plays against 127.0.0.1 and reads the room feed on
127.0.0.1 port 5633; a scripted feed (FeedServer of screen_feed_test, here
also reading the gateway's COMMAND lines and answering them as the
server's side of the feed does) stands in for QOVAHOST.

- No key in the link: no socket, no state, no controls.
- A wrong key: denied; the right key from the same address inside that
  second is denied too; once the second is over the right key is taken.
- The right key: the lobby and its players by number; Start refused, then
  done; a question with "N of M answered"; Hold (the button reads Go On),
  End Question, Remove (asked first, naming the player), Go On; each
  answer shown; the feed gone: the nofeed message.
- chromium only: the room screen's "Paused" over the reveal.

QOVA_BROWSER=chromium|webkit picks the browser (default chromium); WebKit
needs an X display (an Xvfb is started when DISPLAY is not set).
Screenshots go to $QOVA_SHOT_DIR (default build/native/web-shots-host).
Run it in a network namespace of its own (ports 5633 and the gateway's):
  unshare -n bash -c 'ip link set lo up; /usr/bin/python3 tests/web/host_page_test.py'
"""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(__file__))
from e2e_test import BIN_DIR, Program, free_port, quit_driver  # noqa: E402
from screen_feed_test import FeedServer  # noqa: E402
from screen_e2e_test import screen_driver  # noqa: E402

BROWSER = os.environ.get("QOVA_BROWSER", "chromium")
SHOT_DIR = os.environ.get("QOVA_SHOT_DIR", os.path.join(BIN_DIR, "web-shots-host"))
RUN_DIR = os.path.join(BIN_DIR, "web-host-run-" + BROWSER)
WRONG_KEY = "f" * 32


def read_line(feed, timeout=5):
    """The gateway's next line on the feed, CR LF stripped."""
    feed.client.settimeout(timeout)
    line = b""
    while not line.endswith(b"\r\n"):
        b = feed.client.recv(1)
        if not b:
            break
        line += b
    return line.decode("cp1252")[:-2]


def phone_driver(profile):
    if BROWSER == "webkit":
        o = webdriver.WebKitGTKOptions()
        o.binary_location = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"
        o.add_argument("--automation")
        d = webdriver.WebKitGTK(executable_path="/usr/bin/WebKitWebDriver", options=o)
        d.set_window_size(390, 844)
        return d
    opts = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=390,844",
              "--user-data-dir=" + profile):
        opts.add_argument(a)
    d = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=opts)
    d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                      {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
    return d


def close_driver(driver, profile):
    if BROWSER == "webkit":
        try:
            driver.quit()
        except Exception:  # noqa: BLE001 - nothing more to do for a dead driver
            pass
    else:
        quit_driver(driver, profile)


class HostPageMixin:
    """The host page's helpers for a test case whose self.driver shows it."""

    def js(self, script):
        return self.driver.execute_script(script)

    def until(self, check, what, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            v = check()
            if v:
                return v
            time.sleep(0.05)
        self.shot("failed")
        raise AssertionError("never: %s (notice %r, stage %r, answer %r)" % (
            what, self.text("notice"), self.text("stage"), self.text("answer")))

    def text(self, id_):
        return self.js("var e = document.getElementById('%s'); return e ? e.textContent : null;" % id_)

    def shown(self, id_):
        return self.js("var e = document.getElementById('%s'); return !!e && !e.hidden &&"
                       " e.getClientRects().length > 0;" % id_)

    def shot(self, name):
        self.driver.save_screenshot(os.path.join(SHOT_DIR, "host-%s-%s.png" % (BROWSER, name)))

    def click(self, id_):
        self.driver.find_element(By.ID, id_).click()

    def enter_with_keys(self, base, key):
        """The page without a key, with a wrong key, with the right key inside the
        wrong one's second (denied) and after it; it then shows the game."""
        # No key: nothing but the notice.
        self.driver.get(base + "/host")
        self.until(lambda: "needs the host link" in (self.text("notice") or ""), "the no-key notice")
        self.assertFalse(self.shown("controls"))
        self.shot("nokey")

        # A wrong key; the right one inside that second; the right one after it.
        self.driver.get("about:blank")  # a new page, not a move within the old one
        self.driver.get(base + "/host#" + WRONG_KEY)
        self.until(lambda: "not valid" in (self.text("notice") or ""), "the denial")
        denied_at = time.monotonic()
        self.assertFalse(self.shown("controls"))
        self.shot("wrongkey")
        self.driver.get("about:blank")
        self.driver.get(base + "/host#" + key)
        self.until(lambda: self.js("return document.body.getAttribute('data-stage')") in
                   ("denied", "lobby"), "an answer to the key")
        stage = self.js("return document.body.getAttribute('data-stage')")
        if time.monotonic() - denied_at < 0.9:
            self.assertEqual(stage, "denied")
        time.sleep(max(0, denied_at + 1.1 - time.monotonic()))
        self.driver.get("about:blank")
        self.driver.get(base + "/host#" + key)
        self.until(lambda: self.js("return document.body.getAttribute('data-stage')") not in
                   ("none", "denied"), "the game after the right key")


class HostPageTest(HostPageMixin, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # One X display for every test of the class: WebKit's browser hangs
        # its driver when the display it was given has gone.
        if BROWSER == "webkit" and not os.environ.get("DISPLAY"):
            xvfb = subprocess.Popen(["Xvfb", ":57", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.environ["DISPLAY"] = ":57"

            def stop():
                del os.environ["DISPLAY"]
                xvfb.terminate()
                xvfb.wait(10)
            cls.addClassCleanup(stop)
            time.sleep(1.5)

    def setUp(self):
        shutil.rmtree(RUN_DIR, ignore_errors=True)
        os.makedirs(RUN_DIR)
        os.makedirs(SHOT_DIR, exist_ok=True)
        self.feed = FeedServer()
        self.addCleanup(self.feed.close)
        port = free_port()
        self.gateway = Program("qovaweb", [os.path.join(BIN_DIR, "web/gateway/qovaweb"), "--server",
                                           "127.0.0.1", "--http-port", str(port), "--hold-ms", "1500"])
        self.addCleanup(self.gateway.stop)
        line = self.gateway.wait_line(r"^Host controls: ", 60)
        self.assertTrue(line, self.gateway.output())
        m = re.match(r"^Host controls: http://[0-9.]+:%d/host#([0-9a-f]{32})$" % port, line)
        self.assertTrue(m, line)
        self.key = m.group(1)
        self.base = "http://127.0.0.1:%d" % port
        self.assertTrue(self.feed.accept(), self.feed.client_line)
        profile = os.path.join(RUN_DIR, "profile-host")
        self.driver = phone_driver(profile)
        self.addCleanup(close_driver, self.driver, profile)

    def command(self, id_, verb, reply):
        """Clicks, reads the command on the feed, answers it; returns the tag."""
        self.click(id_)
        line = read_line(self.feed)
        m = re.match(r"^COMMAND\t([0-9]{1,9})\t(.*)$", line)
        self.assertTrue(m, line)
        self.assertEqual(m.group(2), verb)
        tag = m.group(1)
        self.feed.send(*[r.replace("{tag}", tag) for r in reply])
        return tag

    def test_the_host_page_drives_the_game(self):
        f = self.feed
        f.send("SETTINGS\t30\t2\t4", "HOLD\t0\t0", "JOIN\t1\tAda", "JOIN\t2\tBo", "JOIN\t3\tAda")

        self.enter_with_keys(self.base, self.key)
        self.until(lambda: self.text("stage") == "Lobby: 3 players", "the lobby")
        self.assertNotIn(self.key, self.driver.page_source)  # only in the address bar
        self.until(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#players li")) == 3,
                   "the players")
        rows = [li.text for li in self.driver.find_elements(By.CSS_SELECTOR, "#players li")]
        self.assertIn("No. 1", rows[0])
        self.assertIn("Ada", rows[2])
        self.assertTrue(self.shown("start"))
        self.assertFalse(self.shown("end-question"))
        self.shot("lobby")

        # Start: refused, then done.
        self.command("start", "START", ["REFUSED\t{tag}\tNo players have joined."])
        self.until(lambda: self.text("answer") == "No players have joined.", "the refusal")
        self.command("start", "START", ["DONE\t{tag}", "START\t3"])
        self.until(lambda: self.text("answer") == "Done.", "Start done")
        self.until(lambda: self.text("stage") == "Between questions", "the game begun")

        # A question: the count, then Hold and End Question.
        f.send("QUESTION\t1\t1\t2\t30\tCapital of France?\tLyon\tParis\tNice\tCaen", "ANSWERS\t1\t2")
        self.until(lambda: self.text("q-answered") == "1 of 3 answered", "the answered count")
        self.assertRegex(self.text("q-clock"), r"^[0-9]+ s left$")
        self.shot("question")
        self.command("hold", "HOLD", ["DONE\t{tag}", "HOLD\t1\t0"])
        self.until(lambda: self.text("hold") == "Go On", "the button reading Go On")
        self.assertTrue(self.shown("held"))
        self.command("end-question", "END QUESTION",
                     ["DONE\t{tag}", "ANSWERS\t3\t0", "RESULTS\t2\t3", "1\t1.00\tr", "2\t30\tw",
                      "3\t2.00\tr"])
        self.until(lambda: self.text("stage") == "Between questions", "the results")
        self.shot("held")
        self.assertFalse(self.shown("end-question"))

        # Remove: asked first, naming the player; No keeps, Yes removes.
        buttons = self.driver.find_elements(By.CSS_SELECTOR, "#players li button")
        buttons[1].click()
        self.until(lambda: self.shown("confirm"), "the question")
        self.assertEqual(self.text("confirm-text"), "Remove player 2, Bo, from the quiz?")
        self.shot("remove")
        self.click("confirm-no")
        self.assertFalse(self.shown("confirm"))
        buttons[1].click()
        self.command("confirm-yes", "REMOVE\t2", ["DONE\t{tag}", "REMOVE\t2"])
        self.until(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#players li")) == 2,
                   "the list without Bo")

        # Hold after each round, then Go On.
        self.command("hold-after-round", "HOLD AFTER ROUND\t1", ["DONE\t{tag}", "HOLD\t1\t1"])
        self.until(lambda: self.text("answer") == "Done.", "the choice done")
        self.assertTrue(self.js("return document.getElementById('hold-after-round').checked"))
        self.command("hold", "GO ON", ["DONE\t{tag}", "HOLD\t0\t1"])
        self.until(lambda: self.text("hold") == "Hold", "the button reading Hold")

        # The feed goes: the page says the controls need it.
        f.client.close()
        f.client = None
        self.until(lambda: "quiz server's computer" in (self.text("notice") or ""), "nofeed")
        self.assertFalse(self.shown("controls"))
        self.shot("nofeed")

    def test_a_room_of_hundreds_is_paged_and_searched(self):
        f = self.feed
        f.send("SETTINGS\t30\t2\t4", "HOLD\t0\t0",
               *["JOIN\t%d\t%s %d" % (n, "Pupil" if n % 2 else "Guest", n) for n in range(1, 251)])
        self.driver.get(self.base + "/host#" + self.key)
        self.until(lambda: self.text("stage") == "Lobby: 250 players", "the lobby of 250")
        rows = lambda: [li.find_element(By.CLASS_NAME, "num").text  # noqa: E731
                        for li in self.driver.find_elements(By.CSS_SELECTOR, "#players li")]
        self.until(lambda: len(rows()) == 100, "the first page")
        self.assertEqual(rows()[0], "No. 1")
        self.assertEqual(self.text("page-where"), "1\u2013100 of 250")
        self.assertFalse(self.shown("prev"))
        self.click("next")
        self.until(lambda: self.text("page-where") == "101\u2013200 of 250", "the second page")
        self.click("next")
        self.until(lambda: self.text("page-where") == "201\u2013250 of 250", "the last page")
        self.assertEqual(rows()[-1], "No. 250")
        self.assertFalse(self.shown("next"))
        self.click("prev")
        self.until(lambda: self.text("page-where") == "101\u2013200 of 250", "back a page")

        # A search looks through every page: "Pupil 24" finds the odd numbers 241 to 249.
        self.driver.find_element(By.ID, "search").send_keys("Pupil 24")
        self.until(lambda: self.text("players-title") == "Players matching \u201cPupil 24\u201d: 5",
                   "the search's count")
        names = [li.find_element(By.CLASS_NAME, "name").text
                 for li in self.driver.find_elements(By.CSS_SELECTOR, "#players li")]
        self.assertEqual(names, ["Pupil 241", "Pupil 243", "Pupil 245", "Pupil 247", "Pupil 249"])
        self.assertEqual(self.text("page-where"), "")
        self.shot("search")

    @unittest.skipIf(BROWSER != "chromium", "the room screen is checked in chromium")
    def test_the_room_screen_shows_paused_over_the_reveal(self):
        f = self.feed
        profile = os.path.join(RUN_DIR, "profile-screen")
        screen = screen_driver(1280, 720, profile)
        self.addCleanup(quit_driver, screen, profile)
        screen.get(self.base + "/screen")
        f.send("SETTINGS\t30\t2\t4", "HOLD\t0\t0", "JOIN\t1\tAda", "START\t1",
               "QUESTION\t1\t1\t2\t30\tCapital of France?\tLyon\tParis\tNice\tCaen", "HOLD\t1\t0",
               "RESULTS\t2\t1", "1\t1.00\tr")
        sent = time.monotonic()
        paused = lambda: screen.execute_script(  # noqa: E731
            "var e = document.getElementById('paused'); return !e.hidden;")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not paused():
            time.sleep(0.05)
        self.assertTrue(paused(), "no Paused on the screen")
        self.assertGreaterEqual(time.monotonic() - sent, 1.3)  # after the reveal's pause (1.5 s)
        self.assertEqual(screen.execute_script("return document.body.getAttribute('data-phase')"),
                         "reveal")
        screen.save_screenshot(os.path.join(SHOT_DIR, "screen-paused.png"))
        f.send("HOLD\t0\t0")
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and paused():
            time.sleep(0.05)
        self.assertFalse(paused(), "Paused stayed after Go On")


if __name__ == "__main__":
    unittest.main()
