// The frame on screen: asking the server for it, showing it (with B beside
// it, over it as a wipe, or as the difference), panning and zooming.
import { $, state, emit, optionPairs } from './state.js';
import { fetchFrame, Busy } from './api.js';
import { sent } from './edits.js';

export function frameUrl(settings, frame) {
  const q = new URLSearchParams({ drawing: state.index, frame });
  for (const [k, v] of optionPairs(settings)) q.append(k, v);
  const quality = $('quality').value;
  // Previews come in render's own encoding too: its run-only deflate costs
  // the server about a millisecond more than stored rows on a half-size HD
  // frame, and a file a sixteenth the size reaches the page and decodes
  // sooner (bench/README.md).
  if (quality !== '1/1') q.set('downsample', quality);
  q.set('v', state.drawings[state.index] ? state.drawings[state.index].revision : 0);
  return '/api/frame.png?' + q.toString();
}

// A frame goes on screen decoded off the page's thread and handed to its
// canvas whole: no second decode when it is painted, and no <img> load of
// the PNG. The PNG itself stays at hand (its URL in data-src) for saving
// and for the difference view.
const shownPng = new Map();

// A frame from the server, fetched and decoded.
const loadFrame = async (url, view) => {
  const png = await fetchFrame(url, view);
  return { png, bitmap: await createImageBitmap(png) };
};

function setImage(canvas, { png, bitmap }, query) {
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  canvas.getContext('bitmaprenderer').transferFromImageBitmap(bitmap);
  const old = canvas.dataset.src;
  canvas.dataset.src = URL.createObjectURL(png);
  if (old) URL.revokeObjectURL(old);
  shownPng.set(canvas.id, png);
  canvas.dataset.query = query;
  const q = $('quality').value.split('/').map(Number);
  canvas.style.width = canvas.width * q[1] / q[0] + 'px';
  canvas.style.height = canvas.height * q[1] / q[0] + 'px';
}

// Frames read ahead, by URL: after a step of one frame (the arrow keys,
// playing, a slow scrub) the next frames in that direction are asked for
// while this one is shown, so that the step after shows at once. The URL
// names the drawing's revision and every setting, so a frame read ahead is
// the very one a request would get; any other is dropped. Only while
// frames come quicker than SLOW_MS: a server slower than that (plates read
// for the first time, full size) would only queue the frames read ahead
// before the ones asked for.
const READ_AHEAD = 2, SLOW_MS = 60;
const ahead = new Map();  // url -> Promise of a loaded frame, or null when refused
let lastFrame = null, aheadOut = 0;

function dropAhead(url) {
  ahead.get(url).then((f) => f && f.bitmap.close());
  ahead.delete(url);
}

function takeFrame(url, view) {
  const held = ahead.get(url);
  if (!held) return loadFrame(url, view);
  ahead.delete(url);
  return held.then((f) => f || loadFrame(url, view));
}

function readAhead(frame, step) {
  const wanted = new Set();
  for (let i = 1; i <= READ_AHEAD && Math.abs(step) === 1; i++) {
    const f = frame + i * step;
    if (f < state.range[0] || f > state.range[1]) break;
    const url = frameUrl(state.a, f);
    wanted.add(url);
    // A view of its own: a frame read ahead never replaces one asked for.
    // No more than READ_AHEAD out at once, dropped ones counted until they
    // end, so that they and a frame asked for with its B stay within what
    // the server lets a page have waiting.
    if (!ahead.has(url) && aheadOut < READ_AHEAD) {
      aheadOut++;
      ahead.set(url, loadFrame(url, 'ahead ' + f).catch(() => null).finally(() => { aheadOut--; }));
    }
  }
  for (const url of [...ahead.keys()]) if (!wanted.has(url)) dropAhead(url);
}

export const compareMode = () => ($('compare').value !== 'off' && state.b ? $('compare').value : 'off');

let inFlight = false, pending = false, retryTimer = 0;
export const busy = () => inFlight;

function markStale(stale) {
  state.stale = stale;
  if (stale) document.body.dataset.stale = '1'; else delete document.body.dataset.stale;
}

// One request at a time; a change while one is out asks for one more
// afterwards, so scrubbing and playing drop frames instead of lagging.
export async function requestFrames() {
  if (inFlight) { pending = true; return; }
  inFlight = true;
  pending = false;
  document.body.dataset.busy = '1';
  await sent();
  const frame = state.frame, mode = compareMode();
  const urlA = frameUrl(state.a, frame), urlB = mode !== 'off' ? frameUrl(state.b, frame) : null;
  try {
    const asked = performance.now();
    const [a, b] = await Promise.all([takeFrame(urlA, 'a'), urlB ? loadFrame(urlB, 'b') : null]);
    const quick = performance.now() - asked < SLOW_MS;
    setImage($('frameA'), a, urlA);
    if (b) setImage($('frameB'), b, urlB);
    if (mode === 'difference') await showDifference();
    // Compare modes ask for two pictures a frame already.
    readAhead(frame, mode === 'off' && quick && lastFrame !== null ? frame - lastFrame : 0);
    lastFrame = frame;
    $('frameA').dataset.frame = frame;
    markStale(false);
    emit('error', '');
    state.shown++;
    if (state.fitted !== mode) fit();
  } catch (e) {
    if (e instanceof Busy) {
      // The frame on screen is not the one asked for: marked, and asked
      // for again unless a newer request replaces it first.
      markStale(true);
      clearTimeout(retryTimer);
      retryTimer = setTimeout(() => { if (!inFlight) requestFrames(); }, Math.min(e.seconds, 5) * 1000);
    } else {
      markStale(true);
      emit('error', String(e.message || e));
    }
  }
  inFlight = false;
  if (pending) requestFrames();
  else document.body.dataset.busy = '0';
}

// What differs between A and B, |A - B| per channel on opaque black, and
// how many pixels differ at all.
async function showDifference() {
  const [a, b] = await Promise.all(['frameA', 'frameB'].map((id) =>
    createImageBitmap(shownPng.get(id), { premultiplyAlpha: 'none', colorSpaceConversion: 'none' })));
  const canvas = $('difference'), w = a.width, h = a.height;
  canvas.width = w; canvas.height = h;
  const ctx = canvas.getContext('2d', { willReadFrequently: true });
  canvas.style.width = $('frameA').style.width; canvas.style.height = $('frameA').style.height;
  if (b.width !== w || b.height !== h) { $('labelA').title = 'A and B differ in size'; return; }
  ctx.drawImage(a, 0, 0);
  const pa = ctx.getImageData(0, 0, w, h);
  ctx.clearRect(0, 0, w, h);
  ctx.drawImage(b, 0, 0);
  const pb = ctx.getImageData(0, 0, w, h);
  let differing = 0;
  for (let i = 0; i < pa.data.length; i += 4) {
    let any = 0;
    for (let c = 0; c < 4; c++) {
      const d = Math.abs(pa.data[i + c] - pb.data[i + c]);
      any |= d;
      if (c < 3) pa.data[i + c] = d;
    }
    pa.data[i + 3] = 255;
    if (any) differing++;
  }
  ctx.putImageData(pa, 0, 0);
  $('labelA').textContent = `A − B: ${differing} pixel${differing === 1 ? '' : 's'} differ`;
}

const describe = (settings) => optionPairs(settings).map(([k, v]) => k + ' ' + v).join(', ') || 'the defaults';

export function applyView() {
  $('stage').style.transform = `translate(${state.panX}px, ${state.panY}px) scale(${state.zoom})`;
  // Labels keep their size whatever the zoom.
  $('stage').style.setProperty('--unzoom', 1 / state.zoom);
  $('zoomText').textContent = Math.round(state.zoom * 100) + '%';
  const chosen = $('compare').value, mode = compareMode();
  $('stage').className = 'compare-' + mode;
  $('wipe').hidden = mode !== 'wipe';
  $('paneB').hidden = mode === 'off';
  $('difference').hidden = mode !== 'difference';
  $('paneB').style.clipPath = mode === 'wipe' ? `inset(0 0 0 ${$('wipe').value}%)` : '';
  $('labelA').textContent = 'A';
  $('labelA').title = 'A: ' + describe(state.a);
  $('labelB').title = state.b ? 'B: ' + describe(state.b) : '';
  const note = $('compareNote');
  note.hidden = !(chosen !== 'off' && !state.b);
  note.textContent = 'No B kept yet: "Keep as B" keeps the current settings as B, then change A to compare.';
}

// Compare modes are fitted on entry: side by side shows both whole.
export function enterCompare() {
  state.fitted = false;
  applyView();
  requestFrames();
}

export function fit() {
  const v = $('viewport').getBoundingClientRect(), s = $('stage');
  const w = s.scrollWidth || 1, h = s.scrollHeight || 1;
  state.zoom = Math.min(v.width / w, v.height / h) * 0.96;
  state.panX = (v.width - w * state.zoom) / 2;
  state.panY = (v.height - h * state.zoom) / 2;
  state.fitted = compareMode();  // fitted for this compare mode
  applyView();
}

export function zoomAt(factor, x, y) {
  const z = Math.min(32, Math.max(0.05, state.zoom * factor));
  state.panX = x - (x - state.panX) * z / state.zoom;
  state.panY = y - (y - state.panY) * z / state.zoom;
  state.zoom = z;
  applyView();
}
