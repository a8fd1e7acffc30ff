// The timeline: the frame in the shot's numbers, scrubbing and playback.
import { $, state, emit, firstFrame, fpsValue, playbackSpeed, frameTime } from './state.js';
import { busy } from './viewport.js';
import { edit, drawOrder } from './edits.js';

export function setFrame(f) {
  const [lo, hi] = state.range;
  state.frame = Math.max(lo, Math.min(hi, Math.round(f)));
  $('scrub').value = state.frame;
  $('frameText').textContent = 'frame ' + state.frame;
  emit('frame', state.frame);
}

// The frames span the drawing (read at the playback speed) and half a
// second more, in the shot's numbers; with a plate sequence, its plates.
export function updateTimeline() {
  const d = state.drawings[state.index];
  const fps = fpsValue(), speed = Math.abs(playbackSpeed()) || 1;
  state.lastFrame = Math.max(1, Math.floor(((d && d.end) || 0) * fps / speed) + Math.round(fps / 2));
  const plates = state.server.layerFrames;
  state.range = plates ? [plates[0], plates[1]] : [firstFrame(), firstFrame() + state.lastFrame];
  const [lo, hi] = state.range, span = Math.max(1, hi - lo);
  $('scrub').min = lo;
  $('scrub').max = hi;
  const ticks = $('ticks');
  ticks.textContent = '';
  const step = [1, 2, 5, 10, 12, 24, 25, 30, 48, 50, 60, 100, 120, 250, 500, 1000]
    .find((s) => span / s <= 12) || Math.ceil(span / 12);
  for (let f = Math.ceil(lo / step) * step; f <= hi; f += step) {
    const t = document.createElement('b');
    t.style.left = (100 * (f - lo) / span) + '%';
    t.textContent = f;
    ticks.append(t);
  }
}

function tick(start, startFrame, direction) {
  if (!state.playing) return;
  const target = startFrame + direction * Math.floor((performance.now() - start) / 1000 * fpsValue());
  const [lo, hi] = state.range, span = hi - lo + 1;
  const f = lo + ((((target - lo) % span) + span) % span);
  if (f !== state.frame && !busy()) setFrame(f);
  requestAnimationFrame(() => tick(start, startFrame, direction));
}

export function togglePlay(direction = 1) {
  state.playing = !state.playing;
  $('play').textContent = state.playing ? 'Pause' : 'Play';
  if (state.playing) tick(performance.now(), state.frame, direction);
}

// ---- the dope sheet ---------------------------------------------------------
// A row per stroke in the order the effect paints them (start time, then
// id), a bar from its first to its last sample in drawing time. Bars move
// the strokes, their ends stretch the timing about the other end, several
// bars can be chosen (click, Shift-click, a box) and moved together.

const NAME_WIDTH = 70, ROW = 17, RULER = 14;
const sheet = { t0: 0, pxPerSec: 100, fitted: false };
let gesture = null;

const trackWidth = () => Math.max(50, $('dopeSheet').clientWidth - NAME_WIDTH);
const xOf = (t) => (t - sheet.t0) * sheet.pxPerSec;
const timeStep = () => playbackSpeed() / fpsValue();  // one frame in drawing time

function fitSheet() {
  const end = Math.max(...state.drawing.strokes.map((s) => s.startTime + s.duration), frameTime(state.range[1]), 1);
  sheet.t0 = 0;
  sheet.pxPerSec = trackWidth() / (end * 1.05);
  sheet.fitted = true;
}

const colour = (b) => `rgb(${[b.red, b.green, b.blue].map((c) => Math.round(255 * Math.min(1, Math.max(0, c)))).join(',')})`;

export function drawSheet() {
  const box = $('dopeSheet');
  if (!state.drawing) return;
  if (!sheet.fitted) fitSheet();
  const scroll = box.scrollTop;
  box.textContent = '';
  box.append(ruler());
  for (const s of drawOrder(state.drawing.strokes)) {
    const row = document.createElement('div');
    row.className = 'ds-row';
    const name = document.createElement('div');
    name.className = 'ds-name';
    name.textContent = '#' + s.strokeId;
    const swatch = document.createElement('span');
    swatch.className = 'ds-swatch';
    swatch.style.background = colour(s.brush);
    name.append(swatch);
    const track = document.createElement('div');
    track.className = 'ds-track';
    const bar = document.createElement('div');
    bar.className = 'ds-bar' + (state.selection.has(s.strokeId) ? ' selected' : '');
    bar.dataset.id = s.strokeId;
    bar.title = `stroke ${s.strokeId}: ${s.startTime.toFixed(3)} s to ${(s.startTime + s.duration).toFixed(3)} s`;
    placeBar(bar, s.startTime, s.duration);
    for (const side of ['left', 'right']) {
      const end = document.createElement('div');
      end.className = 'ds-end ' + side;
      end.dataset.end = side;
      bar.append(end);
    }
    track.append(bar);
    row.append(name, track);
    box.append(row);
  }
  const now = document.createElement('div');
  now.className = 'ds-now';
  now.id = 'dsNow';
  box.append(now);
  placeNow();
  box.scrollTop = scroll;
}

// Frame numbers over the rows, where each frame's drawing time falls.
function ruler() {
  const row = document.createElement('div');
  row.className = 'ds-ruler';
  const perFrame = timeStep() * sheet.pxPerSec;
  if (!(Math.abs(perFrame) > 0)) return row;
  const step = [1, 2, 5, 10, 12, 24, 25, 30, 48, 50, 60, 100, 120, 250, 500, 1000]
    .find((n) => n * Math.abs(perFrame) >= 60) || 1000;
  const [lo, hi] = state.range;
  for (let f = Math.ceil(lo / step) * step; f <= hi; f += step) {
    const x = NAME_WIDTH + xOf(frameTime(f));
    if (x < NAME_WIDTH || x > NAME_WIDTH + trackWidth()) continue;
    const t = document.createElement('b');
    t.style.left = x + 'px';
    t.textContent = f;
    row.append(t);
  }
  return row;
}

function placeBar(bar, start, duration) {
  bar.style.left = xOf(start) + 'px';
  bar.style.width = Math.max(3, duration * sheet.pxPerSec) + 'px';
}

// The current frame's line sits at that frame's drawing time.
export function placeNow() {
  const now = $('dsNow');
  if (!now) return;
  now.style.left = NAME_WIDTH + xOf(frameTime(state.frame)) + 'px';
  now.style.top = $('dopeSheet').scrollTop + 'px';
  now.style.height = $('dopeSheet').clientHeight + 'px';
}

const strokeById = (id) => state.drawing.strokes.find((s) => s.strokeId === id);
const snap = (dt, e) => (e.altKey ? dt : Math.round(dt / timeStep()) * timeStep());

// The new timing of a stroke under a gesture moved by dt seconds.
function moved(s, g, dt) {
  if (g.kind === 'move') return { start: s.startTime + dt, scale: 1 };
  const end = s.startTime + s.duration, min = Math.min(s.duration, timeStep()) || timeStep();
  if (g.kind === 'right') return { start: s.startTime, scale: Math.max(min, s.duration + dt) / (s.duration || 1) };
  const start = Math.max(0, Math.min(end - min, s.startTime + dt));
  return { start, scale: (end - start) / (s.duration || 1) };
}

function gestureDelta(g, e) {
  let dt = snap((e.clientX - g.x) / sheet.pxPerSec, e);
  // Moving a group keeps its earliest start at 0 or later.
  if (g.kind === 'move') dt = Math.max(dt, -Math.min(...g.ids.map((id) => strokeById(id).startTime)));
  return dt;
}

function sheetDown(e) {
  if (!state.drawing || e.button !== 0) return;
  const box = $('dopeSheet');
  box.focus();
  const bar = e.target.closest('.ds-bar');
  if (bar) {
    const id = Number(bar.dataset.id);
    if (e.shiftKey || e.ctrlKey || e.metaKey) {
      if (state.selection.has(id)) state.selection.delete(id); else state.selection.add(id);
    } else if (!state.selection.has(id) || e.target.dataset.end) {
      state.selection = new Set([id]);
    }
    const kind = e.target.dataset.end || 'move';
    gesture = { kind, x: e.clientX, ids: kind === 'move' ? [...state.selection] : [id], dt: 0 };
  } else {
    const r = box.getBoundingClientRect();
    if (!e.shiftKey) state.selection.clear();
    gesture = { kind: 'box', x: e.clientX, y: e.clientY + box.scrollTop - r.top, el: document.createElement('div'), base: new Set(state.selection) };
    gesture.el.className = 'ds-box';
    box.append(gesture.el);
  }
  box.setPointerCapture(e.pointerId);
  drawSheetKeepGesture();
  e.preventDefault();
}

function drawSheetKeepGesture() {
  const el = gesture && gesture.el;
  drawSheet();
  if (el) $('dopeSheet').append(el);
}

function sheetMove(e) {
  if (!gesture) return;
  const box = $('dopeSheet');
  if (gesture.kind === 'box') {
    const r = box.getBoundingClientRect();
    const y = e.clientY + box.scrollTop - r.top;
    const left = Math.min(gesture.x, e.clientX) - r.left, top = Math.min(gesture.y, y);
    const w = Math.abs(e.clientX - gesture.x), h = Math.abs(y - gesture.y);
    Object.assign(gesture.el.style, { left: left + 'px', top: top + 'px', width: w + 'px', height: h + 'px' });
    // Bars the box touches join the selection.
    state.selection = new Set(gesture.base);
    const rows = drawOrder(state.drawing.strokes);
    rows.forEach((s, i) => {
      const x0 = NAME_WIDTH + xOf(s.startTime), x1 = x0 + Math.max(3, s.duration * sheet.pxPerSec);
      const y0 = RULER + i * ROW;
      if (y0 + ROW > top && y0 < top + h && x1 > left && x0 < left + w) state.selection.add(s.strokeId);
    });
    for (const bar of box.querySelectorAll('.ds-bar')) bar.classList.toggle('selected', state.selection.has(Number(bar.dataset.id)));
    return;
  }
  gesture.dt = gestureDelta(gesture, e);
  for (const id of gesture.ids) {
    const s = strokeById(id), m = moved(s, gesture, gesture.dt);
    placeBar(box.querySelector(`.ds-bar[data-id="${id}"]`), m.start, s.duration * m.scale);
  }
}

function sheetUp() {
  const g = gesture;
  gesture = null;
  if (!g) return;
  if (g.kind === 'box') { g.el.remove(); return; }
  if (g.dt === 0) { drawSheet(); return; }
  edit((d) => {
    for (const id of g.ids) {
      const s = d.strokes.find((x) => x.strokeId === id), m = moved(s, g, g.dt);
      s.startTime = m.start;
      if (m.scale !== 1) for (const p of s.points) p[0] *= m.scale;
    }
  });
}

function sheetWheel(e) {
  if (e.ctrlKey || e.metaKey) {
    const x = e.clientX - $('dopeSheet').getBoundingClientRect().left - NAME_WIDTH;
    const t = sheet.t0 + x / sheet.pxPerSec;
    sheet.pxPerSec = Math.min(20000, Math.max(2, sheet.pxPerSec * (e.deltaY < 0 ? 1.25 : 0.8)));
    sheet.t0 = t - x / sheet.pxPerSec;
  } else if (e.shiftKey || Math.abs(e.deltaX) > Math.abs(e.deltaY)) {
    sheet.t0 += (e.deltaX || e.deltaY) / sheet.pxPerSec;
  } else {
    return;  // rows scroll as usual
  }
  e.preventDefault();
  drawSheet();
}

export function wireSheet() {
  const box = $('dopeSheet');
  box.addEventListener('pointerdown', sheetDown);
  box.addEventListener('pointermove', sheetMove);
  box.addEventListener('pointerup', sheetUp);
  box.addEventListener('pointercancel', sheetUp);
  box.addEventListener('wheel', sheetWheel, { passive: false });
  box.addEventListener('scroll', placeNow);
  box.addEventListener('dblclick', () => { fitSheet(); drawSheet(); });
  window.addEventListener('resize', () => { sheet.fitted = false; drawSheet(); });
}
export const refitSheet = () => { sheet.fitted = false; };
