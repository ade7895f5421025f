"use strict";
// The recorder's page: one snapshot from /api/status, then every new one from /api/stream.
// Opened as /?token=SECRET, the answer gave the browser a cookie that stands for the token: the
// token leaves the address at once and the page's own requests go without it. It stays in memory
// only to get a new cookie when the old one has expired.
(function () {
  const params = new URLSearchParams(location.search);
  const token = params.get("token");
  if (token !== null) {
    params.delete("token");
    const rest = params.toString();
    history.replaceState(null, "", location.pathname + (rest ? "?" + rest : "") + location.hash);
  }
  const STALE_MS = 5000; // no snapshot for this long: the page is not live (snapshots come every 2 s)
  const CURRENT_MS = 3000; // a reading is current for 3 s after the frame that carried it
  const $ = (id) => document.getElementById(id);
  const grouped = new Intl.NumberFormat(undefined);
  const panels = new Map();

  // Times as the recorder's wall clock (its zone, as the rows and the history page have them).
  let offset = null; // seconds east of UTC; null until the first snapshot
  function localTime(iso) {
    if (!iso) return "";
    if (offset === null) return new Date(iso).toLocaleTimeString([], { hour12: false });
    return new Date(Date.parse(iso) + offset * 1000).toISOString().slice(11, 19);
  }
  function zoneName() {
    if (offset === null) return "";
    const a = Math.abs(offset) / 60;
    return "UTC" + (offset < 0 ? "−" : "+") + String(Math.floor(a / 60)).padStart(2, "0") + ":" + String(a % 60).padStart(2, "0");
  }

  function setText(id, text) {
    const element = $(id);
    if (element.textContent !== text) element.textContent = text;
  }

  function panelFor(channel) {
    let panel = panels.get(channel);
    if (!panel) {
      panel = $("panel").content.firstElementChild.cloneNode(true);
      panel.dataset.channel = channel;
      panel.querySelector(".name").textContent = "Channel " + channel;
      panels.set(channel, panel);
      $("channels").appendChild(panel);
    }
    return panel;
  }

  // The recorder's clock says how old each reading was when the snapshot was built; the page's own
  // clock adds the time since it came, so the two clocks need not agree.
  let snapshot = null;
  let receivedAt = 0;
  let streamOpen = false;
  // Rows fail (a locked file, a full disk) while the failed count grows and no row is written.
  let rowsFailing = false;

  function ageMs(iso) {
    if (!iso || !snapshot || !snapshot.updated_utc) return Infinity;
    return Date.parse(snapshot.updated_utc) - Date.parse(iso) + (performance.now() - receivedAt);
  }

  function markAges() {
    if (!snapshot) return;
    for (const c of snapshot.channels) {
      const panel = panels.get(c.channel);
      if (panel) panel.classList.toggle("old", c.time !== null && (!c.current || ageMs(c.time) >= CURRENT_MS));
    }
    const live = streamOpen && performance.now() - receivedAt <= STALE_MS;
    const pill = $("connection");
    pill.textContent = !live ? "stale" : rowsFailing ? "rows failing" : "live";
    pill.className = "pill " + (!live ? "stale" : rowsFailing ? "down" : "up");
  }

  // The meter's mode as its display says it: the quantity in words, the flags as badges (HOLD,
  // REL, MIN and MAX stand out: the number is no plain live reading then).
  const QUANTITIES = { rh: "humidity", spl: "sound level", co: "carbon monoxide", duty_cycle: "duty cycle" };
  const FLAGS = {
    hold: ["HOLD", "The meter holds its display: no new reading while it does"],
    rel: ["REL", "Relative: the reading less a stored reference"],
    min: ["MIN", "The meter shows the lowest reading"],
    max: ["MAX", "The meter shows the highest reading"],
    avg: ["AVG", "The meter shows the average"],
    auto: ["AUTO", "Auto-ranging"],
    ac: ["AC", "Alternating current or voltage"],
    dc: ["DC", "Direct current or voltage"],
    rms: ["RMS", "True RMS"],
    diode: ["DIODE", "Diode test"],
    "4wire": ["4-WIRE", "Four-wire measurement"],
  };
  const STRONG = new Set(["rel", "min", "max", "avg", "ref", "diode"]);
  function showMode(panel, c) {
    const flags = Array.isArray(c.flags) ? c.flags : [];
    const quantity = c.quantity ? QUANTITIES[c.quantity] || c.quantity.replace(/_/g, " ") : "";
    const mode = panel.querySelector(".mode");
    const key = quantity + "|" + flags.join(",");
    if (mode.dataset.key === key) return;
    mode.dataset.key = key;
    mode.hidden = !quantity && !flags.length;
    panel.querySelector(".quantity").textContent = quantity;
    panel.querySelector(".badges").replaceChildren(...flags.map((flag) => {
      const [text, title] = FLAGS[flag] || [flag.toUpperCase(), ""];
      const badge = document.createElement("span");
      badge.className = "badge" + (flag === "hold" ? " hold" : STRONG.has(flag) ? " strong" : "");
      badge.textContent = text;
      if (title) badge.title = title;
      return badge;
    }));
  }

  function showChannels(channels) {
    const shown = new Set();
    for (const c of channels) {
      shown.add(c.channel);
      const panel = panelFor(c.channel);
      let text = "—";
      if (c.value !== null) text = c.value.toFixed(Math.min(Math.max(c.decimals, 0), 20));
      else if (c.time) text = (c.flags || []).includes("overload") ? "OL" : "invalid";
      panel.querySelector(".number").textContent = text;
      panel.querySelector(".unit").textContent = c.unit.trim();
      showMode(panel, c);
      panel.querySelector(".alarm").textContent = c.alarm === "none" ? "" : c.alarm;
      panel.querySelector(".time").textContent = c.time ? "at " + localTime(c.time) : "no reading yet";
      panel.className = "channel " + c.alarm;
      // A held display is stale on purpose: it stays readable, marked held.
      panel.classList.toggle("held", Array.isArray(c.flags) && c.flags.includes("hold"));
    }
    for (const [channel, panel] of panels) {
      if (!shown.has(channel)) {
        panel.remove();
        panels.delete(channel);
      }
    }
  }

  function showOptional(name, state, describe) {
    $(name + "_fact").hidden = !state;
    if (state) {
      const [value, sub] = describe(state);
      setText(name, value);
      setText(name + "_text", sub);
    }
  }

  function showEvents(events) {
    $("events_section").hidden = !events;
    if (!events) return;
    const list = $("events");
    list.replaceChildren(...events.slice(-20).reverse().map((e) => {
      const item = document.createElement("li");
      const time = document.createElement("time");
      time.dateTime = e.time || "";
      time.textContent = localTime(e.time);
      item.append(time, e.text);
      return item;
    }));
  }

  function show(s) {
    if (typeof s.utc_offset === "number") offset = s.utc_offset;
    if (snapshot) {
      if (s.rows_recorded > snapshot.rows_recorded) rowsFailing = false;
      else if (s.rows_failed > snapshot.rows_failed) rowsFailing = true;
    } else {
      rowsFailing = s.rows_failed > 0 && !s.last_row_utc;
    }
    document.title = s.station + " – recorder";
    setText("station", s.station);
    const link = $("link");
    // Beside another source, one that fell silent: the link is up only in part, and says whose.
    const down = (s.sources || []).filter((x) => x.link === "down");
    const partly = s.link === "up" && down.length > 0;
    setText("link", partly ? "partly up" : s.link);
    link.className = "value " + (partly ? "partly" : s.link);
    setText("since", partly ? down.map((x) => x.name).join(", ") + " down"
                            : s.since ? "since " + localTime(s.since) : "");
    setText("data_file", s.data_file);
    setText("rows", grouped.format(s.rows));
    setText("row_limit", "of " + grouped.format(s.row_limit) +
      (s.last_row_utc ? ", last at " + localTime(s.last_row_utc) : ", none yet in this run") +
      (s.rows_failed ? "; " + grouped.format(s.rows_failed) + " failed" : ""));
    $("rows").className = "value" + (rowsFailing ? " down" : "");
    $("fill").value = s.row_limit > 0 ? s.rows / s.row_limit : 0;
    showOptional("forward", s.forward, (f) => [f.state, f.text]);
    showOptional("mqtt", s.mqtt, (m) => [m.connected ? "connected" : "not connected", m.text]);
    showChannels(s.channels);
    showEvents(s.events);
    setText("updated", "Updated " + localTime(s.updated_utc) + " · times are the recorder's clock, " + zoneName());
    snapshot = s;
    receivedAt = performance.now();
    markAges();
  }

  // An expired cookie: the token (when the page was opened with one) gets a new one.
  function renewCookie() {
    if (token === null) return Promise.resolve();
    return fetch("/api/status?token=" + encodeURIComponent(token), { cache: "no-store" }).then(() => {});
  }

  function load(renewed) {
    fetch("/api/status", { cache: "no-store" })
      .then((r) => {
        if (r.status === 401 && !renewed && token !== null) return renewCookie().then(() => load(true));
        return r.ok ? r.json().then(show) : Promise.reject(new Error(r.status));
      })
      .catch(markAges);
  }
  load(false);

  // The browser reconnects a dropped stream by itself, but gives up on a refusal (the recorder's
  // streams all taken, a restart, an expired cookie): then a new stream is tried every few seconds.
  function listen() {
    const stream = new EventSource("/api/stream");
    stream.onopen = () => { streamOpen = true; };
    stream.onmessage = (event) => {
      streamOpen = true;
      show(JSON.parse(event.data));
    };
    stream.onerror = () => {
      streamOpen = false;
      markAges();
      if (stream.readyState === EventSource.CLOSED) setTimeout(() => renewCookie().then(listen), 5000);
    };
  }
  listen();
  setInterval(markAges, 1000);
})();
