// The live page in a real headless chromium. A Bluetooth voice link beside a
// running microwave oven is simulated and replayed through the daemon into
// tessaron-ui: the page must name both devices readably, say which Wi-Fi
// channels they touch, how often they are on the air and what they cost,
// give their timeline with dates, grade every Wi-Fi channel, draw its
// waterfall with a time axis, and admit that no data has come since. Then
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
  check, runBrowserTest,
  generateScenario, log, makeWorkDir, openBrowser, paintedPixels, replay,
  requirePrograms, sendScenario, sourceDir, startLiveDaemon, startUi, stopChild, waitForText,
  freeUdpPort,
} from './harness.mjs';

const artefactDir = process.env.TESSARON_ARTEFACT_DIR || path.join(os.tmpdir(), 'tessaron-browser');
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
    // Stale after 3 s instead of 10, so the test need not wait long.
    await page.goto(`http://127.0.0.1:${ui.httpPort}/?stale_s=3`);
    check(await waitForText(page, '#conn', 'connected', 15000), 'the page connects to the event stream');

    check(replay(pcap, ui.udpPort, workDir), 'the daemon replays the capture');
    check(await waitForText(page, '#devices td.cls', 'Bluetooth audio link', 20000),
      'the device table names the Bluetooth voice link readably');
    check(await waitForText(page, '#devices td.cls', 'Microwave_Oven', 20000),
      'the device table shows the microwave oven with its class');
    const rowText = (cls) => page.evaluate((c) => {
      const tr = document.querySelector(`#devices tr[data-class="${c}"]`);
      return tr ? Array.from(tr.cells).map((td) => td.textContent) : [];
    }, cls);
    const bt = await rowText('Bluetooth_Streaming');
    const mwo = await rowText('Microwave_Oven');
    check(bt[4] === 'all (1–13)' && /hops/.test(bt[3]), 'a hopper touches every Wi-Fi channel: ' + bt[4]);
    check(/^\d+–\d+$/.test(mwo[4] || '') && /MHz/.test(mwo[3] || ''),
      `the oven's band and Wi-Fi channels are given: ${mwo[3]} / ${mwo[4]}`);
    check(/\d+ % (typical|measured)/.test(mwo[6] || '') && /on ch \d+|none/.test(mwo[7] || ''),
      `duty and air-quality impact are shown: ${mwo[6]} / ${mwo[7]}`);
    check(/\d{4}-\d\d-\d\d \d\d:\d\d:\d\d/.test(mwo[8] || '') &&
      (await page.textContent('#tz')).length > 0, 'the timeline has dates and the time zone');
    const grades = await page.$$eval('#quality tbody td.q', (tds) => tds.map((td) => Number(td.textContent)));
    check(grades.length === 13 && grades.every((q) => q >= 0 && q <= 100) && Math.min(...grades) < 100,
      'every Wi-Fi channel has an air-quality grade: ' + grades.join(' '));
    const painted = await paintedPixels(page);
    const rows = await page.evaluate(() => window.tessaronUi.waterfallRows());
    check(painted > 5000 && rows >= 5, `the waterfall has drawn (${rows} rows, ${painted} pixels)`);
    check(await waitForText(page, '#staleness', 'no data for', 10000),
      'the page says when no data has come for a while');
    check(/peak -\d+ dBm/.test(await page.textContent('#legend')),
      'the spectrum legend shows channel peaks');
    const shot = path.join(artefactDir, 'ui-browser.png');
    if (process.env.TESSARON_DOCS_SHOTS) {
      await page.screenshot({ path: path.join(sourceDir, 'docs/ui-screenshot.png'), fullPage: true });
    }
    await page.screenshot({ path: shot, fullPage: true });
    log('screenshot ' + shot);

    // A restarted server: the page must notice and come back by itself.
    const httpPort = ui.httpPort;
    await stopChild(ui.child);
    check(await waitForText(page, '#conn', 'reconnecting', 15000),
      'the page notices the server going away');
    ui = await startUi(httpPort);
    check(await waitForText(page, '#conn', 'connected', 20000), 'the page reconnects to the restarted server');

    // The daemon live, stepping the stand-in card while simulated samples
    // arrive: its survey texts reach the utilisation panel.
    const newestBefore = await page.evaluate(() => window.tessaronUi.waterfallNewest());
    const shell = path.join(workDir, 'card-shell');
    fs.writeFileSync(shell, CARD_SHELL, { mode: 0o755 });
    const listenPort = await freeUdpPort();
    const daemon = startLiveDaemon(listenPort, ui.udpPort, shell, workDir);
    const sent = sendScenario('bt-voice-microwave', listenPort, 4);
    check(sent, 'the simulator sends samples to the live daemon');
    check(await waitForText(page, '.util-card pre', 'busy "scan" 41 ms', 15000),
      'a survey text reaches the utilisation panel');
    const newestAfter = await page.evaluate(() => window.tessaronUi.waterfallNewest());
    check(newestAfter > newestBefore, 'the live daemon\'s spectra keep the waterfall going');
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

runBrowserTest('ui-browser', main);
