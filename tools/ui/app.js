// The Tessaron page: the devices, spectra and air quality of every sensor
// tessaron-ui hears (the local daemon over UDP, others through MQTT). Events
// arrive as JSON on /events; the device table and the air quality, which the
// server works out, are re-read from /api after changes.
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
  const WATERFALL_ROWS = 150;
  // Without an event for this long the page says so, instead of looking live.
  // (?stale_s=N shortens it, for tests.)
  const STALE_MS = 1000 * (Number(new URLSearchParams(location.search).get('stale_s')) || 10);
  const STALE_SPECTRUM_MS = 15000;
  const TIME_ZONE = Intl.DateTimeFormat().resolvedOptions().timeZone || 'local time';

  let devices = []; // from /api/devices
  let quality = []; // from /api/channels: {sensor, channel, quality, ...}
  let sensors = []; // from /api/sensors
  let skewMs = 0; // server clock minus this browser's
  const spectra = new Map(); // sensor -> Map(centre MHz -> {dbm, receivedMs})
  const utils = new Map(); // sensor -> Map(centre MHz -> util) and 'latest'
  const waterfalls = new Map(); // sensor -> {rows: [{time, values}], current}
  let lastEventMs = 0;
  let eventsSeen = 0;
  let stats = null;

  // ---- state --------------------------------------------------------------

  function nearestChannel(freq) {
    return CHANNELS.find((c) => Math.abs(c.freq - freq) <= 0.5) || null;
  }

  function sensorMap(map, sensor) {
    if (!map.has(sensor)) map.set(sensor, new Map());
    return map.get(sensor);
  }

  function knownSensors() {
    const names = new Set(sensors.map((s) => s.name));
    for (const s of spectra.keys()) names.add(s);
    return Array.from(names).sort();
  }

  function selectedSensor() {
    return document.getElementById('sensor').value;
  }

  // The plots show one sensor: the selected one, or the first there is.
  function plotSensor() {
    return selectedSensor() || knownSensors()[0] || '';
  }

  function applySpectrum(e, nowMs) {
    const known = nearestChannel(e.freq_mhz);
    if (!known || !Array.isArray(e.power_dbm) || e.power_dbm.length !== CH_BINS) return;
    sensorMap(spectra, e.sensor).set(known.freq, { dbm: e.power_dbm, receivedMs: nowMs });
    const time = typeof e.host_time === 'number' ? e.host_time * 1000 : nowMs;
    addWaterfallRow(e.sensor, known, e.power_dbm, time, nowMs, e.card_time_us);
    const latest = utils.get(e.sensor);
    // A survey is sent just before the spectrum of the visit it describes.
    if (latest && latest.pending && nowMs - latest.pending.receivedMs <= 3000) {
      latest.set(known.freq, latest.pending);
      latest.pending = null;
    }
  }

  function applyUtil(e, nowMs) {
    const map = sensorMap(utils, e.sensor);
    const util = { text: e.survey, receivedMs: nowMs };
    const named = e.freq_mhz ? nearestChannel(e.freq_mhz) : null;
    if (named) map.set(named.freq, util);
    else map.pending = util;
    map.latest = util;
  }

  // One row per channel visit: the visit's bins replace that channel's part
  // of the previous row, the others hold their last values.
  function addWaterfallRow(sensor, channel, dbm, timeMs, receivedMs, cardUs) {
    if (!waterfalls.has(sensor)) waterfalls.set(sensor, { rows: [], current: new Array(BAND_BINS).fill(null) });
    const w = waterfalls.get(sensor);
    const offset = bandOffset(channel.freq);
    for (let i = 0; i < CH_BINS; i++) w.current[offset + i] = dbm[i];
    w.rows.unshift({ time: timeMs, receivedMs: receivedMs, cardUs: cardUs, values: w.current.slice() });
    if (w.rows.length > WATERFALL_ROWS) w.rows.pop();
  }

  function fetchJson(path) {
    return fetch(path, { cache: 'no-store' }).then((r) => {
      if (!r.ok) throw new Error(path + ': ' + r.status);
      return r.json();
    });
  }

  function loadDevices() {
    return Promise.all([fetchJson('/api/devices'), fetchJson('/api/channels'), fetchJson('/api/sensors')])
      .then(([devs, chans, sens]) => {
        skewMs = devs.now_ms - Date.now();
        devices = devs.devices;
        quality = chans.quality;
        sensors = sens.sensors;
        return chans;
      });
  }

  // After a (re)connection: everything the server holds, spectra included.
  function loadSnapshots() {
    loadDevices()
      .then((chans) => {
        for (const c of chans.channels) {
          const known = nearestChannel(c.freq_mhz);
          if (!known || c.power_dbm.length !== CH_BINS) continue;
          const map = sensorMap(spectra, c.sensor);
          if (!map.has(known.freq)) {
            map.set(known.freq, { dbm: c.power_dbm, receivedMs: c.received_ms - skewMs });
            addWaterfallRow(c.sensor, known, c.power_dbm, c.received_ms, c.received_ms - skewMs, c.mac_time);
          }
          if (c.util) sensorMap(utils, c.sensor).set(known.freq, { text: c.util.text, receivedMs: c.util.received_ms - skewMs });
        }
        renderAll();
      })
      .catch(() => {
        /* the stream's reconnection retries */
      });
  }

  // A function that runs `work` once, when `wait` (a timer or a frame
  // request) calls back, however often it is called in between.
  function coalesced(wait, work) {
    let queued = false;
    return () => {
      if (queued) return;
      queued = true;
      wait(() => {
        queued = false;
        work();
      });
    };
  }

  // Device changes are re-read from the server, at most twice a second.
  const scheduleRefresh = coalesced(
    (run) => setTimeout(run, 500),
    () => loadDevices().then(renderAll).catch(() => {}),
  );

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
    const handle = (apply) => (ev) => {
      const nowMs = Date.now();
      let e = null;
      try {
        e = JSON.parse(String(ev.data));
      } catch (err) {
        return;
      }
      if (!e || typeof e.sensor !== 'string') return;
      lastEventMs = nowMs;
      eventsSeen++;
      apply(e, nowMs);
      scheduleRender();
    };
    source.addEventListener('device', handle(() => scheduleRefresh()));
    source.addEventListener('status', handle(() => scheduleRefresh()));
    source.addEventListener('spectrum', handle(applySpectrum));
    source.addEventListener('utilisation', handle(applyUtil));
  }

  function setConn(live) {
    const el = document.getElementById('conn');
    el.textContent = live ? 'connected' : 'reconnecting…';
    el.className = 'conn ' + (live ? 'conn-live' : 'conn-wait');
  }

  // ---- formatting ---------------------------------------------------------

  function two(n) {
    return String(n).padStart(2, '0');
  }

  function clock(ms) {
    const d = new Date(ms);
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  function dateTime(sec) {
    if (!Number.isFinite(sec) || sec <= 0) return '–';
    const d = new Date(sec * 1000);
    return d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + ' ' + clock(sec * 1000);
  }

  function span(seconds) {
    if (!Number.isFinite(seconds)) return '–';
    const s = Math.max(0, Math.floor(seconds));
    if (s < 60) return s + ' s';
    if (s < 3600) return Math.floor(s / 60) + ' min ' + two(s % 60) + ' s';
    return Math.floor(s / 3600) + ' h ' + two(Math.floor((s % 3600) / 60)) + ' min';
  }

  function channelList(list) {
    if (!list || list.length === 0) return '–';
    if (list.length === 13) return 'all (1–13)';
    return list[0] === list[list.length - 1] ? String(list[0]) : list[0] + '–' + list[list.length - 1];
  }

  function where(d) {
    if (d.kind === 'hopper') return 'hops over the whole band';
    if (!d.band_mhz) return '–';
    return d.freq_mhz.toFixed(1) + ' MHz (' + d.band_mhz[0].toFixed(1) + '–' + d.band_mhz[1].toFixed(1) + ')';
  }

  function qualityClass(q) {
    return q >= 80 ? 'q-good' : q >= 50 ? 'q-fair' : 'q-poor';
  }

  // ---- tables -------------------------------------------------------------

  function cell(tr, text, cls, title) {
    const td = document.createElement('td');
    td.textContent = text;
    if (cls) td.className = cls;
    if (title) td.title = title;
    tr.appendChild(td);
    return td;
  }

  // A strip of the device's on/off history over the span it covers.
  function timeline(d) {
    const box = document.createElement('div');
    box.className = 'timeline';
    const first = d.history.length ? d.history[0][0] : d.first_seen;
    const last = d.history.length ? Math.max(...d.history.map((h) => h[1])) : d.last_seen || d.first_seen;
    const text = document.createElement('div');
    const sameDay = d.last_seen && dateTime(d.first_seen).slice(0, 10) === dateTime(d.last_seen).slice(0, 10);
    text.textContent = dateTime(d.first_seen) + ' → ' + (d.last_seen ? (sameDay ? clock(d.last_seen * 1000) : dateTime(d.last_seen)) : '–');
    box.appendChild(text);
    if (d.history.length > 0) {
      const bar = document.createElement('div');
      bar.className = 'onoff';
      const whole = Math.max(1, last - first);
      for (const [on, off] of d.history) {
        const seg = document.createElement('i');
        seg.style.left = ((on - first) * 100) / whole + '%';
        seg.style.width = Math.max(1, ((off - on) * 100) / whole) + '%';
        seg.title = dateTime(on) + ' – ' + dateTime(off);
        bar.appendChild(seg);
      }
      bar.title = d.history.length + ' on-period(s) since ' + dateTime(first);
      box.appendChild(bar);
    }
    return box;
  }

  function renderDevices() {
    const nowMs = Date.now();
    const chosen = selectedSensor();
    const list = devices.filter((d) => !chosen || d.sensor === chosen);
    const body = document.querySelector('#devices tbody');
    const rows = list.map((d) => {
      const tr = document.createElement('tr');
      const alive = d.state === 'active';
      tr.className = alive ? 'active' : 'ended';
      tr.dataset.class = d.class;
      tr.dataset.sensor = d.sensor;
      const name = cell(tr, '', 'cls');
      const label = document.createElement('b');
      label.textContent = d.label;
      const raw = document.createElement('small');
      raw.textContent = d.class;
      name.append(label, raw);
      cell(tr, d.sensor, 'sensor');
      cell(tr, d.strongest_sensor ? d.strongest_sensor + ' (' + d.strongest_dbm.toFixed(0) + ' dBm)' : '–');
      cell(tr, where(d), '', d.bins ? 'bins ' + d.bins[0] + '–' + d.bins[2] + ' of the ' + d.subband_mhz + ' MHz capture' : '');
      cell(tr, channelList(d.wifi_channels));
      cell(tr, d.power_dbm === null ? '–' : d.power_dbm.toFixed(1) + ' dBm');
      cell(tr, d.duty === null ? '–' : Math.round(d.duty * 100) + ' % ' + (d.duty_measured ? 'measured' : 'typical'));
      const impact = d.impact === null ? '–' : d.impact === 0 ? 'none' : '−' + d.impact + ' on ch ' + d.impact_channel;
      cell(tr, impact, d.impact >= 50 ? 'q-poor' : d.impact >= 20 ? 'q-fair' : '');
      cell(tr, '').appendChild(timeline(d));
      let state;
      if (!alive) {
        state = d.end === 'silent' ? 'ended (no news for 10 min)' : 'ended ' + clock(d.ended_ms - skewMs);
      } else {
        const quiet = (nowMs - (d.updated_ms - skewMs)) / 1000;
        state = quiet > STALE_MS / 1000 ? 'active · no news for ' + span(quiet) : 'active, ' + span(d.duration_s);
      }
      cell(tr, state, alive ? 'state state-active' : 'state');
      return tr;
    });
    body.replaceChildren(...rows);
    document.getElementById('no-devices').hidden = rows.length > 0;
  }

  function renderQuality() {
    const chosen = selectedSensor();
    const names = chosen ? [chosen] : knownSensors();
    const head = document.querySelector('#quality thead');
    const hr = document.createElement('tr');
    cell(hr, 'Sensor');
    for (let ch = 1; ch <= 13; ch++) cell(hr, 'ch ' + ch);
    head.replaceChildren(hr);
    const rows = names.map((name) => {
      const tr = document.createElement('tr');
      tr.dataset.sensor = name;
      cell(tr, name, 'sensor');
      for (let ch = 1; ch <= 13; ch++) {
        const q = quality.find((x) => x.sensor === name && x.channel === ch);
        if (!q) {
          cell(tr, '–');
          continue;
        }
        const tip = Math.round(q.airtime_lost * 100) + ' % of airtime held by stronger devices; worst SINR loss ' + q.worst_sinr_loss_db + ' dB';
        cell(tr, String(q.quality), 'q ' + qualityClass(q.quality), tip);
      }
      return tr;
    });
    document.querySelector('#quality tbody').replaceChildren(...rows);
    const nowMs = Date.now();
    document.getElementById('sensors').textContent = sensors
      .map((s) => {
        const quiet = nowMs - (s.last_heard_ms - skewMs);
        let state = s.status === 'offline' ? 'offline' : quiet > STALE_MS ? 'no data for ' + span(quiet / 1000) : 'live';
        return s.name + ' (' + s.source + ', ' + state + ')';
      })
      .join(' · ');
  }

  function renderSensorPicker() {
    const select = document.getElementById('sensor');
    const names = knownSensors();
    const have = Array.from(select.options).map((o) => o.value).filter((v) => v);
    if (names.join('\n') === have.join('\n')) return;
    const keep = select.value;
    const all = document.createElement('option');
    all.value = '';
    all.textContent = 'All sensors (' + names.length + ')';
    const options = [all].concat(
      names.map((n) => {
        const o = document.createElement('option');
        o.value = n;
        o.textContent = n;
        return o;
      })
    );
    select.replaceChildren(...options);
    select.value = names.includes(keep) ? keep : '';
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

  // Frequency (MHz) of the left edge of band-view bin b.
  function bandBinMhz(b) {
    return 2412 - (CH_BINS / 2) * BIN_MHZ + b / BINS_PER_MHZ;
  }

  function activeFixed(sensor) {
    return devices.filter((d) => d.sensor === sensor && d.state === 'active' && d.band_mhz);
  }

  function activeHoppers(sensor) {
    return devices.filter((d) => d.sensor === sensor && d.state === 'active' && d.kind === 'hopper');
  }

  // Matches the canvas's pixels to its size on screen.
  function fitCanvas(canvas, aspect) {
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(300, Math.round(canvas.clientWidth * ratio));
    const height = Math.round(width * aspect);
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    return ratio;
  }

  // The spectrum plot's margins (px), frequency span (MHz) and power span (dBm).
  const SPECTRUM_PLOT = { left: 40, right: 10, top: 26, bottom: 24, fLow: 2400, fHigh: 2474, dLow: -110, dHigh: -20 };

  function drawSpectrum() {
    const sensor = plotSensor();
    document.getElementById('spectrum-hint').textContent =
      'latest average per channel visit, dBm' + (sensor ? ' · sensor ' + sensor : '');
    const canvas = document.getElementById('spectrum');
    const ratio = fitCanvas(canvas, 0.42);
    const ctx = canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    const W = canvas.width / ratio;
    const H = canvas.height / ratio;
    const { left, right, top, bottom, fLow, fHigh, dLow, dHigh } = SPECTRUM_PLOT;
    const x = (f) => left + ((f - fLow) * (W - left - right)) / (fHigh - fLow);
    const y = (d) => top + ((dHigh - d) * (H - top - bottom)) / (dHigh - dLow);
    ctx.clearRect(0, 0, W, H);
    ctx.font = '11px system-ui, sans-serif';
    // Devices first, under the traces: their bands shaded and named.
    ctx.textAlign = 'center';
    for (const d of activeFixed(sensor)) {
      ctx.fillStyle = 'rgba(255, 123, 114, 0.16)';
      ctx.fillRect(x(d.band_mhz[0]), top, x(d.band_mhz[1]) - x(d.band_mhz[0]), H - top - bottom);
      ctx.fillStyle = '#ff7b72';
      ctx.fillText(d.label, x(d.freq_mhz), top - 4);
    }
    const hoppers = activeHoppers(sensor);
    if (hoppers.length) {
      ctx.textAlign = 'left';
      ctx.fillStyle = '#f778ba';
      ctx.fillText('hopping over the band: ' + hoppers.map((d) => d.label).join(', '), left + 4, top + 12);
    }
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
    const map = spectra.get(sensor) || new Map();
    for (const c of CHANNELS) {
      const rec = map.get(c.freq);
      if (!rec) continue;
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
    const map = spectra.get(plotSensor()) || new Map();
    legend.replaceChildren();
    for (const c of CHANNELS) {
      const rec = map.get(c.freq);
      const span = document.createElement('span');
      const swatch = document.createElement('i');
      swatch.style.background = c.color;
      span.appendChild(swatch);
      let label = 'ch ' + c.ch + ' (' + c.freq + ' MHz)';
      if (rec) label += ' peak ' + Math.round(Math.max(...rec.dbm)) + ' dBm';
      span.appendChild(document.createTextNode(label));
      legend.appendChild(span);
    }
  }

  // Seconds between two rows by the card's 32-bit microsecond clock, which
  // wraps every 71 minutes.
  function rowAge(newest, row) {
    if (!Number.isFinite(newest.cardUs) || !Number.isFinite(row.cardUs)) return (newest.time - row.time) / 1000;
    return (((newest.cardUs - row.cardUs) % 4294967296) + 4294967296) % 4294967296 / 1e6;
  }

  // The waterfall of the plotted sensor, with the time of its rows down the
  // left and the active fixed devices' bands marked.
  let waterfallImage = null;
  function drawWaterfall() {
    const sensor = plotSensor();
    const canvas = document.getElementById('waterfall');
    const ratio = fitCanvas(canvas, 0.4);
    const ctx = canvas.getContext('2d');
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    const W = canvas.width;
    const H = canvas.height;
    const axis = Math.round(64 * ratio);
    const top = Math.round(16 * ratio);
    ctx.fillStyle = '#0b0f1a';
    ctx.fillRect(0, 0, W, H);
    const w = waterfalls.get(sensor);
    const rows = w ? w.rows : [];
    canvas.dataset.rows = String(rows.length);
    if (rows.length) {
      if (!waterfallImage) waterfallImage = document.createElement('canvas');
      waterfallImage.width = BAND_BINS;
      waterfallImage.height = WATERFALL_ROWS;
      const ictx = waterfallImage.getContext('2d');
      const image = ictx.createImageData(BAND_BINS, WATERFALL_ROWS);
      rows.forEach((row, r) => {
        for (let b = 0; b < BAND_BINS; b++) {
          const v = row.values[b];
          const rgb = v === null ? [11, 15, 26] : heatColor(v);
          const p = (r * BAND_BINS + b) * 4;
          image.data[p] = rgb[0];
          image.data[p + 1] = rgb[1];
          image.data[p + 2] = rgb[2];
          image.data[p + 3] = 255;
        }
      });
      ictx.putImageData(image, 0, 0);
      ctx.imageSmoothingEnabled = false;
      ctx.drawImage(waterfallImage, 0, 0, BAND_BINS, WATERFALL_ROWS, axis, top, W - axis, H - top);
    }
    // Time axis: how long before the newest row a row was measured, by the
    // card's clock (right for replays too), every 30 pixels or so.
    const rowPx = (H - top) / WATERFALL_ROWS;
    ctx.font = Math.round(10 * ratio) + 'px system-ui, sans-serif';
    ctx.fillStyle = '#7d8590';
    ctx.textAlign = 'right';
    const every = Math.max(1, Math.round((30 * ratio) / rowPx));
    for (let r = 0; r < rows.length; r += every) {
      const py = top + r * rowPx;
      ctx.fillRect(axis - 4 * ratio, py, 4 * ratio, 1);
      ctx.fillText(r === 0 ? clock(rows[0].time) : '−' + rowAge(rows[0], rows[r]).toFixed(1) + ' s', axis - 6 * ratio, py + 9 * ratio);
    }
    if (rows.length) {
      const age = (Date.now() - rows[0].receivedMs) / 1000;
      ctx.textAlign = 'right';
      ctx.fillText('newest row ' + clock(rows[0].time) + (age > STALE_MS / 1000 ? ', no data for ' + span(age) : ''), W, top - 4 * ratio);
    }
    // Device markers: band edges down the waterfall, names above it.
    const xOf = (mhz) => axis + ((mhz - bandBinMhz(0)) * BINS_PER_MHZ * (W - axis)) / BAND_BINS;
    ctx.strokeStyle = 'rgba(255,255,255,0.7)';
    ctx.setLineDash([4 * ratio, 4 * ratio]);
    ctx.textAlign = 'center';
    for (const d of activeFixed(sensor)) {
      for (const edge of d.band_mhz) {
        ctx.beginPath();
        ctx.moveTo(xOf(edge), top);
        ctx.lineTo(xOf(edge), H);
        ctx.stroke();
      }
      ctx.fillStyle = '#ff7b72';
      ctx.fillText(d.label, xOf(d.freq_mhz), top - 4 * ratio);
    }
    ctx.setLineDash([]);
    document.getElementById('waterfall-hint').textContent =
      'one row per channel visit, newest on top, seconds before it at left' + (sensor ? ' · sensor ' + sensor : '');
  }

  function drawWaterfallAxis() {
    const axis = document.getElementById('waterfall-axis');
    axis.replaceChildren();
    CHANNELS.forEach((c, i) => {
      const label = document.createElement('span');
      // The canvas's left 64 px carry the time axis.
      label.style.left = 'calc(64px + (100% - 64px) * ' + (bandOffset(c.freq) + CH_BINS / 2) / BAND_BINS + ')';
      label.style.color = c.color;
      // 2437 and 2442 sit close together: one label above the other.
      label.className = i % 2 ? 'low' : 'high';
      label.textContent = c.freq + ' MHz';
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

  function renderUtil() {
    const grid = document.getElementById('util');
    const nowMs = Date.now();
    const map = utils.get(plotSensor()) || new Map();
    const cards = CHANNELS.map((c) => {
      const util = map.get(c.freq);
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
    document.getElementById('no-util').hidden = Array.from(utils.values()).some((m) => m.size > 0 || m.latest);
  }

  function renderStatus() {
    const quiet = Date.now() - lastEventMs;
    const el = document.getElementById('staleness');
    if (lastEventMs === 0) el.textContent = 'no data yet';
    else if (quiet > STALE_MS) el.textContent = 'no data for ' + span(quiet / 1000);
    else el.textContent = 'live';
    el.className = 'staleness ' + (lastEventMs !== 0 && quiet <= STALE_MS ? 'fresh' : 'stale');
    let text = eventsSeen + ' events';
    if (stats) {
      text += ' · ' + stats.malformed + ' malformed';
      if (stats.mqtt_messages) text += ' · ' + stats.mqtt_messages + ' MQTT messages';
      if (stats.sse_dropped > 0) text += ' · ' + stats.sse_dropped + ' dropped for slow pages';
    }
    document.getElementById('counters').textContent = text;
  }

  function renderAll() {
    renderSensorPicker();
    renderStatus();
    renderQuality();
    renderDevices();
    drawSpectrum();
    drawLegend();
    drawWaterfall();
    renderUtil();
  }

  // Bursts of events (a replay) are drawn once per frame.
  const scheduleRender = coalesced((run) => requestAnimationFrame(run), renderAll);

  function pollStats() {
    fetchJson('/api/stats')
      .then((s) => {
        stats = s;
        renderStatus();
      })
      .catch(() => {});
  }

  document.getElementById('tz').textContent = TIME_ZONE;
  document.getElementById('sensor').addEventListener('change', renderAll);
  drawWaterfallAxis();
  renderAll();
  connect();
  setInterval(renderAll, 1000);
  setInterval(() => loadDevices().then(renderAll).catch(() => {}), 5000);
  setInterval(pollStats, 5000);
  pollStats();

  // For tests and the curious: a peek at the state.
  window.tessaronUi = {
    deviceCount: () => devices.length,
    sensors: () => knownSensors(),
    waterfallRows: () => {
      const w = waterfalls.get(plotSensor());
      return w ? w.rows.length : 0;
    },
    // When the newest waterfall row arrived (browser milliseconds).
    waterfallNewest: () => {
      const w = waterfalls.get(plotSensor());
      return w && w.rows.length ? w.rows[0].receivedMs : 0;
    },
  };
})();
