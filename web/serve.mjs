// A static file server for the page, on 127.0.0.1 only. Used by tools/web.sh and by the
// web tests (which also mount their inputs under /data/).
//   node web/serve.mjs SITE-DIR [--port N] [--mount /data/=DIR]...
import { createServer } from 'node:http';
import { createReadStream, statSync } from 'node:fs';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.wasm': 'application/wasm', '.png': 'image/png', '.wav': 'audio/wav',
  '.flac': 'audio/flac', '.ogg': 'audio/ogg', '.mp3': 'audio/mpeg',
};

// mounts: [[url prefix, folder]], the longest prefix first. Resolves with
// { url, close(), requests } where requests lists every path asked for.
export function serve(root, { port = 0, mounts = [] } = {}) {
  const table = [...mounts, ['/', root]].sort((a, b) => b[0].length - a[0].length);
  const requests = [];
  const server = createServer((req, res) => {
    // A malformed escape (%E0%A4%A) is the asker's mistake: it gets 400, and the
    // server goes on serving everyone else.
    let path;
    try {
      path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    } catch {
      res.writeHead(400, { 'Content-Type': 'text/plain' }).end('bad request\n');
      return;
    }
    requests.push(path);
    const [prefix, folder] = table.find(([p]) => path.startsWith(p));
    const base = resolve(folder);
    let file = normalize(join(base, path.slice(prefix.length)));
    if (file !== base && !file.startsWith(base + sep)) {
      res.writeHead(403).end();
      return;
    }
    try {
      if (statSync(file).isDirectory()) file = join(file, 'index.html');
      const size = statSync(file).size;
      res.writeHead(200, {
        'Content-Type': TYPES[extname(file)] || 'application/octet-stream',
        'Content-Length': size,
        'Cache-Control': 'no-store',
      });
      createReadStream(file).pipe(res);
    } catch {
      res.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found\n');
    }
  });
  return new Promise((done, fail) => {
    server.on('error', fail);
    server.listen(port, '127.0.0.1', () => done({
      url: `http://127.0.0.1:${server.address().port}/`,
      requests,
      close: () => new Promise((closed) => { server.closeAllConnections(); server.close(closed); }),
    }));
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const args = process.argv.slice(2);
  let root = null;
  let port = 8040;
  const mounts = [];
  for (let i = 0; i < args.length; i += 1) {
    if (args[i] === '--port') port = Number(args[++i]);
    else if (args[i] === '--mount') mounts.push(args[++i].split('=', 2));
    else root = args[i];
  }
  if (!root) {
    console.error('usage: node web/serve.mjs SITE-DIR [--port N] [--mount /prefix/=DIR]...');
    process.exit(2);
  }
  const { url } = await serve(root, { port, mounts });
  console.log(`corvanta: serving ${root} at ${url}`);
}
