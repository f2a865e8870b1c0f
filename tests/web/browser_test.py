"""The players' web app in a real headless chromium, against the mock gateway.

Walks every view at a phone's and a desktop's size: join (and a refusal), the
lobby, questions answered by click and by key, a time-out, results, a reload
and a dropped connection mid-question that resume the seat, the leaderboard,
the end; then a forgotten seat and the projector page, whose QR code is read
back with zbarimg. Screenshots of the main views go to $QOVA_SHOT_DIR
(default build/web-shots).

Run: /usr/bin/python3 tests/web/browser_test.py
"""

import os
import subprocess
import sys
import unittest

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(__file__))
import mock_gateway  # noqa: E402

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
SHOT_DIR = os.environ.get("QOVA_SHOT_DIR", os.path.join(ROOT, "build", "web-shots"))

LONG_QUESTION = ("Which of these rivers flows through the most countries on its way to the sea, "
                 "counting every country whose border it crosses or forms for at least a short stretch?")
RESPONSES = ["Danube", "Nile", "Amazon", "A rather long answer that has to wrap onto a second line on a phone"]


def make_driver(width, height, extra_args=()):
    """A headless chromium whose page area is exactly width x height.

    The window size alone does not give that: headless windows are at least
    500 pixels wide and the size includes the browser's own frame.
    """
    opts = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
              "--window-size=%d,%d" % (max(width, 500), height + 150)) + tuple(extra_args):
        opts.add_argument(a)
    driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=opts)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})
    return driver


class PageCase(unittest.TestCase):
    """A mock gateway with two other seats and a chromium of WIDTH x HEIGHT."""
    WIDTH, HEIGHT = 360, 740

    def setUp(self):
        self.gw = mock_gateway.MockGateway()
        self.gw.add_bot("Bo")
        self.gw.add_bot("Cy")
        self.server = mock_gateway.start(self.gw)
        self.base = "http://127.0.0.1:%d" % self.server.server_port
        self.gw.links = [self.base + "/", "http://10.0.0.7:8080/"]
        self.driver = make_driver(self.WIDTH, self.HEIGHT)
        os.makedirs(SHOT_DIR, exist_ok=True)

    def tearDown(self):
        self.driver.quit()
        self.server.shutdown()
        self.server.server_close()

    # -- helpers --

    def by_id(self, id_):
        return self.driver.find_element(By.ID, id_)

    def wait(self, cond, what, timeout=8):
        try:
            return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(lambda d: cond())
        except TimeoutException:
            self.fail("timed out waiting for " + what)

    def wait_view(self, view):
        self.wait(lambda: self.by_id("view-" + view).is_displayed(), "view " + view)

    def wait_text(self, id_, text):
        self.wait(lambda: text in self.by_id(id_).text, "%r in #%s (has %r)" % (text, id_, self.by_id(id_).text))

    def shot_path(self, name):
        return os.path.join(SHOT_DIR, "%s-%dx%d.png" % (name, self.WIDTH, self.HEIGHT))

    def shot(self, name):
        self.driver.save_screenshot(self.shot_path(name))

    def token(self):
        return self.driver.execute_script("return localStorage.getItem('qova.token');")

    def answers(self):
        return [m for m in self.gw.received if m.get("t") == "answer"]

    def resumes(self):
        return [m for m in self.gw.received if m.get("t") == "resume"]

    def assert_fits(self):
        """Nothing sticks out sideways and every button is a comfortable target."""
        d = self.driver
        overflow = d.execute_script("return document.documentElement.scrollWidth - document.documentElement.clientWidth;")
        self.assertLessEqual(overflow, 0, "horizontal scroll")
        for b in d.find_elements(By.CSS_SELECTOR, "button"):
            if b.is_displayed():
                self.assertGreaterEqual(b.size["height"], 48, b.text)

    def response_marks(self):
        return [b.find_element(By.CLASS_NAME, "mark").text for b in self.driver.find_elements(By.CSS_SELECTOR, ".response")]

    def ask(self, q, number, correct=3, **kw):
        self.gw.ask(q, 1, number, 2, "Question %d: %s" % (q, LONG_QUESTION), RESPONSES, correct, **kw)
        self.wait_view("question")
        self.wait_text("q-text", "Question %d:" % q)

    def join(self, name):
        field = self.by_id("name")
        field.clear()
        field.send_keys(name)
        self.by_id("join").click()



class PageTest(PageCase):
    # -- the walk --

    def test_walk_through_a_game(self):
        d = self.driver
        d.get(self.base + "/")
        self.assertEqual(d.title, "QOVA")
        self.wait_view("join")

        # An empty name is caught by the page; a taken one is refused by the gateway.
        self.join("   ")
        self.wait_text("join-error", "Type your name first.")
        self.join("Bo")
        self.wait_text("join-error", "That name is already taken.")
        self.assertIsNone(self.token())
        self.assert_fits()
        self.shot("join")

        self.join("Ann")
        self.wait_view("lobby")
        self.wait_text("lobby-head", "You have joined as Ann.")
        self.assertIn("Time limit: 30 seconds per question", self.by_id("lobby-settings").text)
        self.assertIn("4 responses per question", self.by_id("lobby-settings").text)
        self.assertEqual(self.token(), self.gw.seat("Ann").token)
        self.assertEqual(self.by_id("join-error").is_displayed(), False)
        self.shot("lobby")

        # Question 1, answered by a click, wrong.
        self.ask(1, 1)
        self.assertEqual(self.by_id("q-head").text, "Round 1, question 1 of 2")
        self.assertRegex(self.by_id("q-count").text, r"^Time left: (30|29|28) s$")
        # A phone leaves its last tap "hovering": no response may look picked
        # before the player picks where the pointer cannot hover (as here).
        self.assertTrue(d.execute_script("return matchMedia('(hover: none)').matches;"))
        ActionChains(d).move_to_element(d.find_elements(By.CSS_SELECTOR, ".response")[0]).perform()
        grounds = {b.value_of_css_property("background-color") for b in d.find_elements(By.CSS_SELECTOR, ".response")}
        self.assertEqual(len(grounds), 1, grounds)
        self.assert_fits()
        self.shot("question")
        d.find_elements(By.CSS_SELECTOR, ".response")[1].click()
        self.assertTrue(self.gw.wait_for(lambda r: len(self.answers()) == 1))
        self.assertEqual(self.answers()[0], {"t": "answer", "q": 1, "choice": 2})
        self.wait_text("q-status", "Your answer is wrong")
        self.assertEqual(self.response_marks(), ["", "Your answer - wrong", "Right answer", ""])
        self.assertFalse(self.by_id("q-timer").is_displayed())
        self.assertTrue(all(not b.is_enabled() for b in d.find_elements(By.CSS_SELECTOR, ".response")))
        d.find_element(By.TAG_NAME, "body").send_keys("3")  # no second answer
        self.shot("answered")

        rows = [{"name": "Bo", "time": "2.05", "right": True},
                {"name": "Ann", "time": "4.21", "right": False},
                {"name": "A player with a very long name indeed", "time": "12.70", "right": True}]
        self.gw.results(rows)
        self.wait_view("results")
        self.assertEqual(self.by_id("r-head").text, "Results of round 1, question 1")
        self.assertEqual(self.by_id("r-correct").text, "Right answer: 3. Amazon")
        trs = d.find_elements(By.CSS_SELECTOR, "#r-rows tr")
        self.assertEqual([t.get_attribute("class") for t in trs], ["", "me", ""])
        self.assertEqual(trs[1].text, "Ann (you) \u2717 wrong 4.21")
        self.assertIn("\u2713 right", trs[0].text)
        self.assertEqual(len(self.answers()), 1)
        self.assert_fits()
        self.shot("results")

        # Question 2, answered by key, right; no time limit.
        self.ask(2, 2, time_limit_ms=0)
        self.assertEqual(self.by_id("q-count").text, "No time limit")
        d.find_element(By.TAG_NAME, "body").send_keys("9")  # not a response
        d.find_element(By.TAG_NAME, "body").send_keys("3")
        self.assertTrue(self.gw.wait_for(lambda r: len(self.answers()) == 2))
        self.assertEqual(self.answers()[1], {"t": "answer", "q": 2, "choice": 3})
        self.wait_text("q-status", "Your answer is right, in ")
        self.assertEqual(self.response_marks(), ["", "", "Your answer - right", ""])

        # A reload mid-question takes the seat back with the same token.
        token = self.token()
        self.ask(3, 1)
        d.refresh()
        self.wait_view("question")
        self.wait_text("q-text", "Question 3:")
        self.assertEqual(self.token(), token)
        self.assertEqual(self.resumes()[-1], {"t": "resume", "token": token})
        self.assertEqual(self.by_id("who").text, "Ann")
        d.find_element(By.TAG_NAME, "body").send_keys("1")
        self.assertTrue(self.gw.wait_for(lambda r: len(self.answers()) == 3))
        self.assertEqual(self.answers()[2], {"t": "answer", "q": 3, "choice": 1})
        self.wait_text("q-status", "Your answer is wrong")

        # A reload after answering shows the answer again; nothing is sent twice.
        d.refresh()
        self.wait_view("question")
        self.wait_text("q-status", "Your answer is wrong")
        self.assertEqual(self.response_marks(), ["Your answer - wrong", "", "Right answer", ""])

        # A dropped connection: the notice shows, the page resumes on its own.
        seen = len(self.resumes())
        self.ask(4, 2)
        self.gw.drop_connections()
        self.wait(lambda: self.by_id("notice").is_displayed(), "the reconnecting notice")
        self.assertEqual(self.by_id("notice").text, "Reconnecting...")
        self.wait(lambda: not self.by_id("notice").is_displayed(), "the notice to go", timeout=6)
        self.assertEqual(len(self.resumes()), seen + 1)
        self.wait_view("question")
        self.wait_text("q-text", "Question 4:")

        # The gateway times the seat out; the last seconds stand out.
        self.ask(5, 1, elapsed_ms=26500)
        self.assertTrue(self.by_id("q-timer").is_displayed())
        self.assertRegex(self.by_id("q-count").text, r"^Time left: [1-4] s$")
        self.assertEqual(self.by_id("q-timer").get_attribute("class"), "timer low")
        self.gw.time_out("Ann")
        self.wait_text("q-status", "Time ran out")
        self.assertEqual(self.response_marks(), ["", "", "Right answer", ""])

        board = [{"rank": 1, "name": "Bo", "correct": 4, "answers": 4, "average": "2.3"},
                 {"rank": 2, "name": "Ann", "correct": 1, "answers": 4, "average": "5.1"},
                 {"rank": 2, "name": "Cy", "correct": 1, "answers": 4, "average": "5.1"},
                 {"rank": 4, "name": "A player with a very long name indeed", "correct": 0, "answers": 4,
                  "average": "30.0"}]
        self.gw.leaderboard(1, board)
        self.wait_view("board")
        self.assertEqual(self.by_id("b-head").text, "Leaderboard after round 1")
        trs = d.find_elements(By.CSS_SELECTOR, "#b-rows tr")
        self.assertEqual([t.find_element(By.TAG_NAME, "td").text for t in trs], ["1.", "2.", "2.", "4."])
        self.assertEqual(trs[1].get_attribute("class"), "me")
        self.assertEqual(trs[1].text, "2. Ann (you) 1 of 4 5.10")
        self.assertFalse(self.by_id("b-again").is_displayed())
        self.assert_fits()
        self.shot("leaderboard")

        # The end: message and standings, and no more reconnecting.
        self.gw.end("The quiz server has ended the game.", board)
        self.wait_text("b-head", "The quiz has ended")
        self.assertEqual(self.by_id("b-message").text, "The quiz server has ended the game.")
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, "#b-rows tr.me")), 1)
        seen = len(self.resumes())
        self.assertFalse(self.gw.wait_for(lambda r: len(self.resumes()) > seen, timeout=1.5))
        self.assertFalse(self.by_id("notice").is_displayed())
        self.assert_fits()
        self.shot("ended")

        # Joining a new quiz forgets the old seat.
        self.by_id("b-again").click()
        self.wait_view("join")
        self.assertIsNone(self.token())

    def test_forgotten_seat_shows_join(self):
        d = self.driver
        d.get(self.base + "/")
        self.wait_view("join")
        self.join("Ann")
        self.wait_view("lobby")
        self.gw.forget_seats()
        d.refresh()
        self.wait_view("join")
        self.wait_text("join-error", "join again")
        self.assertIsNone(self.token())
        self.join("Ann")
        self.wait_view("lobby")
        self.assertEqual(self.token(), self.gw.seat("Ann").token)

    def test_projector_page(self):
        d = self.driver
        d.get(self.base + "/join")
        self.wait_text("link", self.base + "/")
        self.wait(lambda: d.find_elements(By.CSS_SELECTOR, "#qr svg path"), "the QR code")
        self.assertIn("http://10.0.0.7:8080/", self.by_id("other-links").text)
        self.wait_text("seats", "2 players have joined.")
        qr = self.by_id("qr").size
        self.assertGreaterEqual(min(qr["width"], qr["height"]), 200)
        self.assert_fits()
        self.shot("projector")
        # The QR code, as a phone's camera would read it off the screen.
        decoded = subprocess.run(["zbarimg", "-q", "--raw", self.shot_path("projector")],
                                 capture_output=True, text=True, timeout=30)
        self.assertEqual(decoded.stdout.strip(), self.base + "/")


class DesktopPageTest(PageTest):
    WIDTH, HEIGHT = 1280, 800


if __name__ == "__main__":
    unittest.main(verbosity=2)
