// The page around the program. It waits for a click or a key (browsers allow
// sound and full screen only after one), asks for full screen and unlocks Web
// Audio on that gesture, then runs main; the platform layer calls back into
// it for the view, each frame and the Escape key. window.tolmar tells
// embedding pages and tests where the run is:
//   state:   'waiting', 'lead-in', 'timeline', 'ended' or 'error'
//   status:  the exit status once the run is over (null before)
//   message: what the program printed, without the last newline
//   frames:  frames presented so far
//   frameClock: the page clock (performance.now(), whole ms) the last
//            presented frame was drawn for
// and a 'tolmarstate' event on window at each change of state (its detail a
// copy of window.tolmar), since the timeline may last a single frame.
// index.html?shot=SECONDS draws that one timeline frame at once instead (with
// &w=WIDTH&h=HEIGHT for a drawing buffer of that size), without music.
//
// The page's life beyond the program: the screen is kept awake during the
// run (Wake Lock, where offered); a tap during the run shows a close control
// for a few seconds, a touch screen's Escape; a lost WebGL context is waited
// for, and the platform layer gives up on it after GL_GIVE_UP_MS; the music's
// download and decoding are shown on the page's line. The one-file page
// (tolmar.html, made by tools/web-single.js) carries the program and the
// music inside it, as base64 in two elements this script reads.
(function () {
  var params = new URLSearchParams(window.location.search);
  var shot = params.has('shot');
  var canvas = document.getElementById('canvas');
  var line = document.getElementById('line');
  var tolmar = (window.tolmar = {state: 'waiting', status: null, message: '', frames: 0});
  var printed = [];
  var escapeRules = tolmarEscape();  // the key, the close control and full screen's exits (escape.js)
  var fullscreenAsked = null;  // settles once the browser has granted or refused
  var audioContext = null;     // made on the gesture, handed to the audio library
  var ready = false;
  var gestured = false;
  var wakeLock = null;         // held during the run while the page is shown
  var closeTimer = null;       // hides the close control again
  var glLostAt = null;         // the page clock when WebGL was lost, until restored
  var glRestored = false;      // restored since the platform layer last asked
  var boxSize = null;          // the canvas's box in CSS pixels, from the engine's resize events
  var boxDevicePixels = null;  // the same in device pixels, where the engine gives them exactly
  var CLOSE_SHOWN_MS = 4000;
  var GL_GIVE_UP_MS = 10000;
  var closeButton = document.getElementById('close');
  var embeddedMusic = document.getElementById('tolmar-music');
  var embeddedWasm = document.getElementById('tolmar-wasm');
  if (embeddedWasm) {
    var text = atob(embeddedWasm.textContent.trim());
    var bytes = new Uint8Array(text.length);
    for (var i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
    Module.wasmBinary = bytes;  // Emscripten's glue instantiates these instead of fetching tolmar.wasm
  }

  function show(text) {
    line.textContent = text;
    line.hidden = text === '';
  }

  function setState(state) {
    tolmar.state = state;
    window.dispatchEvent(new CustomEvent('tolmarstate', {detail: Object.assign({}, tolmar)}));
  }

  function running() {
    return tolmar.state === 'lead-in' || tolmar.state === 'timeline';
  }

  // Asked on the gesture and again each time the page is shown: browsers
  // release the lock themselves when the page is hidden.
  function keepAwake() {
    if (!navigator.wakeLock || wakeLock || !gestured || tolmar.status !== null ||
        document.visibilityState !== 'visible') {
      return;
    }
    wakeLock = 'asked';
    navigator.wakeLock.request('screen').then(function (lock) {
      wakeLock = lock;
      lock.addEventListener('release', function () {
        if (wakeLock === lock) wakeLock = null;
      });
      if (tolmar.status !== null) letSleep();
    }, function () { wakeLock = null; });
  }

  function letSleep() {
    if (wakeLock && wakeLock !== 'asked') {
      var lock = wakeLock;
      wakeLock = null;
      lock.release().catch(function () {});
    }
  }

  function showClose(shown) {
    clearTimeout(closeTimer);
    closeButton.hidden = !shown;
    canvas.style.cursor = shown ? 'default' : '';
    if (shown) closeTimer = setTimeout(function () { showClose(false); }, CLOSE_SHOWN_MS);
  }

  // A suspended or interrupted audio context the browser would not resume
  // at once (a phone call, a page put to sleep) is asked again whenever the
  // page may: shown, focused, or on a gesture.
  function wakeAudio() {
    if (running() && Module.tolmarAudio) Module.tolmarAudio.wakeUp();
  }

  function leaveFullscreen() {
    if (document.fullscreenElement && document.exitFullscreen) {
      document.exitFullscreen().catch(function () {});
    }
  }

  // The run is over: status as a POSIX shell reports it (exit(-1) is 255).
  function end(code, text) {
    if (tolmar.state === 'ended' || tolmar.state === 'error') return;
    var status = code & 255;
    tolmar.message = text !== undefined ? text : printed.join('\n');
    tolmar.status = status;
    setState(status === 0 ? 'ended' : 'error');
    leaveFullscreen();
    letSleep();
    showClose(false);
    // A run ended by the page or the platform layer (a lost context) leaves
    // no music playing behind it.
    var contexts = Module.tolmarAudio ? Module.tolmarAudio.contexts : {};
    for (var id in contexts) contexts[id].close().catch(function () {});
    canvas.style.cursor = 'default';
    if (status !== 0) {
      show(tolmar.message);
    } else {
      show(shot ? '' : 'The end. Reload the page to see it again.');
    }
  }

  // After the first size, the drawing buffer follows the canvas's box at the
  // device's pixels: a turned phone, a resized window, full screen entered or
  // left, a zoom or another screen. The engine's resize events only note the
  // box; the buffer takes it at the next animation frame, just before the
  // program reads it, so no drawn frame is cleared by a resize. An unchanged
  // size is never set again: setting it clears the buffer.
  function followBox() {
    if (typeof ResizeObserver !== 'function') return;  // the first size stays
    var observer = new ResizeObserver(function (entries) {
      var entry = entries[entries.length - 1];
      var box = entry.contentBoxSize && entry.contentBoxSize[0];
      var exact = entry.devicePixelContentBoxSize && entry.devicePixelContentBoxSize[0];
      boxSize = box ? [box.inlineSize, box.blockSize] : [entry.contentRect.width, entry.contentRect.height];
      boxDevicePixels = exact ? [exact.inlineSize, exact.blockSize] : null;
    });
    try {
      observer.observe(canvas, {box: 'device-pixel-content-box'});
    } catch (e) {
      observer.observe(canvas);  // an engine without it: the CSS box times the ratio, rounded
    }
    watchRatio();
  }

  // A new device pixel ratio (the window moved to another screen, a zoom)
  // leaves the box's CSS size as it was: the exact device pixels are
  // forgotten until the engine reports them again, the ratio's product
  // stands in meanwhile.
  function watchRatio() {
    var query = window.matchMedia('(resolution: ' + (window.devicePixelRatio || 1) + 'dppx)');
    var changed = function () {
      query.removeListener(changed);
      boxDevicePixels = null;
      watchRatio();
    };
    query.addListener(changed);
  }

  // The exact device pixels only settle the rounding of a fractional box:
  // ones further from the ratio's product are an engine that does not count
  // the ratio the page is given (Chromium's device emulation).
  function devicePixels(css, exact) {
    var product = css * (window.devicePixelRatio || 1);
    return Math.max(1, exact !== undefined && Math.abs(exact - product) < 1 ? exact : Math.round(product));
  }

  function sizeToBox() {
    if (!boxSize) return;
    var exact = boxDevicePixels || [];
    var width = devicePixels(boxSize[0], exact[0]);
    var height = devicePixels(boxSize[1], exact[1]);
    if (canvas.width !== width) canvas.width = width;
    if (canvas.height !== height) canvas.height = height;
  }

  // The still frame's limits are the program's (src/driver/web_shot.cpp):
  // 0 the last timeline second, 1 and 2 the smallest and largest side.
  function shotLimit(which) {
    return Module._tolmarShotLimit(which);
  }

  function sizeFromParam(name, fallback) {
    var value = Number(params.get(name));
    return Number.isInteger(value) && value >= shotLimit(1) && value <= shotLimit(2) ? value : fallback;
  }

  // A failure thrown out of the program: exit() called while it was suspended
  // arrives as Emscripten's ExitStatus, anything else is a crash.
  function failed(error) {
    if (error && error.name === 'ExitStatus') {
      end(error.status);
    } else {
      end(1, 'The program failed: ' + error);
    }
  }

  // main runs through ccall rather than callMain: its return, after the
  // swaps have suspended it many times, then still reaches the page.
  function startRun() {
    tolmar.startedAt = performance.now();
    Module.ccall('main', 'number', ['number', 'number'], [0, 0], {async: true}).then(
        function (code) { end(code); }, failed);
  }

  function runShot() {
    var seconds = params.get('shot') === '' ? NaN : Number(params.get('shot'));
    if (!(seconds >= 0 && seconds <= shotLimit(0))) {
      end(2, 'shot: SECONDS must be a number from 0 to ' + shotLimit(0));
      return;
    }
    Module.ccall('tolmarShot', 'number', ['number'], [seconds], {async: true}).then(
        function (code) { end(code); }, failed);
  }

  // Full screen and sound may only be asked for from inside the gesture.
  function gesture() {
    if (gestured || shot || tolmar.state !== 'waiting') return;
    gestured = true;
    show('');
    // Sound first: WebKit lets a gesture unlock only one of the two, and a
    // context resumed after the full-screen request stays suspended there.
    var Context = window.AudioContext || window.webkitAudioContext;
    if (Context) {
      try {
        audioContext = new Context();
        audioContext.resume().catch(function () {});
      } catch (e) {
        audioContext = null;
      }
    }
    // The wake lock before full screen too: WebKit refuses a lock asked after
    // the full-screen request in the same gesture.
    keepAwake();
    // On a touch screen the whole page goes full screen, so that the close
    // control can show over the canvas.
    var target = window.matchMedia('(pointer: coarse)').matches ? document.documentElement : canvas;
    var ask = target.requestFullscreen || target.webkitRequestFullscreen;
    if (ask) {
      try {
        fullscreenAsked = Promise.resolve(ask.call(target, {navigationUI: 'hide'})).catch(function () {});
      } catch (e) {
        fullscreenAsked = null;
      }
    }
    if (ready) startRun();
  }

  // A click, not a pointer press: on touch screens only the end of a touch
  // lets a page start sound or full screen. During the run a click or tap
  // shows the close control; the tap that shows it has already been
  // delivered, to the canvas, so a stray touch never presses it.
  window.addEventListener('click', function (event) {
    if (running() && event.target !== closeButton) showClose(true);
    wakeAudio();
    gesture();
  });
  closeButton.addEventListener('click', function () {
    if (running()) escapeRules.close();  // ends the run as Escape does
    showClose(false);
  });
  document.addEventListener('visibilitychange', function () {
    if (document.visibilityState === 'hidden') escapeRules.hide();
    else escapeRules.show(!!document.fullscreenElement);
    keepAwake();
    wakeAudio();
  });
  window.addEventListener('focus', wakeAudio);
  // The context is kept for a restore (the default would be to give it up),
  // and the platform layer is told when it comes back.
  canvas.addEventListener('webglcontextlost', function (event) {
    event.preventDefault();
    glLostAt = performance.now();
  });
  canvas.addEventListener('webglcontextrestored', function () {
    glLostAt = null;
    glRestored = true;
  });
  window.addEventListener('keydown', function (event) {
    if (event.key === 'Escape') {
      if (running()) {
        escapeRules.key(true);
        event.preventDefault();
      }
      return;  // Escape never starts the piece
    }
    wakeAudio();
    gesture();
  });
  window.addEventListener('keyup', function (event) {
    if (event.key === 'Escape') escapeRules.key(false);
  });
  window.addEventListener('blur', function () { escapeRules.key(false); });
  document.addEventListener('fullscreenchange', function () {
    escapeRules.fullscreenChange(!!document.fullscreenElement, running(), performance.now());
  });

  Module.canvas = canvas;
  Module.print = function (text) {
    printed.push(text);
    console.log(text);
  };
  Module.printErr = function (text) { console.warn(text); };
  Module.onExit = function (code) { end(code); };
  Module.onAbort = function (what) { end(1, 'The program failed: ' + what); };
  Module.onRuntimeInitialized = function () {
    ready = true;
    if (shot) {
      runShot();
    } else if (gestured) {
      startRun();
    } else {
      show('click or press a key to start');
    }
  };

  // Called by the platform layer (src/platform/web.cpp) and the audio library.
  Module.tolmarPage = {
    keepFrames: shot,
    takeAudioContext: function () {
      var context = audioContext;
      audioContext = null;
      return context;
    },
    // The music's URL: the page's own bytes in the one-file page.
    musicUrl: function (name) {
      return embeddedMusic ? 'data:audio/mpeg;base64,' + embeddedMusic.textContent.trim() : name;
    },
    // got of total bytes (total 0 when the server does not say), then
    // decoding (got -1).
    musicProgress: function (got, total) {
      if (got < 0) {
        show('decoding the music…');
      } else {
        show('loading the music: ' + (total > 0 ? Math.min(100, Math.floor(got * 100 / total)) + ' %'
                                                  : (got / 1e6).toFixed(1) + ' MB'));
      }
    },
    openView: async function () {
      show('');
      if (!shot) {
        setState('lead-in');
        // The canvas takes the screen's size only once full screen is in.
        if (fullscreenAsked) {
          await Promise.race([fullscreenAsked, new Promise(function (r) { setTimeout(r, 1000); })]);
        }
        await new Promise(function (r) { requestAnimationFrame(r); });
      }
      var ratio = window.devicePixelRatio || 1;
      canvas.width = sizeFromParam('w', Math.max(1, Math.round(canvas.clientWidth * ratio)));
      canvas.height = sizeFromParam('h', Math.max(1, Math.round(canvas.clientHeight * ratio)));
      if (!shot) followBox();  // a still frame keeps the size it was asked for
    },
    nextFrame: function (clock) {
      tolmar.frameClock = clock;
      if (tolmar.frames++ === 0) tolmar.firstFrameAt = performance.now();
      escapeRules.frame();
      return new Promise(function (r) {
        requestAnimationFrame(function () {
          sizeToBox();
          r();
        });
      });
    },
    // The driver polls Escape only in the timeline, so the first poll marks it.
    pollEscape: function () {
      if (tolmar.state === 'lead-in') setState('timeline');
      return escapeRules.poll(performance.now());
    },
    // 0 drawing (or lost for less than GL_GIVE_UP_MS), 1 restored since
    // last asked, 2 lost for longer.
    glState: function () {
      if (glRestored) {
        glRestored = false;
        return 1;
      }
      return glLostAt !== null && performance.now() - glLostAt >= GL_GIVE_UP_MS ? 2 : 0;
    },
  };
})();
