// The Corvanta page: the first user of the corvanta-web package (web/package/), whose
// visualizer steps the world 40 times per second of the sound it hears, each frame with
// the window of its own moment, kept to the audio clock. This script only chooses the
// sound (a file, the microphone, a shared tab), pauses, and says what happens.
//
// ?seed=S repeats a world (otherwise the clock's seconds). ?seed=S&spectrum=URL&frames=N
// runs N frames of a recorded spectrum file as fast as it can and puts the trace line
// of the last (as corvanta-sim --trace writes it) in window.corvanta.trace;
// ?seed=S&audio=URL[&frames=N] does the same with an audio file, without playing it,
// as corvanta-sim --audio does.
import { createVisualizer, decodeAudio } from './corvanta-web/index.js';

const canvas = document.getElementById('world');
const messageBox = document.getElementById('message');
const statusText = document.getElementById('status');
const params = new URLSearchParams(location.search);

let visualizer = null;
let seed = 0;
let audio = null;        // the AudioContext, made at the first sound
let sound = null;        // what the world hears now: { kind: 'file' | 'microphone' | 'tab', ... }
let paused = false;
let trackDigest = 0;     // of the last decoded track's samples

// What scripts on the page (and the tests) can read.
const api = {
  ready: null,
  trace: null,           // the check mode's trace line, once done
  error: null,           // the words last shown, if any
  seed: () => seed,
  state: () => {
    const v = visualizer ? visualizer.state() : null;
    return {
      mode: sound ? sound.kind : 'idle',
      frames: v ? v.frames : 0,
      heard: v ? v.heard : 0,
      // The samples heard by the clock reading that the last display refresh stepped
      // the world to, at `rate` a second: the frames stepped are those it had heard.
      stepSamples: v ? v.clockSamples : 0,
      rate: v ? v.sampleRate : 0,
      total: v ? v.trackFrames : null,
      finished: !!(v && v.finished),
      paused,
      // The largest sample the world has heard: 0 for silence.
      peak: v ? v.peak : 0,
      stepMeanMs: v ? v.timing.meanMs : 0,
      stepMaxMs: v ? v.timing.maxMs : 0,
      steps: v ? v.timing.steps : 0,
      shows: v ? v.shows : {},
      audioState: audio ? audio.state : 'none',
    };
  },
  traceLine: () => (visualizer ? visualizer.traceLine() : null),
  // A digest of the decoded track's samples (0 before any).
  trackDigest: () => trackDigest,
};
window.corvanta = api;

function say(words) {
  api.error = words;
  messageBox.textContent = words;
  messageBox.hidden = false;
}
function unsay() {
  messageBox.hidden = true;
  api.error = null;
}
function status(words) { statusText.textContent = words; }

function pickSeed() {
  const asked = params.get('seed');
  if (asked !== null) {
    if (/^\d+$/.test(asked) && Number(asked) <= 0xffffffff) return Number(asked);
    say(`The seed "${asked}" is not a whole number from 0 to 4294967295; the clock's seconds are used.`);
  }
  return Math.floor(Date.now() / 1000) >>> 0;
}

// FNV-1a over the bytes of both channels' floats, for telling whether two decodings gave
// the same samples.
function samplesDigest(decoded) {
  let hash = 0x811c9dc5;
  for (const channel of [decoded.left, decoded.right]) {
    const bytes = new Uint8Array(channel.buffer, channel.byteOffset, channel.byteLength);
    for (let i = 0; i < bytes.length; i += 1) hash = Math.imul(hash ^ bytes[i], 0x01000193);
  }
  return hash >>> 0;
}

async function decode(buffer) {
  const decoded = await decodeAudio(buffer, audio || undefined);
  trackDigest = samplesDigest(decoded);
  return decoded;
}

// ---- the check modes: N frames of a spectrum or audio file, as fast as possible ----

async function fetchBytes(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
  return response.arrayBuffer();
}

async function runFrames(what, input, frames) {
  status(`checking: ${what}`);
  const started = performance.now();
  try {
    api.trace = await visualizer.render(input, frames === null ? {} : { frames });
  } catch (e) {
    say(e.message);
    return;
  }
  document.documentElement.dataset.trace = api.trace;
  const { timing } = visualizer.state();
  status(`checked ${what}: ${visualizer.state().frames} frames in ${((performance.now() - started) / 1000).toFixed(1)} s, ` +
         `step ${timing.meanMs.toFixed(3)} ms; ${api.trace}`);
}

async function checkSpectrum(url, frames) {
  let bytes;
  try {
    bytes = new Uint8Array(await fetchBytes(url));
  } catch (e) {
    say(`The spectrum file ${url} could not be read: ${e.message}`);
    return;
  }
  if (bytes.length === 0 || bytes.length % 1152 !== 0) {
    say(`The spectrum file ${url} is not whole records of 1152 bytes.`);
    return;
  }
  await runFrames(url, bytes, frames);
}

async function checkAudio(url, frames) {
  let decoded;
  try {
    decoded = await decode(await fetchBytes(url));
  } catch (e) {
    say(`The audio file ${url} could not be read or decoded: ${e.message}`);
    return;
  }
  await runFrames(url, decoded, frames);
}

// ---- sound ----

function audioContext() {
  if (!audio) {
    if (typeof AudioContext !== 'function') throw new Error('This browser has no Web Audio: it cannot play or listen.');
    audio = new AudioContext({ latencyHint: 'playback' });
  }
  return audio;
}

// The sound may wait for a click or a key: browsers start audio only after one.
async function startAudio() {
  if (audio.state !== 'running') {
    try { await Promise.race([audio.resume(), new Promise((r) => setTimeout(r, 300))]); } catch (e) { /* below */ }
  }
  if (audio.state !== 'running') status('click or press a key to start the sound');
}

// The page's own side of the sound: the visualizer stops its own when the next begins.
function stopSound() {
  if (!sound) return;
  if (sound.stream) sound.stream.getTracks().forEach((t) => t.stop());
  if (sound.input) sound.input.disconnect();
  sound = null;
  document.body.classList.remove('playing');
}

async function playFile(file) {
  unsay();
  status(`decoding ${file.name}`);
  let decoded;
  try {
    audioContext();
    decoded = await decode(await file.arrayBuffer());
  } catch (e) {
    status('');
    say(e instanceof Error && e.message.startsWith('This browser')
      ? e.message
      : `The browser could not decode "${file.name}" as audio${e && e.message ? ` (${e.message})` : ''}. ` +
        'Try WAV, FLAC, Ogg or MP3.');
    return;
  }
  await startAudio();
  let track;
  try {
    track = await visualizer.playTrack(decoded, { context: audio });
  } catch (e) {
    status('');
    say(e.message);
    return;
  }
  stopSound();
  sound = { kind: 'file', name: file.name };
  const playing = sound;
  paused = false;
  document.body.classList.add('playing');
  status(`${file.name}: ${track.duration.toFixed(1)} s at ${track.sampleRate} Hz`);
  if (await track.finished && sound === playing) {
    document.body.classList.remove('playing');
    status(`${file.name}: done, ${track.frames} frames; frame step ${visualizer.state().timing.meanMs.toFixed(3)} ms mean`);
  }
}

function refusal(kind, e) {
  const what = kind === 'microphone' ? 'the microphone' : "a tab's or the screen's sound";
  switch (e && e.name) {
    case 'NotAllowedError':
    case 'SecurityError':
      return `The browser refused ${what}: permission was denied or the choice was cancelled. ` +
             'Allow it for this page and try again, or play a file.';
    case 'NotFoundError':
    case 'OverconstrainedError':
      return kind === 'microphone' ? 'No microphone or other audio input was found.' : `No source of ${what} was found.`;
    case 'NotReadableError':
    case 'AbortError':
      return `The browser could not open ${what}: another program may be using it.`;
    case 'NotSupportedError':
    case 'TypeError':
      return `This browser cannot share ${what} here.`;
    default:
      return `Listening to ${what} failed: ${e && e.name ? `${e.name}: ` : ''}${e && e.message ? e.message : e}`;
  }
}

// Live input: the visualizer hears the stream's node, the window ending at each frame's
// moment (there are no later samples to centre on).
async function listen(kind) {
  unsay();
  const devices = navigator.mediaDevices;
  const ask = devices && (kind === 'microphone' ? devices.getUserMedia : devices.getDisplayMedia);
  if (!ask) {
    say(`This browser offers no ${kind === 'microphone' ? 'audio input' : 'tab or screen sharing'} to this page ` +
        '(it must come from https or from this machine).');
    return;
  }
  let stream;
  try {
    stream = kind === 'microphone'
      ? await devices.getUserMedia({ audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false } })
      : await devices.getDisplayMedia({ video: true, audio: true });
  } catch (e) {
    say(refusal(kind, e));
    return;
  }
  if (stream.getAudioTracks().length === 0) {
    stream.getTracks().forEach((t) => t.stop());
    say('That choice came without sound: pick a tab (or the screen) and tick "share audio".');
    return;
  }
  let input;
  try {
    input = audioContext().createMediaStreamSource(stream);
    await visualizer.listen(input);
  } catch (e) {
    stream.getTracks().forEach((t) => t.stop());
    say(e.message);
    return;
  }
  stopSound();
  sound = { kind, stream, input };
  await startAudio();
  stream.getAudioTracks()[0].addEventListener('ended', () => status('the input has ended'));
  paused = false;
  document.body.classList.add('playing');
  status(`listening to ${kind === 'microphone' ? 'the microphone' : 'the shared sound'} at ${audio.sampleRate} Hz`);
}

// ---- the page's controls ----

function togglePause() {
  if (!sound || !audio) return;
  paused = !paused;
  if (paused) {
    visualizer.pause();
    audio.suspend();
    status('paused');
  } else {
    audio.resume();
    visualizer.resume();
    status('');
  }
}

function wire() {
  document.getElementById('file').addEventListener('change', (e) => {
    const file = e.target.files[0];
    e.target.value = '';
    if (file) playFile(file);
  });
  document.getElementById('microphone').addEventListener('click', () => listen('microphone'));
  document.getElementById('tab').addEventListener('click', () => listen('tab'));
  document.addEventListener('keydown', (e) => {
    if (audio && audio.state === 'suspended' && !paused) audio.resume();
    if (e.target instanceof HTMLInputElement || e.ctrlKey || e.metaKey || e.altKey) return;
    if (e.key === 'f' || e.key === 'F' || e.key === 'F11') {
      e.preventDefault();
      if (document.fullscreenElement) document.exitFullscreen();
      else document.documentElement.requestFullscreen().catch(() => say('The browser would not go full screen.'));
    } else if (e.key === ' ') {
      e.preventDefault();
      togglePause();
    }
  });
  document.addEventListener('pointerdown', () => {
    if (audio && audio.state === 'suspended' && !paused) audio.resume();
  });
  document.addEventListener('dragover', (e) => {
    e.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    const file = e.dataTransfer.files[0];
    if (file) playFile(file);
  });
}

async function main() {
  seed = pickSeed();
  document.getElementById('seed').textContent = `seed ${seed}`;
  visualizer = await createVisualizer(canvas, { seed });
  wire();
  const spectrum = params.get('spectrum');
  const track = params.get('audio');
  const frames = params.get('frames') === null ? null : Number(params.get('frames'));
  if (frames !== null && !(Number.isInteger(frames) && frames >= 0)) {
    say(`frames=${params.get('frames')} is not a number of frames.`);
  } else if (spectrum !== null) {
    await checkSpectrum(spectrum, frames === null ? 1000 : frames);
  } else if (track !== null) {
    await checkAudio(track, frames);
  } else {
    status('choose or drop a song, or listen');
  }
}

api.ready = main().catch((e) => say(`The page could not start: ${e && e.message ? e.message : e}`));
