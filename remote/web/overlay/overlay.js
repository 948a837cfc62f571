// The desk's overlay graphics for browser sources: a 1920x1080 stage scaled to the
// window, fed by the desk's push channel (/api/events). Each graphic on the page
// (lower third, clock, countdown, marquee) is drawn from the state's "overlay"
// object: the texts the desk's overlay files hold. No framework, nothing from
// outside the desk.
"use strict";

(function () {
  const W = 1920;
  const H = 1080;
  const params = new URLSearchParams(location.search);
  const token = params.get("token") || "";
  const reduced = window.matchMedia("(prefers-reduced-motion: reduce)");
  const $ = (id) => document.getElementById(id);
  // Published for tests and for a designer's own scripts.
  const overlay = (window.tavoriaOverlay = {
    connected: false,
    state: null,
    received: 0,
    onstate: [],
  });

  function fit() {
    const stage = $("stage");
    const scale = Math.min(window.innerWidth / W, window.innerHeight / H);
    stage.style.transform =
      "translate(" + (window.innerWidth - W * scale) / 2 + "px," +
      (window.innerHeight - H * scale) / 2 + "px) scale(" + scale + ")";
  }

  function setText(el, value) {
    if (el && el.textContent !== value) el.textContent = value;
  }

  // ---- lower third -------------------------------------------------------
  // Shown while a caption is on air; a new caption replaces the shown one by going
  // out and coming in again.
  const lower = { shown: null, busy: null };
  function captionKey(c) {
    return c ? JSON.stringify([c.speaker, c.talk, c.details]) : "";
  }
  function lowerThird(caption) {
    const box = $("lowerthird");
    if (!box) return;
    const key = captionKey(caption);
    if (key === lower.shown && !lower.busy) return;
    lower.shown = key;
    if (lower.busy) {
      clearTimeout(lower.busy);
      lower.busy = null;
    }
    const fill = () => {
      setText($("lt-speaker"), caption.speaker);
      setText($("lt-talk"), caption.talk);
      setText($("lt-details"), caption.details);
      $("lt-details").hidden = caption.details === "";
      $("lt-talk").hidden = caption.talk === "";
    };
    const on = box.classList.contains("on");
    if (!caption) {
      box.classList.remove("on");
      box.dataset.caption = "";
      return;
    }
    if (!on || reduced.matches) {
      fill();
      box.dataset.caption = key;
      box.classList.add("on");
      return;
    }
    // Out, then in with the new texts.
    box.classList.remove("on");
    lower.busy = setTimeout(() => {
      lower.busy = null;
      fill();
      box.dataset.caption = key;
      box.classList.add("on");
    }, outMs(box));
  }
  function outMs(el) {
    const d = getComputedStyle(el).transitionDuration.split(",")[0];
    return d.endsWith("ms") ? parseFloat(d) : parseFloat(d) * 1000 || 0;
  }

  // ---- clock and countdown -----------------------------------------------
  function simple(id, textId, value) {
    const box = $(id);
    if (!box) return;
    setText($(textId), value);
    box.classList.toggle("on", value !== "");
  }

  // ---- marquee -----------------------------------------------------------
  // One item per TAB-separated part of the marquee's text, crawling at a constant
  // speed in a seamless loop: the items are laid out twice (or more, to fill the
  // width) and the row moves by exactly one round, then starts over where it looks
  // the same.
  const crawl = { text: null, animation: null, timer: null };
  const SPEED = 150; // stage pixels per second
  function marquee(text) {
    const box = $("marquee");
    if (!box || text === crawl.text) return;
    crawl.text = text;
    const track = $("mq-track");
    if (crawl.animation) crawl.animation.cancel();
    crawl.animation = null;
    clearInterval(crawl.timer);
    crawl.timer = null;
    track.replaceChildren();
    const items = text.split("\t").map((s) => s.trim()).filter((s) => s !== "");
    box.classList.toggle("on", items.length > 0);
    box.classList.toggle("still", reduced.matches);
    if (items.length === 0) return;
    const round = () => {
      const group = document.createElement("span");
      group.className = "mq-round";
      for (const item of items) {
        const span = document.createElement("span");
        span.className = "mq-item";
        span.textContent = item;
        group.appendChild(span);
      }
      track.appendChild(group);
      return group;
    };
    if (reduced.matches) {
      // No movement: one item at a time, changed every few seconds.
      let i = 0;
      const show = () => {
        track.replaceChildren();
        const span = document.createElement("span");
        span.className = "mq-item";
        span.textContent = items[i % items.length];
        track.appendChild(span);
        i += 1;
      };
      show();
      if (items.length > 1) crawl.timer = setInterval(show, 5000);
      return;
    }
    const first = round();
    const width = first.getBoundingClientRect().width / currentScale();
    const view = box.clientWidth;
    // Enough rounds that the row always covers the band while it moves by one.
    const copies = Math.max(1, Math.ceil(view / Math.max(width, 1)));
    for (let i = 0; i < copies; i++) round();
    crawl.animation = track.animate(
      [{ transform: "translateX(0)" }, { transform: "translateX(" + -width + "px)" }],
      { duration: (width / SPEED) * 1000, iterations: Infinity, easing: "linear" });
  }
  function rebuildMarquee() {
    const text = crawl.text;
    crawl.text = null;
    marquee(text || "");
  }
  function currentScale() {
    const r = $("stage").getBoundingClientRect();
    return r.width / W || 1;
  }

  function show(state) {
    const o = (state && state.overlay) || {};
    overlay.state = o;
    overlay.received += 1;
    lowerThird(o.caption || null);
    simple("clock", "ck-text", o.clock || "");
    simple("countdown", "cd-text", o.countdown || "");
    marquee(o.marquee || "");
    for (const f of overlay.onstate) f(o);
  }

  // ---- the push channel --------------------------------------------------
  // Reconnects by itself, waiting 250 ms after the first failure and doubling up
  // to 2 s; the desk sends its whole state to every client that connects, so the
  // page shows the current texts at once, never those from before a restart.
  let retryMs = 250;
  let socket = null;
  function connect() {
    const url = (location.protocol === "https:" ? "wss://" : "ws://") + location.host +
      "/api/events" + (token ? "?token=" + encodeURIComponent(token) : "");
    try {
      socket = new WebSocket(url);
    } catch (e) {
      setTimeout(connect, retryMs);
      retryMs = Math.min(retryMs * 2, 2000);
      return;
    }
    socket.onopen = () => {
      overlay.connected = true;
      retryMs = 250;
    };
    socket.onmessage = (event) => {
      let message;
      try {
        message = JSON.parse(event.data);
      } catch (e) {
        return; // not JSON: ignored
      }
      if (message && message.type === "state") show(message.state);
    };
    socket.onclose = () => {
      overlay.connected = false;
      socket = null;
      setTimeout(connect, retryMs);
      retryMs = Math.min(retryMs * 2, 2000);
    };
  }

  document.addEventListener("DOMContentLoaded", () => {
    fit();
    window.addEventListener("resize", fit);
    reduced.addEventListener("change", rebuildMarquee);
    // The marquee's round is measured in the page's font: once a font that loads
    // late is there, it is measured again so the loop stays seamless.
    document.fonts.ready.then(rebuildMarquee);
    connect();
  });
})();
