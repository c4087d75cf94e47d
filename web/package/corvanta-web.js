// corvanta-web: the Corvanta world on a canvas of any web page, hearing a track it plays
// itself or any Web Audio node of the host's own player.
//
// The build writes this text after Emscripten's glue (which defines createCorvanta, the
// module's factory) into the package's one file, index.js, with corvanta.wasm beside it.
// One module instance serves the whole page: WebAssembly memory never shrinks, so an
// instance per visualizer would run out after some dozens; each visualizer is a handle
// of libcorvanta inside it (web/corvanta_web.cpp).

const WIDTH = 1000;
const HEIGHT = 400;
const FRAMES_PER_SECOND = 40;
const SPECTRUM_BYTES = 1152;
// The sample rates corvanta-sim and corvanta-play take too. A WAV header may claim any
// rate; outside these the file is misread or made up.
const LOWEST_RATE = 8000;
const HIGHEST_RATE = 192000;
const FEED_FRAMES = 4096;   // sample frames of a track handed to the world at a time
const STARTUP_FRAMES = 150; // frames whose steps are not timed: the code is still warming
const START_AHEAD = 0.05;   // seconds from asking a track to play to its first sample
const SLICE_MS = 50;        // render() gives the page back its thread this often
const TAP_FRAMES = 1024;    // sample frames the capture worklet sends at a time
// libcorvanta's inputs and windows.
const PCM = 0;
const SPECTRUM = 1;
const CENTRED = 0;
const TRAILING = 1;

export const VERSION = '@CORVANTA_VERSION@';
export { WIDTH, HEIGHT, FRAMES_PER_SECOND };

// ---- the module ----

let loading = null;
let M = null;

export function load(options = {}) {
  if (!loading) {
    const locate = options.locateFile;
    if (locate !== undefined && typeof locate !== 'function') {
      return Promise.reject(new Error(`load: locateFile must be a function of the file name, not ${describe(locate)}`));
    }
    loading = createCorvanta({
      locateFile: (file) => String(locate ? locate(file) : new URL('./corvanta.wasm', import.meta.url)),
    }).then((module) => { M = module; }, (e) => {
      loading = null;
      throw new Error(`the Corvanta module could not be loaded: ${e && e.message ? e.message : e}`);
    });
  }
  return loading;
}

export function memoryUsage() {
  if (!M) throw new Error('memoryUsage: the module is not loaded yet (await load() or createVisualizer() first)');
  return { heapInUse: M._cw_heap_in_use() >>> 0, memoryBytes: M.HEAPU8.buffer.byteLength };
}

function describe(value) {
  if (value === null || value === undefined) return String(value);
  if (typeof value !== 'object' && typeof value !== 'function') return `${typeof value} ${String(value).slice(0, 40)}`;
  const name = value.constructor && value.constructor.name ? value.constructor.name : 'Object';
  return `${/^([AEIOU]|HTML)/.test(name) ? 'an' : 'a'} ${name}`;
}

function failed(what, handle) {
  return new Error(`${what}: ${M.UTF8ToString(M._cw_last_error(handle))}`);
}

// The last frame whose moment has been heard after `samples` sample frames: frame k's
// moment is floor(k * rate / 40), as libcorvanta places it.
function lastFrameHeard(samples, rate) {
  return samples < 0 ? -1 : Math.floor((FRAMES_PER_SECOND * (samples + 1) - 1) / rate);
}

// Frames a track of `length` sample frames gives, as corvanta-sim --audio runs it.
function trackFrames(length, rate) {
  return lastFrameHeard(length - 1, rate) + 1;
}

// The audio clock's reading of what is heard now: the context's time less the output's
// own delay, where the browser tells it.
function heardTime(context) {
  let now = context.currentTime;
  if (typeof context.getOutputTimestamp === 'function') {
    const stamp = context.getOutputTimestamp();
    if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
      now = Math.min(now, stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000);
    }
  }
  return now;
}

function checkSeed(seed, what) {
  if (!(Number.isInteger(seed) && seed >= 0 && seed <= 0xffffffff)) {
    throw new Error(`${what}: a seed is a whole number from 0 to 4294967295, not ${describe(seed)}`);
  }
  return seed;
}

const clockSeed = () => Math.floor(Date.now() / 1000) >>> 0;

function checkRate(rate, what) {
  if (!(rate >= LOWEST_RATE && rate <= HIGHEST_RATE)) {
    throw new Error(`${what}the sample rate ${rate} Hz is outside the ${LOWEST_RATE} to ${HIGHEST_RATE} Hz Corvanta plays`);
  }
}

function isDecoded(x) {
  return !!x && typeof x.sampleRate === 'number' && x.left instanceof Float32Array && x.right instanceof Float32Array;
}

// ---- decoding ----

// WAV is read here, scaled exactly as libsndfile scales it (integers over 2^(bits-1)),
// so the samples, and with them the world, equal corvanta-sim --audio's: the browser's
// decoder scales positive and negative samples differently. Null when the file is not a
// WAV file this reads (the browser then tries).
function decodeWav(buffer) {
  const view = new DataView(buffer);
  const tag = (at) => String.fromCharCode(view.getUint8(at), view.getUint8(at + 1), view.getUint8(at + 2), view.getUint8(at + 3));
  if (buffer.byteLength < 12 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE') return null;
  let format = null;
  let data = null;
  for (let at = 12; at + 8 <= buffer.byteLength;) {
    const id = tag(at);
    const size = view.getUint32(at + 4, true);
    const body = at + 8;
    if (id === 'fmt ' && size >= 16 && body + 16 <= buffer.byteLength) {
      format = {
        code: view.getUint16(body, true),
        channels: view.getUint16(body + 2, true),
        rate: view.getUint32(body + 4, true),
        bits: view.getUint16(body + 14, true),
      };
      if (format.code === 0xfffe && size >= 26) format.code = view.getUint16(body + 24, true);
    } else if (id === 'data') {
      data = { start: body, size: Math.min(size, buffer.byteLength - body) };
      break;
    }
    at = body + size + (size & 1);
  }
  if (!format || !data) return null;
  const { code, channels, rate, bits } = format;
  const readers = {
    '1:8': (at) => (view.getUint8(at) - 128) / 128,
    '1:16': (at) => view.getInt16(at, true) / 32768,
    '1:24': (at) => ((view.getUint8(at) | (view.getUint8(at + 1) << 8) | (view.getInt8(at + 2) << 16))) / 8388608,
    '1:32': (at) => Math.fround(view.getInt32(at, true)) / 2147483648,
    '3:32': (at) => view.getFloat32(at, true),
    '3:64': (at) => view.getFloat64(at, true),
  };
  const read = readers[`${code}:${bits}`];
  if (!read || channels < 1 || rate < 1) return null;
  const bytes = bits / 8;
  const length = Math.floor(data.size / (bytes * channels));
  const left = new Float32Array(length);
  const right = new Float32Array(length);
  const second = channels > 1 ? bytes : 0;  // a mono file is heard on both channels
  for (let i = 0, at = data.start; i < length; i += 1, at += bytes * channels) {
    left[i] = read(at);
    right[i] = read(at + second);
  }
  return { sampleRate: rate, length, left, right };
}

function id3Size(bytes) {
  if (bytes.length < 10 || String.fromCharCode(bytes[0], bytes[1], bytes[2]) !== 'ID3') return 0;
  return 10 + ((bytes[6] & 0x7f) << 21 | (bytes[7] & 0x7f) << 14 | (bytes[8] & 0x7f) << 7 | (bytes[9] & 0x7f));
}

// The rate a file was made at, from its first header, so the browser decodes it without
// resampling: FLAC, Ogg Vorbis, Opus, MP3. 0 when unknown.
function sniffRate(bytes) {
  const text = (at, n) => String.fromCharCode(...bytes.subarray(at, at + n));
  const at = id3Size(bytes);
  if (text(at, 4) === 'fLaC' && bytes.length > at + 20) {
    return (bytes[at + 18] << 12) | (bytes[at + 19] << 4) | (bytes[at + 20] >> 4);
  }
  if (text(0, 4) === 'OggS') {
    const head = text(28, 8);
    if (head.startsWith('\x01vorbis') && bytes.length >= 44) return new DataView(bytes.buffer, bytes.byteOffset).getUint32(40, true);
    if (head === 'OpusHead') return 48000;  // Opus always decodes at 48 kHz
    return 0;
  }
  for (let i = at; i + 3 < bytes.length && i < at + 65536; i += 1) {
    if (bytes[i] !== 0xff || (bytes[i + 1] & 0xe0) !== 0xe0) continue;
    const version = (bytes[i + 1] >> 3) & 3;   // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    const index = (bytes[i + 2] >> 2) & 3;
    if (version === 1 || index === 3 || ((bytes[i + 1] >> 1) & 3) === 0) continue;
    const base = [44100, 48000, 32000][index];
    return version === 3 ? base : version === 2 ? base / 2 : base / 4;
  }
  return 0;
}

// Bits per sample of a FLAC file, from its STREAMINFO; 0 for anything else.
function flacBits(bytes) {
  const at = id3Size(bytes);
  if (String.fromCharCode(...bytes.subarray(at, at + 4)) !== 'fLaC' || bytes.length < at + 22) return 0;
  return (((bytes[at + 20] & 1) << 4) | (bytes[at + 21] >> 4)) + 1;
}

// The browser's decoder divides a positive integer sample by 2^(n-1) - 1 (n: 16, or 32
// for deeper files) and a negative one by 2^(n-1); libsndfile divides both by
// 2^(bits-1). The integer is still exactly recoverable from the float, so FLAC gives
// corvanta-sim's samples too. A sample already on libsndfile's grid is left alone, should
// a browser scale that way itself.
function rescaleIntegers(channel, bits) {
  const container = bits <= 16 ? 16 : 32;
  const positive = 2 ** (container - 1) - 1;
  const shift = 2 ** (container - bits);
  const full = 2 ** (bits - 1);
  for (let i = 0; i < channel.length; i += 1) {
    const f = channel[i];
    if (f > 0 && !Number.isInteger(f * full)) channel[i] = Math.round(Math.round(f * positive) / shift) / full;
  }
}

async function decodeWithBrowser(buffer, fallbackRate) {
  const bytes = new Uint8Array(buffer);
  const rate = sniffRate(bytes) || fallbackRate;
  const bits = flacBits(bytes);
  let decoded;
  try {
    // (decodeAudioData takes the buffer over: it is this function's own copy.)
    decoded = await new OfflineAudioContext(2, 1, rate).decodeAudioData(buffer);
  } catch (e) {
    throw new Error(`the browser could not decode these bytes as audio${e && e.message ? ` (${e.message})` : ''}`);
  }
  const left = decoded.getChannelData(0);
  const right = decoded.numberOfChannels > 1 ? decoded.getChannelData(1) : left;
  if (bits >= 8 && bits <= 24) {
    rescaleIntegers(left, bits);
    if (right !== left) rescaleIntegers(right, bits);
  }
  return { sampleRate: decoded.sampleRate, length: decoded.length, left, right };
}

async function bytesOf(data, what) {
  if (data instanceof ArrayBuffer) return data.slice(0);
  if (ArrayBuffer.isView(data)) return data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength);
  if (typeof Blob !== 'undefined' && data instanceof Blob) return data.arrayBuffer();
  if (typeof data === 'string' || data instanceof URL) {
    const response = await fetch(data);
    if (!response.ok) throw new Error(`${what}: ${data} could not be fetched: ${response.status} ${response.statusText}`);
    return response.arrayBuffer();
  }
  throw new Error(`${what}: audio comes as an ArrayBuffer, a typed array, a Blob, a URL or decoded samples, not ${describe(data)}`);
}

export async function decodeAudio(data, context) {
  const buffer = await bytesOf(data, 'decodeAudio');
  return decodeWav(buffer) || decodeWithBrowser(buffer, context && context.sampleRate ? context.sampleRate : 48000);
}

// ---- hearing a node: a worklet whose code travels inside this file ----

// Each block of 128 sample frames the node plays, as two channels (mono heard on both,
// nothing connected heard as silence), sent on in batches tagged with the context frame
// of their first sample: the world's frames are placed on the audio clock by it.
const TAP_CODE = `registerProcessor('corvanta-tap', class extends AudioWorkletProcessor {
  constructor() {
    super();
    this.on = true;
    this.n = 0;
    this.from = 0;
    this.fresh();
    this.port.onmessage = () => { this.on = false; };
  }
  fresh() {
    this.left = new Float32Array(${TAP_FRAMES});
    this.right = new Float32Array(${TAP_FRAMES});
  }
  process(inputs) {
    if (!this.on) return false;
    const input = inputs[0];
    const length = input.length ? input[0].length : 128;
    if (this.n + length > ${TAP_FRAMES}) this.send();
    if (this.n === 0) this.from = currentFrame;
    if (input.length) {
      this.left.set(input[0], this.n);
      this.right.set(input[input.length > 1 ? 1 : 0], this.n);
    }
    this.n += length;
    if (this.n === ${TAP_FRAMES}) this.send();
    return true;
  }
  send() {
    this.port.postMessage({ from: this.from, n: this.n, left: this.left, right: this.right },
                          [this.left.buffer, this.right.buffer]);
    this.n = 0;
    this.fresh();
  }
});
`;

const tapModules = new WeakMap();  // AudioContext -> the worklet's addModule promise

function tapReady(context) {
  let ready = tapModules.get(context);
  if (!ready) {
    if (!context.audioWorklet) {
      return Promise.reject(new Error('listen: this browser offers this page no AudioWorklet (it needs https or this machine)'));
    }
    const url = URL.createObjectURL(new Blob([TAP_CODE], { type: 'text/javascript' }));
    ready = context.audioWorklet.addModule(url).catch((e) => {
      tapModules.delete(context);
      throw new Error(`listen: the capture worklet could not start (${e && e.message ? e.message : e}); ` +
                      'a Content-Security-Policy must allow blob: scripts');
    }).finally(() => URL.revokeObjectURL(url));
    tapModules.set(context, ready);
  }
  return ready;
}

// ---- the visualizer ----

export async function createVisualizer(canvas, options = {}) {
  const isCanvas = typeof HTMLCanvasElement !== 'undefined' && canvas instanceof HTMLCanvasElement;
  if (!isCanvas) throw new Error(`createVisualizer: the world is drawn on an HTMLCanvasElement, not on ${describe(canvas)}`);
  const seed = options.seed === undefined ? clockSeed() : checkSeed(options.seed, 'createVisualizer');
  const draw = canvas.getContext('2d');
  if (!draw) throw new Error('createVisualizer: this canvas already draws with another context than 2d (WebGL or WebGPU)');
  await load(options);
  return new Visualizer(canvas, draw, seed);
}

class Visualizer {
  #canvas;
  #draw;
  #seed;
  #handle = 0;
  #image = null;         // an ImageData over the handle's picture in the module's memory
  #context = null;       // the AudioContext of the first sound
  #ownContext = false;   // made here, so closed here
  #sound = null;         // { kind: 'track' | 'node', ... }
  #paused = false;
  #disposed = false;
  #run = 0;              // bumped by every call that replaces the sound or the world
  #raf = 0;
  #clock = 0;            // samples of the current stream heard at the last step
  #frameBase = 0;        // the world's frame when the current stream began
  #peak = 0;
  #timing = { steps: 0, totalMs: 0, maxMs: 0 };
  #shows = { ticks: 0, shown: 0, unshown: 0, worstGapMs: 0, lastTick: 0, unshownAt: [] };
  #onRefresh = (now) => this.#refresh(now);
  #onTap = (event) => this.#tapped(event);

  constructor(canvas, draw, seed) {
    this.#canvas = canvas;
    this.#draw = draw;
    this.#seed = seed;
    canvas.width = WIDTH;
    canvas.height = HEIGHT;
    this.#newWorld(PCM, 44100, CENTRED);
  }

  get canvas() { return this.#canvas; }
  get seed() { return this.#seed; }
  get context() { return this.#context; }
  get disposed() { return this.#disposed; }
  get paused() { return this.#paused; }

  #alive(what) {
    if (this.#disposed) throw new Error(`${what}: this visualizer has been disposed`);
  }

  // A fresh world with the visualizer's seed, its first picture shown.
  #newWorld(input, rate, window) {
    if (this.#handle) M._cw_destroy(this.#handle);
    this.#handle = M._cw_create(input, this.#seed, 0, rate, 2, window);
    if (!this.#handle) throw new Error(`the world could not be made: ${M.UTF8ToString(M._cw_create_error())}`);
    this.#clock = 0;
    this.#frameBase = 0;
    this.#peak = 0;
    this.#timing = { steps: 0, totalMs: 0, maxMs: 0 };
    this.#shows = { ticks: 0, shown: 0, unshown: 0, worstGapMs: 0, lastTick: 0, unshownAt: [] };
    this.#show();
  }

  #show() {
    const at = M._cw_picture(this.#handle);
    const image = this.#image;
    if (!image || image.data.buffer !== M.HEAPU8.buffer || image.data.byteOffset !== at) {
      // A grown memory is a new buffer: the view is made again.
      this.#image = new ImageData(new Uint8ClampedArray(M.HEAPU8.buffer, at, WIDTH * HEIGHT * 4), WIDTH, HEIGHT);
    }
    this.#draw.putImageData(this.#image, 0, 0);
  }

  #step(spectrum) {
    const timed = M._cw_frame_number(this.#handle) > STARTUP_FRAMES;
    const t0 = performance.now();
    const change = spectrum ? M._cw_step_spectrum(this.#handle) : M._cw_step(this.#handle);
    if (change < 0) throw failed('step', this.#handle);
    if (timed) {
      const ms = performance.now() - t0;
      this.#timing.steps += 1;
      this.#timing.totalMs += ms;
      if (ms > this.#timing.maxMs) this.#timing.maxMs = ms;
    }
    return change;
  }

  // `n` sample frames of two channels from `at` (null channels: silence) into the world.
  #feed(left, right, at, n) {
    const to = M._cw_samples(this.#handle, n);
    if (!to) throw new Error('the module ran out of memory for sound');
    const heap = M.HEAPF32;  // after the allocation, which may have grown the memory
    let peak = this.#peak;
    for (let i = 0, j = to >> 2; i < n; i += 1, j += 2) {
      const l = left ? left[at + i] : 0;
      const r = right ? right[at + i] : 0;
      heap[j] = l;
      heap[j + 1] = r;
      peak = Math.max(peak, Math.abs(l), Math.abs(r));
    }
    this.#peak = peak;
    if (M._cw_feed(this.#handle, n) < 0) throw failed('feed', this.#handle);
  }

  // Hands the world the track's next samples; at its end, finishes the stream (`finish`)
  // or goes on with silence. False when nothing is left to hand over.
  #supply(track, finish) {
    const n = Math.min(FEED_FRAMES, track.end - track.start - track.fed);
    if (n > 0) {
      this.#feed(track.left, track.right, track.start + track.fed, n);
      track.fed += n;
    } else if (!finish) {
      this.#feed(null, null, 0, FEED_FRAMES);
      return true;
    }
    if (finish && track.start + track.fed === track.end && !track.ended) {
      M._cw_finish(this.#handle);
      track.ended = true;
      return true;
    }
    return n > 0;
  }

  // Steps every frame of the current stream whose moment the audio clock has heard and
  // whose samples have arrived. What it stepped, and whether the picture changed.
  #advance() {
    const sound = this.#sound;
    const heard = this.#heardSamples(sound);
    // The output's timestamps may put the clock a little back; the world never goes back.
    if (heard > this.#clock) this.#clock = heard;
    const target = this.#frameBase + lastFrameHeard(this.#clock, sound.rate) + 1;
    const handle = this.#handle;
    let stepped = 0;
    let drawn = false;
    while (M._cw_frame_number(handle) < target) {
      if (M._cw_frames_due(handle) === 0 && !(sound.kind === 'track' && this.#supply(sound.track, true))) break;
      if (M._cw_frames_due(handle) === 0) continue;
      drawn = this.#step(false) > 0 || drawn;
      stepped += 1;
    }
    if (sound.kind === 'track' && sound.track.ended && M._cw_frames_due(handle) === 0 && !sound.done) {
      sound.done = true;
      sound.settle(true);
      this.#stopRefresh();
    }
    return { stepped, drawn };
  }

  // Seconds of the current sound heard: a track's position, or a node's time since its
  // stream began.
  #heardSeconds(sound) {
    if (sound.kind === 'track') {
      if (this.#paused || !sound.source) return sound.offset;
      return sound.offset + Math.max(0, heardTime(this.#context) - sound.startAt);
    }
    if (sound.from === null) return 0;
    return Math.max(0, heardTime(this.#context) - sound.from / sound.rate);
  }

  #heardSamples(sound) {
    if (sound.kind === 'track') return Math.floor(this.#heardSeconds(sound) * sound.rate) - sound.track.start;
    if (sound.from === null) return -1;
    return Math.floor(heardTime(this.#context) * sound.rate) - sound.from;
  }

  // Every display refresh: step what the clock has heard, each frame with its own
  // window, and show the last. A late refresh steps the frames that fell due meanwhile,
  // so the world never skips one.
  #refresh(now) {
    this.#raf = requestAnimationFrame(this.#onRefresh);
    if (!this.#sound || this.#paused || this.#context.state !== 'running') return;
    const { stepped, drawn } = this.#advance();
    const shows = this.#shows;
    if (stepped > 0) {
      if (drawn) this.#show();
      if (shows.lastTick > 0) shows.worstGapMs = Math.max(shows.worstGapMs, now - shows.lastTick);
      shows.lastTick = now;
      shows.shown += 1;
      shows.unshown += stepped - 1;
      if (stepped > 1 && shows.unshownAt.length < 20) shows.unshownAt.push(M._cw_frame_number(this.#handle));
    }
    shows.ticks += 1;
  }

  #startRefresh() {
    if (!this.#raf && !this.#paused && this.#sound && !this.#sound.done) {
      this.#raf = requestAnimationFrame(this.#onRefresh);
    }
  }

  #stopRefresh() {
    if (this.#raf) cancelAnimationFrame(this.#raf);
    this.#raf = 0;
  }

  // Samples from the capture worklet. While the page is hidden there are no refreshes:
  // the frames are stepped here then, so the sound held stays small.
  #tapped(event) {
    const sound = this.#sound;
    if (!sound || sound.kind !== 'node' || event.target !== sound.tap.port || this.#paused) return;
    const { from, n, left, right } = event.data;
    if (sound.from === null) sound.from = from;
    this.#feed(left, right, 0, n);
    if (typeof document !== 'undefined' && document.hidden) this.#advance();
  }

  #startTrack(sound) {
    const source = this.#context.createBufferSource();
    source.buffer = sound.buffer;
    source.connect(sound.destination);
    sound.startAt = this.#context.currentTime + START_AHEAD;
    source.start(sound.startAt, sound.offset);
    sound.source = source;
  }

  #stopTrackSource(sound) {
    if (!sound.source) return;
    try { sound.source.stop(); } catch { /* never started */ }
    sound.source.disconnect();
    sound.source = null;
  }

  // Stops hearing: the track this visualizer plays stops, a node is no longer heard (its
  // connection to the tap alone is undone, never the host's own).
  #stopSound() {
    const sound = this.#sound;
    this.#sound = null;
    this.#stopRefresh();
    this.#paused = false;
    if (!sound) return;
    if (sound.kind === 'track') {
      this.#stopTrackSource(sound);
      if (!sound.done) sound.settle(false);
    } else {
      try { sound.node.disconnect(sound.tap); } catch { /* the host undid it already */ }
      sound.tap.port.removeEventListener('message', this.#onTap);
      sound.tap.port.postMessage('stop');
    }
  }

  // The context sound plays in: the host's, the one first used, or one made here.
  #takeContext(context, what) {
    if (context !== undefined && !(typeof AudioContext !== 'undefined' && context instanceof AudioContext)) {
      throw new Error(`${what}: the world keeps to an AudioContext's clock; it was given ${describe(context)}`);
    }
    if (this.#context && context && context !== this.#context) {
      throw new Error(`${what}: this visualizer first played in another AudioContext than the one given; ` +
                      'a visualizer keeps to one context (make another visualizer for this one)');
    }
    if (!this.#context) {
      if (context) {
        this.#context = context;
      } else {
        if (typeof AudioContext !== 'function') throw new Error(`${what}: this browser has no Web Audio`);
        this.#context = new AudioContext({ latencyHint: 'playback' });
        this.#ownContext = true;
      }
    }
    return this.#context;
  }

  async playTrack(source, options = {}) {
    this.#alive('playTrack');
    const context = this.#takeContext(options.context, 'playTrack');
    const destination = options.destination === undefined ? context.destination : options.destination;
    if (!(destination instanceof AudioNode) || destination.context !== context) {
      throw new Error('playTrack: the destination must be an AudioNode of the same AudioContext');
    }
    const run = ++this.#run;
    const decoded = isDecoded(source) ? source : await decodeAudio(await bytesOf(source, 'playTrack'), context);
    if (run !== this.#run) throw new Error(`playTrack: ${this.#disposed ? 'disposed' : 'replaced by a later call'} while decoding`);
    checkRate(decoded.sampleRate, '');
    const length = Math.min(decoded.left.length, decoded.right.length);
    if (length < 1) throw new Error('playTrack: the track holds no sound');
    this.#stopSound();
    this.#newWorld(PCM, decoded.sampleRate, CENTRED);
    const buffer = new AudioBuffer({ numberOfChannels: 2, length, sampleRate: decoded.sampleRate });
    buffer.copyToChannel(decoded.left.subarray(0, length), 0);
    buffer.copyToChannel(decoded.right.subarray(0, length), 1);
    let settle;
    const finished = new Promise((resolve) => { settle = resolve; });
    const sound = {
      kind: 'track', rate: decoded.sampleRate, buffer, destination, source: null, startAt: 0, offset: 0,
      track: { left: decoded.left, right: decoded.right, start: 0, end: length, fed: 0, ended: false },
      frames: trackFrames(length, decoded.sampleRate), done: false, settle,
    };
    if (context.state !== 'running') context.resume().catch(() => {});
    this.#startTrack(sound);
    this.#sound = sound;
    this.#startRefresh();
    return { sampleRate: sound.rate, length, duration: length / sound.rate, frames: sound.frames, finished };
  }

  async listen(node) {
    this.#alive('listen');
    if (!(typeof AudioNode !== 'undefined' && node instanceof AudioNode)) {
      throw new Error(`listen: the world hears an AudioNode of the host's player, not ${describe(node)}`);
    }
    const context = node.context;
    if (this.#context && context !== this.#context) {
      throw new Error('listen: this node belongs to another AudioContext than the one this visualizer was first ' +
                      'connected in; a visualizer keeps to one context (make another visualizer for this one)');
    }
    this.#takeContext(context, 'listen');
    const run = ++this.#run;
    await tapReady(context);
    if (run !== this.#run) throw new Error(`listen: ${this.#disposed ? 'disposed' : 'replaced by a later call'} while starting`);
    this.#stopSound();
    this.#newWorld(PCM, context.sampleRate, TRAILING);
    const tap = new AudioWorkletNode(context, 'corvanta-tap', {
      numberOfInputs: 1, numberOfOutputs: 0, channelCount: 2, channelCountMode: 'explicit', channelInterpretation: 'speakers',
    });
    tap.port.addEventListener('message', this.#onTap);
    tap.port.start();
    node.connect(tap);
    this.#sound = { kind: 'node', node, tap, rate: context.sampleRate, from: null };
    this.#startRefresh();
  }

  // Runs the world through decoded sound (as corvanta-sim --audio, past its end silence)
  // or spectrum records (looping, as corvanta-sim --spectrum) as fast as it can, without
  // playing; the current sound stops. Resolves with the last frame's trace line.
  async render(input, options = {}) {
    this.#alive('render');
    const frames = options.frames;
    if (frames !== undefined && !(Number.isInteger(frames) && frames >= 0)) {
      throw new Error(`render: frames is a whole number of frames, not ${describe(frames)}`);
    }
    let records = null;
    let track = null;
    if (isDecoded(input)) {
      checkRate(input.sampleRate, 'render: ');
      const length = Math.min(input.left.length, input.right.length);
      track = { left: input.left, right: input.right, start: 0, end: length, fed: 0, ended: false };
    } else if (input instanceof Uint8Array && input.length > 0 && input.length % SPECTRUM_BYTES === 0) {
      records = input;
    } else {
      throw new Error(`render: the world runs on decoded audio or whole spectrum records of ${SPECTRUM_BYTES} bytes, ` +
                      `not ${describe(input)}${input instanceof Uint8Array ? ` of ${input.length} bytes` : ''}`);
    }
    const run = ++this.#run;
    this.#stopSound();
    this.#newWorld(records ? SPECTRUM : PCM, track ? input.sampleRate : 44100, CENTRED);
    const total = frames !== undefined ? frames : records ? records.length / SPECTRUM_BYTES : trackFrames(track.end, input.sampleRate);
    for (let n = 0; n < total;) {
      const slice = performance.now();
      while (n < total && performance.now() - slice < SLICE_MS) {
        if (records) {
          const r = n % (records.length / SPECTRUM_BYTES);
          M.HEAPU8.set(records.subarray(r * SPECTRUM_BYTES, (r + 1) * SPECTRUM_BYTES), M._cw_spectrum(this.#handle));
        } else {
          while (M._cw_frames_due(this.#handle) === 0) this.#supply(track, false);
        }
        this.#step(!!records);
        n += 1;
      }
      await new Promise((resolve) => setTimeout(resolve, 0));
      if (run !== this.#run) throw new Error(`render: ${this.#disposed ? 'disposed' : 'replaced by a later call'} before its end`);
    }
    this.#show();
    return this.traceLine();
  }

  pause() {
    this.#alive('pause');
    if (this.#paused) return;
    const sound = this.#sound;
    if (sound && sound.kind === 'track') {
      sound.offset = this.#heardSeconds(sound);
      this.#stopTrackSource(sound);
    }
    this.#paused = true;
    this.#stopRefresh();
  }

  resume() {
    this.#alive('resume');
    if (!this.#paused) return;
    this.#paused = false;
    const sound = this.#sound;
    if (sound && sound.kind === 'track' && !sound.done && sound.offset < sound.buffer.duration) this.#startTrack(sound);
    if (sound && sound.kind === 'node') {
      // What was missed is not heard: a new stream starts with the next samples.
      M._cw_discontinuity(this.#handle);
      this.#frameBase = M._cw_frame_number(this.#handle);
      this.#clock = 0;
      sound.from = null;
    }
    this.#startRefresh();
  }

  reseed(seed) {
    this.#alive('reseed');
    this.#seed = seed === undefined ? clockSeed() : checkSeed(seed, 'reseed');
    const sound = this.#sound;
    if (!sound) {
      this.#newWorld(PCM, 44100, CENTRED);
    } else if (sound.kind === 'node') {
      this.#newWorld(PCM, sound.rate, TRAILING);
      sound.from = null;
    } else {
      // The new world hears the rest of the track, from where it is now.
      const at = Math.min(sound.track.end, Math.max(0, Math.floor(this.#heardSeconds(sound) * sound.rate)));
      this.#newWorld(PCM, sound.rate, CENTRED);
      Object.assign(sound.track, { start: at, fed: 0, ended: false });
      sound.frames = trackFrames(sound.track.end - at, sound.rate);
    }
  }

  traceLine() {
    this.#alive('traceLine');
    return M.UTF8ToString(M._cw_trace_line(this.#handle));
  }

  state() {
    this.#alive('state');
    const sound = this.#sound;
    const steps = this.#timing.steps;
    return {
      mode: sound ? sound.kind : 'idle',
      frames: M._cw_frame_number(this.#handle),
      heard: sound ? this.#heardSeconds(sound) : 0,
      clockSamples: this.#clock,
      sampleRate: sound ? sound.rate : 0,
      latency: sound ? M._cw_latency(this.#handle) / sound.rate : 0,
      trackFrames: sound && sound.kind === 'track' ? sound.frames : null,
      finished: !!(sound && sound.done),
      paused: this.#paused,
      peak: this.#peak,
      timing: { steps, meanMs: steps ? this.#timing.totalMs / steps : 0, maxMs: this.#timing.maxMs },
      shows: { ...this.#shows, unshownAt: [...this.#shows.unshownAt] },
    };
  }

  dispose() {
    if (this.#disposed) return;
    this.#disposed = true;
    this.#run += 1;
    this.#stopSound();
    M._cw_destroy(this.#handle);
    this.#handle = 0;
    this.#image = null;
    if (this.#ownContext) this.#context.close().catch(() => {});
  }
}
