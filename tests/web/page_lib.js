// What the browser tests of the page share: PASS/FAIL lines and their count,
// Debian's chromium launched headless with a fresh profile, pages that keep
// their console and the states they went through, and waiting for a state.
'use strict';
const puppeteer = require('puppeteer-core');
const {chromiumOptions} = require('./engines');
const fs = require('fs');
const os = require('os');
const path = require('path');

// Generous: the machine is shared and SwiftShader draws on the CPU.
const LOAD_MS = 60000;

const counts = {passed: 0, failed: 0};
const userDirs = [];

// One PASS or FAIL line; a failure shows the page's console.
function check(ok, what, detail, page) {
  if (ok) {
    counts.passed++;
    console.log(`PASS: ${what}`);
  } else {
    counts.failed++;
    console.log(`FAIL: ${what}${detail !== undefined ? `: ${detail}` : ''}`);
    if (page) console.log(`--- the page's console ---\n${page.log.join('\n')}\n---`);
  }
  return ok;
}

async function launch() {
  const userDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-chromium-'));
  userDirs.push(userDir);
  return puppeteer.launch(chromiumOptions(false, userDir));
}

// A page that keeps its console and the states it went through, each with
// the page's clock (window.seenStates); beforeLoad runs ahead of the page's
// own scripts.
async function openPage(browser, url, {viewport = {width: 480, height: 270}, beforeLoad} = {}) {
  const page = await browser.newPage();
  page.log = [];
  page.on('console', (m) => page.log.push(`${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => page.log.push(`pageerror: ${e.message}`));
  await page.setViewport(viewport);
  await page.evaluateOnNewDocument(() => {
    window.seenStates = [{state: 'waiting', at: 0}];
    window.addEventListener('tolmarstate', (e) => window.seenStates.push({state: e.detail.state, at: performance.now()}));
  });
  if (beforeLoad) await page.evaluateOnNewDocument(beforeLoad);
  await page.goto(url);
  return page;
}

async function waitForState(page, states, timeout = LOAD_MS) {
  await page.waitForFunction((s) => s.includes(window.tolmar.state), {timeout, polling: 20}, states);
}

async function tolmarOf(page) {
  return page.evaluate(() => ({...window.tolmar, line: document.getElementById('line').textContent,
                               lineShown: !document.getElementById('line').hidden}));
}

// Waits for the start line, then clicks (or taps), a real user gesture.
async function start(page, tap = false) {
  await page.waitForFunction(() => document.getElementById('line').textContent.startsWith('click'),
                             {timeout: LOAD_MS});
  await (tap ? page.touchscreen.tap(20, 20) : page.mouse.click(20, 20));
}

// Resolves once the page has drawn two more animation frames.
async function framesDrawn(page) {
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
}

// The share of lit pixels in a screenshot and the brightest level.
async function litStats(page) {
  const url = `data:image/png;base64,${await page.screenshot({encoding: 'base64'})}`;
  return page.evaluate(async (url) => {
    const image = new Image();
    image.src = url;
    await image.decode();
    const context = new OffscreenCanvas(image.width, image.height).getContext('2d');
    context.drawImage(image, 0, 0);
    const data = context.getImageData(0, 0, image.width, image.height).data;
    let lit = 0;
    let brightest = 0;
    for (let i = 0; i < data.length; i += 4) {
      const v = Math.max(data[i], data[i + 1], data[i + 2]);
      brightest = Math.max(brightest, v);
      if (v > 4) lit++;
    }
    return {litShare: lit / (image.width * image.height), brightest};
  }, url);
}

// Runs the groups in turn (a group that throws is a failure of its own),
// cleans up and exits with the count.
async function runGroups(groups, cleanUp) {
  for (const group of groups) {
    try {
      await group();
    } catch (e) {
      check(false, `${group.name} ran to its end`, e.stack);
    }
  }
  await cleanUp().catch(() => {});
  for (const dir of userDirs) fs.rmSync(dir, {recursive: true, force: true});
  console.log(`browser checks: ${counts.passed} passed, ${counts.failed} failed`);
  process.exit(counts.failed === 0 && counts.passed > 0 ? 0 : 1);
}

module.exports = {LOAD_MS, check, launch, openPage, waitForState, tolmarOf, start, framesDrawn, litStats, runGroups};
