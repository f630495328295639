// The page's Escape rules (src/platform/web/escape.js) in Node, over the
// orders of hiding, showing and leaving full screen a viewer can bring about.
// Each case runs its steps, polling where it says; unless the run has ended,
// the viewer then presses Escape once (in full screen the browser takes the
// key and leaves it; in the window the page gets the key), which must end it.
// Usage: node escape_test.js. Prints PASS/FAIL per case; exits 1 on any failure.
'use strict';
const path = require('path');
const tolmarEscape = require(path.join(__dirname, '../../src/platform/web/escape.js'));

// Steps: in / out (full screen entered, left and announced, during the run),
// idle-out (left before the run), lose (full screen gone with the announcement
// still to come), hide, show, wait (500 ms and 3 frames), poll.
const CASES = [
  ['Escape in full screen, counted once the page stayed visible', 'in out poll wait poll', [false, true]],
  ['an exit announced, then the page hidden', 'in out hide show wait poll', [false]],
  ['an exit announced while hidden', 'in hide out show wait poll', [false]],
  ['an exit announced only once shown again', 'in hide lose show out wait poll', [false]],
  ['hidden and shown in full screen (a covered window)', 'in hide show wait poll', [false]],
  ['that twice, then hidden and the exit announced on return', 'in hide show hide show hide lose show out wait poll', [false]],
  ['full screen left before the run', 'in idle-out wait poll', [false]],
];

let failures = 0;
for (const [name, steps, wanted] of CASES) {
  const rules = tolmarEscape();
  let now = 0;
  let fullscreen = false;  // the browser's own state
  const polls = [];
  const act = {
    in: () => rules.fullscreenChange((fullscreen = true), true, now),
    out: () => rules.fullscreenChange((fullscreen = false), true, now),
    'idle-out': () => rules.fullscreenChange((fullscreen = false), false, now),
    lose: () => { fullscreen = false; },
    hide: () => rules.hide(),
    show: () => rules.show(fullscreen),
    wait: () => { now += 500; for (let i = 0; i < 3; i++) rules.frame(); },
    poll: () => polls.push(rules.poll(now)),
    key: () => { rules.key(true); rules.key(false); },
  };
  const run = (list) => list.split(' ').forEach((step) => act[step]());
  run(steps);
  if (!polls.at(-1)) run(fullscreen ? 'out wait poll' : 'key poll');
  const want = wanted.at(-1) ? wanted : [...wanted, true];
  const ok = JSON.stringify(polls) === JSON.stringify(want);
  failures += !ok;
  console.log(ok ? `PASS: escape: ${name}; one Escape ends the run`
                 : `FAIL: escape: ${name}: polls ${JSON.stringify(polls)}, wanted ${JSON.stringify(want)}`);
}
process.exit(failures ? 1 : 0);
