// The live page in a real headless chromium: a Bluetooth voice link beside a
// running microwave oven is simulated, replayed through the daemon into
// tessaron-ui, and the page must show both devices and draw its waterfall.
// Then tessaron-ui is restarted and the page must reconnect by itself.
//
// Environment (set by ctest): TESSARON_UI, TESSARON_BIN, TESSARON_SIM,
// TESSARON_SOURCE_DIR, TESSARON_ARTEFACT_DIR (screenshots), CHROMIUM.
// TESSARON_SCREENSHOT_OUT, when set, also receives the first screenshot.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const env = process.env;
const sourceDir = env.TESSARON_SOURCE_DIR || path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const artefactDir = env.TESSARON_ARTEFACT_DIR || path.join(os.tmpdir(), 'tessaron-browser');
const chromiumPath = env.CHROMIUM || '/usr/bin/chromium';
const BACKGROUND = [11, 15, 26];
const children = new Set();
let passed = 0;
let failed = 0;

function log(...args) {
  console.log('[ui-browser]', ...args);
}

function check(condition, what) {
  if (condition) {
    passed++;
    log('ok   ' + what);
  } else {
    failed++;
    log('FAIL ' + what);
  }
  return condition;
}

function need(name) {
  if (!env[name] || !fs.existsSync(env[name])) {
    throw new Error(`${name} must name an existing program (got '${env[name] || ''}')`);
  }
  return env[name];
}

// Starts tessaron-ui and resolves with its ports once it has printed them.
function startUi(uiBin, httpPort) {
  return new Promise((resolve, reject) => {
    const child = spawn(uiBin, [
      '--udp', '127.0.0.1:0',
      '--http', `127.0.0.1:${httpPort}`,
      '--ui-dir', path.join(sourceDir, 'tools/ui'),
    ], { stdio: ['ignore', 'pipe', 'pipe'] });
    children.add(child);
    let out = '';
    const timer = setTimeout(() => reject(new Error('tessaron-ui did not start: ' + out)), 10000);
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const udp = /udp 127\.0\.0\.1:(\d+)/.exec(out);
      const http = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(out);
      if (udp && http) {
        clearTimeout(timer);
        resolve({ child, udpPort: Number(udp[1]), httpPort: Number(http[1]) });
      }
    });
    child.stderr.on('data', (chunk) => process.stderr.write(chunk));
    child.on('exit', (code) => {
      children.delete(child);
      clearTimeout(timer);
      reject(new Error(`tessaron-ui exited with ${code}: ${out}`));
    });
  });
}

function stopUi(ui) {
  return new Promise((resolve) => {
    if (ui.child.exitCode !== null || ui.child.signalCode !== null) {
      resolve();
      return;
    }
    ui.child.removeAllListeners('exit');
    ui.child.on('exit', () => {
      children.delete(ui.child);
      resolve();
    });
    ui.child.kill('SIGTERM');
  });
}

// The daemon replays the capture into the UI's UDP port.
function replay(daemonBin, pcap, udpPort, workDir) {
  const result = spawnSync(daemonBin, [
    '--replay', pcap,
    '--ui', `127.0.0.1:${udpPort}`,
    '--no-card-control',
    path.join(sourceDir, 'data/signatures.txt'),
    path.join(workDir, 'output.log'),
    path.join(workDir, 'energy.log'),
  ], { cwd: workDir, encoding: 'utf8', maxBuffer: 256 << 20, timeout: 120000 });
  const summary = (result.stderr || '').split('\n').filter((l) => /Replay:|Active devices|^  /.test(l));
  log('daemon replay exit ' + result.status + '\n  ' + summary.join('\n  '));
  return result.status === 0;
}

async function waitForText(page, selector, text, timeoutMs) {
  try {
    await page.waitForFunction(
      ([sel, want]) => Array.from(document.querySelectorAll(sel)).some((e) => e.textContent === want),
      [selector, text], { timeout: timeoutMs });
    return true;
  } catch {
    return false;
  }
}

// Pixels of the waterfall that something was drawn into.
function paintedPixels(page) {
  return page.evaluate((bg) => {
    const canvas = document.getElementById('waterfall');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let painted = 0;
    for (let i = 0; i < data.length; i += 4) {
      const blank = data[i + 3] === 0 ||
        (data[i] === bg[0] && data[i + 1] === bg[1] && data[i + 2] === bg[2]);
      if (!blank) painted++;
    }
    return painted;
  }, BACKGROUND);
}

async function main() {
  const uiBin = need('TESSARON_UI');
  const daemonBin = need('TESSARON_BIN');
  if (!env.TESSARON_SIM || !fs.existsSync(env.TESSARON_SIM)) {
    throw new Error('TESSARON_SIM (tessaron-sim) is needed to make the scenario');
  }
  fs.mkdirSync(artefactDir, { recursive: true });
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tessaron-browser-'));
  try {
    const pcap = path.join(workDir, 'bt-voice-microwave.pcap');
    const gen = spawnSync(env.TESSARON_SIM, [
      'generate', '--scenario', 'bt-voice-microwave',
      '--out', pcap, '--truth', path.join(workDir, 'truth.json'),
    ], { encoding: 'utf8', timeout: 120000 });
    if (!check(gen.status === 0, 'the simulator writes the bt-voice-microwave capture')) {
      log(gen.stderr);
      return;
    }

    let ui = await startUi(uiBin, 0);
    const url = `http://127.0.0.1:${ui.httpPort}/`;
    log('tessaron-ui at ' + url);
    const context = await chromium.launchPersistentContext(path.join(workDir, 'profile'), {
      executablePath: chromiumPath,
      headless: true,
      viewport: { width: 1280, height: 900 },
      args: [
        '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
      ],
    });
    try {
      const page = context.pages()[0] || (await context.newPage());
      const pageErrors = [];
      page.on('pageerror', (err) => pageErrors.push(String(err)));
      await page.goto(url);
      check(await waitForText(page, '#conn', 'live', 15000), 'the page connects to the event stream');

      check(replay(daemonBin, pcap, ui.udpPort, workDir), 'the daemon replays the capture');
      check(await waitForText(page, '#devices td.cls', 'Bluetooth_Streaming', 20000),
        'the device table shows Bluetooth_Streaming');
      check(await waitForText(page, '#devices td.cls', 'Microwave_Oven', 20000),
        'the device table shows Microwave_Oven');
      await page.waitForTimeout(1500); // let the durations tick once
      const painted = await paintedPixels(page);
      const rows = await page.evaluate(() => window.tessaronUi.waterfallRows());
      check(painted > 5000 && rows >= 5, `the waterfall has drawn (${rows} rows, ${painted} pixels)`);
      const legend = await page.textContent('#legend');
      check(/peak -\d+ dBm/.test(legend), 'the spectrum legend shows channel peaks');
      const shot = path.join(artefactDir, 'ui-browser.png');
      await page.screenshot({ path: shot, fullPage: true });
      log('screenshot ' + shot);
      if (env.TESSARON_SCREENSHOT_OUT) {
        await page.screenshot({ path: env.TESSARON_SCREENSHOT_OUT, fullPage: true });
      }

      // A restarted server: the page must notice, come back by itself and
      // follow the new server's events.
      const httpPort = ui.httpPort;
      await stopUi(ui);
      check(await waitForText(page, '#conn', 'reconnecting…', 15000),
        'the page notices the server going away');
      ui = await startUi(uiBin, httpPort);
      check(await waitForText(page, '#conn', 'live', 20000), 'the page reconnects to the restarted server');
      replay(daemonBin, pcap, ui.udpPort, workDir);
      check(await waitForText(page, '#devices td.cls', 'Bluetooth_Streaming', 20000),
        'devices arrive again after the restart');
      await page.screenshot({ path: path.join(artefactDir, 'ui-browser-after-restart.png'), fullPage: true });
      check(pageErrors.length === 0, 'no script errors on the page' +
        (pageErrors.length ? ': ' + pageErrors.join('; ') : ''));
    } finally {
      await context.close();
      await stopUi(ui).catch(() => {});
    }
  } finally {
    fs.rmSync(workDir, { recursive: true, force: true });
  }
}

const guard = setTimeout(() => {
  log('FAIL the test took too long');
  for (const child of children) child.kill('SIGKILL');
  process.exit(1);
}, 240000);

main()
  .catch((err) => {
    failed++;
    log('FAIL ' + (err && err.stack ? err.stack : err));
  })
  .finally(() => {
    clearTimeout(guard);
    for (const child of children) child.kill('SIGTERM');
    console.log(`ui-browser: ${passed} passed, ${failed} failed`);
    process.exit(failed === 0 && passed > 0 ? 0 : 1);
  });
