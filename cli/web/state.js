// The page's state, in one object, and the events that tell the other
// modules what changed. Nothing here talks to the server.
export const $ = (id) => document.getElementById(id);

export const state = {
  server: { frameOffset: 0, fps: '30', backgrounds: [], brushKinds: [], eraseMode: 8, canSave: false },
  drawings: [], index: 0, params: [], prefs: [],
  a: {}, b: null,           // option name -> value, only what differs from the defaults
  frame: 0, lastFrame: 100, range: [0, 100], playing: false,  // range: the frames shown, in the shot's numbers
  zoom: 1, panX: 0, panY: 0, fitted: false,
  drawing: null, undo: [], redo: [],
  selection: new Set(),     // stroke ids chosen in the dope sheet
  saved: null,              // {json, block} once saved and not edited since
  edited: false,            // edited since loaded or saved
  stale: false,             // the frame on screen is not the one asked for
  shown: 0,                 // frames put on screen, for tests
};
window.pennaro = state;

const listeners = new Map();
export function on(event, fn) {
  if (!listeners.has(event)) listeners.set(event, []);
  listeners.get(event).push(fn);
}
export function emit(event, ...args) {
  for (const fn of listeners.get(event) || []) fn(...args);
}

// Frame numbers: the page shows the shot's numbers; the drawing counts its
// time from the shot's frame `frameOffset`.
export const firstFrame = () => state.server.frameOffset;
export const drawingFrame = (f) => f - state.server.frameOffset;

export function fpsValue(settings = state.a) {
  const [n, d] = String(settings.fps || state.server.fps).split('/').map(Number);
  return n > 0 ? n / (d > 0 ? d : 1) : 30;
}

// The options as render takes them: the server's frame offset and rate
// unless the settings change them, then the settings; render's own
// defaults left out.
export function optionPairs(settings) {
  const all = { 'frame-offset': String(state.server.frameOffset), fps: state.server.fps, ...settings };
  return Object.entries(all).filter(([k, v]) => v !== undefined && v !== '' &&
    !(k === 'frame-offset' && v === '0') && !(k === 'fps' && v === '30'));
}

// The playback speed the effect reads the drawing at: drawing seconds per
// shot second.
export function playbackSpeed(settings = state.a) {
  const v = Number(settings['playback-speed']);
  return settings['playback-speed'] === undefined || !Number.isFinite(v) ? 1 : v;
}

// A frame's time in the drawing's seconds, as the effect reads it.
export const frameTime = (f) => drawingFrame(f) / fpsValue() * playbackSpeed();
