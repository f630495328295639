// Measures the web build in headless chromium at 1280x720: frames per second
// in the timeline (from 17 s to 27 s, the triangle window full) against a
// page that only clears its canvas and one that draws the same triangles from
// a buffer filled once (floor.html), the time from
// loading the page to it being ready, and from the start gesture to the first
// frame (the music's fetch and decoding included). Usage: node bench.js SITE
// ROUNDS, where SITE holds page/ (the build), clear.html, floor.html and the
// picture's triangles.bin and shades.bin. Prints one JSON
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
const WINDOW_FULL_MS = 17000;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Frames per second of a floor page over MEASURE_MS, after a second to settle.
async function floorFps(browser, url) {
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 720});
  await page.goto(url);
  await sleep(1000);
  const a = await page.evaluate(() => ({frames: window.frames, at: performance.now()}));
  await sleep(MEASURE_MS);
  const b = await page.evaluate(() => ({frames: window.frames, at: performance.now()}));
  await page.close();
  return +((b.frames - a.frames) / ((b.at - a.at) / 1000)).toFixed(1);
}

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
      // The program's own time per frame: from its resumption at an animation
      // frame to its next swap (wasm, the GL layer and the WebGL calls; the
      // rasterising happens in the GPU process, off this thread).
      await page.evaluate(() => {
        const page = Module.tolmarPage;
        const next = page.nextFrame;
        let resumed = null;
        window.programMs = [];
        page.nextFrame = function () {
          if (resumed !== null && window.tolmar.state === 'timeline') window.programMs.push(performance.now() - resumed);
          return next.call(page).then(() => { resumed = performance.now(); });
        };
      });
      await page.mouse.click(10, 10);
      await page.waitForFunction(() => window.tolmar.state === 'timeline', {timeout: 60000, polling: 20});
      // From 16.8 s on the window holds its full 300 triangles.
      await sleep(WINDOW_FULL_MS);
      const a = await page.evaluate(() => {
        window.programMs = [];
        return {frames: window.tolmar.frames, at: performance.now()};
      });
      await sleep(MEASURE_MS);
      const b = await page.evaluate(() => ({frames: window.tolmar.frames, at: performance.now(),
                                            start: window.tolmar.startedAt, first: window.tolmar.firstFrameAt,
                                            programMs: window.programMs.slice().sort((x, y) => x - y),
                                            w: canvas.width, h: canvas.height}));
      await page.close();

      const clearFps = await floorFps(browser, `${base}clear.html`);
      const trianglesFps = await floorFps(browser, `${base}floor.html`);

      console.log(JSON.stringify({
        round,
        canvas: `${b.w}x${b.h}`,
        fps: +((b.frames - a.frames) / ((b.at - a.at) / 1000)).toFixed(1),
        clearFps,
        trianglesFps,
        programMsMedian: +b.programMs[Math.floor(b.programMs.length / 2)].toFixed(2),
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
