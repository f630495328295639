// The three browser engines behind one thin adapter, the only place a
// browser is launched: browser = await ENGINES[name]({noWebGL, ratio}) (ratio:
// the device pixel ratio, 2 unless given); page = await browser.open(url,
// {width, height, touch}); then page.goto, evaluate (an async function's
// result), resize (the window, to a page of that size), click and tap (real
// gestures; a tap is a touch where ENGINES[name].touches, else a click), key,
// screenshot (base64 PNG), hide, show and close; browser.close(). chromium: Debian's, headless, through
// puppeteer-core; firefox: firefox-esr through puppeteer-core's WebDriver
// BiDi; webkit: WebKitWebDriver's MiniBrowser through selenium-webdriver. The
// last two need a display (headless firefox has no WebGL here) and play
// sound only to a sound server.
'use strict';
const puppeteer = require('puppeteer-core');
const {spawn} = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const SCRIPT_MS = 120000;  // a limit for hangs only: a slow machine just takes longer

function puppeteerEngine(options, {tap, touchViewport = false}) {
  return Object.assign(async ({noWebGL = false, ratio = 2} = {}) => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tolmar-browser-'));
    const browser = await puppeteer.launch(options(noWebGL, dir));
    return {
      async open(url, {width, height, touch = false}) {
        const page = await browser.newPage();
        await page.setViewport({width, height, deviceScaleFactor: ratio,
                                ...(touch && touchViewport ? {isMobile: true, hasTouch: true} : {})});
        await page.goto(url);
        let other;
        return {
          goto: (to) => page.goto(to),
          evaluate: (fn, ...args) => page.evaluate(fn, ...args),
          click: (x, y) => page.mouse.click(x, y),
          resize: (w, h) => page.setViewport({width: w, height: h, deviceScaleFactor: ratio,
                                              ...(touch && touchViewport ? {isMobile: true, hasTouch: true} : {})}),
          tap: (x, y) => tap(page, Math.round(x), Math.round(y)),
          key: (name) => page.keyboard.press(name),
          screenshot: () => page.screenshot({encoding: 'base64'}),
          hide: async () => (other = await browser.newPage()).bringToFront(),
          show: async () => { await page.bringToFront(); await other.close(); },
          close: () => page.close(),
        };
      },
      async close() {
        await browser.close();
        fs.rmSync(dir, {recursive: true, force: true});
      },
    };
  }, {touches: true});
}

async function freePort() {
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const {port} = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

// Every call to WebKitWebDriver gets a limit: once, on a loaded machine, a
// call never answered and the checks hung until their script's limit. Past
// SCRIPT_MS, for hangs only.
const DRIVER_MS = SCRIPT_MS + 30000;
function limited(what, promise, ms = DRIVER_MS) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`WebKitWebDriver: no answer to ${what} in ${ms / 1000} s`)), ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// WebKitWebDriver starts one MiniBrowser window per session; a page is that
// window, so pages are opened one at a time (as the checks and the bench do).
// The driver and its browser run in a process group of their own, ended
// whole at close.
async function webkitSession(noWebGL, ratio) {
  const webdriver = require('selenium-webdriver');
  const port = await freePort();
  // GTK's own scale gives the page its device pixel ratio.
  const driverProcess = spawn('WebKitWebDriver', [`--port=${port}`],
                              {stdio: 'ignore', detached: true, env: {...process.env, GDK_SCALE: String(ratio)}});
  const end = () => { try { process.kill(-driverProcess.pid, 'SIGKILL'); } catch (e) { /* already gone */ } };
  const until = Date.now() + 60000;
  for (;;) {
    try {
      const driver = await limited('a new session', new webdriver.Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
        browserName: 'MiniBrowser',
        'webkitgtk:browserOptions': {binary: MINIBROWSER, args: ['--automation', ...(noWebGL ? ['--enable-webgl=false'] : [])]},
      }).build(), 60000);
      await limited('setTimeouts', driver.manage().setTimeouts({script: SCRIPT_MS}));
      return {driver, end};
    } catch (e) {
      if (Date.now() > until || driverProcess.exitCode !== null || /no answer/.test(e.message)) { end(); throw e; }
      await new Promise((resolve) => setTimeout(resolve, 100));  // the driver is not listening yet
    }
  }
}

async function webkit({noWebGL = false, ratio = 2} = {}) {
  const webdriver = require('selenium-webdriver');
  // A session that never comes is tried once more with a new driver.
  const {driver, end} = await webkitSession(noWebGL, ratio).catch((e) => {
    console.error(`${e.message}; starting WebKitWebDriver again`);
    return webkitSession(noWebGL, ratio);
  });
  const click = (x, y) => limited('a click', driver.actions().move({x, y, origin: webdriver.Origin.VIEWPORT}).click().perform());
  let shownRect;
  // The window holds a toolbar too: it is grown by what the page lacks (it
  // may reach past the screen's edge).
  const resize = async (width, height) => {
    const {width: outerW, height: outerH} = await limited('the window\'s size', driver.manage().window().getRect());
    const [w, h] = await limited('a script', driver.executeScript('return [innerWidth, innerHeight]'));
    await limited('the window\'s size', driver.manage().window().setRect({width: outerW + width - w, height: outerH + height - h}));
  };
  const page = {
    goto: (url) => limited(`loading ${url}`, driver.get(url)),
    evaluate: async (fn, ...args) => {
      const answer = await limited('a script', driver.executeAsyncScript(
        `const done = arguments[arguments.length - 1];
         Promise.resolve().then(() => (${fn}).apply(null, [...arguments].slice(0, -1)))
           .then((value) => done({value}), (e) => done({error: String(e && e.stack || e)}));`, ...args));
      if (answer.error) throw new Error(answer.error);
      return answer.value;
    },
    click,
    tap: click,
    resize,
    key: (name) => limited(`the key ${name}`, driver.actions().sendKeys(webdriver.Key[name.toUpperCase()]).perform()),
    screenshot: () => limited('a screenshot', driver.takeScreenshot()),
    // A second window covering it leaves the page visible; minimised it is
    // hidden, and given its size back it is shown.
    hide: async () => {
      shownRect = await limited('the window\'s size', driver.manage().window().getRect());
      await limited('minimising', driver.manage().window().minimize());
    },
    show: () => limited('the window\'s size', driver.manage().window().setRect(shownRect)),
    close: () => limited('loading about:blank', driver.get('about:blank')),
  };
  return {
    async open(url, {width, height}) {
      await limited('the window\'s size', driver.manage().window().setRect({width, height}));
      await resize(width, height);  // before the page loads
      await page.goto(url);
      return page;
    },
    async close() {
      await limited('quit', driver.quit(), 30000).catch(() => {});
      end();
    },
  };
}

const ENGINES = {
  // Debian's chromium, headless, drawing with SwiftShader.
  chromium: puppeteerEngine((noWebGL, dir) => ({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
           '--autoplay-policy=no-user-gesture-required', `--user-data-dir=${dir}`,
           ...(noWebGL ? ['--disable-3d-apis'] : [])],
  }), {tap: (page, x, y) => page.touchscreen.tap(x, y), touchViewport: true}),
  firefox: puppeteerEngine((noWebGL, dir) => ({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    headless: false,
    userDataDir: dir,
    extraPrefsFirefox: {'media.autoplay.default': 0, 'media.autoplay.block-webaudio': false, 'webgl.disabled': noWebGL,
                        'dom.w3c_touch_events.enabled': 1},
  }), {
    // puppeteer's own touch carries a pressure and angles Firefox refuses.
    tap: (page, x, y) => page.mainFrame().browsingContext.performActions([{
      type: 'pointer', id: 'finger', parameters: {pointerType: 'touch'},
      actions: [{type: 'pointerMove', x, y}, {type: 'pointerDown', button: 0}, {type: 'pointerUp', button: 0}],
    }]),
  }),
  webkit,
};
ENGINES.webkit.touches = false;  // its driver hands touch actions to the page as mouse events

module.exports = {ENGINES};
