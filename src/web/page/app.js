"use strict";
// The recorder's page: one snapshot from /api/status, then every new one from /api/stream.
(function () {
  const token = new URLSearchParams(location.search).get("token");
  const withToken = (path) => token ? path + "?token=" + encodeURIComponent(token) : path;
  const $ = (id) => document.getElementById(id);
  const grouped = new Intl.NumberFormat(undefined);
  const panels = new Map();

  function localTime(iso) {
    return iso ? new Date(iso).toLocaleTimeString([], { hour12: false }) : "";
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

  function showChannels(channels) {
    const shown = new Set();
    for (const c of channels) {
      shown.add(c.channel);
      const panel = panelFor(c.channel);
      let text = "—";
      if (c.value !== null) text = c.value.toFixed(Math.min(Math.max(c.decimals, 0), 20));
      else if (c.time) text = "invalid";
      panel.querySelector(".number").textContent = text;
      panel.querySelector(".unit").textContent = c.unit.trim();
      panel.querySelector(".alarm").textContent = c.alarm === "none" ? "" : c.alarm;
      panel.querySelector(".time").textContent = c.time ? "at " + localTime(c.time) : "no reading yet";
      panel.className = "channel " + c.alarm;
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
    document.title = s.station + " – recorder";
    setText("station", s.station);
    const link = $("link");
    setText("link", s.link);
    link.className = "value " + s.link;
    setText("since", s.since ? "since " + localTime(s.since) : "");
    setText("data_file", s.data_file);
    setText("rows", grouped.format(s.rows));
    setText("row_limit", "of " + grouped.format(s.row_limit));
    $("fill").value = s.row_limit > 0 ? s.rows / s.row_limit : 0;
    showOptional("forward", s.forward, (f) => [f.state, f.text]);
    showOptional("mqtt", s.mqtt, (m) => [m.connected ? "connected" : "not connected", m.text]);
    showChannels(s.channels);
    showEvents(s.events);
    setText("updated", "Updated " + new Date().toLocaleTimeString([], { hour12: false }));
  }

  function connected(live) {
    const pill = $("connection");
    pill.textContent = live ? "live" : "reconnecting";
    pill.className = "pill " + (live ? "up" : "down");
  }

  fetch(withToken("/api/status"), { cache: "no-store" })
    .then((r) => r.ok ? r.json() : Promise.reject(new Error(r.status)))
    .then(show)
    .catch(() => connected(false));

  // The browser reconnects a dropped stream by itself, but gives up on a refusal (the recorder's
  // streams all taken, a restart): then a new stream is tried every few seconds.
  function listen() {
    const stream = new EventSource(withToken("/api/stream"));
    stream.onmessage = (event) => {
      connected(true);
      show(JSON.parse(event.data));
    };
    stream.onerror = () => {
      connected(false);
      if (stream.readyState === EventSource.CLOSED) setTimeout(listen, 5000);
    };
  }
  listen();
})();
