// The page of `pennaro serve`. It never paints a stroke itself: every frame
// shown is a PNG the effect rendered on the server; while the pen is down a
// thin guide shows the path, and it goes as soon as the effect's render of
// the new stroke arrives.
'use strict';

const $ = (id) => document.getElementById(id);
const state = {
  drawings: [], index: 0, params: [], prefs: [],
  a: {}, b: null,          // option name -> value, only what differs from the defaults
  frame: 0, lastFrame: 100, playing: false,
  server: { frameOffset: 0, fps: '30' },  // the shot's numbering, from the server's options
  zoom: 1, panX: 0, panY: 0, fitted: false,
  drawing: null, undo: [], redo: [], selected: -1,
  shown: 0,                // frames put on screen, for tests
};
window.pennaro = state;

// ---- settings -------------------------------------------------------------

const layerDefaults = { size: '1920x1080', background: 'transparent', depth: '8', fps: '30' };

function fpsValue(settings) {
  const [n, d] = String(settings.fps || state.server.fps).split('/').map(Number);
  return n > 0 ? n / (d > 0 ? d : 1) : 30;
}

// The options as render takes them: the server's frame offset and rate
// unless the settings change them, then the settings; render's own
// defaults left out.
function optionPairs(settings) {
  const all = { 'frame-offset': String(state.server.frameOffset), fps: state.server.fps, ...settings };
  return Object.entries(all).filter(([k, v]) => v !== undefined && v !== '' &&
    !(k === 'frame-offset' && v === '0') && !(k === 'fps' && v === '30'));
}

// The drawing's frame 0 in the shot's numbers, and the shot's frame shown.
const firstFrame = () => state.server.frameOffset;
const drawingFrame = (f) => f - state.server.frameOffset;

function frameUrl(settings, frame) {
  const q = new URLSearchParams({ drawing: state.index, frame });
  for (const [k, v] of optionPairs(settings)) q.append(k, v);
  const quality = $('quality').value;
  // Previews come stored rather than compressed: the same pixels, made
  // several times sooner (bench/README.md).
  if (quality !== '1/1') { q.set('downsample', quality); q.set('png', 'fast'); }
  q.set('v', state.drawings[state.index] ? state.drawings[state.index].revision : 0);
  return '/api/frame.png?' + q.toString();
}

function shellQuote(s) { return /^[\w.,\/#:=+-]+$/.test(s) ? s : "'" + s.replace(/'/g, "'\\''") + "'"; }

function showCommand() {
  const d = state.drawings[state.index];
  const parts = ['pennaro render', shellQuote(d ? d.name : 'DRAWING'), '--frames', String(state.frame)];
  const prefs = {};
  for (const [k, v] of optionPairs(state.a)) {
    if (k.startsWith('pref.')) prefs[k.slice(5)] = Number(v);
    else parts.push('--' + k, shellQuote(v));
  }
  if (d && d.layer) parts.push('--layer', shellQuote(d.layer));
  let text = parts.join(' ') + ' -o frame_####.png';
  if (Object.keys(prefs).length) text += ' --prefs prefs.json\n\nprefs.json:\n' + JSON.stringify(prefs, null, 1);
  if ($('quality').value !== '1/1') text += '\n\n(the preview is at ' + $('quality').value + '; add --downsample ' + $('quality').value + ' for the same pixels)';
  $('command').textContent = text;
}

function control(label, input) {
  const l = document.createElement('label');
  l.append(label, input);
  return l;
}

function buildControls() {
  const box = $('params');
  box.textContent = '';
  for (const p of state.params) {
    let input;
    if (p.kind === 'popup') {
      input = document.createElement('select');
      p.choices.forEach((c, i) => {
        if (c.startsWith('(-')) return;
        const o = new Option(c, c);
        if (i + 1 === p.default) o.selected = true;
        input.add(o);
      });
      input.dataset.default = p.choices[p.default - 1];
    } else if (p.kind === 'checkbox') {
      input = document.createElement('input');
      input.type = 'checkbox';
      input.checked = p.default;
    } else {
      input = document.createElement('input');
      input.type = 'number';
      input.min = p.min; input.max = p.max; input.step = 'any';
      input.value = p.default;
      input.dataset.default = String(p.default);
    }
    input.id = 'param-' + p.option;
    input.addEventListener('change', () => {
      const v = input.type === 'checkbox' ? (input.checked ? 'on' : 'off') : input.value;
      const def = input.type === 'checkbox' ? (p.default ? 'on' : 'off') : input.dataset.default;
      if (v === def) delete state.a[p.option]; else state.a[p.option] = v;
      changed();
    });
    box.append(control(p.option.replace(/-/g, ' '), input));
  }
  const layer = $('layerControls');
  layer.textContent = '';
  const served = state.drawings[0] && state.drawings[0].layer;
  const fields = served ? ['depth', 'fps'] : ['size', 'background', 'depth', 'fps'];
  for (const name of fields) {
    let input;
    if (name === 'background' || name === 'depth') {
      input = document.createElement('select');
      const values = name === 'depth' ? ['8', '16'] : ['transparent', 'checker', 'gradient', 'black', 'white', 'grey', '#336699'];
      for (const v of values) input.add(new Option(v, v));
    } else {
      input = document.createElement('input');
      input.size = 10;
    }
    input.id = 'layer-' + name;
    input.value = layerDefaults[name];
    input.addEventListener('change', () => {
      if (input.value === layerDefaults[name] || input.value === '') delete state.a[name]; else state.a[name] = input.value;
      updateTimeline();
      changed();
    });
    layer.append(control(name, input));
  }
  const prefs = $('prefs');
  prefs.textContent = '';
  for (const p of state.prefs) {
    if (!p.key.startsWith('Onion')) continue;
    const input = document.createElement('input');
    input.type = 'number';
    input.step = p.integer ? '1' : '0.05';
    input.value = p.default;
    input.addEventListener('change', () => {
      if (Number(input.value) === p.default || input.value === '') delete state.a['pref.' + p.key];
      else state.a['pref.' + p.key] = input.value;
      changed();
    });
    prefs.append(control(p.key.replace('Onion skin - ', ''), input));
  }
}

function changed() {
  state.fitted = state.fitted && true;
  showCommand();
  requestFrames();
}

// ---- frames ---------------------------------------------------------------

let inFlight = false, pending = false, guideWaiting = false, retryTimer = 0;

// Names this page to the server, which queues a page's frames and drops a
// waiting one when a newer one for the same picture comes.
const pageId = Math.random().toString(36).slice(2, 10);

// A frame the server could not take now (503): shown as stale, asked again.
class Busy extends Error {
  constructor(message, seconds) { super(message); this.seconds = seconds; }
}

async function fetchImage(url, view) {
  const res = await fetch(url, { headers: { 'X-Pennaro-View': pageId + '/' + view } });
  if (res.status === 503) throw new Busy(await res.text(), Number(res.headers.get('Retry-After')) || 1);
  if (!res.ok) throw new Error(await res.text());
  return URL.createObjectURL(await res.blob());
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
    img.dataset.query = query;
    img.src = url;
  });
}

// One request at a time; a change while one is out asks for one more
// afterwards, so scrubbing and playing drop frames instead of lagging.
async function requestFrames() {
  if (inFlight) { pending = true; return; }
  inFlight = true;
  pending = false;
  document.body.dataset.busy = '1';
  const frame = state.frame;
  const compare = $('compare').value !== 'off' && state.b;
  const urlA = frameUrl(state.a, frame), urlB = compare ? frameUrl(state.b, frame) : null;
  try {
    const [a, b] = await Promise.all([fetchImage(urlA, 'a'), compare ? fetchImage(urlB, 'b') : null]);
    await setImage($('frameA'), a, urlA);
    if (b) await setImage($('frameB'), b, urlB);
    $('frameA').dataset.frame = frame;
    delete document.body.dataset.stale;
    state.shown++;
    if (!$('status').className) $('status').textContent = '';
    if (!state.fitted) fit();
    if (guideWaiting && !pending) { $('guide').textContent = ''; guideWaiting = false; }
  } catch (e) {
    if (e instanceof Busy) {
      // The frame on screen is not the one asked for: marked, and asked
      // for again unless a newer request replaces it first.
      document.body.dataset.stale = '1';
      clearTimeout(retryTimer);
      retryTimer = setTimeout(() => { if (!inFlight) requestFrames(); }, Math.min(e.seconds, 5) * 1000);
    } else {
      $('status').textContent = String(e.message || e).trim();
      $('status').className = '';
    }
  }
  inFlight = false;
  if (pending) requestFrames();
  else document.body.dataset.busy = '0';
}

function setFrame(f) {
  state.frame = Math.max(firstFrame(), Math.min(firstFrame() + state.lastFrame, Math.round(f)));
  $('scrub').value = state.frame;
  $('frameText').textContent = 'frame ' + state.frame;
  showCommand();
  requestFrames();
}

// ---- timeline and playback ------------------------------------------------

function updateTimeline() {
  const d = state.drawings[state.index];
  const fps = fpsValue(state.a);
  state.lastFrame = Math.max(1, Math.floor(((d && d.end) || 0) * fps) + Math.round(fps / 2));
  $('scrub').min = firstFrame();
  $('scrub').max = firstFrame() + state.lastFrame;
  const marks = $('marks'), ticks = $('ticks');
  marks.textContent = '';
  ticks.textContent = '';
  // Frame numbers at round steps along the timeline.
  const step = [1, 2, 5, 10, 12, 24, 25, 30, 48, 50, 60, 100, 120, 250, 500, 1000]
    .find((s) => state.lastFrame / s <= 12) || Math.ceil(state.lastFrame / 12);
  for (let f = 0; f <= state.lastFrame; f += step) {
    const t = document.createElement('b');
    t.style.left = (100 * f / state.lastFrame) + '%';
    t.textContent = firstFrame() + f;
    ticks.append(t);
  }
  for (const s of (state.drawing ? state.drawing.strokes : [])) {
    const m = document.createElement('span');
    m.style.left = (100 * s.startTime * fps / state.lastFrame) + '%';
    m.style.width = (100 * Math.max(s.duration, 0) * fps / state.lastFrame) + '%';
    m.title = 'stroke ' + s.strokeId + ': frames ' + (firstFrame() + Math.floor(s.startTime * fps)) + ' to ' +
      (firstFrame() + Math.floor((s.startTime + s.duration) * fps));
    marks.append(m);
  }
}

function tick(start, startFrame) {
  if (!state.playing) return;
  const target = startFrame + Math.floor((performance.now() - start) / 1000 * fpsValue(state.a));
  const f = firstFrame() + (drawingFrame(target) % (state.lastFrame + 1));
  if (f !== state.frame && !inFlight) setFrame(f);
  requestAnimationFrame(() => tick(start, startFrame));
}

function togglePlay() {
  state.playing = !state.playing;
  $('play').textContent = state.playing ? 'Pause' : 'Play';
  if (state.playing) tick(performance.now(), state.frame);
}

// ---- viewport -------------------------------------------------------------

function applyView() {
  $('stage').style.transform = `translate(${state.panX}px, ${state.panY}px) scale(${state.zoom})`;
  $('zoomText').textContent = Math.round(state.zoom * 100) + '%';
  const wipe = $('compare').value === 'wipe' && state.b;
  $('stage').classList.toggle('wipe', !!wipe);
  $('wipe').hidden = !wipe;
  $('paneB').hidden = !($('compare').value !== 'off' && state.b);
  if (wipe) $('paneB').style.clipPath = `inset(0 0 0 ${$('wipe').value}%)`;
  else $('paneB').style.clipPath = '';
}

function fit() {
  const v = $('viewport').getBoundingClientRect(), s = $('stage');
  const w = s.scrollWidth || 1, h = s.scrollHeight || 1;
  state.zoom = Math.min(v.width / w, v.height / h) * 0.96;
  state.panX = (v.width - w * state.zoom) / 2;
  state.panY = (v.height - h * state.zoom) / 2;
  state.fitted = true;
  applyView();
}

function zoomAt(factor, x, y) {
  const z = Math.min(32, Math.max(0.05, state.zoom * factor));
  state.panX = x - (x - state.panX) * z / state.zoom;
  state.panY = y - (y - state.panY) * z / state.zoom;
  state.zoom = z;
  applyView();
}

// ---- drawing --------------------------------------------------------------

const drawMode = () => document.querySelector('input[name=mode]:checked').value === 'draw';
let pen = null;

async function loadDrawing() {
  const res = await fetch('/api/drawing.json?drawing=' + state.index);
  state.drawing = await res.json();
  listStrokes();
  updateTimeline();
}

function listStrokes() {
  const list = $('strokeList');
  list.textContent = '';
  const fps = fpsValue(state.a);
  state.drawing.strokes.forEach((s, i) => {
    list.add(new Option(`#${s.strokeId}  frame ${firstFrame() + Math.floor(s.startTime * fps)}  ${s.points.length} samples`, i));
  });
  if (state.selected >= 0 && state.selected < list.options.length) list.selectedIndex = state.selected;
  $('undo').disabled = !state.undo.length;
  $('redo').disabled = !state.redo.length;
}

// Sends the drawing to the server, which renders it from then on.
async function sendDrawing() {
  const res = await fetch('/api/drawing?drawing=' + state.index, {
    method: 'PUT', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(state.drawing),
  });
  if (!res.ok) { $('status').textContent = (await res.text()).trim(); return; }
  state.drawings[state.index] = await res.json();
  listStrokes();
  updateTimeline();
  requestFrames();
}

function edit(change) {
  state.undo.push(JSON.stringify(state.drawing));
  state.redo = [];
  change(state.drawing);
  return sendDrawing();
}

function undoRedo(from, to) {
  if (!from.length) return;
  to.push(JSON.stringify(state.drawing));
  state.drawing = JSON.parse(from.pop());
  sendDrawing();
}

function brush() {
  const c = $('brushColor').value;
  return {
    red: parseInt(c.slice(1, 3), 16) / 255, green: parseInt(c.slice(3, 5), 16) / 255, blue: parseInt(c.slice(5, 7), 16) / 255,
    opacity: Number($('brushOpacity').value), size: Number($('brushSize').value),
    brushMode: Number($('brushKind').value) + Number($('brushErase').value),
    softness: Number($('brushSoftness').value),
    pressureFlags: ($('pressureSize').checked ? 1 : 0) + ($('pressureOpacity').checked ? 2 : 0),
  };
}

function penSample(e) {
  const r = $('frameA').getBoundingClientRect();
  // Fractions of the layer, as the drawing stores positions.
  const x = (e.clientX - r.left) / r.width, y = (e.clientY - r.top) / r.height;
  const pressure = e.pointerType === 'mouse' ? (e.buttons ? 1 : 0) : e.pressure;
  return [Math.max(0, (e.timeStamp - pen.t0) / 1000), x, y, pressure];
}

function penDown(e) {
  if (!drawMode() || !state.drawing || e.button !== 0) return false;
  pen = { t0: e.timeStamp, points: [], frame: state.frame };
  pen.points.push(penSample(e));
  const line = document.createElementNS('http://www.w3.org/2000/svg', 'polyline');
  $('guide').setAttribute('viewBox', '0 0 1 1');
  $('guide').setAttribute('preserveAspectRatio', 'none');
  $('guide').textContent = '';
  $('guide').append(line);
  pen.line = line;
  return true;
}

function penMove(e) {
  const events = e.getCoalescedEvents ? e.getCoalescedEvents() : [];
  for (const c of (events.length ? events : [e])) pen.points.push(penSample(c));
  pen.line.setAttribute('points', pen.points.map((p) => p[1] + ',' + p[2]).join(' '));
}

function penUp() {
  const points = pen.points, frame = pen.frame;
  pen = null;
  // Sample times must not run backwards, whatever the events said.
  for (let i = 1; i < points.length; i++) points[i][0] = Math.max(points[i][0], points[i - 1][0]);
  const fps = fpsValue(state.a);
  guideWaiting = true;
  edit((d) => {
    const id = d.strokes.reduce((m, s) => Math.max(m, s.strokeId + 1), 0);
    d.strokes.push({
      strokeId: id, startTime: drawingFrame(frame) / fps, duration: points[points.length - 1][0], brush: brush(),
      drawCount: 0, selected: 0, points,
    });
  });
}

function moveSelected(frames) {
  const i = Number($('strokeList').value);
  if (!(i >= 0)) return;
  state.selected = i;
  edit((d) => { d.strokes[i].startTime = Math.max(0, d.strokes[i].startTime + frames / fpsValue(state.a)); });
}

async function save() {
  const name = $('saveName').value;
  const res = await fetch(`/api/save?drawing=${state.index}&name=${encodeURIComponent(name)}`, { method: 'POST' });
  const text = await res.text();
  $('status').textContent = res.ok ? 'saved ' + Object.values(JSON.parse(text)).join(' and ') : text.trim();
  $('status').className = res.ok ? 'ok' : '';
}

// ---- wiring ---------------------------------------------------------------

function wire() {
  const vp = $('viewport');
  let drag = null;
  vp.addEventListener('pointerdown', (e) => {
    vp.focus();
    if (penDown(e)) { vp.setPointerCapture(e.pointerId); return; }
    drag = { x: e.clientX - state.panX, y: e.clientY - state.panY };
    vp.setPointerCapture(e.pointerId);
  });
  vp.addEventListener('pointermove', (e) => {
    if (pen) penMove(e);
    else if (drag) { state.panX = e.clientX - drag.x; state.panY = e.clientY - drag.y; applyView(); }
  });
  const end = () => { if (pen) penUp(); drag = null; };
  vp.addEventListener('pointerup', end);
  vp.addEventListener('pointercancel', end);
  vp.addEventListener('wheel', (e) => {
    e.preventDefault();
    const r = vp.getBoundingClientRect();
    zoomAt(e.deltaY < 0 ? 1.15 : 1 / 1.15, e.clientX - r.left, e.clientY - r.top);
  }, { passive: false });
  $('scrub').addEventListener('input', () => setFrame(Number($('scrub').value)));
  $('play').onclick = togglePlay;
  $('prev').onclick = () => setFrame(state.frame - 1);
  $('next').onclick = () => setFrame(state.frame + 1);
  $('fit').onclick = fit;
  $('quality').onchange = () => { requestFrames(); showCommand(); };
  $('compare').onchange = () => { applyView(); requestFrames(); };
  $('wipe').oninput = applyView;
  $('snapshot').onclick = () => {
    state.b = { ...state.a };
    if ($('compare').value === 'off') $('compare').value = 'side';
    applyView();
    requestFrames();
  };
  $('drawing').onchange = async () => {
    state.index = Number($('drawing').value);
    state.undo = []; state.redo = [];
    await loadDrawing();
    setFrame(firstFrame());
  };
  document.querySelectorAll('input[name=mode]').forEach((r) => r.addEventListener('change', () => {
    vp.classList.toggle('drawing', drawMode());
    if (drawMode()) $('brushPanel').open = true;
  }));
  $('undo').onclick = () => undoRedo(state.undo, state.redo);
  $('redo').onclick = () => undoRedo(state.redo, state.undo);
  $('deleteStroke').onclick = () => {
    const i = Number($('strokeList').value);
    if (i >= 0) edit((d) => d.strokes.splice(i, 1));
  };
  $('earlier').onclick = () => moveSelected(-1);
  $('later').onclick = () => moveSelected(1);
  $('save').onclick = save;
  $('downloadJson').onclick = () => {
    const blob = new Blob([JSON.stringify(state.drawing, null, 1)], { type: 'application/json' });
    $('downloadJson').href = URL.createObjectURL(blob);
  };
  $('downloadBin').onclick = () => { $('downloadBin').href = '/api/drawing.bin?drawing=' + state.index; };
  document.addEventListener('keydown', (e) => {
    if (e.target.matches('input:not([type=range]), select, textarea')) return;
    const k = e.key;
    if ((e.ctrlKey || e.metaKey) && k.toLowerCase() === 'z') { undoRedo(e.shiftKey ? state.redo : state.undo, e.shiftKey ? state.undo : state.redo); }
    else if ((e.ctrlKey || e.metaKey) && k === 'y') undoRedo(state.redo, state.undo);
    else if (k === ' ') togglePlay();
    else if (k === 'ArrowLeft') setFrame(state.frame - (e.shiftKey ? 10 : 1));
    else if (k === 'ArrowRight') setFrame(state.frame + (e.shiftKey ? 10 : 1));
    else if (k === 'Home') setFrame(firstFrame());
    else if (k === 'End') setFrame(firstFrame() + state.lastFrame);
    else if (k === 'f') fit();
    else if (k === '+' || k === '=') zoomAt(1.25, vp.clientWidth / 2, vp.clientHeight / 2);
    else if (k === '-') zoomAt(0.8, vp.clientWidth / 2, vp.clientHeight / 2);
    else if (k === 'Delete' && drawMode()) $('deleteStroke').onclick();
    else return;
    e.preventDefault();
  });
  window.addEventListener('resize', () => { if (state.fitted) fit(); });
}

async function start() {
  const [drawings, meta, server] = await Promise.all([fetch('/api/drawings').then((r) => r.json()),
    fetch('/api/params').then((r) => r.json()), fetch('/api/settings').then((r) => r.json())]);
  state.server = server;
  layerDefaults.fps = server.fps;
  state.drawings = drawings;
  state.params = meta.params;
  state.prefs = meta.prefs;
  drawings.forEach((d, i) => $('drawing').add(new Option(`${d.name} (${d.strokes} strokes)`, i)));
  buildControls();
  wire();
  await loadDrawing();
  setFrame(firstFrame());
}

start();
