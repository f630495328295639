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

// The music the audio library kept, against libmpg123's decode of the same
// file, and the loop as Web Audio plays it, rendered offline across the end.
async function audioStats(page, referenceUrl) {
  return page.evaluate(async (referenceUrl) => {
    const buffers = Object.values(Module.tolmarAudio.buffers);
    if (buffers.length !== 1) return {error: `${buffers.length} decoded buffers`};
    const music = buffers[0];
    const own = [...window.seenSources.keys()].find((s) => s.buffer === music);
    const channels = music.numberOfChannels;
    const n = music.length;
    const reference = new Float32Array(await (await fetch(referenceUrl)).arrayBuffer());
    let maxDiff = 0;
    for (let c = 0; c < channels; c++) {
      const x = music.getChannelData(c);
      for (let i = 0; i < Math.min(n, reference.length / channels); i++) {
        maxDiff = Math.max(maxDiff, Math.abs(x[i] - reference[i * channels + c]));
      }
    }
    // Silence at either end of a tone that fills the file is a gap in the loop.
    const x = music.getChannelData(0);
    let lead = 0;
    while (lead < n && Math.abs(x[lead]) < 1e-3) lead++;
    let trail = 0;
    while (trail < n && Math.abs(x[n - 1 - trail]) < 1e-3) trail++;
    // Rendered only as far as the checked span past the loop point: a whole
    // soundtrack twice over would be 95 MB of floats for nothing.
    // The program's own source node's settings, copied onto one that renders
    // offline: a source not set to loop, or looping a part, fails here.
    const stats = {frames: n, referenceFrames: reference.length / channels, rate: music.sampleRate, channels,
                   maxDiff, gapMs: ((lead + trail) / music.sampleRate) * 1000};
    if (!own) return {...stats, loopDiff: 'none: no source node of the page plays the decoded buffer'};
    const span = Math.min(n, 4096);
    const offline = new OfflineAudioContext(channels, n + span, music.sampleRate);
    const source = offline.createBufferSource();
    source.buffer = music;
    for (const key of ['loop', 'loopStart', 'loopEnd']) source[key] = own[key];
    source.playbackRate.value = own.playbackRate.value;
    source.detune.value = own.detune.value;
    source.connect(offline.destination);
    source.start();
    const played = await offline.startRendering();
    let loopDiff = 0;
    for (let c = 0; c < channels; c++) {
      const y = played.getChannelData(c);
      const x = music.getChannelData(c);
      for (let i = n - span; i < n + span; i++) {
        loopDiff = Math.max(loopDiff, Math.abs(y[i] - x[i % n]));
      }
    }
    return {...stats, loopDiff};
  }, referenceUrl);
}

// looped: the page's source node plays it by now, so its loop is checked.
async function checkAudio(a, what, page, {tone = true, looped = false} = {}) {
  if (!await check(!a.error, `${what}: one decoded buffer`, a.error, page)) return;
  await check(a.frames === a.referenceFrames, `${what}: as many samples as libmpg123's gapless decode`,
        `${a.frames} against ${a.referenceFrames}`, page);
  // Two float decoders of one stream differ by rounding in their filter
  // banks; a wrong cut or a decoding fault differs by far more.
  await check(a.maxDiff < 2e-3, `${what}: the samples match libmpg123's within 2e-3`, `largest difference ${a.maxDiff}`, page);
  if (tone) await check(a.gapMs < 0.25, `${what}: no gap at the loop point`, `${a.gapMs.toFixed(3)} ms of silence`, page);
  if (looped) await check(a.loopDiff < 1e-6, `${what}: Web Audio loops it sample for sample`, `largest difference ${a.loopDiff}`, page);
}

// A second file: MPEG-2 mono at 22.05 kHz, variable bitrate, 576-sample
// frames. In this run full screen is left during the lead-in, as a browser
// does on Escape without passing the key on: the lead-in runs its full length
// and the run ends at the timeline's first look at the key.
async function monoFile(browser, base) {
  const page = await started(browser, `${base}mono/`);
  await settled(page, ['lead-in', 'error']);  // reported below
  await checkAudio(await audioStats(page, '../mono.f32'), 'a 22.05 kHz mono VBR file', page);
  await page.evaluate(() => document.exitFullscreen());
  await framesDrawn(page);
  await check((await tolmarOf(page)).state === 'lead-in', 'leaving full screen does not shorten the lead-in', '', page);
  const t = await settled(page, ['ended', 'error'], 15000);
  const states = await page.evaluate(() => window.seenStates);
  const names = states.map((s) => s.state).join(' ');
  await check(t.state === 'ended' && t.status === 0 && names === 'waiting lead-in timeline ended' &&
              states[2].at - states[1].at >= 2950, 'leaving full screen in the lead-in ends the run as the ' +
              'timeline starts, status 0', `${JSON.stringify(t)} ${JSON.stringify(states)}`, page);
  await page.close();
}

// The checks on the page's own source node go red when their claim is
// false: each run withholds one Web Audio call from the page, and the check
// must fail.
async function withheld(browser, base) {
  const loopCheck = async (page) => {
    const a = await audioStats(page, `${base}tone.f32`);
    return [a.loopDiff < 1e-6, 'Web Audio loops it sample for sample', a.loopDiff];
  };
  for (const [what, claim, fault] of [['a source never started', musicPlays, 'never-started'],
                                      ['a source never connected', musicPlays, 'never-connected'],
                                      ['a source not set to loop', loopCheck, 'no-loop']]) {
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
                                           `${RUN_MUSIC.what} as played`, page, {tone: RUN_MUSIC.tone, looped: true});
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
