// The Corvanta page: the world (WebAssembly) stepping 40 times per second of the sound
// it hears, each frame with the spectrum of its own moment, kept to the audio clock.
// The world, the spectrum analysis and the digests are the C++ of corvanta-sim; this
// script only decodes, plays, listens, keeps time and shows the picture.
//
// ?seed=S repeats a world (otherwise the clock's seconds). ?seed=S&spectrum=URL&frames=N
// runs N frames of a recorded spectrum file as fast as it can and puts the trace line
// of the last (as corvanta-sim --trace writes it) in window.corvanta.trace;
// ?seed=S&audio=URL[&frames=N] does the same with an audio file, without playing it,
// as corvanta-sim --audio does.
'use strict';

(() => {
  const WIDTH = 1000;
  const HEIGHT = 400;
  const SPECTRUM_BYTES = 1152;
  const FPS = 40;
  const WINDOW = 2048;
  const STARTUP_FRAMES = 150;  // frames that only listen: their steps are not timed
  // The sample rates corvanta-sim and corvanta-play take too. A WAV header may claim
  // any rate; outside these the file is misread or made up, and the browser would
  // refuse to play some of them.
  const LOWEST_RATE = 8000;
  const HIGHEST_RATE = 192000;

  const canvas = document.getElementById('world');
  const context2d = canvas.getContext('2d');
  let image = null;         // an ImageData over the module's own RGBA picture
  const messageBox = document.getElementById('message');
  const statusText = document.getElementById('status');
  const params = new URLSearchParams(location.search);

  let M = null;            // the WebAssembly module
  let seed = 0;
  let audio = null;        // the AudioContext, made at the first sound
  let sound = null;        // what the world listens to now: a file or a live input
  let paused = false;
  const timing = { steps: 0, totalMs: 0, maxMs: 0 };
  const showing = { ticks: 0, shown: 0, unshown: 0, worstGapMs: 0, lastTick: 0, unshownAt: [] };

  // What scripts on the page (and the tests) can read.
  const api = {
    ready: null,
    trace: null,           // the check mode's trace line, once done
    error: null,           // the words last shown, if any
    seed: () => seed,
    state: () => ({
      mode: sound ? sound.kind : 'idle',
      frames: M ? M._cv_frame_count() : 0,
      heard: sound ? heardSeconds() : 0,
      // The samples heard by the clock reading that the last display refresh stepped
      // the world to, at `rate` a second: the frames stepped are those it had heard.
      stepSamples: sound ? sound.stepSamples : 0,
      rate: sound ? sound.rate : 0,
      total: sound && sound.kind === 'file' ? sound.total : null,
      finished: !!(sound && sound.finished),
      paused,
      stepMeanMs: timing.steps ? timing.totalMs / timing.steps : 0,
      stepMaxMs: timing.maxMs,
      steps: timing.steps,
      shows: { ...showing, unshownAt: [...showing.unshownAt] },
      audioState: audio ? audio.state : 'none',
    }),
    traceLine: () => (M ? M.UTF8ToString(M._cv_trace_line()) : null),
    // A digest of the decoded track's samples (0 before any).
    trackDigest: () => M._cv_track_digest() >>> 0,
    // The sum of the 100 bytes the world reads from the last spectrum: 0 for silence.
    worldBandsSum: () => M.HEAPU8.subarray(M._cv_spectrum(), M._cv_spectrum() + 100).reduce((a, b) => a + b, 0),
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

  // corvanta-play's rule: the last frame whose start has been heard after `samples`.
  function lastFrameHeard(samples, rate) {
    if (samples < 0) return -1;
    return Math.floor((FPS * (samples + 1) - 1) / rate);
  }

  // The picture goes to the canvas straight from the module's memory, no copy between;
  // a grown memory is a new buffer, so the view is made again then.
  function show() {
    if (!image || image.data.buffer !== M.HEAPU8.buffer) {
      image = new ImageData(new Uint8ClampedArray(M.HEAPU8.buffer, M._cv_rgba(), WIDTH * HEIGHT * 4), WIDTH, HEIGHT);
    }
    context2d.putImageData(image, 0, 0);
  }

  function step() {
    const timed = M._cv_frame_count() > STARTUP_FRAMES;
    const t0 = performance.now();
    M._cv_step();
    if (timed) {
      const ms = performance.now() - t0;
      timing.steps += 1;
      timing.totalMs += ms;
      if (ms > timing.maxMs) timing.maxMs = ms;
    }
  }

  function restartWorld() {
    M._cv_start(seed);
    timing.steps = 0;
    timing.totalMs = 0;
    timing.maxMs = 0;
    Object.assign(showing, { ticks: 0, shown: 0, unshown: 0, worstGapMs: 0, lastTick: 0, unshownAt: [] });
    show();
  }

  function pickSeed() {
    const asked = params.get('seed');
    if (asked !== null) {
      if (/^\d+$/.test(asked) && Number(asked) <= 0xffffffff) return Number(asked);
      say(`The seed "${asked}" is not a whole number from 0 to 4294967295; the clock's seconds are used.`);
    }
    return Math.floor(Date.now() / 1000) >>> 0;
  }

  // ---- the check modes: N frames of a spectrum or audio file, as fast as possible ----

  // Runs `frames` frames as fast as possible, `fill(n)` setting each one's spectrum, then
  // shows the picture and publishes the trace line.
  async function runFrames(frames, what, fill) {
    status(`checking: ${frames} frames of ${what}`);
    restartWorld();
    const started = performance.now();
    for (let n = 0; n < frames;) {
      // Slices of some 50 ms, so the page still answers while it runs.
      const slice = performance.now();
      while (n < frames && performance.now() - slice < 50) {
        fill(n);
        step();
        n += 1;
      }
      await new Promise((resolve) => setTimeout(resolve, 0));
    }
    show();
    api.trace = api.traceLine();
    document.documentElement.dataset.trace = api.trace;
    status(`checked ${what}: ${frames} frames in ${((performance.now() - started) / 1000).toFixed(1)} s, ` +
           `step ${(timing.totalMs / Math.max(1, timing.steps)).toFixed(3)} ms; ${api.trace}`);
  }

  async function fetchBytes(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
    return response.arrayBuffer();
  }

  async function checkSpectrum(url, frames) {
    let bytes;
    try {
      bytes = new Uint8Array(await fetchBytes(url));
    } catch (e) {
      say(`The spectrum file ${url} could not be read: ${e.message}`);
      return;
    }
    if (bytes.length === 0 || bytes.length % SPECTRUM_BYTES !== 0) {
      say(`The spectrum file ${url} is not whole records of ${SPECTRUM_BYTES} bytes.`);
      return;
    }
    const records = bytes.length / SPECTRUM_BYTES;
    const spectrum = M._cv_spectrum();
    await runFrames(frames, url, (n) => {
      const r = n % records;  // files loop, as in corvanta-sim
      M.HEAPU8.set(bytes.subarray(r * SPECTRUM_BYTES, (r + 1) * SPECTRUM_BYTES), spectrum);
    });
  }

  async function checkAudio(url, frames) {
    let decoded;
    try {
      const buffer = await fetchBytes(url);
      decoded = decodeWav(buffer) || await decodeWithBrowser(buffer);
    } catch (e) {
      say(`The audio file ${url} could not be read or decoded: ${e.message}`);
      return;
    }
    if (!loadTrack(decoded, url)) return;
    await runFrames(frames === null ? M._cv_track_frames() : frames, url, (n) => M._cv_track_spectrum(n));
  }

  // ---- decoding ----

  // WAV is read here, scaled exactly as libsndfile scales it (integers over 2^(bits-1)),
  // so the samples, and with them the world, equal corvanta-sim --audio's. The
  // browser's decoder scales positive and negative samples differently. Null when the
  // file is not a WAV file this reads (the browser then tries).
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
    const frames = Math.floor(data.size / (bytes * channels));
    const left = new Float32Array(frames);
    const right = new Float32Array(frames);
    const second = channels > 1 ? bytes : 0;  // a mono file feeds both channels
    for (let i = 0, at = data.start; i < frames; i += 1, at += bytes * channels) {
      left[i] = read(at);
      right[i] = read(at + second);
    }
    return { rate, frames, left, right };
  }

  // The rate a file was made at, from its first header, so the browser decodes it
  // without resampling: FLAC, Ogg Vorbis, Opus, MP3. 0 when unknown.
  function sniffRate(bytes) {
    const text = (at, n) => String.fromCharCode(...bytes.subarray(at, at + n));
    let at = 0;
    if (text(0, 3) === 'ID3' && bytes.length > 10) {
      at = 10 + ((bytes[6] & 0x7f) << 21 | (bytes[7] & 0x7f) << 14 | (bytes[8] & 0x7f) << 7 | (bytes[9] & 0x7f));
    }
    if (text(at, 4) === 'fLaC' && bytes.length > at + 20) {
      return (bytes[at + 18] << 12) | (bytes[at + 19] << 4) | (bytes[at + 20] >> 4);
    }
    if (text(0, 4) === 'OggS') {
      const head = text(28, 8);
      if (head.startsWith('\x01vorbis')) return new DataView(bytes.buffer, bytes.byteOffset).getUint32(40, true);
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
    const at = String.fromCharCode(...bytes.subarray(0, 3)) === 'ID3'
      ? 10 + ((bytes[6] & 0x7f) << 21 | (bytes[7] & 0x7f) << 14 | (bytes[8] & 0x7f) << 7 | (bytes[9] & 0x7f)) : 0;
    if (String.fromCharCode(...bytes.subarray(at, at + 4)) !== 'fLaC' || bytes.length < at + 22) return 0;
    return (((bytes[at + 20] & 1) << 4) | (bytes[at + 21] >> 4)) + 1;
  }

  // The browser's decoder divides a positive integer sample by 2^(n-1) - 1 (n: 16, or
  // 32 for deeper files) and a negative one by 2^(n-1); libsndfile divides both by
  // 2^(bits-1). The integer is still exactly recoverable from the float, so FLAC gives
  // corvanta-sim's samples too. A sample already on libsndfile's grid is left alone,
  // should a browser scale that way itself.
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

  async function decodeWithBrowser(buffer) {
    const bytes = new Uint8Array(buffer);
    const rate = sniffRate(bytes) || (audio ? audio.sampleRate : 48000);
    const bits = flacBits(bytes);
    const offline = new OfflineAudioContext(2, 1, rate);
    const decoded = await offline.decodeAudioData(buffer);
    const left = decoded.getChannelData(0);
    const right = decoded.getChannelData(decoded.numberOfChannels > 1 ? 1 : 0);
    if (bits >= 8 && bits <= 24) {
      rescaleIntegers(left, bits);
      if (right !== left) rescaleIntegers(right, bits);
    }
    return { rate: decoded.sampleRate, frames: decoded.length, left, right };
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

  // Seconds of the sound heard so far, by the audio clock, less the output's own delay.
  function heardSeconds() {
    let now = audio.currentTime;
    if (typeof audio.getOutputTimestamp === 'function') {
      const stamp = audio.getOutputTimestamp();
      if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
        now = Math.min(now, stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000);
      }
    }
    return Math.max(0, now - sound.start);
  }

  function stopSound() {
    if (!sound) return;
    if (sound.source) {
      try { sound.source.stop(); } catch (e) { /* never started */ }
      sound.source.disconnect();
    }
    if (sound.stream) sound.stream.getTracks().forEach((t) => t.stop());
    if (sound.nodes) sound.nodes.forEach((n) => n.disconnect());
    sound = null;
    document.body.classList.remove('playing');
  }

  // The decoded samples into the module, interleaved, for the analyser.
  function loadTrack(decoded, name) {
    if (!(decoded.rate >= LOWEST_RATE && decoded.rate <= HIGHEST_RATE)) {
      say(`the sample rate ${decoded.rate} Hz is outside the ${LOWEST_RATE} to ${HIGHEST_RATE} Hz Corvanta plays`);
      return false;
    }
    if (decoded.frames < 1) {
      say(`${name} holds no sound.`);
      return false;
    }
    const at = M._cv_track_prepare(decoded.rate, decoded.frames);
    if (!at) {
      say(`${name} is too long to keep in memory here (${Math.round(decoded.frames / decoded.rate)} s).`);
      return false;
    }
    const heap = M.HEAPF32;  // after the allocation, which may have grown the memory
    const base = at >> 2;
    for (let i = 0; i < decoded.frames; i += 1) {
      heap[base + 2 * i] = decoded.left[i];
      heap[base + 2 * i + 1] = decoded.right[i];
    }
    return true;
  }

  async function playFile(file) {
    unsay();
    status(`decoding ${file.name}`);
    let decoded;
    try {
      audioContext();
      const buffer = await file.arrayBuffer();
      decoded = decodeWav(buffer) || await decodeWithBrowser(buffer);
    } catch (e) {
      status('');
      say(e instanceof Error && e.message.startsWith('This browser')
        ? e.message
        : `The browser could not decode "${file.name}" as audio${e && e.message ? ` (${e.message})` : ''}. ` +
          'Try WAV, FLAC, Ogg or MP3.');
      return;
    }
    stopSound();
    if (!loadTrack(decoded, `"${file.name}"`)) {
      status('');
      return;
    }
    restartWorld();

    const buffer = new AudioBuffer({ numberOfChannels: 2, length: decoded.frames, sampleRate: decoded.rate });
    buffer.copyToChannel(decoded.left, 0);
    buffer.copyToChannel(decoded.right, 1);
    const source = audio.createBufferSource();
    source.buffer = buffer;
    source.connect(audio.destination);
    await startAudio();
    const start = audio.currentTime + 0.05;
    source.start(start);
    sound = {
      kind: 'file', name: file.name, source, start, rate: decoded.rate, total: M._cv_track_frames(), finished: false,
      stepSamples: 0,
    };
    paused = false;
    document.body.classList.add('playing');
    status(`${file.name}: ${(decoded.frames / decoded.rate).toFixed(1)} s at ${decoded.rate} Hz`);
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
    try {
      audioContext();
    } catch (e) {
      stream.getTracks().forEach((t) => t.stop());
      say(e.message);
      return;
    }
    stopSound();
    const input = audio.createMediaStreamSource(stream);
    // Mono input feeds both channels, as in corvanta-play.
    const stereo = audio.createGain();
    stereo.channelCount = 2;
    stereo.channelCountMode = 'explicit';
    stereo.channelInterpretation = 'speakers';
    const split = audio.createChannelSplitter(2);
    const taps = [0, 1].map(() => {
      const tap = audio.createAnalyser();
      tap.fftSize = WINDOW;  // only its raw samples are read, never its spectrum
      return tap;
    });
    input.connect(stereo);
    stereo.connect(split);
    split.connect(taps[0], 0);
    split.connect(taps[1], 1);
    const windowAt = M._cv_window_prepare(audio.sampleRate);
    restartWorld();
    await startAudio();
    sound = {
      kind, stream, nodes: [input, stereo, split, ...taps], taps, window: windowAt,
      start: audio.currentTime, rate: audio.sampleRate, stepSamples: 0,
      left: new Float32Array(WINDOW), right: new Float32Array(WINDOW),
    };
    stream.getAudioTracks()[0].addEventListener('ended', () => status('the input has ended'));
    paused = false;
    document.body.classList.add('playing');
    status(`listening to ${kind === 'microphone' ? 'the microphone' : 'the shared sound'} at ${audio.sampleRate} Hz`);
  }

  // The latest window of live input, ending now: there are no later samples to centre on.
  function liveWindow() {
    sound.taps[0].getFloatTimeDomainData(sound.left);
    sound.taps[1].getFloatTimeDomainData(sound.right);
    const heap = M.HEAPF32;
    const base = sound.window >> 2;
    for (let i = 0; i < WINDOW; i += 1) {
      heap[base + 2 * i] = sound.left[i];
      heap[base + 2 * i + 1] = sound.right[i];
    }
    M._cv_window_spectrum();
  }

  // Every display refresh: step every frame whose moment has been heard, each with its
  // own spectrum, and show the last. A late refresh steps the frames that fell due
  // meanwhile, so the world never skips one.
  function tick(now) {
    requestAnimationFrame(tick);
    if (!sound || paused || audio.state !== 'running') return;
    // The output's timestamps may put the clock a little back; the world never goes back.
    const heard = Math.max(sound.stepSamples, Math.floor(heardSeconds() * sound.rate));
    sound.stepSamples = heard;
    let due = lastFrameHeard(heard, sound.rate) + 1;
    if (sound.kind === 'file') due = Math.min(due, sound.total);
    let stepped = 0;
    let windowRead = false;
    while (M._cv_frame_count() < due) {
      if (sound.kind === 'file') {
        M._cv_track_spectrum(M._cv_frame_count());
      } else if (!windowRead) {
        liveWindow();
        windowRead = true;
      }
      step();
      stepped += 1;
    }
    if (stepped > 0) {
      show();
      if (showing.lastTick > 0) showing.worstGapMs = Math.max(showing.worstGapMs, now - showing.lastTick);
      showing.lastTick = now;
      showing.shown += 1;
      showing.unshown += stepped - 1;
      // The first few frames stepped but never shown, for whoever measures.
      if (stepped > 1 && showing.unshownAt.length < 20) showing.unshownAt.push(M._cv_frame_count());
    }
    showing.ticks += 1;
    if (sound.kind === 'file' && M._cv_frame_count() >= sound.total && !sound.finished) {
      sound.finished = true;
      document.body.classList.remove('playing');
      status(`${sound.name}: done, ${sound.total} frames; frame step ${api.state().stepMeanMs.toFixed(3)} ms mean`);
    }
  }

  // ---- the page's controls ----

  function togglePause() {
    if (!sound || !audio) return;
    paused = !paused;
    if (paused) {
      audio.suspend();
      status('paused');
    } else {
      audio.resume();
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
    M = await createCorvanta();
    restartWorld();
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
    requestAnimationFrame(tick);
  }

  api.ready = main().catch((e) => say(`The page could not start: ${e && e.message ? e.message : e}`));
})();
