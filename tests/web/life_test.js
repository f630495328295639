// The page's life as people meet it, in one engine: tolmar.html from the
// disk, hidden and shown mid-run, the screen kept awake; a window resized
// mid-run and its audio context suspended; a phone (ratio 3, 390x844, no
// Fullscreen API) started by a tap, turned, and ended by the close control;
// a lost WebGL context given back, and one never given back; a slow
// download shown as it arrives, and one that stalls. Usage: node
// life_test.js SITE [ENGINE] (SITE as ci.sh lays it out, build-web/tolmar.html
// built). Prints PASS/FAIL/SKIP per check; exits 1 on any failure.
'use strict';
const path = require('path');
const lib = require('./page_lib');
const {LOAD_MS, check, skip, waitFor, waitForState, tolmarOf, endsWith, start, started, framesDrawn, musicPlays} = lib;

const site = path.resolve(process.argv[2] || '');
const ENGINE = process.argv[3] || 'chromium';
const STALL_MS = 30000;  // the web backend's limit
const HIDDEN_MS = 1500;

const awake = (page) => page.evaluate(() => window.wakeLocks.filter((l) => !l.released).length);

// Mid-run: hidden for HIDDEN_MS, then shown; the run is where the clock says,
// and a full-screen exit the hiding brought is not taken for Escape.
async function hiddenShown(page) {
  await check(await awake(page) === 1, 'the screen is kept awake during the run', `${await awake(page)} wake locks held`, page);
  await page.hide();
  await waitFor(page, () => document.visibilityState === 'hidden', null, LOAD_MS, 'the page hidden');
  // Hidden until the music's clock has moved on by HIDDEN_MS: how fast it
  // moves is the machine's affair, so only a clock that stops fails.
  const wentOn = await waitFor(page, (ms) => {
    const hidden = window.visibility.findLast((s) => s.state === 'hidden');
    const audio = window.Module && Module.tolmarAudio && Object.values(Module.tolmarAudio.contexts)[0];
    return !!(hidden && audio && audio.currentTime - hidden.audioTime >= ms / 1000);
  }, HIDDEN_MS, LOAD_MS, 'the music going on while hidden').then(() => true, () => false);
  await page.show();
  await waitFor(page, () => window.visibility.some((s) => s.firstFrameClock !== undefined) || window.tolmar.status !== null,
                null, LOAD_MS, 'a frame after showing').catch(() => {});
  const seen = await page.evaluate(() => window.visibility);
  const hidden = seen.find((s) => s.state === 'hidden');
  const shown = seen.find((s) => s.state === 'visible' && s.at > hidden.at && s.firstFrameClock !== undefined);
  if (!await check(shown, 'shown again, the run goes on', JSON.stringify([seen, await tolmarOf(page)]), page)) return;
  const span = shown.at - hidden.at;
  await check(shown.firstFrameClock >= Math.floor(shown.at),
              'shown again, the first frame is drawn for the clock at showing, not where the picture stopped',
              `hidden ${span.toFixed(0)} ms; first frame for clock ${shown.firstFrameClock}, shown at ${shown.at.toFixed(0)}`, page);
  await check(wentOn, 'the music went on while hidden',
              `${(shown.audioTime - hidden.audioTime).toFixed(2)} s of music in ${span.toFixed(0)} ms`, page);
  await check(...await musicPlays(page, '', ' after showing'), page);
  await waitFor(page, () => window.wakeLocks.filter((l) => !l.released).length === 1, null, LOAD_MS, 'a wake lock')
    .catch(() => {});
  await check(await awake(page) === 1, 'shown again, the screen is kept awake again', `${await awake(page)} wake locks held`, page);
  // Some engines leave full screen on hiding and announce it once shown: that
  // exit is no Escape, still not once the page has stayed visible well past
  // the 500 ms and 3 frames an exit needs to count.
  await waitFor(page, (since) => {
    const from = window.exits.at(-1) || since;
    return (performance.now() >= from.at + 1000 && window.tolmar.frames >= from.frames + 6) || window.tolmar.status !== null;
  }, shown, LOAD_MS, 'a second and six frames after showing');
  const t = await tolmarOf(page);
  await check(t.state === 'timeline', 'a full-screen exit the hiding brought is no Escape: the run goes on',
              JSON.stringify([await page.evaluate(() => window.exits), t]), page);
}

// build-web/tolmar.html from the disk, as a whole run with a hiding in it;
// the screen is kept awake until the end.
async function oneFile(browser) {
  const copy = lib.recordedCopy(path.join(lib.ROOT, 'build-web/tolmar.html'));
  try {
    await lib.realRun(browser, copy.url, {what: 'tolmar.html from the disk: ', during: hiddenShown, after: async (page) => {
      await waitFor(page, () => window.wakeLocks.every((l) => l.released), null, LOAD_MS, 'the locks released')
        .catch(() => {});
      const locks = await page.evaluate(() => window.wakeLocks.map((l) => l.released));
      await check(locks.length >= 2 && locks.every(Boolean), 'every wake lock is released at the end', JSON.stringify(locks), page);
    }});
  } finally {
    copy.remove();
  }
}

// A phone without the Fullscreen API: a tap starts it, the page fills the
// window at three device pixels per CSS pixel, and again once the phone is
// turned to landscape; a tap shows the close control
// for a few seconds, without ending the run; pressing the control ends it.
async function phone(launch, base) {
  if (!launch.touches) skip('taps as touches', 'its driver hands touches to the page as mouse events; tapped with those');
  const browser = await launch({ratio: 3});
  try {
    const page = await browser.open(`${base}ok/?fault=no-fullscreen`, {width: 390, height: 844, touch: true});
    await start(page, {tap: true});
    await waitForState(page, ['timeline', 'error']);
    const view = await page.evaluate(() => {
      const c = document.getElementById('canvas');
      return {state: window.tolmar.state, w: c.width, h: c.height, cw: c.clientWidth, ch: c.clientHeight,
              window: [innerWidth, innerHeight], fullscreen: !!document.fullscreenElement};
    });
    await check(view.state === 'timeline' && view.cw === view.window[0] && view.ch === view.window[1] &&
                view.w === 3 * view.cw && view.h === 3 * view.ch && !view.fullscreen,
                'a tap starts it; without full screen the canvas fills the window at 3 device pixels', JSON.stringify(view), page);
    await page.resize(844, 390);
    await check(...await lib.viewFollows(page, 'the phone turned to 844x390 mid-run'), page);
    const closeShown = (shown) => waitFor(page, (s) => document.getElementById('close').hidden !== s, shown, LOAD_MS,
                                          `the close control ${shown ? 'shown' : 'hidden'}`);
    await page.tap(195, 200);
    await closeShown(true);
    const box = await page.evaluate(() => {
      const r = document.getElementById('close').getBoundingClientRect();
      return {x: r.x + r.width / 2, y: r.y + r.height / 2};
    });
    await framesDrawn(page);
    await check((await tolmarOf(page)).state === 'timeline', 'a tap during the run shows the close control and goes on',
                JSON.stringify(await tolmarOf(page)), page);
    await closeShown(false);  // after a few seconds
    // Where the control shows: the first tap shows it, the next presses it. On
    // a slow machine the control may hide before a tap on it arrives. A tap
    // just as it hides is lost (the browser hit-tests the last frame drawn),
    // so each tap comes two frames after reading the control's state, and
    // waits for the run's end or a change of that state.
    for (let taps = 0; taps < 6 && (await tolmarOf(page)).state === 'timeline'; taps++) {
      const before = await page.evaluate(() => document.getElementById('close').hidden);
      await framesDrawn(page);
      await page.tap(box.x, box.y);
      await waitFor(page, (h) => window.tolmar.state !== 'timeline' || document.getElementById('close').hidden !== h,
                    before, LOAD_MS, 'the control shown or hidden, or the run ended');
    }
    await endsWith(page, 'the control hides again; pressed, it ends the run', 0, '');
  } finally {
    await browser.close();
  }
}

// Mid-run, full screen refused, the window is resized and the view follows.
// Then the audio context is suspended (a phone call, a lost device): it
// runs at once again; refusing to for 2 s, it runs on the next click, the
// music where the clock says: the lead of the playing buffer's place in the
// music over the time since the timeline began is what it was.
async function resizedAndSuspended(browser, base) {
  const page = await started(browser, `${base}ok/?fault=no-fullscreen`, ['timeline', 'error']);
  await page.resize(300, 400);
  await check(...await lib.viewFollows(page, 'a window resized from 480x270 to 300x400 mid-run'), page);
  const suspend = (refuse) => page.evaluate(async (refuse) => {
    const context = Object.values(Module.tolmarAudio.contexts)[0];
    if (refuse) context.resume = () => Promise.reject(new DOMException('not now', 'NotAllowedError'));
    // Heard after the page's own listener, which was there first.
    context.addEventListener('statechange', () => { window.soundState = context.state; });
    await context.suspend();
    return performance.now();
  }, refuse);
  const lead = () => waitFor(page, () => {
    const c = Object.values(Module.tolmarAudio.contexts)[0];
    const [source, seen] = [...window.seenSources].find(([s, x]) => s.context === c && x.started && !x.stopped &&
                                                        x.when <= c.currentTime && c.currentTime < x.when + s.buffer.duration - x.offset) || [];
    window.lead = seen && window.seenBuffers.get(source.buffer) + seen.offset + c.currentTime - seen.when -
                  (performance.now() - window.seenStates[2].at) / 1000;
    return seen && c.state === 'running' && window.soundState !== 'suspended';
  }, null, LOAD_MS, 'a source playing, its context running').then(() => page.evaluate(() => window.lead), () => NaN);
  const before = await lead();
  await suspend(false);
  await check(!isNaN(await lead()), 'an audio context suspended mid-run runs again at once', '', page);
  const at = await suspend(true);
  await waitFor(page, (at) => performance.now() >= at + 2000, at, LOAD_MS, '2 s suspended');
  await page.evaluate(() => { delete Object.values(Module.tolmarAudio.contexts)[0].resume; });
  await page.click(150, 200);
  const after = await lead();
  // Engines move their audio clock in steps of up to about 0.1 s here. On
  // a starved machine the music may already trail before the suspension;
  // the realign then brings it back to the clock, not to that lag.
  await check(Math.min(Math.abs(after - before), Math.abs(after)) < 0.5,
              'refused for 2 s, it runs on the next click, the music where the clock ' +
              'says (within 0.5 s)', `the music leads the timeline by ${before.toFixed(3)} s, then ${after.toFixed(3)} s`, page);
  await page.key('Escape');
  await endsWith(page, 'after that, Escape ends it', 0, '');
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

async function contextLost(browser, base) {
  let page = await started(browser, `${base}ok/`, ['timeline', 'error']);
  await loseContext(page, true);
  // Lit again 4.5 s into the timeline, with its texture.
  await waitFor(page, () => performance.now() - window.seenStates[2].at >= 4500, null, LOAD_MS, '4.5 s of timeline');
  await framesDrawn(page);
  const lit = await lib.screenStats(page);
  await check((await tolmarOf(page)).state === 'timeline' && lit.litShare > 0.1 && lit.brightest > 10,
              'a WebGL context lost and given back: the run goes on, lit', JSON.stringify(lit), page);
  await page.key('Escape');
  await endsWith(page, 'after that, Escape ends it', 0, '');
  await page.close();

  page = await started(browser, `${base}ok/`, ['timeline', 'error']);
  await page.evaluate(() => { window.audio = Object.values(Module.tolmarAudio.contexts)[0]; });
  await loseContext(page, false);
  await endsWith(page, 'a WebGL context never given back', 1,
                 'The WebGL context was lost and not given back: reload the page to see the piece again');
  const audio = await page.evaluate(() => window.audio.state);
  await check(audio === 'closed', 'the music stopped with it', `audio ${audio}`, page);
  await page.close();
}

async function slowDownload(browser, base) {
  const page = await started(browser, `${base}slow/`, ['timeline', 'error']);
  const lines = await page.evaluate(() => window.lines);
  const shares = lines.map((l) => (l.match(/^loading the music: (\d+) %$/) || [])[1]).filter(Boolean).map(Number);
  // Two reads of one piece of the download may show the same share twice.
  await check(new Set(shares).size >= 4 && shares.every((s, i) => i === 0 || s >= shares[i - 1]) && shares.at(-1) === 100 &&
              lines.includes('decoding the music…'), 'a slow download shows its progress, then the decoding',
              JSON.stringify(lines), page);
  await check(...await musicPlays(page, 'a slow download that keeps arriving: '), page);
  await page.close();
}

lib.runChecks(ENGINE, async (launch) => {
  const server = await lib.serve(site);
  // Started first in a browser of its own, left to wait out the stall while
  // the others run.
  const stallBrowser = await launch();
  const stalled = await started(stallBrowser, `${server.base}stall/`);
  const browser = await launch();
  try {
    await lib.runGroups([oneFile, resizedAndSuspended, contextLost, slowDownload], browser, server.base);
    await lib.runGroups([phone], launch, server.base);
    await endsWith(stalled, 'a download with no byte for 30 s', 255, 'FMOD error! (19) Error loading file. ',
                   STALL_MS + LOAD_MS);
  } finally {
    await Promise.all([browser.close(), stallBrowser.close()]).catch(() => {});
    server.stop();
  }
});
