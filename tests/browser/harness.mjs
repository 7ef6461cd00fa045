// Shared pieces of the browser checks: starting tessaron-ui, the daemon and
// the simulator as child processes, and a headless chromium on the page.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import dgram from 'node:dgram';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const env = process.env;
export const sourceDir =
  env.TESSARON_SOURCE_DIR || path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const buildDir = env.TESSARON_BUILD_DIR || path.join(sourceDir, 'build');

// Programs from the environment (ctest sets them) or the default build tree.
export const programs = {
  ui: env.TESSARON_UI || path.join(buildDir, 'tools/tessaron_ui/tessaron-ui'),
  daemon: env.TESSARON_BIN || path.join(buildDir, 'tessaron'),
  sim: env.TESSARON_SIM || path.join(buildDir, 'tools/sim/tessaron-sim'),
  chromium: env.CHROMIUM || '/usr/bin/chromium',
};

const children = new Set();

export function log(...args) {
  console.log('[ui-browser]', ...args);
}

export function requirePrograms(names) {
  for (const name of names) {
    if (!fs.existsSync(programs[name])) {
      throw new Error(`missing ${name} program at ${programs[name]}`);
    }
  }
}

export function makeWorkDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'tessaron-browser-'));
}

// Kills whatever is still running; for the end of a run and its time guard.
export function killChildren(signal = 'SIGTERM') {
  for (const child of children) child.kill(signal);
}

function track(child) {
  children.add(child);
  child.on('exit', () => children.delete(child));
  return child;
}

function exited(child) {
  return child.exitCode !== null || child.signalCode !== null;
}

// Resolves when the child has ended (at once if it already has).
export function stopChild(child, signal = 'SIGTERM') {
  return new Promise((resolve) => {
    if (exited(child)) {
      resolve();
      return;
    }
    child.once('exit', () => resolve());
    child.kill(signal);
  });
}

// Starts tessaron-ui on a free UDP port and the given HTTP port (0: any) and
// resolves with its ports once it has printed them.
export function startUi(httpPort = 0, extraArgs = []) {
  return new Promise((resolve, reject) => {
    const child = track(spawn(programs.ui, [
      '--udp', '127.0.0.1:0',
      '--http', `127.0.0.1:${httpPort}`,
      '--ui-dir', path.join(sourceDir, 'tools/ui'),
      ...extraArgs,
    ], { stdio: ['ignore', 'pipe', 'pipe'] }));
    let out = '';
    let started = false;
    const onExit = (code) => fail(`tessaron-ui exited with ${code}`);
    const fail = (why) => {
      clearTimeout(timer);
      reject(new Error(why + ': ' + out));
    };
    const timer = setTimeout(() => fail('tessaron-ui did not start'), 10000);
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const udp = /udp 127\.0\.0\.1:(\d+)/.exec(out);
      const http = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(out);
      if (!started && udp && http) {
        started = true;
        clearTimeout(timer);
        child.removeListener('exit', onExit);
        resolve({ child, udpPort: Number(udp[1]), httpPort: Number(http[1]) });
      }
    });
    child.stderr.on('data', (chunk) => process.stderr.write(chunk));
    child.on('exit', onExit);
  });
}

export function generateScenario(name, workDir, extra = []) {
  const pcap = path.join(workDir, name + '.pcap');
  const result = spawnSync(programs.sim, [
    'generate', '--scenario', name, '--out', pcap, '--truth', path.join(workDir, name + '.json'),
    ...extra,
  ], { encoding: 'utf8', timeout: 120000 });
  if (result.status !== 0) {
    log('simulator failed: ' + result.stderr);
    return null;
  }
  return pcap;
}

function daemonFiles(workDir) {
  return [
    path.join(sourceDir, 'data/signatures.txt'),
    path.join(workDir, 'output.log'),
    path.join(workDir, 'energy.log'),
  ];
}

// The daemon analyses the capture and sends its events to the UI's UDP port.
export function replay(pcap, udpPort, workDir, extraArgs = []) {
  const result = spawnSync(programs.daemon, [
    '--replay', pcap, '--ui', `127.0.0.1:${udpPort}`, '--no-card-control', ...extraArgs,
    ...daemonFiles(workDir),
  ], { cwd: workDir, encoding: 'utf8', maxBuffer: 256 << 20, timeout: 120000 });
  const summary = (result.stderr || '').split('\n').filter((l) => /Replay:|Active devices|^  /.test(l));
  log('daemon replay exit ' + result.status + '\n  ' + summary.join('\n  '));
  return result.status === 0;
}

// A UDP port free right now on loopback, for the simulator to meet the daemon.
export function freeUdpPort() {
  return new Promise((resolve, reject) => {
    const socket = dgram.createSocket('udp4');
    socket.once('error', reject);
    socket.bind(0, '127.0.0.1', () => {
      const port = socket.address().port;
      socket.close(() => resolve(port));
    });
  });
}

// The daemon live on a loopback port, stepping a stand-in card: cardShell
// runs each card command instead of a shell.
export function startLiveDaemon(listenPort, udpPort, cardShell, workDir) {
  return track(spawn(programs.daemon, [
    '--listen', `127.0.0.1:${listenPort}`, '--ui', `127.0.0.1:${udpPort}`,
    '--card-shell', cardShell, ...daemonFiles(workDir),
  ], { cwd: workDir, stdio: 'ignore' }));
}

// The simulator sends a scenario in real time to a live daemon.
export function sendScenario(name, port, seconds) {
  return spawnSync(programs.sim, [
    'send', '--scenario', name, '--to', `127.0.0.1:${port}`, '--duration', String(seconds),
  ], { encoding: 'utf8', timeout: (seconds + 60) * 1000 }).status === 0;
}

// Fetches a path of tessaron-ui's HTTP server as text.
export async function httpGet(port, urlPath) {
  const res = await fetch(`http://127.0.0.1:${port}${urlPath}`);
  return res.text();
}

export async function openBrowser(workDir) {
  const context = await chromium.launchPersistentContext(path.join(workDir, 'profile'), {
    executablePath: programs.chromium,
    headless: true,
    viewport: { width: 1280, height: 900 },
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  const page = context.pages()[0] || (await context.newPage());
  return { context, page };
}

export async function waitForText(page, selector, text, timeoutMs) {
  try {
    await page.waitForFunction(
      ([sel, want]) => Array.from(document.querySelectorAll(sel)).some((e) => e.textContent.includes(want)),
      [selector, text], { timeout: timeoutMs });
    return true;
  } catch {
    return false;
  }
}

// Pixels of the waterfall that something was drawn into (neither
// transparent nor the page's own background colour).
export function paintedPixels(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById('waterfall');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let painted = 0;
    for (let i = 0; i < data.length; i += 4) {
      const blank = data[i + 3] === 0 || (data[i] === 11 && data[i + 1] === 15 && data[i + 2] === 26);
      if (!blank) painted++;
    }
    return painted;
  });
}

// The tally of a browser test: each check logs "ok" or "FAIL" and counts.
let passed = 0;
let failed = 0;

export function check(condition, what) {
  if (condition) {
    passed++;
    log('ok   ' + what);
  } else {
    failed++;
    log('FAIL ' + what);
  }
  return condition;
}

// Runs a browser test's main under a time guard, kills what it left
// running, prints the tally and exits with its verdict.
export function runBrowserTest(name, main, limitMs = 240000) {
  const guard = setTimeout(() => {
    log('FAIL the test took too long');
    killChildren('SIGKILL');
    process.exit(1);
  }, limitMs);
  main()
    .catch((err) => {
      failed++;
      log('FAIL ' + (err && err.stack ? err.stack : err));
    })
    .finally(() => {
      clearTimeout(guard);
      killChildren();
      console.log(`${name}: ${passed} passed, ${failed} failed`);
      process.exit(failed === 0 && passed > 0 ? 0 : 1);
    });
}
