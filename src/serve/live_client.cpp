#include "serve/live_reload.h"

// The client is plain JavaScript that any browser of the last years runs. The overlay lives
// in an open shadow root, so that the site's style sheets neither hide nor restyle it.
const std::string& live_reload_client() {
    static const std::string client = R"js((function () {
  "use strict";
  var me = document.currentScript;
  var page = decodeURIComponent(me ? me.getAttribute("data-page") : location.pathname);
  var host = null;

  function overlay(diagnostics) {
    if (host) { host.remove(); host = null; }
    if (!diagnostics.length) return;
    host = document.createElement("orrinfold-overlay");
    var root = host.attachShadow({ mode: "open" });
    var style = document.createElement("style");
    style.textContent = ":host{all:initial}" +
      ".box{position:fixed;left:0;right:0;bottom:0;max-height:60vh;overflow:auto;z-index:2147483647;" +
      "margin:0;padding:12px 16px;background:#1e1e1e;color:#eee;font:13px/1.5 monospace;" +
      "border-top:4px solid #e04040;box-shadow:0 -4px 16px rgba(0,0,0,.4)}" +
      ".error{color:#ff8080}.warning{color:#ffd060}.note{color:#aaa}a{color:#8cf}" +
      "button{float:right;background:none;border:0;color:#eee;font-size:18px;cursor:pointer}";
    root.appendChild(style);
    var box = document.createElement("div");
    box.className = "box";
    box.setAttribute("role", "alert");
    var close = document.createElement("button");
    close.textContent = "\u00d7";
    close.title = "Hide until the next rebuild";
    close.onclick = function () { host.remove(); host = null; };
    box.appendChild(close);
    diagnostics.forEach(function (d) {
      var line = document.createElement("div");
      var head = document.createElement("span");
      head.className = d.severity;
      head.textContent = (d.location ? d.location.at + ": " : "") + d.severity + ": " + d.message;
      line.appendChild(head);
      if (d.location) line.appendChild(opener(d.location.file));
      box.appendChild(line);
      (d.included_from || []).forEach(function (where) {
        var note = document.createElement("div");
        note.className = "note";
        note.textContent = where.at + ": note: included from here";
        note.appendChild(opener(where.file));
        box.appendChild(note);
      });
    });
    root.appendChild(box);
    document.documentElement.appendChild(host);
  }

  function opener(file) {
    var link = document.createElement("a");
    link.href = "file://" + (file.charAt(0) === "/" ? "" : "/") + encodeURI(file.replace(/\\/g, "/"));
    link.textContent = " [open]";
    return link;
  }

  function swap(styles) {
    var sheets = document.querySelectorAll('link[rel~="stylesheet"]');
    Array.prototype.forEach.call(sheets, function (link) {
      var url = new URL(link.href, location.href);
      if (url.origin !== location.origin || styles.indexOf(decodeURIComponent(url.pathname)) < 0) return;
      url.searchParams.set("orrinfold-reload", Date.now());
      link.href = url.href;
    });
  }

  var events = new EventSource(")js" + std::string(live_events_path) + R"js(");
  events.onmessage = function (message) {
    var event = JSON.parse(message.data);
    if (event.pages.indexOf(page) >= 0 || event.others.length) { location.reload(); return; }
    if (event.styles.length) swap(event.styles);
    overlay(event.diagnostics);
  };
})();
)js";
    return client;
}
