// Measures the web build in each engine of tests/web/engines.js, 1280x720,
// device pixel ratio 1: frames per second in the timeline (17 s to 27 s, the
// triangle window full) against floor.html's two floors (only clearing; the
// same triangles from a buffer filled once), full screen at the size the
// piece drew at; load to ready; start gesture to the first frame (the music's
// fetch and decoding included). Usage: node bench.js SITE ROUNDS ENGINE...
// (SITE: page/, the build, beside floor.html, triangles.bin and shades.bin).
// Prints a JSON line per engine and round, then a table with the load average.
'use strict';
const path = require('path');
const os = require('os');
const {ENGINES} = require('../../tests/web/engines');
const {serve, waitFor} = require('../../tests/web/page_lib');

const site = path.resolve(process.argv[2]);
const rounds = Number(process.argv[3] || 3);
const engines = process.argv.slice(4);
// The pages measured: page/, the build; with BENCH_BEFORE set (run.sh), an
// earlier build in before/ too, each round taking turns, so both see the
// same load.
const PAGES = process.env.BENCH_BEFORE ? ['before', 'page'] : ['page'];
const VIEW = {width: 1280, height: 720};
const MEASURE_MS = 10000;
const WINDOW_FULL_MS = 17000;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Frames counted by the page (the piece's or a floor's) over MEASURE_MS, per
// second of its own clock.
async function fps(page, settleMs) {
  const count = () => ({frames: window.tolmar ? window.tolmar.frames : window.frames, at: performance.now(),
                        canvas: `${canvas.width}x${canvas.height}`});
  await sleep(settleMs);
  const a = await page.evaluate(count);
  await sleep(MEASURE_MS);
  const b = await page.evaluate(count);
  return {fps: +((b.frames - a.frames) / ((b.at - a.at) / 1000)).toFixed(1), canvas: b.canvas};
}

async function floorFps(browser, url, view) {
  const page = await browser.open(url, view);
  await page.click(10, 10);
  const result = await fps(page, 1000);
  await page.close();
  return result;
}

// One run of the piece in SITE/FOLDER; with floors, the floor pages after it.
async function round(browser, base, folder, floors) {
  const page = await browser.open(`${base}${folder}/`, VIEW);
  await waitFor(page, () => document.getElementById('line').textContent.startsWith('click'), null, 60000, 'the start line');
  const readyMs = await page.evaluate(() => performance.now());
  // The program's own time per frame: from its resumption at an animation
  // frame to its next swap (wasm, the GL layer and the WebGL calls).
  await page.evaluate(() => {
    const tolmarPage = Module.tolmarPage;
    const next = tolmarPage.nextFrame;
    let resumed = null;
    window.programMs = [];
    tolmarPage.nextFrame = function () {
      if (resumed !== null && window.tolmar.state === 'timeline') window.programMs.push(performance.now() - resumed);
      return next.call(tolmarPage).then(() => { resumed = performance.now(); });
    };
  });
  await page.click(10, 10);
  await waitFor(page, () => window.tolmar.state === 'timeline', null, 60000, 'the timeline');
  // From 16.8 s on the window holds its full 300 triangles.
  const piece = await fps(page, WINDOW_FULL_MS);
  const b = await page.evaluate(() => ({start: window.tolmar.startedAt, first: window.tolmar.firstFrameAt,
                                        programMs: window.programMs.slice().sort((x, y) => x - y)}));
  await page.key('Escape');
  await page.close();
  const own = {
    canvas: piece.canvas, fps: piece.fps, programMsMedian: +b.programMs[Math.floor(b.programMs.length / 2)].toFixed(2),
    loadToReadyMs: Math.round(readyMs), gestureToFirstFrameMs: Math.round(b.first - b.start),
    loadAverage: os.loadavg()[0].toFixed(2),
  };
  if (!floors) return own;
  // The floors at the size the piece drew at: full screen on a display
  // without a window manager keeps the window's size in some engines.
  const [width, height] = piece.canvas.split('x').map(Number);
  const floor = await floorFps(browser, `${base}floor.html`, {width, height});
  const clear = await floorFps(browser, `${base}floor.html?clear`, {width, height});
  return {...own, floorCanvas: floor.canvas, clearCanvas: clear.canvas, trianglesFps: floor.fps, clearFps: clear.fps};
}

async function main() {
  const server = await serve(site, {record: false});
  const rows = [];
  for (const engine of engines) {
    const browser = await ENGINES[engine]({ratio: 1});
    try {
      for (let n = 1; n <= rounds; n++) {
        // Pages compared take turns in each round; the floors follow the last.
        for (const [k, folder] of PAGES.entries()) {
          rows.push({engine, round: n, page: folder, ...await round(browser, server.base, folder, k === PAGES.length - 1)});
          console.log(JSON.stringify(rows.at(-1)));
        }
      }
    } finally {
      await browser.close();
    }
  }
  server.stop();  // and at any exit
  console.log('\n| engine | round | page | canvas | piece fps | triangle floor fps | piece / floor | clear-only fps | ' +
              "program's own ms per frame | gesture to first frame ms | load average |\n" +
              '| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |');
  for (const r of rows) {
    const floor = r.trianglesFps === undefined ? ['', '', ''] : [r.trianglesFps, (r.fps / r.trianglesFps).toFixed(2), r.clearFps];
    console.log(`| ${r.engine} | ${r.round} | ${r.page} | ${r.canvas} | ${r.fps} | ${floor.join(' | ')} | ` +
                `${r.programMsMedian} | ${r.gestureToFirstFrameMs} | ${r.loadAverage} |`);
  }
}

main().catch((e) => {
  console.error(e.stack);
  process.exit(1);
});
