// The three browser engines behind one thin adapter, for the web checks
// (web_test.js) and the web bench (bench/web/bench.js):
//   const browser = await ENGINES[name]({noWebGL, ratio});
//   const page = await browser.open(url, {width, height});
//   page.goto(url), page.evaluate(fn, ...args) (an async fn's result, as
//   puppeteer gives it), page.click(x, y) (a real user gesture),
//   page.key('Escape'), page.screenshot() (base64 PNG), page.close();
//   browser.close(); and waitFor(page, predicate, arg, timeout, what).
// chromium: Debian's chromium, headless, through puppeteer-core. firefox:
// firefox-esr through puppeteer-core's WebDriver BiDi. webkit: WebKitWebDriver
// and its MiniBrowser through selenium-webdriver. firefox and webkit need a
// display (headless firefox has no WebGL here) and play sound only to a sound
// server. ratio is the device pixel ratio the pages get (default 2).
'use strict';
const puppeteer = require('puppeteer-core');
const {spawn} = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const SCRIPT_MS = 120000;  // a limit for hangs only: a slow machine just takes longer

function puppeteerEngine(options) {
  return async ({noWebGL = false, ratio = 2} = {}) => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-browser-'));
    const browser = await puppeteer.launch(options(noWebGL, dir));
    return {
      async open(url, {width, height}) {
        const page = await browser.newPage();
        await page.setViewport({width, height, deviceScaleFactor: ratio});
        await page.goto(url);
        return {
          goto: (to) => page.goto(to),
          evaluate: (fn, ...args) => page.evaluate(fn, ...args),
          click: (x, y) => page.mouse.click(x, y),
          key: (name) => page.keyboard.press(name),
          screenshot: () => page.screenshot({encoding: 'base64'}),
          close: () => page.close(),
        };
      },
      async close() {
        await browser.close();
        fs.rmSync(dir, {recursive: true, force: true});
      },
    };
  };
}

async function freePort() {
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const {port} = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

// WebKitWebDriver starts one MiniBrowser window per session; a page is that
// window, so pages are opened one at a time (as the checks and the bench do).
async function webkit({noWebGL = false, ratio = 2} = {}) {
  const webdriver = require('selenium-webdriver');
  const port = await freePort();
  // GTK's own scale gives the page its device pixel ratio.
  const driverProcess = spawn('WebKitWebDriver', [`--port=${port}`],
                              {stdio: 'ignore', env: {...process.env, GDK_SCALE: String(ratio)}});
  let driver;
  for (let tries = 0; !driver; tries++) {
    try {
      driver = await new webdriver.Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
        browserName: 'MiniBrowser',
        'webkitgtk:browserOptions': {binary: MINIBROWSER, args: ['--automation', ...(noWebGL ? ['--enable-webgl=false'] : [])]},
      }).build();
    } catch (e) {
      if (tries > 600 || driverProcess.exitCode !== null) throw e;
      await new Promise((resolve) => setTimeout(resolve, 100));  // the driver is not listening yet
    }
  }
  await driver.manage().setTimeouts({script: SCRIPT_MS});
  const page = {
    goto: (url) => driver.get(url),
    evaluate: async (fn, ...args) => {
      const answer = await driver.executeAsyncScript(
        `const done = arguments[arguments.length - 1];
         Promise.resolve().then(() => (${fn}).apply(null, [...arguments].slice(0, -1)))
           .then((value) => done({value}), (e) => done({error: String(e && e.stack || e)}));`, ...args);
      if (answer.error) throw new Error(answer.error);
      return answer.value;
    },
    click: (x, y) => driver.actions().move({x, y, origin: webdriver.Origin.VIEWPORT}).click().perform(),
    key: (name) => driver.actions().sendKeys(webdriver.Key[name.toUpperCase()]).perform(),
    screenshot: () => driver.takeScreenshot(),
    close: () => driver.get('about:blank'),
  };
  return {
    async open(url, {width, height}) {
      // The window holds a toolbar too: it is grown by what the page lacks
      // before the page loads (it may reach past the screen's edge).
      await driver.manage().window().setRect({width, height});
      const [w, h] = await driver.executeScript('return [innerWidth, innerHeight]');
      await driver.manage().window().setRect({width: 2 * width - w, height: 2 * height - h});
      await driver.get(url);
      return page;
    },
    async close() {
      await driver.quit().catch(() => {});
      driverProcess.kill();
    },
  };
}

// Debian's chromium, headless, drawing with SwiftShader, with a profile of
// its own in DIR (also what the page's life checks launch).
function chromiumOptions(noWebGL, dir) {
  return {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
           '--autoplay-policy=no-user-gesture-required', `--user-data-dir=${dir}`,
           ...(noWebGL ? ['--disable-3d-apis'] : [])],
  };
}

const ENGINES = {
  chromium: puppeteerEngine(chromiumOptions),
  firefox: puppeteerEngine((noWebGL, dir) => ({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    headless: false,
    userDataDir: dir,
    extraPrefsFirefox: {'media.autoplay.default': 0, 'media.autoplay.block-webaudio': false, 'webgl.disabled': noWebGL},
  })),
  webkit,
};

// Polls the page until PREDICATE(ARG) holds; throws after TIMEOUT ms.
async function waitFor(page, predicate, arg, timeout, what) {
  const until = Date.now() + timeout;
  while (!(await page.evaluate(predicate, arg))) {
    if (Date.now() > until) throw new Error(`waited ${timeout} ms for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

module.exports = {ENGINES, chromiumOptions, waitFor};
