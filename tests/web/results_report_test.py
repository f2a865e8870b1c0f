"""endscores.html, the server's report, in a real headless chromium: a
30-player game at 1280x800 and printed to PDF on A4, and a 2,048-player,
100-question game, whose size and load time are printed. The reports are
written by results_bench (--report) from made-up games that include the
hostile names "<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>"
and "&amp;", which must show as text. Screenshots and PDF pages go to
$QOVA_SHOT_DIR.

Run: QOVA_BIN_DIR=build/native /usr/bin/python3 tests/web/results_report_test.py
"""

import base64
import os
import subprocess
import sys
import tempfile
import time
import unittest

from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(__file__))
import browser_test  # noqa: E402

BIN_DIR = os.environ.get("QOVA_BIN_DIR", os.path.join(browser_test.ROOT, "build", "native"))
BENCH = os.path.join(BIN_DIR, "tools", "bench", "results_bench")
SHOT_DIR = os.environ.get("QOVA_SHOT_DIR", os.path.join(browser_test.ROOT, "build", "results-shots"))
HOSTILE = ["<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>", "&amp;"]


def write_report(path, players, rounds, per_round):
    subprocess.run([BENCH, "--report", path, str(players), str(rounds), str(per_round)], check=True)
    return path


class ReportTest(unittest.TestCase):
    def setUp(self):
        os.makedirs(SHOT_DIR, exist_ok=True)
        self.folder = tempfile.TemporaryDirectory()
        self.driver = browser_test.make_driver(1280, 800)

    def tearDown(self):
        self.driver.quit()
        self.folder.cleanup()

    def open(self, path):
        start = time.monotonic()
        self.driver.get("file://" + path)
        # Laid out and painted once: the height forces the layout.
        self.driver.execute_script("return document.body.scrollHeight")
        return time.monotonic() - start

    def assert_self_contained(self):
        d = self.driver
        self.assertEqual(d.execute_script("return document.scripts.length"), 0)
        self.assertEqual(d.execute_script("return document.images.length"), 0)
        self.assertEqual(d.execute_script("return document.querySelectorAll('style').length"), 1)
        self.assertEqual(d.execute_script("return performance.getEntriesByType('resource').length"), 0)
        # The page ran no alert: a hostile name would have opened one.
        self.assertEqual(d.execute_script("return document.title.indexOf('Quiz results')"), 0)

    def test_thirty_players_on_screen_and_on_a4(self):
        path = write_report(os.path.join(self.folder.name, "endscores.html"), 30, 3, 10)
        self.open(path)
        d = self.driver
        self.assert_self_contained()
        names = [e.text for e in d.find_elements(By.CSS_SELECTOR, "table.standings td.name")]
        self.assertEqual(len(names), 30)
        for hostile in HOSTILE:
            self.assertIn(hostile, names)
        places = [int(e.text) for e in d.find_elements(By.CSS_SELECTOR, "table.standings tbody td:first-child")]
        self.assertEqual(places, sorted(places))
        self.assertEqual(places[0], 1)
        # Hardest first: the percentages right never fall down the table.
        rights = [e.text for e in d.find_elements(By.CSS_SELECTOR, "table.q td.pct")]
        self.assertEqual(len(rights), 30)
        counts = [int(t.split("(")[1].split(" ")[0]) for t in rights]
        self.assertEqual(counts, sorted(counts))
        cells = d.find_elements(By.CSS_SELECTOR, "table.grid td")
        self.assertEqual(len(cells), 30 * 30)
        for cell in cells[:50]:
            self.assertRegex(cell.text, r"^(\u2713 right|\u2717 wrong) \d+\.\d$")
        d.save_screenshot(os.path.join(SHOT_DIR, "report_30_top.png"))
        d.execute_script("document.querySelector('h2:nth-of-type(3)').scrollIntoView()")
        d.save_screenshot(os.path.join(SHOT_DIR, "report_30_questions.png"))
        d.execute_script("document.querySelector('section.round').scrollIntoView()")
        d.save_screenshot(os.path.join(SHOT_DIR, "report_30_grid.png"))

        pdf = d.execute_cdp_cmd("Page.printToPDF", {"preferCSSPageSize": True, "printBackground": True})
        pdf_path = os.path.join(SHOT_DIR, "report_30.pdf")
        with open(pdf_path, "wb") as out:
            out.write(base64.b64decode(pdf["data"]))
        info = subprocess.run(["pdfinfo", pdf_path], capture_output=True, text=True, check=True).stdout
        self.assertIn("(A4)", info)
        pages = int([line for line in info.splitlines() if line.startswith("Pages:")][0].split()[1])
        print("\n30 players: %d A4 pages" % pages)
        self.assertGreater(pages, 1)
        self.assertLess(pages, 20)
        subprocess.run(["pdftoppm", "-png", "-r", "60", "-f", "1", "-l", "3", pdf_path,
                        os.path.join(SHOT_DIR, "report_30_page")], check=True)

    def test_a_big_room_opens_in_a_few_seconds(self):
        path = write_report(os.path.join(self.folder.name, "endscores.html"), 2048, 10, 10)
        size = os.path.getsize(path)
        seconds = self.open(path)
        d = self.driver
        rows = d.execute_script("return document.querySelectorAll('table.standings tbody tr').length")
        cells = d.execute_script("return document.querySelectorAll('table.grid td').length")
        load = d.execute_script(
            "var t = performance.getEntriesByType('navigation')[0]; return t.loadEventEnd - t.startTime")
        print("\n2,048 players x 100 questions: %d bytes (%.2f MB); opened in %.2f s "
              "(load event after %.0f ms)" % (size, size / 1e6, seconds, load))
        self.assertEqual(rows, 2048)
        self.assertEqual(cells, 2048 * 100)
        self.assertLess(size, 10 * 1000 * 1000)
        self.assertLess(seconds, 10)
        self.assert_self_contained()
        d.save_screenshot(os.path.join(SHOT_DIR, "report_2048_top.png"))
        d.execute_script("window.scrollTo(0, document.body.scrollHeight)")
        d.save_screenshot(os.path.join(SHOT_DIR, "report_2048_end.png"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
