// The page's server, run as tools/web.sh runs it: what it answers to requests it cannot
// or must not serve, and that it goes on serving after them.
//   node web/tests/serve_tests.mjs
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { request } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures += 1;
}

// The path goes out exactly as written: node's own URL handling would mend a broken
// escape before it left.
function get(base, path) {
  return new Promise((done) => {
    const req = request({ host: base.hostname, port: base.port, path, method: 'GET' }, (res) => {
      let body = '';
      res.setEncoding('utf8');
      res.on('data', (d) => { body += d; });
      res.on('end', () => done({ status: res.statusCode, body }));
    });
    req.on('error', (e) => done({ status: `no answer (${e.message})`, body: '' }));
    req.end();
  });
}

const site = mkdtempSync(join(tmpdir(), 'corvanta-serve-'));
writeFileSync(join(site, 'index.html'), '<p>the page</p>\n');
const server = spawn(process.execPath, [join(here, '..', 'serve.mjs'), site, '--port', '0'],
  { stdio: ['ignore', 'pipe', 'inherit'] });
let exited = null;
server.on('exit', (code, signal) => { exited = signal || `status ${code}`; });
try {
  const url = await new Promise((done, fail) => {
    let said = '';
    server.stdout.on('data', (d) => {
      said += d;
      const found = said.match(/at (http:\S+)/);
      if (found) done(new URL(found[1]));
    });
    server.on('exit', () => fail(new Error(`the server stopped before serving: ${said}`)));
  });

  const broken = await get(url, '/%E0%A4%A');
  check(broken.status === 400, `a broken percent-escape is a bad request (${broken.status})`);
  const page = await get(url, '/');
  check(page.status === 200 && page.body === '<p>the page</p>\n', `and the page is still served after it (${page.status})`);
  const outside = await get(url, '/..%2f..%2fetc/passwd');
  check(outside.status === 403, `a path that climbs out of the site is forbidden (${outside.status})`);
  const missing = await get(url, '/no-such-file.js');
  check(missing.status === 404, `a missing file is not found (${missing.status})`);
  check(exited === null, `the server is still running (${exited || 'yes'})`);
} catch (e) {
  check(false, e.message);
} finally {
  server.kill();
  rmSync(site, { recursive: true, force: true });
}
console.log(failures ? `serve_tests: ${failures} failed` : 'serve_tests: all passed');
process.exit(failures ? 1 : 0);
