// Takes a picture of the page after a scenario has been replayed into it:
//   node tests/browser/screenshot.mjs OUT.png [SCENARIO]   (default: demo)
// Programs come from TESSARON_UI, TESSARON_BIN and TESSARON_SIM, or build/.
import fs from 'node:fs';
import {
  generateScenario, killChildren, log, makeWorkDir, openBrowser, replay, requirePrograms, startUi,
  stopChild, waitForText,
} from './harness.mjs';

const out = process.argv[2];
const scenario = process.argv[3] || 'demo';
if (!out) {
  console.error('usage: node screenshot.mjs OUT.png [SCENARIO]');
  process.exit(2);
}

async function main() {
  requirePrograms(['ui', 'daemon', 'sim', 'chromium']);
  const workDir = makeWorkDir();
  const ui = await startUi(0);
  const browser = await openBrowser(workDir);
  try {
    const pcap = generateScenario(scenario, workDir);
    if (!pcap) throw new Error('cannot generate ' + scenario);
    await browser.page.goto(`http://127.0.0.1:${ui.httpPort}/`);
    await waitForText(browser.page, '#conn', 'connected', 15000);
    replay(pcap, ui.udpPort, workDir);
    await waitForText(browser.page, '#devices td.cls', '_', 20000);
    await browser.page.waitForTimeout(2000);
    await browser.page.screenshot({ path: out, fullPage: true });
    log('wrote ' + out);
  } finally {
    await browser.context.close();
    await stopChild(ui.child);
    fs.rmSync(workDir, { recursive: true, force: true });
  }
}

main()
  .catch((err) => {
    console.error(err);
    process.exitCode = 1;
  })
  .finally(() => killChildren());
