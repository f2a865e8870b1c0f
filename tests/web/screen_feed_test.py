"""The room screen from the quiz server's room feed, in a real chromium.

The real qovaweb plays against 127.0.0.1, so it reads the room feed on
127.0.0.1 port 5633; here a scripted feed (FeedServer below, speaking the
feed as docs/protocol.md states it) stands in for QOVAHOST's side.

- A room of direct players only (no web player at all): the screen plays the
  whole game from the lobby to the podium from the feed alone, keeping the
  players' pace (each question no earlier than 3 s after the results before
  it, a round's next question no earlier than 9 s after its last results:
  3 s of results, then 6 s of standings), and no frame before a question's
  reveal holds its correct response.
- A mixed room: two phones (chromium pages seated through the gateway on the
  native engine, qova_try_server) and two players at PCs that only the feed
  tells of: the lobby lists all four, the question says "N of 4 answered",
  the reveal counts the phones' choices, labelled so, and how many of all
  four were right.

Screenshots go to $QOVA_SHOT_DIR (default build/native/web-shots-feed).
Run it in a network namespace of its own (ports 5632 and 5633):
  unshare -n bash -c 'ip link set lo up; /usr/bin/python3 tests/web/screen_feed_test.py'
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import threading
import time
import unittest

from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.dirname(__file__))
import e2e_test  # noqa: E402
from e2e_test import BIN_DIR, BrowserPlayer, Program, free_port, quit_driver  # noqa: E402
from screen_e2e_test import screen_driver  # noqa: E402

SHOT_DIR = os.environ.get("QOVA_SHOT_DIR", os.path.join(BIN_DIR, "web-shots-feed"))
RUN_DIR = os.path.join(BIN_DIR, "web-feed-run")
GREETING = b"QOVA ROOM FEED\t1\r\n"
RESULTS_PAUSE_S = 3.0
BOARD_PAUSE_S = 6.0


class FeedServer:
    """The server's side of the room feed, scripted: one client at a time."""

    def __init__(self, port=5633):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(4)
        self.client = None
        self.client_line = b""

    def accept(self, timeout=10):
        """Takes the next client, greets it and checks its greeting."""
        self.listener.settimeout(timeout)
        client, _ = self.listener.accept()
        client.settimeout(timeout)
        client.sendall(GREETING)
        line = b""
        while not line.endswith(b"\r\n") and len(line) < 256:
            b = client.recv(1)
            if not b:
                break
            line += b
        self.client, self.client_line = client, line
        return line == GREETING

    def send(self, *lines):
        self.client.sendall("".join(l + "\r\n" for l in lines).encode("cp1252"))

    def close(self):
        for s in (self.client, self.listener):
            if s:
                s.close()


class Watcher:
    """The screen's phase over time, polled in a thread of its own."""

    def __init__(self, driver):
        self.driver = driver
        self.lock = threading.Lock()
        self.phases = []  # (monotonic time first seen, phase, question text)
        self.frames = []
        self.stop = False
        self.error = None
        self.thread = threading.Thread(target=self.run, daemon=True)

    def js(self, script):
        with self.lock:
            return self.driver.execute_script(script)

    def run(self):
        try:
            while not self.stop:
                p, q = self.js("return [document.body.getAttribute('data-phase') || 'none',"
                               " document.getElementById('q-text').textContent];")
                if not self.phases or self.phases[-1][1:] != (p, q):
                    self.phases.append((time.monotonic(), p, q))
                time.sleep(0.05)
        except Exception as e:  # noqa: BLE001 - reported by the test
            self.error = repr(e)

    def wait(self, phase, text=None, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for at, p, q in self.phases:
                if p == phase and (text is None or q == text):
                    return at
            time.sleep(0.05)
        raise AssertionError("the screen never showed %s %r; it went %s" %
                             (phase, text, [p[1:] for p in self.phases]))

    def collect_frames(self):
        with self.lock:
            for entry in self.driver.get_log("performance"):
                m = json.loads(entry["message"])["message"]
                if m["method"] == "Network.webSocketFrameReceived":
                    self.frames.append(json.loads(m["params"]["response"]["payloadData"]))

    def shot(self, name):
        with self.lock:
            self.driver.save_screenshot(os.path.join(SHOT_DIR, "feed-%s.png" % name))

    def text(self, id_):
        return self.js("return document.getElementById('%s').textContent;" % id_)


def assert_fair_frames(test, w):
    """No question frame holds a correct response or counts; every reveal follows its question."""
    w.collect_frames()
    shown = set()
    for m in w.frames:
        if m["t"] != "screen" or m["view"] not in ("question", "reveal"):
            continue
        key = (m["round"], m["number"])
        if m["view"] == "question":
            for k in ("correct", "counts", "fastest", "right"):
                test.assertNotIn(k, m, m)
            shown.add(key)
        else:
            test.assertIn(key, shown, "a reveal before its question: %s" % m)


def question_line(round_, number, per_round, text, responses, limit="60"):
    return "\t".join(["QUESTION", str(round_), str(number), str(per_round), limit, text] + responses)


class ScreenFeedTest(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(RUN_DIR, ignore_errors=True)
        os.makedirs(RUN_DIR)
        os.makedirs(SHOT_DIR, exist_ok=True)
        e2e_test.RUN_DIR = RUN_DIR
        e2e_test.SHOT_DIR = os.path.join(RUN_DIR, "phone-shots")
        self.feed = FeedServer()
        self.addCleanup(self.feed.close)
        self.must_run = []

    def start_gateway(self):
        for _ in range(5):
            port = free_port()
            gateway = Program("qovaweb", [os.path.join(BIN_DIR, "web/gateway/qovaweb"), "--server",
                                          "127.0.0.1", "--http-port", str(port)])
            self.addCleanup(gateway.stop)
            if gateway.wait_line(r"^Players join at:", 60):
                break
            gateway.stop()
        else:
            self.fail("the gateway did not start:\n" + gateway.output())
        self.gateway = gateway
        self.must_run.append(gateway)
        self.base = "http://127.0.0.1:%d" % port
        self.assertTrue(self.feed.accept(), self.feed.client_line)
        self.assertTrue(gateway.wait_line(r"room feed on 127\.0\.0\.1 port 5633", 10), gateway.output())

    def check_programs(self):
        for prog in self.must_run:
            if prog.proc.poll() is not None:
                raise AssertionError("%s ended:\n%s" % (prog.name, prog.output()))

    def open_screen(self):
        profile = os.path.join(RUN_DIR, "profile-screen")
        driver = screen_driver(1280, 720, profile)
        self.addCleanup(quit_driver, driver, profile)
        driver.get(self.base + "/screen")
        w = Watcher(driver)
        w.thread.start()
        self.addCleanup(setattr, w, "stop", True)
        return w

    def check_fairness(self, w):
        assert_fair_frames(self, w)

    def test_a_room_of_direct_players_plays_on_the_screen_from_lobby_to_podium(self):
        self.start_gateway()
        f = self.feed
        f.send("SETTINGS\t60\t2\t4")
        w = self.open_screen()
        w.wait("lobby")
        f.send("JOIN\t1\tAda at PC 1", "JOIN\t2\tBo at PC 2", "JOIN\t3\tCy at PC 3", "JOIN\t4\tDi at PC 4",
               "JOIN\t5\tEd at PC 5", "DROP\t3")
        time.sleep(1.5)
        self.assertEqual(w.text("lobby-count"), "4 players have joined")
        names = w.js("return Array.from(document.querySelectorAll('#lobby-names li')).map(e => e.textContent);")
        self.assertEqual(names, ["Ada at PC 1", "Bo at PC 2", "Di at PC 4", "Ed at PC 5"])
        w.shot("direct-lobby")

        q1 = "Which planet is known as the red planet?"
        f.send("START\t4", question_line(1, 1, 2, q1, ["Venus", "Mars", "Jupiter", "Saturn"]))
        w.wait("question", q1)
        f.send("ANSWERS\t1\t3")
        time.sleep(0.3)
        f.send("ANSWERS\t3\t1")
        time.sleep(1.0)
        self.assertEqual(w.text("q-answered"), "3 of 4 answered")
        w.shot("direct-question")

        q2 = "How many legs has a spider?"
        # The server's next question comes at once; the screen holds it.
        f.send("ANSWERS\t4\t0", "RESULTS\t2\t4", "1\t4.25\tr", "2\t2.50\tr", "4\t9.00\tw", "5\t1.75\tr",
               question_line(1, 2, 2, q2, ["6", "8", "10", "12"]))
        sent = time.monotonic()
        w.wait("reveal", q1)
        time.sleep(1.0)
        self.assertEqual(w.text("q-answered"), "3 of 4 players were right")
        fastest = w.js("return Array.from(document.querySelectorAll('#q-fastest-list .fname')).map(e => e.textContent);")
        self.assertEqual(fastest, ["Ed at PC 5", "Bo at PC 2", "Ada at PC 1"])
        # No phone chose: no bars, no counts, only the correct response marked.
        self.assertEqual(w.js("return document.querySelectorAll('#q-responses .votes, #q-responses .track').length;"), 0)
        self.assertTrue(w.js("return document.getElementById('q-counted').hidden;"))
        self.assertEqual(w.js("return Array.from(document.querySelectorAll('#q-responses .response.right .rtext'))"
                              ".map(e => e.textContent);"), ["Mars"])
        w.shot("direct-reveal")
        shown = w.wait("question", q2)
        self.assertGreaterEqual(shown - sent, RESULTS_PAUSE_S - 0.1)
        self.assertLess(shown - sent, RESULTS_PAUSE_S + 1.5)

        q3 = "What is the capital of Italy?"
        f.send("ANSWERS\t4\t0", "RESULTS\t2\t4", "1\t3.00\tr", "2\t5.00\tw", "4\t2.00\tr", "5\t8.00\tr",
               "SUMMARY\t1\t4",
               "1\t2\t3.625\t2\t2\t3.625\t2", "2\t1\t3.75\t2\t1\t3.75\t2",
               "4\t1\t5.5\t2\t1\t5.5\t2", "5\t2\t4.875\t2\t2\t4.875\t2",
               question_line(2, 1, 2, q3, ["Rome", "Milan", "Turin", "Naples"]))
        sent = time.monotonic()
        w.wait("reveal", q2)
        board = w.wait("standings")
        self.assertGreaterEqual(board - sent, RESULTS_PAUSE_S - 0.1)
        time.sleep(1.0)
        self.assertEqual(w.text("s-title"), "Standings after round 1")
        rows = w.js("return Array.from(document.querySelectorAll('#s-rows tr')).map("
                    "r => Array.from(r.cells).map(c => c.textContent));")
        self.assertEqual([r[:3] for r in rows], [["1", "Ada at PC 1", "2 of 2"], ["2", "Ed at PC 5", "2 of 2"],
                                                 ["3", "Bo at PC 2", "1 of 2"], ["4", "Di at PC 4", "1 of 2"]])
        w.shot("direct-standings")
        shown = w.wait("question", q3)
        self.assertGreaterEqual(shown - sent, RESULTS_PAUSE_S + BOARD_PAUSE_S - 0.1)
        self.assertLess(shown - sent, RESULTS_PAUSE_S + BOARD_PAUSE_S + 1.5)

        f.send("REMOVE\t2", "ANSWERS\t3\t0", "RESULTS\t1\t3", "1\t1.50\tr", "4\t2.50\tr", "5\t3.50\tw",
               "SUMMARY\t2\t3",
               "1\t1\t1.5\t1\t3\t2.917\t3", "4\t1\t2.5\t1\t2\t4.5\t3", "5\t0\t3.5\t1\t2\t4.417\t3", "END")
        sent = time.monotonic()
        w.wait("reveal", q3)
        w.wait("standings", q3)
        end = w.wait("end")
        self.assertGreaterEqual(end - sent, RESULTS_PAUSE_S + BOARD_PAUSE_S - 0.1)
        time.sleep(1.0)
        podium = w.js("return Array.from(document.querySelectorAll('#podium .pname')).map(e => e.textContent);")
        self.assertEqual(podium, ["Ada at PC 1", "Ed at PC 5", "Di at PC 4"])
        w.shot("direct-podium")
        # The server exits: the podium stays.
        f.client.close()
        time.sleep(1.5)
        self.assertEqual(w.js("return document.body.getAttribute('data-phase');"), "end")
        self.check_fairness(w)
        self.assertIsNone(w.error)
        self.check_programs()

    def test_a_mixed_room_counts_every_player(self):
        server = Program("qova_try_server",
                         [os.path.join(BIN_DIR, "tools/qova_try_server"), "--time-limit",
                          str(e2e_test.TIME_LIMIT_S), "--per-round", "3"],
                         cwd=RUN_DIR, stdin=subprocess.PIPE)
        self.addCleanup(server.stop)
        self.assertTrue(server.wait_line(r"^Lobby open on port 5632", 60), server.output())
        self.must_run.append(server)
        self.start_gateway()
        f = self.feed
        f.send("SETTINGS\t%d\t3\t4" % e2e_test.TIME_LIMIT_S)
        w = self.open_screen()
        phones = []
        for name in ("Ann", "Bo"):
            p = BrowserPlayer(self, name, e2e_test.PHONE, "click", "rr", 0.2, False)
            self.addCleanup(quit_driver, p.driver, p.profile)
            p.join(self.base)
            phones.append(p)
        # The feed tells of the phones and of two players at the room's PCs.
        f.send("JOIN\t1\tAnn", "JOIN\t2\tPat at a PC", "JOIN\t3\tBo", "JOIN\t4\tSam at a PC")
        time.sleep(1.5)
        self.assertEqual(w.text("lobby-count"), "4 players have joined")
        names = w.js("return Array.from(document.querySelectorAll('#lobby-names li')).map(e => e.textContent);")
        self.assertEqual(names, ["Ann", "Pat at a PC", "Bo", "Sam at a PC"])
        w.shot("mixed-lobby")

        self.assertTrue(server.wait_line(r"^Players connected: 2$", 30), server.output())
        server.proc.stdin.write("\n")
        server.proc.stdin.flush()
        # The phones' first question, from the engine; the feed sends the same.
        phones[0].wait_view("question")
        qtext = phones[0].text("q-text")
        responses = phones[0].js("return Array.from(document.querySelectorAll('#q-responses .rtext'))"
                                 ".map(e => e.textContent);")
        correct = int(qtext.split("which answer is ")[1][0])
        f.send("START\t4", question_line(1, 1, 3, qtext, responses, str(e2e_test.TIME_LIMIT_S)))
        w.wait("question", qtext)
        # Ann right, Bo wrong, on their phones.
        for p, choice in ((phones[0], correct), (phones[1], correct % 4 + 1)):
            p.driver.find_elements(By.CSS_SELECTOR, "#q-responses .response")[choice - 1].click()
        f.send("ANSWERS\t1\t3")
        time.sleep(0.5)
        f.send("ANSWERS\t3\t1")
        time.sleep(1.0)
        self.assertEqual(w.text("q-answered"), "3 of 4 answered")
        w.shot("mixed-question")
        f.send("ANSWERS\t4\t0", "RESULTS\t%d\t4" % correct, "1\t1.20\tr", "2\t3.40\tr", "3\t2.10\tw",
               "4\t6.00\tr")
        w.wait("reveal", qtext)
        time.sleep(1.2)
        self.assertEqual(w.text("q-answered"), "3 of 4 players were right")
        self.assertEqual(w.text("q-counted"), "Bars show the phones' choices (2 phones)")
        votes = w.js("return Array.from(document.querySelectorAll('#q-responses .votes')).map(e => e.textContent);")
        want = ["0"] * 4
        want[correct - 1] = "1"
        want[correct % 4] = "1"
        self.assertEqual(votes, want)
        w.shot("mixed-reveal")
        self.check_fairness(w)
        self.assertIsNone(w.error)
        self.check_programs()


if __name__ == "__main__":
    unittest.main(verbosity=2)
