// The live page in a real headless chromium. A Bluetooth voice link beside a
// running microwave oven is simulated and replayed through the daemon into
// tessaron-ui: the page must show both devices and draw its waterfall. Then
// tessaron-ui is restarted and the page must come back by itself. Last, the
// daemon runs live on simulated samples, stepping a stand-in card whose
// survey texts must reach the utilisation panel.
//
// Environment (ctest sets it): TESSARON_UI, TESSARON_BIN, TESSARON_SIM,
// TESSARON_SOURCE_DIR, TESSARON_ARTEFACT_DIR (screenshots), CHROMIUM.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  generateScenario, killChildren, log, makeWorkDir, openBrowser, paintedPixels, replay,
  requirePrograms, sendScenario, startLiveDaemon, startUi, stopChild, waitForText, freeUdpPort,
} from './harness.mjs';

const artefactDir = process.env.TESSARON_ARTEFACT_DIR || path.join(os.tmpdir(), 'tessaron-browser');
let passed = 0;
let failed = 0;

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

// Stands in for the card's shell: channel changes and scans do nothing, the
// survey prints a text with a quote in it, as a driver's text may have.
const CARD_SHELL = `#!/bin/sh
case "$1" in
  *get_survey_stats*) printf 'stand-in survey\\nbusy "scan" 41 ms\\n' ;;
esac
exit 0
`;

async function main() {
  requirePrograms(['ui', 'daemon', 'sim', 'chromium']);
  fs.mkdirSync(artefactDir, { recursive: true });
  const workDir = makeWorkDir();
  let ui = null;
  let browser = null;
  try {
    const pcap = generateScenario('bt-voice-microwave', workDir);
    if (!check(pcap !== null, 'the simulator writes the bt-voice-microwave capture')) return;

    ui = await startUi(0);
    log(`tessaron-ui at http://127.0.0.1:${ui.httpPort}/`);
    browser = await openBrowser(workDir);
    const page = browser.page;
    const pageErrors = [];
    page.on('pageerror', (err) => pageErrors.push(String(err)));
    await page.goto(`http://127.0.0.1:${ui.httpPort}/`);
    check(await waitForText(page, '#conn', 'live', 15000), 'the page connects to the event stream');

    check(replay(pcap, ui.udpPort, workDir), 'the daemon replays the capture');
    check(await waitForText(page, '#devices td.cls', 'Bluetooth_Streaming', 20000),
      'the device table shows Bluetooth_Streaming');
    check(await waitForText(page, '#devices td.cls', 'Microwave_Oven', 20000),
      'the device table shows Microwave_Oven');
    await page.waitForTimeout(1500); // let the durations tick once
    const painted = await paintedPixels(page);
    const rows = await page.evaluate(() => window.tessaronUi.waterfallRows());
    check(painted > 5000 && rows >= 5, `the waterfall has drawn (${rows} rows, ${painted} pixels)`);
    check(/peak -\d+ dBm/.test(await page.textContent('#legend')),
      'the spectrum legend shows channel peaks');
    const shot = path.join(artefactDir, 'ui-browser.png');
    await page.screenshot({ path: shot, fullPage: true });
    log('screenshot ' + shot);

    // A restarted server: the page must notice and come back by itself.
    const httpPort = ui.httpPort;
    await stopChild(ui.child);
    check(await waitForText(page, '#conn', 'reconnecting', 15000),
      'the page notices the server going away');
    ui = await startUi(httpPort);
    check(await waitForText(page, '#conn', 'live', 20000), 'the page reconnects to the restarted server');

    // The daemon live, stepping the stand-in card while simulated samples
    // arrive: its survey texts reach the utilisation panel.
    const shell = path.join(workDir, 'card-shell');
    fs.writeFileSync(shell, CARD_SHELL, { mode: 0o755 });
    const listenPort = await freeUdpPort();
    const daemon = startLiveDaemon(listenPort, ui.udpPort, shell, workDir);
    const sent = sendScenario('bt-voice-microwave', listenPort, 4);
    check(sent, 'the simulator sends samples to the live daemon');
    check(await waitForText(page, '.util-card pre', 'busy "scan" 41 ms', 15000),
      'a survey text reaches the utilisation panel');
    const waterfallAfter = await page.evaluate(() => window.tessaronUi.waterfallRows());
    check(waterfallAfter > rows, 'the live daemon\'s spectra keep the waterfall going');
    await stopChild(daemon);
    await page.screenshot({ path: path.join(artefactDir, 'ui-browser-live.png'), fullPage: true });
    check(pageErrors.length === 0,
      'no script errors on the page' + (pageErrors.length ? ': ' + pageErrors.join('; ') : ''));
  } finally {
    if (browser) await browser.context.close();
    if (ui) await stopChild(ui.child);
    fs.rmSync(workDir, { recursive: true, force: true });
  }
}

const guard = setTimeout(() => {
  log('FAIL the test took too long');
  killChildren('SIGKILL');
  process.exit(1);
}, 240000);

main()
  .catch((err) => {
    failed++;
    log('FAIL ' + (err && err.stack ? err.stack : err));
  })
  .finally(() => {
    clearTimeout(guard);
    killChildren();
    console.log(`ui-browser: ${passed} passed, ${failed} failed`);
    process.exit(failed === 0 && passed > 0 ? 0 : 1);
  });
