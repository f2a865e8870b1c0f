"""A stand-in for the web gateway, for testing the players' web app in a browser.

Serves the files listed in web/app/embed.txt, a fixed /info, and at /ws speaks
the page's side of the gateway's messages. The game itself is driven by the
test through MockGateway's methods (ask, results, leaderboard, end), so every
view can be reached on cue. Standard library only.

Run by hand to look at the app:  /usr/bin/python3 tests/web/mock_gateway.py 8080
"""

import base64
import hashlib
import http.server
import json
import os
import secrets
import socket
import struct
import sys
import threading
import time

APP_DIR = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", "web", "app"))
WS_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
MAX_MESSAGE = 4096


def read_embed_list(app_dir=APP_DIR):
    """URL path -> (file path, content type), from embed.txt."""
    table = {}
    with open(os.path.join(app_dir, "embed.txt"), encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            if len(parts) != 3:
                raise ValueError("embed.txt: bad line: " + line.rstrip())
            path = os.path.join(app_dir, parts[1])
            if not os.path.isfile(path):
                raise FileNotFoundError(path + " is missing (scripts/install-deps runs npm ci)")
            table[parts[0]] = (path, parts[2])
    return table


class Socket:
    """One WebSocket connection: text frames only, as the page sends them."""

    def __init__(self, conn):
        self.conn = conn
        self.lock = threading.Lock()
        self.closed = False

    def _read_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.conn.recv(n - len(data))
            if not chunk:
                raise ConnectionError("closed")
            data += chunk
        return data

    def receive(self):
        """The next text message, or None when the connection is over."""
        try:
            while True:
                b0, b1 = self._read_exact(2)
                opcode, length = b0 & 0x0F, b1 & 0x7F
                if length == 126:
                    length = struct.unpack(">H", self._read_exact(2))[0]
                elif length == 127:
                    length = struct.unpack(">Q", self._read_exact(8))[0]
                if length > MAX_MESSAGE or not (b1 & 0x80) or not (b0 & 0x80):
                    return None  # oversized, unmasked or fragmented: not what the page sends
                mask = self._read_exact(4)
                payload = bytes(c ^ mask[i % 4] for i, c in enumerate(self._read_exact(length)))
                if opcode == 0x1:
                    return payload.decode("utf-8")
                if opcode == 0x8:
                    return None
                if opcode == 0x9:
                    self._send_frame(0xA, payload)
        except (ConnectionError, OSError, ValueError):
            return None

    def _send_frame(self, opcode, payload):
        head = bytes([0x80 | opcode])
        n = len(payload)
        if n < 126:
            head += bytes([n])
        elif n < 65536:
            head += bytes([126]) + struct.pack(">H", n)
        else:
            head += bytes([127]) + struct.pack(">Q", n)
        with self.lock:
            if self.closed:
                return
            try:
                self.conn.sendall(head + payload)
            except OSError:
                self.closed = True

    def send(self, msg):
        self._send_frame(0x1, json.dumps(msg).encode("utf-8"))

    def close(self):
        self._send_frame(0x8, struct.pack(">H", 1000))
        with self.lock:
            self.closed = True
        try:
            self.conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class Seat:
    def __init__(self, name, token):
        self.name = name
        self.token = token
        self.socket = None
        self.replay = []  # the messages that bring a resumed page back to the present
        self.answer = None  # (choice, time text) for the current question


class MockGateway:
    """The seats and the game as the test drives it. All methods are thread-safe."""

    def __init__(self, settings=None, links=None):
        self.settings = settings or {"questionsPerRound": 2, "responseCount": 4, "timeLimitMs": 30000}
        self.links = links or []
        self.lock = threading.Condition()
        self.seats = []
        self.started = False
        self.question = None  # the current question, with "correct" and its start time
        self.received = []  # every message from a page, in order, for the test to inspect
        self.all_results = None  # (q, every row) of the last results
        self.all_standings = None  # (round, every row) of the last standings
        self.standings_round = 0

    # -- the test's side --

    def add_bot(self, name):
        """A seat with no page behind it, so tables have other players."""
        with self.lock:
            seat = Seat(name, secrets.token_hex(16))
            self.seats.append(seat)
            return seat

    def seat(self, name):
        with self.lock:
            return next((s for s in self.seats if s.name == name), None)

    def ask(self, q, round_, number, of, text, responses, correct, time_limit_ms=None, elapsed_ms=0):
        """Puts a question to every seat, as if it had started elapsed_ms ago."""
        with self.lock:
            self.started = True
            limit = self.settings["timeLimitMs"] if time_limit_ms is None else time_limit_ms
            self.question = {"q": q, "round": round_, "number": number, "of": of, "text": text,
                             "responses": responses, "timeLimitMs": limit, "correct": correct,
                             "start": time.monotonic() - elapsed_ms / 1000}
            for s in self.seats:
                s.answer = None
                s.replay = [self._question_message()]
                self._send(s, s.replay[0])

    def time_out(self, name):
        """The gateway's own time-out of one seat's current question."""
        with self.lock:
            s = next(s for s in self.seats if s.name == name)
            self._record_answer(s, 0, timed_out=True)

    # Results and standings as the gateway bounds them: every row up to
    # INLINE_ROWS players, else the fastest right answers (results) or the top
    # rows (standings); the own row as "mine"; all rows in pages on request.
    INLINE_ROWS = 40
    FASTEST_ROWS = 5
    TOP_ROWS = 10
    ROWS_PAGE = 100

    @staticmethod
    def _indexed(rows):
        return [dict(r, i=i) for i, r in enumerate(rows)]

    def _bounded(self, msg, rows, me, shown):
        msg.update({"players": len(rows), "rows": [rows[i] for i in shown], "me": me,
                    "mine": rows[me] if me >= 0 else None})
        return msg

    def results(self, rows, me_by_name=True):
        with self.lock:
            q = self.question
            rows = self._indexed(rows)
            self.all_results = (q["q"], rows)
            right = sorted((r for r in rows if r["right"]), key=lambda r: (float(r["time"]), r["i"]))
            small = len(rows) <= self.INLINE_ROWS
            shown = list(range(len(rows))) if small else [r["i"] for r in right[:self.FASTEST_ROWS]]
            for s in self.seats:
                me = next((i for i, r in enumerate(rows) if r["name"] == s.name), -1) if me_by_name else -1
                msg = {"t": "results", "q": q["q"], "round": q["round"], "number": q["number"],
                       "correct": q["correct"], "right": len(right), "all": small}
                msg = self._bounded(msg, rows, me, shown)
                s.replay = [msg]
                self._send(s, msg)

    def _standings(self, rows):
        rows = self._indexed(rows)
        self.all_standings = (rows[0].get("round") if rows else 0, rows)
        n = len(rows) if len(rows) <= self.INLINE_ROWS else self.TOP_ROWS
        return rows, list(range(min(n, len(rows))))

    def leaderboard(self, round_, rows, final=False):
        with self.lock:
            rows, shown = self._standings(rows)
            self.standings_round = round_
            for s in self.seats:
                me = next((i for i, r in enumerate(rows) if r["name"] == s.name), -1)
                msg = self._bounded({"t": "leaderboard", "round": round_, "final": final}, rows, me, shown)
                s.replay = [msg]
                self._send(s, msg)

    def end(self, message, rows):
        with self.lock:
            rows, shown = self._standings(rows)
            for s in self.seats:
                me = next((i for i, r in enumerate(rows) if r["name"] == s.name), -1)
                msg = self._bounded({"t": "ended", "message": message}, rows, me, shown)
                s.replay = [msg]
                self._send(s, msg)
                if s.socket:
                    s.socket.close()

    def drop_connections(self):
        """Closes every page's socket, as a gateway restart or a network blip would."""
        with self.lock:
            for s in self.seats:
                if s.socket:
                    s.socket.close()
                    s.socket = None

    def forget_seats(self):
        """Forgets every seat, so that a resume is answered with "unknown"."""
        with self.lock:
            self.seats = []
            self.started = False

    def wait_for(self, predicate, timeout=10.0):
        """Waits until predicate(received messages) holds; True when it did."""
        end = time.monotonic() + timeout
        with self.lock:
            while not predicate(self.received):
                left = end - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(left)
            return True

    # -- the page's side --

    def _question_message(self):
        q = self.question
        left = 0
        if q["timeLimitMs"] > 0:
            left = max(0, q["timeLimitMs"] - int((time.monotonic() - q["start"]) * 1000))
        msg = {k: q[k] for k in ("q", "round", "number", "of", "text", "responses", "timeLimitMs")}
        msg["t"] = "question"
        msg["timeLeftMs"] = left
        return msg

    def _send(self, seat, msg):
        if seat.socket:
            seat.socket.send(msg)

    def _record_answer(self, seat, choice, timed_out=False):
        q = self.question
        if timed_out:
            elapsed = "%.2f" % (q["timeLimitMs"] / 1000)
        else:
            elapsed = "%.2f" % (time.monotonic() - q["start"])
        seat.answer = (choice, elapsed)
        msg = {"t": "answered", "q": q["q"], "choice": choice, "correct": q["correct"],
               "right": choice != 0 and choice == q["correct"], "time": elapsed, "timedOut": timed_out}
        seat.replay = [self._question_message(), msg]
        self._send(seat, msg)

    def on_message(self, sock, text, seat):
        """Handles one message from a page; returns the seat the socket now holds."""
        try:
            msg = json.loads(text)
        except ValueError:
            return seat, False
        with self.lock:
            self.received.append(msg)
            self.lock.notify_all()
            kind = msg.get("t")
            if kind == "join" and seat is None:
                name = str(msg.get("name", "")).strip()
                if not name:
                    sock.send({"t": "refused", "message": "Type a name to join."})
                elif any(s.name == name for s in self.seats):
                    sock.send({"t": "refused", "message": "That name is already taken."})
                elif self.started:
                    sock.send({"t": "refused", "message": "The quiz has already started."})
                else:
                    seat = Seat(name, secrets.token_hex(16))
                    seat.socket = sock
                    seat.replay = [{"t": "lobby"}]
                    self.seats.append(seat)
                    sock.send({"t": "welcome", "token": seat.token, "name": name, "settings": self.settings})
                    sock.send({"t": "lobby"})
                return seat, True
            if kind == "resume" and seat is None:
                found = next((s for s in self.seats if s.token == msg.get("token")), None)
                if not found:
                    sock.send({"t": "unknown"})
                    return None, True
                if found.socket and found.socket is not sock:
                    found.socket.close()
                found.socket = sock
                sock.send({"t": "welcome", "token": found.token, "name": found.name, "settings": self.settings})
                for m in found.replay:
                    if m["t"] == "question":
                        m = self._question_message()
                    sock.send(m)
                return found, True
            if kind == "answer" and seat is not None:
                q = self.question
                if q and msg.get("q") == q["q"] and seat.answer is None:
                    choice = msg.get("choice")
                    if isinstance(choice, int) and 1 <= choice <= len(q["responses"]):
                        self._record_answer(seat, choice)
                return seat, True
            if kind == "rows" and seat is not None:
                of, start = msg.get("of"), msg.get("from")
                if of not in ("results", "standings") or not isinstance(start, int) or start < 0:
                    return seat, False
                held = self.all_results if of == "results" else self.all_standings
                if held:
                    rows = held[1]
                    me = next((i for i, r in enumerate(rows) if r["name"] == seat.name), -1)
                    reply = {"t": "rows", "of": of, "from": start, "total": len(rows),
                             "rows": rows[start:start + self.ROWS_PAGE], "me": me}
                    if of == "results":
                        reply["q"] = held[0]
                    else:
                        reply["round"] = self.standings_round
                    sock.send(reply)
                return seat, True
            return seat, False  # what the gateway would close the socket for

    def serve_socket(self, sock):
        seat = None
        while True:
            text = sock.receive()
            if text is None:
                break
            seat, ok = self.on_message(sock, text, seat)
            if not ok:
                break
        with self.lock:
            if seat is not None and seat.socket is sock:
                seat.socket = None
        sock.close()


def make_handler(gateway, files):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            path = self.path.split("?", 1)[0]
            if path == "/ws":
                return self._upgrade()
            if path == "/info":
                body = json.dumps({"links": gateway.links, "server": "127.0.0.1",
                                   "seats": len(gateway.seats), "maxSeats": 1000}).encode()
                return self._reply(200, "application/json", body)
            if path not in files:
                return self._reply(404, "text/plain", b"Not found")
            name, ctype = files[path]
            with open(name, "rb") as f:
                self._reply(200, ctype, f.read())

        def _reply(self, status, ctype, body):
            self.send_response(status)
            self.send_header("Content-Type", ctype)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)

        def _upgrade(self):
            key = self.headers.get("Sec-WebSocket-Key")
            if not key or self.headers.get("Upgrade", "").lower() != "websocket":
                return self._reply(400, "text/plain", b"WebSocket only")
            accept = base64.b64encode(hashlib.sha1((key + WS_GUID).encode()).digest()).decode()
            self.send_response(101)
            self.send_header("Upgrade", "websocket")
            self.send_header("Connection", "Upgrade")
            self.send_header("Sec-WebSocket-Accept", accept)
            self.end_headers()
            self.wfile.flush()
            gateway.serve_socket(Socket(self.connection))
            self.close_connection = True

    return Handler


def start(gateway, port=0):
    """Serves gateway on 127.0.0.1 in a background thread; returns the server (server_port)."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), make_handler(gateway, read_embed_list()))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


if __name__ == "__main__":
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 8080
    gw = MockGateway(links=["http://127.0.0.1:%d/" % port])
    gw.add_bot("Bo")
    start(gw, port)
    print("serving http://127.0.0.1:%d/ (Ctrl+C to stop)" % port)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
