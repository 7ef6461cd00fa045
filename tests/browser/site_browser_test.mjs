// The site-wide view: two daemons, each replaying a different scenario under
// its own sensor name, publish to one real mosquitto broker; tessaron-ui
// follows the broker. The broker must carry both sensors' device records
// (read with mosquitto_sub), /metrics must count them, and the page in a
// headless chromium must show both sensors, side by side and one at a time.
//
// Environment (ctest sets it): as ui_browser_test.mjs, plus MOSQUITTO and
// MOSQUITTO_SUB.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {
  check, runBrowserTest,
  freeUdpPort, generateScenario, httpGet, log, makeWorkDir, openBrowser, replay,
  requirePrograms, sourceDir, startUi, stopChild, waitForText,
} from './harness.mjs';

const artefactDir = process.env.TESSARON_ARTEFACT_DIR || path.join(os.tmpdir(), 'tessaron-browser');
const mosquitto = process.env.MOSQUITTO || '/usr/sbin/mosquitto';
const mosquittoSub = process.env.MOSQUITTO_SUB || '/usr/bin/mosquitto_sub';
function freeTcpPort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const port = server.address().port;
      server.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.once('connect', () => {
      socket.destroy();
      resolve(true);
    });
    socket.once('error', () => resolve(false));
  });
}

async function startBroker(workDir) {
  const port = await freeTcpPort();
  const config = path.join(workDir, 'broker.conf');
  fs.writeFileSync(config, `listener ${port} 127.0.0.1\nallow_anonymous true\n`);
  const child = spawn(mosquitto, ['-c', config], { stdio: 'ignore' });
  for (let i = 0; i < 500; i++) {
    if (await canConnect(port)) return { child, port };
    await new Promise((r) => setTimeout(r, 10));
  }
  throw new Error('mosquitto did not start');
}

// Everything the broker carries under tessaron/, as "topic payload" lines.
function subscribe(port) {
  // Line-buffered, so that each message can be read while it runs.
  const child = spawn('stdbuf', ['-oL', mosquittoSub, '-h', '127.0.0.1', '-p', String(port), '-v', '-t', 'tessaron/#'],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const sub = { child, text: '' };
  child.stdout.on('data', (chunk) => {
    sub.text += chunk;
  });
  return sub;
}

function deviceRecords(text, sensor) {
  const prefix = `tessaron/${sensor}/devices `;
  return text.split('\n').filter((l) => l.startsWith(prefix)).map((l) => {
    try {
      return JSON.parse(l.slice(prefix.length));
    } catch {
      return null;
    }
  });
}

async function main() {
  requirePrograms(['ui', 'daemon', 'sim', 'chromium']);
  fs.mkdirSync(artefactDir, { recursive: true });
  const workDir = makeWorkDir();
  const children = [];
  let browser = null;
  try {
    const sensors = { kitchen: 'bt-voice-microwave', office: 'video-sender-bt-voice' };
    const captures = {};
    for (const [sensor, scenario] of Object.entries(sensors)) {
      captures[sensor] = generateScenario(scenario, workDir);
      if (!check(captures[sensor] !== null, `the simulator writes ${scenario}`)) return;
    }
    const broker = await startBroker(workDir);
    children.push(broker.child);
    const sub = subscribe(broker.port);
    children.push(sub.child);
    const ui = await startUi(0, ['--mqtt', `127.0.0.1:${broker.port}`]);
    children.push(ui.child);
    browser = await openBrowser(workDir);
    const page = browser.page;
    const pageErrors = [];
    page.on('pageerror', (err) => pageErrors.push(String(err)));
    await page.goto(`http://127.0.0.1:${ui.httpPort}/`);
    check(await waitForText(page, '#conn', 'connected', 15000), 'the page connects');
    await new Promise((r) => setTimeout(r, 300)); // the subscriptions settle

    // The daemons' UI datagrams go nowhere: the page hears them through MQTT.
    const nowhere = await freeUdpPort();
    for (const sensor of Object.keys(sensors)) {
      const dir = path.join(workDir, sensor);
      fs.mkdirSync(dir);
      check(replay(captures[sensor], nowhere, dir, ['--sensor', sensor, '--mqtt', `127.0.0.1:${broker.port}`]),
        `the ${sensor} daemon replays ${sensors[sensor]} to the broker`);
    }

    for (let i = 0; i < 50 && !/tessaron\/office\/status offline/.test(sub.text); i++) {
      await new Promise((r) => setTimeout(r, 100));
    }
    for (const sensor of Object.keys(sensors)) {
      const records = deviceRecords(sub.text, sensor);
      check(records.length > 0 && records.every((r) => r && r.type === 'device' && r.sensor === sensor &&
        typeof r.class === 'string' && typeof r.first_seen === 'number' && Array.isArray(r.wifi_channels)),
      `the broker carries ${records.length} device records of ${sensor}`);
    }
    check(/tessaron\/kitchen\/devices .*"class":"Microwave_Oven"/.test(sub.text),
      'the kitchen sensor publishes its microwave oven');
    check(/tessaron\/office\/devices .*"hopper":false/.test(sub.text),
      'the office sensor publishes its fixed-frequency emitter');
    check(/tessaron\/kitchen\/channels\/24\d\d \{"type":"spectrum"/.test(sub.text),
      'spectra go to tessaron/<sensor>/channels/<mhz>');
    check(/tessaron\/office\/status offline/.test(sub.text), 'a daemon that stops says offline');

    let metrics = '';
    for (let i = 0; i < 50 && !/sensor="office"/.test(metrics); i++) {
      metrics = await httpGet(ui.httpPort, '/metrics');
      await new Promise((r) => setTimeout(r, 100));
    }
    check(/tessaron_active_devices\{sensor="kitchen",class="Microwave_Oven"\} 1/.test(metrics) &&
      /tessaron_active_devices\{sensor="office",class="\w+"\} [1-9]/.test(metrics) &&
      /tessaron_device_announcements_total\{sensor="office",class="\w+"\} [1-9]/.test(metrics),
    '/metrics counts both sensors\' devices');
    check(/tessaron_channel_air_quality\{sensor="office",channel="5"\} \d+/.test(metrics),
      '/metrics grades the channels of each sensor');

    check(await waitForText(page, '#devices td.sensor', 'office', 10000) &&
      await waitForText(page, '#devices td.sensor', 'kitchen', 10000), 'the device table has a sensor column with both');
    const options = await page.$$eval('#sensor option', (os) => os.map((o) => o.value));
    check(options.includes('kitchen') && options.includes('office'), 'the sensor selector offers both');
    const qualityRows = await page.$$eval('#quality tbody tr', (trs) => trs.map((tr) => tr.dataset.sensor));
    check(qualityRows.includes('kitchen') && qualityRows.includes('office'), 'air quality is given per sensor');
    const located = await page.$$eval('#devices tbody tr', (trs) => trs.map((tr) => tr.cells[2].textContent));
    check(located.every((t) => /^(kitchen|office) \(-\d+ dBm\)$|^–$/.test(t)) && located.some((t) => t !== '–'),
      'each active device names the sensor hearing it strongest');
    await page.waitForTimeout(1200);
    const shot = path.join(artefactDir, 'site-browser.png');
    await page.screenshot({ path: shot, fullPage: true });
    if (process.env.TESSARON_DOCS_SHOTS) {
      await page.screenshot({ path: path.join(sourceDir, 'docs/site-screenshot.png'), fullPage: true });
    }
    log('screenshot ' + shot);

    await page.selectOption('#sensor', 'office');
    await page.waitForTimeout(300);
    const shown = await page.$$eval('#devices tbody tr', (trs) => trs.map((tr) => tr.dataset.sensor));
    check(shown.length > 0 && shown.every((s) => s === 'office'), 'choosing a sensor shows its devices only');
    check(/sensor office/.test(await page.textContent('#spectrum-hint')), 'the plots follow the chosen sensor');
    await page.screenshot({ path: path.join(artefactDir, 'site-browser-office.png'), fullPage: true });
    check(pageErrors.length === 0,
      'no script errors on the page' + (pageErrors.length ? ': ' + pageErrors.join('; ') : ''));
  } finally {
    if (browser) await browser.context.close();
    for (const child of children.reverse()) await stopChild(child);
    fs.rmSync(workDir, { recursive: true, force: true });
  }
}

runBrowserTest('site-browser', main);
