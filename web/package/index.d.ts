// corvanta-web: the Corvanta world, an artificial-life world that listens to music,
// drawn on a canvas of any web page. Written by hand beside the package's index.js.

/** The package's version, the project's. */
export const VERSION: string;
/** The picture: 1000 x 400 pixels (the canvas is set to that size; CSS may scale it). */
export const WIDTH: 1000;
export const HEIGHT: 400;
/** Frames stepped per second of sound. */
export const FRAMES_PER_SECOND: 40;

export interface LoadOptions {
  /**
   * Where the module's files are, given a file name (only "corvanta.wasm" is asked for).
   * By default the file beside this package's index.js.
   */
  locateFile?: (file: string) => string | URL;
}

/**
 * Loads the WebAssembly module: one instance for the whole page, shared by every
 * visualizer, whatever later calls pass. createVisualizer loads it too.
 */
export function load(options?: LoadOptions): Promise<void>;

/** The module's memory, for checking that disposed visualizers give theirs back. */
export function memoryUsage(): { heapInUse: number; memoryBytes: number };

/** Two channels of samples at one rate, as the world hears them (mono: left === right). */
export interface DecodedAudio {
  sampleRate: number;
  length: number;
  left: Float32Array;
  right: Float32Array;
}

/** Bytes of an audio file, or where to fetch them. */
export type AudioData = ArrayBuffer | ArrayBufferView | Blob | string | URL;

/**
 * Decodes a file as the visualizer does: WAV and FLAC exactly as corvanta-sim reads them,
 * other formats as the browser decodes them (at the file's own rate where its header
 * tells it, else at the context's). The bytes given are not taken over.
 */
export function decodeAudio(data: AudioData, context?: BaseAudioContext): Promise<DecodedAudio>;

export interface VisualizerOptions extends LoadOptions {
  /** The world's seed, 0 to 4294967295; by default the clock's seconds. */
  seed?: number;
}

/**
 * A visualizer drawing on `canvas` (made 1000 x 400). Rejects for anything but an
 * HTMLCanvasElement, a canvas already drawing with WebGL or WebGPU, or a bad seed.
 */
export function createVisualizer(canvas: HTMLCanvasElement, options?: VisualizerOptions): Promise<Visualizer>;

export interface TrackOptions {
  /**
   * The context to play in. By default the visualizer's own, made at its first sound and
   * closed when it is disposed. A visualizer keeps to the first context it plays in.
   */
  context?: AudioContext;
  /** Where the track is heard; by default the context's destination. */
  destination?: AudioNode;
}

export interface Track {
  sampleRate: number;
  /** Sample frames. */
  length: number;
  /** Seconds. */
  duration: number;
  /** Frames the world steps for it, as corvanta-sim --audio runs it. */
  frames: number;
  /**
   * Resolves true once the world has stepped the track's last frame, false if the track
   * was stopped first (another sound, render, dispose).
   */
  finished: Promise<boolean>;
}

export interface VisualizerState {
  mode: 'idle' | 'track' | 'node';
  /** Frames the current world has stepped. */
  frames: number;
  /** Seconds heard by the audio clock: a track's position, or a node's time since it was heard. */
  heard: number;
  /** Sample frames of the current stream heard at the last step: the frames are those it had heard. */
  clockSamples: number;
  sampleRate: number;
  /** Seconds a frame's window reaches past its moment (a track's look-ahead; 0 for a node). */
  latency: number;
  /** A track's frames, else null. */
  trackFrames: number | null;
  /** The track's last frame has been stepped. */
  finished: boolean;
  paused: boolean;
  /** The largest sample magnitude the current world has been given: 0 for silence. */
  peak: number;
  /** How long steps took, past the first 150 frames. */
  timing: { steps: number; meanMs: number; maxMs: number };
  /** Display refreshes: those that stepped (shown), frames stepped but never shown, the longest gap. */
  shows: { ticks: number; shown: number; unshown: number; worstGapMs: number; lastTick: number; unshownAt: number[] };
}

/**
 * A world on a canvas. Every method of a disposed visualizer throws (dispose itself
 * aside); each new sound starts a fresh world with the visualizer's seed, so the same
 * track and seed give the same pictures.
 */
export interface Visualizer {
  readonly canvas: HTMLCanvasElement;
  readonly seed: number;
  /** The AudioContext of its first sound, or null. */
  readonly context: AudioContext | null;
  readonly paused: boolean;
  readonly disposed: boolean;

  /**
   * Track mode: decodes the file (see decodeAudio), plays it, and steps 40 frames per
   * second of it as the audio clock hears it, to its last frame. For WAV and FLAC the
   * pictures equal `corvanta-sim --audio FILE --seed S`. Rejects for bytes that are no
   * audio, a rate outside 8,000 to 192,000 Hz, or another context than the first.
   */
  playTrack(source: AudioData | DecodedAudio, options?: TrackOptions): Promise<Track>;

  /**
   * Node mode: hears what `node` (any node of the host's player) plays, through an
   * AudioWorklet that travels inside this package (no file fetched), and steps 40 frames
   * per second of the AudioContext's clock, each frame with the window of sound ending
   * at its moment. The node's other connections are the host's and stay as they are.
   * Rejects for a node of another AudioContext than the one first connected in.
   */
  listen(node: AudioNode): Promise<void>;

  /**
   * Runs a fresh world through decoded sound (past its end, silence) or whole spectrum
   * records of 1152 bytes (looping) as fast as it can, without playing; any sound stops.
   * Resolves with the last frame's trace line. By default the track's frames, or one
   * per record.
   */
  render(input: DecodedAudio | Uint8Array, options?: { frames?: number }): Promise<string>;

  /** Stops stepping; a track stops playing until resume (a node is the host's to stop). */
  pause(): void;
  /** Goes on: a track from where it paused, a node with the sound from now on. */
  resume(): void;
  /** A fresh world with a new seed (by default the clock's), hearing the sound from now on. */
  reseed(seed?: number): void;
  /** The current frame's line as `corvanta-sim --trace` writes it: frame, population, world and picture digests. */
  traceLine(): string;
  state(): VisualizerState;
  /**
   * Frees the world in the module, stops the track it plays, its own context if it made
   * one, and every callback and listener it added. The host's nodes stay connected.
   */
  dispose(): void;
}
