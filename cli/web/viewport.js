// The frame on screen: asking the server for it, showing it (with B beside
// it, over it as a wipe, or as the difference), panning and zooming.
import { $, state, emit, optionPairs } from './state.js';
import { fetchFrame, Busy } from './api.js';
import { sent } from './edits.js';

export function frameUrl(settings, frame) {
  const q = new URLSearchParams({ drawing: state.index, frame });
  for (const [k, v] of optionPairs(settings)) q.append(k, v);
  const quality = $('quality').value;
  // Previews come stored rather than compressed: the same pixels, made
  // several times sooner (bench/README.md).
  if (quality !== '1/1') { q.set('downsample', quality); q.set('png', 'fast'); }
  q.set('v', state.drawings[state.index] ? state.drawings[state.index].revision : 0);
  return '/api/frame.png?' + q.toString();
}

function setImage(img, url, query) {
  return new Promise((resolve) => {
    const old = img.src;
    img.onload = () => {
      if (old.startsWith('blob:')) URL.revokeObjectURL(old);
      const q = $('quality').value.split('/').map(Number);
      img.style.width = img.naturalWidth * q[1] / q[0] + 'px';
      img.style.height = img.naturalHeight * q[1] / q[0] + 'px';
      resolve();
    };
    img.onerror = () => resolve();
    img.dataset.query = query;
    img.src = url;
  });
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
    const [a, b] = await Promise.all([fetchFrame(urlA, 'a'), urlB ? fetchFrame(urlB, 'b') : null]);
    await setImage($('frameA'), a, urlA);
    if (b) await setImage($('frameB'), b, urlB);
    $('frameA').dataset.frame = frame;
    markStale(false);
    emit('error', '');
    state.shown++;
    emit('shown', frame);
    if (!state.fitted) fit();
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

export function applyView() {
  $('stage').style.transform = `translate(${state.panX}px, ${state.panY}px) scale(${state.zoom})`;
  $('zoomText').textContent = Math.round(state.zoom * 100) + '%';
  const mode = compareMode();
  $('stage').className = 'compare-' + mode;
  $('wipe').hidden = mode !== 'wipe';
  $('paneB').hidden = mode === 'off';
  $('paneB').style.clipPath = mode === 'wipe' ? `inset(0 0 0 ${$('wipe').value}%)` : '';
}

export function fit() {
  const v = $('viewport').getBoundingClientRect(), s = $('stage');
  const w = s.scrollWidth || 1, h = s.scrollHeight || 1;
  state.zoom = Math.min(v.width / w, v.height / h) * 0.96;
  state.panX = (v.width - w * state.zoom) / 2;
  state.panY = (v.height - h * state.zoom) / 2;
  state.fitted = true;
  applyView();
}

export function zoomAt(factor, x, y) {
  const z = Math.min(32, Math.max(0.05, state.zoom * factor));
  state.panX = x - (x - state.panX) * z / state.zoom;
  state.panY = y - (y - state.panY) * z / state.zoom;
  state.zoom = z;
  applyView();
}
