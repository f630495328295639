// Serves a folder over HTTP on 127.0.0.1 only, for the web build (browsers
// refuse WebAssembly from file:// pages). Usage: node serve-web.js DIR [PORT];
// port 0 picks a free one. Prints the page's address once listening.
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
  '.mp3': 'audio/mpeg',
  '.png': 'image/png',
};

const root = path.resolve(process.argv[2] || '.');
const port = Number(process.argv[3] || 8080);
if (!fs.existsSync(root) || !fs.statSync(root).isDirectory() || !Number.isInteger(port) || port < 0 ||
    port > 65535) {
  console.error('usage: node serve-web.js DIR [PORT]');
  process.exit(2);
}

http.createServer((request, response) => {
  let name;
  try {
    name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  } catch (e) {
    response.writeHead(400).end();
    return;
  }
  if (name.endsWith('/')) name += 'index.html';
  const file = path.join(root, path.normalize(name));
  if (!file.startsWith(root + path.sep)) {
    response.writeHead(403).end();
    return;
  }
  // Opened before anything is answered, so a file that cannot be read gets
  // a refusal rather than a 200 and no body; without blocking on a pipe.
  const refuse = (error) => {
    const missing = error && error.code === 'ENOENT';
    response.writeHead(missing ? 404 : 403, {'Content-Type': 'text/plain'});
    response.end(missing ? 'not found\n' : 'forbidden\n');
  };
  fs.open(file, fs.constants.O_RDONLY | fs.constants.O_NONBLOCK, (error, fd) => {
    if (error) {
      refuse(error);
      return;
    }
    fs.fstat(fd, (statError, stat) => {
      if (statError || !stat.isFile() || request.method === 'HEAD') fs.close(fd, () => {});
      if (statError || !stat.isFile()) {
        refuse(statError);
        return;
      }
      response.writeHead(200, {
        'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
        'Content-Length': stat.size,
        'Cache-Control': 'no-cache',
      });
      if (request.method === 'HEAD') {
        response.end();
        return;
      }
      // A read that fails midway cuts the answer short; the server goes on.
      fs.createReadStream(null, {fd}).on('error', () => response.destroy()).pipe(response);
    });
  });
}).on('error', (error) => {
  // Speaks as tools/serve-web.sh, which runs this: one line, and what to do.
  if (error.code === 'EADDRINUSE') {
    console.error(`serve-web: port ${port} on 127.0.0.1 is already in use; give another as the second argument, ` +
                  `e.g. tools/serve-web.sh ${process.argv[2] || '.'} 8081 (0 picks a free one)`);
  } else {
    console.error(`serve-web: cannot listen on 127.0.0.1 port ${port} (${error.code || error.message}); ` +
                  'give another port as the second argument (0 picks a free one)');
  }
  process.exit(1);
}).listen(port, '127.0.0.1', function () {
  console.log(`http://127.0.0.1:${this.address().port}/`);
});
