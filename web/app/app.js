// The player's app: one WebSocket to the gateway at /ws, one view at a time.
// The gateway owns the game; this page only shows what it is sent, sends the
// player's join, resume and answers, and keeps the seat's token across reloads.
"use strict";

(function () {
  var TOKEN_KEY = "qova.token";
  var BACKOFF_FIRST_MS = 500;
  var BACKOFF_MAX_MS = 3000;

  var $ = function (id) { return document.getElementById(id); };

  // What the page knows of the game. `question` is the last question shown;
  // its `answered` holds the gateway's verdict once it arrives, `sent` the
  // choice sent but not yet confirmed.
  var state = {
    ws: null,
    backoffMs: BACKOFF_FIRST_MS,
    retryTimer: 0,
    ended: false,
    name: "",
    settings: null,
    question: null,
    sent: 0,
    answered: null,
    deadline: 0,
    tick: 0,
    view: null,  // the results or standings shown last: {of, msg}
    all: null    // the "All ..." view: {of, from, back, total}
  };

  function readToken() {
    try { return localStorage.getItem(TOKEN_KEY) || ""; } catch (e) { return ""; }
  }
  function writeToken(token) {
    try {
      if (token) localStorage.setItem(TOKEN_KEY, token);
      else localStorage.removeItem(TOKEN_KEY);
    } catch (e) { /* private mode: the seat lasts as long as the page */ }
  }

  function show(view) {
    var current = $("view-" + view);
    if (current.hidden) window.scrollTo(0, 0);
    var views = document.querySelectorAll(".view");
    for (var i = 0; i < views.length; i++) views[i].hidden = views[i].id !== "view-" + view;
    if (view !== "question") stopCountdown();
  }

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function reducedMotion() {
    return !!(window.matchMedia && window.matchMedia("(prefers-reduced-motion: reduce)").matches);
  }

  function plural(n, one, many) { return n + " " + (n === 1 ? one : many); }

  function setWho() {
    $("who").textContent = state.name ? state.name : "";
  }

  // --- connection -----------------------------------------------------------

  function connect() {
    clearTimeout(state.retryTimer);
    var scheme = location.protocol === "https:" ? "wss://" : "ws://";
    var ws;
    try {
      ws = new WebSocket(scheme + location.host + "/ws");
    } catch (e) {
      scheduleReconnect();
      return;
    }
    state.ws = ws;
    ws.onopen = function () {
      state.backoffMs = BACKOFF_FIRST_MS;
      $("notice").hidden = true;
      var token = readToken();
      if (token) send({ t: "resume", token: token });
      else showJoin("");
    };
    ws.onmessage = function (ev) {
      var msg;
      try { msg = JSON.parse(ev.data); } catch (e) { return; }
      if (msg && typeof msg.t === "string") handle(msg);
    };
    ws.onclose = function () {
      if (state.ws !== ws) return;
      state.ws = null;
      if (state.ended) return;
      scheduleReconnect();
    };
  }

  function scheduleReconnect() {
    $("notice").hidden = false;
    var wait = state.backoffMs;
    state.backoffMs = Math.min(state.backoffMs * 2, BACKOFF_MAX_MS);
    state.retryTimer = setTimeout(connect, wait);
  }

  function send(msg) {
    if (!state.ws || state.ws.readyState !== WebSocket.OPEN) return false;
    state.ws.send(JSON.stringify(msg));
    return true;
  }

  // --- messages -------------------------------------------------------------

  function handle(msg) {
    // The host's pause notice stays over the results or leaderboard until
    // the game moves on.
    if (msg.t === "paused") {
      $("paused").textContent = msg.message || "The host has paused the quiz.";
      $("paused").hidden = false;
      return;
    }
    if (msg.t !== "rows" && msg.t !== "waiting" && msg.t !== "answered") $("paused").hidden = true;
    switch (msg.t) {
      case "welcome":
        writeToken(msg.token);
        state.name = msg.name || "";
        state.settings = msg.settings || null;
        setWho();
        showLobby();
        break;
      case "refused":
        showJoin(msg.message || "The quiz did not let you join.");
        break;
      case "unknown":
        writeToken("");
        state.name = "";
        setWho();
        showJoin("Your seat was lost. Please join again.");
        break;
      case "lobby":
        showLobby();
        break;
      case "question":
        showQuestion(msg);
        break;
      case "answered":
        if (state.question && state.question.q === msg.q) {
          state.answered = msg;
          renderAnswer();
          // On a phone the verdict line may sit below the responses.
          $("q-status").scrollIntoView({ block: "nearest", behavior: reducedMotion() ? "auto" : "smooth" });
        }
        break;
      case "results":
        showResults(msg);
        break;
      case "leaderboard":
        showBoard(msg);
        break;
      case "ended":
        showEnded(msg);
        break;
      case "rows":
        showRows(msg);
        break;
      case "waiting":  // the quiz server is slow to seat us; the join still stands
        $("join-error").textContent = msg.message || "Still waiting for the quiz server.";
        $("join-error").hidden = false;
        break;
    }
  }

  // --- join and lobby -------------------------------------------------------

  function showJoin(error) {
    state.ended = false;
    show("join");
    var err = $("join-error");
    err.textContent = error;
    err.hidden = !error;
    $("join").disabled = false;
    var name = $("name");
    if (!name.value && state.name) name.value = state.name;
    name.focus();
  }

  function submitJoin(ev) {
    ev.preventDefault();
    var name = $("name").value.trim();
    var err = $("join-error");
    if (!name) {
      err.textContent = "Type your name first.";
      err.hidden = false;
      $("name").focus();
      return;
    }
    if (!send({ t: "join", name: name })) {
      err.textContent = "Not connected to the quiz yet. Try again in a moment.";
      err.hidden = false;
      return;
    }
    err.hidden = true;
  }

  function showLobby() {
    show("lobby");
    $("lobby-head").textContent = state.name ? "You have joined as " + state.name + "." : "You have joined.";
    var list = $("lobby-settings");
    list.textContent = "";
    var s = state.settings;
    if (!s) return;
    list.appendChild(el("li", "", s.timeLimitMs > 0
      ? "Time limit: " + formatSeconds(s.timeLimitMs) + " seconds per question"
      : "Time limit: none"));
    list.appendChild(el("li", "", "Questions per round: " + s.questionsPerRound));
    list.appendChild(el("li", "", plural(s.responseCount, "response", "responses") + " per question"));
  }

  function formatSeconds(ms) {
    var s = ms / 1000;
    return s === Math.floor(s) ? String(s) : s.toFixed(1);
  }

  // --- question -------------------------------------------------------------

  function showQuestion(msg) {
    var same = state.question && state.question.q === msg.q;
    state.question = msg;
    if (!same) { state.sent = 0; state.answered = null; window.scrollTo(0, 0); }
    else if (!state.answered) state.sent = 0; // a resume re-sends an unanswered question
    show("question");
    $("q-head").textContent = "Round " + msg.round + ", question " + msg.number + " of " + msg.of;
    $("q-text").textContent = msg.text;
    var box = $("q-responses");
    box.textContent = "";
    var responses = msg.responses || [];
    for (var i = 0; i < responses.length; i++) {
      var b = el("button", "response");
      b.type = "button";
      b.dataset.choice = String(i + 1);
      b.appendChild(el("span", "key", String(i + 1)));
      var body = el("span", "rbody");
      body.appendChild(el("span", "rtext", responses[i]));
      body.appendChild(el("span", "mark"));
      b.appendChild(body);
      b.addEventListener("click", onResponseClick);
      box.appendChild(b);
    }
    startCountdown(msg);
    renderAnswer();
  }

  function onResponseClick(ev) {
    choose(Number(ev.currentTarget.dataset.choice));
  }

  function choose(choice) {
    var q = state.question;
    if (!q || state.sent || state.answered) return;
    if (choice < 1 || choice > (q.responses || []).length) return;
    if (!send({ t: "answer", q: q.q, choice: choice })) return;
    state.sent = choice;
    renderAnswer();
  }

  function onKey(ev) {
    if (ev.altKey || ev.ctrlKey || ev.metaKey) return;
    if ($("view-question").hidden) return;
    var k = ev.key;
    if (k.length === 1 && k >= "1" && k <= "5") {
      ev.preventDefault();
      choose(Number(k));
    }
  }

  // Marks the buttons and the status line from the sent choice and the verdict.
  function renderAnswer() {
    var a = state.answered;
    var chosen = a ? a.choice : state.sent;
    var locked = !!(a || state.sent);
    var buttons = $("q-responses").children;
    for (var i = 0; i < buttons.length; i++) {
      var b = buttons[i];
      var n = i + 1;
      var cls = "response";
      var mark = "";
      if (a) {
        if (n === a.correct && n === chosen) { cls += " right mine"; mark = "Your answer - right"; }
        else if (n === a.correct) { cls += " right"; mark = "Right answer"; }
        else if (n === chosen) { cls += " wrong mine"; mark = "Your answer - wrong"; }
      } else if (n === chosen) {
        cls += " mine"; mark = "Your answer";
      }
      b.className = cls;
      b.disabled = locked;
      b.setAttribute("aria-pressed", n === chosen ? "true" : "false");
      b.querySelector(".mark").textContent = mark;
    }
    var status = $("q-status");
    $("q-timer").hidden = !!a; // the clock no longer matters once the verdict is in
    if (a) {
      stopCountdown();
      if (a.timedOut) status.textContent = "\u2717 Time ran out: counted as wrong. Waiting for the others...";
      else status.textContent = (a.right ? "\u2713 Your answer is right" : "\u2717 Your answer is wrong") + ", in " + a.time + " s. Waiting for the others...";
      status.className = "status " + (a.right ? "good" : "bad");
    } else if (state.sent) {
      status.textContent = "Answer sent. Waiting for the others...";
      status.className = "status";
    } else {
      status.textContent = "Tap a response or press its number key.";
      status.className = "status";
    }
  }

  function startCountdown(msg) {
    stopCountdown();
    var limit = msg.timeLimitMs || 0;
    var timer = $("q-timer");
    if (limit <= 0) {
      timer.className = "timer none";
      $("q-count").textContent = "No time limit";
      return;
    }
    state.deadline = Date.now() + Math.max(0, msg.timeLeftMs || 0);
    var draw = function () {
      var left = Math.max(0, state.deadline - Date.now());
      var secs = Math.ceil(left / 1000);
      $("q-count").textContent = "Time left: " + secs + " s";
      $("q-bar").style.width = Math.min(100, (left / limit) * 100) + "%";
      timer.className = secs <= 5 ? "timer low" : "timer";
      if (left <= 0) stopCountdown();
    };
    draw();
    state.tick = setInterval(draw, 200);
  }

  function stopCountdown() {
    clearInterval(state.tick);
    state.tick = 0;
  }

  // --- results and leaderboards ----------------------------------------------

  function responseText(n) {
    var q = state.question;
    if (q && q.responses && n >= 1 && n <= q.responses.length) return n + ". " + q.responses[n - 1];
    return String(n);
  }

  // Results and standings come bounded: every row in a small room, else the
  // fastest right answers (results) or the top rows (standings), with the
  // player's own row as "mine" and the room's size as "players". The whole
  // table is fetched in pages from the "All results" / "All standings" view.
  var ROWS_PAGE = 100;

  function verdictCell(right) {
    return el("td", right ? "verdict good" : "verdict bad", right ? "\u2713 right" : "\u2717 wrong");
  }

  function resultRow(r, me) {
    var own = r.i === me;
    var tr = el("tr", own ? "me" : "");
    tr.appendChild(nameCell(r.name, own));
    tr.appendChild(verdictCell(r.right));
    tr.appendChild(el("td", "num", r.time));
    return tr;
  }

  function gapRow(columns) {
    var tr = el("tr", "gap");
    var td = el("td", "", "\u22ee");
    td.colSpan = columns;
    td.setAttribute("aria-hidden", "true");
    tr.appendChild(td);
    return tr;
  }

  // The rows shown, then the own row below a gap when it is not among them.
  function fillRows(body, rows, me, mine, columns, make) {
    body.textContent = "";
    var shown = false;
    for (var i = 0; i < rows.length; i++) {
      if (rows[i].i === me) shown = true;
      body.appendChild(make(rows[i], me));
    }
    if (mine && !shown) {
      if (rows.length) body.appendChild(gapRow(columns));
      body.appendChild(make(mine, me));
    }
  }

  function showResults(msg) {
    show("results");
    state.view = { of: "results", msg: msg };
    $("r-head").textContent = "Results of round " + msg.round + ", question " + msg.number;
    var sameQuestion = state.question && state.question.q === msg.q;
    $("r-correct").textContent = msg.correct > 0
      ? "Right answer: " + (sameQuestion ? responseText(msg.correct) : String(msg.correct))
      : "No response was right.";
    var players = msg.players || 0;
    var rows = msg.rows || [];
    var mine = msg.mine;
    var summary = mine
      ? (mine.right ? "\u2713 You were right" : "\u2717 You were wrong") + ", in " + mine.time + " s.\n"
      : "";
    summary += (msg.right || 0) + " of " + plural(players, "player", "players") + " right.";
    $("r-summary").textContent = summary;
    $("r-caption").textContent = msg.all ? "" : (rows.length ? "Fastest right answers" : "No one was right.");
    $("r-caption").hidden = !!msg.all;
    fillRows($("r-rows"), rows, msg.me, mine, 3, resultRow);
    $("r-table").hidden = $("r-rows").children.length === 0;
    $("r-all").hidden = !!msg.all || players === 0;
  }

  function nameCell(name, own) {
    var td = el("td", "name", name);
    if (own) td.appendChild(el("span", "you", " (you)"));
    return td;
  }

  // The server sends averages to four significant digits ("0.5725", "1.9");
  // the column shows hundredths, as the answers' times are.
  function averageText(text) {
    var n = Number(text);
    return text !== "" && isFinite(n) ? n.toFixed(2) : String(text);
  }

  function standingRow(r, me) {
    var own = r.i === me;
    var tr = el("tr", own ? "me" : "");
    tr.appendChild(el("td", "num", r.rank + "."));
    tr.appendChild(nameCell(r.name, own));
    tr.appendChild(el("td", "num", r.correct + " of " + r.answers));
    tr.appendChild(el("td", "num", averageText(r.average)));
    return tr;
  }

  function fillBoard(msg) {
    var rows = msg.rows || [];
    fillRows($("b-rows"), rows, msg.me, msg.mine, 4, standingRow);
    $("b-table").hidden = $("b-rows").children.length === 0;
    var players = msg.players || 0;
    var mine = msg.mine;
    $("b-summary").textContent = players
      ? (mine ? "You are in place " + mine.rank + " of " + players + "." : plural(players, "player", "players") + ".")
      : "";
    $("b-all").hidden = players <= rows.length;
    return rows.length;
  }

  function showBoard(msg) {
    show("board");
    state.view = { of: "standings", msg: msg };
    $("b-head").textContent = msg.final ? "Final leaderboard" : "Leaderboard after round " + msg.round;
    $("b-message").hidden = true;
    fillBoard(msg);
    $("b-note").textContent = msg.final ? "" : "The next round starts in a moment.";
    $("b-again").hidden = true;
  }

  function showEnded(msg) {
    state.ended = true;
    show("board");
    state.view = { of: "standings", msg: msg };
    $("b-head").textContent = "The quiz has ended";
    var m = $("b-message");
    m.textContent = msg.message || "";
    m.hidden = !msg.message;
    var n = fillBoard(msg);
    $("b-note").textContent = n ? "Final standings." : "No round was completed.";
    $("b-again").hidden = false;
  }

  // --- all rows, in pages ------------------------------------------------------

  function openAll(of) {
    if (!state.view || state.view.of !== of) return;
    state.all = { of: of, from: 0, back: of === "results" ? "results" : "board", total: state.view.msg.players || 0 };
    show("all");
    $("a-head").textContent = of === "results" ? "All results" : "All standings";
    $("a-head-row").textContent = "";
    var cols = of === "results" ? ["Player", "Answer", "Time (s)"] : ["Place", "Player", "Correct", "Avg time (s)"];
    var nums = of === "results" ? [false, false, true] : [true, false, true, true];
    for (var i = 0; i < cols.length; i++) {
      var th = el("th", nums[i] ? "num" : "", cols[i]);
      th.scope = "col";
      $("a-head-row").appendChild(th);
    }
    $("a-rows").textContent = "";
    requestRows(0);
  }

  function requestRows(from) {
    var a = state.all;
    if (!a) return;
    a.from = Math.max(0, from);
    $("a-range").textContent = "Loading...";
    $("a-prev").disabled = $("a-next").disabled = true;
    send({ t: "rows", of: a.of, from: a.from });
  }

  function showRows(msg) {
    var a = state.all;
    if (!a || $("view-all").hidden || msg.of !== a.of || msg.from !== a.from) return;
    a.total = msg.total;
    var rows = msg.rows || [];
    var body = $("a-rows");
    body.textContent = "";
    for (var i = 0; i < rows.length; i++) {
      body.appendChild(a.of === "results" ? resultRow(rows[i], msg.me) : standingRow(rows[i], msg.me));
    }
    $("a-range").textContent = rows.length
      ? "Rows " + (msg.from + 1) + " to " + (msg.from + rows.length) + " of " + msg.total
      : "No rows here (" + msg.total + " in all).";
    $("a-prev").disabled = msg.from <= 0;
    $("a-next").disabled = msg.from + ROWS_PAGE >= msg.total;
    $("a-mine").hidden = !(msg.me >= 0);
    if (a.toMine) {
      a.toMine = false;
      var own = body.querySelector("tr.me");
      if (own) own.scrollIntoView({ block: "center", behavior: reducedMotion() ? "auto" : "smooth" });
    }
  }

  function closeAll() {
    var a = state.all;
    state.all = null;
    if (a) show(a.back);
  }

  function joinAgain() {
    writeToken("");
    state.name = "";
    state.question = null;
    setWho();
    state.ended = false;
    // A fresh socket: the old one belonged to a seat that is over.
    var old = state.ws;
    state.ws = null;
    if (old) old.close();
    showJoin("");
    connect();
  }

  $("join-form").addEventListener("submit", submitJoin);
  $("b-again").addEventListener("click", joinAgain);
  $("r-all").addEventListener("click", function () { openAll("results"); });
  $("b-all").addEventListener("click", function () { openAll("standings"); });
  $("a-prev").addEventListener("click", function () { requestRows(state.all ? state.all.from - ROWS_PAGE : 0); });
  $("a-next").addEventListener("click", function () { requestRows(state.all ? state.all.from + ROWS_PAGE : 0); });
  $("a-mine").addEventListener("click", function () {
    var me = state.view && state.view.msg.me;
    if (me >= 0 && state.all) {
      state.all.toMine = true;
      requestRows(Math.floor(me / ROWS_PAGE) * ROWS_PAGE);
    }
  });
  $("a-back").addEventListener("click", closeAll);
  document.addEventListener("keydown", onKey);
  if (!readToken()) showJoin("");
  connect();
})();
