// Measures the web build in headless chromium at 1280x720: frames per second
// in the timeline against a page that only clears its canvas, the time from
// loading the page to it being ready, and from the start gesture to the first
// frame (the music's fetch and decoding included). Usage: node bench.js SITE
// ROUNDS, where SITE holds page/ (the build) and clear.html. Prints one JSON
// line per round.
'use strict';
const path = require('path');
const fs = require('fs');
const os = require('os');
const {spawn} = require('child_process');
const puppeteer = require(path.join(__dirname, '../../tests/web/node_modules/puppeteer-core'));

const site = path.resolve(process.argv[2]);
const rounds = Number(process.argv[3] || 3);
const MEASURE_MS = 10000;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function main() {
  const server = spawn(process.execPath, [path.join(__dirname, '../../tools/serve-web.js'), site, '0'],
                       {stdio: ['ignore', 'pipe', 'inherit']});
  const base = await new Promise((r) => server.stdout.once('data', (d) => r(String(d).trim())));
  const userDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-bench-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
           '--autoplay-policy=no-user-gesture-required', `--user-data-dir=${userDir}`],
  });
  try {
    for (let round = 1; round <= rounds; round++) {
      const page = await browser.newPage();
      await page.setViewport({width: 1280, height: 720});
      await page.goto(`${base}page/`);
      await page.waitForFunction(() => document.getElementById('line').textContent.startsWith('click'),
                                 {timeout: 60000, polling: 5});
      const readyMs = await page.evaluate(() => performance.now());
      await page.mouse.click(10, 10);
      await page.waitForFunction(() => window.tolmar.state === 'timeline', {timeout: 60000, polling: 20});
      await sleep(1000);
      const a = await page.evaluate(() => ({frames: window.tolmar.frames, at: performance.now()}));
      await sleep(MEASURE_MS);
      const b = await page.evaluate(() => ({frames: window.tolmar.frames, at: performance.now(),
                                            start: window.tolmar.startedAt, first: window.tolmar.firstFrameAt,
                                            w: canvas.width, h: canvas.height}));
      await page.close();

      const clear = await browser.newPage();
      await clear.setViewport({width: 1280, height: 720});
      await clear.goto(`${base}clear.html`);
      await sleep(1000);
      const c = await clear.evaluate(() => ({frames: window.frames, at: performance.now()}));
      await sleep(MEASURE_MS);
      const d = await clear.evaluate(() => ({frames: window.frames, at: performance.now()}));
      await clear.close();

      console.log(JSON.stringify({
        round,
        canvas: `${b.w}x${b.h}`,
        fps: +((b.frames - a.frames) / ((b.at - a.at) / 1000)).toFixed(1),
        clearFps: +((d.frames - c.frames) / ((d.at - c.at) / 1000)).toFixed(1),
        loadToReadyMs: Math.round(readyMs),
        gestureToFirstFrameMs: Math.round(b.first - b.start),
        loadAverage: os.loadavg()[0].toFixed(2),
      }));
    }
  } finally {
    await browser.close();
    server.kill();
    fs.rmSync(userDir, {recursive: true, force: true});
  }
}

main().catch((e) => {
  console.error(e.stack);
  process.exit(1);
});
