// The corvanta-web package as a stranger gets it: the packed tarball installed offline
// into a fresh folder, imported by a page through an import map, in Debian's Chromium.
// Its worlds equal corvanta-sim's, alone and two on a page; a node of the host's player
// is heard on the audio clock; a hundred visualizers leave nothing behind; wrong use is
// refused in words; the README's examples bundle with esbuild and type-check.
//
//   node web/tests/package_tests.mjs CASE --built BUILD/web --sim CORVANTA-SIM
//        --make-track PLAY_MAKE_TRACK --work DIR
// CASE: installed | cycles | refusals | bundle. Prints "web_tests: skipped: REASON" and
// exits 0 where this machine lacks what a case needs.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';

import { serve } from '../serve.mjs';
import {
  WEB, canvasPicture, check, chromiumOrSkip, lastFrameHeard, launch, option, runCase, simTraceLine, skip, track, testCase,
} from './harness.mjs';

const built = option('built');
const tarball = existsSync(built || '') && readdirSync(built).find((f) => /^corvanta-web-.*\.tgz$/.test(f));
if (!tarball) skip(`no corvanta-web tarball in ${built} (cmake --preset web && cmake --build --preset web, with npm)`);

// A fresh folder with the tarball installed as its README says, and nothing else.
function install() {
  const folder = mkdtempSync(join(tmpdir(), 'corvanta-stranger-'));
  execFileSync('cp', [join(built, tarball), folder]);
  try {
    execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', `./${tarball}`],
      { cwd: folder, stdio: ['ignore', 'ignore', 'pipe'] });
  } catch (e) {
    rmSync(folder, { recursive: true, force: true });
    if (e.code === 'ENOENT') skip('npm is not installed (tools/install-deps.sh web installs it)');
    throw new Error(`npm install of ${tarball} failed: ${e.stderr}`);
  }
  return folder;
}

// The host's page: two canvases, a player, and the package through an import map. Before
// the package, a count of the animation callbacks and listeners still standing.
const PAGE = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>A player</title><link rel="icon" href="data:,">
<script type="importmap">{ "imports": { "corvanta-web": "./node_modules/corvanta-web/index.js" } }</script>
<script>
  const standing = { frames: new Set(), listeners: [] };
  window.standing = standing;
  const request = window.requestAnimationFrame.bind(window);
  const cancel = window.cancelAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => {
    const id = request((t) => { standing.frames.delete(id); callback(t); });
    standing.frames.add(id);
    return id;
  };
  window.cancelAnimationFrame = (id) => { standing.frames.delete(id); cancel(id); };
  const add = EventTarget.prototype.addEventListener;
  const remove = EventTarget.prototype.removeEventListener;
  const at = (target, type, listener) => standing.listeners.findIndex((l) => l.target === target && l.type === type && l.listener === listener);
  EventTarget.prototype.addEventListener = function (type, listener, options) {
    if (listener && at(this, type, listener) < 0) standing.listeners.push({ target: this, type, listener });
    return add.call(this, type, listener, options);
  };
  EventTarget.prototype.removeEventListener = function (type, listener, options) {
    const i = at(this, type, listener);
    if (i >= 0) standing.listeners.splice(i, 1);
    return remove.call(this, type, listener, options);
  };
</script>
</head><body>
<canvas id="a"></canvas><canvas id="b"></canvas><audio id="player" src="/data/player.wav"></audio>
<script type="module">
  import * as corvanta from 'corvanta-web';
  window.corvanta = corvanta;
</script>
</body></html>
`;

async function open(folder, data) {
  writeFileSync(join(folder, 'index.html'), PAGE);
  const server = await serve(folder, { mounts: [['/data/', data]] });
  const browser = await launch(chromiumOrSkip());
  const page = await browser.newPage();
  const said = { errors: [], outside: [] };
  page.on('console', (m) => {
    // (Chromium's advice on the tests' own reading of the canvases aside.)
    if ((m.type() === 'error' || m.type() === 'warning') && !m.text().includes('willReadFrequently')) {
      said.errors.push(`${m.type()}: ${m.text()}`);
    }
  });
  page.on('pageerror', (e) => said.errors.push(`uncaught: ${e.message}`));
  page.on('request', (r) => { if (!r.url().startsWith(server.url) && !r.url().startsWith('data:')) said.outside.push(r.url()); });
  await page.goto(server.url);
  await page.waitForFunction(() => window.corvanta, null, { timeout: 20000 });
  const close = async () => { await browser.close(); await server.close(); rmSync(folder, { recursive: true, force: true }); };
  return { page, said, server, close };
}

const work = option('work');
mkdirSync(work, { recursive: true });

const cases = {
  // Track mode alone, then two visualizers at once, each equal to corvanta-sim --audio;
  // node mode beside an <audio> element, at 40 frames per second of the audio clock;
  // the module from where the page says.
  async installed() {
    const one = track('one.wav', 3);
    const two = track('two.wav', 2);
    track('player.wav', 12);
    const { page, said, server, close } = await open(install(), work);
    // Each world as a stranger runs it: finished, then its trace line and canvas.
    const played = (plays) => page.evaluate(async (list) => {
      const made = await Promise.all(list.map(async ({ canvas, seed, url, shared }) => {
        const v = await window.corvanta.createVisualizer(document.getElementById(canvas), { seed });
        if (shared && !window.shared) window.shared = new AudioContext();
        return { v, track: await v.playTrack(url, shared ? { context: window.shared } : {}) };
      }));
      const ends = await Promise.all(made.map(({ track }) => track.finished));
      return made.map(({ v, track }, i) => ({ finished: ends[i], frames: track.frames, trace: v.traceLine() }));
    }, plays);
    const expect = (song, seed, frames) => simTraceLine(['--seed', String(seed), '--audio', song], frames);

    const [alone] = await played([{ canvas: 'a', seed: 26, url: '/data/one.wav' }]);
    const aloneSim = expect(one, 26, alone.frames);
    const alonePicture = (await canvasPicture(page, '#a')).digest;
    check(alone.finished && alone.trace === aloneSim && alonePicture === aloneSim.split(' ')[3],
      `track mode alone: ${alone.trace}, canvas ${alonePicture}, equal corvanta-sim --audio's ${aloneSim}`);
    check(server.requests.includes('/node_modules/corvanta-web/corvanta.wasm'), 'the module came from beside index.js');

    const pair = await played([{ canvas: 'a', seed: 26, url: '/data/one.wav', shared: true },
      { canvas: 'b', seed: 7, url: '/data/two.wav', shared: true }]);
    const pairSim = expect(two, 7, pair[1].frames);
    const pictures = [(await canvasPicture(page, '#a')).digest, (await canvasPicture(page, '#b')).digest];
    check(pair[0].trace === alone.trace && pictures[0] === alonePicture,
      `two on one page: the first world as alone (${pair[0].trace}, canvas ${pictures[0]})`);
    check(pair[1].trace === pairSim && pictures[1] === pairSim.split(' ')[3],
      `and the second as corvanta-sim --audio's (${pair[1].trace}, canvas ${pictures[1]}; ${pairSim})`);

    // Node mode: the host's player connected, the frames read just after a refresh,
    // counted against the clock reading they were stepped to.
    await page.evaluate(async () => {
      const player = document.getElementById('player');
      const context = new AudioContext();
      const source = context.createMediaElementSource(player);
      source.connect(context.destination);
      window.node = await window.corvanta.createVisualizer(document.getElementById('b'), { seed: 5 });
      await window.node.listen(source);
      await player.play();
    });
    const afterRefresh = () => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => r(window.node.state()))));
    await page.waitForFunction(() => window.node.state().frames > 20, null, { timeout: 30000 });
    const a = await afterRefresh();
    await page.waitForFunction((from) => window.node.state().clockSamples >= from, a.clockSamples + 4 * a.sampleRate,
      { timeout: 60000 });
    const b = await afterRefresh();
    const rate = (b.frames - a.frames) / ((b.clockSamples - a.clockSamples) / b.sampleRate);
    const ahead = [a, b].filter((s) => s.frames > lastFrameHeard(s.clockSamples, s.sampleRate) + 1);
    check(Math.abs(rate - 40) <= 1.5 && ahead.length === 0,
      `node mode: ${rate.toFixed(2)} frames per second of the audio clock, none ahead of it`);
    check(b.peak > 0.02, `and the world heard the player (its samples peaked at ${b.peak.toFixed(3)})`);

    // The module where the host says: a new page, the file elsewhere.
    execFileSync('cp', [join(built, 'corvanta-web', 'corvanta.wasm'), join(work, 'elsewhere.wasm')]);
    await page.reload();
    await page.waitForFunction(() => window.corvanta, null, { timeout: 20000 });
    const before = server.requests.length;
    const seed = await page.evaluate(async () => {
      const v = await window.corvanta.createVisualizer(document.getElementById('a'), { locateFile: () => '/data/elsewhere.wasm' });
      return v.seed;
    });
    const asked = server.requests.slice(before).filter((r) => r.endsWith('.wasm'));
    check(asked.length === 1 && asked[0] === '/data/elsewhere.wasm' && Math.abs(seed - Date.now() / 1000) < 60,
      `locateFile: the module from ${JSON.stringify(asked)}; the seed from the clock (${seed})`);
    check(said.errors.length === 0 && said.outside.length === 0,
      `nothing said or fetched outside: ${JSON.stringify([...said.errors, ...said.outside])}`);
    await close();
  },

  // A hundred visualizers made, heard (a track, or a node of the host's) and disposed:
  // the heap back where it was, memory no larger than after the first, no animation
  // callback or listener left standing, the host's own connections intact.
  async cycles() {
    track('player.wav', 1);
    const { page, said, close } = await open(install(), work);
    const r = await page.evaluate(async () => {
      const { createVisualizer, decodeAudio, load, memoryUsage } = window.corvanta;
      await load();
      const start = memoryUsage();
      const listenersBefore = window.standing.listeners.length;
      const context = new AudioContext();
      await context.resume();
      const oscillator = new OscillatorNode(context, { frequency: 440 });
      const hostTap = new AnalyserNode(context, { fftSize: 2048 });
      oscillator.connect(hostTap);  // the host's own: must stay connected
      oscillator.start();
      const decoded = await decodeAudio(await (await fetch('/data/player.wav')).arrayBuffer());
      const canvas = document.getElementById('a');
      const most = { frames: 0, listeners: 0, heap: 0 };
      let afterFirst = null;
      let silent = 0;
      for (let i = 0; i < 100; i += 1) {
        const v = await createVisualizer(canvas, { seed: i });
        if (i % 2 === 0) await v.playTrack(decoded, { context });
        else await v.listen(oscillator);
        const until = performance.now() + 5000;
        while (v.state().frames < 2 && performance.now() < until) await new Promise((t) => setTimeout(t, 5));
        if (v.state().frames < 2) silent += 1;
        most.frames = Math.max(most.frames, window.standing.frames.size);
        most.listeners = Math.max(most.listeners, window.standing.listeners.length - listenersBefore);
        most.heap = Math.max(most.heap, memoryUsage().heapInUse);
        v.dispose();
        if (i === 0) afterFirst = memoryUsage();
      }
      const samples = new Float32Array(2048);
      hostTap.getFloatTimeDomainData(samples);
      return {
        start, afterFirst, end: memoryUsage(), most, silent, listenersBefore,
        frames: window.standing.frames.size, listeners: window.standing.listeners.length - listenersBefore,
        hostHears: samples.reduce((m, x) => Math.max(m, Math.abs(x)), 0),
      };
    });
    check(r.silent === 0, `each of the 100 visualizers stepped (${100 - r.silent} did)`);
    check(r.most.heap > 15e6 && r.end.heapInUse === r.start.heapInUse,
      `the module's heap in use: ${r.start.heapInUse} bytes before, up to ${r.most.heap} with a world, ` +
      `${r.afterFirst.heapInUse} after one, ${r.end.heapInUse} after 100`);
    check(r.end.memoryBytes === r.afterFirst.memoryBytes,
      `its memory: ${r.afterFirst.memoryBytes} bytes after the first, ${r.end.memoryBytes} after 100`);
    check(r.most.frames > 0 && r.most.listeners > 0 && r.frames === 0 && r.listeners === 0,
      `animation callbacks and listeners standing: at most ${r.most.frames} and ${r.most.listeners} while heard, ` +
      `${r.frames} and ${r.listeners} after (${r.listenersBefore} the page's own)`);
    check(r.hostHears > 0.1, `the host's oscillator still reaches its own analyser (${r.hostHears.toFixed(3)})`);
    check(said.errors.length === 0, `no console error: ${JSON.stringify(said.errors)}`);
    await close();
  },

  // Wrong use: an Error whose words say what was wrong, and the visualizer still whole.
  async refusals() {
    const { page, close } = await open(install(), work);
    const r = await page.evaluate(async () => {
      const { createVisualizer } = window.corvanta;
      const attempt = async (f) => {
        try {
          await f();
          return 'no error';
        } catch (e) {
          return e instanceof Error ? e.message : `not an Error: ${e}`;
        }
      };
      const canvas = document.getElementById('a');
      const out = {
        notCanvas: await attempt(() => createVisualizer(document.body)),
        nothing: await attempt(() => createVisualizer(undefined)),
        seed: await attempt(() => createVisualizer(canvas, { seed: 2 ** 32 })),
      };
      const v = await createVisualizer(canvas, { seed: 1 });
      const first = new AudioContext();
      const second = new AudioContext();
      out.notNode = await attempt(() => v.listen({ connect() {} }));
      await v.listen(new GainNode(first));
      out.otherNode = await attempt(() => v.listen(new GainNode(second)));
      out.otherTrack = await attempt(() => v.playTrack(new ArrayBuffer(8), { context: second }));
      out.notAudio = await attempt(() => v.playTrack(new TextEncoder().encode('these are no sounds'.repeat(40))));
      out.stillHears = v.state().mode;
      v.dispose();
      out.pause = await attempt(() => v.pause());
      out.traceLine = await attempt(() => v.traceLine());
      out.play = await attempt(() => v.playTrack('/data/none.wav'));
      out.disposeAgain = await attempt(() => v.dispose());
      return out;
    });
    const expected = {
      notCanvas: /^createVisualizer: the world is drawn on an HTMLCanvasElement, not on an HTMLBodyElement$/,
      nothing: /^createVisualizer: the world is drawn on an HTMLCanvasElement, not on undefined$/,
      seed: /^createVisualizer: a seed is a whole number from 0 to 4294967295, not number 4294967296$/,
      notNode: /^listen: the world hears an AudioNode of the host's player, not an Object$/,
      otherNode: /^listen: this node belongs to another AudioContext than the one this visualizer was first connected in/,
      otherTrack: /^playTrack: this visualizer first played in another AudioContext than the one given/,
      notAudio: /^the browser could not decode these bytes as audio \(.+\)$/,
      stillHears: /^node$/,
      pause: /^pause: this visualizer has been disposed$/,
      traceLine: /^traceLine: this visualizer has been disposed$/,
      play: /^playTrack: this visualizer has been disposed$/,
      disposeAgain: /^no error$/,
    };
    for (const [what, pattern] of Object.entries(expected)) check(pattern.test(r[what]), `${what}: "${r[what]}"`);
    await close();
  },

  // The README's examples built with the pinned esbuild and checked by the pinned tsc
  // against the declarations (which must refuse wrong use too); the package's size.
  async bundle() {
    const esbuild = join(WEB, 'node_modules', 'esbuild', 'bin', 'esbuild');
    const tsc = join(WEB, 'node_modules', 'typescript', 'bin', 'tsc');
    if (!existsSync(esbuild) || !existsSync(tsc)) skip('esbuild or typescript is not installed in web/node_modules (tools/install-deps.sh runs npm ci there)');
    const folder = install();
    const installed = join(folder, 'node_modules', 'corvanta-web');
    const files = readdirSync(installed).sort();
    check(JSON.stringify(files) === JSON.stringify(['LICENSE', 'README.md', 'corvanta.wasm', 'index.d.ts', 'index.js', 'package.json']),
      `the package holds ${files.join(', ')}`);
    const examples = [...readFileSync(join(installed, 'README.md'), 'utf8').matchAll(/```js\n([\s\S]*?)```/g)].map((m) => m[1]);
    check(examples.length === 2 && examples.every((e) => e.includes('createVisualizer')), `the README shows ${examples.length} examples`);
    const lengths = examples.map((e) => e.trim().split('\n').length);
    check(lengths.every((n) => n <= 20), `of ${lengths.join(' and ')} lines`);
    examples.forEach((code, i) => {
      writeFileSync(join(folder, `example${i}.js`), code);
      writeFileSync(join(folder, `example${i}.ts`), code);
    });
    // Wrong use the declarations must refuse: an unused @ts-expect-error fails tsc.
    writeFileSync(join(folder, 'misuse.ts'), `import { createVisualizer, type Visualizer } from 'corvanta-web';
declare const v: Visualizer;
// @ts-expect-error: drawn on a canvas only
createVisualizer(document.body);
// @ts-expect-error: a seed is a number
createVisualizer(document.createElement('canvas'), { seed: '26' });
// @ts-expect-error: an <audio> element is not a node
v.listen(new Audio());
// @ts-expect-error: the trace line is a string
export const frame: number = v.traceLine();
export const frames: number = (await v.playTrack(new ArrayBuffer(8))).frames;
`);
    writeFileSync(join(folder, 'tsconfig.json'), JSON.stringify({
      compilerOptions: {
        target: 'es2022', module: 'esnext', moduleResolution: 'bundler', lib: ['es2022', 'dom'], strict: true, noEmit: true, types: [],
      },
      files: ['example0.ts', 'example1.ts', 'misuse.ts'],
    }));
    const run = (command, args) => {
      try {
        execFileSync(command, args, { cwd: folder, stdio: ['ignore', 'pipe', 'pipe'] });
        return '';
      } catch (e) {
        return `${e.stdout}${e.stderr}`.trim();
      }
    };
    const bundled = run(esbuild, ['example0.js', 'example1.js', '--bundle', '--format=esm', '--platform=browser', '--outdir=dist', '--log-level=warning']);
    const outputs = ['example0.js', 'example1.js'].map((f) => (existsSync(join(folder, 'dist', f)) ? readFileSync(join(folder, 'dist', f), 'utf8') : ''));
    check(bundled === '' && outputs.every((o) => o.includes('corvanta-tap') && o.includes('corvanta.wasm')),
      `esbuild bundles both examples with the package inside, without a warning${bundled ? `: ${bundled}` : ''}`);
    const typed = run(tsc, ['-p', 'tsconfig.json']);
    check(typed === '', `tsc --noEmit passes the examples and refuses the misuse${typed ? `: ${typed}` : ''}`);
    const gzipped = ['index.js', 'corvanta.wasm'].map((f) => gzipSync(readFileSync(join(installed, f)), { level: 9 }).length);
    const total = gzipped[0] + gzipped[1];
    check(total <= 100 * 1024, `the package's JS and WASM: ${(gzipped[0] / 1024).toFixed(1)} + ${(gzipped[1] / 1024).toFixed(1)} = ` +
      `${(total / 1024).toFixed(1)} KB gzipped, of 100 allowed`);
    rmSync(folder, { recursive: true, force: true });
  },
};

if (testCase !== 'bundle') chromiumOrSkip();
await runCase(cases);
