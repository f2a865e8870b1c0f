// The host's controls: one WebSocket to the gateway at /host/ws. The key
// comes from the page's own link after '#', which no browser sends in a
// request; the page gives it as its first message and gets nothing without
// it. Each command waits for its answer (done, or refused with a reason)
// before the next may go.
"use strict";

(function () {
  var $ = function (id) { return document.getElementById(id); };
  var QR_MS = 60000;
  var state = {
    ws: null, backoff: 500, denied: false, last: null, nextId: 1, pending: 0,
    deadline: 0, from: 0, search: "", total: 0, askRemove: null, qrTimer: 0, searchTimer: 0,
    listAsked: false
  };
  var key = (location.hash || "").replace(/^#/, "");

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function notice(text) {
    $("notice").textContent = text;
    $("notice").hidden = !text;
  }

  function send(m) {
    if (state.ws && state.ws.readyState === 1) state.ws.send(JSON.stringify(m));
  }

  function command(what, extra) {
    if (state.pending) return;
    var m = { t: "command", id: state.nextId++, "do": what };
    for (var k in extra) m[k] = extra[k];
    state.pending = m.id;
    $("answer").textContent = "Sent; waiting for the quiz server...";
    $("answer").className = "answer";
    send(m);
    renderButtons();
  }

  var STAGES = { lobby: "Lobby", question: "Question out", between: "Between questions",
    ended: "The quiz has ended" };

  function render(s) {
    state.last = s;
    document.body.setAttribute("data-stage", s.stage);
    document.body.setAttribute("data-held", s.held ? "true" : "false");
    $("controls").hidden = false;
    notice("");
    var stage = STAGES[s.stage] || s.stage;
    if (s.stage === "lobby") stage += ": " + s.players + (s.players === 1 ? " player" : " players");
    $("stage").textContent = stage;
    $("held").hidden = !s.held || s.stage === "ended";
    var q = s.question;
    $("question").hidden = !q;
    if (q) {
      $("q-where").textContent = "Round " + q.round + ", question " + q.number + " of " + q.of;
      $("q-text").textContent = q.text;
      $("q-answered").textContent = s.answered + " of " + (s.answered + s.awaited) + " answered";
      state.deadline = q.timeLimitMs > 0 ? Date.now() + q.timeLeftMs : 0;
    } else {
      state.deadline = 0;
    }
    tick();
    if (!state.pending) $("hold-after-round").checked = !!s.holdAfterRound;
    renderButtons();
    if (!state.listAsked) {
      state.listAsked = true;
      askPlayers();
    }
  }

  function renderButtons() {
    var s = state.last;
    if (!s) return;
    var busy = !!state.pending;
    $("start").hidden = s.stage !== "lobby";
    $("end-question").hidden = s.stage !== "question";
    var hold = $("hold");
    hold.hidden = s.stage === "lobby" || s.stage === "ended";
    hold.textContent = s.held ? "Go On" : "Hold";
    hold.setAttribute("data-held", s.held ? "true" : "false");
    ["start", "end-question", "hold", "hold-after-round", "confirm-yes"].forEach(function (id) {
      $(id).disabled = busy;
    });
    var removes = document.querySelectorAll(".players button");
    for (var i = 0; i < removes.length; i++) {
      removes[i].disabled = busy;
      removes[i].hidden = s.stage === "ended";
    }
  }

  function tick() {
    if (!state.deadline) {
      $("q-clock").textContent = "";
      return;
    }
    var left = Math.max(0, Math.ceil((state.deadline - Date.now()) / 1000));
    $("q-clock").textContent = left + " s left";
  }

  function askPlayers() { send({ t: "players", from: state.from, search: state.search }); }

  function renderPlayers(m) {
    if (m.from !== state.from || m.search !== state.search) return;  // an older request's
    state.total = m.total;
    var list = $("players");
    list.textContent = "";
    m.rows.forEach(function (r) {
      var li = el("li");
      li.appendChild(el("span", "num", "No. " + r.n));
      li.appendChild(el("span", "name", r.name));
      var b = el("button", "", "Remove");
      b.type = "button";
      b.setAttribute("aria-label", "Remove player " + r.n + ", " + r.name);
      b.addEventListener("click", function () { askRemove(r); });
      li.appendChild(b);
      list.appendChild(li);
    });
    $("players-title").textContent = state.search ?
      "Players matching \u201C" + state.search + "\u201D: " + m.total : "Players: " + m.total;
    $("page-where").textContent = m.total > m.rows.length ?
      (m.from + 1) + "\u2013" + (m.from + m.rows.length) + " of " + m.total : "";
    $("prev").hidden = m.from === 0;
    $("next").hidden = m.from + m.rows.length >= m.total;
    renderButtons();
  }

  function askRemove(r) {
    state.askRemove = r;
    $("confirm-text").textContent = "Remove player " + r.n + ", " + r.name + ", from the quiz?";
    $("confirm").hidden = false;
    $("confirm-no").focus();
  }

  function onAnswer(m) {
    if (m.id !== state.pending) return;
    state.pending = 0;
    var a = $("answer");
    a.textContent = m.done ? "Done." : m.reason;
    a.className = m.done ? "answer" : "answer refused";
    if (state.last) $("hold-after-round").checked = !!state.last.holdAfterRound;
    renderButtons();
  }

  function onMessage(ev) {
    var m;
    try { m = JSON.parse(ev.data); } catch (e) { return; }
    if (m.t === "state") {
      render(m);
    } else if (m.t === "players") {
      renderPlayers(m);
    } else if (m.t === "answer") {
      onAnswer(m);
    } else if (m.t === "nofeed") {
      state.last = null;
      state.listAsked = false;
      $("controls").hidden = true;
      document.body.setAttribute("data-stage", "nofeed");
      notice(m.message);
    } else if (m.t === "denied") {
      state.denied = true;
      $("controls").hidden = true;
      document.body.setAttribute("data-stage", "denied");
      notice(m.message);
    }
  }

  function connect() {
    $("status").textContent = "Connecting...";
    var ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/host/ws");
    state.ws = ws;
    ws.onopen = function () {
      state.backoff = 500;
      $("status").textContent = "Connected";
      ws.send(JSON.stringify({ t: "key", key: key }));
    };
    ws.onmessage = onMessage;
    ws.onclose = function () {
      if (state.ws !== ws) return;
      state.ws = null;
      if (state.pending) onAnswer({ id: state.pending, done: false, reason: "The connection to QOVAWEB was lost." });
      if (state.denied) {
        $("status").textContent = "";
        return;
      }
      $("status").textContent = "Reconnecting...";
      state.listAsked = false;
      setTimeout(connect, state.backoff);
      state.backoff = Math.min(5000, state.backoff * 2);
    };
  }

  function hideQr() {
    clearTimeout(state.qrTimer);
    $("qr").innerHTML = "";
    $("qr-box").hidden = true;
    $("show-qr").hidden = false;
  }

  function showQr() {
    if (typeof qrcode !== "function") return;
    var qr = qrcode(0, "M");
    qr.addData(location.href);
    qr.make();
    $("qr").innerHTML = qr.createSvgTag({ cellSize: 6, margin: 12, scalable: true });
    $("qr-box").hidden = false;
    $("show-qr").hidden = true;
    clearTimeout(state.qrTimer);
    state.qrTimer = setTimeout(hideQr, QR_MS);
  }

  $("start").addEventListener("click", function () { command("start"); });
  $("end-question").addEventListener("click", function () { command("endQuestion"); });
  $("hold").addEventListener("click", function () {
    command(state.last && state.last.held ? "goOn" : "hold");
  });
  $("hold-after-round").addEventListener("change", function () {
    command("holdAfterRound", { on: $("hold-after-round").checked });
  });
  $("confirm-yes").addEventListener("click", function () {
    var r = state.askRemove;
    $("confirm").hidden = true;
    state.askRemove = null;
    if (r) command("remove", { player: r.n });
  });
  $("confirm-no").addEventListener("click", function () {
    $("confirm").hidden = true;
    state.askRemove = null;
  });
  $("prev").addEventListener("click", function () {
    state.from = Math.max(0, state.from - 100);
    askPlayers();
  });
  $("next").addEventListener("click", function () {
    state.from += 100;
    askPlayers();
  });
  $("search").addEventListener("input", function () {
    clearTimeout(state.searchTimer);
    state.searchTimer = setTimeout(function () {
      state.search = $("search").value.slice(0, 60);
      state.from = 0;
      askPlayers();
    }, 250);
  });
  $("show-qr").addEventListener("click", showQr);
  $("hide-qr").addEventListener("click", hideQr);
  setInterval(tick, 250);

  if (!/^[0-9a-f]{32}$/.test(key)) {
    document.body.setAttribute("data-stage", "nokey");
    notice("This page needs the host link that QOVAWEB shows (it ends in # and the host key).");
    return;
  }
  connect();
})();
