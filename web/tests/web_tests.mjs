// The page in a real browser (Debian's Chromium, headless, driven by playwright-core):
// that it loads cleanly, that its worlds and pictures equal corvanta-sim's, that it
// keeps to the audio clock, listens, refuses plainly, and how fast it is.
//
//   node web/tests/web_tests.mjs CASE --site DIR --sim CORVANTA-SIM --make-track PLAY_MAKE_TRACK
//        --work DIR [--traces DIR]
// CASE: loads | spectrum | file | flac | capture | refusals | speed. Prints
// "web_tests: skipped: REASON" and exits 0 where this machine lacks what a case needs.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { loadavg } from 'node:os';
import { join } from 'node:path';

import { serve } from '../serve.mjs';
import {
  canvasPicture, check, chromiumOrSkip, lastFrameHeard, launch, option, runCase, simTraceLine, skip, track, work,
} from './harness.mjs';

const site = option('site');
const sim = option('sim');
const traces = option('traces');

const chromium = chromiumOrSkip();
if (!existsSync(join(site, 'corvanta-web', 'corvanta.wasm'))) {
  skip(`the page is not built in ${site} (cmake --preset web && cmake --build --preset web)`);
}
mkdirSync(work, { recursive: true });

// A browser, a page on the test server, and everything the page said or asked for.
async function open({ args = [], query = '', permissions = [] } = {}) {
  const server = await serve(site, { mounts: [['/data/', work], ...(traces ? [['/traces/', traces]] : [])] });
  const browser = await launch(chromium, args);
  const context = await browser.newContext({ permissions });
  const page = await context.newPage();
  const said = { errors: [], outside: [] };
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') said.errors.push(`${m.type()}: ${m.text()}`); });
  page.on('pageerror', (e) => said.errors.push(`uncaught: ${e.message}`));
  page.on('request', (r) => { if (!r.url().startsWith(server.url) && !r.url().startsWith('data:')) said.outside.push(r.url()); });
  page.on('requestfailed', (r) => said.errors.push(`request failed: ${r.url()}`));
  await page.goto(`${server.url}${query}`);
  await page.evaluate(() => window.corvanta.ready);
  const close = async () => { await browser.close(); await server.close(); };
  return { page, said, close, server, browser };
}

// Waits until the condition holds on the page, or ten seconds; the checks after say which.
const settle = (page, condition) => page.waitForFunction(condition, null, { timeout: 10000 }).catch(() => {});
// The page's state just after its next display refresh has stepped the frames due.
const afterRefresh = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(
  () => r({ ...window.corvanta.state(), at: performance.now() / 1000 }))));
const state = (page) => page.evaluate(() => window.corvanta.state());
const words = (page) => page.evaluate(() => (document.getElementById('message').hidden ? '' : document.getElementById('message').textContent));

// A mono 16-bit WAV of a tenth of a second of a 440 Hz tone at 44.1 kHz, whose header
// claims `rate` samples a second.
function wavWithRate(rate) {
  const samples = 4410;
  const wav = Buffer.alloc(44 + 2 * samples);
  wav.write('RIFF', 0);
  wav.writeUInt32LE(36 + 2 * samples, 4);
  wav.write('WAVEfmt ', 8);
  wav.writeUInt32LE(16, 16);
  wav.writeUInt16LE(1, 20);  // integer samples
  wav.writeUInt16LE(1, 22);  // one channel
  wav.writeUInt32LE(rate, 24);
  wav.writeUInt32LE((2 * rate) % 2 ** 32, 28);  // bytes a second
  wav.writeUInt16LE(2, 32);
  wav.writeUInt16LE(16, 34);
  wav.write('data', 36);
  wav.writeUInt32LE(2 * samples, 40);
  for (let i = 0; i < samples; i += 1) wav.writeInt16LE(Math.round(8000 * Math.sin((2 * Math.PI * 440 * i) / 44100)), 44 + 2 * i);
  return wav;
}

const cases = {
  // No console error, nothing fetched from outside, the seed from the address or the
  // clock, F for full screen.
  async loads() {
    const { page, said, close, server } = await open({ query: '?seed=26' });
    check((await page.textContent('#seed')) === 'seed 26', 'the seed from the address is shown');
    check(await page.evaluate(() => window.corvanta.seed()) === 26, 'and is the world\'s seed');
    await page.goto(server.url);
    await page.evaluate(() => window.corvanta.ready);
    const clock = Math.floor(Date.now() / 1000);
    const seed = await page.evaluate(() => window.corvanta.seed());
    check(Math.abs(seed - clock) < 60, `without one, the clock's seconds (${seed}, clock ${clock})`);
    await page.keyboard.press('f');
    await settle(page, () => document.fullscreenElement);
    const full = await page.evaluate(() => !!document.fullscreenElement);
    await page.keyboard.press('f');
    await settle(page, () => !document.fullscreenElement);
    const back = await page.evaluate(() => !document.fullscreenElement);
    check(full && back, 'F enters full screen and leaves it');
    check(said.errors.length === 0, `no console error or warning: ${JSON.stringify(said.errors)}`);
    check(said.outside.length === 0, `no request outside the page's server: ${JSON.stringify(said.outside)}`);
    check(server.requests.includes('/corvanta-web/corvanta.wasm'), 'the world came from the page\'s own server');
    await close();
  },

  // The recorded music, seed 26, 1,000 frames: corvanta-sim's trace line and picture.
  async spectrum() {
    const recordedMusic = traces && join(traces, 'music.spec');
    if (!recordedMusic || !existsSync(recordedMusic)) skip(`${recordedMusic || '../shared/traces/music.spec'} not found (no ../shared beside the repository)`);
    const frames = 1000;
    const { page, said, close } = await open({ query: `?seed=26&spectrum=/traces/music.spec&frames=${frames}` });
    await page.waitForFunction(() => window.corvanta.trace || window.corvanta.error, null, { timeout: 300000 });
    const trace = await page.evaluate(() => window.corvanta.trace);
    const expected = simTraceLine(['--seed', '26', '--spectrum', recordedMusic], frames);
    check(trace === expected, `trace line ${trace} equals corvanta-sim's ${expected}`);
    const reference = readFileSync(join(traces, 'seed26-music-every100.trace'), 'utf8').split('\n')
      .find((line) => line.startsWith(`${frames} `));
    check(trace === reference, `and the independent implementation's ${reference}`);
    const picture = await canvasPicture(page);
    check(picture.digest === expected.split(' ')[3], `canvas pixels digest ${picture.digest} equal corvanta-sim's picture`);
    check(picture.opaque, 'every canvas pixel is opaque');
    check((await page.getAttribute('html', 'data-trace')) === trace, 'the trace line is on the page too');
    check(said.errors.length === 0, `no console error: ${JSON.stringify(said.errors)}`);
    const { stepMeanMs, steps } = await state(page);
    console.log(`frame step in the page: ${stepMeanMs.toFixed(3)} ms mean over ${steps} simulated frames`);
    await close();
  },

  // A generated song played with autoplay allowed: the frames follow the audio clock,
  // Space pauses both, and the last picture is corvanta-sim --audio's. Frames are
  // counted against the samples the clock had heard when the page stepped them, and
  // waits are for the sound, so a slow or busy machine (late refreshes, a lagging
  // audio thread) changes when things happen, never whether they hold. How the audio
  // clock keeps to the wall clock is the speed case's.
  async file() {
    const song = track('song.wav', 9);
    const { page, said, close } = await open({ query: '?seed=26' });
    await page.setInputFiles('#file', song);
    await page.waitForFunction(() => window.corvanta.state().frames > 20, null, { timeout: 30000 });
    // Every frame whose moment the clock had heard is stepped, and none beyond.
    const a = await state(page);
    const off = [];
    for (let i = 0; i < 8; i += 1) {
      const s = await state(page);
      if (s.frames !== lastFrameHeard(s.stepSamples, s.rate) + 1) off.push(`${s.frames} at sample ${s.stepSamples}`);
      await page.waitForTimeout(200);
    }
    check(off.length === 0, `frames keep to the audio clock: each reading is 40 x seconds heard (${off.join(', ') || 'all'})`);
    // Two seconds of sound on: 40 frames a second of it.
    await page.waitForFunction((from) => window.corvanta.state().stepSamples >= from + 2 * 44100, a.stepSamples,
      { timeout: 60000 });
    const b = await state(page);
    const rate = (b.frames - a.frames) / ((b.stepSamples - a.stepSamples) / b.rate);
    check(Math.abs(rate - 40) <= 1.5, `${rate.toFixed(1)} frames per second of audio`);

    await page.keyboard.press('Space');
    const paused = await state(page);
    // The sound stops once the context is suspended; the clock, which reckons in the
    // output's delay, settles within that delay (well under the 600 ms waited).
    await page.waitForFunction(() => window.corvanta.state().audioState === 'suspended', null, { timeout: 10000 });
    await page.waitForTimeout(600);
    const stopped = await state(page);
    await page.waitForTimeout(600);
    const still = await state(page);
    check(paused.paused && still.frames === paused.frames, `Space pauses the world: frames stay at ${still.frames}`);
    check(still.heard === stopped.heard, `and the sound: ${stopped.heard.toFixed(3)} s heard, then ${still.heard.toFixed(3)} s`);
    // The pause is not heard: once going again, the clock has moved on by no more than
    // the time since the key (a clock that counted the pause would jump by all of it).
    const pressed = await page.evaluate(() => performance.now() / 1000);
    await page.keyboard.press('Space');
    await page.waitForFunction((from) => window.corvanta.state().stepSamples > from, still.stepSamples, { timeout: 10000 });
    const going = await afterRefresh(page);
    check(going.heard - still.heard <= going.at - pressed + 0.05,
      `the pause is not counted as heard: ${(going.heard - still.heard).toFixed(3)} s on in ${(going.at - pressed).toFixed(3)} s`);
    await page.waitForFunction(() => window.corvanta.state().finished, null, { timeout: 30000 });
    const end = await state(page);
    const trace = await page.evaluate(() => window.corvanta.traceLine());
    const expected = simTraceLine(['--seed', '26', '--audio', song], end.total);
    check(trace === expected, `after the song: ${trace} equals corvanta-sim --audio's ${expected}`);
    const picture = await canvasPicture(page);
    check(picture.digest === expected.split(' ')[3], `the canvas shows corvanta-sim --audio's picture (${picture.digest})`);
    check(said.errors.length === 0, `no console error: ${JSON.stringify(said.errors)}`);
    await close();
  },

  // FLAC, which the browser decodes (scaling samples its own way): the same samples as
  // libsndfile decodes (written out as floats by play_make_track --decoded), and the
  // same world and picture as corvanta-sim --audio.
  async flac() {
    const song = track('song.flac', 6);
    execFileSync(option('make-track'), ['--decoded', song, join(work, 'song.wav')], { stdio: 'inherit' });
    const { page, said, close } = await open({ query: '?seed=26&audio=/data/song.wav&frames=0' });
    await page.waitForFunction(() => window.corvanta.trace || window.corvanta.error, null, { timeout: 60000 });
    const wav = await page.evaluate(() => window.corvanta.trackDigest());
    await page.goto(page.url().replace('song.wav&frames=0', 'song.flac'));
    await page.evaluate(() => window.corvanta.ready);
    await page.waitForFunction(() => window.corvanta.trace || window.corvanta.error, null, { timeout: 120000 });
    const flac = await page.evaluate(() => window.corvanta.trackDigest());
    check(flac === wav, `FLAC's samples digest ${flac.toString(16)} equals the WAV's ${wav.toString(16)}`);
    const trace = await page.evaluate(() => window.corvanta.trace);
    const expected = simTraceLine(['--seed', '26', '--audio', song], 240);
    check(trace === expected, `trace line ${trace} equals corvanta-sim --audio's ${expected}`);
    check((await canvasPicture(page)).digest === expected.split(' ')[3], 'and so does the picture');
    check(said.errors.length === 0, `no console error: ${JSON.stringify(said.errors)}`);
    await close();
  },

  // Chromium's fake capture device plays a song into the microphone: the sound the
  // world is given is not silence, and the world steps and lives. Then a shared tab
  // (this one, picked by its title) takes over.
  async capture() {
    const song = track('capture.wav', 10);
    const { page, said, close } = await open({
      args: ['--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream', `--use-file-for-fake-audio-capture=${song}`,
        '--auto-accept-this-tab-capture', '--auto-select-tab-capture-source-by-title=Corvanta'],
    });
    await page.click('#microphone');
    await page.waitForFunction(() => window.corvanta.state().mode === 'microphone', null, { timeout: 10000 });
    // Some six seconds of the input, by its own clock (a busy machine's may lag the
    // wall's).
    await page.waitForFunction(() => window.corvanta.state().frames > 240, null, { timeout: 60000, polling: 300 })
      .catch(() => {});
    const s = await state(page);
    check(s.frames > 200, `the world stepped ${s.frames} frames to the input`);
    check(s.peak > 0.02, `the world heard the input (its samples peaked at ${s.peak.toFixed(3)})`);
    const population = Number((await page.evaluate(() => window.corvanta.traceLine())).split(' ')[1]);
    check(population > 0, `agents live (${population})`);
    await page.click('#tab');
    await settle(page, () => window.corvanta.state().mode === 'tab' && window.corvanta.state().frames > 40);
    const shared = await state(page);
    check(shared.mode === 'tab' && shared.frames > 40 && shared.frames < s.frames,
      `sharing a tab's sound restarts the world and steps it (${shared.mode}, ${shared.frames} frames)`);
    check(said.errors.length === 0, `no console error: ${JSON.stringify(said.errors)}`);
    await close();
  },

  // Capture refused, a file that is not audio, sample rates nobody plays: words on
  // the page, and it still plays.
  async refusals() {
    // A device there but permission denied; then none at all.
    const denying = await open({ args: ['--use-fake-device-for-media-stream', '--deny-permission-prompts'] });
    await denying.page.click('#microphone');
    await denying.page.waitForFunction(() => window.corvanta.error, null, { timeout: 10000 });
    const denied = await words(denying.page);
    check(/refused the microphone: permission was denied/.test(denied), `capture denied: "${denied}"`);
    await denying.close();

    const { page, said, close } = await open({ args: ['--deny-permission-prompts'] });
    await page.click('#microphone');
    await page.waitForFunction(() => window.corvanta.error, null, { timeout: 10000 });
    const none = await words(page);
    check(/No microphone/.test(none), `no capture device: "${none}"`);
    const text = join(work, 'notes.txt');
    writeFileSync(text, 'these are not the sounds you are looking for\n'.repeat(50));
    await page.setInputFiles('#file', text);
    await settle(page, () => window.corvanta.error);
    const notAudio = await words(page);
    check(/could not decode "notes.txt" as audio/.test(notAudio), `not audio: "${notAudio}"`);
    // A WAV header may claim any rate: one too slow for the browser to hold, and one
    // that would make a second of sound billions of samples long.
    for (const rate of [1, 4294967280]) {
      const name = `rate-${rate}.wav`;
      writeFileSync(join(work, name), wavWithRate(rate));
      await page.setInputFiles('#file', join(work, name));
      await page.waitForFunction((r) => (window.corvanta.error || '').includes(`${r} Hz`), rate, { timeout: 10000 })
        .catch(() => {});
      const refused = await words(page);
      check(refused === `the sample rate ${rate} Hz is outside the 8000 to 192000 Hz Corvanta plays`,
        `a WAV at ${rate} Hz: "${refused}"`);
    }
    check(!said.errors.some((e) => e.startsWith('uncaught')), `no uncaught error: ${JSON.stringify(said.errors)}`);
    await page.setInputFiles('#file', track('after.wav', 3));
    await page.waitForFunction(() => window.corvanta.state().frames > 40, null, { timeout: 20000 });
    check((await words(page)) === '', 'after both, a song plays and the words are gone');
    await close();
  },

  // A minute of music: frames shown on time, the renderer's CPU time, the frame step
  // beside corvanta-sim's.
  async speed() {
    const seconds = Number(option('seconds', '60'));
    const song = track('minute.wav', seconds);
    const { page, browser, close } = await open({ query: '?seed=26' });
    const cdp = await browser.newBrowserCDPSession();
    const renderer = async () => (await cdp.send('SystemInfo.getProcessInfo')).processInfo
      .filter((p) => p.type === 'renderer').reduce((sum, p) => sum + p.cpuTime, 0);
    const gpu = async () => (await cdp.send('SystemInfo.getProcessInfo')).processInfo
      .filter((p) => p.type !== 'renderer').reduce((sum, p) => sum + p.cpuTime, 0);
    const load0 = loadavg()[0].toFixed(2);
    const cpu0 = await renderer();
    const other0 = await gpu();
    const wall0 = Date.now();
    await page.setInputFiles('#file', song);
    // The audio clock against the page's own, over ten seconds, each read just after a
    // refresh.
    await page.waitForFunction(() => window.corvanta.state().frames > 20, null, { timeout: 30000 });
    const a = await afterRefresh(page);
    await page.waitForTimeout(Math.min(10, seconds / 2) * 1000);
    const b = await afterRefresh(page);
    const clock = (b.heard - a.heard) / (b.at - a.at);
    await page.waitForFunction(() => window.corvanta.state().finished, null, { timeout: (seconds + 60) * 1000, polling: 1000 });
    const wall = (Date.now() - wall0) / 1000;
    const cpu = (await renderer()) - cpu0;
    const other = (await gpu()) - other0;
    const s = await state(page);
    const native = execFileSync(sim, ['--seed', '26', '--audio', song, '--timing', '--png-every', '0']).toString().match(/mean_ms=([0-9.]+)/)[1];
    console.log(`speed: ${s.total} frames in ${wall.toFixed(1)} s; renderer CPU ${cpu.toFixed(2)} s = ` +
      `${(100 * cpu / wall).toFixed(1)} % of one core (browser and GPU processes ${(100 * other / wall).toFixed(1)} %); ` +
      `frame step ${s.stepMeanMs.toFixed(3)} ms mean, ${s.stepMaxMs.toFixed(1)} ms max in the page, ` +
      `${native} ms mean natively; shown ${s.shows.shown}, stepped but not shown ${s.shows.unshown}, ` +
      `longest gap between pictures ${s.shows.worstGapMs.toFixed(0)} ms; frames not shown end passes at ` +
      `${JSON.stringify(s.shows.unshownAt)}; load average before ${load0}, after ${loadavg()[0].toFixed(2)}`);
    check(s.frames === s.total, `every frame stepped (${s.frames})`);
    check(s.shows.unshown === 0, `no frame dropped from the screen (${s.shows.unshown})`);
    check(cpu / wall < 0.25, 'the renderer stays under 25 % of one core');
    check(Math.abs(clock - 1) < 0.1, `the audio clock keeps time: ${clock.toFixed(3)} s heard per second`);
    await close();
  },
};

await runCase(cases);
