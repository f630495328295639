// The page's Escape: the key, the touch screen's close control, and leaving
// full screen, which browsers do themselves on Escape without always passing
// the key on. Hiding the page (another tab, a minimised or covered window)
// may take full screen away too, and the run goes on after that exit; but a
// browser that keeps full screen while the page is hidden leaves it later
// only on the viewer's Escape, which must count. The page (page.js) tells
// this unit what happens and polls it; Node loads it for
// tests/web/escape_test.js. Times are the page clock, in ms.
var tolmarEscape = function () {
  // A page being hidden may announce leaving full screen first and still
  // draw a frame or two before it hears it is hidden: an exit counts as
  // Escape once the page has stayed visible this long, over this many frames.
  var CONFIRM_MS = 500;
  var CONFIRM_FRAMES = 3;
  var down = false;
  var pressed = false;      // since the last poll
  var fullscreen = false;   // as the browser last announced it
  var hidden = false;
  var leftAt = null;        // an exit waiting to count, and the frames since
  var framesSinceLeft = 0;
  var hidingsExit = false;  // shown without full screen: its exit is still to be announced

  return {
    key: function (isDown) {
      down = isDown;
      if (isDown) pressed = true;
    },
    close: function () { pressed = true; },
    hide: function () {
      hidden = true;
      leftAt = null;  // the exit just announced came with the hiding
    },
    // Some browsers announce the exit the hiding brought only once shown
    // again, while full screen is already gone.
    show: function (fullscreenNow) {
      hidden = false;
      if (fullscreen && !fullscreenNow) hidingsExit = true;
    },
    // inRun: the exit would end a run (its lead-in or timeline).
    fullscreenChange: function (isIn, inRun, now) {
      var left = fullscreen && !isIn;
      fullscreen = isIn;
      if (isIn) {
        hidingsExit = false;
        leftAt = null;
      }
      if (!left) return;
      var escape = inRun && !hidden && !hidingsExit;
      hidingsExit = false;
      if (escape) {
        leftAt = now;
        framesSinceLeft = 0;
      }
    },
    frame: function () { framesSinceLeft++; },
    poll: function (now) {
      if (leftAt !== null && now - leftAt >= CONFIRM_MS && framesSinceLeft >= CONFIRM_FRAMES) {
        pressed = true;
        leftAt = null;
      }
      var result = pressed || down;
      pressed = false;
      return result;
    },
  };
};
if (typeof module !== 'undefined') module.exports = tolmarEscape;
