"use strict";
// The recorder's history page: a data file (or a rotated series) of the data folder, a time range
// and channels; the chart from /api/series (gaps shaded, events marked, lines broken where rows
// are missing), the statistics from /api/stats, the events from /api/events and links that
// download the rows as meter-query writes them. Chart, statistics, events and downloads all cover
// the same instants, to the second: the range shown (a preset, From/To, or the zoom). Times are
// shown on the recorder's wall clock (the rows' own), whatever the browser's zone.
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
  let range = null;      // [start, end] in whole Unix seconds
  let shown = null;      // the chart's own range (zoomed), whole seconds
  let preset_hours = null; // the preset that chose `range`, null for a typed one
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
  const iso = (t) => new Date(t * 1000).toISOString().replace(".000Z", "Z");
  const wallText = (t) => wall(t).replace("T", " ");
  // "UTC+01:00" for an offset in seconds.
  function offsetText(o) {
    const a = Math.abs(o);
    return "UTC" + (o < 0 ? "-" : "+") + String(Math.floor(a / 3600)).padStart(2, "0") + ":" +
           String(Math.floor(a % 3600 / 60)).padStart(2, "0");
  }
  // True when the recorder's clock showed t's wall time twice (the hour the clock goes back).
  function ambiguous(t) {
    const w = t + offsetAt(t);
    return [...new Set(zone.map((z) => z[1]))].some((o) => o !== offsetAt(t) && offsetAt(w - o) === o);
  }
  // A wall time for people: with its offset where the wall time alone names two instants.
  const wallLabel = (t) => wallText(t) + (ambiguous(t) ? " " + offsetText(offsetAt(t)) : "");

  // Every choice (a file, a range, channels, a zoom) counts up and cancels the requests of the
  // one before: an answer to an earlier choice never reaches the page.
  let choice = 0;
  let inflight = null;
  function newChoice() {
    if (inflight) inflight.abort();
    inflight = new AbortController();
    return ++choice;
  }

  async function getJson(url, signal) {
    const answer = await fetch(url, { credentials: "same-origin", signal });
    if (!answer.ok) throw new Error((await answer.text()).trim() || answer.statusText);
    return answer.json();
  }

  function say(text) { $("state").textContent = text; }

  // Nothing of an earlier choice stays on the page: chart, statistics, events and downloads go.
  function clearResults(why) {
    newChoice();
    if (plot) { plot.destroy(); plot = null; }
    series = null;
    $("chart").setAttribute("aria-label", "No chart: " + why);
    $("stats_range").textContent = "";
    $("stats").tBodies[0].replaceChildren();
    $("event_list").replaceChildren();
    $("no_events").hidden = true;
    for (const id of ["get_csv", "get_xlsx", "get_txt", "get_events"]) {
      $(id).removeAttribute("href");
      $(id).setAttribute("aria-disabled", "true");
    }
    say(why);
  }

  function fillFileList() {
    const select = $("file");
    const chosen = select.value;
    select.replaceChildren();
    // A file of a rotated series named on its own (NAME_002.mdb) is listed beside its series.
    const listed = file && !files.some((f) => f.name === file.name) ? [...files, file] : files;
    for (const f of listed) {
      const option = document.createElement("option");
      option.value = f.name;
      const more = f.files && f.files.length > 1 ? " … " + f.files[f.files.length - 1] + " (" + f.files.length + " files)" : "";
      option.textContent = f.name + more + (f.recording ? " (recording)" : "") + ", " + rowsText(f.rows);
      select.appendChild(option);
    }
    if (chosen) select.value = chosen;
  }

  // The file list as it is now (a file being recorded grows); the chosen file follows it.
  async function refreshFiles(signal) {
    files = await getJson("api/files", signal);
    fillFileList();
    if (file) file = files.find((f) => f.name === file.name) || file;
    if (file) learnZone(file.offsets);
  }

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

  const rowsText = (n) => n + (n === 1 ? " row" : " rows");

  async function pickFile(name) {
    const mine = newChoice();
    const signal = inflight.signal;
    file = files.find((f) => f.name === name) || null;
    // One file of a rotated series alone: the API answers for it; its span comes from its series.
    const series = name && files.find((f) => (f.files || []).includes(name));
    if (!file && series) {
      try {
        const s = await getJson("api/series?" + new URLSearchParams({ file: name, points: "1", channels: "1" }), signal);
        if (mine !== choice) return;
        learnZone(s.offsets);
        file = { name, files: [name], channels: series.channels, rows: s.rows, recording: false,
                 firstUtc: s.rows ? s.start : null, lastUtc: s.rows ? s.end : null, offsets: s.offsets, member: true };
        fillFileList();
        $("file").value = name;
      } catch (error) {
        if (mine === choice && error.name !== "AbortError") clearResults("Cannot load " + name + ": " + error.message);
        return;
      }
    }
    if (!file) {
      clearResults(files.length ? "There is no data file \"" + name + "\" in the data folder: choose one from the list."
                                : "The data folder holds no data file.");
      return;
    }
    learnZone(file.offsets);
    fillChannels();
    preset(24);
  }

  function highlight(hours) {
    preset_hours = hours;
    document.querySelectorAll(".presets button").forEach((b) =>
      b.setAttribute("aria-pressed", String(+b.dataset.hours === hours)));
  }

  async function preset(hours) {
    const mine = newChoice();
    try { await refreshFiles(inflight.signal); } catch (error) { /* the list as it was */ }
    if (mine !== choice || !file) return;
    if (file.firstUtc === null) {
      highlight(null);
      range = null;
      clearResults("The data file " + file.name + " holds no rows yet: nothing to chart, count or download.");
      return;
    }
    const end = file.lastUtc;
    const start = hours ? Math.max(file.firstUtc, end - hours * 3600) : file.firstUtc;
    highlight(hours);
    setRange(start, end);
  }

  // The instants the From/To boxes were last filled with: a box left as it was keeps its
  // instant, also in the hour the clock shows twice (its wall time alone would be the first pass).
  let boxed = {};
  function showInputs([a, b]) {
    for (const [id, t] of [["start", a], ["end", b]]) {
      $(id).value = wall(t);
      boxed[id] = [Date.parse(wall(t) + "Z"), t];
      $(id + "_zone").textContent = ambiguous(t) ? offsetText(offsetAt(t)) : "";
    }
  }
  function boxInstant(id) {
    const typed = Date.parse($(id).value + "Z");
    return boxed[id] && boxed[id][0] === typed ? boxed[id][1] : fromWall($(id).value);
  }

  function setRange(start, end) {
    range = [Math.ceil(start), Math.floor(end)];
    shown = null;
    showInputs(range);
    show();
  }

  // The instants that the chart, the statistics, the events and the downloads all cover.
  function queryArguments() {
    const [a, b] = shown || range;
    return new URLSearchParams({ file: file.name, from: iso(a), to: iso(b), channels: chosenChannels().join(",") });
  }

  async function show() {
    if (!file || !range) return;
    const channels = chosenChannels();
    if (!channels.length) {
      clearResults("No channel is ticked: tick at least one to chart, count and download it.");
      return;
    }
    const [a, b] = shown || range;
    const mine = newChoice();
    const signal = inflight.signal;
    say("Loading…");
    const chartWidth = Math.max(200, $("chart").clientWidth);
    const q = new URLSearchParams({ file: file.name, start: iso(a), end: iso(b), channels: channels.join(","),
                                    points: String(Math.min(5000, Math.round(chartWidth))) });
    const query = queryArguments();
    const range_only = new URLSearchParams({ file: file.name, from: query.get("from"), to: query.get("to") });
    try {
      const [s, stats, events] = await Promise.all([
        getJson("api/series?" + q, signal), getJson("api/stats?" + query, signal),
        getJson("api/events?" + range_only, signal)]);
      if (mine !== choice) return;
      series = s;
      learnZone(s.offsets);
      draw();
      fillStats(stats, [a, b]);
      fillEvents(events);
      fillDownloads(query, range_only, stats.rows);
      say(stats.rows ? "" : "No rows in this range.");
    } catch (error) {
      if (mine === choice && error.name !== "AbortError") clearResults("Cannot load: " + error.message);
    }
  }

  // Rows downloads only for a range that holds rows; the events of any range.
  function fillDownloads(query, range_only, rows) {
    for (const [id, format] of [["get_csv", "csv"], ["get_xlsx", "xlsx"], ["get_txt", "txt"]]) {
      if (!rows) {
        $(id).removeAttribute("href");
        $(id).setAttribute("aria-disabled", "true");
        continue;
      }
      const q = new URLSearchParams(query);
      q.set("format", format);
      $(id).href = "api/rows?" + q;
      $(id).removeAttribute("aria-disabled");
    }
    const q = new URLSearchParams(range_only);
    q.set("format", "csv");
    $("get_events").href = "api/events?" + q;
    $("get_events").removeAttribute("aria-disabled");
  }

  // A download is fetched here, so that a refusal (no rows, busy) is said on the page.
  async function download(event) {
    const link = event.currentTarget;
    event.preventDefault();
    if (!link.getAttribute("href")) { say("Nothing to download: " + $("state").textContent); return; }
    say("Preparing " + link.textContent + "…");
    try {
      const answer = await fetch(link.href, { credentials: "same-origin" });
      if (!answer.ok) {
        const why = (await answer.text()).trim();
        say(link.textContent + " not downloaded: " + (answer.status === 503 ? "the recorder is busy, try again in a few seconds (" + why + ")" : why || answer.statusText));
        return;
      }
      const name = /filename="([^"]+)"/.exec(answer.headers.get("Content-Disposition") || "");
      const url = URL.createObjectURL(await answer.blob());
      const save = document.createElement("a");
      save.href = url;
      save.download = name ? name[1] : "download";
      document.body.appendChild(save);
      save.click();
      save.remove();
      setTimeout(() => URL.revokeObjectURL(url), 60000);
      say("");
    } catch (error) {
      say(link.textContent + " not downloaded: " + error.message);
    }
  }

  function fillStats(stats, [a, b]) {
    $("stats_range").textContent = "From " + wallLabel(a) + " to " + wallLabel(b) + ": " + rowsText(stats.rows);
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
      kind.className = "kind " + e.kind;
      kind.textContent = e.kind;
      item.append(e.date + " " + e.time + " ", kind,
                  (e.channel !== null ? " channel " + e.channel : "") + (e.text ? ": " + e.text : ""));
      list.appendChild(item);
    }
    $("no_events").hidden = events.length > 0;
  }

  // Event lines by kind: the meter's overloads red, its changes of function blue-green, notes and
  // alarms amber.
  const MARK_COLORS = { note: "#b26a00", high: "#b26a00", low: "#b26a00", normal: "#b26a00",
                        overload: "#c62828", function: "#00838f" };
  // "Ch. 2 HOLD on", "Ch. 1 voltage VDC to resistance Ohm", "Ch. 1 over range" (short enough to
  // stand by its line; the tooltip has it whole).
  function markLabel(e) {
    const text = e.kind === "overload" ? (e.text.split(": ").pop() || "overload") : e.text;
    const label = (e.channel !== null ? "Ch. " + e.channel + " " : "") + text;
    return label.length > 40 ? label.slice(0, 39) + "…" : label;
  }
  // A channel's legend: its quantity and unit, every one the range holds ("voltage VDC, resistance
  // Ohm"); in a chart as narrow as a phone's the units alone, so that each entry fits its line.
  function channelLabel(c, narrow) {
    const units = (c.units || [])
      .map((u) => (u.quantity && !narrow ? u.quantity.replace(/_/g, " ") + " " : "") + u.unit)
      .filter((text) => text.trim());
    const text = units.length ? units.join(", ") : (c.unit || "").trim();
    return "Channel " + c.channel + (text ? " (" + text + ")" : "");
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
    ctx.setLineDash([4, 4]);
    let labelled = -Infinity; // where the last text went: a text too close to it is left to the tooltip
    for (const e of series.events) {
      const x = u.valToPos(e.at, "x", true);
      if (x < u.bbox.left || x > u.bbox.left + u.bbox.width) continue;
      ctx.strokeStyle = MARK_COLORS[e.kind] || MARK_COLORS.note;
      ctx.beginPath();
      ctx.moveTo(x, top);
      ctx.lineTo(x, top + height);
      ctx.stroke();
      // What the meter said (an overload, a change of function or HOLD) is written by its line.
      if ((e.kind === "overload" || e.kind === "function") && x - labelled >= 14 * devicePixelRatio) {
        labelled = x;
        ctx.save();
        ctx.setLineDash([]);
        ctx.fillStyle = ctx.strokeStyle;
        ctx.font = Math.round(11 * devicePixelRatio) + "px system-ui, sans-serif";
        ctx.textBaseline = "bottom"; // beside the line, not across it
        ctx.translate(x + 2 * devicePixelRatio, top + 4 * devicePixelRatio);
        ctx.rotate(Math.PI / 2);
        let label = markLabel(e);
        while (label.length > 4 && ctx.measureText(label).width > height - 8 * devicePixelRatio)
          label = label.slice(0, -2) + "…";
        ctx.fillText(label, 0, 0);
        ctx.restore();
      }
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
      series: [{ label: "Time", value: (u, v, si, idx) => {
        if (idx === null || idx === undefined || v === null) return "–";
        const first = series.time[idx], last = series.last[idx];
        return last > first ? wallText(first) + " – " + wallText(last).slice(11) : wallText(first);
      } }, ...series.channels.map((c, i) => ({
        label: channelLabel(c, width < 600),
        stroke: COLORS[(c.channel - 1) % COLORS.length], width: 1.5, spanGaps: false,
        // A channel's line in another unit (its meter changed function) is dashed.
        dash: i > 0 && series.channels[i - 1].channel === c.channel ? [6, 4] : undefined,
        value: (u, v, si, idx) => (v === null || idx === null ? "–" :
          fmt(v) + " (" + fmt(series.channels[i].min[idx]) + "…" + fmt(series.channels[i].max[idx]) + ")") }))],
      // Labels as short as the span allows, ticks far enough apart that they never touch.
      axes: [{ space: (u) => { const span = u.scales.x.max - u.scales.x.min;
                               return span > 3 * 86400 ? 70 : span > 86400 ? 110 : span > 600 ? 70 : 90; },
               values: (u, ticks) => {
        const span = u.scales.x.max - u.scales.x.min;
        return ticks.map((t) => { const w = wallText(t);
                                  return span > 3 * 86400 ? w.slice(5, 10) : span > 86400 ? w.slice(5, 16)
                                       : span > 600 ? w.slice(11, 16) : w.slice(11); });
      } }, {
        // As wide as the longest value label ("-12,340.5"), so that none is cut on the left.
        size: (u, values, i, cycle) => {
          if (cycle > 1 || !values) return u.axes[i]._size || 50;
          u.ctx.font = u.axes[i].font[0];
          const widest = Math.max(0, ...values.map((v) => u.ctx.measureText(v).width));
          return Math.ceil(widest / devicePixelRatio) + 24;
        },
      }],
      hooks: {
        drawClear: [drawEvents],
        setCursor: [eventTip],
        setSelect: [(u) => {
          if (u.select.width < 5) return;
          const a = u.posToVal(u.select.left, "x"), b = u.posToVal(u.select.left + u.select.width, "x");
          u.setSelect({ left: 0, width: 0 }, false);
          shown = [Math.ceil(a), Math.floor(b)];
          highlight(null);
          showInputs(shown);
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
    // Wrong input leaves nothing of the earlier range on the page.
    for (const [id, name] of [["start", "From"], ["end", "To"]])
      if (!$(id).value) { clearResults("The " + name + " box is empty: give a date and time."); $(id).focus(); return; }
    const start = boxInstant("start"), end = boxInstant("end");
    if (!(start <= end)) { clearResults("The range's end must come after its start."); return; }
    highlight(null);
    setRange(start, end);
  });
  for (const id of ["get_csv", "get_xlsx", "get_txt", "get_events"]) $(id).addEventListener("click", download);
  document.querySelectorAll(".presets button").forEach((b) =>
    b.addEventListener("click", () => preset(+b.dataset.hours)));
  $("file").addEventListener("change", () => pickFile($("file").value));
  $("zoom_out").addEventListener("click", () => {
    if (!range) return;
    shown = null;
    showInputs(range);
    highlight(preset_hours);
    show();
  });
  let resizeTimer = 0;
  window.addEventListener("resize", () => { clearTimeout(resizeTimer); resizeTimer = setTimeout(() => series && draw(), 200); });

  getJson("api/files").then((list) => {
    files = list;
    fillFileList();
    const named = params.get("file");
    const wanted = named || (files.find((f) => f.recording) || files[0] || {}).name;
    if (wanted && files.some((f) => f.name === wanted)) $("file").value = wanted;
    else $("file").selectedIndex = -1;
    pickFile(wanted);
  }).catch((error) => clearResults("Cannot load the data files: " + error.message));
})();
