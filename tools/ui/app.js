// The Tessaron page: follows the daemon's events relayed by tessaron-ui on
// /events and starts from the /api snapshots after every (re)connection.
'use strict';

(function () {
  // The six monitored channels and the band view they make together.
  const CHANNELS = [
    { ch: 1, freq: 2412, color: '#58a6ff' },
    { ch: 3, freq: 2422, color: '#3fb950' },
    { ch: 6, freq: 2437, color: '#d29922' },
    { ch: 7, freq: 2442, color: '#f778ba' },
    { ch: 9, freq: 2452, color: '#a371f7' },
    { ch: 11, freq: 2462, color: '#ff7b72' },
  ];
  const CH_BINS = 56;
  const BAND_BINS = 216;
  const BINS_PER_MHZ = 3.2;
  const BIN_MHZ = 0.3125;
  const DBM_LOW = -100;
  const DBM_HIGH = -30;
  const WATERFALL_ROW_PX = 4;
  // A channel's spectrum fades once it is this old.
  const STALE_SPECTRUM_MS = 15000;

  const devices = new Map(); // "class@first" -> device
  const channels = new Map(); // centre MHz -> {freq, dbm, receivedMs, util}
  let latestUtil = null;
  let lastDatagramMs = 0;
  let stats = null;
  let datagramsSeen = 0;
  let waterfallRows = 0;

  // ---- event texts --------------------------------------------------------
  // The texts only look like JSON (survey texts go in unescaped), so they are
  // taken apart by hand; anything that does not fit is ignored.

  function parseDevices(data) {
    const key = data.indexOf('"dev"');
    const open = key < 0 ? -1 : data.indexOf('[', key);
    const close = data.lastIndexOf(']');
    if (open < 0 || close < open) return null;
    const fields = [];
    const re = /"([^"]*)"/g;
    const list = data.slice(open + 1, close);
    let m;
    while ((m = re.exec(list)) !== null) fields.push(m[1]);
    if (fields.length !== 9) return null;
    const num = (s) => (/^\s*-?\d+(\.\d+)?\s*$/.test(s) ? Number(s) : NaN);
    const dev = {
      index: num(fields[0]),
      cls: fields[1],
      first: num(fields[2]),
      last: num(fields[3]),
      duration: num(fields[4]),
      power: num(fields[5]),
      freq: num(fields[6]),
      hopper: fields[7] === 'Freq Hopper',
      bins: null,
    };
    if (!Number.isInteger(dev.index) || dev.index < 0 || !dev.cls || !Number.isFinite(dev.first)) {
      return null;
    }
    if (dev.index === 0) return dev; // ended: class and first second only
    if (![dev.last, dev.duration, dev.power, dev.freq].every(Number.isFinite)) return null;
    if (!dev.hopper) {
      const bins = fields[7].split(',').map(num);
      if (bins.length !== 3 || !bins.every(Number.isInteger)) return null;
      dev.bins = bins;
    }
    return dev;
  }

  function parseChannel(data) {
    const m = /"ch"\s*:\s*\[([^\]]*)\]/.exec(data);
    const f = /"freq"\s*:\s*(-?\d+(?:\.\d+)?)/.exec(data);
    if (!m || !f) return null;
    const bins = m[1].split(',').map((s) => (/^\s*-?\d+\s*$/.test(s) ? Number(s) : NaN));
    if (bins.length !== CH_BINS || !bins.every(Number.isFinite)) return null;
    // Positive dB below 1 mW on the wire; dBm here.
    return { freq: Number(f[1]), dbm: bins.map((v) => -v) };
  }

  function parseUtil(data) {
    const key = data.indexOf('"channel_util_str"');
    const colon = key < 0 ? -1 : data.indexOf(':', key + 18);
    const open = colon < 0 ? -1 : data.indexOf('"', colon);
    const ts = data.lastIndexOf('"timestamp"');
    if (open < 0 || ts <= open) return null;
    let p = ts;
    while (p > open + 1 && /\s/.test(data[p - 1])) p--;
    if (data[p - 1] !== ',') return null;
    p--;
    while (p > open + 1 && /\s/.test(data[p - 1])) p--;
    if (p - 1 <= open || data[p - 1] !== '"') return null;
    const t = /^\s*:\s*(\d+)/.exec(data.slice(ts + 11));
    return { text: data.slice(open + 1, p - 1), timestamp: t ? Number(t[1]) : 0 };
  }

  // ---- state --------------------------------------------------------------

  function deviceKey(cls, first) {
    return cls + '@' + first;
  }

  function nearestChannel(freq) {
    return CHANNELS.find((c) => Math.abs(c.freq - freq) <= 0.5) || null;
  }

  function applyDevice(d, nowMs) {
    const key = deviceKey(d.cls, d.first);
    const known = devices.get(key);
    if (d.index === 0) {
      const rec = known || { cls: d.cls, first: d.first, reports: 0, updatedMs: nowMs };
      rec.ended = true;
      rec.endedMs = nowMs;
      devices.set(key, rec);
      return;
    }
    devices.set(key, {
      cls: d.cls,
      first: d.first,
      last: d.last,
      duration: d.duration,
      power: d.power,
      freq: d.freq,
      hopper: d.hopper,
      bins: d.bins,
      ended: false,
      endedMs: 0,
      updatedMs: nowMs,
      reports: (known ? known.reports : 0) + 1,
    });
  }

  function applyChannel(c, nowMs) {
    const known = nearestChannel(c.freq);
    const freq = known ? known.freq : c.freq;
    const rec = channels.get(freq) || { freq: freq, util: null };
    rec.dbm = c.dbm;
    rec.receivedMs = nowMs;
    // A survey is sent just before the spectrum of the visit it describes.
    if (latestUtil && !latestUtil.paired && nowMs - latestUtil.receivedMs <= 3000) {
      rec.util = latestUtil;
      latestUtil.paired = true;
    }
    channels.set(freq, rec);
    if (known) addToWaterfall(known, c.dbm);
  }

  function applyUtil(u, nowMs) {
    latestUtil = { text: u.text, timestamp: u.timestamp, receivedMs: nowMs, paired: false };
    const named = new Set();
    for (const m of u.text.matchAll(/\b(24\d\d)\b/g)) {
      const c = nearestChannel(Number(m[1]));
      if (c) named.add(c.freq);
    }
    if (named.size === 1) {
      const freq = named.values().next().value;
      const rec = channels.get(freq) || { freq: freq, dbm: null, receivedMs: 0, util: null };
      rec.util = latestUtil;
      latestUtil.paired = true;
      channels.set(freq, rec);
    }
  }

  function loadSnapshots() {
    const fetchJson = (path) =>
      fetch(path, { cache: 'no-store' }).then((r) => {
        if (!r.ok) throw new Error(path + ': ' + r.status);
        return r.json();
      });
    return Promise.all([fetchJson('/api/devices'), fetchJson('/api/channels')])
      .then(([devs, chans]) => {
        // Server milliseconds to this browser's clock.
        const skew = devs.now_ms - Date.now();
        devices.clear();
        for (const d of devs.devices) {
          devices.set(deviceKey(d.class, d.first_seen), {
            cls: d.class,
            first: d.first_seen,
            last: d.last_seen,
            duration: d.duration_s,
            power: d.power_dbm,
            freq: d.freq_mhz,
            hopper: d.kind === 'hopper',
            bins: d.bins,
            ended: d.state === 'ended',
            endedMs: d.ended_ms === null ? 0 : d.ended_ms - skew,
            updatedMs: d.updated_ms - skew,
            reports: d.reports,
          });
        }
        // The latest spectra make the first row of an empty waterfall.
        const firstRow =
          waterfallRows === 0 &&
          chans.channels.some((c) => c.power_dbm.length === CH_BINS && nearestChannel(c.freq_mhz));
        if (firstRow) startWaterfallRow();
        for (const c of chans.channels) {
          const util = c.util
            ? { text: c.util.text, timestamp: c.util.timestamp, receivedMs: c.util.received_ms - skew }
            : null;
          const dbm = c.power_dbm.length === CH_BINS ? c.power_dbm : null;
          channels.set(c.freq_mhz, { freq: c.freq_mhz, dbm: dbm, receivedMs: c.received_ms - skew, util: util });
          const known = nearestChannel(c.freq_mhz);
          if (firstRow && dbm && known) {
            pendingChannels.add(known.freq);
            for (let i = 0; i < CH_BINS; i++) pendingRow[bandOffset(known.freq) + i] = dbm[i];
          }
        }
        if (firstRow) paintPendingRow();
        renderAll();
      })
      .catch(() => {
        /* the stream's reconnection retries */
      });
  }

  // ---- event stream -------------------------------------------------------

  let source = null;
  function connect() {
    if (source) source.close();
    source = new EventSource('/events');
    source.onopen = () => {
      setConn(true);
      loadSnapshots();
    };
    source.onerror = () => {
      setConn(false);
      // The browser retries dropped streams by itself, but gives up on an
      // answer it cannot use (a restarting server); start over then.
      if (source.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
    };
    const handle = (parse, apply) => (ev) => {
      const nowMs = Date.now();
      lastDatagramMs = nowMs;
      datagramsSeen++;
      const parsed = parse(String(ev.data));
      if (parsed) apply(parsed, nowMs);
      scheduleRender();
    };
    source.addEventListener('devices', handle(parseDevices, applyDevice));
    source.addEventListener('channel', handle(parseChannel, applyChannel));
    source.addEventListener('channel_util_info', handle(parseUtil, applyUtil));
  }

  function setConn(live) {
    const el = document.getElementById('conn');
    el.textContent = live ? 'live' : 'reconnecting…';
    el.className = 'conn ' + (live ? 'conn-live' : 'conn-wait');
  }

  // ---- drawing ------------------------------------------------------------

  // dBm to a dark-blue, cyan, yellow, red ramp; never the canvas background.
  function heatColor(dbm) {
    const t = Math.min(1, Math.max(0, (dbm - DBM_LOW) / (DBM_HIGH - DBM_LOW)));
    const stops = [
      [0.0, 20, 24, 82],
      [0.35, 24, 120, 190],
      [0.6, 60, 200, 170],
      [0.8, 240, 220, 60],
      [1.0, 250, 60, 40],
    ];
    for (let i = 1; i < stops.length; i++) {
      if (t <= stops[i][0]) {
        const a = stops[i - 1];
        const b = stops[i];
        const u = (t - a[0]) / (b[0] - a[0]);
        return [0, 1, 2].map((k) => Math.round(a[k + 1] + (b[k + 1] - a[k + 1]) * u));
      }
    }
    return [250, 60, 40];
  }

  // The band-view bin of a channel's first bin: the daemon's own truncation.
  function bandOffset(freq) {
    return Math.trunc(Math.fround(freq - 2412) * BINS_PER_MHZ);
  }

  // One waterfall row collects a sweep over the channels. A channel that
  // comes back after others starts the next row; a long visit that sends
  // several spectra in a row refreshes its part of the row, unless the feed
  // holds one channel only, when every spectrum is a row of its own. The
  // row being filled is painted at the top at once.
  let pendingRow = null;
  let pendingChannels = new Set();
  let lastChannel = null;
  let hopping = false;
  function startWaterfallRow() {
    const canvas = document.getElementById('waterfall');
    if (pendingChannels.size > 1) hopping = true;
    canvas.getContext('2d').drawImage(canvas, 0, WATERFALL_ROW_PX); // scroll down
    pendingRow = new Array(BAND_BINS).fill(null);
    pendingChannels = new Set();
    waterfallRows++;
    canvas.dataset.rows = String(waterfallRows);
  }

  function paintPendingRow() {
    const canvas = document.getElementById('waterfall');
    paintRow(canvas.getContext('2d'), canvas.width, pendingRow);
  }

  function addToWaterfall(channel, dbm) {
    const repeat = channel.freq === lastChannel;
    if (pendingRow === null || (pendingChannels.has(channel.freq) && !(repeat && hopping))) {
      startWaterfallRow();
    }
    lastChannel = channel.freq;
    pendingChannels.add(channel.freq);
    const offset = bandOffset(channel.freq);
    for (let i = 0; i < CH_BINS; i++) pendingRow[offset + i] = dbm[i];
    paintPendingRow();
  }

  function paintRow(ctx, width, row) {
    const image = ctx.createImageData(width, WATERFALL_ROW_PX);
    for (let x = 0; x < width; x++) {
      const v = row[Math.floor((x * BAND_BINS) / width)];
      const rgb = v === null ? [11, 15, 26] : heatColor(v);
      for (let y = 0; y < WATERFALL_ROW_PX; y++) {
        const p = (y * width + x) * 4;
        image.data[p] = rgb[0];
        image.data[p + 1] = rgb[1];
        image.data[p + 2] = rgb[2];
        image.data[p + 3] = 255;
      }
    }
    ctx.putImageData(image, 0, 0);
  }

  function drawWaterfallAxis() {
    const axis = document.getElementById('waterfall-axis');
    axis.replaceChildren();
    CHANNELS.forEach((c, i) => {
      const label = document.createElement('span');
      label.style.left = ((bandOffset(c.freq) + CH_BINS / 2) * 100) / BAND_BINS + '%';
      label.style.color = c.color;
      // 2437 and 2442 sit close together: one label above the other.
      label.className = i % 2 ? 'low' : 'high';
      label.textContent = c.freq;
      axis.appendChild(label);
    });
    const bar = document.getElementById('scale-bar');
    const stops = [];
    for (let i = 0; i <= 10; i++) {
      const rgb = heatColor(DBM_LOW + ((DBM_HIGH - DBM_LOW) * i) / 10);
      stops.push('rgb(' + rgb.join(',') + ') ' + i * 10 + '%');
    }
    bar.style.background = 'linear-gradient(to right, ' + stops.join(', ') + ')';
  }

  // Matches the canvas's pixels to its size on screen.
  function fitCanvas(canvas) {
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(300, Math.round(canvas.clientWidth * ratio));
    const height = Math.round(width * 0.36);
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    return ratio;
  }

  function drawSpectrum() {
    const canvas = document.getElementById('spectrum');
    const ratio = fitCanvas(canvas);
    const ctx = canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    const W = canvas.width / ratio;
    const H = canvas.height / ratio;
    const left = 40;
    const right = 10;
    const top = 12;
    const bottom = 24;
    const fLow = 2400;
    const fHigh = 2474;
    const dLow = -110;
    const dHigh = -20;
    const x = (f) => left + ((f - fLow) * (W - left - right)) / (fHigh - fLow);
    const y = (d) => top + ((dHigh - d) * (H - top - bottom)) / (dHigh - dLow);
    ctx.clearRect(0, 0, W, H);
    ctx.font = '11px system-ui, sans-serif';
    ctx.strokeStyle = '#2a313c';
    ctx.fillStyle = '#7d8590';
    ctx.lineWidth = 1;
    ctx.textAlign = 'right';
    for (let d = dLow; d <= dHigh; d += 10) {
      ctx.beginPath();
      ctx.moveTo(left, y(d) + 0.5);
      ctx.lineTo(W - right, y(d) + 0.5);
      ctx.stroke();
      ctx.fillText(String(d), left - 6, y(d) + 4);
    }
    ctx.textAlign = 'center';
    for (let f = 2400; f <= fHigh - 10; f += 10) {
      ctx.beginPath();
      ctx.moveTo(x(f) + 0.5, top);
      ctx.lineTo(x(f) + 0.5, H - bottom);
      ctx.stroke();
      ctx.fillText(String(f), x(f), H - bottom + 15);
    }
    ctx.textAlign = 'right';
    ctx.fillText('MHz', W - right, H - bottom + 15);
    const now = Date.now();
    for (const c of CHANNELS) {
      const rec = channels.get(c.freq);
      if (!rec || !rec.dbm) continue;
      ctx.globalAlpha = now - rec.receivedMs > STALE_SPECTRUM_MS ? 0.35 : 1;
      ctx.strokeStyle = c.color;
      ctx.lineWidth = 1.5;
      ctx.beginPath();
      for (let i = 0; i < CH_BINS; i++) {
        const px = x(c.freq + (i - CH_BINS / 2) * BIN_MHZ);
        const py = y(Math.max(dLow, Math.min(dHigh, rec.dbm[i])));
        if (i === 0) ctx.moveTo(px, py);
        else ctx.lineTo(px, py);
      }
      ctx.stroke();
    }
    ctx.globalAlpha = 1;
  }

  function drawLegend() {
    const legend = document.getElementById('legend');
    legend.replaceChildren();
    for (const c of CHANNELS) {
      const rec = channels.get(c.freq);
      const span = document.createElement('span');
      const swatch = document.createElement('i');
      swatch.style.background = c.color;
      span.appendChild(swatch);
      let label = 'ch ' + c.ch + ' (' + c.freq + ' MHz)';
      if (rec && rec.dbm) label += ' peak ' + Math.max(...rec.dbm) + ' dBm';
      span.appendChild(document.createTextNode(label));
      legend.appendChild(span);
    }
  }

  // ---- tables and texts ---------------------------------------------------

  function two(n) {
    return String(n).padStart(2, '0');
  }

  function clock(sec) {
    if (!Number.isFinite(sec) || sec <= 0) return '–';
    const d = new Date(sec * 1000);
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  function fullDate(sec) {
    if (!Number.isFinite(sec) || sec <= 0) return '';
    const d = new Date(sec * 1000);
    return d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + ' ' + clock(sec);
  }

  function span(seconds) {
    if (!Number.isFinite(seconds)) return '–';
    const s = Math.max(0, Math.floor(seconds));
    if (s < 60) return s + ' s';
    if (s < 3600) return Math.floor(s / 60) + ' m ' + two(s % 60) + ' s';
    return Math.floor(s / 3600) + ' h ' + two(Math.floor((s % 3600) / 60)) + ' m';
  }

  // An active device's duration goes on growing while the daemon is heard
  // from; it stops when the daemon falls silent.
  function liveDuration(d, nowMs) {
    if (!Number.isFinite(d.duration)) return NaN;
    if (d.ended) return d.duration;
    const heardUntil = Math.max(d.updatedMs, Math.min(nowMs, lastDatagramMs + 5000));
    return d.duration + (heardUntil - d.updatedMs) / 1000;
  }

  function renderDevices() {
    const nowMs = Date.now();
    const list = Array.from(devices.values()).sort((a, b) => {
      if (a.ended !== b.ended) return a.ended ? 1 : -1;
      return a.ended ? b.endedMs - a.endedMs : a.first - b.first;
    });
    const body = document.querySelector('#devices tbody');
    const rows = list.map((d) => {
      const tr = document.createElement('tr');
      tr.className = d.ended ? 'ended' : 'active';
      tr.dataset.class = d.cls;
      // Fixed devices: bins count in the subband of d.freq; bin 28 is its centre.
      const located = !d.hopper && Number.isFinite(d.freq) && d.freq > 0 && d.bins;
      const freq = d.hopper
        ? 'hopping'
        : located ? (d.freq + (d.bins[1] - CH_BINS / 2) * BIN_MHZ).toFixed(1) + ' MHz' : '–';
      const bins = located
        ? d.bins[0] + '–' + d.bins[2] + ', centre ' + d.bins[1] + ' of ' + d.freq.toFixed(0)
        : '–';
      const power = Number.isFinite(d.power) && d.reports > 0 ? d.power.toFixed(1) + ' dBm' : '–';
      const cells = [
        [d.cls, 'cls'],
        [freq, ''],
        [bins, ''],
        [power, ''],
        [clock(d.first), '', fullDate(d.first)],
        [d.reports > 0 ? clock(d.last) : '–', '', d.reports > 0 ? fullDate(d.last) : ''],
        [d.reports > 0 ? span(liveDuration(d, nowMs)) : '–', 'duration'],
        [d.ended ? 'ended' : 'active', d.ended ? 'state' : 'state state-active'],
      ];
      for (const [text, cls, title] of cells) {
        const td = document.createElement('td');
        td.textContent = text;
        if (cls) td.className = cls;
        if (title) td.title = title;
        tr.appendChild(td);
      }
      return tr;
    });
    body.replaceChildren(...rows);
    document.getElementById('no-devices').hidden = rows.length > 0;
  }

  function renderUtil() {
    const grid = document.getElementById('util');
    const nowMs = Date.now();
    const cards = CHANNELS.map((c) => {
      const rec = channels.get(c.freq);
      const util = rec && rec.util;
      const card = document.createElement('div');
      card.className = 'util-card' + (util ? '' : ' none');
      const h = document.createElement('h3');
      h.textContent = 'ch ' + c.ch + ' · ' + c.freq + ' MHz';
      if (util) {
        const age = document.createElement('span');
        age.className = 'age';
        age.textContent = span((nowMs - util.receivedMs) / 1000) + ' ago';
        h.appendChild(age);
      }
      const pre = document.createElement('pre');
      pre.textContent = util ? util.text || '(empty survey)' : '–';
      card.append(h, pre);
      return card;
    });
    grid.replaceChildren(...cards);
    document.getElementById('no-util').hidden =
      latestUtil !== null || Array.from(channels.values()).some((c) => c.util);
  }

  function renderCounters() {
    const el = document.getElementById('counters');
    let text = datagramsSeen + ' events';
    if (stats) {
      text += ' · ' + stats.malformed + ' malformed · ' + stats.oversized + ' oversized';
      if (stats.sse_dropped > 0) text += ' · ' + stats.sse_dropped + ' dropped for slow pages';
    }
    el.textContent = text;
  }

  function renderAll() {
    renderDevices();
    drawSpectrum();
    drawLegend();
    renderUtil();
    renderCounters();
  }

  // Bursts of events (a replay) are drawn once per frame.
  let renderQueued = false;
  function scheduleRender() {
    if (renderQueued) return;
    renderQueued = true;
    requestAnimationFrame(() => {
      renderQueued = false;
      renderAll();
    });
  }

  function pollStats() {
    fetch('/api/stats', { cache: 'no-store' })
      .then((r) => (r.ok ? r.json() : null))
      .then((s) => {
        if (s) stats = s;
        renderCounters();
      })
      .catch(() => {});
  }

  drawWaterfallAxis();
  renderAll();
  connect();
  setInterval(renderAll, 1000);
  setInterval(pollStats, 5000);
  pollStats();

  // For tests and the curious: the parsers and a peek at the state.
  window.tessaronUi = {
    parseDevices: parseDevices,
    parseChannel: parseChannel,
    parseUtil: parseUtil,
    deviceCount: () => devices.size,
    waterfallRows: () => waterfallRows,
  };
})();
