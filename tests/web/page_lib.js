// What the web checks (web_test.js, life_test.js, audio_suite.js) and the
// bench share, over engines.js: the site served by Python's http.server with
// a recorder written into every page; reading and driving the page; the whole
// run; PASS/FAIL/SKIP lines named with the engine, counted.
'use strict';
const {spawn} = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const {ENGINES} = require('./engines');

// Generous: the machine is shared and the engines draw on the CPU.
const LOAD_MS = 60000;
const DEVICE_RATIO = 2;  // engines.js's default
const ROOT = path.join(__dirname, '../..');

// --- Lines and counts ----------------------------------------------------------
const counts = {passed: 0, failed: 0, skipped: 0};
let engine = '';

// A failed check on a page shows what the page said.
async function check(ok, what, detail, page) {
  counts[ok ? 'passed' : 'failed']++;
  console.log(`${ok ? 'PASS' : 'FAIL'}: ${engine}: ${what}${!ok && detail !== undefined ? `: ${detail}` : ''}`);
  if (!ok && page) {
    const log = await page.evaluate(() => window.seenConsole).catch((e) => [`(unreadable: ${e.message})`]);
    console.log(`--- the page's console ---\n${(log || []).join('\n')}\n---`);
  }
  return ok;
}

function skip(what, why) {
  counts.skipped++;
  console.log(`SKIP: ${engine}: ${what}: ${why}`);
}

// A script's checks in one engine: main(launch), with the engine's launcher;
// a throw is a failure of its own. Exits with the count.
function runChecks(name, main) {
  engine = name;
  Promise.resolve(ENGINES[name] || Promise.reject(new Error(`no engine "${name}": chromium, firefox or webkit`)))
    .then(main).catch((e) => check(false, 'the checks ran to their end', e.stack)).then(() => {
      console.log(`checks in ${engine}: ${counts.passed} passed, ${counts.failed} failed, ${counts.skipped} skipped`);
      process.exit(counts.failed === 0 && counts.passed > 0 ? 0 : 1);
    });
}

// Runs each group with args; one that throws is a failed check.
async function runGroups(groups, ...args) {
  for (const group of groups) {
    await Promise.resolve().then(() => group(...args)).catch((e) => check(false, `${group.name} ran to its end`, e.stack));
  }
}

// --- What every page gets first ------------------------------------------------
// Runs in the page before any of its own scripts, in every engine alike (it is
// written into the HTML, so no engine's own init-script API is needed): keeps
// the page's console; the states it went through with its own clock; what it
// asked of Web Audio (each buffer source made on a real context, started
// and when, stopped, connected to the output); each wake lock it was given; each
// full-screen exit; each hiding and showing with the clock, frames, the
// music's clock and the clock of the first frame presented after showing; and
// each text of its line. ?fault=NAME in the page's address withholds one
// browser feature (FAULTS) from the page.
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
    const real = proto && proto[name];
    if (!real) return;
    proto[name] = function (...args) {
      const result = real.apply(this, args);
      after.call(this, window.seenSources.get(this), args, result);
      return result;
    };
  };
  wrap(window.AudioContext && AudioContext.prototype, 'createBufferSource', (_, __, source) => {
    window.seenSources.set(source, {started: false, stopped: false, toDestination: false});
  });
  // Each buffer's place in the music (s): made in the decoder's order, dropped unplayed or not.
  let made = 0;
  window.seenBuffers = new Map();
  wrap(window.AudioContext && AudioContext.prototype, 'createBuffer', (_, __, b) => { window.seenBuffers.set(b, made); made += b.duration; });
  const source = window.AudioBufferSourceNode && AudioBufferSourceNode.prototype;
  wrap(source, 'start', function (seen, [when, offset = 0]) {
    if (seen) Object.assign(seen, {started: true, when, offset, now: this.context.currentTime});
  });
  wrap(source, 'stop', (seen) => { if (seen) seen.stopped = true; });
  wrap(window.AudioNode && AudioNode.prototype, 'connect', function (seen, [to]) {
    if (seen) seen.toDestination ||= to === this.context.destination;
  });
  Object.assign(window, {wakeLocks: [], visibility: [], exits: [], lines: []});
  wrap(window.WakeLock && WakeLock.prototype, 'request', (_, __, promise) => {
    promise.then((lock) => window.wakeLocks.push(lock), () => {});
  });
  let tolmar;
  let shown = null;
  Object.defineProperty(window, 'tolmar', {configurable: true, get: () => tolmar, set: (value) => {
    tolmar = value;
    let clock;
    Object.defineProperty(tolmar, 'frameClock', {enumerable: true, get: () => clock, set: (c) => {
      clock = c;
      if (shown) shown.firstFrameClock = c;
      shown = null;
    }});
  }});
  document.addEventListener('fullscreenchange', () => {
    if (!document.fullscreenElement) window.exits.push({at: performance.now(), frames: tolmar && tolmar.frames});
  });
  document.addEventListener('visibilitychange', () => {
    const audio = window.Module && Module.tolmarAudio && Object.values(Module.tolmarAudio.contexts)[0];
    window.visibility.push({state: document.visibilityState, at: performance.now(), frames: tolmar && tolmar.frames,
                            audioTime: audio && audio.currentTime});
    shown = document.visibilityState === 'visible' ? window.visibility.at(-1) : null;
  });
  document.addEventListener('DOMContentLoaded', () => {
    const line = document.getElementById('line');
    const watch = new MutationObserver(() => window.lines.push(line.textContent));
    if (line) watch.observe(line, {childList: true, characterData: true, subtree: true});
  });
  const fault = faults[new URLSearchParams(location.search).get('fault')];
  if (fault) fault();
}

// Browser features withheld from the page, one per run, by name.
const FAULTS = {
  'no-web-audio': () => { delete window.AudioContext; delete window.webkitAudioContext; },
  'never-started': () => { AudioBufferSourceNode.prototype.start = function () {}; },
  'never-connected': () => {
    const real = AudioNode.prototype.connect;
    AudioNode.prototype.connect = function (...args) {
      return this instanceof AudioBufferSourceNode ? undefined : real.apply(this, args);
    };
  },
  // Each buffer after the first starts a millisecond late.
  'late-start': () => {
    const real = AudioBufferSourceNode.prototype.start;
    let first = true;
    AudioBufferSourceNode.prototype.start = function (when, ...rest) {
      const late = this.context instanceof AudioContext && !first;
      first &&= !(this.context instanceof AudioContext);
      return real.call(this, late ? when + 1e-3 : when, ...rest);
    };
  },
  // A phone's browser.
  'no-fullscreen': () => { delete Element.prototype.requestFullscreen; delete Element.prototype.webkitRequestFullscreen; },
};

function withRecorder(html) {
  const faults = `{${Object.entries(FAULTS).map(([k, f]) => `${JSON.stringify(k)}: ${f}`).join(',\n')}}`;
  const script = `<script>(${pageRecorder})(${faults});</script>\n`;
  const at = html.search(/<script[\s>]/i);
  return at < 0 ? html.replace(/<\/head>/i, (end) => script + end) : html.slice(0, at) + script + html.slice(at);
}

// The one-file page as it is opened from the disk: a copy with the recorder
// written in, alone in a folder of its own. Returns its file:// URL and a
// function that removes it.
function recordedCopy(file) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-one-file-'));
  fs.writeFileSync(path.join(dir, 'tolmar.html'), withRecorder(fs.readFileSync(file, 'utf8')));
  return {url: `file://${dir}/tolmar.html`, remove: () => fs.rmSync(dir, {recursive: true, force: true})};
}

// --- The site ------------------------------------------------------------------
// An MP3 under these folders comes in eight pieces 250 ms apart (slow), or a
// quarter of it and then nothing, the connection held open (stall).
const PACED = {
  slow: (body, response) => {
    const piece = Math.ceil(body.length / 8);
    const send = (at) => (at >= body.length ? response.end()
                                            : response.write(body.subarray(at, at + piece), () => setTimeout(send, 250, at + piece)));
    send(0);
  },
  stall: (body, response) => response.write(body.subarray(0, Math.ceil(body.length / 4))),
};

// Serves SITE with Python's http.server, as docs/web.md does, the only place it
// is started from. With record, a proxy in front of it writes the recorder
// into each page, paces the MP3s of PACED's folders and refuses a folder
// asked for as a file with 403, as hosts that list no folders do (the page's
// failures follow the status). Resolves to {base, stop}.
async function serve(site, {record = true} = {}) {
  const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '--directory', site, '0'],
                       {stdio: ['ignore', 'pipe', 'pipe']});
  let said = '';  // the end of its log: what it said before ending
  server.stderr.on('data', (data) => { said = (said + data).slice(-2000); });
  process.on('exit', () => server.kill());
  const behind = await new Promise((resolve, reject) => {
    // "Serving HTTP on 127.0.0.1 port N (http://127.0.0.1:N/) ..."
    server.stdout.once('data', (data) => resolve(new URL(`http://127.0.0.1:${/ port (\d+) /.exec(data)[1]}/`)));
    server.once('error', reject);
    server.once('exit', (code) => reject(new Error(`the server ended with status ${code}: ${said}`)));
  });
  if (!record) return {base: behind.href, stop: () => server.kill()};
  const proxy = http.createServer((request, response) => {
    const ask = http.request({host: behind.hostname, port: behind.port, path: request.url, method: request.method,
                              headers: request.headers}, (answer) => {
      if (answer.statusCode === 301) {  // http.server's way to a folder's listing
        answer.resume();
        response.writeHead(403).end();
        return;
      }
      const parts = [];
      answer.on('data', (part) => parts.push(part)).on('end', () => {
        const html = /^text\/html/.test(answer.headers['content-type'] || '');
        const body = html ? Buffer.from(withRecorder(Buffer.concat(parts).toString('utf8'))) : Buffer.concat(parts);
        response.writeHead(answer.statusCode, html ? {...answer.headers, 'content-length': body.length} : answer.headers);
        const paced = answer.statusCode === 200 && /\.mp3$/.test(request.url) && PACED[request.url.split('/')[1]];
        paced ? paced(body, response) : response.end(body);
      });
    });
    ask.on('error', () => response.writeHead(502).end());
    request.pipe(ask);
  });
  await new Promise((resolve) => proxy.listen(0, '127.0.0.1', resolve));
  // A stalled answer is left open: the run ends with the process.
  return {base: `http://127.0.0.1:${proxy.address().port}/`, stop: () => { proxy.close(); server.kill(); }};
}

// --- Reading and driving the page ------------------------------------------------
// Polls the page until PREDICATE(ARG) holds; throws after TIMEOUT ms.
async function waitFor(page, predicate, arg, timeout, what) {
  const until = Date.now() + timeout;
  while (!(await page.evaluate(predicate, arg))) {
    if (Date.now() > until) throw new Error(`waited ${timeout} ms for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

async function waitForState(page, states, timeout = LOAD_MS) {
  await waitFor(page, (s) => !!window.tolmar && s.includes(window.tolmar.state), states, timeout, states.join(' or '));
}

async function tolmarOf(page) {
  return page.evaluate(() => ({...window.tolmar, line: document.getElementById('line').textContent,
                               lineShown: !document.getElementById('line').hidden}));
}

// Waits for one of STATES, then reads the page, whether it came or not (for a check to report).
async function settled(page, states, timeout = LOAD_MS) {
  await waitForState(page, states, timeout).catch(() => {});
  return tolmarOf(page);
}

// Waits for the run to end; checks it ended with STATUS and MESSAGE, shown
// on the page when it is a failure.
async function endsWith(page, what, status, message, timeout = LOAD_MS) {
  const t = await settled(page, ['ended', 'error'], timeout);
  const ok = t.state === (status === 0 ? 'ended' : 'error') && t.status === status && t.message === message &&
             (status === 0 || (t.line === message && t.lineShown));
  return check(ok, `${what}: status ${status}${message ? `, "${message}" on the page` : ''}`, JSON.stringify(t), page);
}

function openPage(browser, url) {
  return browser.open(url, {width: 480, height: 270});
}

// Waits for the start line, then clicks (or taps): a real user gesture.
async function start(page, {tap = false} = {}) {
  await waitFor(page, () => document.getElementById('line').textContent.startsWith('click'), null, LOAD_MS,
                'the start line');
  await (tap ? page.tap(20, 20) : page.click(20, 20));
}

// Waits for STATE (or the end) and checks the page is in it.
async function reaches(page, state, what, timeout = LOAD_MS) {
  const t = await settled(page, [state, 'ended', 'error'], timeout);
  return check(t.state === state, what, JSON.stringify(t), page);
}

// Opens URL, starts the run and waits for one of STATES (if any).
async function started(browser, url, states = []) {
  const page = await openPage(browser, url);
  await start(page);
  if (states.length) await waitForState(page, states);
  return page;
}

// Resolves once the page has drawn two more animation frames.
async function framesDrawn(page) {
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
}

// Reads an image (a URL or data URL) into RGBA pixels in the page: its size,
// brightest level and share of lit pixels; against a second image of the
// same size (or itself), the mean levels, the mean difference per pixel and
// the largest difference of the BLOCK x BLOCK blocks' means.
async function imageStats(page, url, againstUrl, block) {
  return page.evaluate(async (url, againstUrl, block) => {
    async function pixels(src) {
      const image = new Image();
      image.src = src;
      await image.decode();
      const context = new OffscreenCanvas(image.width, image.height).getContext('2d');
      context.drawImage(image, 0, 0);
      return {w: image.width, h: image.height, data: context.getImageData(0, 0, image.width, image.height).data};
    }
    const a = await pixels(url);
    const b = againstUrl ? await pixels(againstUrl) : a;
    if (b.w !== a.w || b.h !== a.h) return {sizeMismatch: `${b.w}x${b.h} against ${a.w}x${a.h}`};
    const s = {w: a.w, h: a.h, brightest: 0, litShare: 0, meanDiff: 0, meanLevel: 0, referenceLevel: 0};
    const blocks = new Map();  // block: [sum of a - b, values]
    for (let i = 0; i < a.data.length; i += 4) {
      const v = Math.max(a.data[i], a.data[i + 1], a.data[i + 2]);
      s.brightest = Math.max(s.brightest, v);
      s.litShare += v > 4 ? 1 / (a.w * a.h) : 0;
      const p = i / 4;
      const key = Math.floor((p % a.w) / block) + 1e4 * Math.floor(p / a.w / block);
      const entry = blocks.get(key) || blocks.set(key, [0, 0]).get(key);
      for (let c = i; c < i + 3; c++) {
        s.meanDiff += Math.abs(a.data[c] - b.data[c]) / (3 * a.w * a.h);
        s.meanLevel += a.data[c] / (3 * a.w * a.h);
        s.referenceLevel += b.data[c] / (3 * a.w * a.h);
        entry[0] += a.data[c] - b.data[c];
        entry[1]++;
      }
    }
    return {...s, worstBlock: Math.max(...[...blocks.values()].map(([d, n]) => Math.abs(d) / n))};
  }, url, againstUrl, block || 16);
}

async function screenStats(page) {
  return imageStats(page, `data:image/png;base64,${await page.screenshot()}`);
}

// The library's one stream has source nodes to come, each one the page
// made, started and never stopped, connected to its running context's
// output, whose clock moves on (waited for, however slowly). As [ok, what,
// detail] for check(), what between PREFIX and SUFFIX.
async function musicPlays(page, prefix = '', suffix = '') {
  const sound = await page.evaluate(async () => {
    const streams = Object.values(Module.tolmarAudio.sources);
    const own = streams.length === 1 ? streams[0] : [];
    const seen = own.map((source) => window.seenSources.get(source) || {});
    const context = own.length ? own[0].context : undefined;
    const playing = own.length > 0 && seen.every((s) => s.started && !s.stopped && s.toDestination) &&
                    context.state === 'running';
    const before = context ? context.currentTime : 0;
    while (playing && context.currentTime < before + 0.1) await new Promise((r) => setTimeout(r, 20));
    return {streams: streams.length, sources: own.length, started: seen.filter((s) => s.started).length,
            connected: seen.filter((s) => s.toDestination).length, state: context && context.state, playing};
  });
  return [sound.playing, `${prefix}the music plays${suffix}`, JSON.stringify(sound)];
}

// Waits (a limit for hangs only) for the canvas's buffer to be its box at
// the device's pixels, and two frames drawn since.
async function canvasAtBox(page) {
  await waitFor(page, () => {
    const c = document.getElementById('canvas');
    return c.width === Math.round(c.clientWidth * devicePixelRatio) && c.height === Math.round(c.clientHeight * devicePixelRatio);
  }, null, LOAD_MS, 'the canvas at its box').catch(() => {});  // the caller's check says
  await framesDrawn(page);
}

// The buffer fills the window at the device's pixels, and the last frame was
// drawn over all of it, unstretched: the projection matrix's [5] over [0] is
// its aspect (the picture only translates). As [ok, what, detail] for check().
async function viewFollows(page, what) {
  await canvasAtBox(page);
  const v = await page.evaluate(() => {
    const [c, ratio] = [document.getElementById('canvas'), devicePixelRatio];
    const gl = c.getContext('webgl');
    const program = gl.getParameter(gl.CURRENT_PROGRAM);
    const m = gl.getUniform(program, gl.getUniformLocation(program, 'matrix'));
    return {ratio, w: c.width, h: c.height, box: [c.clientWidth * ratio, c.clientHeight * ratio].join(),
            window: [innerWidth * ratio, innerHeight * ratio].join(), viewport: gl.getParameter(gl.VIEWPORT).join(), aspect: m[5] / m[0]};
  });
  const ok = v.box === `${v.w},${v.h}` && v.window === v.box && v.viewport === `0,0,${v.box}` && Math.abs(v.aspect * v.h / v.w - 1) < 1e-3;
  return [ok, `${what}: the canvas fills the window at ${v.ratio} device pixels, the frame drawn over it unstretched`, JSON.stringify(v)];
}

// The whole way through: waiting, the black lead-in, the lit timeline with
// its music, during(page) 4.5 s into it, Escape, then after(page). what: the
// page's name in the checks ('' for the site's, which also has its view and
// its states checked).
async function realRun(browser, url, {what = '', during, after} = {}) {
  const page = await started(browser, url);
  if (!await reaches(page, 'lead-in', `${what}the run reaches its lead-in`)) return;
  // Two frames drawn in the lead-in. The state is read before the screenshot
  // is taken; should a slow machine finish the lead-in meanwhile, the
  // timeline's first 0.97 s are black too.
  await framesDrawn(page);
  const stillLeadIn = (await tolmarOf(page)).state === 'lead-in';
  const black = await screenStats(page);
  await check(stillLeadIn && black.brightest <= 2, `${what}the screen is black during the lead-in`,
              `brightest ${black.brightest}, state still lead-in: ${stillLeadIn}`, page);
  if (!what) await canvasAtBox(page);  // full screen may still be settling
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
  if (!await reaches(page, 'timeline', `${what}the timeline follows the lead-in`)) return;
  // 4.5 s into the timeline by the page's own clock, however long that takes.
  await waitFor(page, () => performance.now() - window.seenStates[2].at >= 4500, null, LOAD_MS, '4.5 s of timeline');
  const lit = await screenStats(page);
  await check(lit.litShare > 0.1 && lit.brightest > 10, `${what}the picture is lit 4.5 s into the timeline`,
              JSON.stringify(lit), page);
  await check(...await musicPlays(page, what, ' during the timeline'), page);
  if (during) await during(page);

  await page.key('Escape');
  await endsWith(page, `${what}Escape ends the run`, 0, '');
  const left = await page.evaluate(() => ({fullscreen: !!document.fullscreenElement, states: window.seenStates}));
  const names = left.states.map((s) => s.state).join(' ');
  if (!what) {
    await check(!left.fullscreen, 'the end leaves full screen', '', page);
    await check(names === 'waiting lead-in timeline ended', 'the states go waiting, lead-in, timeline, ended', names, page);
  }
  const leadIn = left.states[2].at - left.states[1].at;
  await check(leadIn >= 2950, `${what}the lead-in lasts 3000 ms`, `${leadIn.toFixed(0)} ms`, page);
  if (after) await after(page);
  await page.close();
}

module.exports = {LOAD_MS, ROOT, check, skip, runChecks, runGroups, recordedCopy, serve, waitFor, waitForState, tolmarOf,
                  settled, endsWith, openPage, start, started, framesDrawn, imageStats, screenStats, musicPlays, realRun,
                  viewFollows};
