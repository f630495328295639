// The page in one engine: node web_test.js SITE [ENGINE] (chromium unless
// given; see engines.js). SITE (made by ci.sh) holds one folder per case,
// each with the page and its own tolmar.mp3 (or none), the reference decodes
// and frame-shot's PNGs. Prints PASS/FAIL per check, and a page's console
// when a check on it fails; exits 1 on any failure. With REAL_RUN=FOLDER only
// the whole run is made, on SITE/FOLDER with whatever music it has:
// REFERENCE names libmpg123's decode of it (in SITE), MUSIC what the checks
// call it; that is how a packed release is tried (tests/release/web_zip.sh).
'use strict';
const path = require('path');
const lib = require('./page_lib');
const {check, tolmarOf, settled, endsWith, openPage, started, framesDrawn, imageStats, musicPlays, realRun} = lib;

const site = path.resolve(process.argv[2] || '');
const ENGINE = process.argv[3] || 'chromium';
const SHOT_TIMES_S = (process.env.SHOT_TIMES || '0 4 60 125').split(' ').map(Number);
// The run's music: ci.sh's tone, which fills its file, so silence at an end
// is a gap; real music may begin and end quietly, so that check is the tone's.
const ONLY_REAL_RUN = !!process.env.REAL_RUN;
const RUN_MUSIC = ONLY_REAL_RUN
  ? {folder: `${process.env.REAL_RUN.replace(/\/*$/, '')}/`, reference: process.env.REFERENCE,
     what: process.env.MUSIC || 'tolmar.mp3', tone: false}
  : {folder: 'ok/', reference: 'tone.f32', what: 'tolmar.mp3 (44.1 kHz stereo CBR)', tone: true};
const SHOT_W = 480;
const SHOT_H = 270;

// The music as the page handed it to Web Audio: its buffers in the order
// they start, against libmpg123's decode of the same file taken round and
// round (so the loop's seam is checked where the buffers reach it), and
// each buffer's start against where the one before it ends, in samples of
// the context. A page starved of time decodes a buffer after its place has
// come; it goes on after a gap, rather than over what played: a later start
// is a fault only where that place was still ahead of the context's near
// future when the buffer was started.
async function audioStats(page, referenceUrl) {
  return page.evaluate(async (referenceUrl) => {
    const placed = [...window.seenSources].filter(([s, seen]) => seen.started && s.buffer && s.context instanceof AudioContext)
      .map(([s, seen]) => ({buffer: s.buffer, when: seen.when, rate: s.context.sampleRate,
                            near: seen.now + Math.max(0.02, (s.context.baseLatency || 0) + 128 / s.context.sampleRate) + 0.05}))
      .sort((x, y) => x.when - y.when);
    if (!placed.length) return {error: 'no buffer started'};
    const channels = placed[0].buffer.numberOfChannels;
    const reference = new Float32Array(await (await fetch(referenceUrl)).arrayBuffer());
    const n = reference.length / channels;
    let frames = 0;
    let maxDiff = 0;
    let seamDiff = 0;
    let worstJoin = 0;
    let starved = 0;
    const first = [];  // channel 0 of the first pass
    placed.forEach(({buffer, when, rate, near}, k) => {
      if (k > 0) {
        const before = placed[k - 1];
        const off = (when - before.when) * rate - before.buffer.duration * rate;
        if (off >= 0.01 && before.when + before.buffer.duration < near) starved++;
        else worstJoin = Math.max(worstJoin, Math.abs(off));
      }
      for (let c = 0; c < channels; c++) {
        const x = buffer.getChannelData(c);
        for (let i = 0; i < x.length; i++) {
          const at = frames + i;
          const diff = Math.abs(x[i] - reference[(at % n) * channels + c]);
          if (at < n) maxDiff = Math.max(maxDiff, diff);
          else seamDiff = Math.max(seamDiff, diff);
          if (c === 0 && at < n) first.push(x[i]);
        }
      }
      frames += buffer.length;
    });
    // Silence at either end of a tone that fills the file is a gap in the loop.
    let lead = 0;
    while (lead < first.length && Math.abs(first[lead]) < 1e-3) lead++;
    let trail = 0;
    while (trail < first.length && Math.abs(first[first.length - 1 - trail]) < 1e-3) trail++;
    return {frames, referenceFrames: n, buffers: placed.length, rate: placed[0].buffer.sampleRate, channels,
            maxDiff, seamDiff, worstJoin, starved, gapMs: ((lead + trail) / placed[0].buffer.sampleRate) * 1000};
  }, referenceUrl);
}

// looped: the page plays by now past the file's end, so its loop is checked.
async function checkAudio(a, what, page, {tone = true, looped = false} = {}) {
  if (!await check(!a.error, `${what}: buffers started`, a.error, page)) return;
  // Two float decoders of one stream differ by rounding in their filter
  // banks; a wrong cut or a decoding fault differs by far more.
  await check(a.maxDiff < 2e-3, `${what}: the samples match libmpg123's within 2e-3`, `largest difference ${a.maxDiff}`, page);
  if (tone) await check(a.gapMs < 0.25, `${what}: no gap at the loop point`, `${a.gapMs.toFixed(3)} ms of silence`, page);
  await check(a.worstJoin < 0.01, `${what}: each buffer starts where the one before ends`,
              `off by up to ${a.worstJoin} samples over ${a.buffers} buffers (${a.starved} decoded after their place)`, page);
  if (looped) {
    await check(a.frames > a.referenceFrames && a.seamDiff < 2e-3,
                `${what}: the loop goes on with libmpg123's first samples, as many as its gapless decode`,
                `${a.frames} samples played of ${a.referenceFrames}, largest difference past the end ${a.seamDiff}`, page);
  }
}

// A second file: MPEG-2 mono at 22.05 kHz, variable bitrate, 576-sample
// frames. In this run full screen is left during the lead-in, as a browser
// does on Escape without passing the key on: the lead-in runs its full length
// and the run ends at the timeline's first look at the key.
async function monoFile(browser, base) {
  const page = await started(browser, `${base}mono/`);
  await settled(page, ['lead-in', 'error']);  // reported below
  await page.evaluate(() => document.exitFullscreen());
  await framesDrawn(page);
  await check((await tolmarOf(page)).state === 'lead-in', 'leaving full screen does not shorten the lead-in', '', page);
  const t = await settled(page, ['ended', 'error']);
  // What the lead-in decoded started with the timeline.
  await checkAudio(await audioStats(page, '../mono.f32'), 'a 22.05 kHz mono VBR file', page);
  const states = await page.evaluate(() => window.seenStates);
  const names = states.map((s) => s.state).join(' ');
  await check(t.state === 'ended' && t.status === 0 && names === 'waiting lead-in timeline ended' &&
              states[2].at - states[1].at >= 2950, 'leaving full screen in the lead-in ends the run as the ' +
              'timeline starts, status 0', `${JSON.stringify(t)} ${JSON.stringify(states)}`, page);
  await page.close();
}

// The checks on the page's own source nodes go red when their claim is
// false: each run withholds one Web Audio call from the page, and the check
// must fail.
async function withheld(browser, base) {
  const joinCheck = async (page) => {
    const a = await audioStats(page, `${base}tone.f32`);
    return [a.worstJoin < 0.01, 'each buffer starts where the one before ends', a.worstJoin];
  };
  for (const [what, claim, fault] of [['a source never started', musicPlays, 'never-started'],
                                      ['a source never connected', musicPlays, 'never-connected'],
                                      ['buffers started late', joinCheck, 'late-start']]) {
    const page = await started(browser, `${base}ok/?fault=${fault}`, ['timeline']);
    const [ok, name, detail] = await claim(page);
    await check(!ok, `${what}: "${name}" fails`, detail, page);
    await page.close();
  }
}

// Each failure ends the run with the program's own text and status 255.
async function failures(browser, base) {
  const unsupported = 'FMOD error! (25) Unsupported file or audio format. ';
  for (const [where, what, message] of [
    ['missing/', 'no tolmar.mp3 (HTTP 404)', 'FMOD error! (23) File not found. '],
    ['text/', 'a text file as tolmar.mp3', unsupported],
    ['empty/', 'an empty tolmar.mp3', unsupported],
    ['wav/', 'a WAV file renamed tolmar.mp3', unsupported],
    ['folder/', 'tolmar.mp3 is a folder (HTTP 403)', 'FMOD error! (19) Error loading file. '],
    ['ok/?fault=no-web-audio', 'a browser without Web Audio', 'FMOD error! (62) Error initializing output device. '],
  ]) await expectEnd(browser, `${base}${where}`, what, 255, message);
}

async function expectEnd(browser, url, what, status, message) {
  const page = await started(browser, url);
  await endsWith(page, what, status, message);
  await page.close();
}

// Still frames against frame-shot's at the same size: the same GL calls on
// other software rasterisers, which cover edge pixels differently and, with
// about 30 repeats of the noise squeezed into a triangle, may pick a
// neighbouring texel. So single pixels may differ a lot; what must agree is
// the light in every 16x16 block (a frame missing its texture or triangles is
// off by 11 or more there) and the frame's mean level.
async function shots(browser, base) {
  const page = await openPage(browser, `${base}ok/`);
  for (const seconds of SHOT_TIMES_S) {
    await page.goto(`${base}ok/?shot=${seconds}&w=${SHOT_W}&h=${SHOT_H}`);
    const t = await settled(page, ['ended', 'error']);
    if (!await check(t.state === 'ended' && t.status === 0 && !t.lineShown,
                     `?shot=${seconds} ends with status 0, no gesture and no text over the frame`, JSON.stringify(t), page)) {
      continue;
    }
    const url = await page.evaluate(() => document.getElementById('canvas').toDataURL('image/png'));
    const s = await imageStats(page, url, `../shots/${seconds}.png`);
    await check(s.w === SHOT_W && s.h === SHOT_H && s.worstBlock <= 6 && Math.abs(s.meanLevel - s.referenceLevel) <= 1,
                `?shot=${seconds} matches frame-shot ${seconds} (every 16x16 block within 6 of 255, mean level ` +
                `within 1): block ${s.worstBlock?.toFixed(2)}, mean ${s.meanLevel?.toFixed(2)} against ` +
                `${s.referenceLevel?.toFixed(2)}, per pixel ${s.meanDiff?.toFixed(2)}`, JSON.stringify(s), page);
  }
  await page.goto(`${base}ok/?shot=soon`);
  const bad = await settled(page, ['ended', 'error']);
  await check(bad.state === 'error' && bad.status === 2 && bad.message.startsWith('shot:'),
              '?shot= with no number is refused', JSON.stringify(bad), page);
  await page.close();
}

async function noWebGL(launch, base) {
  const browser = await launch({noWebGL: true});
  await expectEnd(browser, `${base}ok/`, 'a browser without WebGL', 1,
                  'Cannot create the WebGL context: this browser has no WebGL, or it is switched off')
    .finally(() => browser.close());
}

lib.runChecks(ENGINE, async (launch) => {
  if (ONLY_REAL_RUN && !RUN_MUSIC.reference) throw new Error('REAL_RUN needs REFERENCE, the decode of its music');
  const server = await lib.serve(site);
  const base = server.base;
  // The run's music as the program holds it, once its source node plays it.
  const audio = async (page) => checkAudio(await audioStats(page, `${base}${RUN_MUSIC.reference}`),
                                           `${RUN_MUSIC.what} as played`, page, {tone: RUN_MUSIC.tone, looped: RUN_MUSIC.tone});
  const browser = await launch();
  try {
    await lib.runGroups([realRun], browser, `${base}${RUN_MUSIC.folder}`, {during: audio});
    if (!ONLY_REAL_RUN) await lib.runGroups([withheld, monoFile, failures, shots], browser, base);
  } finally {
    await browser.close().catch(() => {});
  }
  if (!ONLY_REAL_RUN) await lib.runGroups([noWebGL], launch, base);
  server.stop();
});
