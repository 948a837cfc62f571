// The desk's web remote: shows the state pushed on /api/events and sends the
// buttons' orders to the API. No framework, nothing from outside the desk.
"use strict";

(function () {
  const params = new URLSearchParams(location.search);
  const token = params.get("token") || "";
  const $ = (id) => document.getElementById(id);
  let socket = null;
  let pollTimer = null;
  let retryMs = 500;
  let lastCaption = 0;

  function headers(json) {
    const h = {};
    if (token) h["Authorization"] = "Bearer " + token;
    if (json) h["Content-Type"] = "application/json";
    return h;
  }

  function say(text) {
    $("message").textContent = text || "";
  }

  async function call(method, path, body) {
    try {
      const response = await fetch(path, {
        method: method,
        headers: headers(body !== undefined),
        body: body !== undefined ? JSON.stringify(body) : undefined,
        cache: "no-store",
      });
      const data = await response.json().catch(() => ({}));
      if (!response.ok) {
        say(data.error || "Error " + response.status);
        return null;
      }
      if (method !== "GET") say("");
      if (data.state) showState(data.state);
      return data;
    } catch (e) {
      say("Sin conexión con la mesa");
      return null;
    }
  }

  function text(id, value) {
    const el = $(id);
    if (el.textContent !== value) el.textContent = value;
  }

  function showState(s) {
    const onair = $("onair");
    onair.className = "badge" + (s.state === "playing" ? " onair" : s.state === "paused" ? " paused" : "");
    text("onair", s.state === "playing" ? "ON AIR" : s.state === "paused" ? "EN PAUSA" : "DETENIDO");
    text("clock", s.clock || "--:--:--");
    text("remaining", s.remaining || "00:00:00");
    text("endtime", s.end_time || "--:--:--");
    text("current", s.current ? s.current.name : "—");
    text("next", s.next ? s.next.name : "—");
    $("btnRepeat").classList.toggle("on", !!s.repeat);
    $("btnStopAfter").classList.toggle("on", !!s.stopAfter);
    if (s.countdown) {
      text("countdown", s.countdown.remaining + (s.countdown.running ? " ▶" : ""));
    }
    const caption = s.caption ? s.caption.number : 0;
    text("captionNow", s.caption ? "· en pantalla: " + s.caption.speaker : "");
    if (caption !== lastCaption) {
      lastCaption = caption;
      markCaption();
    }
    const effect = s.effect || {};
    $("effectProgress").style.width = (effect.playing ? Math.round((effect.progress || 0) * 100) : 0) + "%";
  }

  function markCaption() {
    for (const li of $("captions").children) {
      li.classList.toggle("published", Number(li.dataset.number) === lastCaption);
    }
  }

  async function loadCaptions() {
    const data = await call("GET", "/api/captions");
    if (!data) return;
    const list = $("captions");
    list.replaceChildren();
    for (const row of data.rows) {
      const li = document.createElement("li");
      li.dataset.number = row.number;
      const t = document.createElement("div");
      t.className = "text";
      t.textContent = row.speaker;
      const small = document.createElement("small");
      small.textContent = row.talk + (row.details ? " · " + row.details : "");
      t.appendChild(small);
      const b = document.createElement("button");
      b.type = "button";
      b.textContent = "Publicar";
      b.className = "primary";
      b.addEventListener("click", () => call("POST", "/api/captions/" + row.number + "/publish"));
      li.append(t, b);
      list.appendChild(li);
    }
    markCaption();
  }

  async function loadEffects() {
    const data = await call("GET", "/api/effects");
    if (!data) return;
    const tabs = $("effectTabs");
    tabs.replaceChildren();
    data.tabs.forEach((name, i) => {
      const b = document.createElement("button");
      b.type = "button";
      b.textContent = name;
      b.classList.toggle("on", i + 1 === data.tab);
      b.addEventListener("click", async () => {
        await call("POST", "/api/effects/tab", { tab: i + 1 });
        loadEffects();
      });
      tabs.appendChild(b);
    });
    const grid = $("effects");
    grid.replaceChildren();
    data.rows.forEach((name, i) => {
      const b = document.createElement("button");
      b.type = "button";
      b.textContent = name;
      b.addEventListener("click", () => call("POST", "/api/effects/play", { tab: data.tab || undefined, row: i + 1 }));
      grid.appendChild(b);
    });
  }

  function connect() {
    const url = (location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/api/events" +
      (token ? "?token=" + encodeURIComponent(token) : "");
    try {
      socket = new WebSocket(url);
    } catch (e) {
      startPolling();
      return;
    }
    socket.onopen = () => {
      retryMs = 500;
      stopPolling();
      $("link").className = "link";
      text("link", "en directo");
    };
    socket.onmessage = (event) => {
      try {
        const message = JSON.parse(event.data);
        if (message.type === "state") showState(message.state);
      } catch (e) {
        /* a message that is not JSON is ignored */
      }
    };
    socket.onclose = () => {
      $("link").className = "link off";
      text("link", "sin conexión");
      startPolling();
      setTimeout(connect, retryMs);
      retryMs = Math.min(retryMs * 2, 10000);
    };
  }

  // While the push channel is down the state is asked for once a second.
  function startPolling() {
    if (pollTimer) return;
    pollTimer = setInterval(async () => {
      const data = await call("GET", "/api/state");
      if (data) showState(data);
    }, 1000);
  }
  function stopPolling() {
    if (pollTimer) clearInterval(pollTimer);
    pollTimer = null;
  }

  document.addEventListener("DOMContentLoaded", () => {
    for (const b of document.querySelectorAll("button[data-post]")) {
      b.addEventListener("click", () => call("POST", b.dataset.post));
    }
    $("btnCountdownStart").addEventListener("click", () => {
      const time = $("countdownTime").value.trim();
      call("POST", "/api/countdown/start", time ? { time: time } : {});
    });
    call("GET", "/api/state").then((data) => data && showState(data));
    loadCaptions();
    loadEffects();
    // Lists change rarely: read again every 5 s.
    setInterval(() => { loadCaptions(); loadEffects(); }, 5000);
    connect();
  });
})();
