"""The room screen beside the real QOVAHOST.exe and QOVAWEB.exe under Wine, in a real chromium.

QOVAHOST.exe runs under Wine in a working folder of its own (config.ini and a
question file), writes its marker on S: and opens its room feed on
127.0.0.1:5633; QOVAWEB.exe, under Wine beside it, starts from the marker,
plays against the server's own computer and so follows the feed. The room
screen is a headless chromium on the gateway's /screen. Players at the room's
PCs are test_player programs (native) connected straight to port 5632. The
operator's Start (lobby window, control 1000) and Quit (Statistics window,
control 1001) are pressed through qova_window_driver (testing/win), a Windows
console program started with wine in the same prefix.

- A mixed room, two phones (chromium pages through the gateway) and two PCs:
  the lobby lists all four names, the question says "N of 4 answered" as
  answers come, the reveal counts how many of all four were right and labels
  the bars as the phones' choices.
- A room of PCs only: the screen plays the whole game, lobby, questions,
  reveals, the standings after each round and, once the operator quits, the
  podium, at the players' pace (the next question no earlier than 3 s after
  a reveal, a round's first no earlier than 9 s after its last reveal).

Run by CTest in the Windows tree (the wine_env fixture starts Xvfb and the
wine server); it needs the native build's test_player ($QOVA_BIN_DIR) and
chromium. Ports 5632, 5633 and 8080: in a network namespace of its own.
Screenshots (1280x720) go to $QOVA_SHOT_DIR.
"""

import os
import re
import shutil
import socket
import subprocess
import sys
import time
import unittest

from selenium.webdriver.common.by import By

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "web"))
import e2e_test  # noqa: E402
import screen_feed_test  # noqa: E402
from e2e_test import BIN_DIR, BrowserPlayer, Program, quit_driver  # noqa: E402
from screen_e2e_test import screen_driver  # noqa: E402
from screen_feed_test import Watcher, assert_fair_frames  # noqa: E402

WIN_DIR = os.environ.get("QOVA_WIN_BIN_DIR", os.path.join(e2e_test.ROOT, "build", "windows"))
WINE_STATE = os.environ.get("QOVA_WINE_STATE", os.path.join(WIN_DIR, "wine"))
SHOT_DIR = os.environ.get("QOVA_SHOT_DIR", os.path.join(WIN_DIR, "web-shots-wine"))
RUN_DIR = os.path.join(WIN_DIR, "web-wine-run")
HOST_EXE = os.environ.get("QOVAHOST_EXE", os.path.join(WIN_DIR, "server", "win", "QOVAHOST.exe"))
WEB_EXE = os.environ.get("QOVAWEB_EXE", os.path.join(WIN_DIR, "web", "win", "QOVAWEB.exe"))
DRIVER_EXE = os.environ.get("QOVA_WINDOW_DRIVER", os.path.join(WIN_DIR, "testing", "qova_window_driver.exe"))
TEST_PLAYER = os.path.join(BIN_DIR, "tools", "test_player")

LOBBY = "Waiting for Clients..."
STATISTICS = "Statistics"
GATEWAY = "QOVA Web Players"
START, QUIT, LOBBY_COUNT = 1000, 1001, 1002  # the lobby's Start and count, the Statistics' Quit
GATEWAY_STATUS, GATEWAY_SEATED, GATEWAY_QUIT = 1003, 1005, 1007
PORTS = (5632, 5633, 8080)
RESULTS_PAUSE_S, BOARD_PAUSE_S = 3.0, 6.0
WAIT_S = 60
DIALOG = "#32770"  # the window class of every window driven here


def wine_env():
    """The environment of the harness (DISPLAY, WINEPREFIX, QOVA_SDRIVE, ...) for wine's processes."""
    path = os.path.join(WINE_STATE, "env")
    if not os.path.exists(path):
        raise unittest.SkipTest("the wine harness is not running (%s); run the test through ctest" % path)
    env = dict(os.environ)
    with open(path) as f:
        for line in f:
            m = re.fullmatch(r'export (\w+)="?(.*?)"?', line.strip())
            if m:
                env[m.group(1)] = m.group(2)
    return env


def question_file(count):
    """A question file (.qdb) of `count` questions: "Question n: which answer is c?", c = 1 + n % 4."""
    lines = ["256", "4", str(count)]
    for n in range(1, count + 1):
        correct = 1 + n % 4
        lines += ["Question %d: which answer is %d?" % (n, correct)]
        lines += ["Answer %d" % r for r in range(1, 5)] + [str(correct)]
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


def port_taken(port):
    """True when a socket holds the port; connections of a closed server (TIME_WAIT) do not."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return True
    return False


def wait_ports_free(timeout=30):
    """Waits until nothing listens on the room's ports; the ports still taken, if any."""
    deadline = time.monotonic() + timeout
    while True:
        taken = [p for p in PORTS if port_taken(p)]
        if not taken or time.monotonic() > deadline:
            return taken
        time.sleep(0.5)


def listeners():
    """Who listens, with each process's command line, for a failure's message."""
    try:
        out = subprocess.run(["ss", "-ltnp"], capture_output=True, text=True, timeout=10).stdout
    except (OSError, subprocess.TimeoutExpired) as e:
        return "(ss: %s)" % e
    for pid in sorted(set(re.findall(r"pid=(\d+)", out))):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                out += "\n%s: %s" % (pid, f.read().replace(b"\0", b" ").decode(errors="replace"))
        except OSError:
            pass
    return out


def unescape(text):
    """A control's text from the window driver's reply line, which escapes backslash, CR and LF."""
    return re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), text)


class WindowDriver:
    """qova_window_driver under wine: one command a line, one reply a line."""

    def __init__(self, env):
        self.proc = subprocess.Popen(["wine", DRIVER_EXE], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def command(self, *fields):
        self.proc.stdin.write("\t".join(str(f) for f in fields) + "\n")
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline().rstrip("\r\n")
        if not reply:
            raise AssertionError("the window driver ended (exit code %s)" % self.proc.poll())
        return reply

    def text(self, caption, control):
        reply = self.command("text", caption, control, DIALOG)
        if not reply.startswith("ok\t"):
            raise AssertionError("reading %s %d: %s" % (caption, control, reply))
        return unescape(reply[3:])

    def checked(self, caption, control):
        """True when the check box is ticked."""
        reply = self.command("checked", caption, control, DIALOG)
        if reply not in ("ok\t0", "ok\t1"):
            raise AssertionError("reading %s %d: %s" % (caption, control, reply))
        return reply == "ok\t1"

    def click(self, caption, control):
        reply = self.command("click", caption, control, DIALOG)
        if reply != "ok":
            raise AssertionError("clicking %s %d: %s" % (caption, control, reply))

    def wait_text(self, caption, control, check, timeout=WAIT_S):
        deadline = time.monotonic() + timeout
        while True:
            # A window just made may not have its controls yet.
            reply = self.command("text", caption, control, DIALOG)
            got = unescape(reply[3:]) if reply.startswith("ok\t") else None
            if got is not None and check(got):
                return got
            if time.monotonic() > deadline:
                raise AssertionError("%s control %d: %s" % (caption, control, reply))
            time.sleep(0.2)

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.command("quit")
                self.proc.wait(15)
            except (AssertionError, OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait(10)
        for f in (self.proc.stdin, self.proc.stdout):
            f.close()


class WineRoomCase(unittest.TestCase):
    """QOVAHOST.exe and QOVAWEB.exe under Wine, driven through their windows."""

    def setUp(self):
        for path in (HOST_EXE, WEB_EXE, DRIVER_EXE, TEST_PLAYER):
            self.assertTrue(os.path.exists(path), "missing %s: build it first" % path)
        self.env = wine_env()
        taken = wait_ports_free()
        self.assertEqual(taken, [], "ports still taken before the test (a server of an earlier "
                                    "test may live on): %s\n%s" % (taken, listeners()))
        shutil.rmtree(RUN_DIR, ignore_errors=True)
        os.makedirs(RUN_DIR)
        os.makedirs(SHOT_DIR, exist_ok=True)
        e2e_test.RUN_DIR = RUN_DIR
        e2e_test.SHOT_DIR = os.path.join(RUN_DIR, "phone-shots")
        screen_feed_test.SHOT_DIR = SHOT_DIR
        marker = os.path.join(self.env["QOVA_SDRIVE"], "Zelk9", "HostIP")
        os.makedirs(marker, exist_ok=True)
        if os.path.exists(os.path.join(marker, "hostIP.dat")):
            os.remove(os.path.join(marker, "hostIP.dat"))
        self.must_run = []
        self.windows = WindowDriver(self.env)
        self.addCleanup(self.windows.stop)

    def check_programs(self):
        for prog in self.must_run:
            if prog.proc.poll() is not None:
                raise AssertionError("%s ended (exit code %s):\n%s" % (prog.name, prog.proc.returncode, prog.output()))

    def start_room(self, per_round, records):
        """QOVAHOST.exe in its lobby, QOVAWEB.exe running beside it; the gateway's base address."""
        with open(os.path.join(RUN_DIR, "config.ini"), "wb") as f:
            f.write(b"%d\r\n%d\r\nquestions.qdb" % (e2e_test.TIME_LIMIT_S, per_round))
        with open(os.path.join(RUN_DIR, "questions.qdb"), "wb") as f:
            f.write(question_file(records))
        self.host = Program("QOVAHOST.exe", ["wine", HOST_EXE], cwd=RUN_DIR, env=self.env)
        self.addCleanup(self.host.stop)
        self.must_run.append(self.host)
        # The count shows once the address and the marker are set.
        self.windows.wait_text(LOBBY, LOBBY_COUNT, lambda t: t != "")
        self.gateway = Program("QOVAWEB.exe", ["wine", WEB_EXE], cwd=RUN_DIR, env=self.env)
        self.addCleanup(self.gateway.stop)
        self.must_run.append(self.gateway)
        status = self.windows.wait_text(GATEWAY, GATEWAY_STATUS, lambda t: t.startswith("Running."))
        self.assertIn("(port 5632, from the server's marker file)", status)
        return "http://127.0.0.1:8080"

    def open_screen(self, base):
        profile = os.path.join(RUN_DIR, "profile-screen")
        driver = screen_driver(1280, 720, profile)
        self.addCleanup(quit_driver, driver, profile)
        driver.get(base + "/screen")
        w = Watcher(driver)
        w.thread.start()
        self.addCleanup(setattr, w, "stop", True)
        return w

    def join_phones(self, base, names, verdicts):
        """A phone (chromium at the phone's size) joined through the gateway for each name."""
        phones = []
        for name in names:
            p = BrowserPlayer(self, name, e2e_test.PHONE, "click", verdicts, 0.2, False)
            self.addCleanup(quit_driver, p.driver, p.profile)
            p.join(base)
            phones.append(p)
        return phones

    def start_players(self, names, delays, verdicts, times):
        players = Program("test_player",
                          [TEST_PLAYER, "--host", "127.0.0.1", "--names", ",".join(names),
                           "--delay", ",".join(str(d) for d in delays), "--verdicts", ",".join(verdicts),
                           "--times", ",".join(times), "--timeout", "300000", "--connect-retry", "10000"])
        self.addCleanup(players.stop)
        self.must_run.append(players)
        return players

    def wait_screen(self, w, js, want, timeout=WAIT_S):
        """Polls a value of the screen page until it equals want (or want(value) holds)."""
        deadline = time.monotonic() + timeout
        ok = want if callable(want) else lambda got: got == want
        got = None
        while time.monotonic() < deadline:
            self.check_programs()
            got = w.js(js)
            if ok(got):
                return
            time.sleep(0.1)
        self.fail("the screen shows %r, not %s" % (got, "as wanted" if callable(want) else repr(want)))

    def lobby_names(self, w):
        return w.js("return Array.from(document.querySelectorAll('#lobby-names li')).map(e => e.textContent);")

    def quit_host(self):
        """The operator quits in the Statistics window; the server ends with 0 (its players too)."""
        self.must_run = [p for p in self.must_run if p is self.gateway]
        self.windows.click(STATISTICS, QUIT)
        self.assertEqual(self.host.finish(30), 0, self.host.output())

    def quit_gateway(self):
        """With no seat left the gateway quits without asking."""
        self.windows.wait_text(GATEWAY, GATEWAY_SEATED, lambda t: t == "0")
        self.must_run.remove(self.gateway)
        self.windows.click(GATEWAY, GATEWAY_QUIT)
        self.assertEqual(self.gateway.finish(30), 0, self.gateway.output())


class ScreenWineTest(WineRoomCase):
    def test_a_mixed_room_counts_the_phones_and_the_pcs(self):
        base = self.start_room(per_round=2, records=6)
        w = self.open_screen(base)
        w.wait("lobby")
        phones = self.join_phones(base, ("Ann", "Bo"), "rw")
        # Pat answers right soon, Sam wrong after 10 s, so that the count is
        # seen at 3 of 4 first.
        pcs = self.start_players(["Pat at PC 1", "Sam at PC 2"], [2500, 10000], ["r", "w"], ["2.50", "10.00"])
        self.windows.wait_text(LOBBY, LOBBY_COUNT, lambda t: t == "4")
        self.wait_screen(w, "return document.getElementById('lobby-count').textContent;", "4 players have joined")
        self.assertEqual(sorted(self.lobby_names(w)), ["Ann", "Bo", "Pat at PC 1", "Sam at PC 2"])
        w.shot("wine-mixed-lobby")

        self.windows.click(LOBBY, START)
        phones[0].wait_view("question")
        qtext = phones[0].text("q-text")
        correct = int(re.fullmatch(r"Question \d+: which answer is ([1-4])\?", qtext).group(1))
        w.wait("question", qtext)
        for p, choice in ((phones[0], correct), (phones[1], correct % 4 + 1)):
            p.driver.find_elements(By.CSS_SELECTOR, "#q-responses .response")[choice - 1].click()
        self.wait_screen(w, "return document.getElementById('q-answered').textContent;", "3 of 4 answered",
                         timeout=9)
        w.shot("wine-mixed-question")
        w.wait("reveal", qtext, timeout=WAIT_S)
        # Ann and Pat right, Bo and Sam wrong; the bars are the phones' two choices.
        self.wait_screen(w, "return document.getElementById('q-answered').textContent;", "2 of 4 players were right")
        self.assertEqual(w.text("q-counted"), "Bars show the phones' choices (2 phones)")
        votes = w.js("return Array.from(document.querySelectorAll('#q-responses .votes')).map(e => e.textContent);")
        want = ["0"] * 4
        want[correct - 1] = "1"
        want[correct % 4] = "1"
        self.assertEqual(votes, want)
        fastest = w.js("return Array.from(document.querySelectorAll('#q-fastest-list .fname')).map(e => e.textContent);")
        self.assertEqual(sorted(fastest), ["Ann", "Pat at PC 1"])
        w.shot("wine-mixed-reveal")

        self.quit_host()
        self.assertEqual(pcs.finish(30), 0, pcs.output())
        self.assertIn("violations=0", pcs.output())
        self.quit_gateway()
        assert_fair_frames(self, w)
        self.assertIsNone(w.error)

    def test_a_room_of_pcs_plays_the_whole_game_on_the_screen(self):
        base = self.start_room(per_round=2, records=8)
        w = self.open_screen(base)
        w.wait("lobby")
        # Each answers a question 10 s after it came, later than the players'
        # programs show the next question after a round's standings (9 s).
        names = ["Ada at PC 1", "Bo at PC 2", "Cy at PC 3"]
        pcs = self.start_players(names, [10000, 10500, 11000], ["r", "rw", "w"], ["2.00", "1.00", "0.50"])
        self.windows.wait_text(LOBBY, LOBBY_COUNT, lambda t: t == "3")
        self.wait_screen(w, "return document.getElementById('lobby-count').textContent;", "3 players have joined")
        self.assertEqual(sorted(self.lobby_names(w)), names)
        w.shot("wine-pcs-lobby")

        self.windows.click(LOBBY, START)
        reveals = []  # when each question's reveal showed
        right = ["2 of 3 players were right", "1 of 3 players were right"] * 2
        for i in range(4):
            w.wait("question")
            q = [p for p in w.phases if p[1] == "question"][-1]
            if reveals:
                pause = RESULTS_PAUSE_S + (BOARD_PAUSE_S if i == 2 else 0)
                self.assertGreaterEqual(q[0] - reveals[-1], pause - 0.2, "question %d came early" % (i + 1))
            self.wait_screen(w, "return document.getElementById('q-answered').textContent;",
                             lambda t: re.fullmatch(r"[0-3] of 3 answered", t), timeout=5)
            if i == 0:
                w.shot("wine-pcs-question")
            at = w.wait("reveal", q[2], timeout=WAIT_S)
            reveals.append(at)
            self.wait_screen(w, "return document.getElementById('q-answered').textContent;", right[i])
            if i == 0:
                w.shot("wine-pcs-reveal")
            if i % 2 == 1:
                round_ = i // 2 + 1
                board = w.wait("standings", q[2], timeout=10)
                self.assertGreaterEqual(board - at, RESULTS_PAUSE_S - 0.2)
                self.wait_screen(w, "return document.getElementById('s-title').textContent;",
                                 "Standings after round %d" % round_)
                rows = w.js("return Array.from(document.querySelectorAll('#s-rows tr')).map("
                            "r => Array.from(r.cells).map(c => c.textContent));")
                n = 2 * round_
                self.assertEqual([r[:3] for r in rows],
                                 [["1", "Ada at PC 1", "%d of %d" % (n, n)], ["2", "Bo at PC 2", "%d of %d" % (round_, n)],
                                  ["3", "Cy at PC 3", "0 of %d" % n]])
                w.shot("wine-pcs-standings-%d" % round_)
            # Drop the phases seen, so that the next wait finds the next question.
            with w.lock:
                w.phases = w.phases[-1:]

        # The operator ends the night during round 3's first question: the
        # feed's end reaches the screen, which shows the podium.
        self.quit_host()
        end = w.wait("end", timeout=30)
        self.assertGreaterEqual(end - reveals[-1], RESULTS_PAUSE_S + BOARD_PAUSE_S - 0.2)
        self.wait_screen(w, "return Array.from(document.querySelectorAll('#podium .pname')).map(e => e.textContent);",
                         names)
        w.shot("wine-pcs-podium")
        self.assertEqual(pcs.finish(30), 0, pcs.output())
        self.assertIn("violations=0", pcs.output())
        self.quit_gateway()
        assert_fair_frames(self, w)
        self.assertIsNone(w.error)


if __name__ == "__main__":
    unittest.main(verbosity=2)
