// The audio library's shared results suite in one engine: node
// audio_suite.js SITE [ENGINE] opens SITE/suite/suite.html (built by
// audio_suite.sh) and relays the PASS/FAIL lines it prints; a suite that does
// not finish fails with what the page said.
'use strict';
const path = require('path');
const lib = require('./page_lib');

const HANG_MS = 300000;  // a limit for hangs only: a slow machine just takes longer

lib.runChecks(process.argv[3] || 'chromium', async (launch) => {
  const server = await lib.serve(path.resolve(process.argv[2] || ''));
  const browser = await launch();
  try {
    const page = await lib.openPage(browser, `${server.base}suite/suite.html`);
    // A script error ends the suite where it stands.
    const finished = await lib.waitFor(page, () => window.seenConsole.some((l) => /^log: suite done|^pageerror|^rejection/.test(l)),
                                       null, HANG_MS, 'the suite').then(() => true, () => false);
    const lines = await page.evaluate(() => window.seenConsole);
    for (const line of lines) {
      const [, kind, what] = line.match(/^log: (PASS|FAIL): (.*)/) || [];
      if (kind) await lib.check(kind === 'PASS', what);
    }
    await lib.check(finished && lines.some((l) => l.startsWith('log: suite done')), 'the web audio suite ran to its end',
                    lines.join('\n'));
  } finally {
    await browser.close().catch(() => {});
    server.stop();
  }
});
