// Opens SITE/suite.html (audio_suite.sh) in Debian's headless chromium and
// relays the suite's PASS/FAIL lines; exits 1 on a failure or when the suite
// does not finish. Usage: node audio_suite.js SITE
'use strict';
const puppeteer = require('puppeteer-core');
const {spawn} = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const site = path.resolve(process.argv[2] || '');
const HANG_MS = 300000;  // a limit for hangs only: a slow machine just takes longer

(async () => {
  const server = spawn(process.execPath, [path.join(__dirname, '../../tools/serve-web.js'), site, '0'],
                       {stdio: ['ignore', 'pipe', 'inherit']});
  const userDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-chromium-'));
  let browser;
  let status = 1;
  try {
    const base = await new Promise((resolve, reject) => {
      server.stdout.once('data', (data) => resolve(String(data).trim()));
      server.once('exit', (code) => reject(new Error(`the server ended with status ${code}`)));
    });
    browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--autoplay-policy=no-user-gesture-required',
             `--user-data-dir=${userDir}`],
    });
    const page = await browser.newPage();
    const lines = [];
    const done = new Promise((resolve) => {
      page.on('console', (m) => {
        lines.push(m.text());
        if (m.text().startsWith('suite done')) resolve(true);
      });
      // A script error ends the suite where it stands.
      page.on('pageerror', (e) => {
        lines.push(String(e));
        resolve(false);
      });
      setTimeout(() => resolve(false), HANG_MS);
    });
    await page.goto(`${base}suite.html`);
    const finished = await done;
    for (const line of lines) if (/^(PASS|FAIL):/.test(line)) console.log(line);
    if (!finished) console.log(`FAIL: web audio suite: did not finish; the page said:\n${lines.join('\n')}`);
    status = finished && !lines.some((line) => line.startsWith('FAIL:')) ? 0 : 1;
  } catch (e) {
    console.log(`FAIL: web audio suite could not run: ${e.stack}`);
  } finally {
    if (browser) await browser.close();
    server.kill();
    fs.rmSync(userDir, {recursive: true, force: true});
  }
  process.exit(status);
})();
