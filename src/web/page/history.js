"use strict";
// The recorder's history page: a data file of the data folder, a time range and channels; the
// chart from /api/series (gaps shaded, events marked), the statistics from /api/stats, the events
// from /api/events and links that download the rows as meter-query writes them. Times are shown
// on the recorder's wall clock (the rows' own), whatever the browser's zone.
(function () {
  const params = new URLSearchParams(location.search);
  if (params.has("token")) {
    params.delete("token");
    const rest = params.toString();
    history.replaceState(null, "", location.pathname + (rest ? "?" + rest : ""));
  }
  const $ = (id) => document.getElementById(id);
  const COLORS = ["#1565c0", "#c62828", "#1f8a4c", "#b26a00", "#6a1b9a", "#00838f", "#ad1457", "#4e342e",
                  "#283593", "#558b2f", "#ef6c00", "#37474f", "#0277bd", "#8e24aa", "#2e7d32", "#d84315"];
  let files = [];
  let file = null;
  let zone = [];         // [[Unix seconds, offset]]: the recorder's wall clock minus UTC from then on
  let range = null;      // [start, end] in Unix seconds
  let shown = null;      // the chart's own range (zoomed)
  let plot = null;
  let series = null;

  // The recorder's offsets as the API reports them (each file's span, each chart's range), merged.
  function learnZone(offsets) {
    const known = new Map([...zone, ...(offsets || [])]);
    zone = [...known].sort((x, y) => x[0] - y[0]);
  }
  function offsetAt(t) {
    let offset = zone.length ? zone[0][1] : 0;
    for (const [at, o] of zone) { if (at > t) break; offset = o; }
    return offset;
  }
  // Unix seconds <-> the recorder's wall clock as "yyyy-mm-ddThh:mm:ss", each instant at the
  // offset it had. A wall time shown twice (the clock going back) is its first pass.
  const wall = (t) => new Date((t + offsetAt(t)) * 1000).toISOString().slice(0, 19);
  function fromWall(text) {
    const w = Date.parse(text + "Z") / 1000;
    const fits = [...new Set(zone.map((z) => z[1]))].map((o) => w - o).filter((t) => w - t === offsetAt(t));
    return fits.length ? Math.min(...fits) : w - offsetAt(w - offsetAt(w));
  }
  const fmt = (v) => (v === null || v === undefined ? "–" : String(+v.toFixed(4)));

  async function getJson(url) {
    const answer = await fetch(url, { credentials: "same-origin" });
    if (!answer.ok) throw new Error((await answer.text()).trim() || answer.statusText);
    return answer.json();
  }

  function say(text) { $("state").textContent = text; }

  function chosenChannels() {
    return [...document.querySelectorAll("#channels_choice input:checked")].map((box) => +box.value);
  }

  function fillChannels() {
    const box = $("channels_choice");
    box.querySelectorAll("label").forEach((l) => l.remove());
    for (let c = 1; c <= file.channels; ++c) {
      const label = document.createElement("label");
      const input = document.createElement("input");
      input.type = "checkbox";
      input.value = c;
      input.checked = c <= 4;
      input.addEventListener("change", show);
      label.append(input, " Channel " + c);
      box.appendChild(label);
    }
  }

  function pickFile(name) {
    file = files.find((f) => f.name === name) || files[0];
    if (!file) { say("The data folder holds no data file."); return; }
    learnZone(file.offsets);
    fillChannels();
    preset(24);
  }

  function preset(hours) {
    if (!file || file.firstUtc === null) { say("The data file holds no rows yet."); return; }
    const end = file.lastUtc;
    const start = hours ? Math.max(file.firstUtc, end - hours * 3600) : file.firstUtc;
    document.querySelectorAll(".presets button").forEach((b) =>
      b.setAttribute("aria-pressed", String(+b.dataset.hours === hours)));
    setRange(start, end);
  }

  function setRange(start, end) {
    range = [start, end];
    shown = null;
    $("start").value = wall(start);
    $("end").value = wall(end);
    show();
  }

  // The dates (and, within one day, the time window) that the statistics and downloads cover:
  // the query windows' choice nearest to the range.
  function queryArguments() {
    const [a, b] = shown || range;
    const from = wall(a), to = wall(b);
    const q = new URLSearchParams({ file: file.name, from: from.slice(0, 10), to: to.slice(0, 10),
                                    channels: chosenChannels().join(",") });
    if (from.slice(0, 10) === to.slice(0, 10) && b - a < 86400 - 60) {
      q.set("time", from.slice(11, 16) + "-" + to.slice(11, 16));
    }
    return q;
  }

  async function show() {
    if (!file || !range) return;
    const channels = chosenChannels();
    if (!channels.length) { say("Choose at least one channel."); return; }
    const [a, b] = shown || range;
    say("Loading…");
    const chartWidth = Math.max(200, $("chart").clientWidth);
    const q = new URLSearchParams({ file: file.name, start: new Date(a * 1000).toISOString(),
                                    end: new Date(b * 1000).toISOString(), channels: channels.join(","),
                                    points: String(Math.min(5000, Math.round(chartWidth))) });
    const query = queryArguments();
    try {
      const [s, stats, events] = await Promise.all([
        getJson("api/series?" + q), getJson("api/stats?" + query),
        getJson("api/events?" + new URLSearchParams({ file: file.name, from: query.get("from"), to: query.get("to") }))]);
      series = s;
      learnZone(s.offsets);
      draw();
      fillStats(stats, query);
      fillEvents(events);
      fillDownloads(query);
      say(s.time.length ? "" : "No rows in this range.");
    } catch (error) {
      say("Cannot load: " + error.message);
    }
  }

  function fillDownloads(query) {
    for (const [id, format] of [["get_csv", "csv"], ["get_xlsx", "xlsx"], ["get_txt", "txt"]]) {
      const q = new URLSearchParams(query);
      q.set("format", format);
      $(id).href = "api/rows?" + q;
    }
    $("get_events").href = "api/events?" + new URLSearchParams({ file: file.name, from: query.get("from"),
                                                                  to: query.get("to"), format: "csv" });
  }

  function fillStats(stats, query) {
    $("stats_range").textContent = "From " + query.get("from") + " to " + query.get("to") +
      (query.has("time") ? ", " + query.get("time") + " each day" : "") + ": " + stats.rows + " rows";
    const body = $("stats").tBodies[0];
    body.replaceChildren();
    for (const c of stats.channels) {
      const row = body.insertRow();
      row.dataset.channel = c.channel;
      const head = document.createElement("th");
      head.scope = "row";
      head.textContent = "Ch. " + c.channel;
      head.setAttribute("aria-label", "Channel " + c.channel);
      row.appendChild(head);
      for (const v of [c.unit, String(c.count), fmt(c.min), fmt(c.max), fmt(c.mean)])
        row.insertCell().textContent = v;
    }
  }

  function fillEvents(events) {
    const list = $("event_list");
    list.replaceChildren();
    for (const e of events) {
      const item = document.createElement("li");
      const kind = document.createElement("span");
      kind.className = "kind";
      kind.textContent = e.kind;
      item.append(e.date + " " + e.time + " ", kind,
                  (e.channel !== null ? " channel " + e.channel : "") + (e.text ? ": " + e.text : ""));
      list.appendChild(item);
    }
    if (!events.length) list.innerHTML = "<li>No events in these dates.</li>";
  }

  // Gaps as shaded spans, events as dashed lines, drawn under the series.
  function drawEvents(u) {
    const ctx = u.ctx, top = u.bbox.top, height = u.bbox.height;
    ctx.save();
    ctx.fillStyle = "rgba(128,128,128,0.25)";
    for (const g of series.gaps) {
      const x0 = Math.max(u.bbox.left, u.valToPos(g.from, "x", true));
      const x1 = Math.min(u.bbox.left + u.bbox.width, u.valToPos(g.to, "x", true));
      if (x1 > x0) ctx.fillRect(x0, top, x1 - x0, height);
    }
    ctx.strokeStyle = "#b26a00";
    ctx.setLineDash([4, 4]);
    for (const e of series.events) {
      const x = u.valToPos(e.at, "x", true);
      if (x < u.bbox.left || x > u.bbox.left + u.bbox.width) continue;
      ctx.beginPath();
      ctx.moveTo(x, top);
      ctx.lineTo(x, top + height);
      ctx.stroke();
    }
    ctx.restore();
  }

  function eventTip(u) {
    const tip = $("tip");
    const left = u.cursor.left;
    if (left === undefined || left < 0) { tip.hidden = true; return; }
    const near = series.events.filter((e) => Math.abs(u.valToPos(e.at, "x") - left) <= 4);
    if (!near.length) { tip.hidden = true; return; }
    tip.textContent = near.map((e) => e.tip).join("\n");
    const box = u.over.getBoundingClientRect();
    tip.style.left = Math.min(box.left + left + 10, window.innerWidth - 200) + "px";
    tip.style.top = box.top + 10 + "px";
    tip.hidden = false;
  }

  function draw() {
    const width = Math.max(200, $("chart").clientWidth - 2);
    const height = Math.max(220, Math.min(420, Math.round(width * 0.5)));
    const data = [series.time, ...series.channels.map((c) => c.mean)];
    const opts = {
      width, height,
      tzDate: (t) => { const d = new Date((t + offsetAt(t)) * 1000);
                       return new Date(d.getUTCFullYear(), d.getUTCMonth(), d.getUTCDate(), d.getUTCHours(),
                                       d.getUTCMinutes(), d.getUTCSeconds()); },
      scales: { x: { time: true } },
      series: [{ label: "Time" }, ...series.channels.map((c, i) => ({
        label: "Channel " + c.channel + (c.unit ? " (" + c.unit + ")" : ""),
        stroke: COLORS[(c.channel - 1) % COLORS.length], width: 1.5, spanGaps: false,
        value: (u, v, si, idx) => (v === null || idx === null ? "–" :
          fmt(v) + " (" + fmt(series.channels[i].min[idx]) + "…" + fmt(series.channels[i].max[idx]) + ")") }))],
      axes: [{}, {}],
      hooks: {
        drawClear: [drawEvents],
        setCursor: [eventTip],
        setSelect: [(u) => {
          if (u.select.width < 5) return;
          const a = u.posToVal(u.select.left, "x"), b = u.posToVal(u.select.left + u.select.width, "x");
          u.setSelect({ left: 0, width: 0 }, false);
          shown = [a, b];
          show();
        }],
      },
      cursor: { drag: { x: true, y: false, setScale: false } },
    };
    if (plot) plot.destroy();
    plot = new uPlot(opts, data, $("chart"));
    const names = series.channels.map((c) => "channel " + c.channel).join(", ");
    $("chart").setAttribute("aria-label", "Chart of " + names + " from " + wall(series.start ?? range[0]).replace("T", " ") +
      " to " + wall(series.end ?? range[1]).replace("T", " ") + ": " + series.time.length + " points, " +
      series.gaps.length + " gaps, " + series.events.length + " events. The statistics table below gives the figures.");
  }

  $("choice").addEventListener("submit", (event) => {
    event.preventDefault();
    const start = fromWall($("start").value), end = fromWall($("end").value);
    if (!(start <= end)) { say("The range's end must come after its start."); return; }
    document.querySelectorAll(".presets button").forEach((b) => b.setAttribute("aria-pressed", "false"));
    setRange(start, end);
  });
  document.querySelectorAll(".presets button").forEach((b) =>
    b.addEventListener("click", () => preset(+b.dataset.hours)));
  $("file").addEventListener("change", () => pickFile($("file").value));
  $("zoom_out").addEventListener("click", () => { shown = null; show(); });
  let resizeTimer = 0;
  window.addEventListener("resize", () => { clearTimeout(resizeTimer); resizeTimer = setTimeout(() => series && draw(), 200); });

  getJson("api/files").then((list) => {
    files = list;
    for (const f of files) {
      const option = document.createElement("option");
      option.value = f.name;
      option.textContent = f.name + (f.recording ? " (recording)" : "") + ", " + f.rows + " rows";
      $("file").appendChild(option);
    }
    const wanted = params.get("file") || (files.find((f) => f.recording) || files[0] || {}).name;
    if (wanted) $("file").value = wanted;
    pickFile(wanted);
  }).catch((error) => say("Cannot load the data files: " + error.message));
})();
