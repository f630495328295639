// The page around the program. It waits for a click or a key (browsers allow
// sound and full screen only after one), asks for full screen and unlocks Web
// Audio on that gesture, then runs main; the platform layer calls back into
// it for the view, each frame and the Escape key. window.tolmar tells
// embedding pages and tests where the run is:
//   state:   'waiting', 'lead-in', 'timeline', 'ended' or 'error'
//   status:  the exit status once the run is over (null before)
//   message: what the program printed, without the last newline
// and a 'tolmarstate' event on window at each change of state (its detail a
// copy of window.tolmar), since the timeline may last a single frame.
// index.html?shot=SECONDS draws that one timeline frame at once instead (with
// &w=WIDTH&h=HEIGHT for a drawing buffer of that size), without music.
(function () {
  var params = new URLSearchParams(window.location.search);
  var shot = params.has('shot');
  var canvas = document.getElementById('canvas');
  var line = document.getElementById('line');
  var tolmar = (window.tolmar = {state: 'waiting', status: null, message: '', frames: 0});
  var printed = [];
  var escapeDown = false;
  var escapePressed = false;  // since the last poll
  var fullscreenAsked = null;  // settles once the browser has granted or refused
  var wasFullscreen = false;
  var audioContext = null;     // made on the gesture, handed to the audio library
  var ready = false;
  var gestured = false;

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
    canvas.style.cursor = 'default';
    if (status !== 0) {
      show(tolmar.message);
    } else {
      show(shot ? '' : 'The end. Reload the page to see it again.');
    }
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
    var ask = canvas.requestFullscreen || canvas.webkitRequestFullscreen;
    if (ask) {
      try {
        fullscreenAsked = Promise.resolve(ask.call(canvas, {navigationUI: 'hide'})).catch(function () {});
      } catch (e) {
        fullscreenAsked = null;
      }
    }
    var Context = window.AudioContext || window.webkitAudioContext;
    if (Context) {
      try {
        audioContext = new Context();
        audioContext.resume().catch(function () {});
      } catch (e) {
        audioContext = null;
      }
    }
    if (ready) startRun();
  }

  // A click, not a pointer press: on touch screens only the end of a touch
  // lets a page start sound or full screen.
  window.addEventListener('click', gesture);
  window.addEventListener('keydown', function (event) {
    if (event.key === 'Escape') {
      if (running()) {
        escapeDown = true;
        escapePressed = true;
        event.preventDefault();
      }
      return;  // Escape never starts the piece
    }
    gesture();
  });
  window.addEventListener('keyup', function (event) {
    if (event.key === 'Escape') escapeDown = false;
  });
  window.addEventListener('blur', function () { escapeDown = false; });
  // Browsers take Escape in full screen to leave it, and may not pass the key
  // on: leaving full screen during the run counts as Escape.
  document.addEventListener('fullscreenchange', function () {
    if (document.fullscreenElement) {
      wasFullscreen = true;
    } else if (wasFullscreen && running()) {
      escapePressed = true;
    }
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
    openView: async function () {
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
    },
    nextFrame: function () {
      if (tolmar.frames++ === 0) tolmar.firstFrameAt = performance.now();
      return new Promise(function (r) { requestAnimationFrame(r); });
    },
    // The driver polls Escape only in the timeline, so the first poll marks it.
    pollEscape: function () {
      if (tolmar.state === 'lead-in') setState('timeline');
      var pressed = escapePressed || escapeDown;
      escapePressed = false;
      return pressed;
    },
  };
})();
