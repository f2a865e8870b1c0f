// The projector page: shows how to reach the gateway, from its /info.
// The first link is the one to use; it is drawn large with a QR code.
// /info is read again every few seconds so the seat count stays current.
"use strict";

(function () {
  var REFRESH_MS = 3000;
  var $ = function (id) { return document.getElementById(id); };
  var shown = null; // the link the QR code was drawn for

  function drawQr(link) {
    var qr = qrcode(0, "M");
    qr.addData(link);
    qr.make();
    $("qr").innerHTML = qr.createSvgTag({ cellSize: 8, margin: 32, scalable: true });
  }

  function render(info) {
    var links = (info && Array.isArray(info.links)) ? info.links : [];
    $("error").hidden = true;
    if (links.length === 0) {
      $("link").textContent = "";
      $("qr").textContent = "";
      $("error").textContent = "The gateway has no network address to show.";
      $("error").hidden = false;
    } else if (links[0] !== shown) {
      $("link").textContent = links[0];
      drawQr(links[0]);
    }
    shown = links.length ? links[0] : null;
    var list = $("other-links");
    list.textContent = "";
    for (var i = 1; i < links.length; i++) {
      var li = document.createElement("li");
      li.textContent = links[i];
      list.appendChild(li);
    }
    $("others").hidden = links.length < 2;
    var seats = typeof info.seats === "number" ? info.seats : 0;
    var text = seats === 1 ? "1 player has joined." : seats + " players have joined.";
    $("seats").textContent = text;
    $("seats-top").textContent = seats + (seats === 1 ? " player" : " players");
  }

  function refresh() {
    fetch("/info", { cache: "no-store" })
      .then(function (r) {
        if (!r.ok) throw new Error("status " + r.status);
        return r.json();
      })
      .then(render)
      .catch(function () {
        $("error").textContent = "The gateway does not answer. Trying again...";
        $("error").hidden = false;
      })
      .then(function () { setTimeout(refresh, REFRESH_MS); });
  }

  refresh();
})();
