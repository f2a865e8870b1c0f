// The room screen: one read-only WebSocket to the gateway at /screen/ws and
// one view at a time, as the gateway sends it. It never takes a seat and
// sends nothing; the gateway alone decides what it may show (the correct
// response only once the server's results are in).
"use strict";

(function () {
  var SHAPES = ["\u25B2", "\u25C6", "\u25CF", "\u25A0", "\u2605"];       // triangle, diamond, circle, square, star
  var SHAPE_NAMES = ["triangle", "diamond", "circle", "square", "star"];
  var $ = function (id) { return document.getElementById(id); };
  var state = { ws: null, backoff: 500, view: null, deadline: 0, limit: 0, links: [], qrFor: null };

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function show(view) {
    var views = document.querySelectorAll(".view");
    for (var i = 0; i < views.length; i++) views[i].hidden = views[i].id !== "view-" + view;
    document.body.setAttribute("data-view", view);
  }

  function announce(text) { $("announce").textContent = text; }

  // The join link and its QR code, from /info.
  function drawJoin() {
    var link = state.links.length ? state.links[0] : location.origin + "/";
    var links = document.querySelectorAll(".join-link");
    for (var i = 0; i < links.length; i++) links[i].textContent = link;
    if (state.qrFor === link || typeof qrcode !== "function") return;
    var qr = qrcode(0, "M");
    qr.addData(link);
    qr.make();
    var svg = qr.createSvgTag({ cellSize: 8, margin: 16, scalable: true });
    var boxes = document.querySelectorAll(".qr");
    for (var j = 0; j < boxes.length; j++) boxes[j].innerHTML = svg;
    state.qrFor = link;
  }

  function loadInfo() {
    fetch("/info", { cache: "no-store" })
      .then(function (r) { return r.ok ? r.json() : null; })
      .then(function (info) {
        if (info && Array.isArray(info.links)) state.links = info.links;
        drawJoin();
      })
      .catch(function () { drawJoin(); });
  }

  function plural(n, one, many) { return n + " " + (n === 1 ? one : many); }

  function renderLobby(m) {
    $("lobby-count").textContent = m.count === 0 ? "Waiting for players..." :
      plural(m.count, "player has", "players have") + " joined";
    var list = $("lobby-names");
    list.textContent = "";
    (m.names || []).forEach(function (n) { list.appendChild(el("li", "", n)); });
  }

  function renderQuestion(m, reveal) {
    $("where").textContent = "Round " + m.round;
    $("q-where").textContent = "Round " + m.round + " \u00B7 Question " + m.number +
      (m.of ? " of " + m.of : "");
    $("q-text").textContent = m.text;
    var list = $("q-responses");
    list.textContent = "";
    var total = 0;
    if (reveal) (m.counts || []).forEach(function (c) { total += c; });
    // No phone chose (a room of PCs): no bars, only the correct response.
    var bars = reveal && !(m.countsOf === "phones" && !m.phones);
    (m.responses || []).forEach(function (r, i) {
      var li = el("li", "response shape-" + SHAPE_NAMES[i]);
      var mark = el("span", "shape", SHAPES[i]);
      mark.setAttribute("aria-label", SHAPE_NAMES[i]);
      li.appendChild(mark);
      li.appendChild(el("span", "num", String(i + 1)));
      li.appendChild(el("span", "rtext", r));
      if (reveal) {
        var count = (m.counts && m.counts[i]) || 0;
        var right = m.correct === i + 1;
        li.classList.add(right ? "right" : "other");
        if (bars) {
          var bar = el("span", "track");
          var fill = el("span", "fill");
          fill.style.width = (total ? Math.round(100 * count / total) : 0) + "%";
          bar.appendChild(fill);
          li.appendChild(bar);
          li.appendChild(el("span", "votes", String(count)));
        }
        if (right) li.appendChild(el("span", "verdict", "\u2714 Correct"));
      }
      list.appendChild(li);
    });
    var fastest = $("q-fastest-list");
    fastest.textContent = "";
    if (reveal) {
      (m.fastest || []).forEach(function (f) {
        var li = el("li");
        li.appendChild(el("span", "fname", f.name));
        li.appendChild(el("span", "ftime", f.time + " s"));
        fastest.appendChild(li);
      });
      $("q-answered").textContent = m.right + " of " + m.players + " players were right";
      var said = m.correct ? "Correct answer: " + m.correct + ", " + m.responses[m.correct - 1] + "."
                           : "No response was correct.";
      announce(said + " " + m.right + " of " + m.players + " players were right." +
        ((m.fastest && m.fastest.length) ? " Fastest: " + m.fastest[0].name + ", " + m.fastest[0].time + " seconds." : ""));
    } else {
      renderCount(m);
    }
    // The bars count the phones' choices only: a player at one of the room's
    // PCs tells the server right or wrong, not which response it chose.
    var counted = $("q-counted");
    counted.hidden = !bars || m.countsOf !== "phones";
    if (!counted.hidden) {
      counted.textContent = "Bars show the phones' choices (" + plural(m.phones, "phone", "phones") + ")";
    }
    $("q-fastest").hidden = !reveal || !(m.fastest && m.fastest.length);
    state.limit = reveal ? 0 : m.timeLimitMs;
    state.deadline = Date.now() + (m.timeLeftMs || 0);
    $("q-clock").hidden = !state.limit;
    tick();
  }

  function renderCount(m) {
    $("q-answered").textContent = m.answered + " of " + m.seated + " answered";
  }

  function tick() {
    if (!state.limit || state.view !== "question") return;
    var left = Math.max(0, Math.ceil((state.deadline - Date.now()) / 1000));
    $("q-clock").textContent = left + " s";
    $("q-clock").classList.toggle("low", left <= 5);
  }

  // Averages come with four significant digits; the phones show two decimals.
  function seconds(text) {
    var v = parseFloat(text);
    return isNaN(v) ? text : v.toFixed(2);
  }

  function rowCells(tr, r, moved) {
    tr.appendChild(el("td", "place", String(r.place)));
    tr.appendChild(el("td", "name", r.name));
    tr.appendChild(el("td", "num", r.correct + " of " + r.answers));
    tr.appendChild(el("td", "num", seconds(r.average) + " s"));
    if (moved) tr.appendChild(el("td", "moved", r.up > 0 ? "\u25B2 up " + r.up : ""));
  }

  function renderStandings(m) {
    $("where").textContent = "Round " + m.round;
    $("s-title").textContent = "Standings after round " + m.round;
    var body = $("s-rows");
    body.textContent = "";
    m.rows.forEach(function (r) {
      var tr = el("tr");
      rowCells(tr, r, true);
      body.appendChild(tr);
    });
    announce("Standings after round " + m.round + ". " + m.rows.slice(0, 3).map(function (r) {
      return "Place " + r.place + ", " + r.name + ", " + r.correct + " correct";
    }).join(". ") + ".");
  }

  function renderEnd(m) {
    $("where").textContent = "Game over";
    var podium = $("podium");
    podium.textContent = "";
    var medals = ["1st", "2nd", "3rd"];
    m.rows.slice(0, 3).forEach(function (r, i) {
      var li = el("li", "step step-" + (i + 1));
      li.appendChild(el("span", "medal", medals[r.place - 1] || r.place + "th"));
      li.appendChild(el("span", "pname", r.name));
      li.appendChild(el("span", "pscore", r.correct + " of " + r.answers + " correct \u00B7 " + seconds(r.average) + " s"));
      podium.appendChild(li);
    });
    var body = $("e-rows");
    body.textContent = "";
    m.rows.slice(3).forEach(function (r) {
      var tr = el("tr");
      rowCells(tr, r, false);
      body.appendChild(tr);
    });
    announce("Game over. " + m.rows.slice(0, 3).map(function (r) {
      return "Place " + r.place + ", " + r.name;
    }).join(". ") + ".");
  }

  function onMessage(m) {
    // The host's hold: "Paused" over the reveal or the standings it keeps.
    if (m.t === "screen.hold") {
      $("paused").hidden = !m.held;
      if (m.held) announce("Paused");
      return;
    }
    if (m.t === "screen" && m.view !== "reveal" && m.view !== "standings") $("paused").hidden = true;
    if (m.t === "screen.count") {
      if (state.view === "question") renderCount(m);
      return;
    }
    if (m.t !== "screen") return;
    var view = m.view;
    state.view = view;
    if (view === "idle" || view === "lobby") {
      $("where").textContent = "";
      drawJoin();
      loadInfo();
      if (view === "lobby") renderLobby(m);
    } else if (view === "question" || view === "reveal") {
      renderQuestion(m, view === "reveal");
      view = "question";
      state.view = m.view === "reveal" ? "reveal" : "question";
    } else if (view === "standings") {
      renderStandings(m);
    } else if (view === "end") {
      renderEnd(m);
    }
    document.body.setAttribute("data-phase", m.view);
    show(view);
  }

  function connect() {
    var proto = location.protocol === "https:" ? "wss:" : "ws:";
    var ws = new WebSocket(proto + "//" + location.host + "/screen/ws");
    state.ws = ws;
    ws.onopen = function () { state.backoff = 500; $("status").textContent = ""; };
    ws.onmessage = function (e) {
      var m;
      try { m = JSON.parse(e.data); } catch (err) { return; }
      onMessage(m);
    };
    ws.onclose = function () {
      $("status").textContent = "Reconnecting...";
      setTimeout(connect, state.backoff);
      state.backoff = Math.min(3000, state.backoff * 2);
    };
  }

  document.addEventListener("keydown", function (e) {
    if (e.key !== "f" && e.key !== "F") return;
    if (document.fullscreenElement) {
      document.exitFullscreen();
    } else if (document.documentElement.requestFullscreen) {
      document.documentElement.requestFullscreen().catch(function () {});
    }
  });

  setInterval(tick, 250);
  show("idle");
  loadInfo();
  connect();
})();
