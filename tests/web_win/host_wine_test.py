"""The host page on a 390x844 phone drives the real QOVAHOST.exe under Wine.

QOVAHOST.exe and QOVAWEB.exe run under Wine as in screen_wine_test (the
gateway reads the server's room feed); the host page (/host, with the key
read off QOVAWEB's window) is a phone in chromium or WebKit (QOVA_BROWSER);
two phones (chromium) and a test_player at a PC play. The host page:

- without the key and with a wrong key: no controls; then the right key;
- Start; Hold while the first question is out (the Statistics window's
  button reads Go On too); the question still runs until End Question, and
  then no question comes for 10 s: the phones show the host's pause after
  their results, the room screen "Paused" over the reveal;
- Remove (asked, named) of the phone that did not answer;
- "Hold after each round" (the Statistics window's check box follows) and
  Go On: the next question, the round's standings, then the hold by itself
  (Paused over the standings, the phones' notice over the leaderboard);
  Go On again: the next round's first question;
- the QR code of its own link, decoded.

Run by CTest in the Windows tree, like screen_wine_test. Screenshots go to
$QOVA_SHOT_DIR.
"""

import os
import re
import subprocess
import sys
import time
import unittest

from selenium.webdriver.common.by import By

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "web"))
import host_page_test  # noqa: E402
from host_page_test import BROWSER, HostPageMixin, close_driver, phone_driver  # noqa: E402
from screen_wine_test import GATEWAY, RUN_DIR, SHOT_DIR, STATISTICS, WineRoomCase  # noqa: E402

STATS_ANSWERS, STATS_HOLD, STATS_HOLD_AFTER_ROUND = 1016, 1019, 1020
GATEWAY_LINKS = 1004
HELD = "Held: press Go On for the next question."
PAUSED = "The host has paused the quiz."
SENT = "Sent; waiting for the quiz server..."  # the page's line until the answer comes
QUESTION = re.compile(r"Question \d+: which answer is ([1-4])\?")


class HostWineTest(HostPageMixin, WineRoomCase):
    def shot(self, name):
        self.driver.save_screenshot(os.path.join(SHOT_DIR, "host-wine-%s-%s.png" % (BROWSER, name)))

    def host_key(self):
        links = self.windows.wait_text(GATEWAY, GATEWAY_LINKS, lambda t: "Host controls: " in t)
        m = re.search(r"Host controls: http://\S+/host#([0-9a-f]{32})", links)
        self.assertTrue(m, links)
        return m.group(1)

    def open_host_page(self, base, key):
        if BROWSER == "webkit":
            os.environ["DISPLAY"] = self.env["DISPLAY"]  # the harness's Xvfb
        profile = os.path.join(RUN_DIR, "profile-host")
        self.driver = phone_driver(profile)
        self.addCleanup(close_driver, self.driver, profile)
        self.enter_with_keys(base, key)

    def command(self, id_):
        """Clicks a control of the page; waits for the server's answer, which must be done."""
        self.js("document.getElementById('answer').textContent = '';")
        self.click(id_)
        self.until(lambda: self.text("answer") not in ("", SENT), "an answer to %s" % id_, timeout=15)
        self.assertEqual(self.text("answer"), "Done.")

    def answer(self, phone, right):
        """The phone picks the right response, or the one after it; the question's text."""
        qtext = phone.text("q-text")
        correct = int(QUESTION.fullmatch(qtext).group(1))
        choice = correct if right else correct % 4 + 1
        phone.driver.find_elements(By.CSS_SELECTOR, "#q-responses .response")[choice - 1].click()
        return qtext

    def paused_notice(self, phone):
        return phone.js("var e = document.getElementById('paused');"
                        " return e.hidden ? '' : e.textContent;")

    def test_the_host_page_paces_a_room_of_phones_and_a_pc(self):
        host_page_test.SHOT_DIR = SHOT_DIR
        base = self.start_room(per_round=2, records=6)
        w = self.open_screen(base)
        self.open_host_page(base, self.host_key())
        self.until(lambda: self.text("stage") == "Lobby: 0 players", "the empty lobby", timeout=20)

        ann, bo = self.join_phones(base, ("Ann", "Bo"), "r")
        pc = self.start_players(["Pat at PC 1"], [2000], ["r"], ["2.00"])
        self.windows.wait_text("Waiting for Clients...", 1002, lambda t: t == "3")
        self.until(lambda: self.text("stage") == "Lobby: 3 players", "three in the lobby", timeout=20)
        self.until(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#players li")) == 3,
                   "the three players")
        self.shot("lobby")

        # Start from the page; Hold while the first question is out.
        self.command("start")
        ann.wait_view("question")
        self.until(lambda: self.text("stage") == "Question out", "the question", timeout=20)
        self.command("hold")
        self.until(lambda: self.text("hold") == "Go On", "the button reading Go On")
        self.windows.wait_text(STATISTICS, STATS_HOLD, lambda t: t == "Go On", timeout=10)
        # The question runs on: Ann answers, Pat after 2 s; Bo does not.
        q1 = self.answer(ann, True)
        self.until(lambda: self.text("q-answered") == "2 of 3 answered", "two answers", timeout=20)
        self.assertRegex(self.text("q-clock"), r"^[0-9]+ s left$")
        self.shot("question-held")
        self.command("end-question")
        ann.wait_view("results")
        ended = time.monotonic()
        self.until(lambda: self.text("stage") == "Between questions", "between questions")
        w.wait("reveal", q1, timeout=20)

        # Held: the phones' notice after their results, Paused on the screen,
        # the window's answers line; no question for 10 s.
        ann.wait(lambda: self.paused_notice(ann) == PAUSED, "the paused notice", timeout=15)
        bo.wait(lambda: self.paused_notice(bo) == PAUSED, "the paused notice", timeout=5)
        # The results' "next question follows in a moment" is not shown under it.
        self.assertEqual(ann.js("return getComputedStyle(document.querySelector("
                                "'#view-results .note')).display;"), "none")
        self.wait_screen(w, "return !document.getElementById('paused').hidden;", True, timeout=15)
        self.assertEqual(w.js("return document.body.getAttribute('data-phase')"), "reveal")
        self.windows.wait_text(STATISTICS, STATS_ANSWERS, lambda t: t == HELD, timeout=10)
        self.shot("held")
        ann.driver.save_screenshot(os.path.join(SHOT_DIR, "host-wine-%s-phone-paused.png" % BROWSER))
        w.shot("host-wine-%s-screen-paused-reveal" % BROWSER)
        while time.monotonic() < ended + 10:
            self.check_programs()
            self.assertEqual(ann.view(), "view-results")
            self.assertEqual(self.text("stage"), "Between questions")
            time.sleep(0.5)

        # Remove Bo, asked first.
        row = [li for li in self.driver.find_elements(By.CSS_SELECTOR, "#players li") if "Bo" in li.text]
        self.assertEqual(len(row), 1)
        row[0].find_element(By.TAG_NAME, "button").click()
        self.until(lambda: self.shown("confirm"), "the question before Remove")
        self.assertRegex(self.text("confirm-text"), r"^Remove player [0-9]+, Bo, from the quiz\?$")
        self.command("confirm-yes")
        self.until(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#players li")) == 2,
                   "the list without Bo")

        # Hold after each round, then Go On: question 2, round 1's standings,
        # and the hold by itself.
        self.command("hold-after-round")
        self.assertTrue(self.windows.checked(STATISTICS, STATS_HOLD_AFTER_ROUND))
        self.command("hold")
        self.until(lambda: self.text("hold") == "Hold", "the button reading Hold")
        self.windows.wait_text(STATISTICS, STATS_HOLD, lambda t: t == "Hold", timeout=10)
        ann.wait_view("question", lambda: ann.text("q-head").startswith("Round 1, question 2 "),
                      "question 2")
        q2 = self.answer(ann, True)
        w.wait("standings", q2, timeout=40)
        self.until(lambda: self.text("hold") == "Go On", "the hold after the round", timeout=20)
        self.windows.wait_text(STATISTICS, STATS_HOLD, lambda t: t == "Go On", timeout=10)
        ann.wait_view("board")
        ann.wait(lambda: self.paused_notice(ann) == PAUSED, "the notice over the leaderboard",
                 timeout=20)
        self.assertEqual(ann.js("return getComputedStyle(document.getElementById('b-note')).display;"),
                         "none")
        self.wait_screen(w, "return !document.getElementById('paused').hidden;", True, timeout=20)
        self.assertEqual(w.js("return document.body.getAttribute('data-phase')"), "standings")
        w.shot("host-wine-%s-screen-paused-standings" % BROWSER)
        ann.driver.save_screenshot(os.path.join(SHOT_DIR, "host-wine-%s-phone-paused-board.png" % BROWSER))

        # The page's own QR code: its link, with the key.
        self.click("show-qr")
        self.until(lambda: self.shown("qr-box"), "the QR code")
        self.js("document.getElementById('qr').scrollIntoView({block: 'center'});")
        self.shot("qr")
        shot = os.path.join(RUN_DIR, "host-qr.png")
        self.driver.save_screenshot(shot)
        decoded = subprocess.run(["zbarimg", "-q", "--raw", shot], capture_output=True, text=True).stdout
        self.assertEqual(decoded.strip(), self.driver.current_url)
        self.click("hide-qr")

        # Go On: round 2 begins; the screen's Paused goes.
        self.command("hold")
        ann.wait_view("question", lambda: ann.text("q-head").startswith("Round 2, question 1 "),
                      "round 2's first question")
        self.wait_screen(w, "return !document.getElementById('paused').hidden;", False, timeout=20)
        self.assertEqual(self.paused_notice(ann), "")
        self.assertNotEqual(ann.js("return getComputedStyle(document.querySelector("
                                   "'#view-results .note')).display;"), "none")

        self.quit_host()
        self.assertEqual(pc.finish(30), 0, pc.output())
        self.assertIn("violations=0", pc.output())
        self.quit_gateway()
        self.assertIsNone(w.error)


if __name__ == "__main__":
    unittest.main(verbosity=2)
