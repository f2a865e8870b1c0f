"""The phone page's results and standings in rooms of 5 and of 60 players,
at a phone's and a desktop's size, against the mock gateway: the bounded
views (every row in a small room; counts, the fastest right answers, the top
10 and the own row in a larger one), the "All results" and "All standings"
views paged, and the page's accessibility: live regions for results and
verdicts, a symbol and a word beside colour, text contrast of at least 4.5:1
and no animation under reduced motion. Screenshots go to $QOVA_SHOT_DIR.

Run: /usr/bin/python3 tests/web/rooms_test.py
"""

import os
import sys
import unittest

from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(__file__))
import browser_test  # noqa: E402
import mock_gateway  # noqa: E402

# The contrast of every visible text against the first opaque background
# behind it (WCAG relative luminance); returns the failures.
CONTRAST_JS = """
function lum(c) {
  var m = c.match(/[\\d.]+/g).map(Number);
  var f = function (v) { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * f(m[0]) + 0.7152 * f(m[1]) + 0.0722 * f(m[2]);
}
function ground(e) {
  for (; e; e = e.parentElement) {
    var b = getComputedStyle(e).backgroundColor;
    var m = b.match(/[\\d.]+/g);
    if (m && (m.length < 4 || Number(m[3]) > 0.5)) return b;
  }
  return "rgb(255, 255, 255)";
}
var bad = [];
var all = document.querySelectorAll("body *");
for (var i = 0; i < all.length; i++) {
  var e = all[i];
  if (!e.offsetParent && e.tagName !== "BODY") continue;
  var own = Array.prototype.some.call(e.childNodes, function (n) { return n.nodeType === 3 && n.textContent.trim(); });
  if (!own) continue;
  var a = lum(getComputedStyle(e).color), b = lum(ground(e));
  var ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  if (ratio < 4.5) bad.push(e.tagName + "#" + e.id + "." + e.className + " " + ratio.toFixed(2) + ": " + e.textContent.slice(0, 30));
}
return bad;
"""


def players(n):
    """Ann and n - 1 others; every third right, times rising."""
    names = ["Ann"] + ["Player %d" % i for i in range(2, n + 1)]
    return names


class RoomTest(browser_test.PageCase):
    WIDTH, HEIGHT = 360, 740
    PLAYERS = 5

    def setUp(self):
        self.gw = mock_gateway.MockGateway()
        self.names = players(self.PLAYERS)
        for name in self.names[1:]:
            self.gw.add_bot(name)
        self.server = mock_gateway.start(self.gw)
        self.base = "http://127.0.0.1:%d" % self.server.server_port
        self.driver = browser_test.make_driver(self.WIDTH, self.HEIGHT,
                                               ("--force-prefers-reduced-motion",))
        os.makedirs(browser_test.SHOT_DIR, exist_ok=True)

    def shot_path(self, name):
        return os.path.join(browser_test.SHOT_DIR, "room%d-%s-%dx%d.png" % (self.PLAYERS, name, self.WIDTH, self.HEIGHT))

    def assert_contrast(self):
        self.assertEqual(self.driver.execute_script(CONTRAST_JS), [])

    def test_results_standings_and_all_rows(self):
        d = self.driver
        n = self.PLAYERS
        large = n > mock_gateway.MockGateway.INLINE_ROWS
        d.get(self.base + "/")
        self.wait_view("join")
        self.join("Ann")
        self.wait_view("lobby")
        self.ask(1, 1)
        d.find_element(By.TAG_NAME, "body").send_keys("3")
        self.wait_text("q-status", "\u2713 Your answer is right")
        self.assertEqual(self.by_id("q-status").get_attribute("role"), "status")
        self.assert_contrast()
        self.shot("answered")

        # Ann, in the middle of the server's order, right but not among the fastest.
        rows = [{"name": name, "time": "%d.%02d" % (1 + i // 10, i % 100), "right": i % 3 != 1}
                for i, name in enumerate(self.names[1:])]
        rows.insert(len(rows) // 2, {"name": "Ann", "time": "9.99", "right": True})
        self.gw.results(rows)
        self.wait_view("results")
        right = sum(1 for r in rows if r["right"])
        self.wait_text("r-summary", "\u2713 You were right, in 9.99 s.\n%d of %d players right." % (right, n))
        live = self.by_id("r-summary").find_element(By.XPATH, "..")
        self.assertEqual(live.get_attribute("aria-live"), "polite")
        trs = d.find_elements(By.CSS_SELECTOR, "#r-rows tr")
        if large:
            # Five fastest, a gap, the own row.
            self.assertEqual(self.by_id("r-caption").text, "Fastest right answers")
            self.assertEqual(len(trs), 7)
            self.assertEqual(trs[5].get_attribute("class"), "gap")
            self.assertEqual(trs[6].text, "Ann (you) \u2713 right 9.99")
            self.assertTrue(self.by_id("r-all").is_displayed())
        else:
            self.assertEqual(len(trs), n)
            self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, "#r-rows tr.me")), 1)
            self.assertFalse(self.by_id("r-all").is_displayed())
            self.assertIn("\u2717 wrong", self.by_id("r-rows").text)
        self.assert_fits()
        self.assert_contrast()
        self.shot("results")

        if large:
            self.by_id("r-all").click()
            self.wait_view("all")
            self.wait_text("a-range", "Rows 1 to %d of %d" % (min(n, 100), n))
            self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, "#a-rows tr")), min(n, 100))
            self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, "#a-rows tr.me")), 1)
            self.assertFalse(self.by_id("a-prev").is_enabled())
            self.assertEqual(self.by_id("a-next").is_enabled(), n > 100)
            self.assert_fits()
            self.assert_contrast()
            self.shot("all-results")
            asked = [m for m in self.gw.received if m.get("t") == "rows"]
            self.assertEqual(asked, [{"t": "rows", "of": "results", "from": 0}])
            self.by_id("a-back").click()
            self.wait_view("results")

        board = [{"rank": i + 1, "name": name, "correct": max(0, 8 - i // 3), "answers": 10,
                  "average": "%.3f" % (2 + i / 7)} for i, name in enumerate(self.names[1:])]
        board.insert(n - 3 if large else 2, {"rank": 0, "name": "Ann", "correct": 1, "answers": 10, "average": "7.5"})
        for i, r in enumerate(board):
            r["rank"] = i + 1
        self.gw.leaderboard(1, board)
        self.wait_view("board")
        own = next(i for i, r in enumerate(board) if r["name"] == "Ann") + 1
        self.wait_text("b-summary", "You are in place %d of %d." % (own, n))
        trs = d.find_elements(By.CSS_SELECTOR, "#b-rows tr")
        if large:
            self.assertEqual(len(trs), 12)  # top 10, a gap, the own row
            self.assertEqual(trs[11].get_attribute("class"), "me")
            self.assertTrue(self.by_id("b-all").is_displayed())
        else:
            self.assertEqual(len(trs), n)
            self.assertFalse(self.by_id("b-all").is_displayed())
        self.assert_fits()
        self.assert_contrast()
        self.shot("leaderboard")
        if large:
            self.by_id("b-all").click()
            self.wait_view("all")
            self.wait_text("a-range", "Rows 1 to %d of %d" % (min(n, 100), n))
            self.assertEqual(d.find_elements(By.CSS_SELECTOR, "#a-rows tr")[-1].text.split()[0], "%d." % min(n, 100))
            self.shot("all-standings")

        # No transition runs under reduced motion.
        self.assertEqual(d.execute_script("return getComputedStyle(document.getElementById('q-bar')).transitionDuration"), "0s")


class RoomDesktopTest(RoomTest):
    WIDTH, HEIGHT = 1280, 800


class LargeRoomTest(RoomTest):
    PLAYERS = 60


class LargeRoomDesktopTest(LargeRoomTest):
    WIDTH, HEIGHT = 1280, 800


class PagedRowsTest(browser_test.PageCase):
    """250 players: the pages of all results, first, middle, last."""

    def test_pages(self):
        for name in players(250)[1:]:
            self.gw.add_bot(name)
        d = self.driver
        d.get(self.base + "/")
        self.wait_view("join")
        self.join("Ann")
        self.wait_view("lobby")
        self.ask(1, 1)
        d.find_element(By.TAG_NAME, "body").send_keys("1")
        self.wait_text("q-status", "wrong")
        names = [s.name for s in self.gw.seats]
        rows = [{"name": name, "time": "3.%02d" % (i % 100), "right": i % 2 == 0} for i, name in enumerate(names)]
        self.gw.results(rows)
        self.wait_view("results")
        self.by_id("r-all").click()
        n = len(rows)
        me = names.index("Ann")
        self.wait_text("a-range", "Rows 1 to 100 of %d" % n)
        self.by_id("a-next").click()
        self.wait_text("a-range", "Rows 101 to 200 of %d" % n)
        self.by_id("a-next").click()
        self.wait_text("a-range", "Rows 201 to %d of %d" % (n, n))
        self.assertFalse(self.by_id("a-next").is_enabled())
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, "#a-rows tr")[0].text.split(" ")[0], "Player")
        self.shot("all-results-last")
        self.by_id("a-prev").click()
        self.wait_text("a-range", "Rows 101 to 200")
        self.by_id("a-mine").click()
        self.wait_text("a-range", "Rows %d to" % (me // 100 * 100 + 1))
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, "#a-rows tr.me")), 1)
        froms = [m["from"] for m in self.gw.received if m.get("t") == "rows"]
        self.assertEqual(froms, [0, 100, 200, 100, me // 100 * 100])


if __name__ == "__main__":
    unittest.main(verbosity=2)
