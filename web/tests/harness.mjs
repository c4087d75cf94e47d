// What the browser tests share: their options, skipping and checking, Debian's Chromium
// through playwright-core, corvanta-sim's trace lines and pictures to compare with, and
// songs made by play_make_track.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
export const CHROMIUM = process.env.CORVANTA_CHROMIUM || '/usr/bin/chromium';
// Where the pinned npm packages are (web/package.json, installed by npm ci).
export const WEB = join(here, '..');

export function option(name, fallback) {
  const at = process.argv.indexOf(`--${name}`);
  return at > 0 ? process.argv[at + 1] : fallback;
}
export const testCase = process.argv[2];
export const work = option('work', '/tmp/corvanta-web-tests');

export function skip(reason) {
  console.log(`web_tests: skipped: ${reason}`);
  process.exit(0);
}

let failures = 0;
export function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures += 1;
}

// Chromium, or the case is skipped saying what is missing.
export function chromiumOrSkip() {
  if (!existsSync(CHROMIUM)) skip(`no Chromium at ${CHROMIUM} (tools/install-deps.sh installs it)`);
  try {
    return createRequire(join(WEB, 'package.json'))('playwright-core').chromium;
  } catch {
    return skip('playwright-core is not installed in web/node_modules (tools/install-deps.sh runs npm ci there)');
  }
}

export function launch(chromium, args = []) {
  return chromium.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--autoplay-policy=no-user-gesture-required', ...args],
  });
}

// FNV-1a 64 over R, G, B of every pixel, rows top to bottom: corvanta-sim's picture digest.
export function pictureDigest(rgba) {
  let hash = 0xcbf29ce484222325n;
  const mask = (1n << 64n) - 1n;
  for (let i = 0; i < rgba.length; i += 1) {
    if ((i & 3) === 3) continue;
    hash = ((hash ^ BigInt(rgba[i])) * 0x100000001b3n) & mask;
  }
  return hash.toString(16).padStart(16, '0');
}

// What a canvas shows: its picture digest, and whether every pixel is opaque.
export async function canvasPicture(page, selector = '#world') {
  const { bytes, opaque } = await page.evaluate((s) => {
    const c = document.querySelector(s);
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let opaque = true;
    for (let i = 3; i < data.length; i += 4) if (data[i] !== 255) opaque = false;
    let text = '';
    for (let i = 0; i < data.length; i += 8192) text += String.fromCharCode(...data.subarray(i, i + 8192));
    return { bytes: btoa(text), opaque };
  }, selector);
  return { digest: pictureDigest(Buffer.from(bytes, 'base64')), opaque };
}

// corvanta-sim's trace line after `frames` frames of ARGS.
export function simTraceLine(args, frames) {
  mkdirSync(work, { recursive: true });
  const trace = join(work, `${testCase}.trace`);
  execFileSync(option('sim'), [...args, '--frames', String(frames), '--trace', trace], { stdio: ['ignore', 'ignore', 'inherit'] });
  return execFileSync('tail', ['-n', '1', trace]).toString().trim();
}

// A generated song of `seconds`, written into the work folder.
export function track(name, seconds) {
  mkdirSync(work, { recursive: true });
  const path = join(work, name);
  execFileSync(option('make-track'), [path, String(seconds)], { stdio: 'inherit' });
  return path;
}

// corvanta-play's rule: the last frame whose start has been heard after `samples`.
export function lastFrameHeard(samples, rate) {
  return samples < 0 ? -1 : Math.floor((40 * (samples + 1) - 1) / rate);
}

// Runs the named case; the exit status is the verdict.
export async function runCase(cases) {
  if (!cases[testCase]) {
    console.error(`web_tests: no case "${testCase}"; cases: ${Object.keys(cases).join(', ')}`);
    process.exit(2);
  }
  try {
    await cases[testCase]();
  } catch (e) {
    console.log(`FAIL ${e.stack || e}`);
    failures += 1;
  }
  process.exit(failures ? 1 : 0);
}
