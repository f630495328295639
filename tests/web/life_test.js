// The page's life as people meet it, in Debian's headless chromium:
// tolmar.html opened from the disk, hidden and shown again mid-run, the
// screen kept awake; a phone (touch, pixel ratio 3, 390x844, no Fullscreen
// API) started by a tap and ended by the close control; a lost WebGL context
// given back, and one never given back; the music's download shown as it
// arrives slowly, and a download that stalls; tools/web-single.sh.
// Usage: node life_test.js BUILD_DIR MUSIC.mp3 (tests/web/ci.sh gives
// build-web and its short test tone). Prints PASS/FAIL per check; exits 1 on
// any failure.
'use strict';
const http = require('http');
const fs = require('fs');
const os = require('os');
const path = require('path');
const {spawnSync} = require('child_process');
const {LOAD_MS, check, launch, openPage, waitForState, tolmarOf, start, framesDrawn, litStats, runGroups} =
  require('./page_lib');

const build = path.resolve(process.argv[2] || '');
const musicFile = path.resolve(process.argv[3] || '');
const music = fs.readFileSync(musicFile);
const STALL_MS = 30000;  // the web backend's limit
const HIDDEN_MS = 1500;

// The site: /FOLDER/ serves the build's page; its tolmar.mp3 comes whole,
// in eight pieces 250 ms apart ('slow'), or a quarter of it and then
// nothing, the connection held open ('stall').
const held = [];
const server = http.createServer((request, response) => {
  const [, folder, file] = new URL(request.url, 'http://x').pathname.match(/^\/(\w+)\/(.*)$/) || [];
  const types = {'': 'text/html', 'index.html': 'text/html', 'tolmar.js': 'text/javascript', 'tolmar.wasm': 'application/wasm'};
  if (file in types) {
    response.writeHead(200, {'Content-Type': types[file]}).end(fs.readFileSync(path.join(build, file || 'index.html')));
  } else if (file === 'tolmar.mp3') {
    response.writeHead(200, {'Content-Type': 'audio/mpeg', 'Content-Length': music.length});
    const piece = Math.ceil(music.length / 8);
    if (folder === 'stall') {
      response.write(music.subarray(0, 2 * piece));
      held.push(response);
    } else if (folder === 'slow') {
      const send = (at) => (at >= music.length ? response.end()
                                                : response.write(music.subarray(at, at + piece), () => setTimeout(send, 250, at + piece)));
      send(0);
    } else {
      response.end(music);
    }
  } else {
    response.writeHead(404).end();
  }
});

let browser;
let base;

// Records, before the page's scripts run, each wake lock the page is given,
// for each time the page is hidden and shown: the page clock, the frames
// presented, the music's clock, and the clock of the first frame presented
// after showing (caught as the page sets it); and each full-screen exit.
function watchLife() {
  window.wakeLocks = [];
  const request = WakeLock.prototype.request;
  WakeLock.prototype.request = function (...args) {
    const promise = request.apply(this, args);
    promise.then((lock) => window.wakeLocks.push(lock), () => {});
    return promise;
  };
  let tolmar;
  let pending = null;
  Object.defineProperty(window, 'tolmar', {configurable: true, get: () => tolmar, set: (value) => {
    tolmar = value;
    let clock;
    Object.defineProperty(tolmar, 'frameClock', {enumerable: true, get: () => clock, set: (c) => {
      clock = c;
      if (pending) pending.firstFrameClock = c;
      pending = null;
    }});
  }});
  window.visibility = [];
  window.exits = [];
  document.addEventListener('fullscreenchange', () => {
    if (!document.fullscreenElement) window.exits.push({at: performance.now(), frames: tolmar.frames});
  });
  document.addEventListener('visibilitychange', () => {
    const audio = Object.values(Module.tolmarAudio.contexts)[0];
    const seen = {state: document.visibilityState, at: performance.now(), frames: tolmar.frames,
                  audioTime: audio.currentTime};
    window.visibility.push(seen);
    if (seen.state === 'visible') pending = seen;
  });
}

// The page's one source node is started, never stopped, and its running
// context's clock moves on (waited for, however slowly).
async function musicPlays(page, what) {
  const sound = await page.evaluate(async () => {
    const own = Object.values(Module.tolmarAudio.sources);
    const context = own.length === 1 ? own[0].context : undefined;
    const before = context ? context.currentTime : 0;
    while (context && context.state === 'running' && context.currentTime < before + 0.1) {
      await new Promise((r) => setTimeout(r, 20));
    }
    return {sources: own.length, state: context && context.state, moved: context && context.currentTime - before};
  });
  check(sound.sources === 1 && sound.state === 'running' && sound.moved >= 0.1, what, JSON.stringify(sound), page);
}

async function escapeEnds(page, what) {
  await page.keyboard.press('Escape');
  await waitForState(page, ['ended', 'error']).catch(() => {});
  const t = await tolmarOf(page);
  check(t.state === 'ended' && t.status === 0, what, JSON.stringify(t), page);
}

// build-web/tolmar.html from the disk: it plays, hidden and shown it is
// where the clock says, and the screen is kept awake until the end.
async function oneFileHiddenShown() {
  const page = await openPage(browser, `file://${build}/tolmar.html`, {beforeLoad: watchLife});
  await start(page);
  await waitForState(page, ['timeline', 'error']);
  check((await tolmarOf(page)).state === 'timeline', 'tolmar.html from the disk reaches its timeline',
        JSON.stringify(await tolmarOf(page)), page);
  await musicPlays(page, 'tolmar.html from the disk plays its own music');
  const awake = async () => page.evaluate(() => window.wakeLocks.filter((l) => !l.released).length);
  check(await awake() === 1, 'the screen is kept awake during the run', `${await awake()} wake locks held`, page);

  // Hidden behind another tab for HIDDEN_MS of that tab's clock.
  const other = await browser.newPage();
  await other.bringToFront();
  // Asked from here: a hidden page runs no animation frames, and puppeteer's
  // waiting in it may never come back.
  while (await page.evaluate(() => document.visibilityState) !== 'hidden') await new Promise((r) => setTimeout(r, 50));
  await other.waitForFunction((ms) => performance.now() >= ms, {timeout: LOAD_MS}, HIDDEN_MS);
  await page.bringToFront();
  await other.close();
  // The first hiding and the showing after it.
  const shownAgain = () => window.visibility.slice(window.visibility.findIndex((s) => s.state === 'hidden')).slice(0, 2);
  await page.waitForFunction((f) => (eval(f)()[1] || {}).firstFrameClock !== undefined || window.tolmar.status !== null,
                             {timeout: LOAD_MS}, shownAgain.toString()).catch(() => {});
  const [hidden, shown] = await page.evaluate((f) => eval(f)(), shownAgain.toString());
  if (!check(shown && shown.firstFrameClock !== undefined, 'shown again, the run goes on',
             JSON.stringify([await page.evaluate(() => window.visibility), await tolmarOf(page)]), page)) {
    return;
  }
  const span = shown.at - hidden.at;
  check(shown.firstFrameClock >= Math.floor(shown.at),
        'shown again, the first frame is drawn for the clock at showing, not where the picture stopped',
        `hidden ${span.toFixed(0)} ms; first frame for clock ${shown.firstFrameClock}, shown at ${shown.at.toFixed(0)}`, page);
  check(shown.audioTime - hidden.audioTime >= span / 2000,
        'the music went on while hidden', `${(shown.audioTime - hidden.audioTime).toFixed(2)} s of music in ${span.toFixed(0)} ms`, page);
  await musicPlays(page, 'the music plays after showing');
  await page.waitForFunction(() => window.wakeLocks.filter((l) => !l.released).length === 1, {timeout: LOAD_MS})
    .catch(() => {});
  check(await awake() === 1, 'shown again, the screen is kept awake again', `${await awake()} wake locks held`, page);
  // Hidden, chromium leaves full screen and announces it once shown: that
  // exit is no Escape, still not once the page has stayed visible well past
  // the 500 ms and 3 frames an exit needs to count. One Escape then ends it.
  await page.waitForFunction((since) => {
    const from = window.exits.at(-1) || since;
    return (performance.now() >= from.at + 1000 && window.tolmar.frames >= from.frames + 6) || window.tolmar.status !== null;
  }, {timeout: LOAD_MS}, shown);
  const before = await tolmarOf(page);
  await page.keyboard.press('Escape');
  await waitForState(page, ['ended', 'error']).catch(() => {});
  const after = await tolmarOf(page);
  check(before.state === 'timeline' && after.state === 'ended' && after.status === 0,
        'the full-screen exit hiding brought is no Escape; one Escape then ends tolmar.html with status 0',
        JSON.stringify([await page.evaluate(() => window.exits), before, after]), page);
  await page.waitForFunction(() => window.wakeLocks.every((l) => l.released), {timeout: LOAD_MS}).catch(() => {});
  const locks = await page.evaluate(() => window.wakeLocks.map((l) => l.released));
  check(locks.length >= 2 && locks.every(Boolean), 'every wake lock is released at the end', JSON.stringify(locks), page);
  await page.close();
}

// A phone without the Fullscreen API: a tap starts it, the page fills the
// window at three device pixels per CSS pixel; a tap shows the close control
// for a few seconds, without ending the run; pressing the control ends it.
async function touch() {
  const viewport = {width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true};
  const page = await openPage(browser, `${base}ok/`, {viewport, beforeLoad: () => {
    delete Element.prototype.requestFullscreen;
    delete Element.prototype.webkitRequestFullscreen;
  }});
  await start(page, true);
  await waitForState(page, ['timeline', 'error']);
  const view = await page.evaluate(() => {
    const c = document.getElementById('canvas');
    return {state: window.tolmar.state, w: c.width, h: c.height, cw: c.clientWidth, ch: c.clientHeight,
            fullscreen: !!document.fullscreenElement};
  });
  check(view.state === 'timeline' && view.cw === 390 && view.ch === 844 && view.w === 1170 && view.h === 2532 &&
        !view.fullscreen, 'a tap starts it; without full screen the canvas fills the window at 3 device pixels',
        JSON.stringify(view), page);
  const closeShown = (shown) => page.waitForFunction((s) => document.getElementById('close').hidden !== s,
                                                      {timeout: LOAD_MS}, shown);
  await page.touchscreen.tap(195, 600);
  await closeShown(true);
  const box = await page.evaluate(() => {
    const r = document.getElementById('close').getBoundingClientRect();
    return {x: r.x + r.width / 2, y: r.y + r.height / 2};
  });
  await framesDrawn(page);
  check((await tolmarOf(page)).state === 'timeline', 'a tap during the run shows the close control and goes on',
        JSON.stringify(await tolmarOf(page)), page);
  await closeShown(false);  // after a few seconds
  // Where the control shows: the first tap shows it, the next presses it. On
  // a slow machine the control may have hidden again before a tap arrives;
  // that tap shows it once more.
  for (let taps = 0; taps < 6 && (await tolmarOf(page)).state === 'timeline'; taps++) {
    await page.touchscreen.tap(box.x, box.y);
    await page.waitForFunction(() => window.tolmar.state !== 'timeline' || !document.getElementById('close').hidden,
                               {timeout: LOAD_MS, polling: 50});
  }
  await waitForState(page, ['ended', 'error']).catch(() => {});
  const t = await tolmarOf(page);
  check(t.state === 'ended' && t.status === 0, 'the control hides again; pressed, it ends the run with status 0',
        JSON.stringify(t), page);
  await page.close();
}

// Takes the page's WebGL context away (and gives it back) as a browser may.
function loseContext(page, restore) {
  return page.evaluate(async (restore) => {
    const lose = document.getElementById('canvas').getContext('webgl').getExtension('WEBGL_lose_context');
    const lost = new Promise((r) => document.getElementById('canvas').addEventListener('webglcontextlost', r));
    lose.loseContext();
    await lost;
    if (!restore) return;
    // The run goes on while it is lost: two frames presented meanwhile.
    const frames = window.tolmar.frames;
    while (window.tolmar.frames < frames + 2 && window.tolmar.state === 'timeline') {
      await new Promise((r) => requestAnimationFrame(r));
    }
    lose.restoreContext();
  }, restore);
}

async function contextLost() {
  let page = await openPage(browser, `${base}ok/`);
  await start(page);
  await waitForState(page, ['timeline', 'error']);
  await loseContext(page, true);
  // Lit again 4.5 s into the timeline, with its texture.
  await page.waitForFunction(() => performance.now() - window.seenStates[2].at >= 4500 && window.tolmar.frames > 0,
                             {timeout: LOAD_MS});
  await framesDrawn(page);
  const lit = await litStats(page);
  check((await tolmarOf(page)).state === 'timeline' && lit.litShare > 0.1 && lit.brightest > 10,
        'a WebGL context lost and given back: the run goes on, lit', JSON.stringify(lit), page);
  await escapeEnds(page, 'after that, Escape ends it with status 0');
  await page.close();

  page = await openPage(browser, `${base}ok/`);
  await start(page);
  await waitForState(page, ['timeline', 'error']);
  await page.evaluate(() => { window.audio = Object.values(Module.tolmarAudio.contexts)[0]; });
  await loseContext(page, false);
  await waitForState(page, ['ended', 'error']).catch(() => {});
  const t = await tolmarOf(page);
  const message = 'The WebGL context was lost and not given back: reload the page to see the piece again';
  const audio = await page.evaluate(() => window.audio.state);
  check(t.state === 'error' && t.status === 1 && t.message === message && t.line === message && t.lineShown &&
        audio === 'closed', `a WebGL context never given back: status 1, "${message}" on the page, the music stopped`,
        `${JSON.stringify(t)}, audio ${audio}`, page);
  await page.close();
}

// Every line the page shows, in order.
function watchLine() {
  window.lines = [];
  document.addEventListener('DOMContentLoaded', () => {
    const line = document.getElementById('line');
    new MutationObserver(() => window.lines.push(line.textContent)).observe(line, {childList: true, characterData: true, subtree: true});
  });
}

async function slowDownload() {
  const page = await openPage(browser, `${base}slow/`, {beforeLoad: watchLine});
  await start(page);
  await waitForState(page, ['timeline', 'error']);
  const lines = await page.evaluate(() => window.lines);
  const shares = lines.map((l) => (l.match(/^loading the music: (\d+) %$/) || [])[1]).filter(Boolean).map(Number);
  check(shares.length >= 4 && shares.every((s, i) => i === 0 || s > shares[i - 1]) && shares.at(-1) === 100 &&
        lines.includes('decoding the music…'), 'a slow download shows its progress, then the decoding',
        JSON.stringify(lines), page);
  await musicPlays(page, 'a slow download that keeps arriving plays');
  await page.close();
}

// Started first, left to wait out the stall in its tab while the others run.
async function stalledDownload() {
  const page = await openPage(browser, `${base}stall/`);
  await start(page);
  return async function stalled() {
    await waitForState(page, ['ended', 'error'], STALL_MS + LOAD_MS).catch(() => {});
    const t = await tolmarOf(page);
    const message = 'FMOD error! (19) Error loading file. ';
    check(t.state === 'error' && t.status === 255 && t.message === message && t.line === message,
          `a download with no byte for 30 s: status 255, "${message}"`, JSON.stringify(t), page);
    await page.close();
  };
}

// tools/web-single.sh refuses what is no MP3, leaving OUT as it was, and
// otherwise writes OUT with the music inside.
async function tool() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-single-'));
  const out = path.join(dir, 'out.html');
  fs.writeFileSync(out, 'the last one');
  fs.writeFileSync(path.join(dir, 'notes.mp3'), 'This is not music.');
  const run = (input) => spawnSync('bash', [path.join(__dirname, '../../tools/web-single.sh'), input, out], {encoding: 'utf8'});
  const refused = run(path.join(dir, 'notes.mp3'));
  check(refused.status === 2 && /notes\.mp3 is not MP3 audio/.test(refused.stderr) &&
        fs.readFileSync(out, 'utf8') === 'the last one', 'web-single.sh refuses a text file with status 2, OUT untouched',
        `status ${refused.status}: ${refused.stderr}`);
  const written = run(musicFile);
  const page = fs.readFileSync(out, 'latin1');
  const inside = Buffer.from((page.match(/id="tolmar-music">([^<]*)</) || ['', ''])[1], 'base64');
  check(written.status === 0 && inside.equals(music) && fs.readdirSync(dir).length === 2,
        'web-single.sh writes OUT with the music inside, and nothing else beside it',
        `status ${written.status}: ${written.stdout}${written.stderr}`);
  fs.rmSync(dir, {recursive: true, force: true});
}

async function main() {
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  base = `http://127.0.0.1:${server.address().port}/`;
  browser = await launch();
  const stalled = await stalledDownload();
  await runGroups([oneFileHiddenShown, touch, contextLost, slowDownload, tool, stalled], async () => {
    held.forEach((r) => r.destroy());
    server.close();
    await browser.close();
  });
}

main().catch((e) => {
  console.log(`FAIL: the page's life tests could not run: ${e.stack}`);
  process.exit(1);
});
