// Writes the piece as one web page: the web build's index.html with its
// script, the program (tolmar.wasm) and the music inside it, each file as
// base64 in an element the page script reads (src/platform/web/page.js), so
// the page plays opened from the disk (file://) with nothing beside it; and
// the notices the program carries (the build's notices/), as text.
// Usage: node web-single.js BUILD_DIR MUSIC.mp3 OUT.html
// OUT is whole or not there. Exit status: 0 written, 1 a file could not be
// read or written, 2 bad use or MUSIC unreadable. tools/web-single.sh is the
// command for people (it checks the music first); the web build runs this for
// build-web/tolmar.html.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

function quit(status, line) {
  console.error(`web-single: ${line}`);
  process.exit(status);
}

if (process.argv.length !== 5) quit(2, 'usage: node tools/web-single.js BUILD_DIR MUSIC.mp3 OUT.html');
const [build, musicFile, out] = process.argv.slice(2);

// status: what a file (or, with fs.readdirSync, a folder) that cannot be
// read ends with.
function read(file, status, how = fs.readFileSync) {
  try {
    return how(file);
  } catch (e) {
    quit(status, `cannot read ${file}: ${e.code || e.message}`);
  }
  return null;
}

const music = read(musicFile, 2);

const page = read(path.join(build, 'index.html'), 1).toString('utf8');
// A script element's text ends at the first "</script"; the glue is escaped
// where it could hold one, which JavaScript reads the same.
const script = read(path.join(build, 'tolmar.js'), 1).toString('utf8').replace(/<\/(script)/gi, '<\\/$1');
const wasm = read(path.join(build, 'tolmar.wasm'), 1);
// Each notice as plain text nothing reads, under its file's name.
const noticeDir = path.join(build, 'notices');
const notices = read(noticeDir, 1, fs.readdirSync).sort().map((name) =>
  `<script type="text/plain" class="tolmar-notice" data-name="${name}">\n` +
  `${read(path.join(noticeDir, name), 1).toString('utf8').replace(/<\/(script)/gi, '<\\/$1')}</script>\n`).join('');
const tag = '<script src="tolmar.js"></script>';
if (!page.includes(tag)) quit(1, `${build}/index.html does not load tolmar.js as the web build writes it`);
const inside = notices +
  `<script type="application/octet-stream" id="tolmar-wasm">${wasm.toString('base64')}</script>\n` +
  `<script type="application/octet-stream" id="tolmar-music">${music.toString('base64')}</script>\n` +
  `<script>\n${script}\n</script>`;

// Written under a name no other run takes, beside OUT, and renamed over it;
// removed when the writing fails or the run is stopped.
const part = path.join(path.dirname(out), `.${path.basename(out)}.${process.pid}-${crypto.randomBytes(4).toString('hex')}.part`);
for (const [signal, status] of [['SIGINT', 130], ['SIGTERM', 143], ['SIGHUP', 129]]) {
  process.on(signal, () => {
    fs.rmSync(part, {force: true});
    process.exit(status);
  });
}
fs.promises.writeFile(part, page.replace(tag, () => inside), {flag: 'wx'})
  .then(() => fs.promises.rename(part, out))
  .catch((e) => {
    fs.rmSync(part, {force: true});
    quit(1, `cannot write ${out}: ${e.code || e.message}`);
  });
