// The web build in a real browser engine: node web_test.js SITE [ENGINE],
// where ENGINE is chromium (the default), firefox or webkit (engines.js; the
// last two need DISPLAY and a sound server, which ci.sh gives them). SITE
// (made by ci.sh) holds one folder per case, each with the page and its own
// tolmar.mp3 (or none), plus the reference decodes and frame-shot's PNGs.
// Every engine runs the same checks. Prints PASS/FAIL/SKIP per check, each
// named with the engine, and a page's console when a check on it fails;
// exits 1 on any failure.
//
// With REAL_RUN=FOLDER only the whole-way-through run is made, on the page in
// SITE/FOLDER with whatever music it has: REFERENCE names libmpg123's decode
// of that music (a path in SITE), MUSIC what the checks call it. That is how
// a packed release is tried (tests/release/web_zip.sh).
'use strict';
const {spawn} = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const {ENGINES, waitFor} = require('./engines');

const site = path.resolve(process.argv[2] || '');
const ENGINE = process.argv[3] || 'chromium';
const ONE_FILE = path.join(__dirname, '../../build-web/tolmar.html');
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
const DEVICE_RATIO = 2;  // engines.js's default
// Generous: the machine is shared and the engines draw on the CPU.
const LOAD_MS = 60000;

let passed = 0;
let failed = 0;
let skipped = 0;

function say(line) {
  console.log(line.replace(/^(PASS|FAIL|SKIP): /, `$1: ${ENGINE}: `));
}

// A failed check on a page shows what the page said (recorded by the script
// every served page gets, below).
async function check(ok, what, detail, page) {
  if (ok) {
    passed++;
    say(`PASS: ${what}`);
  } else {
    failed++;
    say(`FAIL: ${what}${detail !== undefined ? `: ${detail}` : ''}`);
    if (page) {
      const log = await page.evaluate(() => window.seenConsole).catch((e) => [`(unreadable: ${e.message})`]);
      console.log(`--- the page's console ---\n${(log || []).join('\n')}\n---`);
    }
  }
  return ok;
}

function skip(what, why) {
  skipped++;
  say(`SKIP: ${what}: ${why}`);
}

// --- What every page gets first ------------------------------------------------
// Runs in the page before any of its own scripts, in every engine alike (it is
// written into the HTML, so no engine's own init-script API is needed): keeps
// the page's console, the states the page went through with its own clock at
// each change, and what the page really asked of Web Audio: each buffer source
// made on a real (not offline) context, whether it was started and stopped,
// and what it was connected to. ?fault=NAME in the page's address also
// withholds one browser feature (FAULTS) from the page.
function pageRecorder(faults) {
  window.seenConsole = [];
  for (const level of ['log', 'info', 'warn', 'error']) {
    const real = console[level];
    console[level] = (...args) => {
      window.seenConsole.push(`${level}: ${args.join(' ')}`);
      real.apply(console, args);
    };
  }
  window.addEventListener('error', (e) => window.seenConsole.push(`pageerror: ${e.message}`));
  window.addEventListener('unhandledrejection', (e) => window.seenConsole.push(`rejection: ${e.reason}`));
  window.seenStates = [{state: 'waiting', at: 0}];
  window.addEventListener('tolmarstate', (e) => window.seenStates.push({state: e.detail.state, at: performance.now()}));
  window.seenSources = new Map();
  const wrap = (proto, name, after) => {
    const real = proto[name];
    proto[name] = function (...args) {
      const result = real.apply(this, args);
      const seen = window.seenSources.get(this);
      if (seen || name === 'createBufferSource') after.call(this, seen, args, result);
      return result;
    };
  };
  wrap(AudioContext.prototype, 'createBufferSource', function (_, __, source) {
    window.seenSources.set(source, {started: false, stopped: false, toDestination: false});
  });
  wrap(AudioBufferSourceNode.prototype, 'start', (seen) => { seen.started = true; });
  wrap(AudioBufferSourceNode.prototype, 'stop', (seen) => { seen.stopped = true; });
  wrap(AudioNode.prototype, 'connect', function (seen, [to]) { seen.toDestination ||= to === this.context.destination; });
  const fault = faults[new URLSearchParams(location.search).get('fault')];
  if (fault) fault();
}

// Browser features withheld from the page, one per run, by name.
const FAULTS = {
  'no-web-audio': () => {
    delete window.AudioContext;
    delete window.webkitAudioContext;
  },
  'never-started': () => {
    AudioBufferSourceNode.prototype.start = function () {};
  },
  'never-connected': () => {
    const real = AudioNode.prototype.connect;
    AudioNode.prototype.connect = function (...args) {
      return this instanceof AudioBufferSourceNode ? undefined : real.apply(this, args);
    };
  },
  'no-loop': () => {
    const real = AudioBufferSourceNode.prototype.start;
    AudioBufferSourceNode.prototype.start = function (...args) {
      if (this.context instanceof AudioContext) this.loop = false;
      return real.apply(this, args);
    };
  },
};

function withRecorder(html) {
  const faults = `{${Object.entries(FAULTS).map(([k, f]) => `${JSON.stringify(k)}: ${f}`).join(',\n')}}`;
  const script = `<script>(${pageRecorder})(${faults});</script>\n`;
  const at = html.search(/<script[\s>]/i);
  return at < 0 ? html.replace(/<\/head>/i, (end) => script + end) : html.slice(0, at) + script + html.slice(at);
}

// tools/serve-web.js serves the site as a host would (its statuses are the
// failures' causes); this proxy in front of it adds the recorder to each page.
async function startServer() {
  const server = spawn(process.execPath, [path.join(__dirname, '../../tools/serve-web.js'), site, '0'],
                       {stdio: ['ignore', 'pipe', 'inherit']});
  const behind = await new Promise((resolve, reject) => {
    server.stdout.once('data', (data) => resolve(new URL(String(data).trim())));
    server.once('exit', (code) => reject(new Error(`the server ended with status ${code}`)));
  });
  const proxy = http.createServer((request, response) => {
    const ask = http.request({host: behind.hostname, port: behind.port, path: request.url, method: request.method,
                              headers: request.headers}, (answer) => {
      if (!/^text\/html/.test(answer.headers['content-type'] || '')) {
        response.writeHead(answer.statusCode, answer.headers);
        answer.pipe(response);
        return;
      }
      const parts = [];
      answer.on('data', (part) => parts.push(part));
      answer.on('end', () => {
        const body = Buffer.from(withRecorder(Buffer.concat(parts).toString('utf8')));
        response.writeHead(answer.statusCode, {...answer.headers, 'content-length': body.length});
        response.end(body);
      });
    });
    ask.on('error', () => response.writeHead(502).end());
    request.pipe(ask);
  });
  await new Promise((resolve) => proxy.listen(0, '127.0.0.1', resolve));
  return {stop: () => { proxy.close(); server.kill(); }, base: `http://127.0.0.1:${proxy.address().port}/`};
}

const launchEngine = ENGINES[ENGINE];

// --- Reading the page -----------------------------------------------------------
async function openPage(browser, url) {
  return browser.open(url, {width: 480, height: 270});
}

async function waitForState(page, states, timeout) {
  await waitFor(page, (s) => !!window.tolmar && s.includes(window.tolmar.state), states, timeout, states.join(' or '));
}

async function tolmarOf(page) {
  return page.evaluate(() => ({...window.tolmar, line: document.getElementById('line').textContent,
                               lineShown: !document.getElementById('line').hidden}));
}

// Waits for the start line and clicks, a real user gesture.
async function start(page) {
  await waitFor(page, () => document.getElementById('line').textContent.startsWith('click'), null, LOAD_MS,
                'the start line');
  await page.click(20, 20);
}

async function screenStats(page) {
  return imageStats(page, `data:image/png;base64,${await page.screenshot()}`);
}

// Reads an image (a URL or data URL) into RGBA pixels in the page and sums
// what the checks need.
async function imageStats(page, url, againstUrl, block) {
  return page.evaluate(async (url, againstUrl, block) => {
    async function pixels(src) {
      const image = new Image();
      image.src = src;
      await image.decode();
      const canvas = new OffscreenCanvas(image.width, image.height);
      const context = canvas.getContext('2d');
      context.drawImage(image, 0, 0);
      return {w: image.width, h: image.height, data: context.getImageData(0, 0, image.width, image.height).data};
    }
    const a = await pixels(url);
    let brightest = 0;
    let lit = 0;
    for (let i = 0; i < a.data.length; i += 4) {
      const v = Math.max(a.data[i], a.data[i + 1], a.data[i + 2]);
      brightest = Math.max(brightest, v);
      if (v > 4) lit++;
    }
    const stats = {w: a.w, h: a.h, brightest, litShare: lit / (a.w * a.h)};
    if (!againstUrl) return stats;
    const b = await pixels(againstUrl);
    if (b.w !== a.w || b.h !== a.h) return {...stats, sizeMismatch: `${b.w}x${b.h}`};
    let sum = 0;
    let sumA = 0;
    let sumB = 0;
    const blocks = new Map();
    for (let i = 0; i < a.data.length; i += 4) {
      const p = i / 4;
      const key = `${Math.floor((p % a.w) / block)},${Math.floor(p / a.w / block)}`;
      const entry = blocks.get(key) || {a: 0, b: 0, n: 0};
      for (let c = 0; c < 3; c++) {
        sum += Math.abs(a.data[i + c] - b.data[i + c]);
        sumA += a.data[i + c];
        sumB += b.data[i + c];
        entry.a += a.data[i + c];
        entry.b += b.data[i + c];
        entry.n++;
      }
      blocks.set(key, entry);
    }
    let worstBlock = 0;
    for (const e of blocks.values()) worstBlock = Math.max(worstBlock, Math.abs(e.a - e.b) / e.n);
    const n = a.w * a.h * 3;
    return {...stats, meanDiff: sum / n, meanLevel: sumA / n, referenceLevel: sumB / n, worstBlock};
  }, url, againstUrl, block);
}

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

// Resolves once the page has drawn two more animation frames.
async function framesDrawn(page) {
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
}

// The library's one source node is one the page made, started and never
// stopped, connected to its running context's output, whose clock moves on
// (waited for, however slowly). As [ok, what, detail] for check().
async function musicPlays(page) {
  const sound = await page.evaluate(async () => {
    const own = Object.values(Module.tolmarAudio.sources);
    const seen = own.length === 1 ? window.seenSources.get(own[0]) : undefined;
    const context = own.length === 1 ? own[0].context : undefined;
    const playing = !!seen && seen.started && !seen.stopped && seen.toDestination && context.state === 'running';
    const before = context ? context.currentTime : 0;
    while (playing && context.currentTime < before + 0.1) await new Promise((r) => setTimeout(r, 20));
    return {sources: own.length, ...seen, state: context && context.state, playing};
  });
  return [sound.playing, 'the music plays during the timeline', JSON.stringify(sound)];
}

// The whole way through: waiting, the black lead-in, the lit timeline with
// music, Escape. what: the page's name in the checks ('' for the site's).
async function realRun(browser, base, {url = `${base}${RUN_MUSIC.folder}`, what = '', audio = true} = {}) {
  const page = await openPage(browser, url);
  try {
    await start(page);
    await waitForState(page, ['lead-in', 'error'], LOAD_MS);
  } catch (e) {
    await check(false, `${what}the run reaches its lead-in`, e.message, page);
    return;
  }
  if (!await check((await tolmarOf(page)).state === 'lead-in', `${what}the run reaches its lead-in`,
                   JSON.stringify(await tolmarOf(page)), page)) return;
  // Two frames drawn in the lead-in. The state is read before the screenshot
  // is taken; should a slow machine finish the lead-in meanwhile, the
  // timeline's first 0.97 s are black too.
  await framesDrawn(page);
  const stillLeadIn = (await tolmarOf(page)).state === 'lead-in';
  const black = await screenStats(page);
  await check(stillLeadIn && black.brightest <= 2, `${what}the screen is black during the lead-in`,
              `brightest ${black.brightest}, state still lead-in: ${stillLeadIn}`, page);
  const view = await page.evaluate(() => {
    const c = document.getElementById('canvas');
    return {w: c.width, h: c.height, cw: c.clientWidth, ch: c.clientHeight, ratio: devicePixelRatio,
            cursor: getComputedStyle(c).cursor, fullscreen: document.fullscreenElement === c};
  });
  if (!what) {
    await check(view.w === Math.round(view.cw * view.ratio) && view.h === Math.round(view.ch * view.ratio) &&
                view.ratio === DEVICE_RATIO, 'the canvas draws at the device pixels', JSON.stringify(view), page);
    await check(view.cursor === 'none', 'the cursor is hidden over the canvas', view.cursor, page);
    await check(view.fullscreen, 'the canvas is full screen', JSON.stringify(view), page);
  }

  try {
    await waitForState(page, ['timeline'], 10000);
  } catch (e) {
    await check(false, `${what}the timeline follows the lead-in`, JSON.stringify(await tolmarOf(page)), page);
    return;
  }
  // 4.5 s into the timeline by the page's own clock, however long that takes.
  await waitFor(page, () => performance.now() - window.seenStates[2].at >= 4500, null, LOAD_MS, '4.5 s of timeline');
  const lit = await screenStats(page);
  await check(lit.litShare > 0.1 && lit.brightest > 10, `${what}the picture is lit 4.5 s into the timeline`,
              JSON.stringify(lit), page);
  const [plays, playsWhat, playsDetail] = await musicPlays(page);
  await check(plays, `${what}${playsWhat}`, playsDetail, page);
  if (audio) {
    await checkAudio(await audioStats(page, `${base}${RUN_MUSIC.reference}`), `${RUN_MUSIC.what} as played`, page,
                     {tone: RUN_MUSIC.tone, looped: true});
  }

  await page.key('Escape');
  await waitForState(page, ['ended', 'error'], 10000).catch(() => {});  // reported below
  const after = await tolmarOf(page);
  await check(after.state === 'ended' && after.status === 0 && after.message === '',
              `${what}Escape ends the run with status 0`, JSON.stringify(after), page);
  const left = await page.evaluate(() => ({fullscreen: !!document.fullscreenElement, states: window.seenStates}));
  const names = left.states.map((s) => s.state).join(' ');
  const leadIn = left.states[2].at - left.states[1].at;
  if (!what) {
    await check(!left.fullscreen, 'the end leaves full screen', '', page);
    await check(names === 'waiting lead-in timeline ended', 'the states go waiting, lead-in, timeline, ended', names, page);
  }
  await check(leadIn >= 2950, `${what}the lead-in lasts 3000 ms`, `${leadIn.toFixed(0)} ms`, page);
  await page.close();
}

// A second file: MPEG-2 mono at 22.05 kHz, variable bitrate, 576-sample
// frames. In this run full screen is left during the lead-in, as a browser
// does on Escape without passing the key on: the lead-in runs its full length
// and the run ends at the timeline's first look at the key.
async function monoFile(browser, base) {
  const page = await openPage(browser, `${base}mono/`);
  await start(page);
  await waitForState(page, ['lead-in', 'error'], LOAD_MS).catch(() => {});  // reported below
  await checkAudio(await audioStats(page, '../mono.f32'), 'a 22.05 kHz mono VBR file', page);
  await page.evaluate(() => document.exitFullscreen());
  await framesDrawn(page);
  await check((await tolmarOf(page)).state === 'lead-in', 'leaving full screen does not shorten the lead-in', '', page);
  await waitForState(page, ['ended', 'error'], 15000).catch(() => {});
  const t = await tolmarOf(page);
  const states = await page.evaluate(() => window.seenStates);
  const names = states.map((s) => s.state).join(' ');
  await check(t.state === 'ended' && t.status === 0 && names === 'waiting lead-in timeline ended' &&
              states[2].at - states[1].at >= 2950,
              'leaving full screen in the lead-in ends the run as the timeline starts, status 0', `${JSON.stringify(t)} ${JSON.stringify(states)}`, page);
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
  const cases = [
    ['a source never started', musicPlays, 'never-started'],
    ['a source never connected', musicPlays, 'never-connected'],
    ['a source not set to loop', loopCheck, 'no-loop'],
  ];
  for (const [what, claim, fault] of cases) {
    const page = await openPage(browser, `${base}ok/?fault=${fault}`);
    await start(page);
    await waitForState(page, ['timeline'], LOAD_MS);
    const [ok, name, detail] = await claim(page);
    await check(!ok, `${what}: "${name}" fails`, detail, page);
    await page.close();
  }
}

// Each failure ends the run with the program's own text and status.
async function failures(browser, base) {
  const cases = [
    ['missing/', 'no tolmar.mp3 (HTTP 404)', 255, 'FMOD error! (23) File not found. '],
    ['text/', 'a text file as tolmar.mp3', 255, 'FMOD error! (25) Unsupported file or audio format. '],
    ['empty/', 'an empty tolmar.mp3', 255, 'FMOD error! (25) Unsupported file or audio format. '],
    ['wav/', 'a WAV file renamed tolmar.mp3', 255, 'FMOD error! (25) Unsupported file or audio format. '],
    ['folder/', 'tolmar.mp3 is a folder (HTTP 403)', 255, 'FMOD error! (19) Error loading file. '],
    ['ok/?fault=no-web-audio', 'a browser without Web Audio', 255, 'FMOD error! (62) Error initializing output device. '],
  ];
  for (const [where, what, status, message] of cases) await expectEnd(browser, `${base}${where}`, what, status, message);
}

async function expectEnd(browser, url, what, status, message) {
  const page = await openPage(browser, url);
  await start(page);
  await waitForState(page, ['ended', 'error'], LOAD_MS).catch(() => {});  // reported below
  const t = await tolmarOf(page);
  const state = status === 0 ? 'ended' : 'error';
  await check(t.state === state && t.status === status && t.message === message && t.line === message && t.lineShown,
              `${what}: status ${status}, "${message}" on the page`, JSON.stringify(t), page);
  await page.close();
}

// Still frames against frame-shot's at the same size. Both are the same GL
// calls on different software rasterisers (SwiftShader or the engine's own
// path here, llvmpipe there): they cover edge pixels differently and, where
// about 30 repeats of the 64x64 noise are squeezed into a triangle, may pick
// a neighbouring texel. So single pixels may differ a lot (a third of the
// picture's mean level, pixel by pixel, is usual); what must agree is the
// light in every 16x16 block (measured within 3.2 levels of 255; a frame
// missing its texture or its triangles is off by 11 or more there) and the
// frame's mean level.
async function shots(browser, base) {
  const page = await openPage(browser, `${base}ok/`);
  for (const seconds of SHOT_TIMES_S) {
    await page.goto(`${base}ok/?shot=${seconds}&w=${SHOT_W}&h=${SHOT_H}`);
    await waitForState(page, ['ended', 'error'], LOAD_MS).catch(() => {});  // reported below
    const t = await tolmarOf(page);
    if (!await check(t.state === 'ended' && t.status === 0 && !t.lineShown,
                     `?shot=${seconds} ends with status 0, no gesture and no text over the frame`, JSON.stringify(t), page)) {
      continue;
    }
    const url = await page.evaluate(() => document.getElementById('canvas').toDataURL('image/png'));
    const s = await imageStats(page, url, `../shots/${seconds}.png`, 16);
    const close = !s.sizeMismatch && s.w === SHOT_W && s.h === SHOT_H && s.worstBlock <= 6 &&
                  Math.abs(s.meanLevel - s.referenceLevel) <= 1;
    await check(close, `?shot=${seconds} matches frame-shot ${seconds} (every 16x16 block within 6 of 255, ` +
                       `mean level within 1): block ${s.worstBlock.toFixed(2)}, mean ${s.meanLevel.toFixed(2)} ` +
                       `against ${s.referenceLevel.toFixed(2)}, per pixel ${s.meanDiff.toFixed(2)}`,
                JSON.stringify(s), page);
  }
  await page.goto(`${base}ok/?shot=soon`);
  await waitForState(page, ['ended', 'error'], LOAD_MS).catch(() => {});
  const bad = await tolmarOf(page);
  await check(bad.state === 'error' && bad.status === 2 && bad.message.startsWith('shot:'),
              '?shot= with no number is refused', JSON.stringify(bad), page);
  await page.close();
}

async function noWebGL(base) {
  const browser = await launchEngine({noWebGL: true});
  try {
    await expectEnd(browser, `${base}ok/`, 'a browser without WebGL', 1,
                    'Cannot create the WebGL context: this browser has no WebGL, or it is switched off');
  } finally {
    await browser.close();
  }
}

// The one-file page, opened from disk: a copy with the recorder written in,
// beside nothing else.
async function oneFile(browser) {
  const what = 'tolmar.html from file://: ';
  if (!fs.existsSync(ONE_FILE)) {
    skip(`${what}waits for a gesture, plays, ends on Escape`, 'build-web/tolmar.html not built');
    return;
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-one-file-'));
  try {
    fs.writeFileSync(path.join(dir, 'tolmar.html'), withRecorder(fs.readFileSync(ONE_FILE, 'utf8')));
    await realRun(browser, null, {url: `file://${dir}/tolmar.html`, what, audio: false});
  } finally {
    fs.rmSync(dir, {recursive: true, force: true});
  }
}

async function main() {
  if (!launchEngine) throw new Error(`no engine "${ENGINE}": chromium, firefox or webkit`);
  if (ONLY_REAL_RUN && !RUN_MUSIC.reference) throw new Error('REAL_RUN needs REFERENCE, the decode of its music');
  const server = await startServer();
  const base = server.base;
  let browser;
  try {
    browser = await launchEngine();
    const groups = ONLY_REAL_RUN ? [] : [withheld, monoFile, failures, shots, oneFile];
    for (const group of [realRun, ...groups]) {
      try {
        await group(browser, base);
      } catch (e) {
        await check(false, `${group.name} ran to its end`, e.stack);
      }
    }
    await browser.close();
    browser = null;
    if (!ONLY_REAL_RUN) await noWebGL(base).catch((e) => check(false, 'noWebGL ran to its end', e.stack));
  } finally {
    if (browser) await browser.close().catch(() => {});
    server.stop();
  }
  console.log(`browser checks in ${ENGINE}: ${passed} passed, ${failed} failed, ${skipped} skipped`);
  process.exit(failed === 0 && passed > 0 ? 0 : 1);
}

main().catch((e) => {
  console.log(`FAIL: ${ENGINE}: the browser tests could not run: ${e.stack}`);
  process.exit(1);
});
