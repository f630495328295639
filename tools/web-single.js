// Writes the piece as one web page: the web build's index.html with its
// script, the program (tolmar.wasm) and the music inside it, each file as
// base64 in an element the page script reads (src/platform/web/page.js), so
// the page plays opened from the disk (file://) with nothing beside it.
// Usage: node web-single.js BUILD_DIR MUSIC.mp3 OUT.html
//        node web-single.js --check MUSIC.mp3   (only looks at the music)
// The page is written beside OUT and renamed over it: OUT is whole or not
// there. Exit status: 0 written, 1 a file could not be read or written,
// 2 bad use or MUSIC is no MP3 audio. tools/web-single.sh is the command for
// people; the web build runs this for build-web/tolmar.html.
'use strict';
const fs = require('fs');
const path = require('path');

function quit(status, line) {
  console.error(`web-single: ${line}`);
  process.exit(status);
}

// Layer III bitrates in kbit/s by index, as the audio library reads them
// (src/audio/mp3frames.cpp); 0 (free format) and 15 are refused.
const MPEG1_KBPS = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0];
const MPEG2_KBPS = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0];
const MPEG1_RATES_HZ = [44100, 48000, 32000];

// A Layer III frame header's length in bytes, or 0 for no header.
function frameBytes(d, at) {
  if (at + 4 > d.length || d[at] !== 0xff || (d[at + 1] & 0xe0) !== 0xe0) return 0;
  const version = (d[at + 1] >> 3) & 3;  // 0 = 2.5, 1 = reserved, 2 = 2, 3 = 1
  const bitrate = d[at + 2] >> 4;
  const rate = (d[at + 2] >> 2) & 3;
  if (version === 1 || ((d[at + 1] >> 1) & 3) !== 1 || bitrate === 0 || bitrate === 15 || rate === 3) return 0;
  const rateHz = MPEG1_RATES_HZ[rate] / (version === 3 ? 1 : version === 2 ? 2 : 4);
  const samples = version === 3 ? 1152 : 576;
  const kbps = (version === 3 ? MPEG1_KBPS : MPEG2_KBPS)[bitrate];
  return Math.floor((samples / 8) * kbps * 1000 / rateHz) + ((d[at + 2] >> 1) & 1);
}

// The program's own test for MP3 audio, so that a file it would refuse is
// refused here rather than in the page: past any ID3v2 tags, a frame within
// 64 KiB followed by another frame (or the end of the file).
function isMp3(d) {
  let at = 0;
  while (d.length - at >= 10 && d.toString('latin1', at, at + 3) === 'ID3' && d[at + 3] !== 0xff &&
         d[at + 4] !== 0xff && !((d[at + 6] | d[at + 7] | d[at + 8] | d[at + 9]) & 0x80)) {
    at += 10 + ((d[at + 6] << 21) | (d[at + 7] << 14) | (d[at + 8] << 7) | d[at + 9]) + (d[at + 5] & 0x10 ? 10 : 0);
  }
  for (const end = at + 64 * 1024; at < end && at + 4 <= d.length; at++) {
    const bytes = frameBytes(d, at);
    if (bytes && (at + bytes + 4 > d.length ? at + bytes <= d.length : frameBytes(d, at + bytes) > 0)) return true;
  }
  return false;
}

const checkOnly = process.argv[2] === '--check' && process.argv.length === 4;
if (process.argv.length !== 5 && !checkOnly) {
  quit(2, 'usage: node tools/web-single.js BUILD_DIR MUSIC.mp3 OUT.html, or --check MUSIC.mp3');
}
const [build, musicFile, out] = checkOnly ? [null, process.argv[3], null] : process.argv.slice(2);

// status: what a file that cannot be read ends with.
function read(file, status) {
  try {
    return fs.readFileSync(file);
  } catch (e) {
    quit(status, `cannot read ${file}: ${e.code || e.message}`);
  }
  return null;
}

const music = read(musicFile, 2);
if (!isMp3(music)) quit(2, `${musicFile} is not MP3 audio (no MPEG Layer III frames); give an MP3 file`);
if (checkOnly) process.exit(0);

const page = read(path.join(build, 'index.html'), 1).toString('utf8');
// A script element's text ends at the first "</script"; the glue is escaped
// where it could hold one, which JavaScript reads the same.
const script = read(path.join(build, 'tolmar.js'), 1).toString('utf8').replace(/<\/(script)/gi, '<\\/$1');
const wasm = read(path.join(build, 'tolmar.wasm'), 1);
const tag = '<script src="tolmar.js"></script>';
if (!page.includes(tag)) quit(1, `${build}/index.html does not load tolmar.js as the web build writes it`);
const inside =
  `<script type="application/octet-stream" id="tolmar-wasm">${wasm.toString('base64')}</script>\n` +
  `<script type="application/octet-stream" id="tolmar-music">${music.toString('base64')}</script>\n` +
  `<script>\n${script}\n</script>`;

const part = `${out}.part${process.pid}`;
try {
  fs.writeFileSync(part, page.replace(tag, () => inside));
  fs.renameSync(part, out);
} catch (e) {
  fs.rmSync(part, {force: true});
  quit(1, `cannot write ${out}: ${e.code || e.message}`);
}
